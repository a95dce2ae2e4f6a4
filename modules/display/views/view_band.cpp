// Band steps with hysteresis, shared by the text box and the bar graph.
#include "display/views/view_band.h"

uint32_t disp_next_band(uint32_t band, bool valid, uint8_t& validShown, double v, const DispBandLimits& l,
                        bool* changed)
{
    if (validShown && !valid) {
        band = BAND_STALE;
        validShown = 0;
        *changed = true;
    } else if (!validShown && valid) {
        band = BAND_MIDDLE;
        validShown = 1;
        *changed = true;
    }
    // The sums and differences in single precision, as the limits are.
    if (band == BAND_LOWER && v >= double(l.lower + l.lowerHyst)) {
        band = BAND_MIDDLE;
        *changed = true;
    }
    if (l.hasUpper && band == BAND_MIDDLE && v > double(l.upper)) {
        band = BAND_UPPER;
        *changed = true;
    }
    if (band == BAND_UPPER && v <= double(l.upper - l.upperHyst)) {
        band = BAND_MIDDLE;
        *changed = true;
    }
    if (l.hasLower && band == BAND_MIDDLE && v < double(l.lower)) {
        band = BAND_LOWER;
        *changed = true;
    }
    return band;
}
