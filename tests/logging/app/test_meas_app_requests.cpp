// Start, stop, destroy and init as the shell and the remote control make
// them, also while the one before is still being carried out: every request
// is either carried out or refused with a line in the shell and the log.
#include <gtest/gtest.h>

#include "logging/app/meas_app_internal.h"
#include "logging/app_fixture.h"
#include "platform/shell.h"

namespace {

// Blocks of the measurement in the raster lists.
unsigned inRasterLists(const meas_t& m) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    unsigned n = 0;
    for (MeasBlock* head : meas_app_measlist)
        for (MeasBlock* b = head; b && n < 64; b = b->next) n += b->owner == &m;
    return n;
}

// The command's printed answer; its value is 0 when the request was made and
// -1 when it was refused (`answer`).
std::string shellLine(const char* line, int answer = 0) {
    std::string out;
    EXPECT_EQ(shell_runLineCapture(line, &out), answer) << line;
    return out;
}

}  // namespace

// The stop comes while the start replies of m03 are still on their way: the
// replies that come after it must not leave blocks in the lists that nothing
// stops (the stop would never end, and a tool waiting for it no reply).
TEST_F(MeasAppTest, AStopBeforeEveryStartReplyCameFinishesAndTheNextStartRecords) {
    cal().DATADELAY = 300;   // m01's records stay 0.3 s in the FIFO: its stop drains that long
    writeConfig(0, "R1ms");
    writeConfig(2, "R100ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    ASSERT_TRUE(runUntil([] { return meas[MEAS_IDX_M01].replyCount == 1; }, 50));
    ASSERT_EQ(meas[MEAS_IDX_M03].replyCount, 0u) << "the 100 ms raster replied at once";
    sp().meas_app_stopreq = 1;
    EXPECT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000))
        << "the stop never ends";
    EXPECT_EQ(inRasterLists(meas[MEAS_IDX_M03]), 0u);
    EXPECT_EQ(inRasterLists(meas[MEAS_IDX_M01]), 0u);
    cal().DATADELAY = 0;

    const uint32_t restart = counter;
    sp().meas_app_startreq = 1;
    ASSERT_TRUE(runUntil([] { return meas[MEAS_IDX_M03].replyCount == 1 && meas[MEAS_IDX_M01].replyCount == 1; },
                         2000));
    run(400);
    stopAndFlush();
    unsigned after = 0;
    for (const auto& r : records("meas2")) after += r.value > restart;
    EXPECT_GT(after, 2u);
}

// "meas stop" then "meas start" while the stop still drains its blocks: the
// start is carried out once the stop is done. What cannot be done is refused
// in the shell and the log, never dropped with only "value = 0".
TEST_F(MeasAppTest, AStartFromTheShellWhileAStopDrainsIsCarriedOutAfterIt) {
    cal().DATADELAY = 300;   // the stop drains for 0.3 s
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    start();
    ASSERT_TRUE(runUntil([] { return meas[MEAS_IDX_M01].replyCount == 1 && meas[MEAS_IDX_M03].replyCount == 1; },
                         2000));
    EXPECT_EQ(shellLine("meas stop"), "");
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_blkstopreq == 1; }, 50));
    takeLogTexts();
    EXPECT_EQ(shellLine("meas start"), "");
    // a destroy waits for no stop: refused, and said so
    std::string out = shellLine("meas destroy", -1);
    EXPECT_NE(out.find("meas destroy: "), std::string::npos) << out;
    EXPECT_NE(out.find("refused"), std::string::npos) << out;
    // and a stop while the start waits for its turn
    out = shellLine("meas stop", -1);
    EXPECT_NE(out.find("meas stop: "), std::string::npos) << out;
    EXPECT_NE(out.find("refused"), std::string::npos) << out;
    EXPECT_TRUE(logContains(takeLogTexts(), "meas destroy: "));
    cal().DATADELAY = 0;

    EXPECT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000)) << "the start was dropped";
    EXPECT_TRUE(runUntil([] { return meas[MEAS_IDX_M01].replyCount == 1 && meas[MEAS_IDX_M03].replyCount == 1; },
                         2000));
    EXPECT_EQ(meas[MEAS_IDX_M01].runFlags & 1u, 1u);
    EXPECT_EQ(meas[MEAS_IDX_M03].runFlags & 1u, 1u);
}

// destroy, start, init, start: the start without a measurement is refused
// (running stays 0), and after the init every measurement runs again, the
// telemetry included.
TEST_F(MeasAppTest, AStartWithoutMeasurementIsRefusedAndAfterTheInitTelemetryRunsToo) {
    writeConfig(0, "R1ms");
    writeTeleConfig();
    static int teleStarts = 0, teleStops = 0;
    teleStarts = teleStops = 0;
    meas_app_setTeleHooks({[](meas_t*) { return ++teleStarts; }, [] { ++teleStops; }});
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    start();
    ASSERT_TRUE(runUntil([] { return teleStarts == 1 && (meas[MEAS_IDX_M02].runFlags & 1u); }, 2000));

    EXPECT_EQ(shellLine("meas destroy"), "");
    ASSERT_TRUE(runUntil([] { return !meas_app_measExists(); }, 3000));
    EXPECT_EQ(teleStops, 1);
    takeLogTexts();
    std::string out = shellLine("meas start", -1);
    EXPECT_NE(out.find("meas start: no measurement"), std::string::npos) << out;
    run(50);
    EXPECT_EQ(sp().meas_app_running, 0);
    EXPECT_EQ(sp().meas_app_startreq, 0);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "meas start: no measurement"));
    EXPECT_FALSE(logContains(log, "New measurement started"));

    EXPECT_EQ(shellLine("meas init"), "");
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    std::string ignored;
    shell_runLineCapture("meas start", &ignored);   // already running, or started by the init
    EXPECT_TRUE(runUntil([] { return teleStarts == 2 && (meas[MEAS_IDX_M02].runFlags & 1u); }, 2000))
        << "the telemetry did not start again";
    EXPECT_TRUE(runUntil([] { return meas[MEAS_IDX_M02].replyCount == 1 && meas[MEAS_IDX_M01].replyCount == 1; },
                         2000));
    out = shellLine("meas");
    EXPECT_NE(out.find("MEASURE TELE : loaded = TRUE, configured (incl. cond.) = 1, started = TRUE\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("MEASURE SG   : loaded = TRUE, configured (incl. cond.) = 1, started = TRUE\n"),
              std::string::npos)
        << out;
    meas_app_setTeleHooks({});
}
