// Watches the device folder while the device runs: one removed (or moved to
// another file system) leaves every write of the device failing, each named
// by its own component, and messages that name a path where a new folder
// may stand by now. One line on stderr says what happened and what the
// device does: the log file went with the folder.
#include "folder_watch.h"

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/syslogx.h"

#include <cstdio>

namespace {

// Looks at the open folder (no disk access: its inode is in memory) once a
// second, off the rasters.
void watchBody() {
    for (;;) {
        taskDelay(sysClkRateGet());
        const std::string gone = host::deviceFolderGone();
        if (!gone.empty()) {
            std::fprintf(stderr, "tav9: %s\n", gone.c_str());
            return;
        }
    }
}

}  // namespace

void folderWatch_start() {
    if (!taskSpawn("r_folderWatch", 250, 0, 16384, [] { watchBody(); }))
        syslogx(147, "startup: the device folder's watch did not start: a removed folder is not said");
}
