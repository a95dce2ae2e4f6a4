// The log reader: takes records from "/syslogq" and appends them to
// "log.txt" in the device folder; serious ones are copied to stderr.
//
// Flush and stop travel through the queue as marker records, so they take
// effect after every record queued before them.
#include "platform/syslog_reader.h"

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/log_file.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int32_t kMarkerLevel = INT32_MIN;   // never a real level (levels are >= 0)
constexpr char kMarkerFlush = 'F';
constexpr char kMarkerStop = 'S';

std::mutex gWriteMx;        // one writer of the log file at a time
std::mutex gCtlMx;          // reader start/stop
TASK_ID gReader = nullptr;
std::atomic<bool> gRunning{false};
std::atomic<int> gStderrSeverity{4};
std::atomic<long> gMaxBytes{kSyslogFileLimit};

std::mutex gDoneMx;
std::condition_variable gDoneCv;
uint32_t gMarkerSeq = 0;    // guarded by gDoneMx
uint32_t gMarkerDone = 0;   // guarded by gDoneMx

std::string inFolder(const char* name) {
    const std::string& dir = host::deviceFolder();
    return dir.empty() ? std::string(name) : dir + "/" + name;
}

LogFile logFile() { return LogFile(inFolder("log.txt"), inFolder("log.1.txt"), gMaxBytes.load()); }

void writeRecord(LogFile& f, const SyslogRecord& rec) {
    char line[400];
    syslogx_formatLine(rec, line, sizeof line);
    // raw bytes a message took from a file stay out of the log and the terminal
    const std::string text = logLineText(line);
    f.write(text.c_str());
    if ((rec.level & 7) <= gStderrSeverity.load(std::memory_order_relaxed))
        fprintf(stderr, "%s\n", text.c_str());
}

void markDone(uint32_t seq) {
    {
        std::lock_guard<std::mutex> lk(gDoneMx);
        if (static_cast<int32_t>(seq - gMarkerDone) > 0) gMarkerDone = seq;
    }
    gDoneCv.notify_all();
}

// Writes what the queue holds now; used while no reader runs.
void drainHere(MSG_Q_ID q) {
    std::lock_guard<std::mutex> lk(gWriteMx);
    if (msgQNumMsgs(q) <= 0) return;
    LogFile f = logFile();
    f.open();
    SyslogRecord rec;
    while (msgQReceive(q, &rec, sizeof rec, NO_WAIT) == static_cast<long>(sizeof rec)) {
        if (rec.level == kMarkerLevel) {
            markDone(rec.time);
            continue;
        }
        writeRecord(f, rec);
    }
}

void readerBody() {
    MSG_Q_ID q = syslogx_queue();
    // Closed also when a delete unwinds the task.
    LogFile f = logFile();
    if (!f.open()) fprintf(stderr, "syslog reader: cannot open %s\n", inFolder("log.txt").c_str());
    SyslogRecord rec;
    for (;;) {
        long n = msgQReceive(q, &rec, sizeof rec, WAIT_FOREVER);
        if (n != static_cast<long>(sizeof rec)) continue;
        if (rec.level == kMarkerLevel) {
            f.flush();
            markDone(rec.time);
            if (rec.msg[0] == kMarkerStop) break;
            continue;
        }
        std::lock_guard<std::mutex> lk(gWriteMx);
        writeRecord(f, rec);
        // Flush at once while the queue is empty, so the file is current
        // whenever the process stops unexpectedly.
        if (msgQNumMsgs(q) == 0) f.flush();
    }
}

// Queues a marker and waits until the reader passed it. False when the
// marker could not be queued or the reader did not answer in time.
bool passMarker(MSG_Q_ID q, char kind) {
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
    if (msgQSend(q, &m, sizeof m, 2000, MSG_PRI_NORMAL) != OK) return false;
    std::unique_lock<std::mutex> lk(gDoneMx);
    return gDoneCv.wait_for(lk, std::chrono::seconds(5), [&] {
        return static_cast<int32_t>(gMarkerDone - seq) >= 0;
    });
}

}  // namespace

int syslogx_readerStart(int stderrSeverity, long maxBytes) {
    gMaxBytes.store(maxBytes > 0 ? maxBytes : kSyslogFileLimit, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lk(gCtlMx);
    gStderrSeverity.store(stderrSeverity, std::memory_order_relaxed);
    if (gRunning.load()) return 1;
    if (!syslogx_queue()) return 0;
    gReader = taskSpawn("r_syslogRd", 250, 0, 0x4000, std::function<void()>(readerBody));
    if (!gReader) return 0;
    gRunning.store(true);
    return 1;
}

void syslogx_readerStop() {
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (!gRunning.load()) return;
    MSG_Q_ID q = syslogx_queue();
    // The reader ends by itself at the stop marker; only when the marker
    // cannot pass (reader stuck) is it deleted.
    if (q && passMarker(q, kMarkerStop))
        taskWait(gReader, 5000);
    else
        taskDelete(gReader);
    gReader = nullptr;
    gRunning.store(false);
    // Whatever arrived after the stop marker stays for the next reader, or
    // for a flush.
}

bool syslogx_readerRunning() { return gRunning.load(); }

void syslogx_flush() {
    MSG_Q_ID q = syslogx_queue();
    if (!q) return;
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (gRunning.load() && passMarker(q, kMarkerFlush)) return;
    if (!gRunning.load()) drainHere(q);
}
