// The ellipse tracer of the shape primitives: two integer recurrences in
// doubled coordinates, one for the flat top and bottom (pass 1) and one for
// the steep sides (pass 2), each visiting offsets (a, b) from the centre of
// one quadrant. Which pixels an ellipse sets is decided here.
#pragma once

namespace gui_shapes {

enum class EllipseTrace {
    Ring,   // start errors 0: a closed one-pixel ring
    Fill,   // start errors biased so that the row spans meet the ring inside
};

// One pass: j counts down from 2 * half (the doubled offset along the axis
// the pass leaves), i counts up; across and along are the squared half-axes
// that weigh the two. Calls visit (i, j) per step and returns the number of
// steps.
template <class Visit>
long long TraceEllipsePass(int half, long long across, long long along, long long e, Visit&& visit)
{
    long long j = 2LL * half, i = 0, t = 0, steps = 0;
    do {
        visit(i, j);
        e += t;
        ++i;
        t += along;
        e += t;
        if (e > 0) {
            e -= j * across;
            --j;
            e -= j * across;
        }
        ++steps;
    } while (j * across >= t);
    return steps;
}

// Calls visit (a, b, pass) for half-axes p (along x) and q (along y), both
// at least 1, with pass 1 for the flat top and bottom and 2 for the steep
// sides; products are 64-bit, so any 16-bit half-axis is safe.
template <class Visit>
void TraceEllipsePasses(int p, int q, EllipseTrace kind, Visit&& visit)
{
    if (p < 1 || q < 1) return;
    const long long pp = (long long)p * p, qq = (long long)q * q;
    const bool fill = kind == EllipseTrace::Fill;
    // Pass 1, top and bottom: b from the doubled q down.
    const long long steps = TraceEllipsePass(q, pp, qq, fill ? -pp * (2LL * q) : 0, [&](long long i, long long j) {
        visit(int(i >> 1), int((j + 1) >> 1), 1);
    });
    // Pass 2, left and right: a from the doubled p down.
    TraceEllipsePass(p, qq, pp, fill ? -qq * steps : 0,
                     [&](long long i, long long j) { visit(int(j >> 1), int((i + 1) >> 1), 2); });
}

// Calls visit (a, b) along both passes.
template <class Visit>
void TraceEllipse(int p, int q, EllipseTrace kind, Visit&& visit)
{
    TraceEllipsePasses(p, q, kind, [&](int a, int b, int) { visit(a, b); });
}

}  // namespace gui_shapes
