// Records lost with a file that could not be made, named by stretch.
#include "logging/store/virtual_file_unmade.h"

#include <cstring>

#include "logging/store/virtual_file.h"
#include "platform/syslogx.h"

namespace measure::store {

UnmadeFiles unmadeFiles;

bool UnmadeFiles::refused(unsigned measIdx, const char* name, uint32_t ts) {
    if (measIdx >= kMeas || !name) return false;
    Stretch before;
    bool begins = false;
    {
        std::lock_guard<std::mutex> lk(mx_);
        Stretch& s = stretch_[measIdx];
        if (s.count && std::strncmp(s.file, name, sizeof s.file) != 0) {
            before = s;
            s.count = 0;
        }
        // the blocks' records come in raster order, not in time order:
        // compared by signed differences, the 0.1 ms clock wraps at 2^32
        if (s.count++ == 0) {
            begins = true;
            s.low = s.high = ts;
            std::strncpy(s.file, name, sizeof s.file - 1);
            s.file[sizeof s.file - 1] = 0;
        }
        if (int32_t(ts - s.low) < 0) s.low = ts;
        if (int32_t(ts - s.high) > 0) s.high = ts;
    }
    if (before.count) log(measIdx, before);
    return begins;
}

bool UnmadeFiles::worthTrying(unsigned measIdx, const char* name) {
    if (measIdx >= kMeas || !name) return true;
    {
        std::lock_guard<std::mutex> lk(mx_);
        const Stretch& s = stretch_[measIdx];
        if (!s.count || std::strncmp(s.file, name, sizeof s.file) != 0) return true;
    }
    return virtualFiles.hasRoom(measIdx);
}

void UnmadeFiles::name(unsigned measIdx) {
    if (measIdx >= kMeas) return;
    Stretch s;
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!stretch_[measIdx].count) return;
        s = stretch_[measIdx];
        stretch_[measIdx].count = 0;
    }
    log(measIdx, s);
}

// One line a stretch, past any flood limit: it stands for every record of it.
void UnmadeFiles::log(unsigned measIdx, const Stretch& s) {
    syslogx(148 | SYSLOGX_LOSS, "m0%u: %u records of '%s' lost, time stamps %u to %u: the file could not be made",
            measIdx + 1, unsigned(s.count), s.file, unsigned(s.low), unsigned(s.high));
}

}  // namespace measure::store
