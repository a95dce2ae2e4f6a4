// The "measdump" command: checks a measurement file and lists it.
//   measdump FILE         header (with the 8.3 name its counters give), block
//                         descriptors, metadata (time stamps, car id, events,
//                         status blocks with their lap stack,
//                         time-master ids decoded), frames, records
//   measdump --csv FILE   records as CSV: block,time,values (hex)
// Exit code 0 for a sound file, 1 for a broken one (or one whose status block
// names another file or ends its lap stack elsewhere), 2 for a usage error or
// an unreadable file (not a regular file, or larger than a measurement file
// can be), 3 for a file cut off by its end (a writer that stopped mid-item,
// the 42-byte header included, or a file that ends without its closing
// status block): its complete items
// are listed, the cut is reported. The file is read piece by piece and each
// item listed as it comes, so that a large file costs time, not memory.
#pragma once

#include <cstdio>

#include "logging/format/meas_file_reader.h"

int measdump_main(int argc, const char* const* argv, FILE* out, FILE* err);
// measdump of one file (--csv when csv), read `chunk` bytes at a time; the
// exit code as above.
int measdump_file(const char* path, bool csv, FILE* out, FILE* err, size_t chunk);

// Lists what was read; the closing "ok:" line only for a sound, closed file.
void measdump_list(const MeasFileContent& content, FILE* out, bool complete = true);
void measdump_csv(const MeasFileContent& content, FILE* out);
