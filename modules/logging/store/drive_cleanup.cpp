// Cleanup of a drive whose root carries the D flag (set when its files have
// been taken off the device): files without the archive attribute go.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

constexpr uint32_t kDFlag = 0x01;   // bit 0 of the drive root's attributes

long msSince(const timespec& start) {
    timespec now{}, d{};
    clock_appltime(&now);
    clock_difftime(&now, &start, &d);
    return long(d.tv_sec * 1000 + d.tv_nsec / 1000000);
}

std::string driveRoot(const char* drive) {
    std::string d = drive;
    while (!d.empty() && d.back() == '/') d.pop_back();
    return d;
}

}  // namespace

int MeasAppStore_cleanup_old_measfiles(const char* drive, int) {
    timespec start{};
    clock_appltime(&start);
    const std::string host = drive ? dev_path(drive) : "";
    DIR* dir = host.empty() ? nullptr : ::opendir(host.c_str());
    if (!dir) {
        syslogx(147, "MeasAppStore_cleanup_old_measfiles() IO_IOCTL_FIND_FIRST_FILE %s failed", drive ? drive : "");
        return -1;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;   // ".", ".." and the attribute side file
        names.push_back(e->d_name);
    }
    ::closedir(dir);
    if (names.empty()) {
        syslogx(151, "MeasAppStore_cleanup_old_measfiles() IO_IOCTL_FIND_FIRST_FILE %s no files found", drive);
        return 0;
    }
    int deleted = 0;
    for (const auto& n : names) {
        const std::string dev = driveRoot(drive) + "/" + n;
        uint32_t attrs = 0;
        if (!host::getFileAttributes(dev, &attrs)) {
            syslogx(147, "MeasAppStore_cleanup_old_measfiles() FIOFSTATGET @ %s failed", dev.c_str());
            continue;
        }
        if (attrs & (host::ATTR_ARCHIVE | host::ATTR_DIRECTORY)) continue;
        syslogx(150, "MeasAppStore_cleanup_old_measfiles() Deleting %s", dev.c_str());
        if (::unlink((host + "/" + n).c_str()) != 0) {
            syslogx(147, "MeasAppStore_cleanup_old_measfiles() FIOUNLINK @ %s failed", dev.c_str());
            break;
        }
        host::setFileAttributes(dev, 0);
        ++deleted;
    }
    if (deleted) meas_app_fsflush_drive(drive);
    syslogx(150, "MeasAppStore_cleanup_old_measfiles() ... %d files deleted, took %dms", deleted, int(msSince(start)));
    return deleted;
}

int MeasAppStore_driveCheckDirectoryFlags(const char* drive) {
    timespec start{};
    clock_appltime(&start);
    if (!drive || driveAvailable(drive) != 0) {
        syslogx(147, "MeasAppStore_driveCheckDirectoryFlags(): open device '%s' failed", drive ? drive : "");
        return -1;
    }
    const std::string root = driveRoot(drive);
    uint32_t attrs = 0;
    if (!host::getFileAttributes(root, &attrs)) {
        syslogx(147, "MeasAppStore_driveCheckDirectoryFlags() Error! '%s': IO_IOCTL_BFS_GET_DIR_ATTR", drive);
        return 0;
    }
    int result = 0;
    if (attrs & kDFlag) {
        syslogx(150, "MeasAppStore_driveCheckDirectoryFlags() D-Flag on '%s' set", drive);
        MeasAppStore_cleanup_old_measfiles(drive, -1);
        meas_store_notifyDataChanged(drive);
        if (!host::setFileAttributes(root, attrs & ~(kDFlag | host::ATTR_DIRECTORY))) {
            syslogx(147, "MeasAppStore_driveCheckDirectoryFlags() Error! '%s' IO_IOCTL_BFS_SET_DIR_ATTR", drive);
            return 0;
        }
        meas_app_fsflush_drive(drive);
        result = 1;
    } else {
        syslogx(151, "D-Flag on '%s' not set: 0x%X", drive, attrs);
    }
    syslogx(151, "MeasAppStore_driveCheckDirectoryFlags() check on '%s' took %dms", drive, int(msSince(start)));
    return result;
}

void meas_app_fsflush_drive(const char* drive) {
    if (!drive) return;
    for (unsigned m = 0; m < MEAS_COUNT; ++m)
        if (std::strncmp(cfg_meas[m].targetPartition, drive, CFG_MEAS_STRLEN) == 0 ||
            std::strncmp(cfg_meas[m].copyPartition, drive, CFG_MEAS_STRLEN) == 0)
            meas_app_fsflush(m);
}
