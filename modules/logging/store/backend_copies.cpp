// The copies of a measurement's files to another drive that were asked for:
// a copy brings the whole file to that drive, so its writer there names
// what it missed of the file as brought by the copy (the copy names its own
// failure, should it fail).
#include <algorithm>

#include "logging/counters/lapoutfra.h"
#include "logging/store/backend.h"

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

}  // namespace measure::store
