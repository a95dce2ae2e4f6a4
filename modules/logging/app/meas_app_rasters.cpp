// Entry points of the logging application in the raster bodies: the logging
// raster "rMeas" with its tick pattern, the conditions on 10 ms and the FIFO
// load statistics on 100 ms.
#include "logging/app/meas_app_internal.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/store/meas_app_store.h"
#include "platform/raster.h"

int meas_app_addRasterEntries() {
    meas_app_allowArrivalLeftoversTasks();   // the arrivals are looked for from here on
    meas_app_allowDriveTasks();
    meas_app_splitReset();
    int ok = 1;
    ok &= raster_addEntry(RB_10MS, "meas_app_check_measconditions", [](intptr_t) { meas_app_check_measconditions(); }, -1);
    ok &= raster_addEntry(RB_100MS, "meas_fifo_data_update_load_vars",
                          [](intptr_t) { meas_fifo_data_update_load_vars(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_main", [](intptr_t) { meas_app_main(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_saveblock", [](intptr_t r) { meas_app_saveblock(unsigned(r)); }, -1);
    ok &= raster_addEntry(RB_MEAS, "LapOutFra_checkExtLaptrgInit", [](intptr_t) { LapOutFra_checkExtLaptrgInit(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_timeout_close", [](intptr_t r) { meas_app_timeout_close(unsigned(r)); }, -1);
    ok &= raster_addEntry(RB_MEAS, "MeasAppStore_checkForFlush", [](intptr_t) { MeasAppStore_checkForFlush(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_calc_recording_rates", [](intptr_t) { meas_app_calc_recording_rates(); },
                          -1);
    ok &= raster_addEntry(RB_MEAS, "meas_fifo_data_syslog", [](intptr_t) { meas_fifo_data_syslog(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_check_datatimeout", [](intptr_t) { meas_app_check_datatimeout(); }, -1);
    ok &= raster_addEntry(RB_MEAS, "meas_app_checkFragmentTrigOnUSBEvent",
                          [](intptr_t) { meas_app_checkFragmentTrigOnUSBEvent(); }, -1);
    return ok;
}
