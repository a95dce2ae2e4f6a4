// The row span table of the ellipse, arc, chord and pie primitives: one
// (leftmost x, rightmost x) pair of int32 per row, and the first and last
// row that the arc and cutting walks recorded.
#pragma once

#include <cstdint>

namespace gui_shapes {

// A row that no point has reached, or that a cut removed: any recorded x
// narrows it, and it is empty because leftmost > rightmost.
constexpr int32_t kSpanNoLeft = INT32_MAX;
constexpr int32_t kSpanNoRight = INT32_MIN;

inline bool SpanEmpty(const int32_t* pair) { return pair[0] > pair[1]; }
inline void SpanClear(int32_t* pair)
{
    pair[0] = kSpanNoLeft;
    pair[1] = kSpanNoRight;
}
inline void SpanWiden(int32_t* pair, int x)
{
    if (x < pair[0]) pair[0] = x;
    if (x > pair[1]) pair[1] = x;
}

}  // namespace gui_shapes

// First and last row recorded since the last reset. Shared by every screen
// and by the arc, chord and pie primitives, which therefore never overlap
// (they all run on the GUI task).
extern int32_t minrow;
extern int32_t maxrow;
