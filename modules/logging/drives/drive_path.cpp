// The drive part of a device path, and the telemetry configuration that is
// never kept in flash.
#include <cstring>

#include "logging/drives/meas_app_disks.h"
#include "platform/syslogx.h"

namespace {
constexpr unsigned kMaxTerminatorPos = 41;   // the drive and its ':' fit a 42-byte field
}

int meas_app_filenameGetDrive(const char* path, char* drive, unsigned* pos) {
    if (!path || !drive) return -1;
    const char* colon = std::strrchr(path, ':');
    const unsigned at = colon ? unsigned(colon - path) : unsigned(std::strlen(path));
    if (!colon || at >= kMaxTerminatorPos) {
        syslogx(147, "meas_app_filenameGetDrive():posTerminator %u could not find terminator char ':' in %s", at,
                path);
        return -1;
    }
    std::memcpy(drive, path, at + 1);
    drive[at + 1] = 0;
    if (pos) *pos = at;
    return int(at);
}

int load_telecfg_from_flash() { return 0; }
