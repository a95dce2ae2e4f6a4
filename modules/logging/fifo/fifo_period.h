// Record periods of a data FIFO from its raster code and the period
// multipliers of its two condition states.
#pragma once

#include <cstdint>

struct FifoPeriods {
    uint32_t period[2];     // 0.1 ms, per condition state (false, true)
    uint32_t base;          // the smaller one; 0 for the rasters without a period
    uint32_t slotTime;      // time one slot covers, 0.1 ms
    uint32_t putPeriod;     // time between the records put, whatever is kept of them; 0 without a period
    bool baseIsSecond;      // the base period is the true state's
};

// False for a raster code a data FIFO refuses (13, 19 and above; 10 to 12
// in latency mode).
bool fifo_periods(uint32_t raster, uint16_t multFalse, uint16_t multTrue, bool latencyMode, FifoPeriods* out);
