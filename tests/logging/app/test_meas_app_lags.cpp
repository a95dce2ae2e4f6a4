// A lag of the base tick that skipped ticks shows in the shell's "meas": the
// runs the rasters lost are records missing from the files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "logging/app_fixture.h"
#include "platform/raster.h"
#include "platform/shell.h"

namespace {

std::atomic<int> g_stallMs{0};

// The time source of the rasters' re-phasing, called on the base tick's own
// task: stalls it once when asked to.
uint32_t stallingNow() {
    const uint32_t stamp = host::baseTickStamp();
    if (const int ms = g_stallMs.exchange(0)) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return stamp;
}

uint64_t skippedRuns(const char* raster) {
    RasterInfo ri{};
    return raster_info(raster_find(raster), &ri) ? ri.skippedRuns : 0;
}

bool waitFor(const std::function<bool()>& cond) {
    for (int i = 0; i < 100000 && !cond(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
    return cond();
}

}  // namespace

TEST_F(MeasAppTest, ShellCountsTheRunsLostToALag) {
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string before;
    EXPECT_EQ(shell_runLineCapture("meas", &before), 0);
    EXPECT_NE(before.find("no error found"), std::string::npos) << before;

    raster_setTimeSource(stallingNow);
    ASSERT_EQ(raster_init(), 1);
    ASSERT_EQ(raster_start(false), 1);
    ASSERT_TRUE(waitFor([] { return raster_baseTicks() >= 10; }));
    g_stallMs = 250;
    rasterTaskSyncTo100ms(host::baseTickStamp());
    const bool lagged = waitFor([] { return skippedRuns("rMeas") > 0; });
    raster_stopAll();
    raster_setTimeSource(nullptr);
    ASSERT_TRUE(lagged);

    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    const std::string r1ms = "-->raster r1ms: " + std::to_string(skippedRuns("r1ms")) + " runs lost to lags of the base tick!\n";
    EXPECT_NE(out.find(r1ms), std::string::npos) << out;
    EXPECT_NE(out.find("-->raster rMeas: "), std::string::npos) << out;
    EXPECT_EQ(out.find("no error found"), std::string::npos) << out;
    ASSERT_EQ(raster_init(), 1);   // the counts start over for the tests after this one
    raster_stopAll();
}
