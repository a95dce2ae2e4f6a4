// The display's measurable values in the signal page.
#include "display/app/display_signals.h"

#include <atomic>
#include <cstddef>
#include <new>

#include "measurement/catalogue.h"
#include "measurement/seram.h"

namespace {
DispSignals gPrivate{};   // until the signal page has room for them
std::atomic<DispSignals*> gSignals{&gPrivate};

struct Var {
    const char* name;
    size_t offset;
    TypeEnum_t type;
};
#define DISP_VAR(field, type) {#field, offsetof(DispSignals, field), type}
const Var kVars[] = {
    DISP_VAR(display_elements_updated, TE_UINT16), DISP_VAR(display_elements_skipped, TE_UINT16),
    DISP_VAR(display_err, TE_UINT8),               DISP_VAR(disp_online_mn, TE_UINT8),
    DISP_VAR(disp_online_mx, TE_UINT8),            DISP_VAR(disp_reset_alarm_active, TE_UINT8),
    DISP_VAR(disp_timecnt_mn, TE_UINT16),          DISP_VAR(disp_timecnt_mx, TE_UINT16),
    DISP_VAR(disp_timeout_all, TE_UINT32),         DISP_VAR(disp_timeout_pids, TE_UINT32),
};
#undef DISP_VAR
}  // namespace

DispSignals& dispSignals() { return *gSignals.load(std::memory_order_acquire); }

int disp_publishSignals()
{
    uint32_t vaddr = seramSignalAlloc(sizeof(DispSignals));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    for (const Var& v : kVars) catalogue_add(v.name, vaddr + uint32_t(v.offset), v.type);
    gSignals.store(new (p) DispSignals{}, std::memory_order_release);
    return 1;
}

void disp_unpublishSignals() { gSignals.store(&gPrivate, std::memory_order_release); }
