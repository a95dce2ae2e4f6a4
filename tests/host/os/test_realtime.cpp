// Real-time scheduling of the tasks: the order of the device's priorities is
// kept, and tasks spawned once it is enabled run under SCHED_FIFO.
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>

namespace {
// The scheduling policy (and priority) of a task of device priority 29
// spawned now, as the task itself sees it. The task is joined before this
// returns: a process that ends with _exit right after must leave none behind.
int spawnedPolicy(sched_param* sp) {
    int policy = -1;
    TASK_ID probe = taskSpawn("r_rtprobe", 29, 0, 65536, [&] { pthread_getschedparam(pthread_self(), &policy, sp); });
    EXPECT_EQ(taskWait(probe, WAIT_FOREVER), OK);
    return policy;
}
}  // namespace

TEST(Realtime, PrioritiesKeepTheDeviceOrderBelowTheBaseTick) {
    int previous = host::realtimeBaseTickPriority();
    for (int p : {0, 21, 29, 65, 89, 120, 121, 132, 146, 162, 255}) {
        int rt = host::realtimePriorityOf(p);
        EXPECT_LT(rt, previous) << p;   // more urgent device tasks stay above
        EXPECT_GE(rt, sched_get_priority_min(SCHED_FIFO));
        previous = rt;
    }
    EXPECT_LE(host::realtimeBaseTickPriority(), sched_get_priority_max(SCHED_FIFO));
    EXPECT_EQ(host::realtimePriorityOf(-5), host::realtimePriorityOf(0));   // out of range is clamped
    EXPECT_EQ(host::realtimePriorityOf(900), host::realtimePriorityOf(255));
}

TEST(Realtime, TasksSpawnedAfterEnablingRunUnderFifo) {
    if (!host::enableRealtimeScheduling()) GTEST_SKIP() << "real-time scheduling not permitted here";
    sched_param sp{};
    const int policy = spawnedPolicy(&sp);
    host::disableRealtimeScheduling();
    EXPECT_EQ(policy, SCHED_FIFO);
    EXPECT_EQ(sp.sched_priority, host::realtimePriorityOf(29));
    EXPECT_EQ(spawnedPolicy(&sp), SCHED_OTHER);   // disabled again: an ordinary thread
}

namespace {
std::atomic<int> gTickPolicy{-1};

// Child of AProcessThatForbidsItKeepsEveryThreadTheTicksToo: a failed check
// ends it with exit code 1.
void forbiddenChild() {
    host::forbidRealtimeScheduling();
    if (host::enableRealtimeScheduling() || host::realtimeSchedulingEnabled()) _exit(1);
    sched_param sp{};
    if (spawnedPolicy(&sp) != SCHED_OTHER) _exit(2);
    // the base tick, which otherwise takes a real-time priority of its own
    TASK_ID tick = taskSpawn("r_tickprobe", 21, 0, 65536, [] {
        host::runBaseTick([](uint32_t) {
            int p = -1;
            sched_param s{};
            pthread_getschedparam(pthread_self(), &p, &s);
            gTickPolicy = p;
        }, false);
    });
    for (int i = 0; i < 10000 && gTickPolicy < 0; ++i) taskDelay(1);
    taskDelete(tick);
    _exit(gTickPolicy == SCHED_OTHER ? 0 : 3);
}
}  // namespace

// A sanitizer's runtime spins on its own locks with sched_yield, which under
// SCHED_FIFO never lets a holder of lower priority on the same CPU run: a
// process built with one keeps every thread at normal priority.
TEST(Realtime, AProcessThatForbidsItKeepsEveryThreadTheTicksToo) {
    if (!host::enableRealtimeScheduling()) GTEST_SKIP() << "real-time scheduling not permitted here";
    host::disableRealtimeScheduling();   // only the child forbids it
    // a child that starts afresh: a forked one inherits the tasks of this
    // process's earlier tests, threads and all
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(forbiddenChild(), ::testing::ExitedWithCode(0), "");
}
