#include "logging/fifo/meas_cnt.h"

#include <atomic>
#include <initializer_list>

#include "logging/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "platform/timebase.h"

namespace {
MeasCntRates gRates{};
uint32_t gRefBytes[2][2] = {};   // [m01, m03][internal, USB]
uint32_t gRefTs = 0;
bool gHaveRef = false;

unsigned slotOf(unsigned measIdx) { return measIdx == MEAS_IDX_M01 ? 0 : 1; }
}  // namespace

MeasCntPair meas_cnt_reference(unsigned measIdx, unsigned kind) {
    if ((measIdx != MEAS_IDX_M01 && measIdx != MEAS_IDX_M03) || (kind != 0 && kind != 4)) return {nullptr, nullptr};
    MeasStoreWriteCounters& c = meas_store_writeCounters(measIdx, kind == 4 ? 1 : 0);
    return {&c.writes, &c.bytes};
}

const MeasCntRates& meas_cnt_rates() { return gRates; }

void meas_cnt_update() {
    uint32_t bytes[2][2];
    gRates.meas_cnt_int = gRates.meas_cnt_forked = 0;
    for (unsigned m : {MEAS_IDX_M01, MEAS_IDX_M03}) {
        for (unsigned usb = 0; usb < 2; ++usb) {
            const MeasStoreWriteCounters& c = meas_store_writeCounters(m, usb);
            uint32_t w = std::atomic_ref<const uint32_t>(c.writes).load(std::memory_order_relaxed);
            bytes[slotOf(m)][usb] = std::atomic_ref<const uint32_t>(c.bytes).load(std::memory_order_relaxed);
            (usb ? gRates.meas_cnt_forked : gRates.meas_cnt_int) += w;
        }
    }
    const uint32_t now = time_getTimestamp();
    const int32_t elapsed = int32_t(now - gRefTs);
    if (gHaveRef && elapsed > 0 && elapsed < 10000) return;
    for (unsigned i = 0; i < 2; ++i) {
        float* rate[2] = {&gRates.meas_write_rate_intern[i], &gRates.meas_write_rate_usb[i]};
        for (unsigned usb = 0; usb < 2; ++usb)
            *rate[usb] = gHaveRef && elapsed > 0 ? float(bytes[i][usb] - gRefBytes[i][usb]) * 10000.0f / float(elapsed)
                                                 : 0.0f;
    }
    for (unsigned i = 0; i < 2; ++i)
        for (unsigned usb = 0; usb < 2; ++usb) gRefBytes[i][usb] = bytes[i][usb];
    gRefTs = now;
    gHaveRef = true;
}

void meas_cnt_resetForTest() {
    gRates = {};
    gHaveRef = false;
}
