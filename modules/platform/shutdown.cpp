#include <atomic>
#include <chrono>
#include <string>

#include "host/os/os.h"
#include "platform/error_mgr.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/raster.h"
#include "platform/startup.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

namespace {

constexpr unsigned kPwmOutputs = 8;
constexpr int kLoggerFlushWaitMs = 950;
constexpr int kLoggerPollMs = 10;
// How long a log record of the shutdown waits for room in a full log queue,
// and all of them together (every task's): a slow log reader must not hold
// the logging raster up past the logger's flush wait.
constexpr int kLogRoomWaitMs = 200;
constexpr int kLogRoomBudgetMs = 300;
// How long the stop waits for the NVRAM's disk: a slow or stalled disk must
// not hold the end up. What it lacks then is named.
constexpr unsigned kNvramStoreWaitMs = 2000;

ShutdownHooks g_hooks;
std::atomic<bool> g_done{false};

}  // namespace

void rtpShutdown_setHooks(const ShutdownHooks& hooks) { g_hooks = hooks; }

void rtpShutdown() {
    if (g_done.exchange(true)) return;
    // What the shutdown and the stopping components log is what tells how the
    // run ended: from now on it waits for room rather than be lost to a flood.
    syslogx_waitForRoom(kLogRoomWaitMs, kLogRoomBudgetMs);
    syslogx(150, "rtpShutdown: orderly shutdown");
    for (unsigned ch = 0; ch < kPwmOutputs; ++ch) PwmOut_Stop(ch);
    if (g_hooks.stopComponents) g_hooks.stopComponents();

    bool flushed = true;
    if (g_hooks.loggerFlushed) {
        int waited = 0;
        while (!(flushed = g_hooks.loggerFlushed()) && waited < kLoggerFlushWaitMs) {
            taskDelay(kLoggerPollMs * sysClkRateGet() / 1000);
            waited += kLoggerPollMs;
        }
        if (!flushed) syslogx(148, "rtpShutdown: logger not flushed after %d ms", waited);
    }
    if (g_hooks.haltLogger) g_hooks.haltLogger();
    if (g_hooks.endCopies) g_hooks.endCopies(flushed);

    raster_stopAll();
    if (error_mgr_store() != 1) syslogx(147, "rtpShutdown: error memory not stored");
    // what the NVRAM still holds for the disk goes there now, for a while
    // (a failure is logged)
    const auto flushStart = std::chrono::steady_clock::now();
    if (!nvram_dbs_flushWithin(kNvramStoreWaitMs)) {
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
    syslogx_readerStop();
    syslogx_waitForRoom(0, 0);   // no reader makes room any more
}
