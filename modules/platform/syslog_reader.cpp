// The log reader: takes records from "/syslogq" and appends them to
// "log.txt" in the device folder; serious ones are copied to stderr.
//
// Flush and stop travel through the queue as marker records, so they take
// effect after every record queued before them.
#include "platform/syslog_reader.h"

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/log_file.h"
#include "platform/syslogx.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int32_t kMarkerLevel = INT32_MIN;   // never a real level (levels are >= 0)
constexpr char kMarkerFlush = 'F';
constexpr char kMarkerStop = 'S';
// How long the stop waits for the reader to pass its marker and end, and,
// once it has given the reader up, for the log file to be free.
constexpr int kStopWaitMs = 5000;
constexpr int kMarkerSendWaitMs = 2000;   // for room in the queue
constexpr std::chrono::milliseconds kWriteLockWait{1000};
constexpr std::chrono::milliseconds kPlaceLookEvery{1000};   // whether log.txt is still the file written
constexpr std::chrono::milliseconds kHeldReportEvery{1000};   // the counts of lines on lost records held back

std::mutex gWriteMx;  // one writer of the log file at a time
std::string gNamedProblem;  // what was last said on stderr about log.txt (guarded by gWriteMx)
std::mutex gCtlMx;          // reader start/stop
TASK_ID gReader = nullptr;
// Set when the stop gives the running reader up: that reader writes nothing
// more (each reader has its own flag).
std::shared_ptr<std::atomic<bool>> gReaderGivenUp;
std::atomic<bool> gRunning{false};
std::atomic<int> gStderrSeverity{4};
std::atomic<long> gMaxBytes{kSyslogFileLimit};

std::mutex gDoneMx;
std::condition_variable gDoneCv;
uint32_t gMarkerSeq = 0;    // guarded by gDoneMx
uint32_t gMarkerDone = 0;   // guarded by gDoneMx

// A log file's name in messages: in the path of the folder the device
// started in.
std::string shownName(const char* name) {
    const std::string& dir = host::deviceFolder();
    return dir.empty() ? std::string(name) : dir + "/" + name;
}

// The record as its log line; raw bytes a message took from a file stay out
// of the log and the terminal.
std::string lineOf(const SyslogRecord& rec) {
    char line[400];
    syslogx_formatLine(rec, line, sizeof line);
    return logLineText(line);
}

// A note of the log file about itself, as the line of a record of the
// task that writes it.
std::string noteLine(const std::string& text) {
    SyslogRecord rec;
    syslogx_makeRecord(147, text.c_str(), &rec);
    return lineOf(rec);
}

LogFile logFile() {
    return LogFile(host::inDeviceFolder("log.txt"), host::inDeviceFolder("log.1.txt"), gMaxBytes.load(), noteLine,
                   shownName("log.txt"), shownName("log.1.txt"));
}

// Opens the log file; what stands in its way is said on stderr, once until
// it changes. Called with gWriteMx held.
void openLog(LogFile& f) {
    if (f.open()) {
        gNamedProblem.clear();
        return;
    }
    if (f.problem() == gNamedProblem) return;
    gNamedProblem = f.problem();
    fprintf(stderr, "log: %s %s: the log is not written\n", shownName("log.txt").c_str(), gNamedProblem.c_str());
}

bool toStderr(const SyslogRecord& rec) {
    return (rec.level & 7) <= gStderrSeverity.load(std::memory_order_relaxed);
}

void markDone(uint32_t seq) {
    {
        std::lock_guard<std::mutex> lk(gDoneMx);
        if (static_cast<int32_t>(seq - gMarkerDone) > 0) gMarkerDone = seq;
    }
    gDoneCv.notify_all();
}

// Writes what the queue holds now; used while no reader runs, or once the
// stop gave it up. Then the serious records are not copied to stderr: a
// stderr nobody reads may be what holds the reader up. Called with
// gWriteMx held.
void drainLocked(MSG_Q_ID q, bool copyToStderr) {
    if (msgQNumMsgs(q) <= 0) return;
    LogFile f = logFile();
    openLog(f);
    SyslogRecord rec;
    while (msgQReceive(q, &rec, sizeof rec, NO_WAIT) == static_cast<long>(sizeof rec)) {
        if (rec.level == kMarkerLevel) {
            markDone(rec.time);
            continue;
        }
        const std::string text = lineOf(rec);
        f.write(text.c_str());
        if (copyToStderr && toStderr(rec)) fprintf(stderr, "%s\n", text.c_str());
    }
}

void drainHere(MSG_Q_ID q) {
    std::lock_guard<std::mutex> lk(gWriteMx);
    drainLocked(q, true);
}

// Looks whether log.txt is still the file the reader writes, at most once
// per kPlaceLookEvery: one removed, renamed away or replaced (by a log
// rotation, a person tidying up) would take the rest of the log with it,
// unseen. The log goes on in a new log.txt, or in the plain file now there,
// and says so; anything else there is named on stderr and not written. With
// no file open, log.txt is tried again: a FIFO taken away, a new one begins.
void keepLogInPlace(LogFile& f, const std::atomic<bool>& givenUp, std::chrono::steady_clock::time_point& lastLook) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook < kPlaceLookEvery) return;
    lastLook = now;
    const LogFile::Place place = f.place();
    if (place == LogFile::Place::Same) return;
    std::lock_guard<std::mutex> lk(gWriteMx);
    if (givenUp.load()) return;
    const std::string wasNot = gNamedProblem;
    f.close();
    openLog(f);
    if (!f.isOpen()) return;
    f.noteMoved(place, wasNot);
    f.flush();   // said now, not only with the next record
}

void readerBody(std::shared_ptr<std::atomic<bool>> givenUp) {
    MSG_Q_ID q = syslogx_queue();
    // Closed also when a delete unwinds the task.
    LogFile f = logFile();
    {
        std::lock_guard<std::mutex> lk(gWriteMx);
        openLog(f);
    }
    auto lastLook = std::chrono::steady_clock::now();
    auto lastHeldReport = lastLook;
    SyslogRecord rec;
    for (;;) {
        long n = msgQReceive(q, &rec, sizeof rec, sysClkRateGet());   // a second at most, for the look
        keepLogInPlace(f, *givenUp, lastLook);
        // Lines on lost records held back are counted; the counts are said
        // here, so that none waits for a later line of its kind.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastHeldReport >= kHeldReportEvery) {
            lastHeldReport = now;
            syslogx_reportHeld();
        }
        if (n != static_cast<long>(sizeof rec)) {
            // lines the drive refused are tried again while the log is quiet
            std::lock_guard<std::mutex> lk(gWriteMx);
            if (f.refusing() && !givenUp->load()) f.flush();
            continue;
        }
        if (rec.level == kMarkerLevel) {
            f.flush();
            markDone(rec.time);
            if (rec.msg[0] == kMarkerStop) break;
            continue;
        }
        const std::string text = lineOf(rec);
        const bool copy = toStderr(rec);
        {
            std::lock_guard<std::mutex> lk(gWriteMx);
            if (givenUp->load()) {
                // The stop writes the queue now. The record taken already
                // is written here: put back, it could find the queue full
                // (or drained already) and be lost without a trace.
                f.write(text.c_str());
                f.flush();
                return;
            }
            f.write(text.c_str());
            // Flush at once while the queue is empty, so the file is current
            // whenever the process stops unexpectedly; and before a copy to
            // stderr, which may hold the reader up (a pipe nobody reads) with
            // lines still in its buffer.
            if (copy || msgQNumMsgs(q) == 0) f.flush();
        }
        if (copy) fprintf(stderr, "%s\n", text.c_str());
    }
}

// Queues a marker and waits until the reader passed it. False when the
// marker could not be queued or the reader did not answer in time.
bool passMarker(MSG_Q_ID q, char kind, int sendWaitMs = kMarkerSendWaitMs, int passWaitMs = kStopWaitMs) {
    SyslogRecord m;
    memset(&m, 0, sizeof m);
    m.level = kMarkerLevel;
    m.msg[0] = kind;
    uint32_t seq;
    {
        std::lock_guard<std::mutex> lk(gDoneMx);
        seq = ++gMarkerSeq;
    }
    m.time = seq;
    if (msgQSend(q, &m, sizeof m, sendWaitMs * sysClkRateGet() / 1000, MSG_PRI_NORMAL) != OK) return false;
    std::unique_lock<std::mutex> lk(gDoneMx);
    return gDoneCv.wait_for(lk, std::chrono::milliseconds(passWaitMs), [&] {
        return static_cast<int32_t>(gMarkerDone - seq) >= 0;
    });
}

// Takes the mutex if it comes free within the time. Polled: a timed lock of
// the standard library is not seen by every thread checker.
bool lockWithin(std::mutex& mx, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!mx.try_lock()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The reader did not get through the queue in time: it writes nothing more,
// and what is queued is written here, the line of the records dropped last.
// A reader stuck in a write of the log file itself keeps the file: then the
// queue is left after a while, said on stderr. False then.
bool giveUpReader(MSG_Q_ID q, std::chrono::milliseconds lockWait) {
    gReaderGivenUp->store(true);
    // from its wait; one stuck in a write is left behind (after a share of
    // the time: the queue is written below with what is left)
    taskDeleteWithin(gReader, static_cast<int>(lockWait.count() / 2 * sysClkRateGet() / 1000));
    lockWait /= 2;
    if (!q) return true;
    if (!lockWithin(gWriteMx, lockWait)) {
        fprintf(stderr, "log: the log reader is stuck writing %s: %d records not written\n",
                shownName("log.txt").c_str(), msgQNumMsgs(q));
        return false;
    }
    std::lock_guard<std::mutex> lk(gWriteMx, std::adopt_lock);
    drainLocked(q, false);
    syslogx_reportHeld();
    syslogx_reportDropped(0);
    drainLocked(q, false);
    return true;
}

// What is left of a wait of at most `most` ms that must end by `until`.
int msWithin(int most, std::chrono::steady_clock::time_point until) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : left < most ? static_cast<int>(left) : most;
}

}  // namespace

int syslogx_readerStart(int stderrSeverity, long maxBytes) {
    gMaxBytes.store(maxBytes > 0 ? maxBytes : kSyslogFileLimit, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lk(gCtlMx);
    gStderrSeverity.store(stderrSeverity, std::memory_order_relaxed);
    if (gRunning.load()) return 1;
    if (!syslogx_queue()) return 0;
    auto givenUp = std::make_shared<std::atomic<bool>>(false);
    gReader = taskSpawn("r_syslogRd", 250, 0, 0x4000, std::function<void()>([givenUp] { readerBody(givenUp); }));
    if (!gReader) return 0;
    gReaderGivenUp = givenUp;
    gRunning.store(true);
    return 1;
}

void syslogx_readerStop() {
    // each wait its whole bound: the stop of a start-up that failed, of a test
    syslogx_readerStopWithin(3 * kMarkerSendWaitMs + 2 * kStopWaitMs + static_cast<unsigned>(kWriteLockWait.count()));
}

bool syslogx_readerStopWithin(unsigned limitMs) {
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (!gRunning.load()) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    MSG_Q_ID q = syslogx_queue();
    // Counts held back and records dropped, not yet said, are said before
    // the end; in a full queue they wait for the room the reader makes (the
    // counts a while at most, as the line of the records dropped does).
    const auto heldUntil =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(msWithin(kMarkerSendWaitMs, until));
    while (!syslogx_reportHeld() && std::chrono::steady_clock::now() < heldUntil)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    syslogx_reportDropped(msWithin(kMarkerSendWaitMs, until));
    // The reader ends by itself at the stop marker; one that does not get
    // there in time (stuck, or far behind on a loaded machine) is given up.
    // The file's lock is waited for out of what is left, a part kept for it.
    const int lockShare = msWithin(static_cast<int>(kWriteLockWait.count()), until) / 4;
    const auto readerUntil = until - std::chrono::milliseconds(lockShare);
    bool written = true;
    if (!q ||
        !passMarker(q, kMarkerStop, msWithin(kMarkerSendWaitMs, readerUntil), msWithin(kStopWaitMs, readerUntil)) ||
        taskWait(gReader, msWithin(kStopWaitMs, readerUntil) * sysClkRateGet() / 1000) != OK)
        written = giveUpReader(q, std::chrono::milliseconds(msWithin(int(kWriteLockWait.count()), until)));
    gReader = nullptr;
    gReaderGivenUp.reset();
    gRunning.store(false);
    // Whatever arrived after the stop marker stays for the next reader, or
    // for a flush.
    return written;
}

bool syslogx_readerRunning() { return gRunning.load(); }

void syslogx_flush() {
    MSG_Q_ID q = syslogx_queue();
    if (!q) return;
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (gRunning.load() && passMarker(q, kMarkerFlush)) return;
    if (!gRunning.load()) drainHere(q);
}
