// Start-up, raster and shutdown wiring of the measurement component.
#include "wiring.h"

#include "awm/awm.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/laptrigger.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/seram.h"
#include "measurement/stimulus.h"
#include "platform/appman.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/raster.h"
#include "platform/timebase.h"

namespace {
// Time stamp of a raster's samples. On the device the sampling hardware
// stamps each sample set at its tick; here the raster task may run late on a
// busy host, so the samples carry the stamp of the base tick that made the
// run due: the raster's own grid, whatever the task's lateness.
//
// One raster tick of the measurement core: the producer copies this device's
// values into the lists of the raster, then the gateway delivers them.
template <int Raster>
void measTick(intptr_t) {
    meas_man_copy_raster(Raster, Raster == RASTER_LAP ? time_getTimestamp() : raster_dueStamp());
    gw_distribute(Raster);
}

void measTick1ms(intptr_t arg) {
    stimulus_1ms(arg);   // the host inputs change before they are copied
    measTick<RASTER_1MS>(arg);
    measTick<RASTER_1MS_2>(arg);   // the second 1 ms raster has no task of its own
}

// The 6000 ms lists ride on every sixth tick of the 1000 ms raster.
void measTick1000ms(intptr_t arg) {
    static unsigned ticks = 0;
    measTick<RASTER_1000MS>(arg);
    if (++ticks % 6 == 0) measTick<RASTER_6000MS>(arg);
}
}  // namespace

void wire_measurement_init() {
    dynkomm_init(base_boot_count_get());
    startup_step("calibration memory", seram_init());
    startup_step("variable catalogue", catalogue_init());
    startup_step("getvar/setvar", catalogue_shell_init());
    startup_step("routing", routing_init(app_pid));
    comint_set_own_pid(app_pid);
    startup_step("command interface", comint_init());
    startup_step("measurement manager", meas_man_init());
    startup_step("measurement gateway", gw_init(app_pid));
    gw_set_own_unit(unit_id_get(), base_boot_count_get());
    startup_step("lap trigger", laptrigger_init());
    stimulus_init();
    awm_man_start();
}

void wire_measurement_rasters() {
    raster_addEntry(RB_1MS, "meas_gw_1ms", measTick1ms, 0);
    raster_addEntry(RB_2MS, "meas_gw_2ms", measTick<RASTER_2MS>, 0);
    raster_addEntry(RB_5MS, "meas_gw_5ms", measTick<RASTER_5MS>, 0);
    raster_addEntry(RB_10MS, "meas_gw_10ms", measTick<RASTER_10MS>, 0);
    raster_addEntry(RB_20MS, "meas_gw_20ms", measTick<RASTER_20MS>, 0);
    raster_addEntry(RB_50MS, "meas_gw_50ms", measTick<RASTER_50MS>, 0);
    raster_addEntry(RB_100MS, "meas_gw_100ms", measTick<RASTER_100MS>, 0);
    raster_addEntry(RB_200MS, "meas_gw_200ms", measTick<RASTER_200MS>, 0);
    raster_addEntry(RB_500MS, "meas_gw_500ms", measTick<RASTER_500MS>, 0);
    raster_addEntry(RB_1000MS, "meas_gw_1000ms", measTick1000ms, 0);
    raster_addEntry(RB_LAP, "meas_gw_lap", measTick<RASTER_LAP>, 0);
}

void wire_measurement_shutdown() {
    awm_man_stop();
    gw_shutdown();
    meas_man_shutdown();
    comint_shutdown();
    seram_shutdown();
}
