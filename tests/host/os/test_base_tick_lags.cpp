// A base tick that lags again and again is said to be starved, once a spell.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

namespace {

using BaseTickLags = DeviceFolderTest;

std::atomic<int> gCalls{0}, gStallsWanted{0}, gStallsDone{0}, gCallOfLastStall{0};

// Holds the tick's task past the 100 ms a tick may lag, as often as asked.
void stallingTick(uint32_t) {
    const int call = ++gCalls;
    if (gStallsDone < gStallsWanted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        gCallOfLastStall = call;
        ++gStallsDone;
    }
}

// Until the tick has stalled n times in all and handled a tick since: the
// lag of the last stall is counted by then.
bool stallsCounted(int n) {
    gStallsWanted = n;
    for (int i = 0; i < 600000; ++i) {
        if (gStallsDone == n && gCalls > gCallOfLastStall) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST_F(BaseTickLags, TheThirdLagWithinTenSecondsIsSaidOnceNotEachLag) {
    gCalls = gStallsWanted = gStallsDone = gCallOfLastStall = 0;
    TASK_ID t = taskSpawn("r_tickOwner", 21, 0, 65536, [] { host::runBaseTick(stallingTick, false); });
    ASSERT_NE(t, nullptr);
    const uint64_t skipped = host::baseTickSkipped();
    ASSERT_TRUE(stallsCounted(2));
    EXPECT_GE(host::baseTickSkipped() - skipped, 2u * 50u) << "each stall lags 50 ms past the limit at least";
    EXPECT_EQ(host::baseTickStarved(), "") << "two lags are no spell";
    ASSERT_TRUE(stallsCounted(3));
    const std::string said = host::baseTickStarved();
    EXPECT_EQ(said.rfind("the base tick cannot keep up on host CPU ", 0), 0u) << said;
    EXPECT_NE(said.find(": 3 lags in "), std::string::npos) << said;
    EXPECT_NE(said.find("other work holds the CPU"), std::string::npos) << said;
    EXPECT_EQ(host::baseTickStarved(), "") << "said twice";
    ASSERT_TRUE(stallsCounted(4));
    EXPECT_EQ(host::baseTickStarved(), "") << "said again within its spell";
    EXPECT_EQ(taskDelete(t), OK);
}

}  // namespace
