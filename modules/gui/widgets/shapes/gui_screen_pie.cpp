// GuiScreen pies: the sector of an ellipse between the radii from its centre
// toward two points, counter-clockwise from the first to the second. The
// sector is filled as one polygon (centre, first radius, the ellipse's edge
// from the span table, second radius) and bordered by rings and the two
// radii, clipped like every shape.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_ellipse_trace.h"
#include "gui/widgets/shapes/gui_line_walk.h"
#include "gui/widgets/shapes/gui_span_table.h"

using gui_shapes::SpanEmpty;

namespace {

constexpr GuiPoint kNoPoint{-1, -1};

// Quadrants in counter-clockwise order on the screen.
enum Quadrant { kUpperLeft = 0, kLowerLeft = 1, kLowerRight = 2, kUpperRight = 3 };

int QuadrantOf(int x, int y, int cx, int cy)
{
    if (x <= cx) return y <= cy ? kUpperLeft : kLowerLeft;
    return y > cy ? kLowerRight : kUpperRight;
}

// What a quadrant keeps of a ring.
enum Cover { kNone, kWhole, kAfterA, kBeforeB, kBoth, kEither };

}  // namespace

void GuiScreen::Pie(GuiThing* thing, GuiRect& rect, GuiPoint p1, GuiPoint p2, GuiColor colour, int width)
{
    if (!thing || !PlotEllipseToCut(rect)) return;
    int count = 0;
    GuiPoint first, last;
    GuiPoint* points = PieLine(p1.x, p1.y, p2.x, p2.y, rect, &count, &first, &last);
    ReleaseSpanTable();
    if (points && count > 2) {
        Polygon(thing, points, count, colour, 0);
        DrawPieBorder(thing, rect, first, last, colour, width);
    }
    delete[] points;
}

GuiPoint* GuiScreen::PieLine(int x1, int y1, int x2, int y2, GuiRect& rect, int* count, GuiPoint* first,
                             GuiPoint* last)
{
    *count = 0;
    *first = *last = kNoPoint;
    if (!mpSpanTable || rect.IsEmpty()) return nullptr;
    const int cx = rect.left + (rect.right - rect.left + 1) / 2;
    const int cy = rect.top + (rect.bottom - rect.top + 1) / 2;
    // A point at the centre gives no direction.
    if ((x1 == cx && y1 == cy) || (x2 == cx && y2 == cy)) return nullptr;

    const int rows = rect.Height();
    auto inside = [&](long long x, long long y) {
        if (y < rect.top || y > rect.bottom) return false;
        const int32_t* pair = mpSpanTable + 2 * size_t(y - rect.top);
        return !SpanEmpty(pair) && pair[0] < x && x < pair[1];
    };
    // Walks from the centre along the direction of (x, y) until it leaves
    // the rectangle: the first pixel inside the ellipse and the last one
    // (at its edge). The direction is stretched past the rectangle so that a
    // point inside the ellipse still gives a radius to its edge.
    auto radius = [&](int x, int y, GuiPoint& near, GuiPoint& edge) {
        near = edge = kNoPoint;
        const long long dx = (long long)x - cx, dy = (long long)y - cy;
        const long long stretch = (std::max(rect.Width(), rows) + 2) / std::max(std::llabs(dx), std::llabs(dy)) + 1;
        bool seen = false;
        gui_shapes::WalkToward(cx, cy, cx + dx * stretch, cy + dy * stretch, [&](long long px, long long py) {
            if (!rect.Contains(int(px), int(py))) return false;
            if (inside(px, py)) {
                const GuiPoint p{int16_t(px), int16_t(py)};
                if (!seen) near = p;
                seen = true;
                edge = p;
            }
            return true;
        });
        return seen;
    };
    GuiPoint start, a, unused, b;
    if (!radius(x1, y1, start, a) || !radius(x2, y2, unused, b)) return nullptr;

    // The ellipse's edge counter-clockwise: right ends bottom to top, then
    // left ends top to bottom.
    int filled = 0;
    for (int row = 0; row < rows; ++row) filled += !SpanEmpty(mpSpanTable + 2 * row);
    const int cycle = 2 * filled;
    GuiPoint* edge = new (std::nothrow) GuiPoint[size_t(cycle)];
    if (!edge) return nullptr;
    int n = 0;
    for (int row = rows - 1; row >= 0; --row)
        if (!SpanEmpty(mpSpanTable + 2 * row))
            edge[n++] = GuiPoint{int16_t(mpSpanTable[2 * row + 1]), int16_t(rect.top + row)};
    for (int row = 0; row < rows; ++row)
        if (!SpanEmpty(mpSpanTable + 2 * row))
            edge[n++] = GuiPoint{int16_t(mpSpanTable[2 * row]), int16_t(rect.top + row)};
    // Where a radius meets the edge: its row on the half it lies in.
    auto edgeIndex = [&](GuiPoint p) {
        const int from = p.x >= cx ? 0 : filled;
        for (int i = from; i < from + filled; ++i)
            if (edge[i].y == p.y) return i;
        return from;
    };
    const int ia = edgeIndex(a), ib = edgeIndex(b);
    int steps = (ib - ia + cycle) % cycle;
    if (steps == 0) {
        // Both radii meet the edge on one row and side: a thin sector when
        // b lies counter-clockwise after a, else all but that thin wedge.
        const long long turn = (long long)(a.x - cx) * (cy - b.y) - (long long)(cy - a.y) * (b.x - cx);
        if (turn < 0) steps = cycle;
    }
    // Centre, first radius, steps + 1 edge points, second radius.
    GuiPoint* points = new (std::nothrow) GuiPoint[size_t(steps) + 4];
    if (points) {
        n = 0;
        points[n++] = start;
        points[n++] = a;
        for (int i = 0; i <= steps; ++i) points[n++] = edge[(ia + i) % cycle];
        points[n++] = b;
        *count = n;
        *first = a;
        *last = b;
    }
    delete[] edge;
    return points;
}

void GuiScreen::DrawPieBorder(GuiThing* thing, GuiRect& rect, GuiPoint a, GuiPoint b, GuiColor colour, int width)
{
    int ry = (rect.bottom - rect.top) >> 1, rx = (rect.right - rect.left) >> 1;
    if (ry <= 1 || rx <= 1) return;
    const int cx = (rect.left + rect.right) >> 1, cy = (rect.top + rect.bottom) >> 1;
    const int qa = QuadrantOf(a.x, a.y, cx, cy), qb = QuadrantOf(b.x, b.y, cx, cy);

    Cover cover[4] = {kNone, kNone, kNone, kNone};
    if (qa != qb) {
        for (int q = (qa + 1) % 4; q != qb; q = (q + 1) % 4) cover[q] = kWhole;
        cover[qa] = kAfterA;
        cover[qb] = kBeforeB;
    } else {
        bool follows = false;
        switch (qa) {
        case kUpperLeft: follows = a.x >= b.x && a.y <= b.y; break;
        case kLowerLeft: follows = a.x <= b.x && a.y <= b.y; break;
        case kLowerRight: follows = a.x <= b.x && a.y >= b.y; break;
        default: follows = a.x >= b.x && a.y >= b.y; break;
        }
        if (follows) {
            cover[qa] = kBoth;
        } else {
            std::fill(cover, cover + 4, kWhole);
            cover[qa] = kEither;
        }
    }
    // Counter-clockwise the right-hand quadrants run up, the left-hand down;
    // along a row, the upper quadrants run left, the lower ones right. A
    // ring has several pixels on its flat rows (at the top and bottom of
    // the ellipse), so on the edge point's own row the column decides which
    // of them lie between the radii: a radius meeting the flat top keeps
    // only the part of that row inside the sector.
    auto keeps = [&](int q, int x, int y) {
        const bool right = q == kLowerRight || q == kUpperRight;
        const bool upper = q == kUpperLeft || q == kUpperRight;
        const bool afterA = y == a.y ? (upper ? x <= a.x : x >= a.x) : right ? y < a.y : y > a.y;
        const bool beforeB = y == b.y ? (upper ? x >= b.x : x <= b.x) : right ? y > b.y : y < b.y;
        switch (cover[q]) {
        case kWhole: return true;
        case kAfterA: return afterA;
        case kBeforeB: return beforeB;
        case kBoth: return afterA && beforeB;
        case kEither: return afterA || beforeB;
        default: return false;
        }
    };
    const uint32_t ink = colour.foreground;
    for (int k = 0; k < width; ++k) {
        // The rings go through the same clip and viewport walk as the fill.
        ForEachPiece(thing, rect, [&](GuiRect& view) {
            const GuiRect clip = view & TargetRect();
            gui_shapes::TraceEllipse(rx, ry, gui_shapes::EllipseTrace::Ring, [&](int u, int v) {
                const int xs[4] = {cx + u, cx + u, cx - u, cx - u};
                const int ys[4] = {cy + v, cy - v, cy - v, cy + v};
                const int qs[4] = {kLowerRight, kUpperRight, kUpperLeft, kLowerLeft};
                for (int i = 0; i < 4; ++i)
                    if (rect.Contains(xs[i], ys[i]) && clip.Contains(xs[i], ys[i]) && keeps(qs[i], xs[i], ys[i]))
                        mppRows[ys[i]][xs[i]] = ink;
            });
        });
        if (--ry == 0 || --rx == 0) break;
    }
    Line(thing, a.x, a.y, cx, cy, colour, width);
    Line(thing, b.x, b.y, cx, cy, colour, width);
}
