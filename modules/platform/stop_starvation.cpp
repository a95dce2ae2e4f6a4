#include "platform/stop_starvation.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "host/kernel/kernel.h"
#include "platform/stop_priority.h"
#include "platform/syslogx.h"

namespace {

// A CPU that gives the least urgent task no moment within this is held by
// something above the tasks: the device's own tasks run in short turns, and
// the kernel's throttling pauses real-time threads for only 50 ms a second.
constexpr unsigned kRunWaitMs = 250;
// How often the watcher looks again (and, once the tasks are lowered,
// lowers the threads started meanwhile with a priority they inherited).
constexpr unsigned kLookEveryMs = 250;

std::atomic<bool> g_lowered{false};

// The threads lowered, for the end: kept without a lock and without a file,
// so that the end reads them whatever else holds up the process.
constexpr unsigned kMaxLowered = 1024;
std::atomic<pid_t> g_loweredTids[kMaxLowered];
std::atomic<unsigned> g_loweredCount{0};

void keepLowered(pid_t tid) {
    const unsigned n = g_loweredCount.load();
    for (unsigned i = 0; i < n && i < kMaxLowered; ++i)
        if (g_loweredTids[i].load() == tid) return;
    if (n < kMaxLowered) {   // (one adds at a time: the watcher)
        g_loweredTids[n].store(tid);
        g_loweredCount.store(n + 1);
    }
}

// Calls fn(tid) for each thread of the process.
template <class Fn>
void forEachThread(Fn fn) {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0) fn(tid);
    }
    closedir(dir);
}

struct Probe {
    std::mutex mx;
    std::condition_variable cv;
    bool ran = false;
};

void* probeBody(void* arg) {
    const std::unique_ptr<std::shared_ptr<Probe>> probe(static_cast<std::shared_ptr<Probe>*>(arg));
    {
        std::lock_guard<std::mutex> lk((*probe)->mx);
        (*probe)->ran = true;
    }
    (*probe)->cv.notify_all();
    return nullptr;
}

void watch() {
    stopPriority_raiseSelf("stopStarved");
    int cpus[2] = {host::boardCoreHostCpu(0), host::boardCoreHostCpu(1)};
    const int count = cpus[0] == cpus[1] ? 1 : 2;
    for (;;) {
        if (!g_lowered.load()) {
            // the stop waits for them: the log reader, the writers, the NVRAM's
            stopStarvation_raiseOrdinaryThreads();
            for (int i = 0; i < count; ++i) {
                if (stopStarvation_lowestTaskRuns(cpus[i], kRunWaitMs)) continue;
                const unsigned moved = stopStarvation_lowerTasks();
                char where[24] = "a host CPU";
                if (cpus[i] >= 0) snprintf(where, sizeof where, "host CPU %d", cpus[i]);
                syslogx(148, "rtpShutdown: %s gives the device's tasks no time at their real-time priorities (a "
                        "real-time thread above them holds it): %u threads run at normal priority for the rest of the "
                        "stop", where, moved);
                break;
            }
        } else {
            stopStarvation_lowerTasks();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLookEveryMs));
    }
}

}  // namespace

bool stopStarvation_tasksLowered() { return g_lowered.load(); }

bool stopStarvation_lowestTaskRuns(int cpu, unsigned waitMs) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return true;
    sched_param sp{};
    sp.sched_priority = host::realtimePriorityOf(255);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    pthread_attr_setschedparam(&attr, &sp);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        pthread_attr_setaffinity_np(&attr, sizeof set, &set);
    }
    // A probe that did not run within the wait runs later, once lowered with
    // the tasks: it owns a share of its record, which outlives the wait.
    auto probe = std::make_shared<Probe>();
    auto* arg = new std::shared_ptr<Probe>(probe);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, probeBody, arg);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete arg;
        return true;   // (no permission, or a CPU the process may not use)
    }
    std::unique_lock<std::mutex> lk(probe->mx);
    return probe->cv.wait_for(lk, std::chrono::milliseconds(waitMs), [&] { return probe->ran; });
}

unsigned stopStarvation_raiseOrdinaryThreads() {
    const int lowest = host::realtimePriorityOf(255);
    unsigned moved = 0;
    forEachThread([&](pid_t tid) {
        if (g_lowered.load() || sched_getscheduler(tid) != SCHED_OTHER) return;
        sched_param sp{};
        sp.sched_priority = lowest;
        if (sched_setscheduler(tid, SCHED_FIFO, &sp) == 0) ++moved;
    });
    return moved;
}

unsigned stopStarvation_lowerTasks() {
    // first the tasks still to start, then those that run
    g_lowered.store(true);
    host::disableRealtimeScheduling();
    const int top = stopPriority_value();
    unsigned moved = 0;
    forEachThread([&](pid_t tid) {
        const int policy = sched_getscheduler(tid);
        sched_param sp{};
        if ((policy != SCHED_FIFO && policy != SCHED_RR) || sched_getparam(tid, &sp) != 0 || sp.sched_priority >= top)
            return;
        const sched_param normal{};
        if (sched_setscheduler(tid, SCHED_OTHER, &normal) != 0) return;
        keepLowered(tid);
        ++moved;
    });
    return moved;
}

void stopStarvation_endPromptly() {
    if (!g_lowered.load()) return;
    const pid_t self = getpid();
    sched_param sp{};
    sp.sched_priority = stopPriority_value();
    const unsigned n = g_loweredCount.load();
    for (unsigned i = 0; i < n && i < kMaxLowered; ++i) {
        const pid_t tid = g_loweredTids[i].load();
        // the number of a thread that has ended may name another process's
        // by now: only a thread of this process is raised
        if (syscall(SYS_tgkill, self, tid, 0) == 0) sched_setscheduler(tid, SCHED_FIFO, &sp);
    }
}

void stopStarvation_watch() {
    if (!host::realtimeSchedulingEnabled()) return;
    static std::once_flag once;
    std::call_once(once, [] { std::thread(watch).detach(); });
}
