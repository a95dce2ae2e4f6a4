// The time-synchronisation core: a 32-bit time stamp in 0.1 ms from the
// monotonic clock, the sync state and the next-gap register.
//
// The devices of one host share the monotonic clock, which stands in for the
// wire between their cores. A core in master mode is the reference (always
// synchronised) and raises its gap interrupt at every 100 ms boundary of its
// time stamp; its next-gap register reads the stamp of the coming boundary. A
// core in slave mode locks on the gap time stamps written into its register:
// two in a row, at most a second apart, give full sync, which is lost when
// none came for a second.
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

std::atomic<uint32_t> stampOffset{0};
constexpr uint32_t kNotForced = 0xFFFFFFFFu;
std::atomic<uint32_t> forcedState{kNotForced};
std::atomic<uint32_t> nextGap{0};
std::atomic<bool> masterMode{false};

std::mutex gapMx;                            // guards the interrupt queue and the lock state
MSG_Q_ID gapQueue = nullptr;
uint32_t lastGapPeriod = 0xFFFFFFFFu;
int64_t lastGapMs = 0;
unsigned gapStreak = 0;

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool slaveLocked() {
    std::lock_guard<std::mutex> lk(gapMx);
    return gapStreak >= 2 && steadyMs() - lastGapMs <= kLockTimeoutMs;
}
}  // namespace

uint32_t timeStamp() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return detail::timeStampAt(ts);
}

namespace detail {
uint32_t timeStampAt(const timespec& ts) {
    uint64_t tenths = static_cast<uint64_t>(ts.tv_sec) * 10000u + static_cast<uint64_t>(ts.tv_nsec) / 100000u;
    return static_cast<uint32_t>(tenths) + stampOffset;
}
}  // namespace detail

void setTimeStampOffset(uint32_t offset) { stampOffset = offset; }

uint32_t timeSyncState() {
    uint32_t forced = forcedState;
    if (forced != kNotForced) return forced;
    return masterMode || slaveLocked() ? 1u : 0u;
}

void setTimeSyncState(uint32_t state) { forcedState = state; }

uint32_t timeNextGap() {
    if (masterMode) return (timeStamp() / kGapPeriod + 1) * kGapPeriod;
    return nextGap;
}

void setTimeNextGap(uint32_t gap) {
    nextGap = gap;
    if (masterMode) return;
    std::lock_guard<std::mutex> lk(gapMx);
    int64_t now = steadyMs();
    gapStreak = gapStreak && now - lastGapMs <= kLockTimeoutMs ? gapStreak + 1 : 1;
    lastGapMs = now;
}

void setTimeMasterMode(bool on) { masterMode = on; }
bool timeMasterMode() { return masterMode; }

void connectTimeGapInterrupt(MSG_Q_ID queue) {
    std::lock_guard<std::mutex> lk(gapMx);
    if (gapQueue && gapQueue != queue) msgQClose(gapQueue);
    gapQueue = queue;
}

namespace detail {
void timeCoreTick() {
    if (!masterMode) return;
    uint32_t stamp = timeStamp();
    std::lock_guard<std::mutex> lk(gapMx);
    uint32_t period = stamp / kGapPeriod;
    if (!gapQueue || period == lastGapPeriod) return;
    lastGapPeriod = period;
    msgQSend(gapQueue, &stamp, sizeof stamp, NO_WAIT, MSG_PRI_NORMAL);
}

void resetTimeCore() {
    stampOffset = 0;
    forcedState = kNotForced;
    nextGap = 0;
    masterMode = false;
    std::lock_guard<std::mutex> lk(gapMx);
    if (gapQueue) msgQClose(gapQueue);
    gapQueue = nullptr;
    lastGapPeriod = 0xFFFFFFFFu;
    lastGapMs = 0;
    gapStreak = 0;
}
}  // namespace detail

}  // namespace host
