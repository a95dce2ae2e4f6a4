#include "platform/startup.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/stop_budget.h"
#include "platform/stop_priority.h"
#include "platform/stop_starvation.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

namespace {
SEM_ID g_postrun = nullptr;
std::once_flag g_guardOnce;
std::atomic<bool> g_endClaimed{false};

// Says the line on standard error in one write of a buffer formatted
// before: a stderr that takes nothing now (a full pipe nobody reads) gets
// nothing, rather than hold the end up.
void sayOnStderrNow(const char* text) {
    char line[512];
    const int n = snprintf(line, sizeof line, "%s\n", text);
    if (n <= 0) return;
    const size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    pollfd out{STDERR_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) (void)!write(STDERR_FILENO, line, len);
}

// The guard's end: the logger's halt has named what its writers had not
// written, unless it could not (then the exit code says so). Its line says
// where the stop was held up; it reaches log.txt through the log, and
// standard error directly where the log could not be written out.
[[noreturn]] void guardEnd(unsigned limit) {
    const char* step = stopBudget_step();
    const bool named = rtpShutdown_endLogging(false, 0);
    const auto left = host::diskWritesUnderWay();
    for (const auto& w : left)
        syslogx(147, "rtpShutdown: the write of %s left unfinished at the stop after %ld ms", w.path.c_str(), w.ms);
    char line[400];
    snprintf(line, sizeof line, "rtpShutdown: the stop did not end within %u ms: the process ends%s%s; the stop was "
             "in %s %u ms after the signal", limit,
             left.empty() ? " (no write of the device folder under way)" : "",
             named ? "" : "; what the logger had not written is not named", step, stopBudget_elapsedMs());
    syslogx(147, "%s", line);
    const bool logged = syslogx_readerStopWithin(stopBudget_waitMs(kStopTailMs, 2 * kStopExitMarginMs));
    if (!logged) sayOnStderrNow(line);
    stopStarvation_endPromptly();
    _exit(named && logged ? 0 : kExitStopUnnamed);
}

// The last resort: whatever still runs, the process ends, and says so on
// standard error without waiting for it (the log may have ended already).
[[noreturn]] void lastResortEnd(unsigned limit) {
    char line[400];
    snprintf(line, sizeof line, "rtpShutdown: the process did not end within %u ms of the stop: it ends now; the "
             "stop was in %s %u ms after the signal", limit, stopBudget_step(), stopBudget_elapsedMs());
    sayOnStderrNow(line);
    stopStarvation_endPromptly();
    _exit(kExitStopUnnamed);
}

// From the first request of a stop on, the process has the stop's budget to
// end. Before its tail the guard takes the end over from steps that wait
// too long (a command, a component, a disk): the logger's halt and its
// naming first, the writes of the device folder that a slow disk holds up
// named, then the log written out. At the budget's end the process ends
// whatever still runs (the log reader or a write stuck in the disk). The
// guard's threads run at the stop's priority: the device's own tasks do
// not hold them up. Where real-time threads of other processes give the
// tasks no CPU, the tasks run at normal priority from then on
// (platform/stop_starvation.h).
void armStopGuard() {
    stopBudget_begin();
    stopStarvation_watch();
    const unsigned limit = stopBudget_limit();
    if (!limit) return;
    std::call_once(g_guardOnce, [limit] {
        std::thread([limit] {
            stopPriority_raiseSelf("stopGuard");
            std::this_thread::sleep_for(std::chrono::milliseconds(stopBudget_waitMs(limit, kStopTailMs)));
            if (startup_claimEnd()) guardEnd(limit - kStopTailMs);
        }).detach();
        std::thread([limit] {
            stopPriority_raiseSelf("stopEnd");
            std::this_thread::sleep_for(std::chrono::milliseconds(stopBudget_waitMs(limit, kStopExitMarginMs)));
            lastResortEnd(limit);
        }).detach();
    });
}
}  // namespace

void startup_setStopLimit(unsigned ms) { stopBudget_setLimit(ms); }

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
    // woken at once and never held up by the device's own tasks
    stopPriority_raiseSelf(nullptr);
    semTake(g_postrun, WAIT_FOREVER);
    armStopGuard();   // (the semaphore may be given by name from outside)
}
