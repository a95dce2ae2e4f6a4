// Edge building and stepping of the scan-line polygon filler.
#include "gui/widgets/shapes/gui_polygon_edges.h"

#include <algorithm>
#include <new>

void GuiPolygonEdge::Set(int x0, int y0, int dx, int dyIn)
{
    next = nullptr;
    x = x0;
    top = y0;
    sign = dx > 0 ? 1 : -1;
    dy = remaining = dyIn;
    // Starting a falling edge at 1 - dy makes it round toward the right as
    // a rising one does: x_top + ceil(k * dx / dy) either way.
    error = dx < 0 ? 1 - dyIn : 0;
    const int adx = dx < 0 ? -dx : dx;
    if (adx > dyIn) {
        step = sign * (adx / dyIn);
        errorStep = adx % dyIn;
    } else {
        step = 0;
        errorStep = adx;
    }
}

void GuiPolygonEdge::Step()
{
    x += step;
    error += errorStep;
    if (error > 0) {
        x += sign;
        error -= dy;
    }
}

bool GuiPolygonEdgeList::Build(const GuiPoint* points, int count)
{
    delete[] mpEdges;
    mpEdges = nullptr;
    mpPending = mpActive = nullptr;
    if (!points || count < 1) return true;
    mpEdges = new (std::nothrow) GuiPolygonEdge[size_t(count)];
    if (!mpEdges) return false;
    int n = 0;
    // Sides (p[count-1], p[0]), (p[0], p[1]), ...: always closed.
    for (int i = 0; i < count; ++i) {
        GuiPoint a = points[i == 0 ? count - 1 : i - 1], b = points[i];
        if (a.y == b.y) continue;   // horizontal: covered by the rows of its neighbours
        if (a.y > b.y) std::swap(a, b);
        mpEdges[n++].Set(a.x, a.y, b.x - a.x, b.y - a.y);
    }
    if (n == 0) return true;
    std::sort(mpEdges, mpEdges + n, [](const GuiPolygonEdge& l, const GuiPolygonEdge& r) {
        return l.top != r.top ? l.top < r.top : l.x < r.x;
    });
    for (int i = 0; i + 1 < n; ++i) mpEdges[i].next = &mpEdges[i + 1];
    mpPending = mpEdges;
    miRow = mpPending->top;
    return true;
}

void GuiPolygonEdgeList::EnterRow()
{
    while (mpPending && mpPending->top == miRow) {
        GuiPolygonEdge* e = mpPending;
        mpPending = e->next;
        // In front of active edges with an equal x.
        GuiPolygonEdge** at = &mpActive;
        while (*at && (*at)->x < e->x) at = &(*at)->next;
        e->next = *at;
        *at = e;
    }
}

void GuiPolygonEdgeList::Advance()
{
    for (GuiPolygonEdge** at = &mpActive; *at;) {
        GuiPolygonEdge* e = *at;
        if (--e->remaining == 0) {
            *at = e->next;   // its lower end point is not part of it
            continue;
        }
        e->Step();
        at = &e->next;
    }
    // Edges that crossed change places; crossings are few per row, so
    // bubble passes finish quickly.
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (GuiPolygonEdge** at = &mpActive; *at && (*at)->next; at = &(*at)->next) {
            GuiPolygonEdge* a = *at;
            GuiPolygonEdge* b = a->next;
            if (a->x > b->x) {
                a->next = b->next;
                b->next = a;
                *at = b;
                swapped = true;
            }
        }
    }
    ++miRow;
}
