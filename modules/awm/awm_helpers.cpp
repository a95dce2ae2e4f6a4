// Evaluation helpers shared with the display: rounding and curve lookup.
#include <cstdint>

#include "awm/awm.h"

namespace awm {
double round(double x) {
    // Out-of-range values saturate instead of overflowing the conversion; a
    // value that is no number gives 0.
    if (x != x) return 0;
    if (x >= 0) {
        double v = x + 0.5;
        return v >= 4294967295.0 ? 4294967295.0 : double(uint32_t(v));
    }
    double v = x - 0.5;
    return v <= -2147483648.0 ? -2147483648.0 : double(int32_t(v));
}
}  // namespace awm

double awm_round(double x) { return awm::round(x); }

void awm_0x02_lookup(float* out, const float* y, float x, const float* xrow, int last) {
    if (!out || !y || !xrow || last < 0) return;
    if (last == 0) {
        *out = y[0];
        return;
    }
    // Segment i spans xrow[i]..xrow[i+1]; values outside the row use the
    // first or last segment extended.
    int i = 0;
    while (i < last - 1 && x > xrow[i + 1]) ++i;
    float dx = xrow[i + 1] - xrow[i];
    if (dx == 0) {
        *out = x <= xrow[i] ? y[i] : y[i + 1];
        return;
    }
    *out = y[i] + (y[i + 1] - y[i]) * (x - xrow[i]) / dx;
}
