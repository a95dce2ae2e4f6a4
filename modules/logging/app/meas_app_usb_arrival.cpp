// What a USB drive's arrival makes, off the logging raster that sees it: the
// drive's directory flags are checked (an erase request clears its old
// files), the measurement files are split, the split's name moves past the
// names in use on the logging drives, and the file the split closed is
// copied to the drive, with those its time away left cut on it. All of it
// looks at drives, and a slow stick must not stall the raster: it runs in
// the task "r_UsbArrival", one per arrival.
#include <string>
#include <vector>

#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/meas_app_store.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

const char kUsb[] = "usb_meas:";

// Runs f with the measurement's store (null when it has none) under the
// condition lock, under which a destroy frees the store.
template <typename F>
void withStore(unsigned idx, F&& f) {
    meas_t& m = meas[idx];
    SEM_ID lock = m.condLock;
    if (!lock || semTake(lock, WAIT_FOREVER) != OK) return;
    f(m.store);
    semGive(lock);
}

// The copy of the file of these counters, asked of the measurement's writers.
void copyToUsb(unsigned idx, CopyFile_t c) {
    c.name = kUsb;
    c.nameOwned = 0;
    withStore(idx, [&](void* store) {
        if (store) meas_app_PreTrigCopyFile(store, &c);
    });
}

bool sameFile(const CopyFile_t& a, const CopyFile_t& b) {
    return a.outing == b.outing && a.lap == b.lap && a.absLap == b.absLap && a.fragment == b.fragment;
}

// The copies of the measurement's files that the drive's time away cut:
// the file the split closed, and those a lap or fragment closed while the
// drive was away, which would stay cut on it. Only a file the drive still
// holds under that name is copied (the copy completes it where it is the
// start of the recording): a drive that came in its place gets no files of
// the time before it.
void copyCutToUsb(unsigned idx, const CopyFile_t& closed) {
    std::vector<CopyFile_t> cut;
    withStore(idx, [&](void* store) { cut = meas_app_PreTrigTakeCutOnDrive(store, kUsb); });
    copyToUsb(idx, closed);
    for (const CopyFile_t& c : cut) {
        char name[40];
        if (sameFile(c, closed) || LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(idx), c.outing, c.lap,
                                                               c.fragment, c.absLap) < 0)
            continue;
        if (fexist((std::string(kUsb) + "/" + name).c_str())) copyToUsb(idx, c);
    }
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
    CopyFile_t c{};
    c.outing = closed.outing;
    c.lap = closed.lap;
    c.absLap = closed.absLap;
    c.fragment = closed.fragment;
    copyCutToUsb(MEAS_IDX_M01, c);
    if (LOGGING2_TARGET_PARTITION_ram == 0) copyCutToUsb(MEAS_IDX_M03, c);
}

}  // namespace

void meas_app_usbArrivalTask(const MeasUsbArrival& a) {
    meas_app_driveTask("r_UsbArrival", "the USB drive's arrival (split and copy)", [a] { makeArrival(a); });
}
