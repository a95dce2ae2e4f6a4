// Real-time scheduling of the tasks: the order of the device's priorities is
// kept, and tasks spawned once it is enabled run under SCHED_FIFO.
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

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
    int policy = -1;
    sched_param sp{};
    SEM_ID done = semBCreate(0, SEM_EMPTY);
    taskSpawn("r_rtprobe", 29, 0, 65536, [&] {
        pthread_getschedparam(pthread_self(), &policy, &sp);
        semGive(done);
    });
    semTake(done, WAIT_FOREVER);
    host::disableRealtimeScheduling();
    semDelete(done);
    EXPECT_EQ(policy, SCHED_FIFO);
    EXPECT_EQ(sp.sched_priority, host::realtimePriorityOf(29));

    SEM_ID done2 = semBCreate(0, SEM_EMPTY);
    taskSpawn("r_rtprobe2", 29, 0, 65536, [&] {
        pthread_getschedparam(pthread_self(), &policy, &sp);
        semGive(done2);
    });
    semTake(done2, WAIT_FOREVER);
    semDelete(done2);
    EXPECT_EQ(policy, SCHED_OTHER);   // disabled again: an ordinary thread
}
