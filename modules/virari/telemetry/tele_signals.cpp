// The telemetry's measurable variables in the signal page.
#include <cstddef>
#include <new>

#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "virari/telemetry/telemetry.h"

namespace {
TeleSignals gPrivate{};                  // until the signal page has room for them
std::atomic<TeleSignals*> gSignals{&gPrivate};

struct Var {
    const char* name;
    size_t offset;
    TypeEnum_t type;
};
#define TELE_VAR(field, type) {#field, offsetof(TeleSignals, field), type}
const Var kVars[] = {
    TELE_VAR(telemetry_state, TE_UINT8),      TELE_VAR(telemetry_active, TE_UINT8),
    TELE_VAR(tele_fastblock_dt, TE_UINT16),   TELE_VAR(tele_slowblock_dt, TE_UINT16),
    TELE_VAR(tele_data_rate, TE_UINT16),      TELE_VAR(tele_data_rate_kBit, TE_UINT16),
    TELE_VAR(tele_modem_plmn, TE_UINT32),     TELE_VAR(tele_modem_cid, TE_UINT32),
    TELE_VAR(tele_modem_band, TE_UINT8),      TELE_VAR(tele_modem_cpuLoad, TE_UINT8),
    TELE_VAR(tele_modem_ping, TE_UINT8),      TELE_VAR(tele_modem_rsrp, TE_SINT8),
    TELE_VAR(tele_modem_ethIn, TE_UINT16),    TELE_VAR(tele_modem_ethOut, TE_UINT16),
    TELE_VAR(tele_modem_serIn, TE_UINT16),    TELE_VAR(tele_modem_serOut, TE_UINT16),
    TELE_VAR(tele_modem_wanIn, TE_UINT16),    TELE_VAR(tele_modem_wanOut, TE_UINT16),
};
#undef TELE_VAR
}  // namespace

TeleSignals& teleSignals() { return *gSignals.load(std::memory_order_acquire); }

int tele_publishSignals() {
    uint32_t vaddr = seramSignalAlloc(sizeof(TeleSignals));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    for (const Var& v : kVars) catalogue_add(v.name, vaddr + uint32_t(v.offset), v.type);
    gSignals.store(new (p) TeleSignals{}, std::memory_order_release);
    return 1;
}

void tele_unpublishSignals() { gSignals.store(&gPrivate, std::memory_order_release); }
