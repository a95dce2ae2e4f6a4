// GuiScreen chords: the part of an ellipse on one side of a straight line
// through two points. The ellipse's row span table is cut along the line,
// the rows that remain are filled as one polygon, and a border of rings and
// the chord itself is drawn on top, clipped like every shape.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_ellipse_trace.h"
#include "gui/widgets/shapes/gui_line_walk.h"
#include "gui/widgets/shapes/gui_span_table.h"

using gui_shapes::SpanClear;
using gui_shapes::SpanEmpty;

namespace {

constexpr GuiPoint kNoPoint{-1, -1};

// Whether a ring point of the given quadrant and trace pass lies on the
// kept side of the chord from a to b (a.y <= b.y) around the centre c.
bool ChordKeeps(int side, int quadrant, int pass, int x, int y, GuiPoint a, GuiPoint b, int cx, int cy)
{
    const int ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const bool p1 = pass == 1;
    // The ends of the chord past the centre, whose rows bound the ring.
    const bool aLowRight = ax > cx && ay > cy && (p1 ? ay >= y : ay > y);
    const bool aLowLeft = ax < cx && ay > cy && (p1 ? ay >= y : ay > y);
    const bool bHighRight = bx > cx && by < cy && (p1 ? by <= y : by < y);
    const bool bHighLeft = bx < cx && by < cy && (p1 ? by <= y : by < y);
    const bool aHighRight = ax > cx && ay < cy && ay > y;
    const bool aHighLeft = ax < cx && ay < cy && ay > y;
    // Pass 1: by > y above the centre, by >= y below it; pass 2: by >= y off the centre row.
    auto bBelow = [&](bool sideOfB) {
        if (!sideOfB) return true;
        if (p1) return by < cy ? by > y : by > cy ? by >= y : true;
        return by != cy ? by >= y : true;
    };
    if (side == 1) {
        switch (quadrant) {
        case 0: return bx <= x && !aLowRight && bBelow(bx > cx);                                     // lower right
        case 1: return ax <= x && !aLowRight && !bHighRight && !aHighRight;                          // upper right
        case 2: return (ax <= x && ay >= y) || aLowLeft || bHighLeft;                                // upper left
        default: return (bx <= x && by <= y) || aLowLeft || bHighLeft;                               // lower left
        }
    }
    // Side 0 tests the upper-right end b inclusively on both passes.
    const bool bHighRightIncl = bx > cx && by < cy && by <= y;
    switch (quadrant) {
    case 0: return (bx >= x && by <= y) || aLowRight || bHighRightIncl;
    case 1: return (ax >= x && ay >= y) || aLowRight || bHighRightIncl;
    case 2: return ax >= x && !aLowLeft && !bHighLeft && !aHighLeft;
    default: return bx >= x && !aLowLeft && bBelow(bx < cx);
    }
}

}  // namespace

bool GuiScreen::PlotEllipseToCut(GuiRect& rect)
{
    const int ry = (rect.bottom - rect.top) >> 1, rx = (rect.right - rect.left) >> 1;
    if (ry <= 1 || rx <= 1) return false;
    mpSpanTable = new (std::nothrow) int32_t[size_t(rect.Height()) * 2];
    if (!mpSpanTable) return false;
    PlotEllipsePoints(rect);
    return true;
}

void GuiScreen::ReleaseSpanTable()
{
    delete[] mpSpanTable;
    mpSpanTable = nullptr;
}

void GuiScreen::Chord(GuiThing* thing, GuiRect& rect, GuiPoint p1, GuiPoint p2, GuiColor colour, int width)
{
    if (!thing || !PlotEllipseToCut(rect)) return;
    const int side = p1.y >= p2.y ? 1 : 0;
    GuiPoint first, last;
    ChordLine(p1.x, p1.y, p2.x, p2.y, rect, side, &first, &last);

    GuiPoint* points = nullptr;
    int count = 0;
    if (!(first == kNoPoint)) {
        // Left ends top to bottom, then right ends bottom to top.
        const int rows = rect.Height();
        points = new (std::nothrow) GuiPoint[size_t(rows) * 2];
        if (points) {
            for (int row = 0; row < rows; ++row)
                if (!SpanEmpty(mpSpanTable + 2 * row))
                    points[count++] = GuiPoint{int16_t(mpSpanTable[2 * row]), int16_t(rect.top + row)};
            for (int row = rows - 1; row >= 0; --row)
                if (!SpanEmpty(mpSpanTable + 2 * row))
                    points[count++] = GuiPoint{int16_t(mpSpanTable[2 * row + 1]), int16_t(rect.top + row)};
        }
    }
    ReleaseSpanTable();
    if (count > 2) {
        Polygon(thing, points, count, colour, 0);
        DrawChordBorder(thing, rect, first, last, side, colour, width);
    }
    delete[] points;
}

void GuiScreen::ChordLine(int x1, int y1, int x2, int y2, GuiRect& rect, int side, GuiPoint* first, GuiPoint* last)
{
    *first = *last = kNoPoint;
    if (!mpSpanTable) return;
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    const int sy = y2 < y1 ? -1 : 1;
    bool found = false;
    gui_shapes::WalkLine(x1, y1, x2, y2, [&](long long x, long long y, bool lastOnRow) {
        if (y < rect.top || y > rect.bottom) return;
        minrow = std::min<int32_t>(minrow, int32_t(y));
        maxrow = std::max<int32_t>(maxrow, int32_t(y));
        int32_t* pair = mpSpanTable + 2 * size_t(y - rect.top);
        if (!SpanEmpty(pair) && pair[0] <= x && x <= pair[1]) {
            const GuiPoint p{int16_t(x), int16_t(y)};
            if (!found) *first = p;
            found = true;
            *last = p;
            // Side 1 keeps what lies right of the chord, side 0 what lies left.
            if (side == 1)
                pair[0] = int32_t(x);
            else if (lastOnRow)
                pair[1] = int32_t(x);
        } else if (SpanEmpty(pair) || x < pair[0]) {
            if (side == 0 && lastOnRow) SpanClear(pair);
        } else if (side == 1 && lastOnRow) {
            SpanClear(pair);
        }
    });
    // Rows beyond the chord's ends on the removed side.
    long long from, to;
    if (side == 0) {
        from = sy < 0 ? y1 : rect.top;
        to = sy < 0 ? rect.bottom : y1;
    } else {
        from = sy < 0 ? rect.top : y2;
        to = sy < 0 ? y2 : rect.bottom;
    }
    from = std::max<long long>(from, rect.top);
    to = std::min<long long>(to, rect.bottom);
    for (long long y = from; y <= to; ++y) SpanClear(mpSpanTable + 2 * size_t(y - rect.top));
}

void GuiScreen::DrawChordBorder(GuiThing* thing, GuiRect& rect, GuiPoint a, GuiPoint b, int side, GuiColor colour,
                                int width)
{
    int ry = (rect.bottom - rect.top) >> 1, rx = (rect.right - rect.left) >> 1;
    if (ry <= 1 || rx <= 1) return;
    if (a.y >= b.y) std::swap(a, b);
    const int cx = (rect.left + rect.right) >> 1, cy = (rect.top + rect.bottom) >> 1;
    const bool flat = std::abs(a.y - b.y) <= std::abs(a.x - b.x);
    const uint32_t ink = colour.foreground;
    for (int k = 0; k < width; ++k) {
        // The rings go through the same clip and viewport walk as the fill.
        ForEachPiece(thing, rect, [&](GuiRect& view) {
            const GuiRect clip = view & TargetRect();
            gui_shapes::TraceEllipsePasses(rx, ry, gui_shapes::EllipseTrace::Ring, [&](int u, int v, int pass) {
                const int xs[4] = {cx + u, cx + u, cx - u, cx - u};
                const int ys[4] = {cy + v, cy - v, cy - v, cy + v};
                for (int q = 0; q < 4; ++q)
                    if (rect.Contains(xs[q], ys[q]) && clip.Contains(xs[q], ys[q]) &&
                        ChordKeeps(side, q, pass, xs[q], ys[q], a, b, cx, cy))
                        mppRows[ys[q]][xs[q]] = ink;
            });
        });
        const int dx = flat ? 0 : (side == 1 ? k : -k), dy = flat ? k : 0;
        Line(thing, a.x + dx, a.y + dy, b.x + dx, b.y + dy, colour, 1);
        if (--ry == 0 || --rx == 0) break;
    }
}
