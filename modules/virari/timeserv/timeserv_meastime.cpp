// The measurement time: the 1 ms time base in 0.1 ms that stamps the sampled
// data. It follows the core's time stamp while the core is in full sync and
// runs on by 1 ms per call otherwise; the rasters and the soft scheduler are
// re-phased to the core's time at the first call and on external sync.
#include <atomic>

#include "awm/awm.h"
#include "platform/raster.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "virari/timeserv/timeserv.h"
#include "virari/timeserv/timeserv_internal.h"

namespace {
std::atomic<uint32_t> gMeasTime{0};   // written by the 1 ms raster only
std::atomic<bool> gEnabled{false};
uint8_t gLastState = 255;             // 1 ms raster only

constexpr uint32_t kFullExternalSync = 7;

void rephase(uint32_t t) {
    softSchedSyncTo100ms(t);
    rasterTaskSyncTo100ms(t + 10);
}
}  // namespace

void timeserv_MeasTime_ini() { gEnabled = true; }

void timeserv_MeasTime_1ms() {
    time_stepCheck();   // what keeps a span open across a step of the time learns of it
    const uint32_t x = time_getSyncXState();
    uint32_t s = time_getSyncState();
    const uint32_t t = time_getTimestamp_reg();
    if (!gEnabled) return;
    if (gLastState == 255) {
        rephase(t);
        s = 3;
        syslogx(151, "timeserv_MeasTime_1ms: Initial sync: %d, last: %d", int(t), int(gMeasTime.load()));
    } else if (x == kFullExternalSync && gLastState != kFullExternalSync) {
        rephase(t);
        syslogx(151, "timeserv_MeasTime_1ms: External sync: %d, last: %d", int(t), int(gMeasTime.load()));
    }
    gLastState = uint8_t(x);
    gMeasTime.store(s == 3 ? t : gMeasTime.load(std::memory_order_relaxed) + 10, std::memory_order_release);
}

uint32_t timeserv_getMeasTime() { return gMeasTime.load(std::memory_order_acquire); }

void timeserv_MeasTime_reset() {
    gEnabled = false;
    gLastState = 255;
    gMeasTime = 0;
}
