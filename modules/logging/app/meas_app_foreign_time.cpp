// Records a data FIFO refused for their time stamps: a source whose stamps
// lie far from this device's time runs on another time base (it follows
// another time master, or none, its clock running on its own). Its values
// are lost for as long as that lasts, so it is named once in words, ahead
// and behind each once per source. A stamp close to this device's time was
// refused for a step of this device's own clock, which restarts the
// measurement: nothing to say.
#include <atomic>
#include <cstdlib>

#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {
constexpr int32_t kForeignLimit = 10000;   // 1 s in 0.1 ms
constexpr unsigned kSources = 256;
constexpr uint8_t kAhead = 1, kBehind = 2;
std::atomic<uint8_t> gNamed[kSources];
}  // namespace

void meas_app_noteRefusedStamp(unsigned pid, uint32_t stamp) {
    const int32_t off = int32_t(stamp - time_getTimestamp());   // wrap-safe
    if (std::abs(int64_t(off)) <= kForeignLimit) return;
    const uint8_t bit = off > 0 ? kAhead : kBehind;
    if (gNamed[pid % kSources].fetch_or(bit) & bit) return;
    const long seconds = long((std::abs(int64_t(off)) + 5000) / 10000);
    syslogx(148, "values of PID 0x%X come stamped %ld s %s this device's time, not recorded: does it follow "
                 "another time master?",
            pid, seconds, off > 0 ? "ahead of" : "behind");
}

void meas_app_foreignTimeReset() {
    for (auto& n : gNamed) n = 0;
}
