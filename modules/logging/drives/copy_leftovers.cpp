// Part files of copies that a cut left on a drive (a power cut, a drive
// pulled mid-copy and plugged in again). Such a part holds a file that is
// still whole on its own drive; the copy is not made again, and the part is
// removed at the start and when the drive arrives, each one named. Only
// plain files named "<measurement file name>.part" are looked at; links are
// not followed, and a part that a running copy writes is left alone. A
// drive that arrives loses its empty measurement files then too, as the
// drives do at the start.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/os/os.h"
#include "logging/drives/copy_parts.h"
#include "logging/drives/drive_entry.h"
#include "logging/drives/drive_task_set.h"
#include "logging/drives/meas_app_disks.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"

namespace {

constexpr char kPartSuffix[] = ".part";

// Held by the copy tasks and the removal only, never by a raster: the
// removal keeps it across the look at a part and its unlink, so that a copy
// never starts its part in between.
std::mutex gPartsMx;
std::multiset<std::string> gPartsInUse;

bool isPartName(const char* name) {
    const size_t n = std::strlen(name), s = sizeof kPartSuffix - 1;
    if (n <= s || std::strcmp(name + n - s, kPartSuffix) != 0) return false;
    return meas_isMeasFileName(std::string(name, n - s).c_str());
}

}  // namespace

std::string meas_copyPartName(const std::string& to) { return to + kPartSuffix; }

void meas_copyPartBegin(const std::string& hostPath) {
    std::lock_guard<std::mutex> lk(gPartsMx);
    gPartsInUse.insert(hostPath);
}

void meas_copyPartEnd(const std::string& hostPath) {
    std::lock_guard<std::mutex> lk(gPartsMx);
    auto it = gPartsInUse.find(hostPath);
    if (it != gPartsInUse.end()) gPartsInUse.erase(it);
}

int meas_app_removeCopyLeftovers(const char* drive) {
    const std::string host = drive ? dev_path(drive) : "";
    int removed = 0;
    meas_forEachPlainFile(host, isPartName, [&](int dfd, const char* name, const struct stat& st) {
        if (taskDeletePending()) return;   // the logging ends: the rest waits for the next start
        std::lock_guard<std::mutex> lk(gPartsMx);
        if (gPartsInUse.count(host + "/" + name)) return;
        if (::unlinkat(dfd, name, 0) != 0) {
            syslogx(147, "meas_app_removeCopyLeftovers(): part of a cut copy '%s/%s' cannot be removed: %s", drive,
                    name, std::strerror(errno));
            return;
        }
        syslogx(150, "meas_app_removeCopyLeftovers(): part of a cut copy '%s/%s' removed (%lld bytes), the copy is "
                     "not made again",
                drive, name, static_cast<long long>(st.st_size));
        ++removed;
    });
    return removed;
}

namespace {

// The removal tasks that arrivals started, ended and joined by the logging's
// shutdown.
DriveTaskSet gTasks;

}  // namespace

void meas_app_removeArrivalLeftoversTask(const char* drive) {
    if (!drive) return;
    const std::string d = drive;
    auto remove = [d] {
        meas_app_removeEmptyMeasFiles(d.c_str());
        meas_app_removeCopyLeftovers(d.c_str());
    };
    const DriveTaskSet::Start outcome = gTasks.start("r_CopyLeftover", remove);
    // logged outside the set's lock: a full log queue may hold the caller a while
    if (outcome == DriveTaskSet::Start::Closed)
        syslogx(150, "meas_app_removeArrivalLeftoversTask(): the logging has ended, what cuts left on '%s' stays "
                     "until the next start",
                drive);
    if (outcome == DriveTaskSet::Start::Failed)
        syslogx(147, "meas_app_removeArrivalLeftoversTask(): start of r_CopyLeftover task failed!");
}

void meas_app_endArrivalLeftoversTasks() {
    // each stops at its next file (taskDeletePending) and is joined
    for (const DriveTaskSet::Running& t : gTasks.close())
        task_stop(t.id, "meas_app_endArrivalLeftoversTasks()", "its folder on the drive");
}

void meas_app_allowArrivalLeftoversTasks() { gTasks.open(); }
