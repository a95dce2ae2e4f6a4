// The time-synchronisation core: a 32-bit time stamp in 0.1 ms from the
// monotonic clock, the sync state and the next-gap register.
#include "host/kernel_internal.h"

#include <atomic>
#include <ctime>

namespace host {

namespace {
std::atomic<uint32_t> stampOffset{0};
std::atomic<uint32_t> syncState{0};
std::atomic<uint32_t> nextGap{0};
}  // namespace

uint32_t timeStamp() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t tenths = static_cast<uint64_t>(ts.tv_sec) * 10000u + static_cast<uint64_t>(ts.tv_nsec) / 100000u;
    return static_cast<uint32_t>(tenths) + stampOffset;
}

void setTimeStampOffset(uint32_t offset) { stampOffset = offset; }
uint32_t timeSyncState() { return syncState; }
void setTimeSyncState(uint32_t state) { syncState = state; }
uint32_t timeNextGap() { return nextGap; }
void setTimeNextGap(uint32_t gap) { nextGap = gap; }

namespace detail {
void resetTimeCore() {
    stampOffset = 0;
    syncState = 0;
    nextGap = 0;
}
}  // namespace detail

}  // namespace host
