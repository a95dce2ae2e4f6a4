// Start-up of the logging application and its step in every tick of the
// logging raster: time checks, the restart sequence, the request flags and
// the published counters.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/fifo/meas_cnt.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {

// The network stream of the measurements: nothing to set up on this device.
int meas_app_hstinit() { return 1; }

// Ticks of the logging raster (1 ms) a restart at a step back waits before
// its stop closes the old time's files: the step's closes of open events,
// stamped in the old time, go out over the network and come back through
// the event loggers some ms later, and must still find those files. The
// records of the new time meanwhile are refused and named by their FIFOs
// (stamped before their block's last), as they are until the new start.
constexpr uint32_t kStepSettleTicks = 300;

// The time service notes the stamp every millisecond: a step it noted up to
// this long before the tick that sees it is that tick's (0.1 ms).
constexpr int32_t kNotedStepAge = 1000;

// Where the step back seen at this tick (stamp t, the last tick's before
// it) happened: the step the time service noted, when it is this one, else
// between the two ticks. The events opened again at a step are stamped at
// the noted step's first stamp.
void noteStepMoment(uint32_t t) {
    TimeStep noted{};
    const bool back = time_stepBackCount(&noted) != 0;
    const int32_t since = int32_t(t - noted.after);
    const bool thisOne = back && since >= 0 && since <= kNotedStepAge;
    gApp.stepAfter = thisOne ? noted.after : t;
    gApp.stepBefore = thisOne && int32_t(noted.before - gApp.lastTs) > 0 ? noted.before : gApp.lastTs;
}

// A restart at a step back is asked for: a step seen while one is under
// way is covered by it (its start sets up the FIFOs in the newest time);
// one seen while it still waits makes it wait on for that step's closes.
void restartAtStep(uint32_t t) {
    const uint32_t st = gApp.stopstart.load();
    if (st == 3 || st == 4) return;
    noteStepMoment(t);
    if (!gApp.restartReq.load()) syslogx(150, "meas_app_main(): timestamp reset detected: restarting measurement");
    gApp.restartReq.store(1);
    gApp.restartSettle = kStepSettleTicks;
}

void restartSequence() {
    uint32_t st = gApp.stopstart.load();
    if (st == 0 && gApp.restartSettle && gApp.restartReq.load()) {
        --gApp.restartSettle;
        // a stop asked meanwhile closes the old time's files itself, and
        // stays a stop: the measurement is not started again
        if (meas_app_get_flags() & (MEAS_FLAG_STOPREQ | MEAS_FLAG_FASTSTOPREQ | MEAS_FLAG_DESTROYREQ)) {
            gApp.restartReq.store(0);
            gApp.restartSettle = 0;
            syslogx(150, "meas_app_main(): stop asked before the restart at the time step: measurement not restarted");
        }
        return;
    }
    if (st == 0 && gApp.restartReq.exchange(0)) {
        // the old time's events go into its files before the stop closes
        // them; those of the new time that are due then wait for its files
        MeasAppStore_flushEventsUntil(MEAS_IDX_M01, gApp.stepBefore);
        MeasAppStore_flushEventsUntil(MEAS_IDX_M03, gApp.stepBefore);
        gApp.stepRestart = true;
        gApp.stopstart.store(3);
        st = 3;
    }
    if ((st != 3 && st != 4) || (meas_app_get_flags() & 0x7F)) return;
    // lap and outing to go on with: those another device sent, else the current ones
    LapOutFraState s{};
    LapOutFra_getState(&s);
    const uint16_t lap = gApp.ltValid ? gApp.ltLap.load() : s.lap;
    const uint16_t out = gApp.ltValid ? gApp.ltOut.load() : s.outing;
    if (st == 3) {
        if (!(meas_app_get_flags() & MEAS_FLAG_REMOTESTOP_ACTIVE)) {
            flag(sp().meas_app_stopreq).store(1);
            gApp.stopstart.store(4);
        } else {
            gApp.stopstart.store(0);
            gApp.stepRestart = false;
            LapOutFra_initLapOutCnt(lap, out);
        }
    } else {
        LapOutFra_initLapOutCnt(lap, out);
        // the new time's first files hold its events from the step on
        if (gApp.stepRestart) LapOutFra_beginAt(gApp.stepAfter);
        gApp.stepRestart = false;
        gApp.ltValid = false;
        fifo_data_time_resync(0);
        flag(sp().meas_app_startreq).store(1);
        gApp.stopstart.store(0);
    }
}

// A start held back only by the time, which is not in sync (a slave that
// has not heard its time master), is named once per wait.
void noteTimeWait() {
    const bool waits = flag(sp().meas_app_startreq).load() == 1 && LapOutFra_isValid() && !gApp.timestampValid;
    if (waits && !gApp.timeWait.load())
        syslogx(150, "meas_app: logging waits for the time master: this device's time is not in sync, no "
                     "measurement is started until it is");
    gApp.timeWait.store(waits);
}

void publish() {
    SignalPage& s = sp();
    s.meas_cnt_ecu = meas[MEAS_IDX_M01].savedRecords;
    s.meas_cnt_fde = meas[MEAS_IDX_M03].savedRecords;
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    s.meas_cnt_m01request = uint8_t(meas[0].startCount);
    s.meas_cnt_m01reply = uint8_t(meas[0].replyCount);
    s.meas_cnt_m02request = uint8_t(meas[1].startCount);
    s.meas_cnt_m02reply = uint8_t(meas[1].replyCount);
    s.meas_cnt_m03request = uint8_t(meas[2].startCount);
    s.meas_cnt_m03reply = uint8_t(meas[2].replyCount);
}

void meas_app_checksegmentation() {
    // the limits show as reached until the split asked for has closed the files
    if (meas_app_splitPending()) return;
    int r = meas_app_PreTrigCheckFragment(meas[MEAS_IDX_M01].store);
    if (!r) r = meas_app_PreTrigCheckFragment(meas[MEAS_IDX_M03].store);
    if (!r) return;
    meas_app_forceFragment();
    if (r == 1) syslogx(158, "meas_app: Fragmentation because of size (%d kbytes)", FILEFRAGMENTATION_SIZE() * 1024);
    else if (r == 2) syslogx(158, "meas_app: Fragmentation because of time (%d s)", int(FILEFRAGMENTATION_TIME()));
}

}  // namespace

int meas_app_ini() {
    cfg_meas_applyTargetPartition(calLoad(calActive().LOGGING2_TARGET_PARTITION));
    MeasAppStore_init();
    SignalPage& s = sp();
    for (uint8_t* f : {&s.meas_app_startreq, &s.meas_app_stopreq, &s.meas_app_faststopreq, &s.meas_app_blkstopreq,
                       &s.meas_app_reinitreq, &s.meas_app_destroyreq, &s.meas_app_hstinitreq, &s.meas_app_running,
                       &s.meas_app_remoteread})
        flag(*f).store(0);
    gApp.powerdown.store(0);
    gApp.stopstart.store(0);
    flag(s.meas_app_reinitreq).store(cfg_system.loggingActive);
    if (cfg_system.ecuClass == 0) meas_led_set_status(MEAS_STATUS_NO_ECU);
    meas_fifo_data_init_load_vars();
    return meas_app_remote_ini();
}

void meas_app_main() {
    SignalPage& s = sp();
    const uint32_t t = time_getTimestamp();
    fifo_data_set_curr_ts(t);
    fifo_cond_set_curr_ts(t);
    // Any step back of the time handed to records restarts the measurement,
    // however small: the stamps are compared tick to tick (wrap-safe: the
    // wrap is no reset) in and out of sync once the time was in sync, for
    // a slave goes on in its old time while its master is silent and steps
    // onto its new time before it reports sync again; a step that a late
    // tick hides is counted by the FIFOs (the time service's note, or own
    // records stamped back).
    const uint8_t valid = time_getSyncState() > 2 ? 1 : 0;
    uint32_t stepsBack = fifo_data_steps_back();
    const bool stepped = gApp.lastTsSet && (int32_t(t - gApp.lastTs) < 0 || stepsBack != gApp.stepsBackSeen);
    if (stepped) {
        stepsBack = fifo_data_step_back();   // the FIFOs of the old time take no more
        fifo_data_time_resync(1);
        restartAtStep(t);
    }
    gApp.stepsBackSeen = stepsBack;   // one counted since is seen at the next tick
    gApp.timestampValid = valid;
    if (valid || gApp.lastTsSet) {
        gApp.lastTs = t;
        gApp.lastTsSet = true;
    }

    restartSequence();
    noteTimeWait();

    if (flag(s.meas_app_stopreq).load()) {
        meas_app_startLookForget();   // the stop steps the counters on: a start looks again
        syslogx(150, "Stopping measurement");
        meas_app_measstop(true);
        syslogx(150, "Measurement stopped, meas_app_get_flags %03X", unsigned(meas_app_get_flags()));
        // running first: a start request that finds the stop done finds
        // logging stopped too, and is carried out
        flag(s.meas_app_running).store(0);
        flag(s.meas_app_stopreq).store(0);
    }
    if (flag(s.meas_app_destroyreq).load() && !flag(s.meas_app_stopreq).load() &&
        !flag(s.meas_app_blkstopreq).load()) {
        // the blocks are freed only once the stop has drained them
        if (!gApp.destroyStopping) meas_app_measstop(false);
        // after the fast stop nothing drains any more: the lists are simply dropped
        gApp.destroyStopping = flag(s.meas_app_blkstopreq).load() != 0 && !gApp.powerdown.load();
        if (!gApp.destroyStopping) {
            meas_app_measdestroy();
            meas_app_driveWaitClear();
        }
    }
    if (flag(s.meas_app_reinitreq).load() && meas_app_measExists()) {
        // the measurements exist (running or stopped): a second init would
        // reuse their FIFO numbers and start their blocks again
        syslogx(150, "meas_app_main(): measurement exists, init refused (destroy it first)");
        flag(s.meas_app_reinitreq).store(0);
    }
    // The boot preparation has waited for the drives: a measurement whose
    // drive is still missing waits for it alone (meas_app_driveWaitBegin).
    if (flag(s.meas_app_reinitreq).load()) {
        syslogx(150, "Init new measurement");
        meas_app_DisksReady();   // the status bit of the drives
        meas_app_driveWaitClear();
        meas_app_measinit();
        syslogx(150, "New measurement initialized");
        flag(s.meas_app_reinitreq).store(0);
        flag(s.meas_app_hstinitreq).store(1);
    }
    if (flag(s.meas_app_hstinitreq).load() && meas_app_hstinit()) {
        flag(s.meas_app_hstinitreq).store(0);
        flag(s.meas_app_startreq).store(1);
    }
    // a start waits until a stop has drained its blocks
    if (meas_app_startreq_condition() && !flag(s.meas_app_blkstopreq).load() && !meas_app_startable()) {
        syslogx(150, "Start refused: no measurement (meas init first)");
        flag(s.meas_app_startreq).store(0);
    }
    // The drives' flags and the names in use are looked at for the start in
    // a task first: the start is made once that is done.
    const bool startDue = meas_app_startreq_condition() && !flag(s.meas_app_blkstopreq).load();
    const int looked = startDue ? meas_app_startLooked() : 0;
    if (!startDue) meas_app_startLookForget();
    if (looked < 0) {
        syslogx(150, "Start refused: its drives could not be looked at");
        flag(s.meas_app_startreq).store(0);
    }
    if (looked > 0) {
        syslogx(150, "Start new measurement");
        meas_app_clearsegmentation();
        fifo_data_time_resync(0);   // also after a restart a stop dropped
        meas_app_measstart();
        syslogx(150, "New measurement started");
        // running first: a request sees the start pending or logging
        // running, at no moment neither
        flag(s.meas_app_running).store(1);
        flag(s.meas_app_startreq).store(0);
    }
    meas_app_driveWaitPoll();
    publish();
    meas_cnt_update();
    meas_store_updateBufferStats(meas[MEAS_IDX_M01].store, meas[MEAS_IDX_M03].store);
    meas_app_checksegmentation();
}

bool meas_app_waitsForTime() { return gApp.timeWait.load(); }

int meas_app_startreq_condition() {
    return flag(sp().meas_app_startreq).load() == 1 && LapOutFra_isValid() && gApp.timestampValid ? 1 : 0;
}

void meas_app_laptrigger_update(uint16_t lap, uint16_t outing) {
    gApp.ltLap.store(lap);
    gApp.ltOut.store(outing);
    gApp.ltValid = true;
    if (cfg_system.loggingActive) {
        gApp.stopstart.store(3);
        if (!flag(sp().meas_app_running).load()) LapOutFra_initLapOutCnt(lap, outing);
    } else {
        LapOutFra_initLapOutCnt(lap, outing);
    }
}

// Runs on whatever task sets the lap counters (shell, remote control): each
// store is touched under its measurement's condition lock, under which a
// destroy frees it.
void meas_app_clearsegmentation() {
    for (unsigned idx : {MEAS_IDX_M01, MEAS_IDX_M03}) {
        meas_t& m = meas[idx];
        SEM_ID lock = m.condLock;
        if (!lock || semTake(lock, WAIT_FOREVER) != OK) continue;
        meas_app_PreTrigTriggerFragment(m.store);
        semGive(lock);
    }
}

bool meas_app_fastStopPending() { return flag(sp().meas_app_faststopreq).load() != 0; }

bool meas_app_fastStopDone() { return gApp.powerdown.load() != 0; }

int meas_app_flushPending() {
    if (flag(sp().meas_app_faststopreq).load()) return 1;
    return meas_app_PreTrigDrainStep() ? 0 : 1;
}

void meas_app_resetForTest() {
    meas_app_remote_exit();
    meas_app_endDriveTasks();
    meas_app_splitReset();
    meas_app_startLookForget();
    meas_app_endArrivalLeftoversTasks();
    meas_app_free_pidlist(false);
    for (auto& l : meas_app_measlist) l = nullptr;
    for (auto& l : meas_app_condlist) l = nullptr;
    for (auto& l : meas_app_blkcondlist) l = nullptr;
    gApp.stopstart = 0;
    gApp.restartReq = 0;
    gApp.restartSettle = 0;
    gApp.stepRestart = false;
    gApp.stepBefore = gApp.stepAfter = 0;
    gApp.powerdown = 0;
    gApp.timestampValid = 0;
    gApp.lastTs = 0;
    gApp.lastTsSet = false;
    gApp.stepsBackSeen = fifo_data_steps_back();
    gApp.timeWait = false;
    meas_app_foreignTimeReset();
    gApp.datatimeout = 0;
    gApp.teleInitialized = 0;
    gApp.measfifoid = gApp.globalblockid = 0;
    gApp.ltValid = false;
    gApp.destroyStopping = false;
    gApp.usbChecked = gApp.usbAvailable = gApp.usbArrivals = gApp.usbJoinWait = gApp.usbSettlingAtStart = 0;
    meas_app_driveWaitClear();
    fifo_data_release_all();
    fifo_condition_release_all();
    fifo_data_time_resync(0);
}
