// The telemetry's measurable variables in the signal page.
#include <cstddef>

#include "measurement/signal_block.h"
#include "virari/telemetry/tele_internal.h"
#include "virari/telemetry/telemetry.h"

namespace {
SignalBlock<TeleSignals> gSignals;

#define TELE_VAR(field, type) {#field, offsetof(TeleSignals, field), type}
const SignalVar kVars[] = {
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

TeleSignals& teleSignals() { return gSignals.get(); }

int tele_publishSignals() { return gSignals.publish(kVars); }

void tele_unpublishSignals() { gSignals.unpublish(); }
