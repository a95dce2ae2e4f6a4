// The circle tracer of the shape primitives: an integer recurrence in
// doubled coordinates (each step moves half a pixel) that visits one point
// (a, b) of the first octant per step, a <= b; the caller mirrors it into
// the eight octants. Which pixels a circle sets is decided here.
#pragma once

namespace gui_shapes {

enum class CircleTrace {
    Fill,      // every second step, for spans that meet without gaps or overlaps
    Outline,   // every step, for a closed one-pixel ring
};

// Calls visit (a, b) along the octant of a circle of radius r; nothing for
// r < 0.
template <class Visit>
void TraceCircle(int r, CircleTrace kind, Visit&& visit)
{
    if (r < 0) return;
    long long j = 2LL * r, e = -2LL * r, i = 0;
    do {
        if (kind == CircleTrace::Outline || (i & 1) == 0) visit(int(i >> 1), int(j >> 1));
        e += i;
        ++i;
        if (kind == CircleTrace::Fill) e += i;
        if (e >= 0) {
            e -= j;
            --j;
            if (kind == CircleTrace::Fill) e -= j;
        }
    } while (i <= j);
}

}  // namespace gui_shapes
