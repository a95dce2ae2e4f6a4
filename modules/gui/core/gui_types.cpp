// Rectangle subtraction (GuiRect::operator^=).
#include "gui/core/gui_types.h"

namespace {

bool within(int v, int lo, int hi) { return lo <= v && v <= hi; }

}  // namespace

GuiRect& GuiRect::operator^=(const GuiRect& o)
{
    if (!Overlap(o)) return *this;
    const int w = right - left + 1;
    const int h = bottom - top + 1;
    if (left >= o.left && right <= o.right) {
        // A horizontal band of this rectangle is covered.
        if (top < o.top)
            bottom = int16_t(o.top - 1);
        else if (bottom > o.bottom)
            top = int16_t(o.bottom + 1);
        else
            top = int16_t(bottom + 1);
        return *this;
    }
    if (top >= o.top) {
        if (left < o.left)
            right = int16_t(o.left - 1);
        else if (right > o.right)
            left = int16_t(o.right + 1);
        else
            left = int16_t(right + 1);
        return *this;
    }
    // A corner or an edge strip is covered: keep the larger remaining strip.
    const bool leftIn = within(o.left, left, right);
    const bool rightIn = within(o.right, left, right);
    const bool topIn = within(o.top, top, bottom);
    const bool bottomIn = within(o.bottom, top, bottom);
    const long topStrip = long(o.top - top) * w;
    const long bottomStrip = long(bottom - o.bottom) * w;
    const long leftStrip = long(o.left - left) * h;
    const long rightStrip = long(right - o.right) * h;
    if (leftIn && topIn) {
        if (topStrip <= leftStrip)
            right = int16_t(o.left - 1);
        else
            bottom = int16_t(o.top - 1);
    } else if (rightIn && topIn) {
        if (topStrip <= rightStrip)
            left = int16_t(o.right + 1);
        else
            bottom = int16_t(o.top - 1);
    } else if (leftIn && bottomIn) {
        if (bottomStrip > leftStrip)
            top = int16_t(o.bottom + 1);
        else
            right = int16_t(o.left - 1);
    } else {
        if (bottomStrip > rightStrip)
            top = int16_t(o.bottom + 1);
        else
            left = int16_t(o.right + 1);
    }
    return *this;
}
