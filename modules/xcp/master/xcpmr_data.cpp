// Channel slots of the XCP master, their time-outs and the instance values in
// the signal page.
//
// The slots are written by the DAQ task and by the 10 ms time-out check and
// read by the gateway without a lock: each slot is written with one store of
// its size, and the time-out counters change by atomic operations only.
#include <cstring>
#include <ctime>

#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "platform/timebase.h"
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"

namespace {
// Signal-page room of the master, laid out once per calibration memory.
struct XcpmrSignals {
    uint32_t measdata[XCPMR_CHANNELS];
    uint32_t timeout[XCPMR_CHANNELS];
    int32_t wander[XCPMR_INSTANCES];
    uint8_t status[XCPMR_INSTANCES];
    uint8_t timestamp[XCPMR_INSTANCES];
};
std::atomic<XcpmrSignals*> gSig{nullptr};

uint32_t defaultApplMs() {
    timespec t{};
    clock_appltime(&t);
    return uint32_t(uint64_t(t.tv_sec) * 1000u + uint64_t(t.tv_nsec) / 1000000u);
}
std::atomic<uint32_t (*)()> gApplMs{defaultApplMs};
std::atomic<uint32_t (*)()> gLocalTs{time_getTimestamp};

template <class T>
void store(T* p, T v) { __atomic_store_n(p, v, __ATOMIC_RELAXED); }
template <class T>
T load(const T* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }

// Default value into a slot with the store of the channel's size.
void storeDefault(unsigned ch, unsigned size, uint32_t v) {
    uint8_t* s = xcpmr_slot(ch);
    switch (size) {
    case 1: store(s, uint8_t(v)); break;
    case 2: store(reinterpret_cast<uint16_t*>(s), uint16_t(v)); break;
    default: store(reinterpret_cast<uint32_t*>(s), v); break;
    }
}
}  // namespace

bool xcpmr_data_alloc() {
    uint32_t v = seramSignalAlloc(sizeof(XcpmrSignals));
    if (!v) return false;
    auto* s = reinterpret_cast<XcpmrSignals*>(seramVirtToPtr(v));
    std::memset(s, 0, sizeof *s);
    const uint32_t base = v;
    catalogue_add("xcpmr_measdata", base + offsetof(XcpmrSignals, measdata), TE_UINT32, XCPMR_CHANNELS);
    catalogue_add("xcpmr_timeout", base + offsetof(XcpmrSignals, timeout), TE_UINT32, XCPMR_CHANNELS);
    catalogue_add("xcpmr_wander", base + offsetof(XcpmrSignals, wander), TE_SINT32, XCPMR_INSTANCES);
    catalogue_add("xcpmr_status", base + offsetof(XcpmrSignals, status), TE_UINT8, XCPMR_INSTANCES);
    catalogue_add("xcpmr_timestamp", base + offsetof(XcpmrSignals, timestamp), TE_UINT8, XCPMR_INSTANCES);
    gSig = s;
    return true;
}

void xcpmr_data_release() { gSig = nullptr; }

uint8_t* xcpmr_slot(unsigned channel) {
    return reinterpret_cast<uint8_t*>(&gSig.load(std::memory_order_relaxed)->measdata[channel]);
}

uint8_t* xcpmr_GetAddr(measaddr_t addr) {
    const unsigned ch = addr & 0xFFF;
    if (ch >= XCPMR_CHANNELS || !gSig.load()) return nullptr;   // the table has 1000 slots
    return xcpmr_slot(ch);
}

const uint8_t* xcpmr_slot_resolver(measaddr_t addr, unsigned) { return xcpmr_GetAddr(addr); }

void xcpmr_data_ini() {
    XcpmrSignals* s = gSig;
    const CalPage& c = xcpmrCal();
    for (unsigned ch = 0; ch < XCPMR_CHANNELS; ++ch) {
        storeDefault(ch, calLoad(c.CfgMat_XcpMr_CHAN_SIZE[ch]), calLoad(c.CfgMat_XcpMr_CHAN_DEFAULT[ch]));
        store(&s->timeout[ch], calLoad(c.CfgMat_XcpMr_CHAN_TIMEOUT[ch]) == 0xFFFFFFFFu ? XCPMR_NO_TIMEOUT : 0u);
    }
}

void xcpmr_data_10ms() {
    XcpmrSignals* s = gSig;
    if (!s) return;
    const CalPage& c = xcpmrCal();
    // Only the channels of an instance's DAQs get data and so can time out;
    // the others keep the default they got at the start.
    for (auto& slot : xcpmr_handle) {
        const XcpmrInstance* h = slot.load();
        if (!h) continue;
        for (const auto& daq : h->daqs)
            for (unsigned o = 0; o < daq->odtsInUse; ++o)
                for (unsigned e = 0; e < daq->odts[o].entryCount; ++e) {
                    const unsigned ch = daq->odts[o].entries[e].channel;
                    const uint32_t limit = calLoad(c.CfgMat_XcpMr_CHAN_TIMEOUT[ch]);
                    uint32_t cur = load(&s->timeout[ch]);
                    if (cur == XCPMR_NO_TIMEOUT || cur >= limit) continue;
                    // the DAQ task may reset the counter meanwhile: then this tick is lost, not the reset
                    if (!__atomic_compare_exchange_n(&s->timeout[ch], &cur, cur + 10, false, __ATOMIC_RELAXED,
                                                     __ATOMIC_RELAXED))
                        continue;
                    if (cur + 10 >= limit) storeDefault(ch, 4, calLoad(c.CfgMat_XcpMr_CHAN_DEFAULT[ch]));
                }
    }
}

void xcpmr_reset_timeout(unsigned channel) {
    XcpmrSignals* s = gSig.load(std::memory_order_relaxed);
    if (!s || channel >= XCPMR_CHANNELS) return;
    uint32_t cur = load(&s->timeout[channel]);
    if (cur != 0 && cur != XCPMR_NO_TIMEOUT) store(&s->timeout[channel], 0u);
}

void xcpmr_set_status(unsigned i, uint8_t v) {
    if (XcpmrSignals* s = gSig.load(); s && i < XCPMR_INSTANCES) store(&s->status[i], v);
}
void xcpmr_set_timestamp_state(unsigned i, uint8_t v) {
    if (XcpmrSignals* s = gSig.load(); s && i < XCPMR_INSTANCES) store(&s->timestamp[i], v);
}
void xcpmr_set_wander(unsigned i, int32_t v) {
    if (XcpmrSignals* s = gSig.load(); s && i < XCPMR_INSTANCES) store(&s->wander[i], v);
}
uint8_t xcpmr_get_status(unsigned i) {
    XcpmrSignals* s = gSig.load();
    return s && i < XCPMR_INSTANCES ? load(&s->status[i]) : 0;
}
uint8_t xcpmr_get_timestamp_state(unsigned i) {
    XcpmrSignals* s = gSig.load();
    return s && i < XCPMR_INSTANCES ? load(&s->timestamp[i]) : 0;
}
int32_t xcpmr_get_wander(unsigned i) {
    XcpmrSignals* s = gSig.load();
    return s && i < XCPMR_INSTANCES ? load(&s->wander[i]) : 0;
}

uint32_t xcpmr_appl_ms() { return gApplMs.load()(); }
uint32_t xcpmr_local_ts() { return gLocalTs.load()(); }
void xcpmr_setClock(uint32_t (*applMs)(), uint32_t (*localTs)()) {
    gApplMs = applMs ? applMs : defaultApplMs;
    gLocalTs = localTs ? localTs : time_getTimestamp;
}
