// The internal drive's writer keeps an eye on its drive while it writes. A
// drive that is pulled (its folder removed) does not fail the writes into
// files already open: they go on into files that no longer exist. So the
// writer looks at the drive and at its open files a few times a second.
//
// A full drive fails the writes, and a file whose header it refused is
// dropped; it cannot go on, as its header is not on the drive. Once the drive
// has room again, the back end is told as for files gone from a drive that
// is back: the measurement goes on in a new file.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>

#include "logging/drives/meas_app_drives.h"
#include "logging/store/backend.h"
#include "logging/store/virtual_file.h"
#include "logging/store/writer.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace measure::store {

namespace {
constexpr uint32_t kDriveCheckAge = 2500;   // 0.25 s in 0.1 ms
// Room a new file needs beyond its header before it counts as room again:
// with less, its header would be refused at once.
constexpr uint64_t kRoomBeyondHeader = 16384;

bool roomFor(const char* drive, uint64_t bytes) {
    const std::string host = dev_path(drive);
    struct statvfs st {};
    if (host.empty() || ::statvfs(host.c_str(), &st) != 0) return false;
    const bool inode = st.f_files == 0 || st.f_favail > 0;   // 0: the file system counts none
    return inode && uint64_t(st.f_bavail) * st.f_frsize >= bytes;
}
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
    else checkRoom();
}

void BFSWriter::checkRoom() {
    auto waiting = [](const WriterFileEntry_t& e) { return e.vfIdx != -1 && e.state == SKIP && e.full && !e.roomTold; };
    uint64_t wanted = 0;
    const char* name = nullptr;
    for (auto& e : files_) {
        if (!waiting(e)) continue;
        // the file is live until this writer has passed its close
        const VirtualFile* vf = virtualFiles.get(measIdx_, e.vfIdx);
        wanted = std::max(wanted, (vf ? vf->headerSize() : 0) + kRoomBeyondHeader);
        name = e.path;
    }
    if (!name || !roomFor(drive_.c_str(), wanted)) return;
    syslogx(150, "BFSWriter: drive %s has room again ('%s' was dropped), recording goes on in a new file",
            drive_.c_str(), name);
    for (auto& e : files_)
        if (waiting(e)) e.roomTold = true;
    floodDrop_ = 0;   // the drops of the next time it is full are named again
    backend_.noteDriveLoss();
}

}  // namespace measure::store
