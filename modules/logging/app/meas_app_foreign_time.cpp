// Values refused for their time stamps: a source whose stamps lie far from
// this device's time runs on another time base (it follows another time
// master, or none, its clock running on its own). Its values are lost for as
// long as that lasts, so it is named once in words, ahead and behind each
// once per source and spell, and the refusals are counted; the spell ends,
// with its count, when the source's stamps come in this device's time again.
// Only the records the logger FIFO refused as another time base's come here:
// never the device's own, nor late ones (a stall of this device or of the
// source: they go on from the block's last record in this device's time,
// and are recorded). A record refused for a step of this device's own
// clock, which restarts the measurement, is no source's fault: nothing to
// say.
//
// Condition records are evaluated every 10 ms, the last one again until a
// new one comes: one stamped ahead is named once per source and spell too.
#include <atomic>
#include <cstdlib>

#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {
constexpr int32_t kForeignLimit = 10000;   // 1 s in 0.1 ms
constexpr unsigned kSources = 256;
constexpr uint8_t kAhead = 1, kBehind = 2;

// One source's spell of refused stamps: what was named, how many refused.
struct Spell {
    std::atomic<uint8_t> named{0};
    std::atomic<uint32_t> refused{0};

    // True for the first refusal of the kind in this spell.
    bool refuse(uint8_t kind) {
        refused.fetch_add(1, std::memory_order_relaxed);
        return !(named.fetch_or(kind) & kind);
    }
    // The count of an ended spell, 0 when none was going on.
    uint32_t end() {
        if (!named.load(std::memory_order_relaxed) || !named.exchange(0)) return 0;
        return refused.exchange(0);
    }
    void reset() {
        named = 0;
        refused = 0;
    }
};

Spell gValues[kSources];
Spell gConditions[kSources];
}  // namespace

void meas_app_noteRefusedStamp(unsigned pid, uint32_t stamp) {
    const int32_t off = int32_t(stamp - time_getTimestamp());   // wrap-safe
    if (std::abs(int64_t(off)) <= kForeignLimit) return;
    if (!gValues[pid % kSources].refuse(off > 0 ? kAhead : kBehind)) return;
    const long seconds = long((std::abs(int64_t(off)) + 5000) / 10000);
    syslogx(148 | SYSLOGX_LOSS, "values of PID 0x%X come stamped %ld s %s this device's time, not recorded: does it follow "
                 "another time master?",
            pid, seconds, off > 0 ? "ahead of" : "behind");
}

void meas_app_noteStampInTime(unsigned pid) {
    if (const uint32_t n = gValues[pid % kSources].end())
        syslogx(148 | SYSLOGX_LOSS, "values of PID 0x%X come stamped in this device's time again, %u refused", pid, unsigned(n));
}

void meas_app_noteIllegalCondStamp(const MeasBlock* b, uint32_t stamp, uint32_t now) {
    if (!gConditions[b->pid % kSources].refuse(kAhead)) return;
    syslogx(159, "meas_app_check_measconditions: Illegal condition timestamp! m0%d, BLK #%d, PID 0x%X, %u >> %u",
            b->measIdx + 1, b->config->blockNumber, b->pid, unsigned(stamp), unsigned(now));
}

void meas_app_noteCondStampInTime(const MeasBlock* b) {
    if (const uint32_t n = gConditions[b->pid % kSources].end())
        syslogx(159, "meas_app_check_measconditions: condition time stamps of PID 0x%X in this device's time again, "
                     "%u evaluations refused",
                b->pid, unsigned(n));
}

void meas_app_foreignTimeReset() {
    for (auto& s : gValues) s.reset();
    for (auto& s : gConditions) s.reset();
}
