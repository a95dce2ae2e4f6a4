// The 1 ms base tick: the host's stand-in for the kernel's clock interrupt.
//
// runBaseTick(): the calling task sleeps to absolute deadlines of
// CLOCK_MONOTONIC on whole milliseconds, and handles each tick in place,
// stamped with its deadline, so the stamps lie on an exact grid of 10 (0.1 ms units)
// however late the task wakes. The raster dispatcher runs this way, so the
// clock wakes the thread that gives the rasters with no hop in between.
// Manual ticks (tests): no clock runs; baseTick() gives the counting
// semaphore "/BASETICK0" once per tick, so that a late taker still sees every
// tick, and runBaseTick(..., true) takes it.
#include "host/kernel/kernel_internal.h"
#include "host/os/os.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace host {

namespace {

constexpr long kPeriodNs = 1000000;
// After a stall longer than this (debugger, suspended process, a loaded
// host) the missed ticks are skipped instead of given in a burst; the grid
// stays, and the ticks skipped are counted for whoever the ticks drive.
constexpr long kMaxLagNs = 100 * kPeriodNs;

std::mutex ctlMx;   // guards the opening of tickSem
std::atomic<uint64_t> ticks{0};
std::atomic<SEM_ID> tickSem{nullptr};
std::atomic<uint32_t> tickStamp{0};   // time stamp of the latest tick's deadline
std::atomic<uint64_t> skipped{0};     // ticks skipped after lags, since the start

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

// A real-time priority helps the period where the host allows it; with the
// tasks under real-time scheduling the tick stands above them all.
void raiseToTickPriority() {
    if (realtimeSchedulingForbidden()) return;
    sched_param sp{};
    sp.sched_priority = realtimeSchedulingEnabled() ? realtimeBaseTickPriority() : 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
}

// Counts a tick, publishes its stamp and runs the time core's part.
void noteTick(uint32_t stamp) {
    tickStamp.store(stamp, std::memory_order_release);
    ticks.fetch_add(1, std::memory_order_release);
    detail::timeCoreTick(stamp);   // the time core counts its gaps on the same tick
}

// A tick that lags again and again cannot keep up with its clock: other
// work holds its CPU (another process's real-time threads, or the kernel's
// throttling of real-time threads, which leaves them a share of each
// second). Each lag is named by whoever the ticks drive; this is said once
// a spell: at the third lag within 10 s, again only after 10 s without one.
constexpr int kStarvedLags = 3;
constexpr long long kStarvedWindowNs = 10000000000LL;

// Lags of the clock loop's task (one at a time).
struct Lags {
    long long at[kStarvedLags] = {};   // CLOCK_MONOTONIC ns: no wrap
    uint64_t ticks[kStarvedLags] = {};
    int count = 0, next = 0;
    bool inSpell = false;
};
Lags lags;

std::mutex starvedMx;
std::string starvedLine;   // said and not yet taken

long long nsOf(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

void noteLag(const timespec& now, uint64_t skippedTicks) {
    const long long ns = nsOf(now);
    const int last = (lags.next + kStarvedLags - 1) % kStarvedLags;
    if (lags.count && ns - lags.at[last] > kStarvedWindowNs) {   // a spell without lags ends it
        lags.count = 0;
        lags.inSpell = false;
    }
    lags.at[lags.next] = ns;
    lags.ticks[lags.next] = skippedTicks;
    lags.next = (lags.next + 1) % kStarvedLags;
    if (lags.count < kStarvedLags) ++lags.count;
    const long long first = lags.at[lags.next];   // the oldest of the last three
    if (lags.inSpell || lags.count < kStarvedLags || ns - first > kStarvedWindowNs) return;
    lags.inSpell = true;
    uint64_t ms = 0;
    for (uint64_t t : lags.ticks) ms += t;
    char line[200];
    std::snprintf(line, sizeof line,
                  "the base tick cannot keep up on host CPU %d: %d lags in %.1f s skipped %llu ms; other work holds "
                  "the CPU (real-time threads of another process?)",
                  sched_getcpu(), kStarvedLags, double(ns - first) / 1e9, static_cast<unsigned long long>(ms));
    std::lock_guard<std::mutex> lk(starvedMx);
    starvedLine = line;
}

// Sleeps to each deadline and calls onTick(stamp of the deadline) until
// keepGoing() turns false.
template <class Keep, class OnTick>
void clockLoop(Keep keepGoing, OnTick onTick) {
    // on whole milliseconds of the clock: a master time core's gaps, whole
    // 100 ms of its stamp, then fall on a tick, not up to a tick before it
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    next.tv_nsec -= next.tv_nsec % kPeriodNs;
    while (keepGoing()) {
        addNs(next, kPeriodNs);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        if (!keepGoing()) break;
        onTick(detail::timeStampAt(next));
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long lag = diffNs(now, next);
        if (lag > kMaxLagNs) {   // skip, keep the phase; the next tick's handler sees the count
            addNs(next, lag / kPeriodNs * kPeriodNs);
            noteLag(now, static_cast<uint64_t>(lag / kPeriodNs));
            skipped.fetch_add(static_cast<uint64_t>(lag / kPeriodNs), std::memory_order_release);
        }
    }
}

SEM_ID openTickSem() {
    std::lock_guard<std::mutex> lk(ctlMx);
    if (!tickSem) tickSem = semOpen("/BASETICK0", SEM_TYPE_COUNTING, 0, SEM_Q_FIFO, OM_CREATE);
    return tickSem;
}

}  // namespace

void startBaseTick(bool manual) {
    if (manual) openTickSem();
}

void stopBaseTick() {
    if (SEM_ID s = tickSem)
        while (semTake(s, NO_WAIT) == OK) {
        }
}

void runBaseTick(BaseTickHandler onTick, bool manual) {
    if (!onTick) return;
    if (manual) {
        SEM_ID s = openTickSem();
        for (;;) {
            semTake(s, WAIT_FOREVER);   // a delete of the task unwinds it here
            onTick(baseTickStamp());
        }
    }
    raiseToTickPriority();
    clockLoop([] { return !taskDeletePending(); },
              [onTick](uint32_t stamp) {
                  noteTick(stamp);
                  onTick(stamp);
              });
}

void baseTick() {
    SEM_ID s = openTickSem();
    noteTick(timeStamp());
    semGive(s);
}

uint64_t baseTickCount() { return ticks.load(std::memory_order_acquire); }
uint32_t baseTickStamp() { return tickStamp.load(std::memory_order_acquire); }
uint64_t baseTickSkipped() { return skipped.load(std::memory_order_acquire); }

std::string baseTickStarved() {
    std::lock_guard<std::mutex> lk(starvedMx);
    std::string line;
    line.swap(starvedLine);
    return line;
}

namespace detail {
void resetBaseTick() {
    stopBaseTick();
    ticks = 0;
    lags = Lags{};
    std::lock_guard<std::mutex> lk(starvedMx);
    starvedLine.clear();
}
}  // namespace detail

}  // namespace host
