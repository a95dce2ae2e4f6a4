// The internal drive's writer keeps an eye on its drive while it writes. A
// drive that is pulled (its folder removed) does not fail the writes into
// files already open: they go on into files that no longer exist. So the
// writer looks at the drive and at its open files a few times a second.
#include <sys/stat.h>

#include <cstdio>

#include "logging/drives/meas_app_drives.h"
#include "logging/store/backend.h"
#include "logging/store/writer.h"
#include "platform/syslogx.h"

namespace measure::store {

namespace {
constexpr uint32_t kDriveCheckAge = 2500;   // 0.25 s in 0.1 ms
}  // namespace

bool BFSWriter::driveThere() const { return meas_app_driveAvailableService(drive_.c_str()) == 0; }

void BFSWriter::checkDrive() {
    nextDriveCheck_ = writerClock() + kDriveCheckAge;
    const bool there = driveThere();
    if (!mediaAvailable_.load()) {
        if (there) mediaAvailable_.store(true);
        return;
    }
    unsigned lost = 0;
    for (auto& e : files_) {
        if (e.state != OPEN || !e.stream) continue;
        // a file removed with its folder has no name left on the drive, even
        // when the folder has been made again meanwhile
        struct stat st{};
        if (there && ::fstat(e.fd, &st) == 0 && st.st_nlink > 0) continue;
        std::fclose(e.stream);   // what it still buffers has no file to go to
        e.stream = nullptr;
        e.fd = -1;
        e.state = LOST;
        dropPendingMeta(e.vfIdx);
        countFailure();
        ++lost;
        syslogx(151, "BFSWriter::checkDrive() - file '%s' is gone from the drive", e.path);
    }
    if (!there) mediaAvailable_.store(false);
    if (lost || !there) backend_.noteDriveLoss();
}

}  // namespace measure::store
