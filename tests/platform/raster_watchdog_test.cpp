#include "raster_fixture.h"

namespace {
SEM_ID g_gate = nullptr;   // the blocked r10ms entry passes once per give
}

// r10ms (limit 30) blocks: the WATCHDOG raster stops feeding while it has more
// than 30 pending cycles, reports it once, and re-arms the report only when
// the pending count has fallen to 15 or less.
TEST_F(RasterTest, BlockedRasterStopsTheFeedAndReArmsAtHalf) {
    g_gate = semCCreate(SEM_Q_FIFO, 0);
    ASSERT_EQ(raster_addEntry(RB_10MS, "blocker", [](intptr_t) { semTake(g_gate, WAIT_FOREVER); }, 0), 1);
    start();
    tick(310, "r10ms");   // 31 gives: pending 31 (one running, 30 queued)
    EXPECT_EQ(info("r10ms").pending, 31);
    EXPECT_TRUE(info("r10ms").overLimit);
    uint64_t feeds = host::watchdogFeedCount();
    tick(50, "r10ms");
    EXPECT_EQ(host::watchdogFeedCount(), feeds);   // starving
    EXPECT_EQ(logCount("r10ms exceeds its watchdog limit"), 1);

    // let 10 cycles through: pending 36 - 10 = 26 <= 30, the feed resumes,
    // the report is not re-armed
    for (int i = 0; i < 10; ++i) semGive(g_gate);
    ASSERT_TRUE(waitFor([] { return info("r10ms").pending == 26; }));
    feeds = host::watchdogFeedCount();
    tick(10, "r10ms");   // pending 27
    EXPECT_EQ(host::watchdogFeedCount(), feeds + 1);
    EXPECT_TRUE(info("r10ms").overLimit);
    tick(40, "r10ms");   // pending 31: over again, but already reported
    EXPECT_EQ(logCount("exceeds its watchdog limit"), 0);

    // 16 pending at a check does not re-arm, 15 does (the checks come right
    // after r10ms got its cycle, so the count seen is one above the rest)
    for (int i = 0; i < 16; ++i) semGive(g_gate);
    ASSERT_TRUE(waitFor([] { return info("r10ms").pending == 15; }));
    tick(10, "r10ms");
    EXPECT_TRUE(info("r10ms").overLimit);
    for (int i = 0; i < 2; ++i) semGive(g_gate);
    ASSERT_TRUE(waitFor([] { return info("r10ms").pending == 14; }));
    tick(10, "r10ms");
    EXPECT_FALSE(info("r10ms").overLimit);
    tick(160, "r10ms");   // 31 again: reported again
    EXPECT_TRUE(info("r10ms").overLimit);
    EXPECT_EQ(logCount("r10ms exceeds its watchdog limit"), 1);
    raster_stopAll();   // unwinds the blocked entry
    semDelete(g_gate);
}
