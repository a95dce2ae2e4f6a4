// Write counters and write rates of the measurement file writers.
#pragma once

#include <cstdint>

struct MeasCntPair {
    uint32_t* writes;
    uint32_t* bytes;
};
// The writer's counters of m01 (0) or m03 (2) on the internal drive (kind 0)
// or the USB drive (kind 4); two null pointers otherwise.
MeasCntPair meas_cnt_reference(unsigned measIdx, unsigned kind);

// The measurable values of the counters; element 0 is m01, element 1 m03.
// They live in the signal page once published (meas_cnt_publishSignals).
struct MeasCntSignals {
    uint32_t meas_cnt_int_arr[2];       // writes to the internal drive
    uint32_t write_bytes_intern[2];     // bytes written to the internal drive
    uint32_t meas_cnt_forked_arr[2];    // writes to the USB drive
    uint32_t write_bytes_usb[2];        // bytes written to the USB drive
    uint32_t meas_cnt_int;              // m01 + m03
    uint32_t meas_cnt_forked;
    float meas_write_rate_intern[2];    // bytes per second
    float meas_write_rate_usb[2];
};
const MeasCntSignals& meas_cnt_rates();
// Places the values in the signal page and names them in the variable
// catalogue; 1 on success, 0 when they stay private.
int meas_cnt_publishSignals();
// Copies and sums the counters; once a second (time stamps) renews the rates.
void meas_cnt_update();
// Tests: back to private counters (the signal page is made anew).
void meas_cnt_resetForTest();
