// Values refused for their time stamps: a source that stamps in another
// time base (it follows another time master, or none) is named once, in
// words, with how far off its stamps are; a record refused only because
// this device's own clock just stepped is not.
#include <gtest/gtest.h>

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
}  // namespace

TEST_F(MeasAppTest, ValuesStampedInAnotherTimeBaseAreNamedOncePerSource) {
    writeConfig(0, "R1ms");
    start();
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
