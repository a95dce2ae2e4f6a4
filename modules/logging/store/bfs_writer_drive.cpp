// The internal drive's writer keeps an eye on its drive while it writes. A
// drive that is pulled (its folder removed) does not fail the writes into
// files already open: they go on into files that no longer exist. So the
// writer looks at the drive and at its open files a few times a second.
//
// A full drive fails the writes, and a file whose header it refused is
// dropped; it cannot go on, as its header is not on the drive. Once the drive
// has room again, the back end is told as for files gone from a drive that
// is back: the measurement goes on in a new file. The USB drive's writer
// looks for room the same way. A drive that refuses a new file for another
// cause (read-only for a while, not allowed, an I/O error) is waited for in
// the same way: it is asked with the small file below until it takes one.
//
// Room is what a new file can really get: a drive may show free space and
// still refuse new files (a user quota, a full folder, the file system's own
// bookkeeping). Each of those refusals would otherwise be told as room again
// and split every measurement of the device a few times a second. So a drive
// that shows room is asked to take a small file of the size a new
// measurement file needs first; and should a new file be refused all the
// same right after the room was told, the writer waits twice as long as
// before (up to the time files are split at) before it looks again.
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/capability.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/kernel/kernel.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/backend.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/virtual_file.h"
#include "logging/store/writer.h"
#include "measurement/calparams.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace measure::store {

namespace {
constexpr uint32_t kDriveCheckAge = 2500;   // 0.25 s in 0.1 ms
// Room a new file needs beyond its header before it counts as room again:
// with less, its header would be refused at once.
constexpr uint64_t kRoomBeyondHeader = 16384;
// The first wait after a new file was refused right after room was told,
// and the longest wait when files are not split by time.
constexpr uint32_t kRoomWaitFirst = 10000;     // 1 s in 0.1 ms
constexpr uint32_t kRoomWaitLongest = 600000;  // 60 s
// The small file that asks a drive whether it takes a new one
// (kMeasRoomProbeName): hidden, one per measurement (two may share a
// drive), gone again at once. One that a power cut left is removed first,
// and at the next start or arrival of the drive (meas_app_removeRoomProbes).

// Whether this process may write the blocks the file system keeps in
// reserve: as root, or with the capability to pass resource limits.
bool mayUseReserve() {
    if (::geteuid() == 0) return true;
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &hdr, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_SYS_RESOURCE)].effective & CAP_TO_MASK(CAP_SYS_RESOURCE)) != 0;
}

// Whether the file system shows room for a file of `bytes`, counting the
// reserved blocks when this process may write them.
bool roomFor(const std::string& host, uint64_t bytes) {
    struct statvfs st {};
    if (host.empty() || ::statvfs(host.c_str(), &st) != 0) return false;
    const bool inode = st.f_files == 0 || st.f_favail > 0;   // 0: the file system counts none
    static const bool reserve = mayUseReserve();
    const uint64_t blocks = reserve ? st.f_bfree : st.f_bavail;
    return inode && blocks * st.f_frsize >= bytes;
}

// Makes measurement measIdx's file of `bytes` in the folder `host` and
// removes it again: 0 when the drive took it, else why it refused.
int makeProbe(const std::string& host, unsigned measIdx, uint64_t bytes) {
    char name[24];
    std::snprintf(name, sizeof name, kMeasRoomProbeName, measIdx + 1);
    const std::string path = host + "/" + name;
    const int fd = host::createFileAnew(path, 0600);
    // something that is no file stands at the name (a folder): the file
    // system's own answer has to do
    if (fd < 0) return errno == EEXIST || errno == EISDIR || errno == EPERM ? 0 : errno;
    static const char zeros[4096] = {};
    int err = 0;
    for (uint64_t done = 0; done < bytes && !err;) {
        const ssize_t n = ::write(fd, zeros, size_t(std::min<uint64_t>(sizeof zeros, bytes - done)));
        if (n > 0) done += uint64_t(n);
        else if (n < 0 && errno != EINTR) err = errno;
        else if (n == 0) err = ENOSPC;
    }
    ::close(fd);
    ::unlink(path.c_str());
    return err;
}

// The longest wait between two looks for room: the time files are split at.
uint32_t roomWaitLongest() {
    const uint32_t secs = FILEFRAGMENTATION_TIME();
    return secs ? std::min(secs * 10000u, 36000000u) : kRoomWaitLongest;   // at most an hour
}
}  // namespace

bool BFSWriter::driveThere() const { return meas_app_driveAvailableService(drive_.c_str()) == 0; }

void BFSWriter::checkDrive() {
    nextDriveCheck_ = writerClock() + kDriveCheckAge;
    if (type() == WRITER_TYPE_USB) {
        // a USB stick comes and goes as the logging application expects
        // (the files of one pulled are dropped, also when it came back
        // before the writer looked); its room is looked at
        if (mediaAvailable_.load()) {
            dropStreamsNoLongerNamed();
            checkRoom();
        }
        return;
    }
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
        __fpurge(e.stream);   // what it still buffers has no file to go to
        std::fclose(e.stream);
        e.stream = nullptr;
        e.fd = -1;
        e.state = LOST;
        dropPendingMeta(e.vfIdx);
        countFailure();
        ++lost;
        syslogx(151, "BFSWriter::checkDrive() - file '%s' is gone from the drive", e.path);
    }
    if (!there) mediaAvailable_.store(false);
    if (lost || !there) backend_.noteDriveLoss(MEAS_STORE_FILES_GONE);
    else checkRoom();
}

void BFSWriter::checkRoom() {
    auto waiting = [](const WriterFileEntry_t& e) { return e.vfIdx != -1 && e.state == SKIP && e.waitsForDrive && !e.roomTold; };
    uint64_t wanted = 0;
    const WriterFileEntry_t* dropped = nullptr;
    bool madeSince = false;   // a file made since the room was last told, its header on the drive
    for (auto& e : files_) {
        if (e.vfIdx > roomToldVf_ && e.state == OPEN && e.headerEnd != UINT32_MAX && e.whole >= e.headerEnd)
            madeSince = true;
        if (!waiting(e)) continue;
        // the file is live until this writer has passed its close (or the
        // back end has moved it past, which may free the file meanwhile)
        wanted = std::max(wanted, virtualFiles.headerSize(measIdx_, e.vfIdx) + kRoomBeyondHeader);
        if (!dropped || e.vfIdx > dropped->vfIdx) dropped = &e;
    }
    const uint32_t now = writerClock();
    if (afterRoom_ && (dropped || madeSince)) {
        afterRoom_ = false;
        if (dropped) {
            // the file made for the room that was told was refused as well
            roomWait_ = std::min(roomWait_ ? 2 * roomWait_ : kRoomWaitFirst, roomWaitLongest());
            roomWaitFrom_ = now;
            syslogx(148, "BFSWriter: drive %s refused a new file right after it had room, next look in %u s",
                    drive_.c_str(), unsigned(roomWait_ / 10000));
        } else {
            roomWait_ = 0;   // the drive takes files again
        }
    }
    if (!dropped || now - roomWaitFrom_ < roomWait_) return;
    const std::string host = dev_path(drive_.c_str());
    if (!roomFor(host, wanted)) return;
    if (const int err = makeProbe(host, measIdx_, wanted)) {
        if (!refusalTold_)
            syslogx(148, "BFSWriter: drive %s shows room but refuses a new file (%s)", drive_.c_str(),
                    std::strerror(err));
        refusalTold_ = true;
        return;
    }
    syslogx(150 | SYSLOGX_LOSS, "BFSWriter: drive %s has room again ('%s' was dropped), recording goes on in a new file",
            drive_.c_str(), dropped->path);
    for (auto& e : files_) {
        if (!waiting(e)) continue;
        e.roomTold = true;
        roomToldVf_ = std::max(roomToldVf_, e.vfIdx);
    }
    afterRoom_ = true;
    refusalTold_ = false;
    floodDrop_ = 0;   // the drops of the next time it is full are named again
    backend_.noteDriveLoss(type() == WRITER_TYPE_USB ? MEAS_STORE_USB_ROOM_AGAIN : MEAS_STORE_ROOM_AGAIN);
}

}  // namespace measure::store
