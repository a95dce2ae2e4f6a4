// File helpers. Every path may be a device path ("cfg:/m01.xml",
// "meas:/a/b.dat") or a host path; device paths are mapped to the drive
// folders of the device folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/kernel/kernel.h"

// Host path of a device path ("" for a null path or an unknown drive).
std::string dev_path(const char* path);
// fopen of a device path; null (errno ENOENT) for an unknown drive.
FILE* dev_fopen(const char* path, const char* mode);

// Opens the plain file at path for reading without ever waiting on it
// (host::openFileToRead): null when nothing is there or it is no file to
// read, with the words of host::fileProblem in *problem ("not found", "is a
// FIFO", "is too large (N bytes)" above maxBytes, ...); *size gets the size
// of the file opened. An empty file is opened.
FILE* dev_fopen_read(const char* path, std::string* problem = nullptr, size_t* size = nullptr,
                     uint64_t maxBytes = host::kFileMaxBytes);

// 1 when a plain file is there that can be opened for reading (it is closed
// again), else 0; a FIFO, a device or a folder is no such file.
int fexist(const char* path);
// Size in bytes; 0 for a null path or anything but a plain file that can be
// opened.
long fsize(const char* path);
// The whole file in a new zeroed buffer one byte longer than the file (so it
// ends with 0); the caller frees it. *len (optional) gets the file length, 0
// on failure. Null (logged) when the file is missing, no file to read (named
// as what it is), above host::kFileMaxBytes, cannot be allocated, opened or
// read whole.
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
