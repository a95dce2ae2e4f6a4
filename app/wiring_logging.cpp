// Start-up, raster and shutdown wiring of the logging component.
#include "wiring.h"

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "logging/app/meas_app.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/drives/copy_pending.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/events/event_channels.h"
#include "logging/events/event_logger.h"
#include "logging/events/event_record.h"
#include "logging/events/event_service.h"
#include "logging/events/event_signals.h"
#include "logging/fifo/meas_cnt.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/statusblock/statusblock.h"
#include "logging/store/action.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "measurement/comint.h"
#include "measurement/laptrigger.h"
#include "platform/error_mgr.h"
#include "platform/raster.h"
#include "platform/shell.h"
#include "platform/stop_budget.h"
#include "platform/syslogx.h"
#include "xcp/xcp_slave.h"

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

// A lap event of the lap-trigger master. The status block learns of it and,
// without a lap-stack controller, this device enters the lap itself. Both
// happen before the counters move on, so that the status block of the file
// the lap closes already holds the lap; only a new outing, which starts an
// empty lap stack, enters its first lap after the counters. The event
// carries the lap's time stamp; the lap time is the distance to the lap
// event before it (0 for the first after the start).
void lapEvent(uint16_t lap, uint16_t outing, uint32_t timeStamp) {
    static uint32_t previousTs = 0;
    static bool havePrevious = false;
    const uint32_t lapTime = havePrevious ? (timeStamp - previousTs) / 100 : 0;   // 0.1 ms -> 1/100 s
    previousTs = timeStamp;
    havePrevious = true;
    LapOutFraState s{};
    LapOutFra_getState(&s);
    const bool keeper = sb_lapstack_is_keeper() == 1;
    const bool newOuting = outing != s.outing;
    sblk_task_laptrigger(lap, outing, lapTime, timeStamp);
    if (keeper && !newOuting) sb_lapstack_add_entry(lap, lapTime, 0.0f);
    LapOutFra_setLapOutCnt(lap, outing, timeStamp);
    if (keeper && newOuting) sb_lapstack_add_entry(lap, lapTime, 0.0f);
}

void startLapCounters() {
    LapOutFra_publishSignals();
    if (LapOutFra_init() != 0) {
        syslogx(147, "initec(): Error LapOutFra_init()");
        return;
    }
    static const laptrigger_hooks hooks = {
        lapEvent, LapOutFra_chngLapOutCnt, LapOutFra_initLapOutCnt, lapOutCntValid,
        nullptr, nullptr, nullptr, nullptr, getLapOutCnt,
    };
    laptrigger_set_hooks(&hooks);
    if (cfg_system.laptrigPid != 0xFFFF) laptrigger_set_master(uint8_t(cfg_system.laptrigPid));
    if (LapOutFra_cmds_init() != 0) syslogx(147, "LapOutFra_cmds_init() failed");

    if (!cfg_system.extLaptrigMaster || calLoad(calActive().OUTINGCTR_MODE) == 1) {
        // no master to ask: carry on with the restored lap and outing
        LapOutFraState s{};
        LapOutFra_getState(&s);
        LapOutFra_initLapOutCnt(s.lap, s.outing);
    } else if (cfg_system.loggingActive) {
        if (!taskSpawn("r_ltmAvail", 161, 0, 100000, [] { LapOutFra_queryLapOutCntTask(); }))
            syslogx(147, "initec(): Error spawning r_ltmAvail");
    }
}

// The logging application: its variables, the store's and the counters' calls
// into it, and the shell command "meas".
void startLoggingApplication() {
    meas_app_setDriveDebounce(1, MEAS_USB_DEBOUNCE_MS);   // a USB stick settles first
    meas_app_lookAtUsbAtStart();
    startup_step("logger FIFO variables", meas_fifo_publishSignals() == 1);
    startup_step("file store variables", meas_store_publishStats() == 1);
    startup_step("write counter variables", meas_cnt_publishSignals() == 1);
    MeasAppStoreHooks store{};
    store.getFlags = meas_app_get_flags;
    store.sbCreate = sb_create;
    store.sbCreateWrite = sb_create_write;   // periodic snapshots into the open file
    store.sdDataChanged = fde_system_sd_data_changed;
    store.eventFlushUntil = eventLoggerFlushIdx;   // events up to a file's start or end go into it
    store.eventsEndRun = eventLoggerEndRunIdx;     // a stop closes the events its files leave open
    MeasAppStore_setHooks(store);
    LapOutFraHooks lof{};
    lof.clearSegmentation = meas_app_clearsegmentation;
    lof.laptriggerUpdate = meas_app_laptrigger_update;
    lof.lapstackResetHistory = sb_lapstack_reset_history;
    LapOutFra_setHooks(lof);
    // a finished file is copied to the USB drive by the internal writers
    meas_app_setCopyFileTask(meas_app_copyFileTask);
    // the remote control leaves a client alone while a calibration tool polls
    meas_app_remote_setXcpMasterPresent(xcpMasterPresent);
    startup_step("logging application", meas_app_ini() == 1);
    startup_step("shell command meas", msd_shellAddCommand("meas", measCommandFunc) != 0);
}

// The status block task and its commands.
void startStatusBlock() {
    startup_step("status block", sblk_task_init("r_sblk_task", 130, 12288, 0) == 1);
    sblk_cmds_init();
}

// Events of every device reach the event loggers of this one through the
// command task; the event channels read their configuration in a task of
// their own once "cfg:" is there.
void startEvents() {
    startup_step("event variables", event_publishSignals() == 1);
    ci_register_command(CI_CMD_EVENT, eventlogging_cmd);
    // the fast stop ends the events still open where it ends the files
    meas_app_setStopEventsHook(eventChannels_closeAtStop);
    eventChannelsInit();
}

// The directory size a format request stands for: the request carries it in
// whole units of 340 entries, the partition is formatted for exactly the
// configured count it was made from.
uint32_t requestedDirectorySize(const char* drive, uint8_t units) {
    const int idx = cfg_meas_getDevIdxFromDrvName(drive);
    if (idx < 0 || unsigned(idx) >= CFG_MEAS_DRIVES || !cfg_meas_drv2Hw[idx].maxFileCntCal) return 0;
    const uint32_t configured = *cfg_meas_drv2Hw[idx].maxFileCntCal;
    return meas_app_formatSizeCode(configured) == units ? configured : 0;
}

// The format service's record of a size failed: the drive answers its old
// size, and every boot asks again until the cause is mended.
void formatNotRecorded(const char* drive, uint32_t size, const char* why) {
    syslogx(147, "format service: %s not recorded as formatted for %u entries: %s", drive, unsigned(size), why);
}

}  // namespace

void wire_logging_init() {
    // the kernel side's format service; queues of a killed run are removed first
    host::unlinkProcessQueues();
    host::startFormatService(requestedDirectorySize, formatNotRecorded);
    cfg_system_ini();
    startLapCounters();
    startLoggingApplication();
    startStatusBlock();
    startEvents();
    // waits up to 2 s for the drives and has mis-sized partitions reformatted
    meas_app_BootPrepareDisks(1, 2 * sysClkRateGet());
}

void wire_logging_rasters() {
    raster_addEntry(RB_1000MS, "cfg_meas_formatInfos_1s", [](intptr_t) { cfg_meas_formatInfos_1s(); }, -1);
    startup_step("logging raster entries", meas_app_addRasterEntries() == 1);
    raster_addEntry(RB_5MS, "sblk_task_trigger_fast", [](intptr_t) { sblk_task_trigger_fast(); }, -1);
    raster_addEntry(RB_1000MS, "sblk_task_trigger_slow", [](intptr_t) { sblk_task_trigger_slow(); }, -1);
    raster_addEntry(RB_10MS, "eventChannels_10ms", [](intptr_t) { eventChannels_10ms(); }, -1);
    // the event service, and with it the error memory's events
    if (startup_step("event service", eventlogging_service_init() == 1))
        error_mgr_setEventHook(eventlogging_errorMgrHook);
}

namespace {
// How long the stop waits for the logging raster's fast stop before the
// sources of the records stop, and what it leaves of its budget to the
// steps after (the components' stops, the logger's flush and halt, the end).
constexpr unsigned kFastStopWaitMs = 950;
constexpr unsigned kAfterFastStopMs = 2500;

// Until the logging raster has run the fast stop, for at most waitMs.
void awaitFastStop(unsigned waitMs) {
    constexpr unsigned kPollMs = 5;
    for (unsigned waited = 0; meas_app_fastStopPending() && waited < waitMs; waited += kPollMs)
        taskDelay(kPollMs * sysClkRateGet() / 1000);
}
}  // namespace

// The fast stop runs in the logging raster at its next tick; the shutdown
// then waits for the store's writers (wire_logging_flushed).
void wire_logging_shutdown() {
    // The format service serves the start-up only; a stop must not wait on
    // the disk for it: a write it cannot finish soon is left and named.
    constexpr unsigned kFormatStopMs = 500;
    if (std::string left; !host::stopFormatService(kFormatStopMs, &left))
        syslogx(147, "format service: %s left unfinished at the stop: the drive keeps the size it had", left.c_str());
    meas_app_endDriveTasks();   // an arrival's or a split's steps go before the stop
    sblk_power_down();
    cfg_meas_formatInfos_stop();
    meas_app_remotefaststop();
    // the sources of the records stop after this (the rasters' lists, the
    // network, CAN): the fast stop takes its last records first, within
    // what the stop gives it
    awaitFastStop(stopBudget_waitMs(kFastStopWaitMs, kAfterFastStopMs));
    meas_app_remote_exit();   // the queues are unlinked with the kernel side's services
    meas_app_endArrivalLeftoversTasks();
}

bool wire_logging_flushed() { return meas_app_flushPending() == 0; }

// The writers take no more actions; what they had not written is named, file
// by file and drive by drive. A writer inside a slow sync is not waited for.
// The fast stop's closes, status blocks and last records go to the writers
// before: a logging raster that runs it late is waited for within what the
// stop gives; a fast stop that has not run by then leaves its files open,
// named here.
void wire_logging_haltWriters(unsigned fastStopWaitMs) {
    constexpr unsigned kWriterHaltMs = 200;
    awaitFastStop(fastStopWaitMs);
    // (one not yet asked for: a guard's halt while the components stop; one
    // that begins right now finds the writers halted: their files are among
    // those named)
    const bool fastStopLate = !meas_app_fastStopDone();
    meas_app_PreTrigHaltWriters(kWriterHaltMs);
    if (fastStopLate) MeasAppStore_nameOpenFilesAtHalt();
}

void wire_logging_sourcesEnd() { meas_app_nameRunsLeftBySources(); }

// A copy waits a few seconds for its file to be closed: once the writers are
// done the stop makes the pending ones, waiting for them no longer than the
// stop gives; those not made by then are named.
void wire_logging_endCopies(bool filesWhole, unsigned waitMs) {
    meas_app_finishPendingCopies(filesWhole, static_cast<int>(waitMs));
}
