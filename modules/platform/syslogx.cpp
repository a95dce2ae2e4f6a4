// syslogx: formats a record and puts it into "/syslogq" without waiting.
//
// Equal consecutive messages of one thread are folded into a count and
// reported as "Last message repeated %d times." before the next different
// message (or when 99 have been folded); a line on lost records
// (SYSLOGX_LOSS) is never folded. The queue is opened on first use, so
// logging works before the reader task runs and from any thread.
#include "platform/syslogx.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx_held.h"

#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int kMaxFolded = 99;

std::atomic<int> gThreshold{7};
std::atomic<unsigned> gDropped{0};
std::atomic<unsigned> gUnreported{0};   // dropped from a full queue, not yet said in the log
std::atomic<int> gWaitForRoomMs{0};     // 0: a record never waits for room
std::atomic<int64_t> gRoomBudgetUs{0};  // what the other tasks' records together may still wait
std::mutex gSuffixMx;
char gDeviceName[16] = "TAV9_VOZ";

std::mutex gQueueMx;
std::atomic<MSG_Q_ID> gQueue{nullptr};

}  // namespace

MSG_Q_ID syslogx_queue() {
    MSG_Q_ID q = gQueue.load(std::memory_order_acquire);
    if (q) return q;
    std::lock_guard<std::mutex> lk(gQueueMx);
    q = gQueue.load(std::memory_order_relaxed);
    if (!q) {
        q = msgQOpen(kSyslogQueueName, kSyslogQueueDepth, sizeof(SyslogRecord), MSG_Q_FIFO,
                     OM_CREATE);
        gQueue.store(q, std::memory_order_release);
    }
    return q;
}

namespace {

// Set while the thread's own storage is being torn down: the task layer's
// per-thread record may be gone by then, so only the pthread name is used.
thread_local bool tExiting = false;

void callerName(char* out, size_t size) {
    const char* name = tExiting ? nullptr : taskName(nullptr);
    if (name && *name) {
        snprintf(out, size, "%s", name);
        return;
    }
    // A thread the host made (test runner, library thread): its pthread name.
    char buf[32] = "";
    if (pthread_getname_np(pthread_self(), buf, sizeof buf) != 0 || !buf[0])
        snprintf(buf, sizeof buf, "tid%lu", static_cast<unsigned long>(pthread_self() & 0xFFFF));
    snprintf(out, size, "%s", buf);
}

void fillRecord(SyslogRecord& rec, int level, const char* msg, size_t len) {
    memset(&rec, 0, sizeof rec);
    int64_t nowMs = host::rtcGetUnixMs();
    rec.level = level;
    rec.time = static_cast<uint32_t>(nowMs / 1000);
    char task[32];
    callerName(task, sizeof task);
    snprintf(rec.tag, sizeof rec.tag, "%05u %s", static_cast<unsigned>(nowMs % 100000), task);
    {
        std::lock_guard<std::mutex> lk(gSuffixMx);
        memcpy(rec.device, gDeviceName, sizeof rec.device);
    }
    memcpy(rec.msg, msg, len < sizeof rec.msg ? len : sizeof rec.msg);
}

// The thread that set the wait for room (the shutdown): its own few lines
// say how the run ended, so they wait outside the shared budget, which a
// flood of other records may have spent.
thread_local bool tSetsRoomWait = false;

// Takes the wait of one record (in microseconds) out of the shared budget:
// at most the per-record wait, 0 once the budget is spent. Reserved before
// the wait, so that records waiting at the same time never wait more than
// the budget.
int64_t reserveRoomWait() {
    const int64_t perRecord = int64_t(gWaitForRoomMs.load(std::memory_order_relaxed)) * 1000;
    if (perRecord <= 0) return 0;
    if (tSetsRoomWait) return perRecord;
    int64_t left = gRoomBudgetUs.load(std::memory_order_relaxed);
    int64_t take = 0;
    do {
        if (left <= 0) return 0;
        take = left < perRecord ? left : perRecord;
    } while (!gRoomBudgetUs.compare_exchange_weak(left, left - take, std::memory_order_relaxed));
    return take;
}

// A record the full queue did not take waits for room while the budget
// lasts. A thread that ends never waits (nothing may hold up its end), nor
// does a task that is being deleted.
bool sendWaitingForRoom(MSG_Q_ID q, const SyslogRecord& rec) {
    if (tExiting || taskDeletePending()) return false;
    const int64_t us = reserveRoomWait();
    if (us <= 0) return false;
    const auto start = std::chrono::steady_clock::now();
    bool sent = false;
    try {
        const int64_t ticks = us * sysClkRateGet() / 1000000;
        sent = msgQSend(q, &rec, sizeof rec, ticks > 0 ? int(ticks) : 1, MSG_PRI_NORMAL) == OK;
    } catch (...) {
        // The task was deleted during the wait. A log call never throws (it
        // is made from destructors as well): the record is dropped, and the
        // task ends at its next blocking call.
    }
    const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const int64_t unused = us - static_cast<int64_t>(waited.count());
    if (unused > 0 && !tSetsRoomWait) gRoomBudgetUs.fetch_add(unused, std::memory_order_relaxed);
    return sent;
}

// Records dropped because the queue was full are said in one line after the
// next record that finds room, when there is room for it as well: the note
// never takes the place of a record. The stop of the reader has it said
// before the end, waiting up to waitMs for room. False when the note found
// no room; it is said later.
bool queueDroppedNote(MSG_Q_ID q, int waitMs) {
    if (gUnreported.load(std::memory_order_relaxed) == 0) return true;
    const unsigned n = gUnreported.exchange(0, std::memory_order_relaxed);
    if (n == 0) return true;
    char note[96];
    const int len = snprintf(note, sizeof note, "syslogx: %u log records dropped, the log queue was full", n);
    SyslogRecord rec;
    fillRecord(rec, 147, note, static_cast<size_t>(len));
    const int ticks = waitMs > 0 ? std::max(1, waitMs * sysClkRateGet() / 1000) : NO_WAIT;
    if (msgQSend(q, &rec, sizeof rec, ticks, MSG_PRI_NORMAL) == OK) return true;
    gUnreported.fetch_add(n, std::memory_order_relaxed);   // still full: said later
    return false;
}

void reportDropped(MSG_Q_ID q) { queueDroppedNote(q, 0); }

// A line on lost records that the full queue did not take is counted with
// its text instead (logged by the reader once there is room), not among the
// records dropped, whose count says nothing of what they were.
void sendRecord(int level, const char* msg, size_t len, bool loss = false) {
    SyslogRecord rec;
    fillRecord(rec, level, msg, len);
    MSG_Q_ID q = syslogx_queue();
    if (!q) {
        // No queue at all: the message must not vanish silently.
        gDropped.fetch_add(1, std::memory_order_relaxed);
        char line[400];
        syslogx_formatLine(rec, line, sizeof line);
        fprintf(stderr, "%s\n", line);
        return;
    }
    if (msgQSend(q, &rec, sizeof rec, NO_WAIT, MSG_PRI_NORMAL) != OK && !sendWaitingForRoom(q, rec)) {
        if (loss && syslogx_holdLine(&gUnreported, level, "syslogx: ",
                                     " lines held back by a full log queue, the last: ", msg, len))
            return;
        gDropped.fetch_add(1, std::memory_order_relaxed);
        gUnreported.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    reportDropped(q);
}

void sendRepeatNote(int level, int count) {
    char note[64];
    int n = snprintf(note, sizeof note, "Last message repeated %d times.", count);
    sendRecord(level, note, static_cast<size_t>(n));
}

// The previous message of this thread, for folding repeats.
struct FoldState {
    char last[sizeof(SyslogRecord::msg)];
    size_t lastLen = 0;
    int lastLevel = -1;
    int repeats = 0;
    bool valid = false;
    ~FoldState() {
        // A thread that ends with folded repeats still reports them, without
        // waiting for room (see sendWaitingForRoom).
        tExiting = true;
        try {
            if (repeats > 0 && gQueue.load(std::memory_order_acquire)) sendRepeatNote(lastLevel, repeats);
        } catch (...) {
            // nothing leaves a destructor; the note is lost with the thread
        }
    }
};
thread_local FoldState tFold;

}  // namespace

namespace {

// The message of a format with its arguments, cut to a record's; its length.
size_t formatMessage(char (&buf)[sizeof(SyslogRecord::msg) + 1], const char* format, va_list ap) {
    if (!format) format = "(null)";
    int n = vsnprintf(buf, sizeof buf, format, ap);
    if (n < 0) n = 0;
    return static_cast<size_t>(n) < sizeof(SyslogRecord::msg) ? static_cast<size_t>(n) : sizeof(SyslogRecord::msg);
}

}  // namespace

void syslogx(int level, const char* format, ...) {
    const bool loss = (level & SYSLOGX_LOSS) != 0;
    level &= ~SYSLOGX_LOSS;
    if (!loss && (level & 7) > gThreshold.load(std::memory_order_relaxed)) return;
    char buf[sizeof(SyslogRecord::msg) + 1];
    va_list ap;
    va_start(ap, format);
    const size_t len = formatMessage(buf, format, ap);
    va_end(ap);

    FoldState& f = tFold;
    if (loss) {
        // Each line on lost records is written: repeats folded before it are
        // said first, and the next line is not folded into it.
        if (f.repeats > 0) sendRepeatNote(f.lastLevel, f.repeats);
        f.repeats = 0;
        f.valid = false;
        sendRecord(level, buf, len, true);
        return;
    }
    if (f.valid && f.lastLevel == level && f.lastLen == len && memcmp(f.last, buf, len) == 0) {
        if (++f.repeats >= kMaxFolded) {
            sendRepeatNote(level, f.repeats);
            f.repeats = 0;
        }
        return;
    }
    if (f.repeats > 0) sendRepeatNote(f.lastLevel, f.repeats);
    f.repeats = 0;
    memcpy(f.last, buf, len);
    f.lastLen = len;
    f.lastLevel = level;
    f.valid = true;
    sendRecord(level, buf, len);
}

void syslogss_floodwarn(const void* site, int level, const char* format, ...) {
    char buf[sizeof(SyslogRecord::msg) + 1];
    va_list ap;
    va_start(ap, format);
    const size_t len = formatMessage(buf, format, ap);
    va_end(ap);
    const bool loss = (level & SYSLOGX_LOSS) != 0;
    // the warning names the message, cut so that the line keeps its end
    syslogx(147, "Flooding suspicion! Syslogx message \"%.*s%s\" will be %s in future", len > 120 ? 117 : int(len),
            buf, len > 120 ? "..." : "", loss ? "held back and counted" : "suppressed");
    if (loss) syslogx_holdLine(site, level & ~SYSLOGX_LOSS, "syslogx: ", kFloodHeldTail, buf, len);
}

void syslogx_floodHold(const void* site, int level, const char* format, ...) {
    char buf[sizeof(SyslogRecord::msg) + 1];
    va_list ap;
    va_start(ap, format);
    const size_t len = formatMessage(buf, format, ap);
    va_end(ap);
    syslogx_holdLine(site, level & ~SYSLOGX_LOSS, "syslogx: ", kFloodHeldTail, buf, len);
}

bool syslogx_sendNow(int level, const char* msg, size_t len) {
    MSG_Q_ID q = syslogx_queue();
    if (!q) return false;
    SyslogRecord rec;
    fillRecord(rec, level, msg, len);
    return msgQSend(q, &rec, sizeof rec, NO_WAIT, MSG_PRI_NORMAL) == OK;
}

void syslogx_setThreshold(int severity) {
    if (severity < 0) severity = 0;
    if (severity > 7) severity = 7;
    gThreshold.store(severity, std::memory_order_relaxed);
}

int syslogx_threshold() { return gThreshold.load(std::memory_order_relaxed); }

void syslogx_setDeviceSuffix(const char* suffix) {
    std::lock_guard<std::mutex> lk(gSuffixMx);
    memset(gDeviceName, 0, sizeof gDeviceName);
    snprintf(gDeviceName, sizeof gDeviceName, "TAV9_VOZ%s", suffix ? suffix : "");
}

unsigned syslogx_droppedCount() { return gDropped.load(std::memory_order_relaxed); }

bool syslogx_reportDropped(int waitMs) {
    MSG_Q_ID q = gQueue.load(std::memory_order_acquire);
    return !q || queueDroppedNote(q, waitMs);
}

void syslogx_waitForRoom(int maxMs, int totalMs) {
    gWaitForRoomMs.store(0, std::memory_order_relaxed);
    gRoomBudgetUs.store(totalMs > 0 ? int64_t(totalMs) * 1000 : 0, std::memory_order_relaxed);
    tSetsRoomWait = maxMs > 0 && totalMs > 0;
    gWaitForRoomMs.store(maxMs > 0 && totalMs > 0 ? maxMs : 0, std::memory_order_relaxed);
}

void syslogx_makeRecord(int level, const char* msg, SyslogRecord* rec) {
    if (!rec) return;
    const char* text = msg ? msg : "";
    fillRecord(*rec, level, text, strlen(text));
}

void syslogx_formatLine(const SyslogRecord& rec, char* out, unsigned size) {
    if (!out || size == 0) return;
    time_t t = static_cast<time_t>(rec.time);
    struct tm tmv;
    gmtime_r(&t, &tmv);
    char when[32];
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tmv);
    snprintf(out, size, "%s %.16s <%d> %.40s: %.200s", when, rec.device, rec.level, rec.tag,
             rec.msg);
}
