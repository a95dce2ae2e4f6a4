// The log record as it travels through "/syslogq", and the reader that writes
// the records to "log.txt" in the device folder (and the serious ones to
// stderr).
#pragma once

#include <cstdint>

// One record of the log queue: 264 bytes.
struct SyslogRecord {
    int32_t level;        // facility * 8 + severity
    uint32_t time;        // seconds since 1970 (device clock)
    char tag[40];         // "%05u %s": milliseconds modulo 100000, task name
    char device[16];      // "TAV9_VOZ" + location suffix
    char msg[200];        // not terminated when exactly 200 characters long
};
static_assert(sizeof(SyslogRecord) == 264);

constexpr const char* kSyslogQueueName = "/syslogq";
constexpr int kSyslogQueueDepth = 1024;

// Severity threshold of syslogx: records whose severity (level & 7) is above
// it are dropped. Default 7 (everything passes).
void syslogx_setThreshold(int severity);
int syslogx_threshold();

// Location suffix of the device name in the records ("TAV9_VOZ" + suffix).
void syslogx_setDeviceSuffix(const char* suffix);

// Records that could not be queued (queue full or missing) since start.
// Those dropped from a full queue are said in one line ("syslogx: N log
// records dropped, the log queue was full") after the next record that
// finds room, once there is room for the line as well.
unsigned syslogx_droppedCount();
// Queues that line now for the records dropped and not yet said, waiting up
// to waitMs for room; false when it found none (it is said later).
bool syslogx_reportDropped(int waitMs);

// From now on a record that finds the queue full waits up to maxMs for room
// instead of being dropped, and all records together wait at most totalMs
// (0: never waits, the default; each call starts a new total). The records
// of the thread that calls it wait outside the total, as its few lines say
// how the run ended. A thread that ends, or a task being deleted, never
// waits. The orderly shutdown sets it,
// so that its own lines and those of the stopping measurement reach the log
// file even while something floods the log, without a slow reader holding
// up the stop for longer than the total.
void syslogx_waitForRoom(int maxMs, int totalMs);

// Starts the reader task that appends every record to "log.txt" in the device
// folder and copies those of severity <= stderrSeverity to stderr. A
// "log.txt" that is no plain file (a FIFO, a device, a folder) is named on
// stderr and left alone: the records then go nowhere but stderr. About once
// a second the reader looks whether "log.txt" is still the file it writes:
// one removed (or renamed away) or replaced is followed by a new "log.txt"
// (or the file now there), which says so first; what is no plain file is
// named on stderr as at the start. About once a second, too, it logs the
// counts of lines on lost records held back (syslogx_reportHeld), and once
// more before it stops. Records
// queued before the start are written first. Once "log.txt" has passed
// maxBytes it becomes "log.1.txt" (the one before goes) and a new "log.txt"
// begins. 1 on success (or already running), 0 on failure.
constexpr long kSyslogFileLimit = 16L << 20;
int syslogx_readerStart(int stderrSeverity = 4, long maxBytes = kSyslogFileLimit);
// Writes everything queued so far, the line of the records dropped
// included, and ends the reader task. A reader that does not get through
// the queue in time (stuck in a write) is given up: the stop writes what is
// still queued to the log file itself and returns.
void syslogx_readerStop();
// The same within limitMs altogether (a stop's budget): false when records
// queued were left unwritten (the reader stuck in a write of the file).
bool syslogx_readerStopWithin(unsigned limitMs);
bool syslogx_readerRunning();

// Returns when every record queued before the call is in the log file. With
// the reader stopped, the caller writes the queued records itself.
void syslogx_flush();

// The log queue (opened on first use; null when it cannot be made). Tests
// read records from it while the reader is stopped.
struct HostMsgQ;
HostMsgQ* syslogx_queue();

// Fills *rec as syslogx would for a record of the calling task, without
// queueing it: the log reader's notes about the log file itself.
void syslogx_makeRecord(int level, const char* msg, SyslogRecord* rec);

// Formats one record as the log file line (without the newline).
void syslogx_formatLine(const SyslogRecord& rec, char* out, unsigned size);
