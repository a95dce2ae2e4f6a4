// Hardware state kept in the process: watchdog counters, the real-time clock
// as an offset over the host clock, PWM and digital inputs and outputs, the
// device record. Tests set the inputs and read the outputs.
#include "host/kernel/kernel_internal.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace host {

namespace {

using detail::kIoChannels;

std::atomic<uint64_t> feeds{0}, starves{0};
std::atomic<bool> inShutdown{false};
std::atomic<int64_t> rtcOffsetMs{0};

std::mutex ioMx;
DeviceRecord record;
PwmState pwmOut[kIoChannels], pwmIn[kIoChannels];
unsigned dOut[kIoChannels], dIn[kIoChannels];

int64_t hostUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

void watchdogFeed() { ++feeds; }
void watchdogStarve() { ++starves; }
void watchdogShutdown() { inShutdown = true; }
uint64_t watchdogFeedCount() { return feeds; }
uint64_t watchdogStarveCount() { return starves; }
bool watchdogInShutdown() { return inShutdown; }

int64_t rtcGetUnixMs() { return hostUnixMs() + rtcOffsetMs; }
void rtcSetUnixMs(int64_t unixMs) { rtcOffsetMs = unixMs - hostUnixMs(); }

void pwmOutSet(unsigned channel, float duty, float frequency) {
    if (channel >= kIoChannels) return;
    std::lock_guard<std::mutex> lk(ioMx);
    pwmOut[channel] = PwmState{duty, frequency, true};
}

PwmState pwmOutGet(unsigned channel) {
    if (channel >= kIoChannels) return {};
    std::lock_guard<std::mutex> lk(ioMx);
    return pwmOut[channel];
}

void pwmOutStop(unsigned channel) {
    if (channel >= kIoChannels) return;
    std::lock_guard<std::mutex> lk(ioMx);
    pwmOut[channel].on = false;
}

void pwmInSet(unsigned channel, float duty, float frequency) {
    if (channel >= kIoChannels) return;
    std::lock_guard<std::mutex> lk(ioMx);
    pwmIn[channel] = PwmState{duty, frequency, true};
}

PwmState pwmInGet(unsigned channel) {
    if (channel >= kIoChannels) return {};
    std::lock_guard<std::mutex> lk(ioMx);
    return pwmIn[channel];
}

void digitalOutSet(unsigned channel, unsigned level) {
    if (channel >= kIoChannels) return;
    std::lock_guard<std::mutex> lk(ioMx);
    dOut[channel] = level;
}

unsigned digitalOutGet(unsigned channel) {
    if (channel >= kIoChannels) return 0;
    std::lock_guard<std::mutex> lk(ioMx);
    return dOut[channel];
}

void digitalInSet(unsigned channel, unsigned level) {
    if (channel >= kIoChannels) return;
    std::lock_guard<std::mutex> lk(ioMx);
    dIn[channel] = level;
}

unsigned digitalInGet(unsigned channel) {
    if (channel >= kIoChannels) return 0;
    std::lock_guard<std::mutex> lk(ioMx);
    return dIn[channel];
}

DeviceRecord deviceRecord() {
    std::lock_guard<std::mutex> lk(ioMx);
    return record;
}

void setDeviceRecord(const DeviceRecord& r) {
    std::lock_guard<std::mutex> lk(ioMx);
    record = r;
}

namespace detail {
void resetIoState() {
    feeds = 0;
    starves = 0;
    inShutdown = false;
    rtcOffsetMs = 0;
    std::lock_guard<std::mutex> lk(ioMx);
    record = DeviceRecord{};
    for (unsigned i = 0; i < kIoChannels; ++i) {
        pwmOut[i] = pwmIn[i] = PwmState{};
        dOut[i] = dIn[i] = 0;
    }
}
}  // namespace detail

}  // namespace host
