// The time-synchronisation core: a 32-bit time stamp in 0.1 ms from the
// monotonic clock, the sync state and the next-gap register.
//
// A core in master mode is the reference (always synchronised) and raises its
// gap interrupt every 100 ms, with the base tick whose stamp reaches the gap
// (the ticks lie on whole milliseconds of the clock, so one falls on each
// gap); its next-gap register reads the stamp of the coming gap. The gaps lie
// on one 100 ms grid of the unwrapped count, so they stay 100 ms apart across
// the 32-bit wrap of the stamp (2^32 is no multiple of 1000).
//
// A core in slave mode locks on the gap time stamps written into its
// register: two in a row, at most a second apart, give full sync, which is
// lost when none came for a second. Once locked it stamps in the master's
// time. The master announces the gap that follows the one just passed, so at
// the moment a gap stamp arrives the master's count stood at that stamp less
// one period, plus the time the message took. Each gap stamp so gives a lower
// bound of the offset from this device's clock to the master's; the best of
// the last second's is the estimate. Without a wire that marks the gap, the
// slave lags the master by the quickest of those message times.
//
// Time stamps order records and due times all over the device, so the
// offset moves with care once locked: forward at once (the slave was late),
// back in one step only when a whole second of gap stamps, as they came in
// (not ten that came at once), says the master's time lies a second or more
// behind (late messages alone never look like that). A master a little
// behind is reached by a slew: the slave's stamp runs slower, holding for
// one more 0.1 ms every 100 ms of its own clock (1 ms/s, well above the
// drift of two clocks), until it stands in the master's time. A slew never
// makes a stamp go back, however many gap stamps come at once (a network
// may deliver a message several times; a copy of the last gap stamp is no
// new sample): it is a rate, not a step per gap stamp. The offset and its
// slew are read and moved under one lock with the clock read inside, so
// that of any two stamps the later one taken is never the lower, whichever
// threads take them.
//
// A stall is a lag, never a step: when this device was put aside for a
// while, the time messages of that while wait in its socket and come all at
// once, the first ones seconds late. After a second without a gap stamp,
// those that come hard on the heels of the one before (sooner than half a
// gap period) waited in a queue: they keep the sync, but they are no
// samples of the master's time. The first that comes on its own is.
//
// The lock is the one step either way, taken on the first gap stamp of a
// time base: the first the core hears, and the first after the caller said
// that the master's time base changed (the master runs anew, its count
// started over, or another device became master). A just-started master's
// first message may come late, by a few hundred ms on a loaded host, so the
// first gap stamp of a new time base decides alone only a time ahead (the
// slave was late, whatever the lateness) or one a second or more behind (a
// step of the master's time: no message comes that late). Less behind, the
// new time base is judged on more of its gap stamps, the least delayed of
// them: half a second of them says whether it lies 100 ms or more behind,
// and a second of them, once two more agree with their best, whether less:
// the master's restart on the same clock so moves nothing, however late its
// first message, and a new time 50 ms or more behind is stepped onto (the
// line lies half way, 25 ms: the delays blur both a little). The
// sync state stays as it was across that step: a slave in sync steps in
// sync, so that whoever watches the stamps sees them go back; one out of
// sync reports sync only once it stands in the new time.
// Sync lost and found again with the same time base keeps to the rules
// above.
#include "host/kernel/kernel_internal.h"
#include "host/os/os.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>

namespace host {

namespace {
constexpr uint32_t kGapPeriod = 1000;        // 0.1 ms: 100 ms
constexpr int64_t kLockTimeoutMs = 1000;
constexpr unsigned kOffsetWindow = 10;       // the gap stamps of a second
constexpr uint32_t kSlewSpan = 1000;         // own 0.1 ms counts per 0.1 ms slewed: 1 ms/s
// A master's time this far behind in every gap stamp of a second is another
// time base, not a second of late messages (a loaded host delays them by
// well over 100 ms).
constexpr int32_t kStepBack = 10000;         // 1 s
// The gap stamps of a window came in over this much of this device's time
// at least, to count as a second of them (ten, 100 ms apart, span 900 ms).
constexpr int64_t kWindowSpanMs = 800;
// After a lapse, a gap stamp that comes sooner than this after the one
// before waited in a queue with it.
constexpr int64_t kQueuedWithinMs = 50;
// A new time base of the master judged on a second of its gap stamps: this
// far behind is a step of its time, less is the same time seen through the
// messages' delays, reached by the slew. A restart on the same clock lies
// near no step at all, a new time 50 ms behind near 50 ms: the quickest
// messages of the old run and of the new one blur either by a few ms, so
// the line lies half way, and a new run 50 ms behind is never slewed into
// the files of the old one.
constexpr int32_t kRelockStepBack = 250;     // 25 ms
constexpr uint32_t kRelockAgree = 20;        // 2 ms
// A new time base this far behind or more, in the least delayed of its
// first gap stamps (five, over 300 ms of this device's time at least), is
// stepped onto: a just-started master's messages are not all that late.
constexpr int32_t kRelockBehind = 1000;      // 100 ms
constexpr unsigned kRelockFirstStamps = 5;
constexpr int64_t kRelockFirstSpanMs = 300;
constexpr int64_t kRelockLongestMs = 5000;

std::atomic<uint32_t> clockStart{0};      // where the own count starts (tests: near the wrap)

// The offset from the own count to the master's time, once locked: slewFrom
// until the own count passes slewStart, then 0.1 ms less every kSlewSpan of
// it down to slewTo. Guarded by offsetMx, a leaf lock held only for a read of
// the clock and a few sums.
std::mutex offsetMx;
uint32_t slewFrom = 0;
uint32_t slewTo = 0;
uint32_t slewStart = 0;
constexpr uint32_t kNotForced = 0xFFFFFFFFu;
std::atomic<uint32_t> forcedState{kNotForced};
std::atomic<uint32_t> nextGap{0};
std::atomic<bool> masterMode{false};

std::mutex gapMx;                            // guards the interrupt queue and the lock state
MSG_Q_ID gapQueue = nullptr;
uint64_t lastGapPeriod = ~uint64_t(0);
int64_t lastGapMs = 0;
unsigned gapStreak = 0;
uint32_t offsetSamples[kOffsetWindow];       // offsets the gap stamps of this streak gave
int64_t sampleMs[kOffsetWindow];             // when each of them came
unsigned sampleCount = 0;                    // gap stamps of this streak
uint32_t lastGapStamp = 0;                  // the gap stamp heard last
bool queuedAfterLapse = false;               // gap stamps come as they waited in a queue
bool everLocked = false;                     // the offset holds the master's time
bool lockAnew = false;                       // the next gap stamp is of a new time base
bool relockPending = false;                  // a new time base a little behind, judged on a second of it
bool syncHeld = false;                       // no sync reported until the new time base is taken
int64_t relockSinceMs = 0;                   // the first gap stamp of the new time base came then
std::atomic<uint32_t> relocksKept{0};        // locks anew that ended with no step back
std::atomic<uint32_t> relocksAhead{0};       // of those, the ones that stepped forward onto a new time

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint64_t tenthsAt(const timespec& ts) {
    return static_cast<uint64_t>(ts.tv_sec) * 10000u + static_cast<uint64_t>(ts.tv_nsec) / 100000u;
}

timespec monotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

// This device's own count, which no master steps.
uint32_t ownStampAt(const timespec& ts) { return static_cast<uint32_t>(tenthsAt(ts)) + clockStart; }

// The offset at own count `own`; offsetMx held. Before the slew's start it
// is where the slew starts from, so a stamp of a moment already past (a late
// tick's deadline) is never put below the stamps given at that moment by
// more than the slew since then.
uint32_t offsetAtLocked(uint32_t own) {
    const int32_t since = int32_t(own - slewStart);
    if (since <= 0) return slewFrom;
    const uint32_t taken = uint32_t(since) / kSlewSpan;
    const uint32_t debt = slewFrom - slewTo;
    return slewFrom - (taken < debt ? taken : debt);
}

// The offset holds `offset` from now on, with no slew.
void setOffsetLocked(uint32_t offset) { slewFrom = slewTo = offset; }

// The stamp at a moment (a base tick's deadline, just past): the offset as
// it stands for that moment's own count.
uint32_t stampAt(const timespec& ts) {
    const uint32_t own = ownStampAt(ts);
    std::lock_guard<std::mutex> lk(offsetMx);
    return own + offsetAtLocked(own);
}

// The stamp now; the clock is read under the lock, so that, but for a step
// onto the master's time, it never lies below one given before, whichever
// thread took that one.
uint32_t stampNow() {
    std::lock_guard<std::mutex> lk(offsetMx);
    const uint32_t own = ownStampAt(monotonicNow());
    return own + offsetAtLocked(own);
}

// The count that the 32-bit stamp is the low part of; the gap grid lies on it.
uint64_t unwrappedStamp() {
    std::lock_guard<std::mutex> lk(offsetMx);
    const uint64_t tenths = tenthsAt(monotonicNow());
    return tenths + clockStart + offsetAtLocked(static_cast<uint32_t>(tenths) + clockStart);
}

// gapMx held.
bool streakLive(int64_t now) { return gapStreak && now - lastGapMs <= kLockTimeoutMs; }
bool slaveLockedLocked(int64_t now) { return gapStreak >= 2 && now - lastGapMs <= kLockTimeoutMs && !syncHeld; }

// Whether the window holds a second of gap stamps as they came; gapMx held.
bool windowCoversASecond(int64_t now) {
    return sampleCount >= kOffsetWindow && now - sampleMs[sampleCount % kOffsetWindow] >= kWindowSpanMs;
}

bool slaveLocked() {
    std::lock_guard<std::mutex> lk(gapMx);
    return slaveLockedLocked(steadyMs());
}

// The greatest offset of the window (they lie close together: compared
// wrap-safe); gapMx held, at least one sample.
uint32_t bestOffset() {
    const unsigned n = sampleCount < kOffsetWindow ? sampleCount : kOffsetWindow;
    uint32_t best = offsetSamples[0];
    for (unsigned i = 1; i < n; ++i)
        if (int32_t(offsetSamples[i] - best) > 0) best = offsetSamples[i];
    return best;
}

// Whether the new time base's gap stamps tell where it lies: a second of
// them with two more close to their best (the quickest delay seen three
// times: on a loaded host a whole second of messages may come late, in
// bunches), or five seconds of them; gapMx held.
bool relockJudged(int64_t now) {
    if (!windowCoversASecond(now)) return false;
    const uint32_t best = bestOffset();
    unsigned close = 0;
    for (unsigned i = 0; i < kOffsetWindow; ++i)
        if (best - offsetSamples[i] <= kRelockAgree) ++close;
    return close >= 3 || now - relockSinceMs >= kRelockLongestMs;
}

// Whether the new time base's first gap stamps are in, as they came (not
// a bunch that waited together), so that their best tells a time 0.1 s or
// more behind from a late first message; gapMx held.
bool relockFirstStampsIn(int64_t now) {
    return sampleCount >= kRelockFirstStamps &&
           now - sampleMs[(sampleCount - kRelockFirstStamps) % kOffsetWindow] >= kRelockFirstSpanMs;
}

// The lock onto a new time base is done; gapMx held.
void relockDone() {
    relockPending = false;
    syncHeld = false;
}

// Moves the offset towards the master's time after a gap stamp that came at
// `now`; gapMx held.
void followMaster(int64_t now) {
    const uint32_t best = bestOffset();
    std::lock_guard<std::mutex> lk(offsetMx);
    if (!everLocked) {   // the lock: from the own clock to the master's time
        setOffsetLocked(best);
        everLocked = true;
        return;
    }
    const uint32_t own = ownStampAt(monotonicNow());
    const uint32_t current = offsetAtLocked(own);
    const int32_t ahead = int32_t(best - current);   // > 0: the master is ahead of this stamp
    if (relockPending) {   // a new time base: the step onto it
        const bool decided = ahead > 0 || ahead <= -kStepBack ||
                             (ahead <= -kRelockBehind && relockFirstStampsIn(now)) || relockJudged(now);
        if (!decided) return;
        relockDone();
        if (ahead > -kRelockStepBack) relocksKept.fetch_add(1);
        // as far ahead as a step back is far behind: a new time, counted
        // before any stamp of it can be read (they are read under offsetMx)
        if (ahead >= kRelockStepBack) relocksAhead.fetch_add(1);
        if (ahead > 0 || ahead <= -kRelockStepBack) {
            setOffsetLocked(best);
            return;
        }
        // the time the slave stands in, seen through the messages' delays:
        // the rules of one time base
    }
    if (ahead > 0 || (ahead <= -kStepBack && windowCoversASecond(now))) {
        setOffsetLocked(best);
    } else if (ahead == 0) {
        setOffsetLocked(current);
    } else if (current != slewTo) {
        slewTo = best;   // a slew under way goes on at its pace, towards the new aim
    } else {
        slewFrom = current;
        slewTo = best;
        slewStart = own;
    }
}
}  // namespace

uint32_t timeStamp() { return stampNow(); }

namespace detail {
uint32_t timeStampAt(const timespec& ts) { return stampAt(ts); }
}  // namespace detail

uint32_t ownTimeStamp() { return ownStampAt(monotonicNow()); }

void setTimeStampOffset(uint32_t offset) { clockStart = offset; }

uint32_t timeSyncState() {
    uint32_t forced = forcedState;
    if (forced != kNotForced) return forced;
    return masterMode || slaveLocked() ? 1u : 0u;
}

void setTimeSyncState(uint32_t state) { forcedState = state; }

uint32_t timeNextGap() {
    if (masterMode) return static_cast<uint32_t>((unwrappedStamp() / kGapPeriod + 1) * kGapPeriod);
    return nextGap;
}

void setTimeNextGap(uint32_t gap) {
    nextGap = gap;
    if (masterMode) return;
    // the offset that puts this moment on the gap the master has just passed
    const uint32_t sample = gap - kGapPeriod - ownStampAt(monotonicNow());
    std::lock_guard<std::mutex> lk(gapMx);
    const int64_t now = steadyMs();
    const bool live = streakLive(now);
    if (!live) {
        gapStreak = 0;
        sampleCount = 0;
        queuedAfterLapse = everLocked;   // nothing waits for a core that never heard its master
    } else if (queuedAfterLapse && gap != lastGapStamp && now - lastGapMs >= kQueuedWithinMs) {
        queuedAfterLapse = false;   // one that came on its own: the queue is read
    }
    const bool copy = live && sampleCount && gap == lastGapStamp;
    ++gapStreak;
    lastGapMs = now;
    lastGapStamp = gap;
    if (copy || queuedAfterLapse) return;   // it keeps the sync, but says nothing new of the offset
    if (lockAnew) {   // the stamps of the old time base say nothing of the new one
        lockAnew = false;
        relockPending = everLocked;
        if (!everLocked) relocksKept.fetch_add(1);   // the first lock: no time of a master to step back from
        relockSinceMs = now;
        sampleCount = 0;
    }
    sampleMs[sampleCount % kOffsetWindow] = now;
    offsetSamples[sampleCount++ % kOffsetWindow] = sample;
    if (sampleCount > 2 * kOffsetWindow) sampleCount -= kOffsetWindow;   // the ring's place stays
    followMaster(now);
}

void restartTimeLock() {
    std::lock_guard<std::mutex> lk(gapMx);
    lockAnew = true;
    // a slave out of sync reports sync again only in the new time
    if (everLocked && !slaveLockedLocked(steadyMs())) syncHeld = true;
}

uint32_t timeRelocksWithoutStepBack() { return relocksKept.load(); }
uint32_t timeRelocksAhead() { return relocksAhead.load(); }

void setTimeMasterMode(bool on) { masterMode = on; }
bool timeMasterMode() { return masterMode; }

void connectTimeGapInterrupt(MSG_Q_ID queue) {
    std::lock_guard<std::mutex> lk(gapMx);
    if (gapQueue && gapQueue != queue) msgQClose(gapQueue);
    gapQueue = queue;
}

namespace detail {
void timeCoreTick(uint32_t tickStamp) {
    if (!masterMode) return;
    // the tick's place on the unwrapped count (it lies just before now)
    const uint64_t now = unwrappedStamp();
    const uint64_t count = now - static_cast<uint32_t>(static_cast<uint32_t>(now) - tickStamp);
    std::lock_guard<std::mutex> lk(gapMx);
    const uint64_t period = count / kGapPeriod;
    if (!gapQueue || period == lastGapPeriod) return;
    lastGapPeriod = period;
    msgQSend(gapQueue, &tickStamp, sizeof tickStamp, NO_WAIT, MSG_PRI_NORMAL);
}

void resetTimeCore() {
    clockStart = 0;
    {
        std::lock_guard<std::mutex> lk(offsetMx);
        slewFrom = slewTo = slewStart = 0;
    }
    forcedState = kNotForced;
    nextGap = 0;
    masterMode = false;
    std::lock_guard<std::mutex> lk(gapMx);
    if (gapQueue) msgQClose(gapQueue);
    gapQueue = nullptr;
    lastGapPeriod = ~uint64_t(0);
    lastGapMs = 0;
    gapStreak = 0;
    sampleCount = 0;
    lastGapStamp = 0;
    queuedAfterLapse = false;
    everLocked = false;
    lockAnew = false;
    relockPending = false;
    syncHeld = false;
}
}  // namespace detail

}  // namespace host
