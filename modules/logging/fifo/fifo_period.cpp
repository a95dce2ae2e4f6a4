#include "logging/fifo/fifo_period.h"

#include "logging/config/meas_config.h"

bool fifo_periods(uint32_t raster, uint16_t multFalse, uint16_t multTrue, bool latencyMode, FifoPeriods* out) {
    static const uint32_t kUnit[10] = {10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};
    FifoPeriods p{};
    const uint16_t mult[2] = {multFalse, multTrue};
    if (raster <= MEAS_RASTER_1S || (raster >= MEAS_RASTER_5US && raster <= MEAS_RASTER_500US)) {
        // the sub-millisecond rasters deliver one record (several samples) per ms
        uint32_t unit = raster <= MEAS_RASTER_1S ? kUnit[raster] : 10;
        p.period[0] = unit * multFalse;
        p.period[1] = unit * multTrue;
        // a multiplier of 0 records nothing in its state: the base is the other one
        p.baseIsSecond = p.period[0] == 0 || (p.period[1] != 0 && p.period[1] < p.period[0]);
        p.base = p.period[p.baseIsSecond ? 1 : 0];
        p.slotTime = p.base;
        p.putPeriod = unit;
    } else if (raster >= MEAS_RASTER_SYNC && raster <= MEAS_RASTER_SBLAP) {
        if (latencyMode) return false;
        p.baseIsSecond = mult[1] > mult[0];   // the deciding state is the larger multiplier's
        p.slotTime = raster == MEAS_RASTER_SYNC ? 10 : 10000;
    } else {
        return false;
    }
    if (out) *out = p;
    return true;
}
