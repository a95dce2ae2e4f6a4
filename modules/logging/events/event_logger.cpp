// The event loggers: buffering by source device, the delayed flush and the
// event blocks in the measurement stream.
#include "logging/events/event_logger.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "logging/app/meas_app.h"
#include "logging/events/event_apps.h"
#include "logging/events/event_own_times.h"
#include "logging/events/event_peer_opens.h"
#include "logging/events/event_signals.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "measurement/comint.h"
#include "platform/byteorder.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {

// Loggers by measurement index. The table lock is held while a logger is
// used through the table, so that eventLoggerDelete never pulls a logger away
// from under a caller. Lock order: table, logger, store.
std::mutex gTableMx;
eventlogger* gTable[EVENT_LOGGERS] = {};

// The last apps.xml problem logged: every measurement asks for a logger, and
// the same fault of the file is said once.
std::mutex gAppsLogMx;
std::string gAppsProblemLogged;

uint8_t gFloodTake = 0, gFloodTrunc = 0, gFloodPool = 0, gFloodReturn = 0, gFloodDtor = 0, gFloodInit = 0, gFloodShort = 0, gFloodNewRun = 0;

constexpr const uint8_t kStagingHead[4] = {0x00, 0x01, 0x00, 0x01};

// An event is sent when it happens, in its sender's time, which is this
// device's to a few milliseconds. One stamped further ahead is of a time
// that has stepped back since (its close at the step, sent after it): the
// new time would reach it only after as long as the step was, and every
// later event of its source would wait behind it.
constexpr int32_t kAheadOfTime = 10000;   // 1 s

// An event that comes stamped well behind this device's time may be of a new
// time of its source (a master restarted behind) that this device steps onto
// a moment later: the flush task keeps it that moment, unless a step comes
// first, so that its time base is judged against that step. A master's new
// run less than a second behind is stepped onto only after its first five
// gap stamps (100 ms apart, over 300 ms at least) have come, some 0.5 s after
// its first events. A file's close or start takes it at once.
constexpr int32_t kLateBy = 500;       // 50 ms behind where it came in
constexpr int32_t kStepWait = 10000;   // 1 s

// An event of the time master's new run that came before this device's time
// followed it: stamped in that new time, a little behind this one, it would
// pass for a late event of this time's files (its records are refused too).
#define NEW_RUN_EVENT_LOST                                                                                     \
    "event 0x%08X of PID 0x%X at %u not written: it is of the time master's new run, which this device's time " \
    "did not follow yet"

// Gives the logger's mutex back also when the holding task is unwound.
struct Held {
    SEM_ID sem;
    ~Held() { semGive(sem); }
};

}  // namespace

eventlogger::eventlogger(unsigned index, void* pretrigger, uint32_t delay)
    : index_(index), pretrigger_(pretrigger), delay_(delay) {
    if (index >= EVENT_LOGGERS) throw "invalid index";
    mutex_ = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!mutex_) throw "could not create semaphore";
    try {
        eventApps_readOnce();
    } catch (...) {
        semDelete(mutex_);
        throw;
    }
    pool_ = new (std::nothrow) EventPool(EVENT_POOL_ITEMS, sizeof(Event) > sizeof(Bucket) ? sizeof(Event)
                                                                                           : sizeof(Bucket));
    if (!pool_ || !pool_->valid()) {
        delete pool_;
        semDelete(mutex_);
        throw "could not create pool";
    }
    std::memcpy(staging_, kStagingHead, sizeof kStagingHead);
    char name[16];
    std::snprintf(name, sizeof name, "r_evLog_%u", index);
    task_ = taskSpawn(name, 143, VX_FP_TASK, 65536, [this] { task(); });
    if (!task_) {
        delete pool_;
        semDelete(mutex_);
        throw "could not spawn task";
    }
    std::lock_guard<std::mutex> lk(gTableMx);
    gTable[index_] = this;
}

eventlogger::~eventlogger() {
    {
        std::lock_guard<std::mutex> lk(gTableMx);
        if (gTable[index_] == this) gTable[index_] = nullptr;
    }
    // The flush task ends after its current pass; it is never unwound while
    // it holds the lock.
    stop_.store(true);
    if (taskWait(task_, WAIT_FOREVER) != OK) taskDelete(task_);
    if (semTake(mutex_, WAIT_FOREVER) != OK)
        SYSLOGX_FLOOD(gFloodDtor, 147, "eventlogger::~eventlogger(): could not take semaphore (%s)", "semTake");
    delete pool_;   // buckets and events are items of the pool
    pool_ = nullptr;
    buckets_ = nullptr;
    semGive(mutex_);
    semDelete(mutex_);
}

// An item of the pool; when none is left the event is dropped and the first
// drop raises the overload entry, the next success clears it.
void* eventlogger::allocate(int site, uint16_t pid, uint32_t ts) {
    void* p = pool_->take();
    if (p) {
        if (overload_) {
            overload_ = false;
            error_mgr_clear(EVENTLOGGING);
        }
        return p;
    }
    SYSLOGX_FLOOD(gFloodPool, 147 | SYSLOGX_LOSS, "eventlogger::putEvent(): pool full (%d), discarding event from pid %x with TS %d",
                  site, unsigned(pid), int(ts));
    if (!overload_) {
        overload_ = true;
        error_mgr_set(EVENTLOGGING, ERRMGR_TYPE_EVENT_OVERLOAD, 0);
    }
    return nullptr;
}

void eventlogger::putEvent(const uint8_t* payload, uint32_t length, uint16_t pid, uint32_t sortTime,
                           uint32_t seenAt, uint32_t stepsThen, const uint32_t* stampedIn) {
    if (!payload) return;
    if (semTake(mutex_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "eventlogger::putEvent(): could not take semaphore (%s)", "semTake");
        return;
    }
    Held held{mutex_};
    // the bucket of the source, made at its place in the ascending chain
    Bucket* prev = nullptr;
    Bucket* b = buckets_;
    while (b && b->pid < pid) {
        prev = b;
        b = b->next;
    }
    if (!b || b->pid != pid) {
        const int site = !buckets_ ? 1 : !prev ? 2 : 3;
        void* mem = allocate(site, pid, sortTime);
        if (!mem) return;
        auto* nb = new (mem) Bucket{b, nullptr, nullptr, pid};
        if (prev) prev->next = nb;
        else buckets_ = nb;
        b = nb;
    }
    void* mem = allocate(4, pid, sortTime);
    if (!mem) return;
    auto* e = new (mem) Event{nullptr, sortTime, seenAt, stepsThen, stampedIn != nullptr, stampedIn ? *stampedIn : 0, 0, {}};
    if (length > EVENT_PAYLOAD_MAX) {
        // a longer payload keeps its first 98 bytes; the last two become the
        // terminating zeros of the texts
        std::memcpy(e->payload, payload, EVENT_PAYLOAD_MAX);
        e->payload[EVENT_PAYLOAD_MAX - 2] = 0;
        e->payload[EVENT_PAYLOAD_MAX - 1] = 0;
        SYSLOGX_FLOOD(gFloodTrunc, 147 | SYSLOGX_LOSS, "eventlogger::putEvent(): event from pid 0x%.2x truncated from %d to %d bytes",
                      unsigned(pid), int(length), int(EVENT_PAYLOAD_MAX));
        length = EVENT_PAYLOAD_MAX;
    } else {
        std::memcpy(e->payload, payload, length);
    }
    e->length = length;
    if (b->tail) b->tail->next = e;
    else b->head = e;
    b->tail = e;
}

uint32_t eventlogger::stage(uint16_t pid, const uint8_t* payload, uint32_t length) {
    std::memcpy(staging_ + 4, payload, length);
    char* app = reinterpret_cast<char*>(staging_ + 4 + length);
    return uint32_t(length + 5 + eventApps_name(pid, app));
}

// An open is kept as the recording's once a file took it (or keeps it for
// the new time's first); a close is written only for an open kept: one whose
// open went into no file of this recording (opened before it, or closed
// already at a stop) would end in a file an event that never began there.
void eventlogger::writeEvent(const Bucket& b, const Event& e) {
    const uint32_t duration = be_get32(e.payload + 8);
    // a logger without a store has no files, nor a recording to keep opens of
    const bool recorded = pretrigger_ != nullptr;
    // The time base its source stamped it in; a peer's message carries none
    // (nor does the network tell how its runs lie against this device's
    // steps): its stamp and where it came in are all there is to judge by.
    // A close is of the time its open was written in: a peer's end, noted
    // well after its last value, lies far behind the time when it comes and
    // would be taken for a stamp of a new time behind.
    uint32_t timeOf = e.timeKnown ? e.timeOf : time_stepOfStamp(e.sortTime, e.seenAt, e.stepsThen);
    const bool isClose = duration != 0 && duration != EVENT_DURATION_OPEN;
    if (recorded && isClose) forgetDroppedOpens();
    if (recorded && isClose && !opens_.isOpen(b.pid, e.payload, &timeOf)) {
        SYSLOGX_FLOOD(floodOrphan_, 151, "eventlogger(m0%u): close of event 0x%08X of PID 0x%X opened at %u not "
                                         "written: its open is in no file of this recording",
                      index_ + 1, unsigned(be_get32(e.payload)), unsigned(b.pid), unsigned(be_get32(e.payload + 4)));
        return;
    }
    const uint32_t len = stage(b.pid, e.payload, e.length);
    const int placed = meas_app_PreTrigPutMetaDataCopy(pretrigger_, staging_, len, e.sortTime, MEAS_META_EVENT_TYPE,
                                                       timeOf);
    event_count(eventSignals().event_write_cnt);
    if (!recorded || placed == META_NONE) return;
    // a close no file took (stamped past the end the stop gave the files)
    // leaves its open kept: the stop closes it at its stamp
    if (isClose) opens_.closed(b.pid, e.payload);
    if (duration == EVENT_DURATION_OPEN && !opens_.opened(b.pid, e.payload, e.length, placed == META_HELD, timeOf))
        SYSLOGX_FLOOD(floodOpens_, 147 | SYSLOGX_LOSS, "eventlogger(m0%u): event 0x%08X of PID 0x%X opened at %u "
                                                       "stays open in its file: %u open events are kept already",
                      index_ + 1, unsigned(be_get32(e.payload)), unsigned(b.pid), unsigned(be_get32(e.payload + 4)),
                      EventRunOpens::kOpens);
}

void eventlogger::endRun(int vfIdx, uint32_t ts) {
    if (semTake(mutex_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "eventlogger::endRun(): could not take semaphore (%s)", "semTake");
        return;
    }
    {
        Held held{mutex_};
        stopHeld_.store(false);
        flushLocked(ts, nullptr, false);   // ts is where the files end
        forgetDroppedOpens();
        // Whether an open was held back before this stop or after the one
        // before it, the store alone knows whether a file has taken it.
        const auto inNoFile = [&](const EventRunOpens::Open& o) {
            return meas_app_PreTrigHoldsOpen(pretrigger_,
                                             MeasDroppedOpen{o.pid, be_get32(o.payload), be_get32(o.payload + 4)});
        };
        opens_.endRun(ts, inNoFile, [&](const EventRunOpens::Open& o) {
            const uint32_t id = be_get32(o.payload), start = be_get32(o.payload + 4);
            if (vfIdx < 0) {
                syslogx(147 | SYSLOGX_LOSS, "eventlogger(m0%u): event 0x%08X of PID 0x%X opened at %u not closed: "
                                            "the recording stopped at %u with no file open", index_ + 1, unsigned(id),
                        unsigned(o.pid), unsigned(start), unsigned(ts));
                return;
            }
            meas_app_PreTrigPutMetaDataVfCopy(pretrigger_, vfIdx, staging_, stage(o.pid, o.payload, o.length),
                                              MEAS_META_EVENT_TYPE);
            event_count(eventSignals().event_write_cnt);
            syslogx(151, "eventlogger(m0%u): event 0x%08X of PID 0x%X opened at %u closed at the stop at %u",
                    index_ + 1, unsigned(id), unsigned(o.pid), unsigned(start), unsigned(start + be_get32(o.payload + 8)));
        });
        meas_app_PreTrigEndEvents(pretrigger_);
    }
}

void eventlogger::forgetDroppedOpens() {
    if (!pretrigger_) return;
    MeasDroppedOpen dropped[8];
    unsigned n = 0;
    while ((n = meas_app_PreTrigTakeDroppedOpens(pretrigger_, dropped, 8)) > 0) {
        for (unsigned k = 0; k < n; ++k) {
            // id and start name the event, as its payload begins
            uint8_t key[8];
            be_put32(key, dropped[k].id);
            be_put32(key + 4, dropped[k].start);
            opens_.closed(dropped[k].pid, key);
        }
    }
}

void eventlogger::dropMastersNewRun(uint16_t pid) {
    if (semTake(mutex_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "eventlogger::dropMastersNewRun(): could not take semaphore (%s)", "semTake");
        return;
    }
    Held held{mutex_};
    Bucket* b = buckets_;
    while (b && b->pid != pid) b = b->next;
    if (!b) return;
    Event* kept = nullptr;
    for (Event *e = b->head, *next = nullptr; e; e = next) {
        next = e->next;
        const uint32_t duration = be_get32(e->payload + 8);
        const bool isClose = duration != 0 && duration != EVENT_DURATION_OPEN;
        if (isClose || int32_t(e->seenAt - e->sortTime) <= kLateBy) {
            if (kept) kept->next = e;
            else b->head = e;
            kept = e;
            continue;
        }
        SYSLOGX_FLOOD(floodNewRun_, 147 | SYSLOGX_LOSS, "eventlogger(m0%u): " NEW_RUN_EVENT_LOST, index_ + 1,
                      unsigned(be_get32(e->payload)), unsigned(pid), unsigned(be_get32(e->payload + 4)));
        e->~Event();
        if (!pool_->give(e))
            SYSLOGX_FLOOD(gFloodReturn, 147, "eventlogger::dropMastersNewRun(): error returning element back to pool (%s)",
                          "not an item");
    }
    if (kept) kept->next = nullptr;
    else b->head = nullptr;
    b->tail = kept;
}

bool eventlogger::flushUntil(uint32_t ts) { return flush(ts, nullptr); }

bool eventlogger::flushPass(uint32_t ts, uint32_t now) {
    if (stopHeld_.load() && int32_t(now - stopHeldUntil_.load()) < 0) return true;
    return flush(ts, &now);
}

void eventlogger::holdForStop(uint32_t now) {
    stopHeldUntil_.store(now + uint32_t(kStopHold));
    stopHeld_.store(true);
}

bool eventlogger::flush(uint32_t ts, const uint32_t* now) {
    if (semTake(mutex_, WAIT_FOREVER) != OK) return false;
    Held held{mutex_};
    flushLocked(ts, now, true);
    return true;
}

void eventlogger::flushLocked(uint32_t ts, const uint32_t* now, bool toRecords) {
    forgetDroppedOpens();   // their room is free for the opens to come
    const uint32_t steps = now ? time_stepCount() : 0;
    const auto waitsForStep = [&](const Event& e) {
        const int32_t since = int32_t(*now - e.seenAt);
        return !e.timeKnown && int32_t(e.seenAt - e.sortTime) > kLateBy && e.stepsThen == steps && since >= 0 &&
               since < kStepWait;
    };
    // Where the recording has got to: an event stamped after its newest
    // record waits for the records of its moment (their source may be late,
    // or silent: a stop then ends the files before it). A full pool lets
    // the oldest go on.
    uint32_t recordedTo = 0;
    const bool recording = toRecords && pretrigger_ && meas_app_recordedTo(index_, &recordedTo);
    const auto waitsForRecords = [&](const Event& e) {
        return recording && int32_t(e.sortTime - recordedTo) > 0 && pool_->available() > EVENT_POOL_ITEMS / 2;
    };
    const auto due = [&](const Event& e) {
        if (now && waitsForStep(e)) return false;
        if (now && int32_t(e.sortTime - *now) > kAheadOfTime) return true;
        return int32_t(e.sortTime - ts) <= 0 && !waitsForRecords(e);
    };
    for (Bucket* b = buckets_; b; b = b->next) {
        // only the oldest of a source decides: its order of arrival stays
        while (b->head && due(*b->head)) {
            Event* e = b->head;
            writeEvent(*b, *e);
            b->head = e->next;
            if (!b->head) b->tail = nullptr;
            e->~Event();
            if (!pool_->give(e))
                SYSLOGX_FLOOD(gFloodReturn, 147, "eventlogger::flushUntil(): error returning element back to pool (%s)",
                              "not an item");
        }
    }
}

size_t eventlogger::freeItems() {
    if (semTake(mutex_, WAIT_FOREVER) != OK) return 0;
    Held held{mutex_};
    return pool_->available();
}

// Every tick: everything older than the delay goes into the files. The
// limit wraps as the stamps do (just after the clock's wrap, or at a time
// below the delay, it lies before the wrap): they are compared by their
// signed difference.
void eventlogger::task() {
    while (!stop_.load()) {
        taskDelay(1);
        if (stop_.load()) return;
        const uint32_t now = time_getTimestamp();
        if (!flushPass(now - delay_, now)) return;
    }
}

eventlogger* eventLoggerInit(unsigned index, void* pretrigger) {
    try {
        auto* l = new eventlogger(index, pretrigger, uint32_t(DATADELAY()) * 10u);
        syslogx(150, "Eventlogging logger setup for m0%d", int(index + 1));
        return l;
    } catch (const char* e) {
        // Without the application names no logger is made; that is said once
        // per fault of the file (its texts name it), so that the user learns
        // why the files hold no events.
        if (std::strstr(e, EVENT_APPS_FILE)) {
            std::lock_guard<std::mutex> lk(gAppsLogMx);
            if (gAppsProblemLogged != e) {
                gAppsProblemLogged = e;
                syslogx(147, "eventLoggerInit(): %s", e);
            }
        } else {
            SYSLOGX_FLOOD(gFloodInit, 147, "eventLoggerInit(): %s", e);
        }
    }
    return nullptr;
}

void eventLoggerDelete(eventlogger* logger) { delete logger; }

void eventLoggerFlushUntil(eventlogger* logger, uint32_t ts) {
    if (logger) logger->flushUntil(ts);
}

void eventLoggerFlushIdx(unsigned index, uint32_t ts) {
    if (index >= EVENT_LOGGERS) return;
    std::lock_guard<std::mutex> lk(gTableMx);
    if (gTable[index]) gTable[index]->flushUntil(ts);
}

void eventLoggerMasterRunsAnew(uint16_t pid) {
    std::lock_guard<std::mutex> lk(gTableMx);
    for (eventlogger* l : gTable)
        if (l) l->dropMastersNewRun(pid);
}

void eventLoggersHoldForStop() {
    const uint32_t now = time_getTimestamp();
    std::lock_guard<std::mutex> lk(gTableMx);
    for (eventlogger* l : gTable)
        if (l) l->holdForStop(now);
}

void eventLoggerEndRunIdx(unsigned index, int vfIdx, uint32_t ts) {
    if (index >= EVENT_LOGGERS) return;
    std::lock_guard<std::mutex> lk(gTableMx);
    if (gTable[index]) gTable[index]->endRun(vfIdx, ts);
}

int eventlogging_cmd(ci_msg_t* msg) {
    if (!msg) return 0;
    const uint32_t len = ci_get_len(msg);
    const uint16_t pid = ci_get_src(msg);
    // the fixed fields must be there to sort and write the event
    if (len < EVENT_PAYLOAD_FIXED + 2 || len > CI_MAX_PAYLOAD) {
        SYSLOGX_FLOOD(gFloodShort, 147 | SYSLOGX_LOSS, "eventlogging_cmd(): event from pid 0x%.2x with length %u ignored",
                      unsigned(pid), unsigned(len));
        return 1;
    }
    const uint32_t ts = be_get32(msg->payload + 4);
    const uint32_t dur = be_get32(msg->payload + 8);
    const uint32_t sortTime = dur != 0 && dur != EVENT_DURATION_OPEN ? ts + dur : ts;
    // another device's open events are closed for it should it end first
    if (pid != comint_own_pid()) eventPeers_note(pid, msg->payload, len);
    // this device's own event: the time it was stamped in came along
    uint32_t timeOf = 0;
    const bool known = pid == comint_own_pid() && eventOwnTimes_take(be_get32(msg->payload), ts, dur, &timeOf);
    if (fifo_data_of_masters_new_run(pid)) {
        SYSLOGX_FLOOD(gFloodNewRun, 147 | SYSLOGX_LOSS, "eventlogging_cmd(): " NEW_RUN_EVENT_LOST,
                      unsigned(be_get32(msg->payload)), unsigned(pid), unsigned(ts));
        return 1;
    }
    eventLoggerPutAll(msg->payload, len, pid, sortTime, known ? &timeOf : nullptr);
    return 1;
}

void eventLoggerPutAll(const uint8_t* payload, uint32_t length, uint16_t pid, uint32_t sortTime,
                       const uint32_t* stampedIn) {
    // where it came in decides its time base after a step back: a close
    // stamped in the old time, sent at the step, waits in the logger until
    // the new time has passed its stamp
    const uint32_t steps = time_stepCount();
    const uint32_t seenAt = time_getTimestamp();
    std::lock_guard<std::mutex> lk(gTableMx);
    for (eventlogger* l : gTable)
        if (l) l->putEvent(payload, length, pid, sortTime, seenAt, steps, stampedIn);
}

void eventLogger_resetForTest() {
    {
        std::lock_guard<std::mutex> lk(gAppsLogMx);
        gAppsProblemLogged.clear();
    }
    gFloodTake = gFloodTrunc = gFloodPool = gFloodReturn = gFloodDtor = gFloodInit = gFloodShort = gFloodNewRun = 0;
}
