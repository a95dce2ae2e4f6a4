// The 1 ms base tick: a thread that sleeps to absolute deadlines of
// CLOCK_MONOTONIC and gives the counting semaphore "/BASETICK0" once per
// period, so that a late waiter still sees every tick. In manual mode no
// thread runs and tests call baseTick() themselves.
#include "host/kernel_internal.h"
#include "host/os.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <thread>

namespace host {

namespace {

constexpr long kPeriodNs = 1000000;
// After a stall longer than this (debugger, suspended process) the deadlines
// restart from now instead of giving a burst of ticks.
constexpr long kMaxLagNs = 100 * kPeriodNs;

std::mutex ctlMx;
std::thread ticker;
std::atomic<bool> running{false};
std::atomic<uint64_t> ticks{0};
std::atomic<SEM_ID> tickSem{nullptr};
std::atomic<uint32_t> tickStamp{0};   // time stamp of the latest tick's deadline

void giveTick(uint32_t stamp);


void addNs(timespec& t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
}

long diffNs(const timespec& a, const timespec& b) {
    return (a.tv_sec - b.tv_sec) * 1000000000L + (a.tv_nsec - b.tv_nsec);
}

void tickLoop() {
    // A real-time priority helps the period where the host allows it; with
    // the tasks under real-time scheduling the tick stands above them all.
    sched_param sp{};
    sp.sched_priority = realtimeSchedulingEnabled() ? realtimeBaseTickPriority() : 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
    pthread_setname_np(pthread_self(), "kBaseTick");
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (running) {
        addNs(next, kPeriodNs);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        if (!running) break;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        // the tick's own time, however late the thread woke
        const long lateNs = diffNs(now, next);
        giveTick(timeStamp() - uint32_t(lateNs > 0 ? lateNs / 100000 : 0));
        if (diffNs(now, next) > kMaxLagNs) next = now;
    }
}

SEM_ID openTickSem() {
    if (!tickSem) tickSem = semOpen("/BASETICK0", SEM_TYPE_COUNTING, 0, SEM_Q_FIFO, OM_CREATE);
    return tickSem;
}

void giveTick(uint32_t stamp) {
    SEM_ID s = tickSem;
    if (!s) {
        std::lock_guard<std::mutex> lk(ctlMx);
        s = openTickSem();
    }
    tickStamp.store(stamp, std::memory_order_release);
    ++ticks;
    semGive(s);
    detail::timeCoreTick();   // the time core counts its gaps on the same tick
}

}  // namespace

void startBaseTick(bool manual) {
    std::lock_guard<std::mutex> lk(ctlMx);
    openTickSem();
    if (manual || running) return;
    running = true;
    ticker = std::thread(tickLoop);
}

void stopBaseTick() {
    std::lock_guard<std::mutex> lk(ctlMx);
    running = false;
    if (ticker.joinable()) ticker.join();
}

void baseTick() { giveTick(timeStamp()); }

uint64_t baseTickCount() { return ticks; }
uint32_t baseTickStamp() { return tickStamp.load(std::memory_order_acquire); }

namespace detail {
void resetBaseTick() {
    stopBaseTick();
    ticks = 0;
    if (SEM_ID s = tickSem)
        while (semTake(s, NO_WAIT) == OK) {
        }
}
}  // namespace detail

}  // namespace host
