// Data FIFOs: one per logged block, filled by the gateway's read callback and
// drained by the logging raster. Values are stored column-wise behind an array
// of time stamps; a slot becomes readable once every element has reached it.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "host/kernel/kernel.h"
#include "logging/fifo/fifo_period.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/config/meas_config.h"
#include "measurement/calparams.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {

// Every 32-bit value is a stamp some record may carry (0xFFFFFFFF is the
// last before the wrap): what is missing is said by flags, never by a stamp.
struct DataFifo {
    std::mutex mx;
    MeasFifoDataRequest req{};
    std::unique_ptr<uint8_t[]> buf;      // null = not set up
    uint32_t* ts = nullptr;              // depth time stamps
    uint8_t* dropped = nullptr;          // per slot: emptied by a gap (latency mode), no step to give
    uint8_t* col[MEAS_FIFO_MAX_ELEMS]{};  // per element: depth x element bytes
    uint32_t elemBytes[MEAS_FIFO_MAX_ELEMS]{};
    uint32_t depth = 0, slotSize = 0;
    uint32_t wr = 0, rd = 0;             // running counters; index = counter % depth
    uint32_t count = 0;                  // readable slots
    uint32_t lastTs = 0;                 // the newest stamp put (haveLast)
    bool haveLast = false;
    uint32_t lastOut = 0;                // the stamp last taken out for the file (haveOut)
    bool haveOut = false;                // lastOut is one of this source's time
    bool newError = false;
    bool refusingBack = false;   // the last put was refused as stamped back
    uint32_t backSince = 0;      // own count at the first of those refusals
    bool inTimeSeen = false;     // a record stamped in this device's time was put
    uint32_t takenAt = 0;        // own count at the last record taken (in time or late)
    uint32_t stillAt = 0;        // stoodStill() then
    uint32_t epoch = 0;          // timeEpoch() when set up: the time its records are of
    uint32_t newTimeRefused = 0;             // records of a new time refused (named at the release)
    uint32_t newTimeLow = 0, newTimeHigh = 0;     // the lowest and highest stamp of them
    uint32_t newRunRefused = 0;                   // records of the time master's new run refused (named)
    uint32_t newRunLow = 0, newRunHigh = 0;       // the lowest and highest stamp of them
    uint32_t tsErrors = 0, fullCount = 0;
    uint32_t fullRefused = 0;                     // records refused full since they were last named
    uint32_t fullLow = 0, fullHigh = 0;           // the lowest and highest stamp of them
    uint32_t latencyMax = 0, fill = 0;
    FifoPeriods per{};
    uint32_t lastDelivered = 0;          // the stamp last kept by the condition's thinning (haveDelivered)
    bool haveDelivered = false;
    unsigned loadClass = 0;
};

DataFifo gFifo[MEAS_DATA_FIFOS];
std::atomic<uint32_t> gCurrTs{0};
std::atomic<int> gResync{0};
// Steps back of the time stamps handed to records, however found: by the
// time service's note of the stamp against the own count, by the logging
// raster's look at the clock, or by a FIFO whose own records come stamped
// before one already put. A FIFO set up before a step holds the old time's
// records: it takes none put after the step (they are of the new time, or
// the old time's last, which no longer fit), counts and names them, and
// gives what it holds at once, until the measurement's restart sets up
// FIFOs of the new time.
std::atomic<uint32_t> gStepsBack{0};

// The time the records are stamped in: a step back, or a lock onto the time
// master's new run ahead of this time (the core counts it before a stamp of
// it can be read), begins another. The FIFOs of the time before take
// nothing of it, so a new run is never recorded into the old run's files.
uint32_t timeEpoch() { return gStepsBack.load() + host::timeRelocksAhead(); }
uint8_t floodPutInvalid, floodGetDest, floodGetInvalid, floodLocaltime;
uint32_t invalidPuts = 0;

// Puts into FIFOs that are not there come from every raster at once (a
// measurement that stops while its blocks still deliver), each under the
// lock of another FIFO or of none: they are counted under a lock of their own.
std::mutex invalidPutMx;

void noteInvalidPut(unsigned n) {
    std::lock_guard<std::mutex> lk(invalidPutMx);
    SYSLOGX_FLOOD(floodPutInvalid, 147 | SYSLOGX_LOSS, "fifo_data_put Fifo #%d: MF_ERR_FIFO_INVALID.", int(n));
    if (++invalidPuts % 1000 == 0)
        syslogx(147, "fifo_data_put, tried to access invalid fifo %u times.", unsigned(invalidPuts));
}

inline int32_t diff(uint32_t a, uint32_t b) { return int32_t(a - b); }

// Stamps further than this from the live clock are of another time base.
constexpr int32_t kForeignLimit = 10000;   // 1 s in 0.1 ms

// How long after its block's last record a record that goes on from it may
// come more than a second late (0.1 ms of the own count), not counting the
// while this device stood still: a stall of its source, and what waited
// through it read at once, take a few seconds.
constexpr int32_t kLagSpan = 50000;

// The logging raster ticks every millisecond: a longer pause than this is
// a while this device was put aside (0.1 ms of the own count). What its
// sources sent meanwhile waited for it, and comes late by as much: that
// while is no silence of theirs.
constexpr int32_t kStillMin = 500;
std::atomic<uint32_t> gTickOwn{0};     // own count at the logging raster's last tick
std::atomic<uint32_t> gStill{0};       // own counts of its pauses before that tick
std::atomic<bool> gTicked{false};

// The own counts this device stood still so far, the pause under way (the
// raster has not ticked since) included; never less than it said before.
uint32_t stoodStill(uint32_t own) {
    const uint32_t still = gStill.load();
    const int32_t pause = diff(own, gTickOwn.load());
    return still + (gTicked.load() && pause > kStillMin ? uint32_t(pause) : 0u);
}

// How long records stamped back are refused before they count as their
// source's new time (0.1 ms of the own count): far longer than a
// measurement takes to restart after its own clock went back.
constexpr int32_t kBackLimit = 30000;

// The device's own records of one block come in order: one stamped more than
// this before the block's newest (a late tick's stamp may lie below by a
// slew's few 0.1 ms) was taken after the clock went back.
constexpr int32_t kOwnBackSlack = 10;   // 1 ms

void onTimeStep(const TimeStep& step) {
    if (diff(step.after, step.before) < 0) gStepsBack.fetch_add(1);
}

bool ofOldTime(const DataFifo& f) { return f.epoch != timeEpoch(); }

// Counts a refused record at t, with the lowest and highest stamp refused.
void noteRefused(uint32_t& count, uint32_t& low, uint32_t& high, uint32_t t) {
    if (count++ == 0) low = high = t;
    if (diff(t, low) < 0) low = t;
    if (diff(t, high) > 0) high = t;
}

// A record put after the clock went back, into a FIFO of the old time.
int refuseNewTime(DataFifo& f, uint32_t t) {
    noteRefused(f.newTimeRefused, f.newTimeLow, f.newTimeHigh, t);
    return MF_ERR_TS_INVALID;
}

// The time master's new run, heard from its first message, before this
// device's time follows it: its records are stamped in its new time, which
// this device's core takes with a step back only some 0.3 to 0.8 s later
// (it judges the new time on the first of its gap stamps). The FIFOs of the
// old time take none of them meanwhile: stamped a little behind the old
// time, they would pass for late records and go on in the old time's file.
// The lock onto the new time ends either with a step (back, or 25 ms or
// more ahead), which restarts the measurement with FIFOs of the new time,
// or with none (the master ran anew on the same clock): then its records
// are of this time again. The device network may hear the new run first (its presence
// comes with a newer boot count, and its values may follow on channels made
// anew before its first time message): the hold begins then, and its time
// message, which restarts the lock, is awaited for kUnconfirmedHoldMs at
// most. Guarded by newRunMx, a leaf lock taken under a FIFO's.
struct NewRunHold {
    bool on = false;
    bool timeHeard = true;  // the time service took the new run (else only the network heard it)
    uint16_t pid = 0;       // the time master's
    uint32_t steps = 0;     // timeEpoch() when its new run was heard
    uint32_t relocks = 0;   // host::timeRelocksWithoutStepBack() then
    uint32_t heardAt = 0;   // own count when the network heard it
};
constexpr int32_t kUnconfirmedHoldMs = 5000;   // in ms; 10 stamps a ms
std::mutex newRunMx;
NewRunHold gNewRun;
std::atomic<bool> gNewRunOn{false};   // gNewRun.on, read without the lock by every put

void holdNewRun(uint16_t pid, bool timeHeard) {
    gNewRun.on = true;
    gNewRun.timeHeard = timeHeard;
    gNewRun.pid = pid;
    gNewRun.steps = timeEpoch();
    gNewRun.relocks = host::timeRelocksWithoutStepBack();
    gNewRun.heardAt = host::ownTimeStamp();
    gNewRunOn.store(true);
}

// Whether the time master pid's new run is heard and this device's time
// has not followed it yet; *steps gets timeEpoch() when it was heard.
bool newRunPending(uint16_t pid, uint32_t* steps) {
    if (!gNewRunOn.load()) return false;
    bool unconfirmed = false;
    uint16_t master = 0;
    {
        std::lock_guard<std::mutex> lk(newRunMx);
        if (!gNewRun.on) return false;
        const bool followed =
            timeEpoch() != gNewRun.steps || host::timeRelocksWithoutStepBack() != gNewRun.relocks;
        const bool timedOut = !gNewRun.timeHeard && diff(host::ownTimeStamp(), gNewRun.heardAt) >
                                                        kUnconfirmedHoldMs * 10;
        if (!followed && !timedOut) {
            *steps = gNewRun.steps;
            return pid == gNewRun.pid;
        }
        // stepped onto the new run's time, or it is this time; or its time never came
        gNewRun.on = false;
        gNewRunOn.store(false);
        unconfirmed = !followed;
        master = gNewRun.pid;
    }
    if (unconfirmed)
        syslogx(147, "time master PID 0x%X: a new run heard on the device network, none from its time within %d ms: "
                     "its records are taken in this time again",
                unsigned(master), int(kUnconfirmedHoldMs));
    return false;
}

// Whether a record of f's source is of the time master's new run while f
// is of the old time.
bool ofMastersNewRun(const DataFifo& f) {
    uint32_t steps = 0;
    return newRunPending(f.req.pid, &steps) && f.epoch == steps;
}

// Names the records of the master's new run refused, once the FIFO takes
// its records again or is released.
void nameNewRunRefused(DataFifo& f) {
    if (!f.newRunRefused) return;
    syslogx(148 | SYSLOGX_LOSS, "BLK #%d, Fifo #%d, PID 0x%X: %u records of the time master's new run lost, time "
                 "stamps %u to %u: they came before this device's time followed it",
            f.req.blockNum, f.req.fifoNum, f.req.pid, unsigned(f.newRunRefused), unsigned(f.newRunLow),
            unsigned(f.newRunHigh));
    f.newRunRefused = 0;
}

void logTsErr(const DataFifo& f, uint32_t t) {
    syslogx(148, "TS-Err BLK #%d, Fifo #%d, Cnt: %d PID: 0x%X Curr: %d Last: %d Rast: %d Lat: %d", f.req.blockNum,
            f.req.fifoNum, int(f.tsErrors), f.req.pid, int(t), int(f.lastTs), f.req.raster, int(f.latencyMax));
}

// Names the records the full FIFO refused since they were last named: their
// count and stretch (the once-a-second error line gives only its end).
void nameFullRefused(DataFifo& f) {
    if (!f.fullRefused) return;
    syslogx(148 | SYSLOGX_LOSS, "BLK #%d, Fifo #%d, PID 0x%X, Raster %d: %u records lost, time stamps %u to %u: the "
                 "FIFO was full",
            f.req.blockNum, f.req.fifoNum, f.req.pid, f.req.raster, unsigned(f.fullRefused), unsigned(f.fullLow),
            unsigned(f.fullHigh));
    f.fullRefused = 0;
}

// Whether the FIFO has no room for the record at t; a refused one is counted
// with its stamp.
bool full(DataFifo& f, uint32_t t) {
    if (f.wr - f.rd < f.depth) return false;
    noteRefused(f.fullRefused, f.fullLow, f.fullHigh, t);
    ++f.fullCount;
    meas_fifo_count_full();
    f.newError = true;
    meas_fifo_note_load(f.loadClass, 100);
    return true;
}

void storeValues(DataFifo& f, const uint8_t* values, uint32_t slotOf(const DataFifo&, unsigned, bool*)) {
    for (unsigned e = 0; e < f.req.elemCount; ++e) {
        bool skip = false;
        uint32_t s = slotOf(f, e, &skip);
        if (!skip) std::memcpy(f.col[e] + size_t(s % f.depth) * f.elemBytes[e], values, f.elemBytes[e]);
        values += f.elemBytes[e];
    }
}

// A stamp at or before bound comes too late: bound is the stamp last taken
// out for the file (the records after it may wait in the FIFO still, and a
// late one is sorted in among them), or in latency mode the last stamp put.
// Such a record comes from a clock that went back (a slave that took its
// restarted master's time, a peer not yet in sync), or it is the same
// sample again: the file holds the later records already, so the record
// is refused and counted, and the line logged when such a run of them
// begins; a stamp equal to bound is the same sample again (Back::same). The
// measurement restarts on a clock gone back, with new FIFOs and a new file.
// A source whose records come stamped back for longer than that takes runs
// on a time base of its own that started over (a peer restarted with no
// master to follow): its new time is taken, rather than losing its values,
// and what went out before is no measure for it any more.
enum class Back { no, same, refused, newTime };

Back stampedBack(DataFifo& f, uint32_t t, bool have, uint32_t bound) {
    if (!have || diff(t, bound) >= 0) {
        f.refusingBack = false;
        return have && t == bound ? Back::same : Back::no;
    }
    ++f.tsErrors;
    f.newError = true;
    const uint32_t now = host::ownTimeStamp();   // never stepped
    if (!f.refusingBack) {
        logTsErr(f, t);
        f.refusingBack = true;
        f.backSince = now;
        return Back::refused;
    }
    if (diff(now, f.backSince) <= kBackLimit) return Back::refused;
    syslogx(148, "BLK #%d, Fifo #%d, PID 0x%X: records stamped back for %d s, taken as their source's new time",
            f.req.blockNum, f.req.fifoNum, f.req.pid, int(kBackLimit / 10000));
    f.refusingBack = false;
    f.haveOut = false;
    return Back::newTime;
}

void moveSlot(DataFifo& f, uint32_t from, uint32_t to) {
    const uint32_t a = from % f.depth, b = to % f.depth;
    f.ts[b] = f.ts[a];
    for (unsigned e = 0; e < f.req.elemCount; ++e)
        std::memcpy(f.col[e] + size_t(b) * f.elemBytes[e], f.col[e] + size_t(a) * f.elemBytes[e], f.elemBytes[e]);
}

// Records are kept in time order: one that comes late goes before the
// waiting ones stamped after it, which move up a slot (all under the FIFO's
// mutex, so the reader never sees them half moved). The first record of a
// source's new time goes behind whatever still waits: it has no place
// among the records of its old time.
int putPlain(DataFifo& f, uint32_t t, const uint8_t* values) {
    const Back back = stampedBack(f, t, f.haveOut, f.lastOut);
    if (back == Back::refused) return MF_ERR_TS_INVALID;
    if (back == Back::same) return 0;   // the sample last taken out, again
    uint32_t at = f.wr;
    if (back != Back::newTime)
        while (at != f.rd && diff(f.ts[(at - 1) % f.depth], t) > 0) --at;
    if (at != f.rd && f.ts[(at - 1) % f.depth] == t) return 0;   // the same sample again
    if (full(f, t)) return MF_ERR_FULL;
    for (uint32_t k = f.wr; k != at; --k) moveSlot(f, k - 1, k);
    const uint32_t slot = at % f.depth;
    f.ts[slot] = t;
    for (unsigned e = 0; e < f.req.elemCount; ++e) {
        std::memcpy(f.col[e] + size_t(slot) * f.elemBytes[e], values, f.elemBytes[e]);
        values += f.elemBytes[e];
    }
    ++f.wr;
    if (!f.haveLast || back == Back::newTime || diff(t, f.lastTs) > 0) f.lastTs = t;
    f.haveLast = true;
    ++f.count;
    return 0;
}

// Each element's value belongs to the slot its own latency behind the
// newest one; a slot counts once the slowest element has filled it.
// A late put has no slots of its own here (its values belong to slots at
// their latencies behind the newest): only stamps after the last put are
// taken.
int putLatency(DataFifo& f, uint32_t t, const uint8_t* values) {
    if (stampedBack(f, t, f.haveLast, f.lastTs) == Back::refused) return MF_ERR_TS_INVALID;
    if (full(f, t)) return MF_ERR_FULL;
    if (f.haveLast && t != f.lastTs + f.per.base) {
        ++f.tsErrors;
        f.newError = true;
        logTsErr(f, t);
        if (t == f.lastTs) return 0;
        // the slots still waiting for late elements can never be completed
        uint32_t n = std::min(f.latencyMax, f.fill);
        for (uint32_t k = 1; k <= n; ++k) f.dropped[(f.wr - k) % f.depth] = 1;
        f.fill = 0;
        if (f.count == 0) f.rd = f.wr;
    }
    f.ts[f.wr % f.depth] = t;
    f.dropped[f.wr % f.depth] = 0;
    storeValues(f, values, [](const DataFifo& d, unsigned e, bool* skip) {
        uint32_t lat = d.req.latency[e];
        *skip = lat > d.wr - d.rd;   // would land before the oldest slot
        return d.wr - lat;
    });
    ++f.wr;
    f.lastTs = t;
    f.haveLast = true;
    if (f.fill < f.latencyMax) ++f.fill;
    else ++f.count;
    return 0;
}

// Whether the record at t is kept for the condition state.
bool checkData(DataFifo& f, uint32_t t, unsigned state) {
    if (state > 1) state = 1;
    const FifoPeriods& p = f.per;
    if (f.req.raster == MEAS_RASTER_SYNC) return f.req.mult[state] >= f.req.mult[state ^ 1];
    uint32_t P = p.period[state], B = p.base;
    if (P == B) return true;
    if (P == 0) return false;
    if (f.latencyMax) return t % P < B;
    bool have = f.haveDelivered;
    uint32_t since = have ? t - f.lastDelivered : 0xFFFFFFFFu;
    if (have && diff(f.lastDelivered + B, t) >= 0) return false;
    uint32_t m = t % P, off = std::min(m, P - m);
    bool keep = off <= B / 2 || (since > P && off <= B) || since > P + B;
    if (keep) {
        f.lastDelivered = t;
        f.haveDelivered = true;
    }
    return keep;
}

// Condition state of the record at t: 0/1, or the error of the lookup.
int checkConditions(const DataFifo& f, uint32_t t) {
    if (!f.req.condFifoPlus1) return MF_ERR_NO_COND;
    int v = fifo_condition_check(f.req.condFifoPlus1 - 1u, t);
    if (v < 0) return v;
    if (v == COND_TRANSITION) return f.per.baseIsSecond ? 1 : 0;
    return v;
}

}  // namespace

void fifo_data_set_curr_ts(uint32_t ts) {
    gCurrTs.store(ts, std::memory_order_relaxed);
    // the pause is added before the tick moves on: a put between the two
    // counts it twice, never not at all
    const uint32_t own = host::ownTimeStamp();
    const int32_t pause = diff(own, gTickOwn.load());
    if (gTicked.load() && pause > kStillMin) gStill.fetch_add(uint32_t(pause));
    gTickOwn.store(own);
    gTicked.store(true);
}
void fifo_data_time_resync(int flag) { gResync.store(flag, std::memory_order_relaxed); }
uint32_t fifo_data_step_back() {
    gStepsBack.fetch_add(1);
    return timeEpoch();
}
uint32_t fifo_data_steps_back() { return timeEpoch(); }

void fifo_data_master_runs_anew(uint16_t pid) {
    std::lock_guard<std::mutex> lk(newRunMx);
    holdNewRun(pid, true);
}

void fifo_data_master_restarts(uint16_t pid) {
    std::lock_guard<std::mutex> lk(newRunMx);
    if (gNewRun.on && gNewRun.pid == pid) return;   // held already (its time came first)
    holdNewRun(pid, false);
}

bool fifo_data_of_masters_new_run(uint16_t pid) {
    uint32_t steps = 0;
    return newRunPending(pid, &steps);
}

int fifo_data_request(const MeasFifoDataRequest& r) {
    if (r.fifoNum >= MEAS_DATA_FIFOS) return MF_ERR_FIFO_INVALID;
    DataFifo& f = gFifo[r.fifoNum];
    std::lock_guard<std::mutex> lk(f.mx);
    if (f.buf) {
        syslogx(147, "fifo_data_request BLK #%d for Fifo #%d: MF_ERR_FIFO_IN_USE.", r.blockNum, r.fifoNum);
        return MF_ERR_FIFO_IN_USE;
    }
    if (r.elemCount == 0 || r.elemCount > MEAS_FIFO_MAX_ELEMS) return MF_ERR_TYPE;
    uint32_t L = 0;
    for (unsigned e = 0; e < r.elemCount; ++e) {
        if (r.elemSizes[e] != 1 && r.elemSizes[e] != 2 && r.elemSizes[e] != 4) return MF_ERR_TYPE;
        L = std::max<uint32_t>(L, r.latency[e]);
    }
    FifoPeriods per{};
    if (!fifo_periods(r.raster, r.mult[0], r.mult[1], L != 0, &per)) {
        syslogx(147, "fifo_data_request BLK #%d for Fifo #%d: MF_ERR_RASTER 0x%X.", r.blockNum, r.fifoNum, r.raster);
        return MF_ERR_RASTER;
    }
    uint32_t depth = std::max(2 * (L | 15) + 2, 4 * meas_app_getslotnum(r.raster));
    uint32_t needed = 2u * DATADELAY() * 10;
    if (per.slotTime && per.slotTime * depth < needed) {
        syslogx(150, "BLK #%d, Fifo #%d was not deep enough for Laptrigger delay (2 x %d ms)", r.blockNum, r.fifoNum,
                int(DATADELAY()));
        syslogx(150, "Old depth: %d for %d ms", int(depth), int(per.slotTime * depth / 10));
        while (per.slotTime * depth < needed) depth *= 2;
        syslogx(150, "New depth: %d for %d ms", int(depth), int(per.slotTime * depth / 10));
    }
    const uint32_t sps = meas_app_samplesPerRecord(r.raster);
    uint32_t valueBytes = 0;
    for (unsigned e = 0; e < r.elemCount; ++e) {
        f.elemBytes[e] = r.elemSizes[e] * sps;
        valueBytes += f.elemBytes[e];
    }
    uint8_t* mem = new (std::nothrow) uint8_t[size_t(depth) * (4 + valueBytes + 1)];
    if (!mem) {
        syslogx(147, "fifo_data_request BLK #%d for Fifo #%d: MF_ERR_MEM_ALLOC.", r.blockNum, r.fifoNum);
        return MF_ERR_MEM_ALLOC;
    }
    f.buf.reset(mem);
    f.req = r;
    f.ts = reinterpret_cast<uint32_t*>(mem);
    uint8_t* p = mem + size_t(depth) * 4;
    for (unsigned e = 0; e < r.elemCount; ++e) {
        f.col[e] = p;
        p += size_t(depth) * f.elemBytes[e];
    }
    f.dropped = p;
    std::memset(f.dropped, 0, depth);
    f.depth = depth;
    f.slotSize = 4 + valueBytes;
    f.wr = f.rd = f.count = 0;
    f.lastTs = 0xFFFFFFFFu;   // (said as the last stamp until one is put)
    f.lastDelivered = f.lastOut = 0;
    f.newError = f.refusingBack = f.haveOut = f.haveLast = f.haveDelivered = f.inTimeSeen = false;
    f.tsErrors = f.fullCount = 0;
    time_stepListen(onTimeStep);   // once: registering again changes nothing
    f.epoch = timeEpoch();
    f.newTimeRefused = f.newRunRefused = f.fullRefused = 0;
    f.latencyMax = L;
    f.fill = 0;
    f.per = per;
    f.loadClass = r.raster;
    if (MEAS_APP_DEBUG() == 1) {
        char rn[16];
        syslogx(151, "BLK #%d, Fifo #%d, Raster %s, PID 0x%X, Latency_max %d, %d deep for %d ms", r.blockNum,
                r.fifoNum, convraster2ascii(r.raster, rn), r.pid, int(L), int(depth), int(per.slotTime * depth / 10));
    }
    return 0;
}

int fifo_data_release(unsigned n) {
    if (n >= MEAS_DATA_FIFOS) return MF_ERR_NOT_SET_UP;
    DataFifo& f = gFifo[n];
    std::lock_guard<std::mutex> lk(f.mx);
    if (!f.buf) return MF_ERR_NOT_SET_UP;
    nameNewRunRefused(f);
    nameFullRefused(f);
    if (f.newTimeRefused)
        syslogx(148 | SYSLOGX_LOSS, "BLK #%d, Fifo #%d, PID 0x%X: %u records put after the time went back (stamped %u to %u) not "
                     "recorded: the measurement restarts in the new time",
                f.req.blockNum, f.req.fifoNum, f.req.pid, unsigned(f.newTimeRefused), unsigned(f.newTimeLow),
                unsigned(f.newTimeHigh));
    if (MEAS_APP_DEBUG() == 1) {
        char rn[16];
        syslogx(151, "BLK #%d, Fifo #%d released, Raster %s, PID 0x%X", f.req.blockNum, f.req.fifoNum,
                convraster2ascii(f.req.raster, rn), f.req.pid);
    }
    f.buf.reset();
    f.ts = nullptr;
    f.dropped = nullptr;
    f.depth = f.count = 0;
    return 0;
}

void fifo_data_release_all() {
    for (unsigned n = 0; n < MEAS_DATA_FIFOS; ++n) fifo_data_release(n);
    meas_fifo_data_init_load_vars();
}

// Whether a record stamped more than a second behind this device's time
// came late rather than from another time base: the device's own values are
// in its own time whatever their stamps; another's go on from their block's
// records in this device's time: begun by one in time, stamped after the
// last one the block took, which was taken a few seconds before at most,
// the while this device stood still not counted (this device or the source
// was put aside, and what waited comes now, in order; after a long stall it
// may come late for seconds more while it catches up). The source's silence
// counts from when the record after that last one was due: a stall begins
// up to a period after it. A source in another
// time base behind has no record in this one to go on from, stamps before
// it, or comes after a longer silence.
bool cameLate(const DataFifo& f, uint32_t t) {
    if (f.req.pid == app_pid) return true;
    if (!f.inTimeSeen || !f.haveLast || diff(t, f.lastTs) < 0) return false;
    const uint32_t own = host::ownTimeStamp();
    return diff(own, f.takenAt) - diff(stoodStill(own), f.stillAt) <= kLagSpan + int32_t(f.per.putPeriod);
}

int fifo_data_put(unsigned n, const uint8_t* slot) {
    DataFifo* f = n < MEAS_DATA_FIFOS ? &gFifo[n] : nullptr;
    std::unique_lock<std::mutex> lk;
    if (f) lk = std::unique_lock<std::mutex>(f->mx);
    if (!f || !f->buf || !slot) {
        noteInvalidPut(n);
        return MF_ERR_FIFO_INVALID;
    }
    uint32_t t = be_get32(slot);
    if (ofOldTime(*f)) return refuseNewTime(*f, t);
    if (ofMastersNewRun(*f)) {
        noteRefused(f->newRunRefused, f->newRunLow, f->newRunHigh, t);
        return MF_ERR_TS_INVALID;
    }
    nameNewRunRefused(*f);
    // Only a stamp ahead of the live clock is from the future. The data time
    // moves with the logging raster: while that runs late, the records taken
    // meanwhile are ahead of it and wait here as long as the FIFO has room.
    // A stamp more than a second off, either way, is of another time base
    // (its source follows another time master, or none) unless it came late
    // (cameLate): it must never set the measurement's time. It is counted;
    // the logging application names its source once, so it is no new error
    // to log again every second. The device's own values are never of
    // another time base: one of them ahead was taken before its own clock
    // stepped back, which restarts the measurement.
    const int32_t off = diff(t, time_getTimestamp());
    const bool own = f->req.pid == app_pid;
    if (off > 1000) {
        ++f->tsErrors;
        if (off <= kForeignLimit || own) f->newError = true;
        return off <= kForeignLimit || own ? MF_ERR_TS_INVALID : MF_ERR_TS_FOREIGN;
    }
    // an own record stamped before one already put was taken after the
    // clock went back: this FIFO, and every other of the old time, takes
    // no more (the time service notes the step a little later)
    if (own && f->req.raster <= MEAS_RASTER_1S && f->haveLast && diff(t, f->lastTs) < -kOwnBackSlack) {
        gStepsBack.fetch_add(1);
        return refuseNewTime(*f, t);
    }
    const bool late = off < -kForeignLimit;
    if (late && !cameLate(*f, t)) {
        ++f->tsErrors;
        return MF_ERR_TS_FOREIGN;
    }
    int r = f->latencyMax ? putLatency(*f, t, slot + 4) : putPlain(*f, t, slot + 4);
    if (r == 0) {
        f->inTimeSeen = f->inTimeSeen || !late;
        f->takenAt = host::ownTimeStamp();
        f->stillAt = stoodStill(f->takenAt);
    }
    if (r == 0) meas_fifo_note_load(f->loadClass, 100u * f->count / f->depth);
    return r;
}

int fifo_data_get(unsigned n, uint8_t* dest, int applyDelay, uint32_t* outTs) {
    if (!dest) {
        SYSLOGX_FLOOD(floodGetDest, 147, "fifo_data_get Fifo #%d: MF_ERR_MEM_DEST.", int(n));
        return MF_ERR_MEM_DEST;
    }
    DataFifo* f = n < MEAS_DATA_FIFOS ? &gFifo[n] : nullptr;
    std::unique_lock<std::mutex> lk;
    if (f) lk = std::unique_lock<std::mutex>(f->mx);
    if (!f || !f->buf) {
        SYSLOGX_FLOOD(floodGetInvalid, 147, "fifo_data_get Fifo #%d: MF_ERR_FIFO_INVALID.", int(n));
        return MF_ERR_FIFO_INVALID;
    }
    const uint32_t now = gCurrTs.load(std::memory_order_relaxed);
    while (f->count > 0) {
        uint32_t idx = f->rd % f->depth;
        if (f->dropped[idx]) {   // emptied by a gap
            f->dropped[idx] = 0;
            ++f->rd;
            if (!f->latencyMax && --f->count == 0) return MF_ERR_TS_INVALID;
            continue;
        }
        const uint32_t t = f->ts[idx];
        if (outTs) *outTs = t;
        // after the clock went back the records taken before are delivered
        // at once: they would otherwise wait for the clock to catch up
        const bool resync = gResync.load(std::memory_order_relaxed) != 0 || ofOldTime(*f);
        if (diff(now, t) < 0 && !resync) {
            if (!resync)
                SYSLOGX_FLOOD(floodLocaltime, 148,
                              "Localtime is older than datatime BLK #%d, Fifo #%d! Localtime: %d, Daten: %d, Diff: %d.",
                              f->req.blockNum, f->req.fifoNum, int(now), int(t), int(diff(t, now)));
            return MF_NOT_YET;
        }
        if (applyDelay && !(resync && diff(now, t) < 0) && diff(now, t) <= int32_t(DATADELAY()) * 10)
            return MF_NOT_YET;
        bool keep = true;
        if (f->req.condFifoPlus1) {
            int s = checkConditions(*f, t);
            if (s == MF_NOT_YET) return MF_WAIT_COND;
            if (s < 0) s = f->req.mult[1] >= f->req.mult[0] ? 1 : 0;
            keep = checkData(*f, t, unsigned(s));
        }
        if (keep) {
            be_put32(dest, t);
            uint8_t* d = dest + 4;
            for (unsigned e = 0; e < f->req.elemCount; ++e) {
                std::memcpy(d, f->col[e] + size_t(idx) * f->elemBytes[e], f->elemBytes[e]);
                d += f->elemBytes[e];
            }
        }
        ++f->rd;
        --f->count;
        f->lastOut = t;   // a late record before it has no place any more
        f->haveOut = true;
        if (keep) return int(f->slotSize);
    }
    return MF_NOTHING;
}

bool fifo_data_info(unsigned n, uint32_t* depth, uint32_t* fullCount) {
    if (n >= MEAS_DATA_FIFOS) return false;
    DataFifo& f = gFifo[n];
    std::lock_guard<std::mutex> lk(f.mx);
    if (!f.buf) return false;
    if (depth) *depth = f.depth;
    if (fullCount) *fullCount = f.fullCount;
    return true;
}

// New errors of the data FIFOs, once a second from the logging raster.
bool meas_fifo_data_log_new_errors() {
    bool any = false;
    for (DataFifo& f : gFifo) {
        std::lock_guard<std::mutex> lk(f.mx);
        if (!f.buf || !f.newError) continue;
        syslogx(148, "New error BLK #%d, Fifo #%d, PID 0x%X, Raster %d, type '%s': FullCnt %d, TS ErrCnt %d, LastTS %u CurTs %u",
                f.req.blockNum, f.req.fifoNum, f.req.pid, f.req.raster, f.latencyMax ? "LATENCY" : "NO_LATENCY",
                int(f.fullCount), int(f.tsErrors), unsigned(f.lastTs), unsigned(gCurrTs.load()));
        f.newError = false;
        any = true;
        nameFullRefused(f);
    }
    return any;
}
