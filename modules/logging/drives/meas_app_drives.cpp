#include "logging/drives/meas_app_drives.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "logging/config/cfg_meas.h"
#include "platform/files.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "xml/xml_file.h"

namespace {
// Without a debounce time until the start-up sets one.
cfg_meas_devHwInfo_t gHwInfo[2] = {};
const bool gBound = [] {
    cfg_meas_devHwInfo = gHwInfo;
    return true;
}();

constexpr uint32_t kStatusDrivesReady = 0x8000;

// The logging raster, the file writers and the file-count task ask at the
// same time; each call reads and updates the drive's history.
std::mutex gDebounceMx;

// 0 when the drive of path is ready (or no path is set); else -1 with the
// drive (or the path that names none) copied into notReady.
int drivePathReady(const char* path, char* notReady) {
    if (!path || !*path) return 0;
    char drive[CFG_MEAS_STRLEN + 1] = {};
    const char* colon = nullptr;
    for (const char* p = path; *p && p - path < int(CFG_MEAS_STRLEN); ++p)
        if (*p == ':') colon = p;
    if (colon) {
        for (int i = 0; path + i <= colon; ++i) drive[i] = path[i];
        if (meas_app_driveAvDebounce(drive) == 0) return 0;
    } else {
        std::snprintf(drive, sizeof drive, "%.*s", int(CFG_MEAS_STRLEN), path);
    }
    if (notReady) std::memcpy(notReady, drive, sizeof drive);
    return -1;
}
}  // namespace

void meas_app_setDriveDebounce(unsigned hwIdx, uint32_t ms) {
    (void)gBound;
    if (hwIdx >= 2) return;
    std::lock_guard<std::mutex> lk(gDebounceMx);
    gHwInfo[hwIdx] = {ms, {}, 0, gHwInfo[hwIdx].copyInhibit};
}

int meas_app_driveAvailableService(const char* drive) {
    int hw = cfg_meas_getHwIdxFromDrvName(drive);
    if (hw < 0 || hw >= 2) return -1;
    return driveAvailable(drive) == 0 ? 0 : -1;
}

int meas_app_driveAvDebounce(const char* drive) {
    int hw = drive ? cfg_meas_getHwIdxFromDrvName(drive) : -1;
    if (hw < 0) return -1;
    bool available = meas_app_driveAvailableService(drive) == 0;
    std::lock_guard<std::mutex> lk(gDebounceMx);
    cfg_meas_devHwInfo_t& info = gHwInfo[hw];
    int result = -1;
    if (info.debounceMs == 0) {
        result = available ? 0 : -1;
    } else if (available) {
        timespec now{};
        bool clock = clock_appltime(&now) == 0;
        if (!info.lastAvailable) {
            if (!clock) {
                syslogx(147, "meas_app_driveAvDebounce() could not read system time, ret %d", -1);
                return -1;
            }
            info.availableSince = now;
        }
        if (clock) {
            int64_t ms = int64_t(now.tv_sec - info.availableSince.tv_sec) * 1000 +
                         (now.tv_nsec - info.availableSince.tv_nsec) / 1000000;
            result = ms >= int64_t(info.debounceMs) ? 0 : int(int64_t(info.debounceMs) - ms);
        }
    }
    info.lastAvailable = available ? 1 : 0;
    return result;
}

int meas_app_DiskReadyDrive(unsigned idx, char* notReady) {
    if (notReady) *notReady = 0;
    if (idx >= 3) return -1;   // there are three measurements
    const cfg_meas_t& m = cfg_meas[idx];
    if (m.noFile == 1 || m.noFile == 5) return 0;
    if (meas_app_driveAvDebounce(m.targetPartition) != 0) {
        if (notReady) std::snprintf(notReady, CFG_MEAS_STRLEN + 1, "%.*s", int(CFG_MEAS_STRLEN), m.targetPartition);
        return -1;
    }
    return meas_app_ConfigDriveReady(idx, notReady);
}

int meas_app_ConfigDriveReady(unsigned idx, char* notReady) {
    if (notReady) *notReady = 0;
    if (idx >= 3) return -1;
    const cfg_meas_t& m = cfg_meas[idx];
    if (drivePathReady(m.qovFile, notReady) != 0) return -1;
    return drivePathReady(m.binFile, notReady);
}

int meas_app_DiskReady(unsigned idx) { return meas_app_DiskReadyDrive(idx, nullptr); }

int meas_app_DisksReady() {
    for (unsigned i = 0; i < 3; ++i) {
        if (meas_app_DiskReady(i) != 0) {
            meas_led_clr_status(kStatusDrivesReady);
            return -1;
        }
    }
    meas_led_set_status(kStatusDrivesReady);
    return 0;
}

void* meas_app_get_QOVConfiguration(unsigned idx, uint32_t* len) {
    if (len) *len = 0;
    if (idx != 0 && idx != 2) return nullptr;
    const char* path = cfg_meas[idx].qovFile;
    const std::string problem = xmlFileProblem(path);
    if (problem == "not found") {
        syslogx(151, "meas_app_get_QOVConfiguration file '%s' not found", path);
        return nullptr;
    }
    // an empty file is an empty client configuration: taken, but named,
    // for it is most likely a file that lost its content
    if (problem == "is empty") syslogx(148, "meas_app_get_QOVConfiguration file '%s' is empty", path);
    else if (!problem.empty()) {
        syslogx(148, "meas_app_get_QOVConfiguration file '%s' %s, not used", path, problem.c_str());
        return nullptr;
    }
    size_t n = 0;
    char* buf = fload(path, &n);
    if (!buf) return nullptr;   // fload said why
    if (len) *len = uint32_t(n);
    return buf;
}
