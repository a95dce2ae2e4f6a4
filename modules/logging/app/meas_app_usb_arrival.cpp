// What a USB drive's arrival makes, off the logging raster that sees it: the
// drive's directory flags are checked (an erase request clears its old
// files), the measurement files are split, the split's name moves past the
// names in use on the logging drives, and the file the split closed is
// copied to the drive. All of it looks at drives, and a slow stick must not
// stall the raster: it runs in the task "r_UsbArrival", one per arrival.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/meas_app_store.h"
#include "platform/syslogx.h"

#include <algorithm>
#include <vector>

namespace {

const char kUsb[] = "usb_meas:";
// How long the logging's shutdown waits for an arrival still being made
// (its split and copy go before the stop); one stuck at the drive stays.
constexpr int kEndWaitMs = 1000;

// The tasks arrivals started. The lock is held for the look at the list only,
// never across a wait: the raster that sees an arrival takes it too.
std::mutex gTasksMx;
std::vector<TASK_ID> gTasks;
bool gTasksEnded = false;

// The copy of the file the split closed, asked of the measurement's writers;
// its store is touched under the condition lock, under which a destroy frees it.
void copyToUsb(unsigned idx, const LapOutFraState& s) {
    meas_t& m = meas[idx];
    SEM_ID lock = m.condLock;
    if (!lock || semTake(lock, WAIT_FOREVER) != OK) return;
    CopyFile_t c{};
    c.outing = s.outing;
    c.lap = s.lap;
    c.absLap = s.absLap;
    c.fragment = s.fragment;
    c.name = kUsb;
    c.nameOwned = 0;
    if (m.store) meas_app_PreTrigCopyFile(m.store, &c);
    semGive(lock);
}

void makeArrival(const MeasUsbArrival& a) {
    MeasAppStore_driveCheckDirectoryFlags(kUsb);
    if (!a.split) return;
    meas_app_setForcedFrag(MEAS_IDX_M01);
    meas_app_setForcedFrag(MEAS_IDX_M03);
    meas_app_clearsegmentation();
    // the copy is of the file this fragment closes, not of the one it opens
    // (which is still being written): the counters the step was made of
    LapOutFraState closed{};
    LapOutFra_setFragmentTrig(a.timeStamp, &closed);
    if (!closed.valid) {
        syslogx(147, "LapOutFra_checkFragmentTrigOnUSBEvent() lapoutfra invalid, skip file copy");
        return;
    }
    if (!a.copy) return;
    copyToUsb(MEAS_IDX_M01, closed);
    if (LOGGING2_TARGET_PARTITION_ram == 0) copyToUsb(MEAS_IDX_M03, closed);
}

}  // namespace

void meas_app_usbArrivalTask(const MeasUsbArrival& a) {
    enum { STARTED, ENDED, FAILED } outcome = STARTED;
    {
        std::lock_guard<std::mutex> lk(gTasksMx);
        if (gTasksEnded) {
            outcome = ENDED;
        } else {
            // the ids of those that ended by themselves go (an id is never reused)
            gTasks.erase(std::remove_if(gTasks.begin(), gTasks.end(),
                                        [](TASK_ID t) { return taskWait(t, NO_WAIT) == OK; }),
                         gTasks.end());
            TASK_ID t = taskSpawn("r_UsbArrival", 160, VX_FP_TASK, 20480, [a] { makeArrival(a); });
            if (t) gTasks.push_back(t);
            else outcome = FAILED;
        }
    }
    // logged outside the lock: a full log queue may hold the caller a while
    if (outcome == ENDED)
        syslogx(150, "meas_app_usbArrivalTask(): the logging has ended, the arrival of '%s' makes no split", kUsb);
    if (outcome == FAILED)
        syslogx(147, "meas_app_usbArrivalTask(): start of r_UsbArrival task failed, the arrival of '%s' makes no split",
                kUsb);
}

void meas_app_endUsbArrivalTasks() {
    std::vector<TASK_ID> running;
    {
        std::lock_guard<std::mutex> lk(gTasksMx);
        gTasksEnded = true;
        running.swap(gTasks);
    }
    const uint64_t until = tickGet() + uint64_t(kEndWaitMs) * sysClkRateGet() / 1000;
    for (TASK_ID t : running) {
        const uint64_t now = tickGet();
        if (taskWait(t, now < until ? int(until - now) : NO_WAIT) != OK)
            syslogx(148, "meas_app_endUsbArrivalTasks(): r_UsbArrival still waits for '%s' at the stop: its split "
                         "or copy may not be made",
                    kUsb);
    }
}

void meas_app_allowUsbArrivalTasks() {
    std::lock_guard<std::mutex> lk(gTasksMx);
    gTasksEnded = false;
}
