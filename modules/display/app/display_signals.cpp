// The display's measurable values in the signal page.
#include "display/app/display_signals.h"

#include <cstddef>

#include "measurement/signal_block.h"

namespace {
SignalBlock<DispSignals> gSignals;

#define DISP_VAR(field, type) {#field, offsetof(DispSignals, field), type}
const SignalVar kVars[] = {
    DISP_VAR(display_elements_updated, TE_UINT16), DISP_VAR(display_elements_skipped, TE_UINT16),
    DISP_VAR(display_err, TE_UINT8),               DISP_VAR(disp_online_mn, TE_UINT8),
    DISP_VAR(disp_online_mx, TE_UINT8),            DISP_VAR(disp_reset_alarm_active, TE_UINT8),
    DISP_VAR(disp_timecnt_mn, TE_UINT16),          DISP_VAR(disp_timecnt_mx, TE_UINT16),
    DISP_VAR(disp_timeout_all, TE_UINT32),         DISP_VAR(disp_timeout_pids, TE_UINT32),
};
#undef DISP_VAR
}  // namespace

DispSignals& dispSignals() { return gSignals.get(); }

int disp_publishSignals() { return gSignals.publish(kVars); }

void disp_unpublishSignals() { gSignals.unpublish(); }
