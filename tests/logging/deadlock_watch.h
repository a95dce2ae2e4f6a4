// Ends the test program when two tasks of a test wait for each other for
// good: nothing else would end them, and the test would hang instead of
// failing.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

inline void endIfDeadlocked(const std::function<bool()>& finished, int limitMs, const char* what) {
    for (int ms = 0; ms < limitMs; ++ms) {
        if (finished()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (finished()) return;
    std::fprintf(stderr, "deadlock: %s\n", what);
    std::fflush(stderr);
    std::_Exit(1);
}
