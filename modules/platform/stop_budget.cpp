#include "platform/stop_budget.h"

#include <atomic>
#include <chrono>

namespace {
using Clock = std::chrono::steady_clock;
std::atomic<unsigned> g_limitMs{0};
std::atomic<bool> g_begun{false};
std::atomic<Clock::rep> g_beginTicks{0};
std::atomic<const char*> g_step{"its request"};

long long msSinceBegin() {
    const Clock::time_point begin{Clock::duration{g_beginTicks.load()}};
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}
}  // namespace

void stopBudget_setLimit(unsigned ms) { g_limitMs.store(ms); }

unsigned stopBudget_limit() { return g_limitMs.load(); }

void stopBudget_begin() {
    // the instant is stored before the flag: a reader that sees the flag
    // sees the instant
    static std::atomic<bool> claimed{false};
    if (claimed.exchange(true)) return;
    g_beginTicks.store(Clock::now().time_since_epoch().count());
    g_begun.store(true);
}

unsigned stopBudget_waitMs(unsigned most, unsigned reserveMs) {
    const unsigned limit = g_limitMs.load();
    if (!limit || !g_begun.load()) return most;
    const long long left = static_cast<long long>(limit) - reserveMs - msSinceBegin();
    if (left <= 0) return 0;
    return left < most ? static_cast<unsigned>(left) : most;
}

bool stopBudget_requested() { return g_begun.load(); }

unsigned stopBudget_elapsedMs() { return g_begun.load() ? static_cast<unsigned>(msSinceBegin()) : 0; }

void stopBudget_noteStep(const char* step) { g_step.store(step); }

const char* stopBudget_step() { return g_step.load(); }
