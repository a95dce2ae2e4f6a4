// GuiScreen circles: outlines that grow inward with their width, filled
// discs, and discs with an outline ring in another colour. Each public call
// clips with the viewport walk and draws a piece with the clipped variants,
// or with the fast ones when nothing of the circle is cut.
#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_circle_trace.h"
#include "gui/widgets/shapes/gui_shape_coords.h"

using gui_shapes::CircleTrace;
using gui_shapes::Fits16;
using gui_shapes::Holds;
using gui_shapes::TraceCircle;

namespace {

// Centre and radius within the 16-bit geometry: then every traced
// coordinate fits an int.
bool CircleFits(int xc, int yc, int r) { return Fits16(xc) && Fits16(yc) && r >= 0 && r <= INT16_MAX; }

// An outline wider than the radius would run past the centre and out of the
// circle's square: at most r + 1 (the ring then reaches the centre), and a
// negative width counts as none.
int RingWidth(int r, int width) { return std::clamp(width, 0, r + 1); }

// The filled-circle decision shared by the clipped and the fast variant.
template <class Disc, class Ring>
void DrawCircle(int r, const GuiColor& colour, int width, Disc&& disc, Ring&& ring)
{
    width = RingWidth(r, width);
    if (colour.flags & GUI_COLOR_FILL) {
        if (width != 0 && colour.foreground != colour.background) {
            disc(r, colour.foreground);
            if (r - width >= 1) disc(r - width, colour.background);
        } else {
            disc(r, colour.background);
        }
    } else {
        ring(r, colour.foreground, width);
    }
}

// Calls plot (x, y) for every pixel of an inward ring: from each traced
// point width pixels toward the centre along the octant's axis.
template <class Plot>
void ForEachRingPixel(int xc, int yc, int r, int width, Plot&& plot)
{
    if (width < 1) return;
    TraceCircle(r, CircleTrace::Outline, [&](int a, int b) {
        for (int k = 0; k < width; ++k) plot(xc + a, yc + b - k);
        for (int k = 0; k < width; ++k) plot(xc + a, yc - b + k);
        for (int k = 0; k < width; ++k) plot(xc - a, yc - b + k);
        for (int k = 0; k < width; ++k) plot(xc - a, yc + b - k);
        for (int k = 0; k < width; ++k) plot(xc + b - k, yc + a);
        for (int k = 0; k < width; ++k) plot(xc + b - k, yc - a);
        for (int k = 0; k < width; ++k) plot(xc - b + k, yc - a);
        for (int k = 0; k < width; ++k) plot(xc - b + k, yc + a);
    });
}

// Calls span (x1, x2, y) for the four rows of every second traced step.
template <class Span>
void ForEachDiscSpan(int xc, int yc, int r, Span&& span)
{
    TraceCircle(r, CircleTrace::Fill, [&](int a, int b) {
        span(xc - a, xc + a, yc + b);
        span(xc - a, xc + a, yc - b);
        span(xc - b, xc + b, yc + a);
        span(xc - b, xc + b, yc - a);
    });
}

}  // namespace

void GuiScreen::Circle(GuiThing* thing, int xc, int yc, int r, GuiColor& colour, int width)
{
    if (!thing || r < 1 || !CircleFits(xc, yc, r)) return;
    const long long left = (long long)xc - r, top = (long long)yc - r;
    const long long right = (long long)xc + r, bottom = (long long)yc + r;
    ForEachPiece(thing, gui_shapes::SaturatedRect(left, top, right, bottom), [&](GuiRect& view) {
        if (Holds(view, left, top, right, bottom))
            CircleFast(xc, yc, r, colour, width);
        else
            Circle(view, xc, yc, r, colour, width);
    });
}

void GuiScreen::Circle(const GuiRect& view, int xc, int yc, int r, GuiColor& colour, int width)
{
    if (!CircleFits(xc, yc, r)) return;
    DrawCircle(
        r, colour, width, [&](int rr, uint32_t c) { FillCircle(view, xc, yc, rr, c); },
        [&](int rr, uint32_t c, int w) { OutlineCircle(view, xc, yc, rr, c, w); });
}

void GuiScreen::CircleFast(int xc, int yc, int r, GuiColor& colour, int width)
{
    if (!CircleFits(xc, yc, r)) return;
    DrawCircle(
        r, colour, width, [&](int rr, uint32_t c) { FillCircleFast(xc, yc, rr, c); },
        [&](int rr, uint32_t c, int w) { OutlineCircleFast(xc, yc, rr, c, w); });
}

void GuiScreen::FillCircle(const GuiRect& viewIn, int xc, int yc, int r, unsigned long colour)
{
    if (!CircleFits(xc, yc, r)) return;
    const GuiRect view = viewIn & TargetRect();
    if (view.IsEmpty()) return;
    ForEachDiscSpan(xc, yc, r, [&](int x1, int x2, int y) {
        if (y < view.top || y > view.bottom) return;
        x1 = std::max(x1, int(view.left));
        x2 = std::min(x2, int(view.right));
        if (x1 <= x2) HorizontalLine(x1, x2, y, colour, 1);
    });
}

void GuiScreen::FillCircleFast(int xc, int yc, int r, unsigned long colour)
{
    if (!CircleFits(xc, yc, r)) return;
    ForEachDiscSpan(xc, yc, r, [&](int x1, int x2, int y) { HorizontalLine(x1, x2, y, colour, 1); });
}

void GuiScreen::OutlineCircle(const GuiRect& viewIn, int xc, int yc, int r, unsigned long colour, int width)
{
    if (!CircleFits(xc, yc, r)) return;
    const GuiRect view = viewIn & TargetRect();
    if (view.IsEmpty()) return;
    const uint32_t c = uint32_t(colour);
    ForEachRingPixel(xc, yc, r, RingWidth(r, width), [&](int x, int y) {
        if (view.Contains(x, y)) mppRows[y][x] = c;
    });
}

void GuiScreen::OutlineCircleFast(int xc, int yc, int r, unsigned long colour, int width)
{
    if (!CircleFits(xc, yc, r)) return;
    // Unchecked writes are only sound when the whole square is on the
    // target; otherwise this is the clipped ring.
    const GuiRect target = TargetRect();
    if (!Holds(target, (long long)xc - r, (long long)yc - r, (long long)xc + r, (long long)yc + r)) {
        OutlineCircle(target, xc, yc, r, colour, width);
        return;
    }
    const uint32_t c = uint32_t(colour);
    ForEachRingPixel(xc, yc, r, RingWidth(r, width), [&](int x, int y) { mppRows[y][x] = c; });
}
