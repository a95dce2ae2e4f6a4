// Real-time OS process API as the device code calls it, on host threads.
//
// Tasks are std::threads with a name, a priority and a stack size that are
// recorded (not enforced: the host scheduler runs them all at normal
// priority). A task that is deleted while it blocks in semTake, msgQReceive or
// taskDelay is unwound from that call and ends; a task that never blocks must
// end by returning. Times are in clock ticks of 1 ms (sysClkRateGet() = 1000).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// ---- status and time-outs -------------------------------------------------
using STATUS = int;
constexpr STATUS OK = 0;
constexpr STATUS ERROR = -1;
constexpr int WAIT_FOREVER = -1;
constexpr int NO_WAIT = 0;

// ---- tasks ------------------------------------------------------------------
// A task id is an opaque handle, a serial number that is never reused: an id
// kept after its task ended never names another task.
struct HostTask;
using TASK_ID = HostTask*;
constexpr TASK_ID TASK_ID_ERROR = nullptr;

// task options (recorded only)
constexpr int VX_FP_TASK = 0x0008;

using TaskEntry = void (*)(intptr_t arg);

// Starts a task running entry(arg); nullptr when the thread cannot be made.
TASK_ID taskSpawn(const char* name, int priority, int options, size_t stackSize,
                  TaskEntry entry, intptr_t arg = 0);
// The same for a C++ callable (tests, module internals).
TASK_ID taskSpawn(const char* name, int priority, int options, size_t stackSize,
                  std::function<void()> body);

// Asks the task to end: it is unwound at its next (or current) blocking call.
// Waits until the thread has ended unless it is the caller itself, in which
// case the caller is unwound at once. OK, or ERROR for an unknown task, and
// for one blocked in a system call of its own that has used no processor
// time for 2 s: it is left to end at its next blocking call, and joined
// once it has.
STATUS taskDelete(TASK_ID tid);
STATUS taskDeleteForce(TASK_ID tid);
// The same, waiting no longer than timeoutTicks for the task to end (a stop
// with a deadline): ERROR for a task that has not ended by then, left to end
// at its next blocking call.
STATUS taskDeleteWithin(TASK_ID tid, int timeoutTicks);
// Waits up to timeoutTicks for the task to return by itself; OK when it did,
// also at once for a task that had ended before the call.
STATUS taskWait(TASK_ID tid, int timeoutTicks);

STATUS taskDelay(int ticks);
TASK_ID taskIdSelf();
// Name of the task, "" for threads not made by taskSpawn (tid nullptr: self).
const char* taskName(TASK_ID tid);
int taskPriorityGet(TASK_ID tid, int* priority);
// CPU sets are accepted and ignored on the host (bit n = core n).
using cpuset_t = unsigned int;
STATUS taskCpuAffinitySet(TASK_ID tid, cpuset_t set);
// True when a delete of the current task is pending (for loops that poll).
bool taskDeletePending();

int sysClkRateGet();
// Monotonic tick count (ms since the process started).
uint64_t tickGet();

// ---- semaphores -------------------------------------------------------------
struct HostSem;
using SEM_ID = HostSem*;

constexpr int SEM_Q_FIFO = 0x0;
constexpr int SEM_Q_PRIORITY = 0x1;
constexpr int SEM_DELETE_SAFE = 0x4;
constexpr int SEM_INVERSION_SAFE = 0x8;
enum SEM_B_STATE { SEM_EMPTY = 0, SEM_FULL = 1 };

SEM_ID semBCreate(int options, SEM_B_STATE initial);
SEM_ID semCCreate(int options, int initialCount);
SEM_ID semMCreate(int options);           // recursive mutex owned by a task
STATUS semTake(SEM_ID sem, int timeoutTicks);
STATUS semGive(SEM_ID sem);
STATUS semDelete(SEM_ID sem);
// Count of a counting or binary semaphore (0/1), -1 for a mutex or null.
int semCount(SEM_ID sem);

// Named semaphores in the process-wide registry. With OM_CREATE a missing
// name is created with the given type and initial value; without it a
// missing name gives nullptr.
constexpr int OM_CREATE = 0x1;
enum SEM_TYPE { SEM_TYPE_BINARY = 0, SEM_TYPE_COUNTING = 1, SEM_TYPE_MUTEX = 2 };
SEM_ID semOpen(const char* name, SEM_TYPE type, int initial, int options, int omFlags);
STATUS semClose(SEM_ID sem);   // drops this opener's reference (object stays named)
STATUS semUnlink(const char* name);

// ---- message queues -----------------------------------------------------------
struct HostMsgQ;
using MSG_Q_ID = HostMsgQ*;
constexpr int MSG_Q_FIFO = 0x0;
constexpr int MSG_Q_PRIORITY = 0x1;
constexpr int MSG_PRI_NORMAL = 0;
constexpr int MSG_PRI_URGENT = 1;   // goes to the head of the queue

// errno values of a failed msgQSend: the queue was full and the caller did
// not wait, the queue stayed full for the time-out, the message was too long,
// the queue is unknown or deleted.
constexpr int S_objLib_OBJ_UNAVAILABLE = 0x3D0002;
constexpr int S_objLib_OBJ_TIMEOUT = 0x3D0004;
constexpr int S_msgQLib_INVALID_MSG_LENGTH = 0x410001;
constexpr int S_objLib_OBJ_ID_ERROR = 0x3D0001;

MSG_Q_ID msgQCreate(int maxMsgs, int maxMsgLength, int options);
STATUS msgQDelete(MSG_Q_ID q);
// ERROR (errno set as above) when the message is longer than the queue's
// message length, or the queue stays full for the time-out.
STATUS msgQSend(MSG_Q_ID q, const void* buffer, size_t nBytes, int timeoutTicks, int priority);
// Number of bytes received (a longer message is cut to maxNBytes), ERROR on
// time-out.
long msgQReceive(MSG_Q_ID q, void* buffer, size_t maxNBytes, int timeoutTicks);
int msgQNumMsgs(MSG_Q_ID q);
MSG_Q_ID msgQOpen(const char* name, int maxMsgs, int maxMsgLength, int options, int omFlags);
STATUS msgQClose(MSG_Q_ID q);
STATUS msgQUnlink(const char* name);

// ---- timers -------------------------------------------------------------------------
// One-shot and periodic timers whose routine runs on a thread of the timer
// (the stand-in for the platform's timer_create / timer_connect / timer_settime
// / timer_cancel, whose connected routine Linux has not).
struct HostTimer;
using TIMER_ID = HostTimer*;
using TimerRoutine = void (*)(TIMER_ID timer, intptr_t arg);
TIMER_ID timerCreate();
STATUS timerConnect(TIMER_ID timer, TimerRoutine routine, intptr_t arg);
// Arms the timer: first expiry after firstMs, then every intervalMs (0: once).
// firstMs 0 disarms. Re-arming replaces the previous setting.
STATUS timerArm(TIMER_ID timer, int firstMs, int intervalMs);
STATUS timerCancel(TIMER_ID timer);
// Ends the timer thread (after a running routine returns) and frees the timer;
// may be called from the timer's own routine.
STATUS timerDelete(TIMER_ID timer);

// ---- message payload words ------------------------------------------------------
// A message word that may carry a pointer: two 32-bit words on the wire of the
// device, a full pointer on the 64-bit host. Never cut a pointer to 32 bits.
union MsgWord {
    struct { uint32_t lo, hi; } w;
    void* ptr;
    uint64_t u64;
};
static_assert(sizeof(MsgWord) == 8);
