// Start-up, raster and shutdown wiring of the can component.
#include "wiring.h"

#include "can/can_in.h"
#include "can/can_out.h"
#include "can/can_voz.h"
#include "platform/raster.h"

namespace {
void sendMessage(intptr_t raster) { CanOut_send_message(int(raster)); }
}  // namespace

void wire_can_init() { can_voz_ini(); }

void wire_can_rasters() {
    // each periodic raster sends its messages; r1ms also paces rate-limited interfaces
    for (int r = RASTER_1MS; r <= RASTER_1000MS; ++r)
        startup_step("CanOut_send_message entry", raster_addEntry(r, "CanOut_send_message", sendMessage, r) == 1);
    startup_step("CanOut_event_message entry",
                 raster_addEntry(RB_10MS, "CanOut_event_message", [](intptr_t) { CanOut_event_message(); }, 0) == 1);
    startup_step("CanIn_supervisor_1ms entry",
                 raster_addEntry(RB_1MS, "CanIn_supervisor_1ms", [](intptr_t) { CanIn_supervisor_1ms(); }, 0) == 1);
}

void wire_can_shutdown() { CanOut_stop(); }
