#include <atomic>
#include <climits>
#include <chrono>
#include <string>

#include "host/os/os.h"
#include "platform/error_mgr.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/raster.h"
#include "platform/startup.h"
#include "platform/stop_budget.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

namespace {

constexpr unsigned kPwmOutputs = 8;
constexpr unsigned kLoggerFlushWaitMs = 950;
constexpr unsigned kLoggerPollMs = 10;
// How long the copies still pending may take once the files are whole.
constexpr unsigned kCopiesWaitMs = 2500;
// How long a log record of the shutdown waits for room in a full log queue,
// and all of them together (every task's): a slow log reader must not hold
// the logging raster up past the logger's flush wait.
constexpr int kLogRoomWaitMs = 200;
constexpr int kLogRoomBudgetMs = 300;
// How long the stop waits for the NVRAM's disk: a slow or stalled disk must
// not hold the end up. What it lacks then is named.
constexpr unsigned kNvramStoreWaitMs = 2000;
// What the stop keeps of its budget for the steps after a wait: the logger's
// halt (its writers one after the other, and the fast stop's queueing it
// waits for), and the copies' naming.
constexpr unsigned kHaltReserveMs = 600;
// The NVRAM's disk gets at least this much of the budget before the end.
constexpr unsigned kNvramReserveMs = 300;
// How long before the guard's time the stop's own steps end.
constexpr unsigned kGuardLeadMs = 100;
// How long a second caller of the logger's end waits for the first's.
constexpr unsigned kEndLoggingJoinMs = 400;

ShutdownHooks g_hooks;
std::atomic<bool> g_done{false};
enum : int { kLoggingRunning, kLoggingEnding, kLoggingEnded };
std::atomic<int> g_logging{kLoggingRunning};

}  // namespace

bool rtpShutdown_endLogging(bool filesWhole, unsigned fastStopWaitMs) {
    int state = kLoggingRunning;
    if (g_logging.compare_exchange_strong(state, kLoggingEnding)) {
        if (g_hooks.haltLogger) g_hooks.haltLogger(fastStopWaitMs);
        // (the writers halted: what they wrote is no newer than this)
        if (g_hooks.noteRecordingStops) g_hooks.noteRecordingStops();
        const unsigned copiesWait = filesWhole ? stopBudget_waitMs(kCopiesWaitMs, kStopTailMs + kNvramReserveMs) : 0;
        if (g_hooks.endCopies) g_hooks.endCopies(filesWhole, copiesWait);
        g_logging.store(kLoggingEnded);
        return true;
    }
    // another task ends the logging: its naming comes first, for a while
    for (unsigned waited = 0; g_logging.load() != kLoggingEnded && waited < kEndLoggingJoinMs; waited += kLoggerPollMs)
        taskDelay(kLoggerPollMs * sysClkRateGet() / 1000);
    // the first may be stuck before it said them: the guard ends the process
    // next and says them itself (each once, whoever comes first)
    if (g_hooks.noteRecordingStops) g_hooks.noteRecordingStops();
    return g_logging.load() == kLoggingEnded;
}

void rtpShutdown_setHooks(const ShutdownHooks& hooks) { g_hooks = hooks; }

int rtpShutdown() {
    if (g_done.exchange(true)) return 0;
    // What the shutdown and the stopping components log is what tells how the
    // run ended: from now on it waits for room rather than be lost to a flood.
    syslogx_waitForRoom(kLogRoomWaitMs, kLogRoomBudgetMs);
    syslogx(150, "rtpShutdown: orderly shutdown");
    stopBudget_noteStep("the components' stop");
    for (unsigned ch = 0; ch < kPwmOutputs; ++ch) PwmOut_Stop(ch);
    if (g_hooks.stopComponents) g_hooks.stopComponents();

    // the logger's flush, its halt and the copies' naming must fit in
    // what the stop has left
    bool flushed = true;
    stopBudget_noteStep("the logger's flush");
    if (g_hooks.loggerFlushed) {
        const unsigned flushWait = stopBudget_waitMs(kLoggerFlushWaitMs, kHaltReserveMs + kStopTailMs);
        unsigned waited = 0;
        while (!(flushed = g_hooks.loggerFlushed()) && waited < flushWait) {
            taskDelay(kLoggerPollMs * sysClkRateGet() / 1000);
            waited += kLoggerPollMs;
        }
        if (!flushed) syslogx(148, "rtpShutdown: logger not flushed after %u ms", waited);
    }
    stopBudget_noteStep("the logger's halt");
    rtpShutdown_endLogging(flushed, stopBudget_waitMs(kLoggerFlushWaitMs, kHaltReserveMs + kStopTailMs));

    stopBudget_noteStep("the rasters' stop");
    raster_stopAll();
    stopBudget_noteStep("the error memory's store");
    if (error_mgr_store() != 1) syslogx(147, "rtpShutdown: error memory not stored");
    // what the NVRAM still holds for the disk goes there now, for a while
    // (a failure is logged)
    stopBudget_noteStep("the NVRAM's flush");
    const auto flushStart = std::chrono::steady_clock::now();
    // (done before the guard would take the end over)
    if (!nvram_dbs_flushWithin(stopBudget_waitMs(kNvramStoreWaitMs, kStopTailMs + kGuardLeadMs))) {
        const long waited = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - flushStart)
                                                  .count());
        const std::string lacks = nvram_dbs_unstored();
        syslogx(147, "rtpShutdown: NVRAM changes not on the disk after %ld ms: %s", waited,
                lacks.empty() ? "(none named)" : lacks.c_str());
    }

    for (int i = 0; i < raster_count(); ++i) {
        RasterInfo ri;
        if (!raster_info(i, &ri)) continue;
        if (ri.skippedRuns)
            syslogx(150, "raster %s: %llu ticks, %llu runs lost to lags", ri.name,
                    static_cast<unsigned long long>(ri.ticks), static_cast<unsigned long long>(ri.skippedRuns));
        else
            syslogx(150, "raster %s: %llu ticks", ri.name, static_cast<unsigned long long>(ri.ticks));
    }
    // the stop's limit has ended the process meanwhile, or ends it now
    if (!startup_claimEnd())
        for (;;) taskDelay(sysClkRateGet());
    syslogx(150, "rtpShutdown: done");
    stopBudget_noteStep("the log's end");
    // the log and the kernel side's services share what is left
    const bool logged = syslogx_readerStopWithin(stopBudget_waitMs(UINT_MAX, kStopTailMs / 2));
    syslogx_waitForRoom(0, 0);   // no reader makes room any more
    return logged ? 0 : kExitStopUnnamed;
}
