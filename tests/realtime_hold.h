// What the tests that hold a CPU with a real-time thread share: whether the
// build may run real-time threads, the CPUs the process may use, and a
// thread's binding to one of them.
#pragma once

#include <sched.h>

#include <vector>

// (the device's start-up forbids real-time priorities there: the runtime's
// locks spin with yields that never let a holder of lower priority run)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

inline std::vector<int> usableCpus() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

// Binds the calling thread to `cpu`.
inline void pinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}
