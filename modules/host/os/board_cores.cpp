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
//
// Unless TAV9_HOST_CPUS names the pair, the device takes the CPUs that no
// other device of the host holds, the least busy first (the first core, with
// the tick, on the least busy): a CPU shared with another device's real-time
// tasks starves the tick while other CPUs idle. A device holds the host's
// mark "cpu-<n>" of each CPU it takes (host_marks.cpp) for its life; two that
// start at once cannot both take one, and a killed device's marks are free.
#include "host/kernel/kernel.h"
#include "host/os/os_internal.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
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

// Busy time of each CPU since the boot, in the units of /proc/stat.
std::map<int, unsigned long long> busyTimes() {
    std::map<int, unsigned long long> busy;
    std::ifstream stat("/proc/stat");
    std::string line;
    while (std::getline(stat, line)) {
        int cpu = -1;
        if (line.compare(0, 3, "cpu") != 0 || std::sscanf(line.c_str(), "cpu%d", &cpu) != 1) continue;
        std::istringstream words(line.substr(line.find(' ')));
        unsigned long long v = 0, sum = 0;
        for (int i = 0; words >> v; ++i)
            if (i != 3 && i != 4) sum += v;   // all but idle and iowait
        busy[cpu] = sum;
    }
    return busy;
}

// The allowed CPUs, the least busy over a tenth of a second first.
std::vector<int> byLoad(std::vector<int> cpus) {
    const auto before = busyTimes();
    const timespec tenth{0, 100000000};
    ::nanosleep(&tenth, nullptr);
    const auto after = busyTimes();
    auto load = [&](int c) {
        const auto a = after.find(c), b = before.find(c);
        return a == after.end() || b == before.end() ? 0ull : a->second - b->second;
    };
    std::stable_sort(cpus.begin(), cpus.end(), [&](int x, int y) { return load(x) < load(y); });
    return cpus;
}

// Takes the marks of the first CPUs of `order` that no other device holds,
// up to kBoardCores; the descriptors stay open for the process's life.
std::vector<int> takeFreeCpus(const std::vector<int>& order) {
    std::vector<int> taken;
    const int dir = hostos::openMarks();
    if (dir < 0) return taken;
    for (int c : order) {
        if (taken.size() == size_t(kBoardCores)) break;
        if (hostos::takeMark(dir, "cpu-" + std::to_string(c), true) >= 0) taken.push_back(c);
    }
    ::close(dir);
    return taken;
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
    if (choice && *choice) {
        // other devices keep off a chosen pair where they can
        takeFreeCpus(pair[0] == pair[1] ? std::vector<int>{pair[0]} : std::vector<int>{pair[0], pair[1]});
    } else {
        const std::vector<int> order = byLoad(allowed);
        std::vector<int> cpus = takeFreeCpus(order);
        const size_t free = cpus.size();
        // held by other devices all: shared, the least busy first
        for (int c : order)
            if (cpus.size() < size_t(kBoardCores) && !contains(cpus, c)) cpus.push_back(c);
        pair[0] = cpus[0];
        pair[1] = cpus.size() > 1 ? cpus[1] : cpus[0];
        if (free < cpus.size() && problem)
            *problem += (problem->empty() ? "" : "; ") + std::string("host CPU ") + std::to_string(cpus[free]) +
                       " is shared with another device: every CPU this process may use is held by one";
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
