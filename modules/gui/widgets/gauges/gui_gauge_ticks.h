// The tick walk of the dials and scales.
//
// A tick's line depends only on where it lands: a whole-degree angle on a
// dial, a pixel along a scale's track. Ticks that land where the tick before
// them did add nothing to the picture, yet a wide range with a small interval
// (the 32-bit range in steps of 1) would draw billions of such lines and
// block the GUI task for minutes. The walk draws one tick per place instead,
// finding the next tick at another place by bisection.
#pragma once

#include <cstdint>

namespace gui_gauges {

// No gauge on the display has this many places for ticks; the walk stops
// there should a face with absurd angles (many turns) ask for more.
constexpr int64_t kMaxTickLines = 4096;

// Calls draw(k) for tick k = first and then, for k up to last, for each
// tick whose place(k) differs from that of the tick drawn before it. place
// must be monotone in k (never rising, or never falling); ticks between two
// drawn ones then land on the place of one of them.
template <class Place, class Draw>
void ForEachPlacedTick(int64_t first, int64_t last, Place&& place, Draw&& draw)
{
    int64_t lines = 0;
    for (int64_t k = first; k <= last && lines < kMaxTickLines; ++lines) {
        const auto at = place(k);
        draw(k);
        // The first tick after k at another place, or last + 1.
        int64_t lo = k + 1, hi = last + 1;
        while (lo < hi) {
            const int64_t mid = lo + (hi - lo) / 2;
            if (place(mid) != at) hi = mid;
            else lo = mid + 1;
        }
        k = lo;
    }
}

}  // namespace gui_gauges
