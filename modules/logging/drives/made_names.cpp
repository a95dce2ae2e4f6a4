// The files the writers made, by the name their counters gave them. A
// writer whose name is in use on its drive makes the file under the next
// free one; the copy to another drive asks here for the file that was
// really made, so that it never takes what stands under the counters' name
// (an earlier run's file) for the recording, and whether the writer still
// writes to the file it made (a copy waits for its close, and may complete
// the destination's file once its writer let it go). Held by the writer and
// copy tasks only, never by a raster.
#include <deque>
#include <mutex>
#include <string>

#include "logging/drives/copy_pending.h"
#include "logging/drives/meas_app_disks.h"
#include "platform/files.h"

namespace {

// The newest names of this run, oldest first: a copy asks for a file a few
// seconds after it was made.
constexpr size_t kKept = 256;
std::mutex gMx;
struct Made {
    std::string named;   // as a host path: the drive's folder of this run
    std::string made;    // the device path
    std::string madeHost;
    bool open = true;    // its writer may still write to it
};
std::deque<Made> gMade;

}  // namespace

void meas_app_noteFileMadeAs(const std::string& namedPath, const std::string& made) {
    const std::string named = dev_path(namedPath.c_str()), madeHost = dev_path(made.c_str());
    if (named.empty()) return;
    std::lock_guard<std::mutex> lk(gMx);
    for (auto it = gMade.begin(); it != gMade.end(); ++it) {
        if (it->named != named) continue;
        gMade.erase(it);   // a name made again: its newest file counts
        break;
    }
    gMade.push_back(Made{named, made, madeHost});
    if (gMade.size() > kKept) gMade.pop_front();
}

std::string meas_app_fileMadeAs(const std::string& namedPath) {
    const std::string named = dev_path(namedPath.c_str());
    std::lock_guard<std::mutex> lk(gMx);
    for (auto it = gMade.rbegin(); it != gMade.rend(); ++it)
        if (it->named == named) return it->made;
    return namedPath;
}

void meas_app_noteFileLetGo(const std::string& made) {
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (Made& m : gMade)
            if (m.made == made) m.open = false;
    }
    // a copy that waits for this file's close goes on (taken after this lock:
    // the copies ask here under theirs)
    meas_app_pendingCopiesLookAgain();
}

bool meas_app_writerHolds(const std::string& path) {
    const std::string host = dev_path(path.c_str());
    if (host.empty()) return false;
    std::lock_guard<std::mutex> lk(gMx);
    for (auto it = gMade.rbegin(); it != gMade.rend(); ++it)
        if (it->madeHost == host) return it->open;
    return false;
}

bool meas_app_writerLetGo(const std::string& path) {
    const std::string named = dev_path(path.c_str());
    std::lock_guard<std::mutex> lk(gMx);
    for (auto it = gMade.rbegin(); it != gMade.rend(); ++it)
        if (it->named == named) return it->made == path && !it->open;
    return false;
}
