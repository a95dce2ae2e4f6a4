// Values of the display that calibration tools watch: the refresh statistics
// of the page on screen and the gateway status of its values. They live in
// the signal page once published (names in the variable catalogue), in a
// private record before. The page position, page count and brightness
// position are fields of the signal page's fixed layout.
#pragma once

#include <atomic>
#include <cstdint>

struct DispSignals {
    uint16_t display_elements_updated;
    uint16_t display_elements_skipped;
    uint8_t display_err;
    uint8_t disp_online_mn;
    uint8_t disp_online_mx;
    uint8_t disp_reset_alarm_active;
    uint16_t disp_timecnt_mn;
    uint16_t disp_timecnt_mx;
    uint32_t disp_timeout_all;
    uint32_t disp_timeout_pids;
};

DispSignals& dispSignals();

// Tools read these values (and the page fields of the signal page) on their
// own tasks at any time: each is written and read as one atomic word.
template <class T>
inline void dispSigSet(T& field, T value) { std::atomic_ref<T>(field).store(value, std::memory_order_relaxed); }
template <class T>
inline T dispSigGet(T& field) { return std::atomic_ref<T>(field).load(std::memory_order_relaxed); }
// Moves the record into the signal page and names its fields; 1 on success.
int disp_publishSignals();
void disp_unpublishSignals();
