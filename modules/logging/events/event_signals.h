// Measurable values of the event service, the event channels and the event
// loggers, kept in the signal page.
#pragma once

#include <atomic>
#include <cstdint>

constexpr unsigned EVENT_CHANNELS_MAX = 50;

struct EventSignals {
    uint32_t event_send_cnt;              // messages handed to the command interface
    uint32_t event_send_discarded_cnt;    // events dropped
    uint32_t event_write_cnt;             // event blocks written into measurement files
    uint8_t Cfg_events_arr[EVENT_CHANNELS_MAX];   // per event index: fired within its hold time
};

EventSignals& eventSignals();
// Names the values in the variable catalogue; 1 on success.
int event_publishSignals();
void event_unpublishSignals();

// Counters are bumped from several tasks at once.
inline void event_count(uint32_t& counter) {
    std::atomic_ref<uint32_t>(counter).fetch_add(1, std::memory_order_relaxed);
}
inline uint32_t event_counter(uint32_t& counter) {
    return std::atomic_ref<uint32_t>(counter).load(std::memory_order_relaxed);
}
