// Start-up, raster and shutdown wiring of the can component.
#include "wiring.h"

#include "can/ccpmaster/ccpmr.h"
#include "can/can_in.h"
#include "can/can_out.h"
#include "can/can_voz.h"
#include "measurement/meas_master.h"
#include "platform/raster.h"

namespace {
void sendMessage(intptr_t raster) { CanOut_send_message(int(raster)); }
}  // namespace

void wire_can_init() {
    can_voz_ini();
    startup_step("ccpmr_ini", ccpmr_ini() == 0);
    // lists of one CCP DAQ list are filled by the master's DAQ task from now on
    meas_man_set_master_hooks(MEAS_MASTER_CCP, ccpmr_masterHooks());
}

void wire_can_rasters() {
    // each periodic raster sends its messages; r1ms also paces rate-limited interfaces
    for (int r = RASTER_1MS; r <= RASTER_1000MS; ++r)
        startup_step("CanOut_send_message entry", raster_addEntry(r, "CanOut_send_message", sendMessage, r) == 1);
    startup_step("ccpmr_10ms entry", raster_addEntry(RB_10MS, "ccpmr_10ms", [](intptr_t) { ccpmr_10ms(); }, 0) == 1);
    startup_step("CanOut_event_message entry",
                 raster_addEntry(RB_10MS, "CanOut_event_message", [](intptr_t) { CanOut_event_message(); }, 0) == 1);
    startup_step("CanIn_supervisor_1ms entry",
                 raster_addEntry(RB_1MS, "CanIn_supervisor_1ms", [](intptr_t) { CanIn_supervisor_1ms(); }, 0) == 1);
}

void wire_can_shutdown() { CanOut_stop(); }
