// The board's two processor cores on two CPUs of the host.
//
// The device runs on a dual-core board and binds some of its tasks to one
// core (the storage tasks and the display's tasks to the first, the XCP
// transport and the main task to the second). Once the process binds itself
// to two host CPUs, a core number here names one of them: the process's
// threads stay on the pair, and a task bound to a core stays on its CPU.
//
// A task bound to no core runs on the first core's CPU, with the base tick
// and the rasters it wakes. About ten tasks wake every millisecond; a wake-up
// that crosses to another CPU costs an interrupt to that CPU, often one that
// sleeps, and under real-time scheduling the kernel moves a woken task away
// from the busy tick's CPU at nearly every tick. On one CPU the same wake-ups
// cost far less (the device's CPU share falls by about a third), and the
// tick's task, the most urgent of all, still runs first. The second core keeps the tasks bound to it.
//
// Without binding (tests, tools) core numbers are only checked: every task
// may run on any CPU of the host.
#include "host/kernel/kernel.h"
#include "host/os/os_internal.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kBoardCores = 2;

std::atomic<bool> bound{false};
std::atomic<int> hostCpu[kBoardCores] = {{-1}, {-1}};

std::vector<int> allowedCpus() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

bool contains(const std::vector<int>& v, int x) {
    for (int e : v)
        if (e == x) return true;
    return false;
}

// "a,b" (or "a" for both cores on one CPU) naming CPUs of the allowed set.
bool parseChoice(const char* text, const std::vector<int>& allowed, int out[kBoardCores]) {
    int a = -1, b = -1;
    char rest = 0;
    const int n = std::sscanf(text, "%d,%d%c", &a, &b, &rest);
    if (n == 1) b = a;
    else if (n != 2) return false;
    if (!contains(allowed, a) || !contains(allowed, b)) return false;
    out[0] = a;
    out[1] = b;
    return true;
}

}  // namespace

namespace host {

bool bindBoardCores(std::string* problem) {
    const std::vector<int> allowed = allowedCpus();
    if (allowed.empty()) {
        if (problem) *problem = "the host's CPUs of this process cannot be read";
        return false;
    }
    int pair[kBoardCores];
    const char* choice = std::getenv("TAV9_HOST_CPUS");
    bool chosenOk = true;
    if (choice && *choice && !parseChoice(choice, allowed, pair)) {
        if (problem) *problem = std::string("TAV9_HOST_CPUS=") + choice + " names no CPU this process may use";
        chosenOk = false;
        choice = nullptr;
    }
    if (!choice || !*choice) {
        // Devices started side by side spread over the host's CPU pairs.
        const size_t pairs = allowed.size() / kBoardCores;
        if (pairs == 0) {
            pair[0] = pair[1] = allowed[0];
        } else {
            const size_t k = size_t(getpid()) % pairs;
            pair[0] = allowed[kBoardCores * k];
            pair[1] = allowed[kBoardCores * k + 1];
        }
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(pair[0], &set);
    CPU_SET(pair[1], &set);
    // The calling thread's mask is inherited by every thread it starts later.
    if (pthread_setaffinity_np(pthread_self(), sizeof set, &set) != 0) {
        if (problem) *problem = "the host refuses to bind the process to CPUs";
        return false;
    }
    hostCpu[0] = pair[0];
    hostCpu[1] = pair[1];
    bound = true;
    return chosenOk;
}

int boardCoreHostCpu(int core) {
    if (!bound || core < 0 || core >= kBoardCores) return -1;
    return hostCpu[core];
}

}  // namespace host

namespace hostos {

bool boardCoreSetValid(unsigned coreSet) { return (coreSet & ((1u << kBoardCores) - 1)) != 0; }

bool applyBoardCores(pthread_t thread, unsigned coreSet) {
    if (!boardCoreSetValid(coreSet)) return false;
    if (!bound.load(std::memory_order_acquire)) return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int core = 0; core < kBoardCores; ++core)
        if (coreSet & (1u << core)) CPU_SET(hostCpu[core].load(), &set);
    return pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

}  // namespace hostos
