// Value slots of the CCP master channels and their time-out supervision.
//
// The DAQ task writes the slots from DAQ messages, the 10 ms raster writes
// defaults on time-out and the gateway's producers read them: every access is
// a single atomic byte or word, so no reader sees a torn value.
#include <cstring>

#include "can/ccpmaster/ccpmr_internal.h"
#include "measurement/signalpage.h"

uint32_t ccpmr_measdata[CCPMR_CHANNELS];
std::atomic<uint32_t> ccpmr_timeout[CCPMR_CHANNELS];

namespace {
constexpr uint32_t kNotSupervised = 0xFFFF;
constexpr uint32_t kNoTimeout = 0xFFFFFFFF;

// Time-out of a channel in ms; kNoTimeout when it is not supervised. Taken at
// start-up, like the rest of the channel configuration.
uint32_t gLimit[CCPMR_CHANNELS];
uint32_t gDefault[CCPMR_CHANNELS];

void storeSlot(unsigned c, uint32_t v) { __atomic_store_n(&ccpmr_measdata[c], v, __ATOMIC_RELAXED); }
}  // namespace

void ccpmr_data_ini() {
    const CalPage& p = calActive();
    for (unsigned c = 0; c < CCPMR_CHANNELS; ++c) {
        uint32_t v = calLoad(p.CfgMat_CcpMr_CHAN_DEFAULT[c]);
        // the default in the channel's size; a slot is read from its first byte
        switch (calLoad(p.CfgMat_CcpMr_CHAN_SIZE[c])) {
        case 1: v &= 0xFFu; break;
        case 2: v &= 0xFFFFu; break;
        default: break;
        }
        gDefault[c] = calLoad(p.CfgMat_CcpMr_CHAN_DEFAULT[c]);
        gLimit[c] = calLoad(p.CfgMat_CcpMr_CHAN_TIMEOUT[c]);
        storeSlot(c, v);
        ccpmr_timeout[c] = gLimit[c] == kNoTimeout ? kNotSupervised : 0;
    }
}

void ccpmr_data_10ms() {
    for (unsigned c = 0; c < CCPMR_CHANNELS; ++c) {
        const uint32_t limit = gLimit[c];
        if (limit == kNoTimeout) continue;
        uint32_t age = ccpmr_timeout[c].load(std::memory_order_relaxed);
        if (age >= limit) continue;   // timed out already: the default stays
        // fetch_add, so that a reset by the DAQ task in between is not undone
        age = ccpmr_timeout[c].fetch_add(10, std::memory_order_relaxed) + 10;
        if (age >= limit) {
            ccpmr_timeout[c].store(limit, std::memory_order_relaxed);
            storeSlot(c, gDefault[c]);
        }
    }
}

void ccpmr_reset_timeout(unsigned c) {
    if (c < CCPMR_CHANNELS && gLimit[c] != kNoTimeout) ccpmr_timeout[c].store(0, std::memory_order_relaxed);
}

const uint8_t* ccpmr_GetAddr(measaddr_t addr) {
    unsigned n = addr & 0xFFFu;
    if (n >= CCPMR_CHANNELS) return nullptr;
    return reinterpret_cast<const uint8_t*>(&ccpmr_measdata[n]);
}

void ccpmr_setStatus(CcpMaster* m, uint8_t status) {
    // the signal page first: whoever sees the new status sees it there too
    __atomic_store_n(&signalPage()->ccpmr_status[m->instance], status, __ATOMIC_RELAXED);
    m->status.store(status);
}

uint8_t ccpmr_getStatus(unsigned instance) {
    if (instance >= CCPMR_INSTANCES || !ccpmr_handle[instance]) return 0;
    return ccpmr_handle[instance]->status.load();
}
