#include "logging/fifo/meas_cnt.h"

#include <atomic>
#include <cstddef>
#include <initializer_list>

#include "logging/config/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "platform/timebase.h"

namespace {
MeasCntSignals privateSignals{};
MeasCntSignals* sig = &privateSignals;
uint32_t gRefBytes[2][2] = {};   // [m01, m03][internal, USB]
uint32_t gRefTs = 0;
bool gHaveRef = false;

unsigned slotOf(unsigned measIdx) { return measIdx == MEAS_IDX_M01 ? 0 : 1; }

// Tools read the signal page at any time: whole words.
void put(uint32_t& dst, uint32_t v) { std::atomic_ref<uint32_t>(dst).store(v, std::memory_order_relaxed); }
void put(float& dst, float v) { std::atomic_ref<float>(dst).store(v, std::memory_order_relaxed); }
}  // namespace

MeasCntPair meas_cnt_reference(unsigned measIdx, unsigned kind) {
    if ((measIdx != MEAS_IDX_M01 && measIdx != MEAS_IDX_M03) || (kind != 0 && kind != 4)) return {nullptr, nullptr};
    MeasStoreWriteCounters& c = meas_store_writeCounters(measIdx, kind == 4 ? 1 : 0);
    return {&c.writes, &c.bytes};
}

const MeasCntSignals& meas_cnt_rates() { return *sig; }

int meas_cnt_publishSignals() {
    const uint32_t vaddr = seramSignalAlloc(sizeof(MeasCntSignals));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    auto* s = reinterpret_cast<MeasCntSignals*>(p);
    *s = *sig;
    sig = s;
    int ok = 1;
#define CNT(field, type) \
    ok &= catalogue_add(#field, vaddr + uint32_t(offsetof(MeasCntSignals, field)), type, \
                        uint16_t(sizeof(MeasCntSignals::field) / 4))
    CNT(meas_cnt_int_arr, TE_UINT32);
    CNT(write_bytes_intern, TE_UINT32);
    CNT(meas_cnt_forked_arr, TE_UINT32);
    CNT(write_bytes_usb, TE_UINT32);
    CNT(meas_cnt_int, TE_UINT32);
    CNT(meas_cnt_forked, TE_UINT32);
    CNT(meas_write_rate_intern, TE_FLOAT);
    CNT(meas_write_rate_usb, TE_FLOAT);
#undef CNT
    return ok;
}

void meas_cnt_update() {
    MeasCntSignals& s = *sig;
    uint32_t bytes[2][2];
    uint32_t sumInt = 0, sumUsb = 0;
    for (unsigned m : {MEAS_IDX_M01, MEAS_IDX_M03}) {
        const unsigned i = slotOf(m);
        for (unsigned usb = 0; usb < 2; ++usb) {
            const MeasStoreWriteCounters& c = meas_store_writeCounters(m, usb);
            const uint32_t w = std::atomic_ref<const uint32_t>(c.writes).load(std::memory_order_relaxed);
            bytes[i][usb] = std::atomic_ref<const uint32_t>(c.bytes).load(std::memory_order_relaxed);
            put(usb ? s.meas_cnt_forked_arr[i] : s.meas_cnt_int_arr[i], w);
            put(usb ? s.write_bytes_usb[i] : s.write_bytes_intern[i], bytes[i][usb]);
            (usb ? sumUsb : sumInt) += w;
        }
    }
    put(s.meas_cnt_int, sumInt);
    put(s.meas_cnt_forked, sumUsb);
    const uint32_t now = time_getTimestamp();
    const int32_t elapsed = int32_t(now - gRefTs);
    if (gHaveRef && elapsed > 0 && elapsed < 10000) return;
    for (unsigned i = 0; i < 2; ++i) {
        float* rate[2] = {&s.meas_write_rate_intern[i], &s.meas_write_rate_usb[i]};
        for (unsigned usb = 0; usb < 2; ++usb)
            put(*rate[usb], gHaveRef && elapsed > 0
                                ? float(bytes[i][usb] - gRefBytes[i][usb]) * 10000.0f / float(elapsed)
                                : 0.0f);
    }
    for (unsigned i = 0; i < 2; ++i)
        for (unsigned usb = 0; usb < 2; ++usb) gRefBytes[i][usb] = bytes[i][usb];
    gRefTs = now;
    gHaveRef = true;
}

void meas_cnt_resetForTest() {
    sig = &privateSignals;
    *sig = MeasCntSignals{};
    gHaveRef = false;
}
