// The task wrapper of the store's tasks: a sleep is one wait that lasts the
// whole time unless a stop ends it, which it then does at once.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>

#include "host/os/os.h"
#include "logging/store/runnable.h"

using namespace measure::store;

namespace {

// Voluntary context switches of the calling thread: one per wait it blocked in.
long voluntarySwitches() {
    std::ifstream in("/proc/thread-self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return -1;
}

// Sleeps once per start, noting how long and in how many waits.
class Sleeper : public Runnable {
public:
    explicit Sleeper(int ms) : ms_(ms) {}
    ~Sleeper() override { taskStop(WAIT_FOREVER); }
    std::atomic<bool> asleep{false}, woke{false};
    std::atomic<uint64_t> sleptMs{0};
    std::atomic<long> switches{0};

protected:
    bool taskMain() override {
        const long before = voluntarySwitches();
        const uint64_t t0 = tickGet();
        asleep = true;
        sleepMs(ms_);
        sleptMs = tickGet() - t0;
        switches = voluntarySwitches() - before;
        woke = true;
        return false;   // one sleep, then the task ends
    }

private:
    int ms_;
};

bool waitFor(const std::atomic<bool>& flag, int limitMs = 10000) {
    for (int i = 0; i < limitMs && !flag; i += 2) taskDelay(2);
    return flag;
}

}  // namespace

TEST(Runnable, ASleepIsOneWaitOfTheWholeTime) {
    Sleeper s(300);
    ASSERT_EQ(s.taskStart("tSleeper", 146, 10000, 0, -1), 1);
    ASSERT_TRUE(waitFor(s.woke));
    EXPECT_GE(s.sleptMs.load(), 300u);
    EXPECT_LT(s.switches.load(), 10) << "woke up in between";
    // a stop after the task has ended by itself leaves nothing that ends
    // the next start's sleep early
    ASSERT_EQ(s.taskStop(WAIT_FOREVER), 1);
    s.woke = false;
    ASSERT_EQ(s.taskStart("tSleeper", 146, 10000, 0, -1), 1);
    ASSERT_TRUE(waitFor(s.woke));
    EXPECT_GE(s.sleptMs.load(), 300u);
}

// The stop itself ends the sleep: the sleeper stays in its one wait while a
// second task sleeps 300 ms beside it (a sleep in steps would have woken
// again and again), and only the stop, long before its ten minutes are
// over, wakes it.
TEST(Runnable, AStopEndsALongSleepAtOnce) {
    Sleeper s(600000);
    ASSERT_EQ(s.taskStart("tSleeper", 146, 10000, 0, -1), 1);
    ASSERT_TRUE(waitFor(s.asleep));
    Sleeper meanwhile(300);
    ASSERT_EQ(meanwhile.taskStart("tMeanwhile", 146, 10000, 0, -1), 1);
    ASSERT_TRUE(waitFor(meanwhile.woke));
    EXPECT_FALSE(s.woke);
    ASSERT_EQ(s.taskStop(WAIT_FOREVER), 1);
    EXPECT_TRUE(s.woke);
    EXPECT_LT(s.switches.load(), 10) << "woke up before the stop";
    // the asynchronous stop wakes it as well
    s.woke = s.asleep = false;
    ASSERT_EQ(s.taskStart("tSleeper", 146, 10000, 0, -1), 1);
    ASSERT_TRUE(waitFor(s.asleep));
    s.taskStopAsync();
    EXPECT_TRUE(waitFor(s.woke));
    ASSERT_EQ(s.taskStop(WAIT_FOREVER), 1);
}
