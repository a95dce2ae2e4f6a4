// The board's two cores on two host CPUs: the process stays on the pair, a
// task bound to a core stays on that core's CPU and one bound to none runs on
// the first core's. Each case binds a child
// process, so the test runner's own threads keep every CPU.
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<int> cpusOfThisProcess() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

std::set<int> cpusOfCallingThread() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::set<int> cpus;
    if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) == 0)
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &set)) cpus.insert(c);
    return cpus;
}

// In a child process: a failed check ends it with exit code 1.
#define CHECK_OR_EXIT(cond) \
    do {                    \
        if (!(cond)) {      \
            std::fprintf(stderr, "failed: %s\n", #cond); \
            _exit(1);       \
        }                   \
    } while (0)

// Child of BoundTasksStayOnTheirCoresCpuAndUnboundOnesOnTheFirst.
void boundTasksChild(int a, int b) {
    setenv("TAV9_HOST_CPUS", (std::to_string(a) + "," + std::to_string(b)).c_str(), 1);
    std::string problem;
    CHECK_OR_EXIT(host::bindBoardCores(&problem) && problem.empty());
    CHECK_OR_EXIT(host::boardCoreHostCpu(0) == a && host::boardCoreHostCpu(1) == b);
    const std::set<int> pair{a, b};
    CHECK_OR_EXIT(cpusOfCallingThread() == pair);

    // a task that binds itself to core 1, and one it spawns: the child
    // does not inherit the binding and, bound to no core, runs on the first
    // core's CPU with the tick
    std::set<int> bound, spawned;
    TASK_ID t = taskSpawn("tCore1", 100, 0, 0, [&] {
        CHECK_OR_EXIT(taskCpuAffinitySet(taskIdSelf(), 2u) == OK);
        bound = cpusOfCallingThread();
        TASK_ID c = taskSpawn("tChild", 100, 0, 0, [&] { spawned = cpusOfCallingThread(); });
        taskWait(c, WAIT_FOREVER);
    });
    taskWait(t, WAIT_FOREVER);
    CHECK_OR_EXIT(bound == std::set<int>{b});
    CHECK_OR_EXIT(spawned == std::set<int>{a});
    // the process's own threads (not tasks) keep the pair
    CHECK_OR_EXIT(cpusOfCallingThread() == pair);

    // bound by its spawner while it runs, however the two interleave
    std::set<int> byOther;
    SEM_ID go = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    TASK_ID u = taskSpawn("tCore0", 100, 0, 0, [&] {
        semTake(go, WAIT_FOREVER);
        byOther = cpusOfCallingThread();
    });
    CHECK_OR_EXIT(taskCpuAffinitySet(u, 1u) == OK);
    semGive(go);
    taskWait(u, WAIT_FOREVER);
    semDelete(go);
    CHECK_OR_EXIT(byOther == std::set<int>{a});

    // a set without a core of the board is refused
    CHECK_OR_EXIT(taskCpuAffinitySet(taskIdSelf(), 4u) == ERROR);
    CHECK_OR_EXIT(taskCpuAffinitySet(taskIdSelf(), 0u) == ERROR);
    _exit(0);
}

// Child of ACpuChoiceOutsideTheProcessIsReportedAndAPairIsTakenInstead.
void badChoiceChild() {
    setenv("TAV9_HOST_CPUS", "100000,3", 1);
    std::string problem;
    CHECK_OR_EXIT(!host::bindBoardCores(&problem));
    CHECK_OR_EXIT(problem.find("TAV9_HOST_CPUS=100000,3") != std::string::npos);
    const int c0 = host::boardCoreHostCpu(0), c1 = host::boardCoreHostCpu(1);
    CHECK_OR_EXIT(c0 >= 0 && c1 >= 0 && c0 != c1);
    CHECK_OR_EXIT(cpusOfCallingThread() == (std::set<int>{c0, c1}));
    _exit(0);
}

// Child of ADeleteEndsWhileATaskOfLowerPriorityOnTheSameCpuHoldsTheWaitsLock.
// Everything on one CPU under real-time scheduling: "low" keeps taking an
// empty semaphore without waiting, so it mostly holds the semaphore's lock
// when the deleting task's timer preempts it; the victim waits on that
// semaphore. The delete must let "low" run to release the lock.
void deleteOnOneCpuChild(int cpu) {
    alarm(60);   // a delete that never ends: killed, not exit code 0 (a guard, not a speed)
    setenv("TAV9_HOST_CPUS", std::to_string(cpu).c_str(), 1);
    CHECK_OR_EXIT(host::bindBoardCores(nullptr));
    CHECK_OR_EXIT(host::enableRealtimeScheduling());
    SEM_ID sem = semCCreate(SEM_Q_FIFO, 0);
    SEM_ID done = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    std::atomic<bool> stop{false};
    TASK_ID low = taskSpawn("tLow", 200, 0, 0, [&] {
        while (!stop.load()) semTake(sem, NO_WAIT);
    });
    int deleted = 0;
    TASK_ID deleter = taskSpawn("tDeleter", 50, 0, 0, [&] {
        for (int i = 0; i < 40; ++i) {
            TASK_ID victim = taskSpawn("tVictim", 100, 0, 0, [&] { semTake(sem, WAIT_FOREVER); });
            taskDelay(1);   // the victim blocks, then "low" runs until the tick
            taskDelay(1);
            if (taskDelete(victim) == OK) ++deleted;
        }
        stop = true;
        semGive(done);
    });
    semTake(done, WAIT_FOREVER);
    taskWait(deleter, WAIT_FOREVER);
    taskWait(low, WAIT_FOREVER);
    CHECK_OR_EXIT(deleted == 40);
    _exit(0);
}

class BoardCores : public ::testing::Test {
protected:
    void SetUp() override {
        cpus_ = cpusOfThisProcess();
        if (cpus_.size() < 3) GTEST_SKIP() << "needs three CPUs to tell the pair from the rest";
        // the last two: not the pair a default choice would usually make
        a_ = cpus_[cpus_.size() - 1];
        b_ = cpus_[cpus_.size() - 2];
    }
    std::vector<int> cpus_;
    int a_ = -1, b_ = -1;
};

TEST_F(BoardCores, BoundTasksStayOnTheirCoresCpuAndUnboundOnesOnTheFirst) {
    EXPECT_EXIT(boundTasksChild(a_, b_), ::testing::ExitedWithCode(0), "");
}

TEST_F(BoardCores, ACpuChoiceOutsideTheProcessIsReportedAndAPairIsTakenInstead) {
    EXPECT_EXIT(badChoiceChild(), ::testing::ExitedWithCode(0), "");
}

TEST_F(BoardCores, ADeleteEndsWhileATaskOfLowerPriorityOnTheSameCpuHoldsTheWaitsLock) {
    if (!host::enableRealtimeScheduling()) GTEST_SKIP() << "real-time scheduling not permitted here";
    host::disableRealtimeScheduling();   // only the child runs under it
    EXPECT_EXIT(deleteOnOneCpuChild(a_), ::testing::ExitedWithCode(0), "");
}

// A device that runs holds its CPUs: two devices that start after it, both
// at once, take CPUs neither it nor the other holds, unless every CPU is
// held and one says it shares.
TEST_F(BoardCores, DevicesTakeCpusNoOtherDeviceHolds) {
    if (cpus_.size() < 6) GTEST_SKIP() << "needs six CPUs for three pairs";
    const std::string first = std::to_string(cpus_[0]) + "," + std::to_string(cpus_[1]);
    int go[3][2], told[2];
    ASSERT_EQ(pipe(told), 0);
    pid_t kids[3];
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(pipe(go[k]), 0);
        kids[k] = fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0) {
            alarm(60);
            close(go[k][1]);
            close(told[0]);
            if (k == 0) setenv("TAV9_HOST_CPUS", first.c_str(), 1);
            else unsetenv("TAV9_HOST_CPUS");
            char c;
            if (read(go[k][0], &c, 1) != 1) _exit(1);
            std::string problem;
            host::bindBoardCores(&problem);
            const int said[3] = {host::boardCoreHostCpu(0), host::boardCoreHostCpu(1), problem.empty() ? 0 : 1};
            if (write(told[1], said, sizeof said) != ssize_t(sizeof said)) _exit(1);
            (void)!read(go[k][0], &c, 1);   // holds its CPUs until the test has every pair
            _exit(0);
        }
        close(go[k][0]);
    }
    close(told[1]);
    std::set<int> seen;
    bool shared = false;
    auto hear = [&] {
        int said[3] = {-1, -1, 0};
        ASSERT_EQ(read(told[0], said, sizeof said), ssize_t(sizeof said));
        EXPECT_NE(said[0], said[1]);
        seen.insert(said[0]);
        seen.insert(said[1]);
        shared = shared || said[2];
    };
    ASSERT_EQ(write(go[0][1], "a", 1), 1);
    hear();
    ASSERT_EQ(write(go[1][1], "a", 1), 1);   // the other two start at once
    ASSERT_EQ(write(go[2][1], "a", 1), 1);
    hear();
    hear();
    if (!shared) {
        EXPECT_EQ(seen.size(), 6u) << "two devices took the same CPU";
    }
    for (int k = 0; k < 3; ++k) close(go[k][1]);
    close(told[0]);
    for (pid_t kid : kids) EXPECT_EQ(waitpid(kid, nullptr, 0), kid);
}

TEST(BoardCoresUnbound, CoreSetsAreOnlyCheckedAndTasksKeepEveryCpu) {
    const std::vector<int> all = cpusOfThisProcess();
    std::set<int> seen;
    TASK_ID t = taskSpawn("tFree", 100, 0, 0, [&] {
        if (taskCpuAffinitySet(taskIdSelf(), 1u) == OK) seen = cpusOfCallingThread();
    });
    taskWait(t, WAIT_FOREVER);
    EXPECT_EQ(seen, std::set<int>(all.begin(), all.end()));
    EXPECT_EQ(host::boardCoreHostCpu(0), -1);
    EXPECT_EQ(taskCpuAffinitySet(taskIdSelf(), 8u), ERROR);
}

}  // namespace
