// Empty measurement files left by a power cut. A writer puts a file's header
// on the drive as soon as it makes the file, but a cut between the making
// and the header (or a file system that kept the name and lost the bytes)
// can still leave one empty: it holds nothing to read, and at the next start
// it is named and removed. Only plain files with a measurement file name
// are looked at; links are not followed. A file this process made is never
// taken: the drives are looked at while the logging already runs, and a
// writer's new file is empty for a moment before its header is on it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "logging/drives/drive_entry.h"
#include "logging/drives/meas_app_disks.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

// File times come from the coarse clock, read here at the process's start.
// A file stamped in the same tick was made before the start or just after
// it; the writers make their files much later, so it is an earlier run's.
timespec coarseNow() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t;
}
const timespec kProcessStart = coarseNow();

bool madeByAnEarlierRun(const timespec& t) {
    return t.tv_sec < kProcessStart.tv_sec || (t.tv_sec == kProcessStart.tv_sec && t.tv_nsec <= kProcessStart.tv_nsec);
}

}  // namespace

int meas_app_removeEmptyMeasFiles(const char* drive) {
    const std::string host = drive ? dev_path(drive) : "";
    DIR* dir = host.empty() ? nullptr : ::opendir(host.c_str());
    if (!dir) return 0;
    const int dfd = ::dirfd(dir);
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (!meas_isMeasFileName(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0 ||
            !madeByAnEarlierRun(st.st_mtim))
            continue;
        if (::unlinkat(dfd, e->d_name, 0) != 0) {
            syslogx(147, "meas_app_removeEmptyMeasFiles(): empty measurement file '%s/%s' cannot be removed: %s",
                    drive, e->d_name, std::strerror(errno));
            continue;
        }
        syslogx(150, "meas_app_removeEmptyMeasFiles(): empty measurement file '%s/%s' left from an earlier run "
                     "removed",
                drive, e->d_name);
        ++removed;
    }
    ::closedir(dir);
    return removed;
}
