// Coordinate helpers of the shape primitives. Screen geometry is 16 bits
// wide (GuiPoint, GuiRect); shapes are traced in int or wider, and their
// bounding boxes saturate rather than wrap when they reach past 16 bits.
#pragma once

#include <algorithm>
#include <cstdint>

#include "gui/core/gui_types.h"

namespace gui_shapes {

inline int16_t Saturate16(long long v)
{
    return int16_t(std::clamp<long long>(v, INT16_MIN, INT16_MAX));
}

inline GuiRect SaturatedRect(long long left, long long top, long long right, long long bottom)
{
    return GuiRect(Saturate16(left), Saturate16(top), Saturate16(right), Saturate16(bottom));
}

// True when a coordinate fits the GUI's 16-bit geometry.
inline bool Fits16(long long v) { return v >= INT16_MIN && v <= INT16_MAX; }

// True when r holds the whole box given in wide coordinates.
inline bool Holds(const GuiRect& r, long long left, long long top, long long right, long long bottom)
{
    return r.left <= left && right <= r.right && r.top <= top && bottom <= r.bottom;
}

}  // namespace gui_shapes
