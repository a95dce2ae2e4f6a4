// GuiScreen ellipses inscribed in a rectangle: rings that grow inward with
// the width, and a fill of the inside from a table of row spans.
#include <algorithm>
#include <cstdint>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_ellipse_trace.h"
#include "gui/widgets/shapes/gui_span_table.h"

using gui_shapes::EllipseTrace;
using gui_shapes::TraceEllipse;

void GuiScreen::Ellipse(GuiThing* thing, const GuiRect& rect, GuiColor colour, int width)
{
    if (!thing) return;
    const GuiRect whole = rect;
    ForEachPiece(thing, whole, [&](GuiRect& view) {
        if (view.Contains(whole))
            EllipseFast(whole, colour, width);
        else
            EllipseToView(whole, colour, width, view);
    });
}

void GuiScreen::EllipseFast(const GuiRect& rect, GuiColor& colour, int width)
{
    // The clipped variant skips its pixel tests when its view holds the
    // whole rectangle; the target as view also keeps a rectangle that is
    // not on it from being written unchecked.
    EllipseToView(rect, colour, width, TargetRect());
}

void GuiScreen::EllipseToView(const GuiRect& rect, GuiColor& colour, int width, GuiRect view)
{
    view &= TargetRect();
    if (view.IsEmpty()) return;
    int ry = (rect.bottom - rect.top) >> 1, rx = (rect.right - rect.left) >> 1;
    if (ry < 2 || rx < 2) return;
    const int cx = (rect.left + rect.right) >> 1, cy = (rect.top + rect.bottom) >> 1;
    // A negative width counts as none: it would grow the fill past the rectangle.
    width = std::max(width, 0);

    const bool whole = view.Contains(rect);
    const uint32_t fg = colour.foreground;
    auto plot = [&](int x, int y) {
        if (whole || view.Contains(x, y)) mppRows[y][x] = fg;
    };
    for (int ring = 0; ring < width; ++ring) {
        TraceEllipse(rx, ry, EllipseTrace::Ring, [&](int a, int b) {
            plot(cx + a, cy + b);
            plot(cx + a, cy - b);
            plot(cx - a, cy - b);
            plot(cx - a, cy + b);
        });
        // Rings down to nothing leave nothing to fill.
        if (--ry == 0 || --rx == 0) return;
    }
    if (!(colour.flags & GUI_COLOR_FILL)) return;

    // The ring loop above ends before the fill unless width < min(rx, ry),
    // so the inner rectangle cannot collapse or wrap.
    GuiRect inner = rect;
    inner -= width;
    view &= inner;
    if (view.IsEmpty()) return;
    mpSpanTable = new (std::nothrow) int32_t[size_t(inner.Height()) * 2];
    if (!mpSpanTable) return;   // out of memory: the rings stay, the fill is left out
    PlotEllipsePoints(inner);
    for (int y = view.top; y <= view.bottom; ++y) {
        const int32_t* pair = mpSpanTable + size_t(y - inner.top) * 2;
        const int x1 = std::max<int32_t>(pair[0], view.left);
        const int x2 = std::min<int32_t>(pair[1], view.right);
        if (x1 <= x2) HorizontalLine(x1, x2, y, colour.background, 1);
    }
    ReleaseSpanTable();
}

void GuiScreen::PlotEllipsePoints(GuiRect& rect)
{
    // The table holds one (leftmost, rightmost) pair per row of rect.
    if (!mpSpanTable || rect.IsEmpty()) return;
    const int h = rect.bottom - rect.top;
    for (int row = 0; row <= h; ++row) gui_shapes::SpanClear(mpSpanTable + 2 * row);
    const int q = h >> 1, p = (rect.right - rect.left) >> 1;
    if (q <= 1 || p <= 1) return;
    const int cx = (rect.left + rect.right) >> 1, cy = (rect.top + rect.bottom) >> 1;
    const int odd = h & 1;   // an even number of rows: the lower half one row further down
    // Spans stay inside rect: very flat ellipses trace past its sides.
    auto widen = [&](int y, int a) {
        if (y < rect.top || y > rect.bottom) return;
        int32_t* pair = mpSpanTable + size_t(y - rect.top) * 2;
        pair[0] = std::min<int32_t>(pair[0], std::max(cx - a, int(rect.left)));
        pair[1] = std::max<int32_t>(pair[1], std::min(cx + a, int(rect.right)));
    };
    TraceEllipse(p, q, EllipseTrace::Fill, [&](int a, int b) {
        widen(cy - b, a);
        widen(cy + odd + b, a);
    });
}
