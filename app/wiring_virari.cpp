// Start-up, raster and shutdown wiring of the virari component: the time
// service, the serial-network manager, the DiraDir2 device network, its debug
// outputs and the telemetry.
#include "wiring.h"

#include "logging/app/meas_app.h"
#include "logging/config/cfg_system.h"
#include "logging/statusblock/statusblock.h"
#include "logging/store/virtual_file.h"
#include "platform/raster.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/netdebug/netdebug.h"
#include "virari/sernet_man.h"
#include "virari/telemetry/telemetry.h"
#include "virari/timeserv/timeserv.h"
#include "virari/virari.h"
#include "xcp/diag/diag_service.h"

void wire_virari_init() {
    startup_step("time service", timeserv_init(1, cfg_system.notTimeMaster == 0) == 1);
    meas_store_setMasterIdSource(timeserv_getMasterIds);
    diagService_setTimeSink(timeserv_newSystemTime);   // a tool's date goes to every device
    startup_step("serial-network manager", SerNet_man_ini() == 1);
    virari_attach_measurement();
    startup_step("network debug variables", netdebug_publishSignals() == 1);
}

// The send rasters and, last of the raster hooks, the device network itself.
void wire_virari_rasters() {
    startup_step("timeserv_MeasTime_1ms entry",
                 raster_addEntry(RB_1MS, "timeserv_MeasTime_1ms", [](intptr_t) { timeserv_MeasTime_1ms(); }, 0) == 1);
    startup_step("network debug entries", netdebug_register_rasters() == 1);
    startup_step("serial-network rasters", virari_register_rasters() == 1);
    startup_step("DiraDir2", BC2_init() == 1);
    // the status block asks every connected device for its identification
    sblk_setConnectMaskSource(comint_get_connect_mask);
}

void wire_virari_start() { timeserv_MeasTime_ini(); }

void wire_virari_stop_time() { timeserv_stop(); }

// Commands that other devices still send (answers to the stop requests of
// the lists, time messages) would otherwise be queued into a command
// interface that is gone; the channels stay up, so sending stays possible
// until the shutdown.
void wire_virari_stop_network() { BC2_quiet(); }

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
