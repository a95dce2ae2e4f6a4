#include "platform/startup.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

namespace {
SEM_ID g_postrun = nullptr;
std::atomic<unsigned> g_stopLimitMs{0};
std::once_flag g_guardOnce;
std::atomic<bool> g_endClaimed{false};

// From the first request of a stop on, the process has the stop limit to
// end: past it, it ends here, naming the writes of the device folder that a
// slow disk holds up (the start-up's or the stop's own).
void armStopGuard() {
    const unsigned limit = g_stopLimitMs.load();
    if (!limit) return;
    std::call_once(g_guardOnce, [limit] {
        std::thread([limit] {
            std::this_thread::sleep_for(std::chrono::milliseconds(limit));
            if (!startup_claimEnd()) return;   // the stop is at its end
            const auto left = host::diskWritesUnderWay();
            for (const auto& w : left)
                syslogx(147, "rtpShutdown: the write of %s left unfinished at the stop after %ld ms", w.path.c_str(),
                        w.ms);
            syslogx(147, "rtpShutdown: the stop did not end within %u ms: the process ends%s", limit,
                    left.empty() ? " (no write of the device folder under way)" : "");
            syslogx_readerStop();
            _exit(0);
        }).detach();
    });
}
}  // namespace

void startup_setStopLimit(unsigned ms) { g_stopLimitMs.store(ms); }

bool startup_claimEnd() { return !g_endClaimed.exchange(true); }

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
    armStopGuard();
    if (g_postrun) semGive(g_postrun);
}

void startup_waitPostrun() {
    if (!g_postrun) return;
    semTake(g_postrun, WAIT_FOREVER);
    armStopGuard();   // (the semaphore may be given by name from outside)
}
