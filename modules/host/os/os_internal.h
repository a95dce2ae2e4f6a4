// Internals shared by the host OS primitives: the task record, the deadline of
// a blocking call and the wait helper that lets taskDelete unwind a blocked
// task.
#pragma once

#include "host/os/os.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostos {

using Clock = std::chrono::steady_clock;

// Thrown inside a task that is being deleted; caught by the task trampoline.
struct TaskDeleted {};

struct Deadline {
    bool forever = false;
    bool noWait = false;
    Clock::time_point at{};
};
Deadline deadlineFromTicks(int ticks);

// Tasks made by taskSpawn that have not ended (tests check that none is left).
size_t liveTaskCount();

// A core set (bit n = core n) names at least one of the board's cores.
bool boardCoreSetValid(unsigned coreSet);
// Binds a thread to the host CPUs of the cores in coreSet; nothing to do
// before the process is bound to its CPUs. False for a set without a board
// core or when the host refuses.
bool applyBoardCores(pthread_t thread, unsigned coreSet);
// The cores of a task that has not been bound to any: the first, where the
// base tick runs.
constexpr unsigned kUnboundTaskCores = 1u;

// Registers the calling task as blocked on (cv, mx) so that taskDelete can wake
// it; throws TaskDeleted when a delete is already pending. The lock of mx is
// held by the caller around construction and destruction.
class WaitScope {
public:
    WaitScope(std::condition_variable& cv, std::mutex& mx);
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
    bool deletePending() const;

private:
    HostTask* self_;
};

// Blocks until pred() holds (true) or the deadline passes (false). A delete of
// the calling task throws TaskDeleted out of the wait.
template <class Pred>
bool blockUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lk,
                const Deadline& d, Pred pred) {
    if (pred()) return true;
    if (d.noWait) return false;
    WaitScope scope(cv, *lk.mutex());
    for (;;) {
        if (scope.deletePending()) throw TaskDeleted{};
        if (pred()) return true;
        if (d.forever) {
            cv.wait(lk);
        } else if (cv.wait_until(lk, d.at) == std::cv_status::timeout) {
            if (scope.deletePending()) throw TaskDeleted{};
            return pred();
        }
    }
}

}  // namespace hostos

// ---- object records (shared by the primitives and the named registry) ----------
struct HostSem {
    SEM_TYPE type = SEM_TYPE_BINARY;
    std::mutex mx;
    std::condition_variable cv;
    int count = 0;                 // binary 0/1, counting n
    HostTask* owner = nullptr;     // mutex: owning task and recursion depth
    int depth = 0;
    int waiters = 0;               // tasks inside semTake (semDelete waits for them)
    bool deleted = false;
    std::string name;              // "" when not in the registry
    int opens = 0;                 // semOpen references
    bool unlinked = false;
};

struct HostMsgQ {
    std::mutex mx;
    std::condition_variable notEmpty, notFull;
    int maxMsgs = 0;
    size_t maxLen = 0;
    std::vector<uint8_t> slots;    // maxMsgs slots of maxLen bytes
    std::vector<size_t> lens;
    int head = 0, count = 0;       // ring of messages
    int waiters = 0;
    int sendersWaiting = 0;        // senders blocked for room: freed slots are theirs first
    bool deleted = false;
    std::string name;
    int opens = 0;
    bool unlinked = false;
    // A queue that other processes reach: its messages live in the POSIX
    // message queue posixName (descriptor mqd), not in slots.
    int mqd = -1;
    std::string posixName;
};

namespace hostos {
SEM_ID semCreateTyped(SEM_TYPE type, int initial);
// Frees the object once no task waits in it any more (waiters are released
// with ERROR).
void semDestroy(SEM_ID sem);
void msgQDestroy(MSG_Q_ID q);
// Removes the object from the name registry (no-op for unnamed objects).
void namedForgetSem(SEM_ID sem);
void namedForgetMsgQ(MSG_Q_ID q);

// Queues reachable from other processes (process_queues.cpp): the POSIX name
// of a registry name, "" for names that stay inside the process.
std::string processQueuePosixName(const std::string& name);
// A queue over the POSIX queue posixName: created (and emptied of a killed
// process's leftovers) with create, else only opened when it exists.
MSG_Q_ID msgQCreateProcessShared(const std::string& posixName, int maxMsgs, int maxMsgLength, bool create);
// Removes the POSIX queue posixName and its note, unless another process
// that still runs made it; true when the queue was removed.
bool unlinkProcessQueue(const std::string& posixName);
// Before this process makes the queues of posixName's folder: their mark,
// held for as long as they are this process's (see process_queues.cpp).
void holdProcessQueueMark(const std::string& posixName);
STATUS msgQSendShared(MSG_Q_ID q, const void* buffer, size_t nBytes, int timeoutTicks, int priority);
long msgQReceiveShared(MSG_Q_ID q, void* buffer, size_t maxNBytes, int timeoutTicks);
int msgQNumMsgsShared(MSG_Q_ID q);
}  // namespace hostos

// Marks of the host's devices (host_marks.cpp): files in a folder of the
// machine, each locked by the process it stands for.
namespace hostos {
// The marks folder, opened (made when missing); -1 when it cannot be used.
int openMarks();
// The mark `name` locked for this process (made when create): a descriptor
// to keep open as long as it holds, -1 when the mark is missing, no file or
// held by another process (*heldElsewhere then says so).
int takeMark(int dir, const std::string& name, bool create, bool* heldElsewhere = nullptr);
// Removes the mark held through fd, and lets it go.
void dropMark(int dir, const std::string& name, int fd);
}  // namespace hostos
