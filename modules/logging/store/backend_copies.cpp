// The copies of a measurement's files to another drive that were asked for:
// a copy brings the whole file to that drive, so its writer there names
// what it missed of the file as brought by the copy (the copy names its own
// failure, should it fail). And the files a drive's going cut, which a copy
// completes when the drive is back.
#include <algorithm>
#include <cstring>

#include "logging/counters/lapoutfra.h"
#include "logging/drives/drive_entry.h"
#include "logging/store/backend.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/pretrigger.h"

namespace measure::store {

void Backend::noteCopyAsked(const CopyFile_t& copy) {
    char name[40];
    if (!copy.name || LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(measIdx_), copy.outing, copy.lap,
                                                  copy.fragment, copy.absLap) < 0)
        return;
    std::lock_guard<std::mutex> lk(copiesMx_);
    if (copies_.size() >= kCopiesKept) copies_.pop_front();
    copies_.emplace_back(copy.name, name);
}

bool Backend::copyBrings(const char* drive, const char* fileName) const {
    std::lock_guard<std::mutex> lk(copiesMx_);
    return std::any_of(copies_.begin(), copies_.end(),
                       [&](const auto& c) { return c.first == drive && c.second == fileName; });
}

namespace {

// The counters a measurement file name of measurement measIdx carries;
// false for any other name.
bool countersOfName(unsigned measIdx, const char* name, CopyFile_t& c) {
    MeasNameCounters n{};
    if (!meas_countersOfName(name, &n)) return false;
    c = CopyFile_t{};
    c.outing = n.outing;
    c.lap = n.lap;
    c.absLap = n.absLap;
    c.fragment = n.fragment;
    // the name the counters give, for this measurement: nothing else passes
    char again[40];
    return LapOutFra_genFilenameAbsLap(again, sizeof again, uint8_t(measIdx), c.outing, c.lap, c.fragment,
                                       c.absLap) > 0 &&
           std::strcmp(again, name) == 0;
}

}  // namespace

void Backend::noteCutOnDrive(const char* drive, const char* fileName) {
    CopyFile_t c{};
    if (!drive || !fileName || !countersOfName(measIdx_, fileName, c)) return;
    auto same = [&](const std::pair<std::string, CopyFile_t>& k) {
        return k.first == drive && k.second.outing == c.outing && k.second.lap == c.lap &&
               k.second.absLap == c.absLap && k.second.fragment == c.fragment;
    };
    std::lock_guard<std::mutex> lk(copiesMx_);
    if (std::any_of(cuts_.begin(), cuts_.end(), same)) return;
    if (cuts_.size() >= kCopiesKept) cuts_.pop_front();
    cuts_.emplace_back(drive, c);
}

std::vector<CopyFile_t> Backend::takeCutOnDrive(const char* drive) {
    std::vector<CopyFile_t> taken;
    if (!drive) return taken;
    std::lock_guard<std::mutex> lk(copiesMx_);
    for (auto k = cuts_.begin(); k != cuts_.end();) {
        if (k->first != drive) {
            ++k;
            continue;
        }
        taken.push_back(k->second);
        k = cuts_.erase(k);
    }
    return taken;
}

}  // namespace measure::store

std::vector<CopyFile_t> meas_app_PreTrigTakeCutOnDrive(void* handle, const char* drive) {
    measure::store::Backend* be = handle ? static_cast<measure::store::Pretrigger*>(handle)->getBackend() : nullptr;
    return be ? be->takeCutOnDrive(drive) : std::vector<CopyFile_t>{};
}
