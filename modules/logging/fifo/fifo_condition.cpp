// Condition FIFOs: the history of each per-block start condition, sampled at
// 5 ms, so that the data FIFOs can look the condition up at each record's
// time stamp.
#include <atomic>
#include <memory>
#include <mutex>

#include "logging/fifo/meas_fifo.h"
#include "logging/config/meas_config.h"
#include "measurement/calparams.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;

struct CondEntry {
    uint32_t ts;
    uint8_t value;
};

struct CondFifo {
    std::mutex mx;
    MeasFifoCondRequest req{};
    std::unique_ptr<CondEntry[]> ring;   // null = not set up
    uint32_t wr = 0, rd = 0, count = 0;
    uint32_t window = 0;                 // 0.1 ms
    bool lapDelay = false;
    bool invalidReported = false;
};

CondFifo gFifo[MEAS_COND_FIFOS];
std::atomic<uint32_t> gCurrTs{0};
uint8_t floodPutNum, floodPutInvalid;

// a after b (time stamps wrap at 2^32)
inline int32_t diff(uint32_t a, uint32_t b) { return int32_t(a - b); }

uint8_t valueOf(const uint8_t* p, unsigned size) {
    switch (size) {
    case 1: return p[0] ? 1 : 0;
    case 2: return be_get16(p) ? 1 : 0;
    case 4: return be_get32(p) ? 1 : 0;
    default: return COND_UNKNOWN_TYPE;
    }
}

const CondEntry& at(const CondFifo& f, uint32_t logical) { return f.ring[(f.rd + logical) % MEAS_COND_RING]; }

}  // namespace

void fifo_cond_set_curr_ts(uint32_t ts) { gCurrTs.store(ts, std::memory_order_relaxed); }

void fifo_condition_init() {
    for (CondFifo& f : gFifo) {
        std::lock_guard<std::mutex> lk(f.mx);
        f.invalidReported = false;
    }
}

int fifo_condition_request(const MeasFifoCondRequest& r) {
    if (r.fifoNum >= MEAS_COND_FIFOS) {
        syslogx(147, "fifo_cond_request BLK #%d for Fifo #%d: MF_ERR_COND_NUM.", r.blockNum, r.fifoNum);
        return MF_ERR_COND_NUM;
    }
    CondFifo& f = gFifo[r.fifoNum];
    std::lock_guard<std::mutex> lk(f.mx);
    if (f.ring) {
        syslogx(147, "fifo_cond_request BLK #%d for Fifo#%d: MF_ERR_FIFO_IN_USE.", r.blockNum, r.fifoNum);
        return MF_ERR_FIFO_IN_USE;
    }
    if (r.elemSize != 1 && r.elemSize != 2 && r.elemSize != 4) {
        syslogx(147, "fifo_cond_request BLK #%d for Fifo #%d: MF_ERR_TYPE.", r.blockNum, r.fifoNum);
        return MF_ERR_TYPE;
    }
    if (r.raster != MEAS_RASTER_5MS) {
        syslogx(147, "fifo_cond_request BLK #%d for Fifo #%d: MF_ERR_RASTER.", r.blockNum, r.fifoNum);
        return MF_ERR_RASTER;
    }
    CondEntry* ring = new (std::nothrow) CondEntry[MEAS_COND_RING];
    if (!ring) {
        syslogx(147, "fifo_cond_request BLK #%d for Fifo #%d: MF_ERR_MEM_ALLOC.", r.blockNum, r.fifoNum);
        return MF_ERR_MEM_ALLOC;
    }
    for (unsigned i = 0; i < MEAS_COND_RING; ++i) ring[i] = {kEmpty, 0};
    f.ring.reset(ring);
    f.req = r;
    f.wr = f.rd = f.count = 0;
    // a change is seen late by the sampling (20 ms) and, from another device,
    // by the network (40 ms)
    f.window = uint32_t(r.windowMs) * 10 + (r.pid == app_pid ? 200 : 400);
    f.lapDelay = r.lapDelayMs != 0;
    if (MEAS_APP_DEBUG() == 1) {
        char rn[16];
        syslogx(151, "Condition BLK #%d, Fifo #%d, Raster %s, PID 0x%X, %d deep for %d ms", r.blockNum, r.fifoNum,
                convraster2ascii(r.raster, rn), r.pid, int(MEAS_COND_RING), int(MEAS_COND_RING * 5));
    }
    return 0;
}

int fifo_condition_put(unsigned n, const uint8_t* slot) {
    if (n >= MEAS_COND_FIFOS) {
        SYSLOGX_FLOOD(floodPutNum, 147 | SYSLOGX_LOSS, "fifo_condition_put Fifo #%d: MF_ERR_COND_NUM.", int(n));
        return MF_ERR_COND_NUM;
    }
    CondFifo& f = gFifo[n];
    std::lock_guard<std::mutex> lk(f.mx);
    if (!f.ring || !slot) {
        SYSLOGX_FLOOD(floodPutInvalid, 147 | SYSLOGX_LOSS, "fifo_condition_put Fifo #%d: MF_ERR_FIFO_INVALID.", int(n));
        return MF_ERR_FIFO_INVALID;
    }
    uint32_t ts = be_get32(slot);
    // from the future only when ahead of the live clock: a logging raster that
    // runs late must not leave holes in the history it will look up
    if (diff(ts, time_getTimestamp()) > 1000) return MF_ERR_TS_INVALID;
    if (f.count == MEAS_COND_RING) {   // the oldest entry makes room
        f.ring[f.rd] = {kEmpty, 0};
        f.rd = (f.rd + 1) % MEAS_COND_RING;
        --f.count;
    }
    if (f.lapDelay) {
        uint32_t delay = uint32_t(f.req.lapDelayMs) * 10;
        if (ts < delay) return 0;
        ts -= delay;
    }
    uint8_t v = valueOf(slot + 4, f.req.elemSize);
    if (f.count > 0 && f.window) {
        uint32_t prevIdx = (f.wr + MEAS_COND_RING - 1) % MEAS_COND_RING;
        uint8_t prev = f.ring[prevIdx].value;
        bool change = (v == COND_TRUE && prev != COND_TRUE) || (v == COND_FALSE && prev != COND_FALSE);
        if (change) {
            uint32_t n2 = std::min(f.count, f.window / 10 + 1);
            for (uint32_t k = 0; k < n2; ++k) {
                CondEntry& e = f.ring[(prevIdx + MEAS_COND_RING - k) % MEAS_COND_RING];
                if (e.ts == kEmpty || diff(ts, e.ts) > int32_t(f.window)) break;
                e.value = COND_TRANSITION;
            }
        }
    }
    f.ring[f.wr] = {ts, v};
    f.wr = (f.wr + 1) % MEAS_COND_RING;
    ++f.count;
    return 0;
}

int fifo_condition_check(unsigned n, uint32_t t) {
    if (n >= MEAS_COND_FIFOS) {
        syslogx(147, "fifo_condition_check Fifo #%d: MF_ERR_COND_NUM.", int(n));
        return MF_ERR_COND_NUM;
    }
    if (t == kEmpty) {
        syslogx(147, "fifo_condition_check Fifo #%d: MF_ERR_TS_INVALID.", int(n));
        return MF_ERR_TS_INVALID;
    }
    CondFifo& f = gFifo[n];
    std::lock_guard<std::mutex> lk(f.mx);
    if (!f.ring) {
        if (!f.invalidReported && !signalPage()->meas_app_blkstopreq) {
            f.invalidReported = true;
            syslogx(147, "fifo_condition_check Fifo #%d: MF_ERR_FIFO_INVALID.", int(n));
        }
        return MF_ERR_FIFO_INVALID;
    }
    if (f.invalidReported) {
        f.invalidReported = false;
        syslogx(150, "fifo_condition_check Fifo #%d: reset MF_ERR_FIFO_INVALID. error healed ", int(n));
    }
    if (f.count == 0) return MF_ERR_NO_COND;
    const uint32_t oldest = at(f, 0).ts;
    const uint32_t newest = at(f, f.count - 1).ts;
    if (diff(t, oldest) < 0) return MF_ERR_TS_OLD;
    if (diff(t, newest) > 0) {
        int32_t past = diff(gCurrTs.load(std::memory_order_relaxed), newest);
        if (past <= 0) return MF_ERR_TS_INVALID;
        if (past >= 2000) return MF_ERR_COND_STALE;
        return MF_NOT_YET;
    }
    // the last entry at or before t (entries are in time order)
    uint32_t lo = 0, hi = f.count - 1;
    while (lo < hi) {
        uint32_t mid = (lo + hi + 1) / 2;
        if (diff(at(f, mid).ts, t) <= 0) lo = mid;
        else hi = mid - 1;
    }
    return at(f, lo).value;
}

int fifo_condition_release(unsigned n) {
    if (n >= MEAS_COND_FIFOS) {
        syslogx(147, "fifo_cond_release Fifo #%d: MF_ERR_COND_NUM.", int(n));
        return MF_ERR_COND_NUM;
    }
    CondFifo& f = gFifo[n];
    std::lock_guard<std::mutex> lk(f.mx);
    if (!f.ring) return MF_ERR_NOT_SET_UP;
    f.ring.reset();
    f.wr = f.rd = f.count = 0;
    return 0;
}

void fifo_condition_release_all() {
    for (unsigned n = 0; n < MEAS_COND_FIFOS; ++n) fifo_condition_release(n);
}
