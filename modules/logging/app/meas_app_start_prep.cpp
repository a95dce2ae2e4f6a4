// What a start looks at on the drives before its first files are made: the
// flags of the measurements' drives (an erase request clears their old files)
// and the names in use (the first files take the next free name: the one the
// counters give may hold an earlier run's file, or another device's on the
// USB drive). A slow drive must not stall the logging raster that serves the
// start: the look is made in the task "r_MeasStart", and the start waits for
// it. Counters changed since the look (a stop steps them on without a look)
// send the start to look again.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Look {
    unsigned asked = 0;   // the look asked for last (raster)
    bool open = false;    // raster: asked for, its start not made
};
Look gLook;

// What the task found, for the raster.
std::mutex gDoneMx;
unsigned gDone = 0;
LapOutFraState gDoneAt{};

bool sameCounters(const LapOutFraState& a, const LapOutFraState& b) {
    return a.valid == b.valid && a.outing == b.outing && a.lap == b.lap && a.absLap == b.absLap &&
           a.fragment == b.fragment;
}

void look(unsigned id, const std::vector<std::string>& drives) {
    for (const std::string& d : drives) MeasAppStore_driveCheckDirectoryFlags(d.c_str());
    LapOutFra_skipNamesInUse();
    LapOutFraState at{};
    LapOutFra_getState(&at);
    std::lock_guard<std::mutex> lk(gDoneMx);
    gDone = id;
    gDoneAt = at;
}

}  // namespace

int meas_app_startLooked() {
    if (!gLook.open) {
        // (one that waits for its drive checks it when it starts)
        std::vector<std::string> drives;
        for (unsigned i = 0; i < MEAS_COUNT; ++i)
            if (cfg_meas[i].noFile != 1 && !meas_app_driveWaiting(i, nullptr))
                drives.emplace_back(cfg_meas[i].targetPartition,
                                    strnlen(cfg_meas[i].targetPartition, sizeof cfg_meas[i].targetPartition));
        const unsigned id = ++gLook.asked;
        if (!meas_app_driveTask("r_MeasStart", "the start's look at its drives",
                                [id, drives = std::move(drives)] { look(id, drives); }))
            return -1;
        gLook.open = true;
        return 0;
    }
    LapOutFraState at{};
    {
        std::lock_guard<std::mutex> lk(gDoneMx);
        if (gDone != gLook.asked) return 0;
        at = gDoneAt;
    }
    gLook.open = false;
    LapOutFraState now{};
    LapOutFra_getState(&now);
    return sameCounters(at, now) ? 1 : 0;   // changed: looked at again from the next tick
}

void meas_app_startLookForget() { gLook.open = false; }
