// The straight-line walk of the arc, chord and pie primitives: the major
// axis moves one pixel per step and an error term decides when the minor
// axis follows. The sector fill and the chord cut depend on exactly which
// pixels it visits.
#pragma once

#include <utility>

namespace gui_shapes {

// Walks from the left end to the right end of (x1, y1)-(x2, y2) (the ends
// are exchanged when x1 > x2) and calls visit (x, y, lastOnRow) per pixel;
// lastOnRow is true when the next pixel lies on another row or there is
// none. A mostly horizontal line visits both ends; a steeper one stops
// before the row of its right end, and a single point visits nothing.
template <class Visit>
void WalkLine(long long x1, long long y1, long long x2, long long y2, Visit&& visit)
{
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    const long long dx = x2 - x1, dy = y2 > y1 ? y2 - y1 : y1 - y2;
    const long long sy = y2 < y1 ? -1 : 1;
    long long err = 0;
    if (dx > dy) {
        long long y = y1;
        for (long long x = x1; x <= x2; ++x) {
            if (err >= dx) {
                err -= dx;
                y += sy;
            }
            err += dy;
            visit(x, y, x == x2 || err >= dx);
        }
    } else {
        long long x = x1;
        for (long long y = y1; y != y2; y += sy) {
            if (err >= dy) {
                err -= dy;
                ++x;
            }
            visit(x, y, true);
            err += dx;
        }
    }
}

// Walks from (x1, y1) toward (x2, y2), which it does not reach, with the
// same stepping but in the given direction, and calls visit (x, y) per
// pixel; visit returns false to stop.
template <class Visit>
void WalkToward(long long x1, long long y1, long long x2, long long y2, Visit&& visit)
{
    const long long dx = x2 > x1 ? x2 - x1 : x1 - x2, dy = y2 > y1 ? y2 - y1 : y1 - y2;
    const long long sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
    long long err = 0, x = x1, y = y1;
    if (dx > dy) {
        for (; x != x2; x += sx) {
            if (err >= dx) {
                err -= dx;
                y += sy;
            }
            if (!visit(x, y)) return;
            err += dy;
        }
    } else {
        for (; y != y2; y += sy) {
            if (err >= dy) {
                err -= dy;
                x += sx;
            }
            if (!visit(x, y)) return;
            err += dx;
        }
    }
}

}  // namespace gui_shapes
