// Start-up, raster and shutdown wiring of the logging component.
#include "wiring.h"

#include "host/os.h"
#include "logging/cfg_meas.h"
#include "logging/cfg_system.h"
#include "logging/lapoutfra.h"
#include "measurement/calparams.h"
#include "measurement/laptrigger.h"
#include "platform/raster.h"
#include "platform/syslogx.h"

namespace {

// The lap-trigger service of the measurement core reaches the counters
// through these.
int lapOutCntValid() { return LapOutFra_isValid(); }
int getLapOutCnt(uint16_t* lap, uint16_t* outing) {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    if (lap) *lap = s.lap;
    if (outing) *outing = s.outing;
    return s.valid;
}

void startLapCounters() {
    LapOutFra_publishSignals();
    if (LapOutFra_init() != 0) {
        syslogx(147, "initec(): Error LapOutFra_init()");
        return;
    }
    static const laptrigger_hooks hooks = {
        LapOutFra_setLapOutCnt, LapOutFra_chngLapOutCnt, LapOutFra_initLapOutCnt, lapOutCntValid,
        nullptr, nullptr, nullptr, nullptr, getLapOutCnt,
    };
    laptrigger_set_hooks(&hooks);
    if (cfg_system.laptrigPid != 0xFFFF) laptrigger_set_master(uint8_t(cfg_system.laptrigPid));
    if (LapOutFra_cmds_init() != 0) syslogx(147, "LapOutFra_cmds_init() failed");

    if (!cfg_system.extLaptrigMaster || calActive().OUTINGCTR_MODE == 1) {
        // no master to ask: carry on with the restored lap and outing
        LapOutFraState s{};
        LapOutFra_getState(&s);
        LapOutFra_initLapOutCnt(s.lap, s.outing);
    } else if (cfg_system.loggingActive) {
        if (!taskSpawn("r_ltmAvail", 161, 0, 100000, [] { LapOutFra_queryLapOutCntTask(); }))
            syslogx(147, "initec(): Error spawning r_ltmAvail");
    }
}

}  // namespace

void wire_logging_init() {
    cfg_meas_applyTargetPartition(calActive().LOGGING2_TARGET_PARTITION);
    cfg_system_ini();
    startLapCounters();
}

void wire_logging_rasters() {
    raster_addEntry(RB_1000MS, "cfg_meas_formatInfos_1s", [](intptr_t) { cfg_meas_formatInfos_1s(); }, -1);
    raster_addEntry(RB_MEAS, "LapOutFra_checkExtLaptrgInit", [](intptr_t) { LapOutFra_checkExtLaptrgInit(); }, -1);
}

void wire_logging_shutdown() { cfg_meas_formatInfos_stop(); }

bool wire_logging_flushed() { return true; }   // nothing buffered yet
