// Start-up, raster and shutdown wiring of the virari component: the
// serial-network manager, the DiraDir2 device network and the telemetry.
#include "wiring.h"

#include "host/kernel.h"
#include "logging/app/meas_app.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/sernet_man.h"
#include "virari/telemetry/telemetry.h"
#include "virari/virari.h"

void wire_virari_init() {
    // Until the time service runs, the device is its own time reference: its
    // time-synchronisation core counts as synchronised, so that logging starts.
    host::setTimeSyncState(1);
    startup_step("serial-network manager", SerNet_man_ini() == 1);
    virari_attach_measurement();
}

// The send rasters and, last of the raster hooks, the device network itself.
void wire_virari_rasters() {
    startup_step("serial-network rasters", virari_register_rasters() == 1);
    startup_step("DiraDir2", BC2_init() == 1);
}

void wire_virari_start() {}   // no measurement time yet

void wire_virari_shutdown() {
    tele_app_exit();
    BC2_shutdown();   // ends its tasks and closes its sockets before the process ends
}

void wire_telemetry_init() {
    startup_step("telemetry variables", tele_publishSignals() == 1);
    tele_app_ini();
    // the logging application starts and stops the telemetry of m02
    meas_app_setTeleHooks({tele_app_start, tele_app_stop});
}
