// Calls of the C library that a test can hold at a gate: the syncs of the
// NVRAM's file (a slow disk under nvram.bin) and the look-ups of names made
// by one chosen thread (a slow USB drive). The test program's own fsync()
// and lstat() come before the C library's; everything not held goes on
// unchanged.
#pragma once

#include <chrono>
#include <thread>

namespace held_calls {

// Syncs of files named "nvram.bin.tmp" wait while held.
void holdNvramSyncs();
void releaseNvramSyncs();
// Whether a sync of the NVRAM's file waits at the gate now (up to limit).
bool nvramSyncWaits(std::chrono::seconds limit);

// fdatasync() and fsync() of files whose path holds `part` (a drive's
// folder, "/usb_meas/") wait while held; the path is looked at when the
// call comes, so a sync held when its drive is pulled stays held.
void holdDriveSyncs(const char* part);
void releaseDriveSyncs();
bool driveSyncWaits(std::chrono::seconds limit);

// lstat() calls of the thread wait while held.
void holdLookups(std::thread::id of);
// ... or those of every task of the name (e.g. "r_MeasSplit").
void holdLookupsOfTask(const char* name);
void releaseLookups();
bool lookupWaits(std::chrono::seconds limit);
// Whether n callers wait at the gate together (up to limit).
bool lookupWaiters(int n, std::chrono::seconds limit);

}  // namespace held_calls
