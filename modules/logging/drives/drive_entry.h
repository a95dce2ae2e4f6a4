// What stands at a name on a logging drive. A measurement file is made only
// where nothing stands; what is there is looked at without opening it (a
// FIFO would hold whoever opens it) and without following a link.
#pragma once

#include <string>

// Words for the entry at the host path: "a file", "an empty file", "a
// FIFO", "a link", "a folder", "a device", "a socket"; null when nothing is
// there.
const char* meas_driveEntryKind(const std::string& hostPath);

// Whether name is a measurement file name as the lap counters make them: a
// letter 'A' or 'B', seven lower-case hexadecimal digits, a dot and three
// more ("A0102000.101").
bool meas_isMeasFileName(const char* name);
