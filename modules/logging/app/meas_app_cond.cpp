// Global start conditions, evaluated every 10 ms: they switch the data lists
// of a measurement between slow and full speed, or, with a pretrigger, arm
// and trigger the store's pretrigger buffer.
#include <cstring>
#include <ctime>

#include "logging/app/meas_app_internal.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "platform/byteorder.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

uint8_t floodCondLock;
uint8_t prevTestbenchReset = 0;

constexpr uint32_t kErrorEvaluations = 200;   // about 2 s at 10 ms
constexpr long kMinRunMs = 2000;

// Evaluates one COND block into the active-condition bits. Caller holds the
// condition lock.
void evaluate(meas_t& m, MeasBlock* b, uint32_t now) {
    if (b->condState == 0xFF) {
        if (gApp.powerdown.load()) return;
        if (b->condErrorCount <= kErrorEvaluations) ++b->condErrorCount;
        // a condition whose source is gone must not block logging for good
        else if (meas_app_applMs() >= kMinRunMs) m.activeConditions |= b->ownCondBit;
        return;
    }
    if (b->condState != 1 || !b->condBuffer) return;
    const auto* rec = static_cast<const uint8_t*>(b->condBuffer);
    const uint32_t ts = be_get32(rec);
    if (int32_t(ts - now) > 1000) {
        meas_app_noteIllegalCondStamp(b, ts, now);
        return;
    }
    meas_app_noteCondStampInTime(b);
    bool v;
    switch (b->config->chanSizes[0]) {
    case 1: v = rec[4] != 0; break;
    case 2: v = be_get16(rec + 4) != 0; break;
    case 4: v = be_get32(rec + 4) != 0; break;
    default: return;
    }
    if (v) m.activeConditions |= b->ownCondBit;
    else m.activeConditions &= ~b->ownCondBit;
}

// Without pretrigger: the data blocks follow the global condition.
void switchBlocks(meas_t& m, bool start) {
    for (unsigned i = 0; i < blockCountOf(m); ++i) {
        MeasBlock* b = &m.blocks[i];
        if (b->pid == 0 || b->ownCondBit || isSbLap(b)) continue;
        const int n = b->config->blockNumber;
        if (meas_app_set_blockspeed(b, start ? 1 : 0)) syslogx(159, start ? "m0%d, BLK #%d started" : "m0%d, BLK #%d stopped", b->measIdx + 1, n);
        else syslogx(156, start ? "m0%d, BLK#%d start returned error." : "m0%d, BLK#%d stop returned error.", b->measIdx + 1, n);
    }
}

void checkTestbenchReset() {
    if (OUTINGCTR_MODE() != 1) return;
    const uint8_t v = calLoad(calActive().OUTINGCTR_MODE_TESTBENCH_RESET);
    if (prevTestbenchReset == 0 && v == 1) {
        LapOutFraState s{};
        LapOutFra_getState(&s);
        syslogx(150, "Testbenchmode, resetting counters from Lap/Out %d/%d to 1/1", s.lap, s.outing);
        LapOutFra_setLapOutCnt(1, 1, time_getTimestamp());
    }
    prevTestbenchReset = v;
}

}  // namespace

void meas_app_check_measconditions() {
    const uint32_t now = time_getTimestamp();
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (!(m.stateFlags & 1)) continue;
        if (semTake(m.condLock, WAIT_FOREVER) != OK) {
            SYSLOGX_FLOOD(floodCondLock, 147, "meas_app_check_measconditions() semTake failed errno %X", 0u);
            continue;
        }
        // a destroy frees the configuration under this lock: look at it only here
        if (!m.config || !m.config->globalStartMask || !meas_app_condlist[idx]) {
            semGive(m.condLock);
            continue;
        }
        for (MeasBlock* b = meas_app_condlist[idx]; b; b = b->next) evaluate(m, b, now);
        const bool g = (m.activeConditions & m.globalCondBit) != 0;
        m.stateFlags = uint16_t(g ? (m.stateFlags | 4u) : (m.stateFlags & ~4u));
        const bool waiting = m.stateFlags & 2;
        uint8_t* globcond = idx == MEAS_IDX_M01 ? &sp().meas_globcond_m01 : idx == MEAS_IDX_M03 ? &sp().meas_globcond_m03 : nullptr;
        if (!(m.config->pretriggerTime > 0)) {
            if (globcond) flag(*globcond).store(g ? 1 : 0);
            if (g == waiting) {
                switchBlocks(m, waiting);
                m.stateFlags ^= 2u;
            }
        } else if (globcond) {
            const uint8_t prev = flag(*globcond).load();
            if (!prev && g) {
                meas_app_PreTrigTrigger(m.store);
                m.stateFlags &= uint16_t(~2u);
            } else if (prev && !g) {
                meas_app_PreTrigArm(m.store);
                m.stateFlags |= 2u;
            }
            flag(*globcond).store(g ? 1 : 0);
        }
        semGive(m.condLock);
    }
    if ((meas[MEAS_IDX_M01].stateFlags & 2) || (meas[MEAS_IDX_M03].stateFlags & 2))
        meas_led_clr_status(MEAS_STATUS_NOT_WAITING);
    else
        meas_led_set_status(MEAS_STATUS_NOT_WAITING);
    checkTestbenchReset();
}
