#include "platform/startup.h"

#include <cstdio>

#include "host/os/os.h"
#include "platform/syslogx.h"

namespace {
SEM_ID g_postrun = nullptr;
}

int startup_postrunInit(int appNumber) {
    char name[32];
    snprintf(name, sizeof name, "/SemPostDrive%d", appNumber);
    g_postrun = semOpen(name, SEM_TYPE_BINARY, SEM_EMPTY, SEM_Q_FIFO, OM_CREATE);
    if (!g_postrun) {
        syslogx(3, "startup: cannot create %s", name);
        return 0;
    }
    return 1;
}

void startPostrun() {
    if (g_postrun) semGive(g_postrun);
}

void startup_waitPostrun() {
    if (!g_postrun) return;
    semTake(g_postrun, WAIT_FOREVER);
}
