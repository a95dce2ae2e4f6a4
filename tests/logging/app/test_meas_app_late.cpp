// The logging raster held up behind the other rasters: the records sampled
// meanwhile wait in the FIFOs and reach the files once it runs again; held
// longer than the FIFOs hold, the loss is counted and shown.
#include <gtest/gtest.h>

#include "logging/app_fixture.h"
#include "logging/fifo/meas_fifo.h"
#include "platform/shell.h"

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

// Held past what the FIFO holds, records are lost: "meas" counts them as it
// counts refused writes, instead of "no error found".
TEST_F(MeasAppTest, RecordsLostToAFullFifoAreErrorsInTheShellSummary) {
    writeConfig(0, "R1ms");
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    start();
    ASSERT_TRUE(runUntil([] { return meas[MEAS_IDX_M01].replyCount == 1; }, 2000));
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("no error found ! \n"), std::string::npos) << out;
    measHeld = true;
    ASSERT_TRUE(runUntil([] { return meas_fifo_signals().fifo_full_ctr > 0; }, 5000));
    measHeld = false;
    run(100);
    const unsigned lost = meas_fifo_signals().fifo_full_ctr;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("-->" + std::to_string(lost) + " records lost to full logger FIFOs!\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("no error found"), std::string::npos) << out;
}
