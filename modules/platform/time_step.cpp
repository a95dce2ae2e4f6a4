// Steps of the time stamp, seen as a jump of its offset from the own count.
#include "platform/time_step.h"

#include <atomic>
#include <mutex>

#include "host/kernel/kernel.h"
#include "platform/syslogx.h"

namespace {

// The offset falls by 0.1 ms a gap when a slave slews back, and rises by a
// few milliseconds when the quickest time message of a second comes quicker
// than the last; anything beyond is a new time.
constexpr int32_t kBackSlack = 10;        // 1 ms
constexpr int32_t kForwardSlack = 1000;   // 100 ms

constexpr unsigned kListeners = 8;
std::atomic<TimeStepListener> gListeners[kListeners];

std::mutex gMx;   // the notes; never held across a listener
bool gHave = false;
uint32_t gLastStamp = 0, gLastOffset = 0;
uint32_t gLastRelocks = 0;   // host::timeRelocksAhead() at the newest step (or the first note)
uint32_t gCount = 0;
TimeStep gLast{};
uint32_t gBackCount = 0;
TimeStep gBack{};

// Whether a pair whose offset moved forward by `moved` since the newest
// note is the core's lock onto the time master's new run ahead (counted
// before its first stamp can be read, so the first note that sees the move
// takes the step); gMx held.
bool relockAheadLocked(int32_t moved) { return moved >= kBackSlack && host::timeRelocksAhead() != gLastRelocks; }

// Whether such a pair lies in another time: a jump beyond the slacks, or
// that lock; gMx held.
bool steppedLocked(int32_t moved) {
    return moved < -kBackSlack || moved > kForwardSlack || relockAheadLocked(moved);
}

}  // namespace

// A stamp moved forward by a millisecond or more leaves a hole of that
// length in the records of every raster (one record of the 1 ms raster at
// the least): named, with the stamps it lies between.
void nameMoveForward(const TimeStep& step, int32_t moved) {
    syslogx(151 | SYSLOGX_LOSS, "time: the time stamp moved forward %d.%d ms from %u to %u", int(moved / 10), int(moved % 10),
            unsigned(step.before), unsigned(step.after));
}

bool time_stepNote(uint32_t stamp, uint32_t own) {
    const uint32_t offset = stamp - own;
    TimeStep step{};
    int32_t moved = 0;
    bool stepped = false;
    {
        std::lock_guard<std::mutex> lk(gMx);
        const bool had = gHave;
        moved = had ? int32_t(offset - gLastOffset) : 0;
        step = {gLastStamp, stamp};
        const bool relock = had && relockAheadLocked(moved);
        stepped = had && (moved < -kBackSlack || moved > kForwardSlack || relock);
        const bool newTime = stepped && (moved < 0 || relock);
        if (!had || stepped) gLastRelocks = host::timeRelocksAhead();
        gHave = true;
        gLastStamp = stamp;
        gLastOffset = offset;
        if (stepped) {
            ++gCount;
            gLast = step;
            if (newTime) {
                gBackCount = gCount;
                gBack = step;
            }
        }
    }
    if (moved >= kBackSlack) nameMoveForward(step, moved);
    if (!stepped) return false;
    for (auto& l : gListeners)
        if (TimeStepListener fn = l.load()) fn(step);
    return true;
}

void time_stepCheck() {
    // the stamp is read between two reads of the own count: when they lie
    // apart (the task was held up between them), the pair is read again
    for (int i = 0; i < 3; ++i) {
        const uint32_t own = host::ownTimeStamp();
        const uint32_t stamp = host::timeStamp();
        if (host::ownTimeStamp() - own <= 1) {
            time_stepNote(stamp, own);
            return;
        }
    }
}

uint32_t time_stepCountOf(uint32_t stamp, uint32_t own) {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gHave) return gCount;
    return gCount + (steppedLocked(int32_t((stamp - own) - gLastOffset)) ? 1u : 0u);
}

uint32_t time_stampNow(uint32_t* steps) {
    // the pair as time_stepCheck reads it, judged as its note would be, but
    // not noted: the noting stays with the 1 ms raster's order of pairs
    for (int i = 0; i < 3; ++i) {
        const uint32_t own = host::ownTimeStamp();
        const uint32_t stamp = host::timeStamp();
        if (host::ownTimeStamp() - own > 1) continue;
        if (steps) *steps = time_stepCountOf(stamp, own);
        return stamp;
    }
    // held up at every read: the count noted last, with a stamp read after it
    if (steps) *steps = time_stepCount();
    return host::timeStamp();
}

uint32_t time_stepCountNow() {
    uint32_t steps = 0;
    time_stampNow(&steps);
    return steps;
}

uint32_t time_stepCount(TimeStep* last) {
    std::lock_guard<std::mutex> lk(gMx);
    if (last) *last = gLast;
    return gCount;
}

uint32_t time_stepBackCount(TimeStep* step) {
    std::lock_guard<std::mutex> lk(gMx);
    if (step) *step = gBack;
    return gBackCount;
}

uint32_t time_stepOfStamp(uint32_t stamp, uint32_t seenAt, uint32_t stepsThen) {
    TimeStep last{};
    const uint32_t count = time_stepBackCount(&last);
    const int32_t back = int32_t(last.before - last.after);
    if (count == 0 || back == 0) return stepsThen;
    const int32_t since = int32_t(stepsThen - count);
    if (back < 0) {
        // A lock onto a new run ahead: the jump skipped the stamps between
        // the old time's last and the new time's first, and either time
        // lies on its side of it (late ones of the new time lie behind now,
        // yet never before the jump).
        const bool ofOld = int32_t(stamp - last.before) < -back / 2;
        if (since >= 0) return ofOld ? count - 1 : stepsThen;
        if (since == -1) return ofOld ? stepsThen : count;
        return stepsThen;
    }
    // the old time stands `back` ahead of the new one: half way decides
    const int32_t ahead = int32_t(stamp - seenAt);
    if (since >= 0) return ahead > back / 2 ? count - 1 : stepsThen;   // came in the new time
    if (since == -1) return ahead < -back / 2 ? count : stepsThen;     // came just before it
    return stepsThen;
}

bool time_stepListen(TimeStepListener fn) {
    if (!fn) return false;
    for (auto& l : gListeners)
        if (l.load() == fn) return true;
    for (auto& l : gListeners) {
        TimeStepListener empty = nullptr;
        if (l.compare_exchange_strong(empty, fn) || empty == fn) return true;
    }
    return false;
}

void time_stepResetForTest() {
    std::lock_guard<std::mutex> lk(gMx);
    gHave = false;
    gLastStamp = gLastOffset = 0;
    gBackCount = 0;
    gBack = {};
}
