// Flood counters of the log lines that another device (or anybody on the
// network) causes, one set per source address: an address that floods is
// silenced after the usual 13 lines without silencing the others. A bounded
// table; addresses beyond it share one last set, so the log stays bounded
// however many addresses take part.
#include "virari/DiraDir2/bc2_internal.h"

namespace {
constexpr unsigned kAddresses = 32;

struct Slot {
    bool used = false;
    uint32_t addr = 0;
    std::atomic<uint8_t> cnt[BC2_FLOOD_LINES] = {};
};
std::mutex gMx;
Slot gSlots[kAddresses + 1];   // the last one: every address beyond the table
}  // namespace

std::atomic<uint8_t>& bc2_flood(uint32_t addrNet, Bc2FloodLine line) {
    std::lock_guard<std::mutex> lk(gMx);
    unsigned i = 0;
    while (i < kAddresses && gSlots[i].used && gSlots[i].addr != addrNet) ++i;
    Slot& s = gSlots[i];
    if (i < kAddresses && !s.used) {
        s.used = true;
        s.addr = addrNet;
    }
    return s.cnt[line];
}

void bc2_flood_reset() {
    std::lock_guard<std::mutex> lk(gMx);
    for (Slot& s : gSlots) {
        s.used = false;
        s.addr = 0;
        for (auto& c : s.cnt) c = 0;
    }
}
