// Values refused for their time stamps: a source that stamps in another
// time base (it follows another time master, or none) is named once, in
// words, with how far off its stamps are; a record refused only because
// this device's own clock just stepped is not. Values that come late (this
// device or their source was put aside for a while) are recorded, and
// neither they nor the device's own values are taken for another time base.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "logging/app/meas_app_internal.h"
#include "logging/app_fixture.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"

namespace {
// Hands the block a record of stim_tick stamped at t, as the gateway does.
void deliver(MeasBlock* b, uint32_t t) {
    uint8_t rec[8] = {};
    be_put32(rec, t);
    be_put32(rec + 4, 1);
    meas_app_gw_cbData(0, rec, b);
}

// This device as another PID than the one its block reads (the fixture's
// stimulus), for as long as it lives: the block's values are another
// device's.
struct AnotherDevicesValues {
    uint16_t was = app_pid;
    AnotherDevicesValues() { app_pid = 2; }
    ~AnotherDevicesValues() { app_pid = was; }
};
}  // namespace

TEST_F(MeasAppTest, ValuesStampedInAnotherTimeBaseAreNamedOncePerSource) {
    writeConfig(0, "R1ms");
    start();
    AnotherDevicesValues other;
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    run(100);
    MeasBlock* b = &meas[MEAS_IDX_M01].blocks[0];
    takeLogTexts();
    for (int i = 0; i < 5; ++i) deliver(b, time_getTimestamp() - 5000);   // half a second back: a step of its own
    for (int i = 0; i < 5; ++i) deliver(b, time_getTimestamp() + 9000000u);   // 900 s ahead
    run(100);
    for (int i = 0; i < 5; ++i) deliver(b, time_getTimestamp() - 300000u);   // 30 s behind
    run(1100);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "values of PID 0x1 come stamped 900 s ahead of this device's time, not "
                                   "recorded: does it follow another time master?"),
              1);
    EXPECT_EQ(countContaining(log, "values of PID 0x1 come stamped 30 s behind this device's time, not "
                                   "recorded: does it follow another time master?"),
              1);
    EXPECT_EQ(countContaining(log, "come stamped 0 s"), 0);
    EXPECT_EQ(countContaining(log, "does it follow another time master"), 2);
}

// A source that follows another time master, 1000 s behind, whose values
// come first: they never set the measurement's time, and the source is named
// once, "behind" as one ahead is. The first value in this device's time
// starts the measurement.
TEST_F(MeasAppTest, ValuesOfAnotherTimeBaseNeverSetTheMeasurementsTime) {
    writeConfig(0, "R1s");   // no raster of the stimulus delivers it: the test alone does
    start();
    AnotherDevicesValues other;
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    MeasBlock* b = &meas[MEAS_IDX_M01].blocks[0];
    meas_app_gw_cbStart(0, nullptr, b);   // the source's reply to the list
    takeLogTexts();
    for (int i = 0; i < 5; ++i) {
        deliver(b, time_getTimestamp() - 10000000u + 10000u * uint32_t(i));
        run(20);
    }
    run(200);
    EXPECT_EQ(meas[MEAS_IDX_M01].firstDataTimeStamp, 0u);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "values of PID 0x1 come stamped 1000 s behind this device's time, not "
                                   "recorded: does it follow another time master?"),
              1);
    EXPECT_EQ(countContaining(log, "starting measurement m01"), 0);
    const uint32_t own = time_getTimestamp();
    deliver(b, own);
    ASSERT_TRUE(runUntil([&] { return meas[MEAS_IDX_M01].firstDataTimeStamp != 0; }, 3000));
    EXPECT_EQ(meas[MEAS_IDX_M01].firstDataTimeStamp, own);
}

// This device put aside for 2.5 s (a stall): the values another device took
// meanwhile come all at once, the first ones 2.5 s late. They are late, not
// of another time base: recorded, and nobody named.
TEST_F(MeasAppTest, ValuesThatComeLateAfterAStallAreRecordedAndNobodyNamed) {
    writeConfig(0, "R10ms");
    start();
    AnotherDevicesValues other;
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    run(200);
    MeasBlock* b = &meas[MEAS_IDX_M01].blocks[0];
    takeLogTexts();
    const uint32_t before = lastTs, n = 240;   // 2.4 s of them, one each 10 ms
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (uint32_t k = 1; k <= n; ++k) deliver(b, before + 100 * k);
    run(200);
    stopAndFlush();
    EXPECT_EQ(countContaining(takeLogTexts(), "come stamped"), 0);
    uint32_t late = 0;
    for (const Rec& r : records("meas"))
        if (int32_t(r.ts - before) > 0 && int32_t(r.ts - (before + 100 * n)) <= 0) ++late;
    EXPECT_EQ(late, n);
}
