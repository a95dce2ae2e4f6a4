// File helpers. Every path may be a device path ("cfg:/m01.xml",
// "meas:/a/b.dat") or a host path; device paths are mapped to the drive
// folders of the device folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Host path of a device path ("" for a null path or an unknown drive).
std::string dev_path(const char* path);
// fopen of a device path; null (errno ENOENT) for an unknown drive.
FILE* dev_fopen(const char* path, const char* mode);

// 1 when the file can be opened for reading (it is closed again), else 0.
int fexist(const char* path);
// Size in bytes; 0 for a null path or a file that cannot be opened or measured.
long fsize(const char* path);
// The whole file in a new zeroed buffer one byte longer than the file (so it
// ends with 0); the caller frees it. *len (optional) gets the file length, 0
// on failure. Null (logged) when the file is missing, cannot be allocated,
// opened or read whole.
char* fload(const char* path, size_t* len);

// Splits path at its last '/' or '\' into the drive with its directory and the
// file name (the separator belongs to neither); without a separator after the
// last ':' (which stays with the drive); with neither, logs and gives the
// whole path as file name. Each output holds at most size-1 characters and a
// terminating 0; a null path gives two empty texts.
void measPathSplitn(const char* path, char* drive, char* file, size_t size);

// Copies src into the text field dst of size characters (terminated); a text
// that does not fit keeps its tail, the end of a path being the telling part.
char* strncpy_tail(char* dst, const char* src, size_t size);

// 0 when the drive ("cfg:", "meas:", ...) is available, else -1.
int driveAvailable(const char* drive);
// File-system statistics of a drive's root: file entries in use and in all;
// 0, or -1 when the file system refuses them.
int driveFileStatistics(const char* drive, uint32_t* used, uint32_t* total);
