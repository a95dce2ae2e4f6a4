// The logging raster held up behind the other rasters: the records sampled
// meanwhile wait in the FIFOs and reach the files once it runs again.
#include <gtest/gtest.h>

#include "logging/app_fixture.h"

TEST_F(MeasAppTest, ALateLoggingRasterLosesNoRecord) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    run(200);
    for (int i = 0; i < 5; ++i) {
        measHeld = true;
        run(300);
        measHeld = false;
        run(200);
    }
    stopAndFlush();
    auto m01 = records("meas");
    auto m03 = records("meas2");
    ASSERT_GT(m01.size(), 1000u);
    ASSERT_GT(m03.size(), 100u);
    for (const auto* recs : {&m01, &m03}) {
        const uint32_t spacing = recs == &m01 ? 1 : 10;
        for (size_t i = 1; i < recs->size(); ++i)
            ASSERT_EQ((*recs)[i].value - (*recs)[i - 1].value, spacing) << "gap at " << (*recs)[i].ts;
    }
    auto log = takeLogTexts();
    EXPECT_FALSE(logContains(log, "TS ErrCnt")) << "time-stamp errors counted";
}
