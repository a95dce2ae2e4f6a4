// Splits the logging raster asks for (a file's size or time limit reached, a
// drive back or with room again): the next records of m01 and m03 go into new
// files. The split's name is looked for on the logging drives, where a slow
// drive may hold the look-up: the split is made in the task "r_MeasSplit".
//
// A split asked for and not yet begun takes in the requests that come
// meanwhile: its step comes after them. One split task at a time: a split
// asked for while the task makes one (held by a slow drive) is made by the
// same task after it, never by a second task beside it, whose steps would
// cross the first's. The size and time limits keep showing as reached until
// a split has closed the files, so the raster looks at them again only once
// no split is asked for or being made.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"
#include "platform/timebase.h"

#include <mutex>

namespace {

// Held only to look at and change the three, never across a split's step.
std::mutex gMx;
bool gAsked = false;     // a split asked for whose step has not begun
bool gRunning = false;   // the split task runs
unsigned gCheck = 0;     // measurements whose drive's flags go first

void makeSplit(unsigned check) {
    // a drive back: an erase request on it clears its old files before the
    // new ones are made
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx)
        if (check & (1u << idx)) MeasAppStore_driveCheckDirectoryFlags(cfg_meas[idx].targetPartition);
    meas_app_setForcedFrag(MEAS_IDX_M01);
    meas_app_setForcedFrag(MEAS_IDX_M03);
    meas_app_clearsegmentation();
    LapOutFra_setFragmentTrig(time_getTimestamp());
}

// The split task: makes the splits asked for until none is.
void makeSplits() {
    for (;;) {
        unsigned check;
        {
            std::lock_guard<std::mutex> lk(gMx);
            if (!gAsked) {
                gRunning = false;
                return;
            }
            gAsked = false;   // requests from here on need a step of their own
            check = gCheck;
            gCheck = 0;
        }
        makeSplit(check);
    }
}

}  // namespace

void meas_app_forceFragment(unsigned checkDrivesOf) {
    {
        std::lock_guard<std::mutex> lk(gMx);
        gCheck |= checkDrivesOf;
        if (gAsked) return;
        gAsked = true;
        if (gRunning) return;   // the running task makes it next
        gRunning = true;
    }
    // Not started (the logging has ended; logged): the request stays asked,
    // and no other is made until the raster entries are made again.
    if (!meas_app_driveTask("r_MeasSplit", "a split of the measurement files", [] { makeSplits(); })) {
        std::lock_guard<std::mutex> lk(gMx);
        gRunning = false;
    }
}

bool meas_app_splitPending() {
    std::lock_guard<std::mutex> lk(gMx);
    return gAsked || gRunning;
}

void meas_app_splitReset() {
    std::lock_guard<std::mutex> lk(gMx);
    gAsked = false;
    gRunning = false;
    gCheck = 0;
}
