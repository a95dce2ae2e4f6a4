// What stands at a name on a logging drive. A measurement file is made only
// where nothing stands; what is there is looked at without opening it (a
// FIFO would hold whoever opens it) and without following a link.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include <functional>
#include <string>

// Words for the entry at the host path: "a file", "an empty file", "a
// FIFO", "a link", "a folder", "a device", "a socket"; null when nothing is
// there.
const char* meas_driveEntryKind(const std::string& hostPath);

// Whether name is a measurement file name as the lap counters make them: a
// letter 'A' or 'B', seven lower-case hexadecimal digits, a dot and three
// more ("A0102000.101").
bool meas_isMeasFileName(const char* name);

// The counters such a name carries: outing and lap ("%02x" each after the
// letter), the absolute lap ("%03x" before the dot, "%1x" after it) and the
// fragment (the last "%02x"). False, *out untouched, for any other name.
struct MeasNameCounters {
    uint16_t outing, lap, absLap, fragment;
};
bool meas_countersOfName(const char* name, MeasNameCounters* out);

// Calls visit for each plain file in the drive's folder whose name `pick`
// takes, with the folder's descriptor (for unlinkat), the name and what
// lstat says of it; links are not followed and anything but a plain file is
// passed by. A folder that cannot be read is passed by as empty.
void meas_forEachPlainFile(const std::string& hostFolder, const std::function<bool(const char* name)>& pick,
                           const std::function<void(int dirFd, const char* name, const struct stat& st)>& visit);
