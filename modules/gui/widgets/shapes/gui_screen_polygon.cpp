// GuiScreen polygons: outlined, filled with a solid colour, or filled with
// the tiled fill pattern, clipped to every viewport of the caller.
#include <algorithm>
#include <new>

#include "gui/core/gui_thing.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_polygon_edges.h"

namespace {

// Runs the scan-line fill over the rows of view and calls span (from, to,
// y) for each non-empty piece of a span inside view.
template <class Span>
void ScanInView(const GuiRect& view, const GuiPoint* points, int count, Span&& span)
{
    GuiPolygonEdgeList edges;
    if (!edges.Build(points, count)) return;   // out of memory: nothing of this view
    // Rows above the view are stepped, not drawn; below it nothing is left to draw.
    for (; !edges.Done() && edges.Row() <= view.bottom; edges.Advance()) {
        edges.EnterRow();
        const int y = edges.Row();
        if (y < view.top) continue;
        edges.ForEachPair([&](int left, int right) {
            const int from = std::max(left, int(view.left));
            const int to = std::min(right - 1, int(view.right));
            if (from <= to) span(from, to, y);
        });
    }
}

}  // namespace

// Kept, not copied: the bitmap must outlive the pattern fills drawn with it.
void GuiScreen::SetFillPattern(GuiBitmap* pattern) { mpFillPattern = pattern; }

void GuiScreen::Polygon(GuiThing* thing, GuiPoint* points, int count, const GuiColor& colour, int width)
{
    if (!thing || !points || count < 1) return;
    if (!mbDrawingBitmap && !(thing->mStatus & GS_VISIBLE)) return;

    // The outline closes back to the first point through an appended copy.
    GuiPoint* closed = nullptr;
    if (!(points[count - 1] == points[0])) {
        closed = new (std::nothrow) GuiPoint[size_t(count) + 1];
        if (!closed) return;
        std::copy(points, points + count, closed);
        closed[count] = points[0];
        points = closed;
        ++count;
    }

    int left = miWidth, top = miHeight, right = 0, bottom = 0;
    for (int i = 0; i < count; ++i) {
        left = std::min(left, int(points[i].x));
        right = std::max(right, int(points[i].x));
        top = std::min(top, int(points[i].y));
        bottom = std::max(bottom, int(points[i].y));
    }
    GuiRect box(left, top, right, bottom);

    bool outline = true;
    if (colour.flags & GUI_COLOR_FILL) {
        FillPolygon(thing, box, points, count, colour.background);
        outline = colour.foreground != colour.background && width != 0;
    } else if (colour.flags & GUI_COLOR_PATTERN) {
        PatternFillPolygon(thing, box, points, count, colour.background);
        outline = width != 0;
    }
    if (outline)
        for (int i = 0; i + 1 < count; ++i)
            Line(thing, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y, colour, width);
    delete[] closed;
}

void GuiScreen::FillPolygon(GuiThing* thing, GuiRect& rect, GuiPoint* points, int count, unsigned long colour)
{
    if (!ClipToTarget(thing, rect)) return;
    ForEachPiece(thing, rect, [&](GuiRect& view) { FillPolygonView(view, points, count, colour); });
}

void GuiScreen::FillPolygonView(const GuiRect& view, GuiPoint* points, int count, unsigned long colour)
{
    ScanInView(view, points, count, [&](int from, int to, int y) { HorizontalLine(from, to, y, colour, 1); });
}

void GuiScreen::PatternFillPolygon(GuiThing* thing, GuiRect& rect, GuiPoint* points, int count, unsigned long)
{
    if (!mpFillPattern || !mpFillPattern->width || !mpFillPattern->height) return;
    if (!ClipToTarget(thing, rect)) return;
    ForEachPiece(thing, rect, [&](GuiRect& view) { PatternFillPolygonView(view, points, count); });
}

void GuiScreen::PatternFillPolygonView(const GuiRect& view, GuiPoint* points, int count)
{
    // Without a pattern, or with an empty one, there are no tiles to lay.
    const GuiBitmap* pattern = mpFillPattern;
    if (!pattern || !pattern->width || !pattern->height) return;
    const int w = pattern->width, h = pattern->height;
    // Tiles are aligned on the view's top-left corner; row y of a span shows
    // pattern row y - ty.
    ScanInView(view, points, count, [&](int from, int to, int y) {
        const int ty = view.top + (y - view.top) / h * h;
        for (int tx = view.left + (from - view.left) / w * w; tx <= to; tx += w)
            BitmapView(GuiPoint{int16_t(tx), int16_t(ty)}, pattern, GuiRect(std::max(from, tx), y, to, y));
    });
}
