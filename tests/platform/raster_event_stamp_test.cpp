// Due stamps of an event raster fired from several tasks at once: each run
// sees the stamp of one give of its own, never a slot that is not written yet.
#include "raster_fixture.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

std::atomic<uint32_t> g_clock{0};
uint32_t stepClock() { return g_clock.fetch_add(1) + 1; }   // every stamp differs, none is 0

std::mutex g_seenMutex;
std::vector<uint32_t> g_seen;

void recordLapStamp(intptr_t) {
    const uint32_t stamp = raster_dueStamp();
    std::lock_guard<std::mutex> lock(g_seenMutex);
    g_seen.push_back(stamp);
}

}  // namespace

TEST_F(RasterTest, EventFiredFromSeveralTasksGivesEachRunItsOwnStamp) {
    constexpr int kFirers = 6;
    constexpr int kFiresEach = 40000;
    // the raster never lags a whole ring behind: below that every run finds
    // its own give's stamp
    constexpr int kMaxPending = 32;
    {
        std::lock_guard<std::mutex> lock(g_seenMutex);
        g_seen.clear();
    }
    g_clock = 0;
    raster_setTimeSource(stepClock);
    ASSERT_EQ(raster_addEntry(RB_LAP, "lap_stamp", recordLapStamp, 0), 1);
    const int lap = raster_find("Lap");
    ASSERT_GE(lap, 0);
    start();
    std::vector<std::thread> firers;
    for (int f = 0; f < kFirers; ++f)
        firers.emplace_back([lap] {
            for (int i = 0; i < kFiresEach; ++i) {
                RasterInfo ri{};
                while (raster_info(lap, &ri) && ri.pending >= kMaxPending) std::this_thread::yield();
                raster_fireEvent(RASTER_EVENT_LAP);
            }
        });
    for (std::thread& t : firers) t.join();
    const uint64_t fired = uint64_t(kFirers) * kFiresEach;
    ASSERT_TRUE(waitFor([&] { return info("Lap").ticks >= fired; }));
    raster_setTimeSource(nullptr);

    std::lock_guard<std::mutex> lock(g_seenMutex);
    ASSERT_EQ(g_seen.size(), fired);
    // each stamp handed out once: an unwritten slot shows up as 0 or as the
    // stamp of a give a ring earlier, seen twice
    std::vector<uint32_t> seen = g_seen;
    std::sort(seen.begin(), seen.end());
    EXPECT_NE(seen.front(), 0u);
    const size_t distinct = size_t(std::unique(seen.begin(), seen.end()) - seen.begin());
    EXPECT_EQ(distinct, size_t(fired)) << "runs saw a stamp already handed out";
    EXPECT_LE(*std::max_element(g_seen.begin(), g_seen.end()), g_clock.load());
}
