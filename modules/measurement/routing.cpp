// Routing table of the 64 PIDs.
#include "measurement/routing.h"

#include <mutex>

#include "platform/syslogx.h"

namespace {
std::mutex gMx;
routing_entry_t gTable[ROUTING_PIDS];
}  // namespace

int routing_init(uint16_t ownPid) {
    std::lock_guard<std::mutex> lk(gMx);
    for (auto& e : gTable) e = routing_entry_t{ROUTING_ILLEGAL, 0};
    if (ownPid < ROUTING_PIDS) gTable[ownPid] = routing_entry_t{ROUTING_SELF, 0x7F000001};
    return 1;
}

routing_entry_t routing_get_next(unsigned pid) {
    if (pid >= ROUTING_PIDS) return routing_entry_t{ROUTING_ILLEGAL, 0};
    std::lock_guard<std::mutex> lk(gMx);
    return gTable[pid];
}

int routing_set_table_entries(const routing_entry_t* entry, unsigned firstPid, unsigned lastPid) {
    if (!entry || firstPid >= ROUTING_PIDS || lastPid >= ROUTING_PIDS || firstPid > lastPid) {
        syslogx(147, "DiraDir2|routing_set_table_entries(): PID not plausible");
        return 0;
    }
    std::lock_guard<std::mutex> lk(gMx);
    for (unsigned p = firstPid; p <= lastPid; ++p) gTable[p] = *entry;
    return 1;
}
