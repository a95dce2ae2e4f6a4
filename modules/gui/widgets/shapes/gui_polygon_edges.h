// The edge lists of the scan-line polygon filler: every non-horizontal side
// of a closed polygon becomes an edge that is stepped from row to row with
// an integer error term, and each row is filled even-odd between pairs of
// edges.
#pragma once

#include <cstdint>

#include "gui/core/gui_types.h"

// One non-horizontal side. On the k-th row below its top (k = 0 .. dy - 1)
// its x is exactly x_top + ceil(k * dx / dy).
struct GuiPolygonEdge {
    GuiPolygonEdge* next;
    int32_t x;          // x on the current row
    int32_t top;        // the row the edge starts on
    int32_t step;       // whole x step per row
    int32_t sign;       // +1 for dx > 0, else -1
    int32_t error;
    int32_t errorStep;
    int32_t dy;         // rows covered: from the upper end inclusive to the lower end exclusive
    int32_t remaining;  // rows still to cover

    // (x, y) the upper end point, dy > 0.
    void Set(int x, int y, int dx, int dy);
    // To the next row.
    void Step();
};

// The pending edges (sorted by top, then x) and the active edges of the
// current row (sorted by x). Edges are made for one fill and freed with it.
class GuiPolygonEdgeList {
public:
    GuiPolygonEdgeList() = default;
    GuiPolygonEdgeList(const GuiPolygonEdgeList&) = delete;
    GuiPolygonEdgeList& operator=(const GuiPolygonEdgeList&) = delete;
    ~GuiPolygonEdgeList() { delete[] mpEdges; }

    // Edges of the polygon closed from the last point back to the first;
    // false (and nothing to scan) when the edges cannot be allocated.
    bool Build(const GuiPoint* points, int count);
    // True once every edge has passed its last row.
    bool Done() const { return !mpPending && !mpActive; }
    int Row() const { return miRow; }
    // Moves the edges that start on the current row into the active list.
    void EnterRow();
    // Calls span (x of the left edge, x of the right edge) for each pair of
    // active edges; the pixels x_left .. x_right - 1 are inside.
    template <class Span>
    void ForEachPair(Span&& span) const {
        for (const GuiPolygonEdge* e = mpActive; e && e->next; e = e->next->next) span(e->x, e->next->x);
    }
    // Retires finished edges, steps the others, keeps the active list in x
    // order and moves to the next row.
    void Advance();

private:
    GuiPolygonEdge* mpEdges = nullptr;    // the one allocation all edges live in
    GuiPolygonEdge* mpPending = nullptr;
    GuiPolygonEdge* mpActive = nullptr;
    int miRow = 0;
};
