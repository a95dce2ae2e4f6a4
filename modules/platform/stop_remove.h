// Removing a file at the stop without standing between the stop's guard and
// the process's end.
//
// An unlink that a busy disk holds up waits uninterruptibly, and a process
// with a thread in it cannot end: the guard's end would wait for the disk.
// The removal is made by a process of its own, which holds nothing of this
// one (no descriptor, no lock); this one waits for it within a bound and
// goes on without it, leaving it to finish once the disk lets it.
#pragma once

#include <string>

// Removes the socket at `path` (anything else there stays): true once it
// is gone or none was there, false when the removal is still under way
// after waitMs (then said in the log) or could not be started.
bool stopRemove_socket(const std::string& path, unsigned waitMs);
