// Splits the logging raster asks for (a file's size or time limit reached, a
// drive back or with room again): the next records of m01 and m03 go into new
// files. The split's name is looked for on the logging drives, where a slow
// drive may hold the look-up: the split is made in the task "r_MeasSplit".
//
// A split asked for and not yet begun takes in the requests that come
// meanwhile: its step comes after them. The size and time limits keep showing
// as reached until a split has closed the files, so the raster looks at them
// again only once no split is asked for or being made.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"
#include "platform/timebase.h"

namespace {

std::atomic<bool> gAsked{false};   // a split asked for whose step has not begun
std::atomic<int> gMaking{0};       // split tasks that have not ended
std::atomic<unsigned> gCheck{0};   // measurements whose drive's flags go first

void makeSplit() {
    gAsked.store(false);   // requests from here on need a step of their own
    // a drive back: an erase request on it clears its old files before the
    // new ones are made
    const unsigned check = gCheck.exchange(0);
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx)
        if (check & (1u << idx)) MeasAppStore_driveCheckDirectoryFlags(cfg_meas[idx].targetPartition);
    meas_app_setForcedFrag(MEAS_IDX_M01);
    meas_app_setForcedFrag(MEAS_IDX_M03);
    meas_app_clearsegmentation();
    LapOutFra_setFragmentTrig(time_getTimestamp());
    gMaking.fetch_sub(1);
}

}  // namespace

void meas_app_forceFragment(unsigned checkDrivesOf) {
    gCheck.fetch_or(checkDrivesOf);
    if (gAsked.exchange(true)) return;
    gMaking.fetch_add(1);
    // Not started (the logging has ended; logged): the request stays asked,
    // and no other is made until the raster entries are made again.
    if (!meas_app_driveTask("r_MeasSplit", "a split of the measurement files", [] { makeSplit(); }))
        gMaking.fetch_sub(1);
}

bool meas_app_splitPending() { return gAsked.load() || gMaking.load() > 0; }

void meas_app_splitReset() {
    gAsked.store(false);
    gMaking.store(0);
    gCheck.store(0);
}
