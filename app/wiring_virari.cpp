// Start-up, raster and shutdown wiring of the virari component.
#include "wiring.h"

#include "virari/telemetry/telemetry.h"

void wire_virari_init() {}       // nothing to start yet
void wire_virari_rasters() {}    // no raster entry points yet
void wire_virari_shutdown() { tele_app_exit(); }
void wire_virari_start() {}   // no measurement time yet

void wire_telemetry_init() {
    startup_step("telemetry variables", tele_publishSignals() == 1);
    tele_app_ini();
}
