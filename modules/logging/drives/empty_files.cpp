// What a power cut leaves on a logging drive. A writer puts a file's header
// on the drive as soon as it makes the file, but a cut between the making
// and the header (or a file system that kept the name and lost the bytes)
// can still leave one empty: it holds nothing to read, and at the next start
// it is named and removed. Only plain files with a measurement file name
// are looked at; links are not followed. A file a writer of this run made is
// never taken, whatever its time stamp says (a clock set back, or a file
// system's coarse stamps, make stamps no guide): the drives may be looked at
// while the logging already runs, and a writer's new file is empty for a
// moment before its header is on it.
//
// A writer asks a drive for room with a small file it removes at once; one
// that a cut left stays hidden on the drive, and is removed the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "host/os/os.h"
#include "logging/drives/drive_entry.h"
#include "logging/drives/meas_app_disks.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

// The measurement files the writers of this run made (host paths).
std::mutex gMadeMx;
std::unordered_set<std::string> gMade;

bool madeByThisRun(const std::string& hostPath) {
    std::lock_guard<std::mutex> lk(gMadeMx);
    return gMade.count(hostPath) != 0;
}

// The host folder of a drive with a '/' at its end.
std::string folderOf(const char* drive) {
    std::string host = drive ? dev_path(drive) : "";
    if (!host.empty() && host.back() != '/') host += '/';
    return host;
}

}  // namespace

bool meas_app_noteFileMade(const std::string& hostPath) {
    std::lock_guard<std::mutex> lk(gMadeMx);
    return gMade.insert(hostPath).second;
}

void meas_app_forgetFileMade(const std::string& hostPath) {
    std::lock_guard<std::mutex> lk(gMadeMx);
    gMade.erase(hostPath);
}

int meas_app_removeEmptyMeasFiles(const char* drive) {
    int removed = 0;
    meas_forEachPlainFile(folderOf(drive), meas_isMeasFileName, [&](int dfd, const char* name, const struct stat& st) {
        if (st.st_size != 0 || taskDeletePending()) return;   // (ending: the rest waits for the next start)
        // the path as the writers build it
        if (madeByThisRun(dev_path((std::string(drive) + "/" + name).c_str()))) return;
        if (::unlinkat(dfd, name, 0) != 0) {
            syslogx(147, "meas_app_removeEmptyMeasFiles(): empty measurement file '%s/%s' cannot be removed: %s",
                    drive, name, std::strerror(errno));
            return;
        }
        syslogx(150, "meas_app_removeEmptyMeasFiles(): empty measurement file '%s/%s' left from an earlier run "
                     "removed",
                drive, name);
        ++removed;
    });
    return removed;
}

int meas_app_removeRoomProbes(const char* drive) {
    const std::string host = folderOf(drive);
    if (host.empty()) return 0;
    int removed = 0;
    for (unsigned m = 1; m <= 3; ++m) {
        char name[24];
        std::snprintf(name, sizeof name, kMeasRoomProbeName, m);
        const std::string path = host + name;
        struct stat st {};
        // a folder or anything else that stands there is not the writer's
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(path.c_str()) != 0) {
            if (errno != ENOENT)
                syslogx(147, "meas_app_removeRoomProbes(): '%s/%s' cannot be removed: %s", drive, name,
                        std::strerror(errno));
            continue;
        }
        syslogx(150, "meas_app_removeRoomProbes(): '%s/%s' left by a cut removed", drive, name);
        ++removed;
    }
    return removed;
}
