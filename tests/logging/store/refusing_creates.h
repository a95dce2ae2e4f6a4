// A folder that refuses new files while the file system still shows free
// space, as a user quota, a full folder or exhausted file-system metadata
// do. The test program's own definitions of open() come before the C
// library's: while a folder is set, every attempt to make a file in it fails
// with the error given; everything else goes to the kernel unchanged.
#pragma once

#include <string>

namespace refusing_creates {

// Files made in `folder` (a host path, without the trailing '/') fail with
// err; hidden ones (named ".*") too unless hiddenToo is false.
void refuseIn(const std::string& folder, int err, bool hiddenToo = true);
// Files are made again everywhere.
void allow();
// Attempts refused since the last refuseIn.
unsigned refused();

}  // namespace refusing_creates
