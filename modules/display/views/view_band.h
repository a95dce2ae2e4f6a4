// The limit bands of the text box and the bar graph: lower, middle and upper
// by the value against two limits with hysteresis, and the stale band while
// the value is not valid.
#pragma once

#include <cstdint>

enum : uint32_t {
    BAND_LOWER = 0,
    BAND_MIDDLE = 1,
    BAND_UPPER = 2,
    BAND_STALE = 3,
};

struct DispBandLimits {
    float lower;
    float upper;
    float lowerHyst;
    float upperHyst;
    bool hasLower;
    bool hasUpper;
};

// One tick of the band. validShown is the validity seen at the last tick;
// *changed is set when the band or the validity changed. A NaN value takes
// no step.
uint32_t disp_next_band(uint32_t band, bool valid, uint8_t& validShown, double v, const DispBandLimits& l,
                        bool* changed);
