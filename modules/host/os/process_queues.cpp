// The kernel side's named queues that programs outside the device process
// reach: the disk-format queues and the logging remote-control queues. On the
// car another process serves them; here they are POSIX message queues, so a
// separate program (tools/measrctrl, a test) can open them.
//
// POSIX queue names are global to the machine, while every device folder
// holds a device of its own: the name carries a hash of the folder's
// identity, its file system and inode, "/tav9-<16 hex digits>-MeasAppRCTRL_RX",
// which a client computes from the folder alone (host::processQueueName).
// Not its path: a folder renamed while its device runs keeps its identity,
// and so its queues, and a new folder made at the old name has another one
// (the running device holds its folder open, so no new folder takes its
// inode even after it is deleted).
//
// A device that is killed cannot unlink its queues, and the machine holds only
// a few hundred; its folder may be gone by the next start (a test's). So the
// process that makes a folder's queues first takes the host's mark
// "mq-<the folder's 16 hex digits>" (host_marks.cpp) and holds it while they
// are its own; every start-up, in whatever folder, removes the queues whose
// mark nobody holds. A live device's queues are never removed: its mark is
// locked as long as it runs, and the kernel unlocks it when it dies.
// Queues noted in the folder "mqueues" by an earlier build, with the
// maker's PID, are still removed at a start in that folder.
#include "host/kernel/kernel.h"
#include "host/os/os_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* const kProcessQueues[] = {"/MeasAppFormat", "/MeasAppFormatAck", "/MeasAppRCTRL_RX",
                                      "/MeasAppRCTRL_TX"};

// A blocked call looks for a delete of its task this often.
constexpr long kSliceMs = 20;

const char kNotesFolder[] = "mqueues";

// The device folder's notes folder of an earlier build, opened; -1 when it
// is not there (or is no folder: a link is never followed).
int openNotes() {
    const std::string path = host::inDeviceFolder(kNotesFolder);
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

// The note's name in the notes folder: the queue's name without its slash.
std::string noteOf(const std::string& posixName) { return posixName.substr(1); }

// The PID a note holds; 0 for none, or anything but a plain file that holds
// one (a FIFO or a device there is never waited on).
long notedPid(const std::string& posixName) {
    const int dir = openNotes();
    if (dir < 0) return 0;
    const int fd = ::openat(dir, noteOf(posixName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ::close(dir);
    if (fd < 0) return 0;
    struct stat st{};
    char text[24] = {};
    const bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t n = plain ? ::read(fd, text, sizeof text - 1) : -1;
    ::close(fd);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

void forgetNote(const std::string& posixName) {
    const int dir = openNotes();
    if (dir < 0) return;
    ::unlinkat(dir, noteOf(posixName).c_str(), 0);
    ::close(dir);
}

// Queues noted in the folder by an earlier build whose maker no longer
// runs; the notes folder goes once it is empty.
void sweepNotedQueues() {
    const int dir = openNotes();
    if (dir < 0) return;
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(dir))) {
        while (dirent* e = ::readdir(d))
            if (std::strncmp(e->d_name, "tav9-", 5) == 0) names.push_back(std::string("/") + e->d_name);
        ::closedir(d);
    }
    ::close(dir);
    for (const std::string& posixName : names) {
        const long pid = notedPid(posixName);
        if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
            mq_unlink(posixName.c_str());
            forgetNote(posixName);
        }
    }
    ::rmdir(host::inDeviceFolder(kNotesFolder).c_str());   // only when empty
}

// Mark of the queues of the folder whose hash is key.
std::string markOf(const std::string& key) { return "mq-" + key; }

// The folder's hash in a queue's name ("/tav9-<16 hex digits>-..."), or in
// a mark's name ("mq-<16 hex digits>"); "" for anything else.
std::string hashIn(const std::string& name, size_t at, bool ends) {
    if (name.size() < at + 16 || (ends ? name.size() != at + 16 : name.size() <= at + 16 || name[at + 16] != '-'))
        return "";
    const std::string key = name.substr(at, 16);
    for (char c : key)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    return key;
}
std::string folderKeyOfQueue(const std::string& posixName) {
    return posixName.compare(0, 6, "/tav9-") == 0 ? hashIn(posixName, 6, false) : "";
}
std::string folderKeyOfMark(const std::string& mark) {
    return mark.compare(0, 3, "mq-") == 0 ? hashIn(mark, 3, true) : "";
}

// The marks this process holds: folder hash -> the descriptor that holds it.
struct HeldMarks {
    std::mutex mx;
    std::map<std::string, int> fds;
};
HeldMarks& heldMarks() {
    static HeldMarks* h = new HeldMarks;   // never destroyed: tasks may outlive statics
    return *h;
}

bool holdsMark(const std::string& key) {
    std::lock_guard<std::mutex> lk(heldMarks().mx);
    return heldMarks().fds.count(key) != 0;
}

// Lets the folder's mark go once its queues are gone.
void releaseMark(const std::string& key) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lk(heldMarks().mx);
        auto it = heldMarks().fds.find(key);
        if (it == heldMarks().fds.end()) return;
        fd = it->second;
        heldMarks().fds.erase(it);
    }
    const int dir = hostos::openMarks();
    if (dir < 0) {
        ::close(fd);
        return;
    }
    hostos::dropMark(dir, markOf(key), fd);
    ::close(dir);
}

// Whether another process that runs holds the mark of the folder key.
bool markHeldElsewhere(const std::string& key) {
    if (key.empty() || holdsMark(key)) return false;
    const int dir = hostos::openMarks();
    if (dir < 0) return false;
    bool elsewhere = false;
    const int fd = hostos::takeMark(dir, markOf(key), false, &elsewhere);
    if (fd >= 0) ::close(fd);
    ::close(dir);
    return elsewhere;
}

// The queues of every folder whose mark nobody holds: their maker is gone.
void sweepUnheldQueues() {
    const int dir = hostos::openMarks();
    if (dir < 0) return;
    std::vector<std::string> keys;
    if (DIR* d = ::fdopendir(::dup(dir))) {
        while (dirent* e = ::readdir(d)) {
            const std::string key = folderKeyOfMark(e->d_name);
            if (!key.empty() && !holdsMark(key)) keys.push_back(key);
        }
        ::closedir(d);
    }
    for (const std::string& key : keys) {
        const int fd = hostos::takeMark(dir, markOf(key), false);
        if (fd < 0) continue;   // its maker runs (or it is gone already)
        for (const char* q : kProcessQueues) mq_unlink(("/tav9-" + key + "-" + (q + 1)).c_str());
        hostos::dropMark(dir, markOf(key), fd);
    }
    ::close(dir);
}

bool isProcessQueue(const std::string& name) {
    for (const char* q : kProcessQueues)
        if (name == q) return true;
    return false;
}

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// "<device>:<inode>" of the folder, "" when it cannot be reached.
std::string identityOf(const std::string& folder) {
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

// Absolute CLOCK_REALTIME time of the end of the next slice, not past the deadline.
timespec sliceEnd(const hostos::Deadline& d) {
    auto now = hostos::Clock::now();
    auto end = now + std::chrono::milliseconds(kSliceMs);
    if (d.noWait) end = now;
    else if (!d.forever && d.at < end) end = d.at;
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - now).count();
    if (left < 0) left = 0;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += left / 1000000000;
    ts.tv_nsec += left % 1000000000;
    if (ts.tv_nsec >= 1000000000) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000;
    }
    return ts;
}

// Keeps the queue alive while the call waits outside its lock; a delete of
// the queue ends the wait with ERROR, a delete of the task unwinds it.
class SharedCall {
public:
    explicit SharedCall(HostMsgQ& q) : q_(q) {
        std::lock_guard<std::mutex> lk(q_.mx);
        ok_ = !q_.deleted;
        ++q_.waiters;
    }
    ~SharedCall() {
        std::lock_guard<std::mutex> lk(q_.mx);
        if (--q_.waiters == 0 && q_.deleted) q_.notFull.notify_all();
    }
    bool alive() {
        if (taskDeletePending()) throw hostos::TaskDeleted{};
        std::lock_guard<std::mutex> lk(q_.mx);
        return ok_ && !q_.deleted;
    }

private:
    HostMsgQ& q_;
    bool ok_ = false;
};

}  // namespace

namespace host {

std::string processQueueName(const std::string& folder, const std::string& name) {
    const std::string identity = isProcessQueue(name) ? identityOf(folder) : "";
    if (identity.empty()) return "";
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "/tav9-%016llx-", static_cast<unsigned long long>(fnv1a(identity)));
    return prefix + name.substr(1);
}

void unlinkProcessQueues() {
    for (const char* q : kProcessQueues) msgQUnlink(q);   // also removes the POSIX queue of a killed process
    releaseMark(folderKeyOfQueue(hostos::processQueuePosixName(kProcessQueues[0])));
    sweepUnheldQueues();
    sweepNotedQueues();
}

}  // namespace host

namespace hostos {

std::string processQueuePosixName(const std::string& name) {
    // Through the folder itself (the working directory), not the name it
    // had at the start: renamed since, it is still this device's folder.
    return host::processQueueName(host::inDeviceFolder("."), name);
}

bool unlinkProcessQueue(const std::string& posixName) {
    // A queue whose mark another process that runs holds stays that one's.
    if (markHeldElsewhere(folderKeyOfQueue(posixName))) return false;
    const bool unlinked = mq_unlink(posixName.c_str()) == 0;
    forgetNote(posixName);
    return unlinked;
}

void holdProcessQueueMark(const std::string& posixName) {
    const std::string key = folderKeyOfQueue(posixName);
    if (key.empty() || holdsMark(key)) return;
    const int dir = openMarks();
    if (dir < 0) return;   // the queues are made all the same, and removed at the next start in this folder
    // A start-up's sweep holds a free mark only for a moment; taken by a
    // process that keeps it (one of this folder's identity that runs), the
    // queues are made all the same, unmarked.
    int fd = -1;
    for (int round = 0; round < 200 && fd < 0 && !holdsMark(key); ++round) {
        bool elsewhere = false;
        fd = takeMark(dir, markOf(key), true, &elsewhere);
        if (fd >= 0 || !elsewhere) break;
        const timespec ms{0, 1000000};
        ::nanosleep(&ms, nullptr);
    }
    ::close(dir);
    if (fd < 0) return;
    std::lock_guard<std::mutex> lk(heldMarks().mx);
    if (!heldMarks().fds.emplace(key, fd).second) ::close(fd);
}

MSG_Q_ID msgQCreateProcessShared(const std::string& posixName, int maxMsgs, int maxMsgLength, bool create) {
    if (maxMsgs <= 0 || maxMsgLength <= 0) {
        if (create) return nullptr;
        maxMsgs = 1;
        maxMsgLength = 1;
    }
    mqd_t d;
    if (create) {
        // nothing of this folder's device is running but us: what is there
        // was left by a killed process
        mq_unlink(posixName.c_str());
        mq_attr attr{};
        attr.mq_maxmsg = maxMsgs;
        attr.mq_msgsize = maxMsgLength;
        d = mq_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600, &attr);
    } else {
        d = mq_open(posixName.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (d == static_cast<mqd_t>(-1)) return nullptr;
    mq_attr attr{};
    if (mq_getattr(d, &attr) != 0) {
        mq_close(d);
        return nullptr;
    }
    auto* q = new HostMsgQ;
    q->mqd = static_cast<int>(d);
    q->posixName = posixName;
    q->maxMsgs = static_cast<int>(attr.mq_maxmsg);
    q->maxLen = static_cast<size_t>(attr.mq_msgsize);
    return q;
}

STATUS msgQSendShared(MSG_Q_ID q, const void* buffer, size_t nBytes, int timeoutTicks, int priority) {
    if (nBytes > q->maxLen) return ERROR;
    SharedCall call(*q);
    const Deadline d = deadlineFromTicks(timeoutTicks);
    const unsigned prio = priority == MSG_PRI_URGENT ? 1 : 0;
    for (;;) {
        if (!call.alive()) return ERROR;
        timespec end = sliceEnd(d);
        if (mq_timedsend(static_cast<mqd_t>(q->mqd), static_cast<const char*>(buffer), nBytes, prio, &end) == 0)
            return OK;
        if (errno != ETIMEDOUT && errno != EINTR) return ERROR;
        if (errno == ETIMEDOUT && (d.noWait || (!d.forever && Clock::now() >= d.at))) return ERROR;
    }
}

long msgQReceiveShared(MSG_Q_ID q, void* buffer, size_t maxNBytes, int timeoutTicks) {
    SharedCall call(*q);
    const Deadline d = deadlineFromTicks(timeoutTicks);
    // the POSIX call wants room for the queue's longest message
    std::vector<char> tmp(q->maxLen ? q->maxLen : 1);
    for (;;) {
        if (!call.alive()) return ERROR;
        timespec end = sliceEnd(d);
        ssize_t n = mq_timedreceive(static_cast<mqd_t>(q->mqd), tmp.data(), tmp.size(), nullptr, &end);
        if (n >= 0) {
            size_t m = static_cast<size_t>(n) < maxNBytes ? static_cast<size_t>(n) : maxNBytes;
            if (m) std::memcpy(buffer, tmp.data(), m);
            return static_cast<long>(m);
        }
        if (errno != ETIMEDOUT && errno != EINTR) return ERROR;
        if (errno == ETIMEDOUT && (d.noWait || (!d.forever && Clock::now() >= d.at))) return ERROR;
    }
}

int msgQNumMsgsShared(MSG_Q_ID q) {
    mq_attr attr{};
    if (mq_getattr(static_cast<mqd_t>(q->mqd), &attr) != 0) return ERROR;
    return static_cast<int>(attr.mq_curmsgs);
}

}  // namespace hostos
