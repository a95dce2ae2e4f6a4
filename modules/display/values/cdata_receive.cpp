// Values and events of the display's measurement lists, on the gateway's
// raster task, and the statistics of missing data.
#include "display/values/cdata.h"

namespace {
constexpr uint16_t kSaturated = 65535;
// The values turn invalid at the fifth no-data event in a row.
constexpr uint16_t kNoDataLimit = 4;

void bump(std::atomic<uint16_t>& c)
{
    const uint16_t v = c.load(std::memory_order_relaxed);
    if (v != kSaturated) c.store(uint16_t(v + 1), std::memory_order_relaxed);
}

void timeoutAll(CDataList* l)
{
    for (CDataMeas* g : {l->group4, l->group2, l->group1})
        for (CDataMeas* h = g; h; h = h->next) h->setTimeout();
    l->online = 0;
}

// Bit of the device mask for a device id.
unsigned deviceBit(unsigned id)
{
    if (id < 10) return 0;
    if (id < 32) return 1;
    return id - 30 < 31 ? id - 30 : 31;
}
}  // namespace

void CDataManager::readCyclic(unsigned int status, const uint8_t* slot, CDataList* l)
{
    if (!l || l->state != CDL_RUNNING) return;
    if (status == 0) {
        if (!slot) return;
        l->noDataRun = 0;
        l->online = 1;
        const uint8_t* p = slot + 4;
        for (CDataMeas* h = l->group4; h; h = h->next, p += 4) h->putData(p);
        for (CDataMeas* h = l->group2; h; h = h->next, p += 2) h->putData(p);
        for (CDataMeas* h = l->group1; h; h = h->next, p += 1) h->putData(p);
    } else if (status == GW_NO_DATA) {
        bump(noDataTotal);
        bump(l->noDataTotal);
        deviceMask.fetch_or(1u << deviceBit(l->deviceId), std::memory_order_relaxed);
        if (l->noDataRun >= kNoDataLimit)
            timeoutAll(l);
        else
            ++l->noDataRun;
    } else {
        timeoutAll(l);
    }
}

void CDataManager::getStatus(bool* allOnline, bool* anyOnline, unsigned short* minNoData,
                             unsigned short* maxNoData, unsigned long* total, unsigned long* mask) const
{
    bool all = true, any = false;
    unsigned short mn = kSaturated, mx = 0;
    for (const CDataList* l = listChain; l; l = l->next) {
        const bool on = l->online != 0;
        all = all && on;
        any = any || on;
        const unsigned short n = l->noDataTotal.load(std::memory_order_relaxed);
        if (n < mn) mn = n;
        if (n > mx) mx = n;
    }
    if (allOnline) *allOnline = all;
    if (anyOnline) *anyOnline = any;
    if (minNoData) *minNoData = mn;
    if (maxNoData) *maxNoData = mx;
    if (total) *total = noDataTotal.load(std::memory_order_relaxed);
    if (mask) *mask = deviceMask.load(std::memory_order_relaxed);
}

extern "C" {
int c2cpp_readCyclic(unsigned long status, void* data, void* user)
{
    auto* l = static_cast<CDataList*>(user);
    if (!l || !l->owner) return 0;
    l->owner->readCyclic(unsigned(status), static_cast<const uint8_t*>(data), l);
    return 1;
}

int c2cpp_startMeas(unsigned long status, void*, void* user)
{
    auto* l = static_cast<CDataList*>(user);
    if (l && l->owner && status == 0) l->state = CDL_RUNNING;
    return 0;
}

int c2cpp_stopMeas(unsigned long status, void*, void* user)
{
    auto* l = static_cast<CDataList*>(user);
    if (l && l->owner) l->owner->replyStop(unsigned(status), l);
    return 0;
}
}
