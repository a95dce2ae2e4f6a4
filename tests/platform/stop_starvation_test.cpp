// The stop on CPUs that real-time threads above the device's tasks hold: the
// tasks are lowered to normal priority only where the least urgent of them
// gets no turn, the stop's own threads stay above, and at the end every
// lowered thread gets its turn to end at once.
//
// Each case runs in a process of its own: the lowering is for good.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "platform/stop_priority.h"
#include "platform/stop_starvation.h"
#include "realtime_hold.h"


namespace {

using Clock = std::chrono::steady_clock;

bool realtimePermitted() {
    if (!host::enableRealtimeScheduling()) return false;
    host::disableRealtimeScheduling();
    return true;
}

void need(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "not so: %s\n", what);
    _exit(1);
}

pid_t selfTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

struct Policy {
    int policy = -1;
    int priority = -1;
};
Policy policyOf(pid_t tid) {
    Policy p;
    sched_param sp{};
    p.policy = sched_getscheduler(tid);
    if (sched_getparam(tid, &sp) == 0) p.priority = sp.sched_priority;
    return p;
}

// A thread that waits until it is told to end, at a policy of its own.
class Sleeper {
public:
    Sleeper(int policy, int priority) {
        thread_ = std::thread([this, policy, priority] {
            sched_param sp{};
            sp.sched_priority = priority;
            pthread_setschedparam(pthread_self(), policy, &sp);
            std::unique_lock<std::mutex> lk(mx_);
            tid_ = selfTid();
            cv_.notify_all();
            cv_.wait(lk, [this] { return end_; });
        });
        std::unique_lock<std::mutex> lk(mx_);
        cv_.wait(lk, [this] { return tid_ != 0; });
    }
    ~Sleeper() {
        {
            std::lock_guard<std::mutex> lk(mx_);
            end_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    pid_t tid() const { return tid_; }

private:
    std::mutex mx_;
    std::condition_variable cv_;
    pid_t tid_ = 0;
    bool end_ = false;
    std::thread thread_;
};

// Spins on `cpu` at real-time priority `priority` until told to stop, or
// at the latest until its own clock says 5 s have passed.
class Hog {
public:
    Hog(int cpu, int priority) {
        thread_ = std::thread([this, cpu, priority] {
            pinTo(cpu);
            sched_param sp{};
            sp.sched_priority = priority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
            tid_.store(selfTid());
            const auto until = Clock::now() + std::chrono::seconds(5);
            while (!stop_.load() && Clock::now() < until) {
            }
        });
        while (!tid_.load()) std::this_thread::yield();
    }
    ~Hog() {
        stop_.store(true);
        thread_.join();
    }
    pid_t tid() const { return tid_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<pid_t> tid_{0};
    std::thread thread_;
};

// Where a real-time thread above the tasks holds a CPU, the least urgent
// task gets no turn there; once the tasks are lowered it gets one (the
// probe left behind ends), the thread that held the CPU is lowered with
// them, and a thread at the stop's priority stays where it is.
void heldCpuLowersTheTasks(int cpu, int elsewhere) {
    need(host::enableRealtimeScheduling(), "real-time scheduling");
    pinTo(elsewhere);
    need(stopStarvation_lowestTaskRuns(cpu, 60000), "the least urgent task runs on a free CPU");
    Sleeper stopThread(SCHED_FIFO, stopPriority_value());
    Sleeper task(SCHED_FIFO, host::realtimePriorityOf(100));
    {
        Hog hog(cpu, host::realtimePriorityOf(100) + 1);
        need(!stopStarvation_lowestTaskRuns(cpu, 300), "no turn on a CPU that a thread above the tasks holds");
        need(stopStarvation_lowerTasks() >= 3, "the task, the thread above it and the probe left behind lowered");
        need(policyOf(hog.tid()).policy == SCHED_OTHER, "the thread that held the CPU lowered");
    }
    need(policyOf(task.tid()).policy == SCHED_OTHER, "the task lowered");
    need(policyOf(stopThread.tid()).policy == SCHED_FIFO &&
             policyOf(stopThread.tid()).priority == stopPriority_value(),
         "the stop's thread stays above");
    need(!host::realtimeSchedulingEnabled(), "tasks started from now on at normal priority");
    // the stop's threads started later still stand above
    std::thread([] {
        need(stopPriority_raiseSelf("laterStop"), "a later stop thread raised");
        need(policyOf(selfTid()).policy == SCHED_FIFO, "a later stop thread above");
    }).join();
    // nothing is raised again once lowered
    need(stopStarvation_raiseOrdinaryThreads() == 0, "no thread raised after the lowering");
    // the end: each lowered thread still there runs its end at the stop's priority
    stopStarvation_endPromptly();
    need(policyOf(task.tid()).policy == SCHED_FIFO && policyOf(task.tid()).priority == stopPriority_value(),
         "the lowered task at the stop's priority for the end");
    _exit(0);
}

// Before any lowering, the stop waits for the device's ordinary threads (the
// log reader, the writers): they run at the least urgent task's priority,
// and threads that are real-time already keep theirs.
void ordinaryThreadsRaised() {
    need(host::enableRealtimeScheduling(), "real-time scheduling");
    Sleeper ordinary(SCHED_OTHER, 0);
    Sleeper task(SCHED_FIFO, host::realtimePriorityOf(50));
    need(stopStarvation_raiseOrdinaryThreads() >= 1, "an ordinary thread raised");
    need(policyOf(ordinary.tid()).policy == SCHED_FIFO &&
             policyOf(ordinary.tid()).priority == host::realtimePriorityOf(255),
         "the ordinary thread at the least urgent task's priority");
    need(policyOf(task.tid()).priority == host::realtimePriorityOf(50), "the task keeps its priority");
    // no lowering: the end changes nothing
    stopStarvation_endPromptly();
    need(policyOf(task.tid()).priority == host::realtimePriorityOf(50), "the end leaves an unlowered task as it is");
    _exit(0);
}

}  // namespace

TEST(StopStarvationDeathTest, AHeldCpuLowersTheTasksAndTheEndRaisesThemAgain) {
    if (kSanitizedBuild) GTEST_SKIP() << "a sanitizer build runs no thread at real-time priority";
    if (!realtimePermitted()) GTEST_SKIP() << "real-time scheduling not permitted";
    const std::vector<int> cpus = usableCpus();
    if (cpus.size() < 2) GTEST_SKIP() << "one CPU only: the test's own thread would be held too";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(heldCpuLowersTheTasks(cpus.back(), cpus.front()), testing::ExitedWithCode(0), "");
}

TEST(StopStarvationDeathTest, TheStopRaisesTheOrdinaryThreadsToTheLeastUrgentTasksPriority) {
    if (kSanitizedBuild) GTEST_SKIP() << "a sanitizer build runs no thread at real-time priority";
    if (!realtimePermitted()) GTEST_SKIP() << "real-time scheduling not permitted";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ordinaryThreadsRaised(), testing::ExitedWithCode(0), "");
}
