// Load statistics of the data FIFOs: the highest fill per load class since the
// last publication, and the count of dropped samples.
#include <atomic>
#include <cstddef>

#include "logging/fifo/meas_fifo.h"
#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "platform/io.h"

bool meas_fifo_data_log_new_errors();   // fifo_data.cpp

namespace {
MeasFifoSignals privateSignals{};
MeasFifoSignals* sig = &privateSignals;

// Producers on several raster tasks raise the maxima; -1 = not updated.
std::atomic<int> gLoadMax[MEAS_FIFO_LOAD_CLASSES];

constexpr uint32_t kStatusFifoOk = 0x20000;
}  // namespace

MeasFifoSignals& meas_fifo_signals() { return *sig; }

int meas_fifo_publishSignals() {
    uint32_t vaddr = seramSignalAlloc(sizeof(MeasFifoSignals));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    auto* s = reinterpret_cast<MeasFifoSignals*>(p);
    *s = *sig;
    sig = s;
    static const char* const kNames[MEAS_FIFO_LOAD_SIGNALS] = {
        "fifo_load_max_R1ms",   "fifo_load_max_R2ms",  "fifo_load_max_R5ms",  "fifo_load_max_R10ms",
        "fifo_load_max_R20ms",  "fifo_load_max_R50ms", "fifo_load_max_R100ms", "fifo_load_max_R200ms",
        "fifo_load_max_R500ms", "fifo_load_max_R1s",   "fifo_load_max_Rsync", "fifo_load_max_Rlap",
        "fifo_load_max_Rlap_sb"};
    int ok = 1;
    for (unsigned i = 0; i < MEAS_FIFO_LOAD_SIGNALS; ++i)
        ok &= catalogue_add(kNames[i], vaddr + uint32_t(offsetof(MeasFifoSignals, fifo_load_max) + i), TE_UINT8);
    ok &= catalogue_add("fifo_full_ctr", vaddr + uint32_t(offsetof(MeasFifoSignals, fifo_full_ctr)), TE_UINT32);
    return ok;
}

void meas_fifo_data_init_load_vars() {
    for (auto& m : gLoadMax) m.store(-1, std::memory_order_relaxed);
}

void meas_fifo_note_load(unsigned cls, uint32_t percent) {
    if (cls >= MEAS_FIFO_LOAD_CLASSES) return;
    int v = int(percent > 100 ? 100 : percent);
    int cur = gLoadMax[cls].load(std::memory_order_relaxed);
    while (v > cur && !gLoadMax[cls].compare_exchange_weak(cur, v, std::memory_order_relaxed)) {
    }
}

void meas_fifo_count_full() { std::atomic_ref<uint32_t>(sig->fifo_full_ctr).fetch_add(1, std::memory_order_relaxed); }

void meas_fifo_data_update_load_vars() {
    for (unsigned c = 0; c < MEAS_FIFO_LOAD_SIGNALS; ++c) {
        int v = gLoadMax[c].exchange(-1, std::memory_order_relaxed);
        if (v >= 0) sig->fifo_load_max[c] = uint8_t(v);
    }
}

void meas_fifo_data_syslog() {
    if (meas_fifo_data_log_new_errors()) meas_led_clr_status(kStatusFifoOk);
    else meas_led_set_status(kStatusFifoOk);
}
