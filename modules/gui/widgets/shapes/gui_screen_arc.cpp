// GuiScreen arcs: a circular arc between two angles drawn as rings that
// grow outward with the width, and the pie slice between the centre and the
// arc filled row by row from a span table. One circle trace serves any
// angle range: each traced point is offered to its octant, which keeps it
// when it lies between the arc's end points.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "gui/core/gui_thing.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_circle_trace.h"
#include "gui/widgets/shapes/gui_line_walk.h"
#include "gui/widgets/shapes/gui_shape_coords.h"
#include "gui/widgets/shapes/gui_sincos.h"
#include "gui/widgets/shapes/gui_span_table.h"

int32_t minrow = 0;
int32_t maxrow = 0;

using gui_shapes::CircleTrace;
using gui_shapes::TraceCircle;

namespace {

// What an octant keeps of the traced points, by their ordering value v.
enum OctantState : int {
    kOff = 0,       // not on the arc
    kFrom = 1,      // holds the start: v >= lo
    kWhole = 2,     // wholly on the arc
    kTo = 3,        // holds the end: v <= hi
    kBetween = 4,   // holds both, start first: lo <= v <= hi
    kOutside = 5,   // holds both, end first: v <= hi or v >= lo
};

bool Admits(int state, long long v, long long lo, long long hi)
{
    switch (state) {
    case kFrom: return v >= lo;
    case kWhole: return true;
    case kTo: return v <= hi;
    case kBetween: return lo <= v && v <= hi;
    case kOutside: return v <= hi || v >= lo;
    default: return false;
    }
}

// An angle in 0 .. 359 degrees.
int Normalise(int angle) { return (angle % 360 + 360) % 360; }

// A value of a point that grows with the angle inside octant k (octant k
// spans 45k .. 45k + 44 degrees, counter-clockwise, 90 pointing up).
long long Order(int octant, long long x, long long y)
{
    switch (octant) {
    case 1: case 2: return -x;
    case 5: case 6: return x;
    case 0: case 7: return -y;
    default: return y;
    }
}

// The octant states and limits of the arc from start to end (0 .. 359) with
// the given end points on the screen.
struct Octants {
    int state[8]{};
    long long lo[8]{};
    long long hi[8]{};

    Octants(int start, int end, int xs, int ys, int xe, int ye) {
        const int so = start / 45 % 8, eo = end / 45 % 8;
        if (so == eo) {
            if (end < start) {
                std::fill(state, state + 8, int(kWhole));
                state[so] = kOutside;
            } else {
                state[so] = kBetween;
            }
        } else {
            state[so] = kFrom;
            state[eo] = kTo;
            for (int k = (so + 1) % 8; k != eo; k = (k + 1) % 8) state[k] = kWhole;
        }
        for (int k = 0; k < 8; ++k) {
            lo[k] = Order(k, xs, ys);
            hi[k] = Order(k, xe, ye);
        }
    }
};

// The point of the circle of radius r at angle on the screen, as the sine
// table places it (truncated toward the centre).
void AnglePoint(int xc, int yc, int r, int angle, int& x, int& y)
{
    int s = 0, c = 0;
    GuiLookupSinCos(angle, &s, &c);
    x = int(xc + (long long)c * r / 1024);
    y = int(yc - (long long)s * r / 1024);
}

// Calls offer (octant, x, y) for the eight mirror images of the traced
// offset (a, b), a <= b.
template <class Offer>
void ForEachOctantPoint(int xc, int yc, int a, int b, Offer&& offer)
{
    offer(1, xc + a, yc - b);
    offer(6, xc + a, yc + b);
    offer(2, xc - a, yc - b);
    offer(5, xc - a, yc + b);
    offer(0, xc + b, yc - a);
    offer(7, xc + b, yc + a);
    offer(3, xc - b, yc - a);
    offer(4, xc - b, yc + a);
}

}  // namespace

void GuiScreen::Arc(GuiThing* thing, int xc, int yc, int r, int start, int end, GuiColor colour, int width)
{
    if (!thing || !gui_shapes::Fits16(xc) || !gui_shapes::Fits16(yc) || r > INT16_MAX) return;
    // A negative width draws no rings and must not shrink the box.
    width = std::clamp(width, 0, int(INT16_MAX));
    const long long reach = (long long)std::max(r, 0) + width;
    GuiRect box = gui_shapes::SaturatedRect(xc - reach, yc - reach, xc + reach, yc + reach);

    // The exchange comes first: 350 to 10 is the long arc from 10 to 350.
    if (start > end) std::swap(start, end);
    start = Normalise(start);
    end = Normalise(end);
    if (r - (width >> 1) < 1) r = 1;

    const bool fill = (colour.flags & GUI_COLOR_FILL) != 0;
    if (fill) {
        // One pair per row of the drawing target, which may be a bitmap
        // taller than the screen.
        mpSpanTable = new (std::nothrow) int32_t[size_t(TargetRect().Height()) * 2];
    }
    auto draw = [&](GuiRect& view) {
        if (fill && mpSpanTable) ArcFill(xc, yc, r, start, end, colour, view);
        if (!fill || width != 0) ArcToView(xc, yc, r, start, end, colour, width, view);
    };
    if (!mbDrawingBitmap && (thing->mStatus & GS_ON_TOP)) {
        // Things in front of their siblings draw over the viewports of
        // their window: the clipped box is the one view.
        if (ClipToTarget(thing, box)) draw(box);
    } else {
        ForEachPiece(thing, box, draw);
    }
    ReleaseSpanTable();
}

void GuiScreen::ArcToView(int xc, int yc, int r, int start, int end, GuiColor colour, int width, GuiRect& view)
{
    GuiRect clip = view & TargetRect();
    if (width <= 0 || clip.IsEmpty() || r < 0 || r > INT16_MAX) return;
    start = Normalise(start);
    end = Normalise(end);
    int xs, ys, xe, ye;
    AnglePoint(xc, yc, r, start, xs, ys);
    AnglePoint(xc, yc, r, end, xe, ye);
    // The limits stay those of the first radius while the rings grow.
    const Octants oct(start, end, xs, ys, xe, ye);

    // Only rings between the nearest and the farthest point of the view can
    // touch it (one pixel of slack either way); the others are not traced.
    const long long nx = std::clamp<long long>(xc, clip.left, clip.right) - xc;
    const long long ny = std::clamp<long long>(yc, clip.top, clip.bottom) - yc;
    const long long fx = std::max(std::llabs((long long)clip.left - xc), std::llabs((long long)clip.right - xc));
    const long long fy = std::max(std::llabs((long long)clip.top - yc), std::llabs((long long)clip.bottom - yc));
    const long long nearSq = nx * nx + ny * ny, farSq = fx * fx + fy * fy;
    const uint32_t ink = colour.foreground;
    for (long long ring = 0; ring < width; ++ring) {
        const long long radius = r + ring;
        if (radius > INT16_MAX * 2LL || (radius > 2 && (radius - 2) * (radius - 2) > farSq)) break;
        if ((radius + 2) * (radius + 2) < nearSq) continue;
        TraceCircle(int(radius), CircleTrace::Outline, [&](int a, int b) {
            ForEachOctantPoint(xc, yc, a, b, [&](int k, int x, int y) {
                if (oct.state[k] == kOff || !clip.Contains(x, y)) return;
                ArcPlot(x, y, int(Order(k, x, y)), oct.state[k], ink, int(oct.lo[k]), int(oct.hi[k]), clip);
            });
        });
    }
}

void GuiScreen::ArcPlot(int x, int y, int v, int state, unsigned long colour, int lo, int hi, GuiRect& view)
{
    if (!view.Contains(x, y) || !TargetRect().Contains(x, y) || !Admits(state, v, lo, hi)) return;
    mppRows[y][x] = uint32_t(colour);
}

void GuiScreen::ArcFill(int xc, int yc, int r, int start, int end, GuiColor colour, GuiRect& view)
{
    GuiRect clip = view & TargetRect();
    if (!mpSpanTable || clip.IsEmpty() || r > INT16_MAX) return;
    const int s = Normalise(start), e = Normalise(end);
    int span = e - s;
    if (span < 0) span += 360;
    // Each pass fills a convex slice; a wider one is filled as two.
    int passes[2][2] = {{s, e}, {0, 0}};
    int count = 1;
    if (span > 180) {
        const int half = (s + 180) % 360;
        passes[0][1] = half;
        passes[1][0] = half;
        passes[1][1] = e;
        count = 2;
    }
    if (r < 1) r = 1;

    const int rows = TargetRect().Height();
    for (int p = 0; p < count; ++p) {
        for (int y = 0; y < rows; ++y) gui_shapes::SpanClear(mpSpanTable + 2 * y);
        minrow = rows;
        maxrow = 0;

        int xs, ys, xe, ye;
        AnglePoint(xc, yc, r, passes[p][0], xs, ys);
        AnglePoint(xc, yc, r, passes[p][1], xe, ye);
        ArcFixup(xc, yc, r, xs, ys);
        ArcFixup(xc, yc, r, xe, ye);
        const Octants oct(passes[p][0], passes[p][1], xs, ys, xe, ye);

        TraceCircle(r, CircleTrace::Fill, [&](int a, int b) {
            ForEachOctantPoint(xc, yc, a, b, [&](int k, int x, int y) {
                if (oct.state[k] == kOff) return;
                CheckArcPoint(x, y, int(Order(k, x, y)), oct.state[k], int(oct.lo[k]), int(oct.hi[k]), clip);
            });
        });
        ArcLine(xc, yc, xe, ye, clip);
        ArcLine(xc, yc, xs, ys, clip);

        minrow = std::max<int32_t>(minrow, clip.top);
        maxrow = std::min<int32_t>(maxrow, clip.bottom);
        for (int y = minrow; y <= maxrow; ++y) {
            int32_t* pair = mpSpanTable + 2 * size_t(y);
            // A row that collapsed to one pixel between two wider ones takes
            // the average of its neighbours.
            if (pair[0] == pair[1] && y != minrow && y != maxrow) {
                const int32_t* above = pair - 2;
                const int32_t* below = pair + 2;
                if (!gui_shapes::SpanEmpty(above) && !gui_shapes::SpanEmpty(below)) {
                    pair[0] = int32_t(((long long)above[0] + below[0]) / 2);
                    pair[1] = int32_t(((long long)above[1] + below[1]) / 2);
                }
            }
            const int x1 = std::max<int32_t>(pair[0], clip.left);
            const int x2 = std::min<int32_t>(pair[1], clip.right);
            if (x1 <= x2) HorizontalLine(x1, x2, y, colour.background, 1);
        }
    }
}

void GuiScreen::CheckArcPoint(int x, int y, int v, int state, int lo, int hi, GuiRect&)
{
    if (!mpSpanTable || y < 0 || y >= TargetRect().Height() || !Admits(state, v, lo, hi)) return;
    gui_shapes::SpanWiden(mpSpanTable + 2 * size_t(y), x);
    minrow = std::min(minrow, int32_t(y));
    maxrow = std::max(maxrow, int32_t(y));
}

void GuiScreen::ArcLine(int x1, int y1, int x2, int y2, GuiRect& view)
{
    if (!mpSpanTable) return;
    // Only rows of the view that the table holds.
    const long long top = std::max<long long>(view.top, 0);
    const long long bottom = std::min<long long>(view.bottom, TargetRect().Height() - 1);
    gui_shapes::WalkLine(x1, y1, x2, y2, [&](long long x, long long y, bool) {
        if (y < top || y > bottom) return;
        gui_shapes::SpanWiden(mpSpanTable + 2 * size_t(y), int(x));
        minrow = std::min(minrow, int32_t(y));
        maxrow = std::max(maxrow, int32_t(y));
    });
}

void GuiScreen::ArcFixup(int xc, int yc, int r, int& x, int& y)
{
    // Fold the offset into the first octant: the major offset in dy.
    long long dx = (long long)x - xc, dy = (long long)y - yc;
    int flags = 0;
    if (dy < 0) {
        flags = 4;
        dy = -dy;
    }
    if (dx < 0) {
        flags += 2;
        dx = -dx;
    }
    if (dx > dy) {
        std::swap(dx, dy);
        flags += 1;
    }
    if (r < 0) return;
    // The traced point whose minor offset is dx gives the major offset on
    // the circle.
    long long j = 2LL * r, e = -2LL * r, i = 0;
    if (dx != 0) {
        while (i <= j && !((i & 1) == 0 && (i >> 1) == dx)) {
            e += i;
            ++i;
            e += i;
            if (e >= 0) {
                e -= j;
                --j;
                e -= j;
            }
        }
    }
    const long long d = dy - (j >> 1);
    if (d == 0) return;
    if (flags & 1)
        x = int((flags & 2) ? x + d : x - d);
    else
        y = int((flags & 4) ? y + d : y - d);
}
