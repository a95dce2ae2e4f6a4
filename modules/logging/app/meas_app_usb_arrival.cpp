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

namespace {

const char kUsb[] = "usb_meas:";

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
    meas_app_driveTask("r_UsbArrival", "the USB drive's arrival (split and copy)", [a] { makeArrival(a); });
}
