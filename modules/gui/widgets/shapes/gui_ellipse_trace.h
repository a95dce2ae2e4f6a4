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

// Calls visit (a, b) for half-axes p (along x) and q (along y), both at
// least 1; products are 64-bit, so any 16-bit half-axis is safe.
template <class Visit>
void TraceEllipse(int p, int q, EllipseTrace kind, Visit&& visit)
{
    if (p < 1 || q < 1) return;
    const long long pp = (long long)p * p, qq = (long long)q * q;
    long long pass1Steps = 0;
    {
        long long j = 2LL * q, i = 0, t = 0, e = kind == EllipseTrace::Fill ? -pp * (2LL * q) : 0;
        do {
            visit(int(i >> 1), int((j + 1) >> 1));
            e += t;
            ++i;
            t += qq;
            e += t;
            if (e > 0) {
                e -= j * pp;
                --j;
                e -= j * pp;
            }
            ++pass1Steps;
        } while (j * pp >= t);
    }
    {
        long long j = 2LL * p, i = 0, t = 0, e = kind == EllipseTrace::Fill ? -qq * pass1Steps : 0;
        do {
            visit(int(j >> 1), int((i + 1) >> 1));
            e += t;
            ++i;
            t += pp;
            e += t;
            if (e > 0) {
                e -= j * qq;
                --j;
                e -= j * qq;
            }
        } while (j * qq >= t);
    }
}

}  // namespace gui_shapes
