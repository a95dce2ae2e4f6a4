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

struct MeasCntRates {
    uint32_t meas_cnt_int;              // writes to the internal drives, m01 + m03
    uint32_t meas_cnt_forked;           // writes to the USB drive
    float meas_write_rate_intern[2];    // bytes per second, m01 and m03
    float meas_write_rate_usb[2];
};
const MeasCntRates& meas_cnt_rates();
// Sums the counters; once a second (time stamps) renews the rates.
void meas_cnt_update();
void meas_cnt_resetForTest();
