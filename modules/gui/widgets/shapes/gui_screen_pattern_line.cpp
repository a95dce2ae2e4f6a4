// GuiScreen dashed lines: a 32-bit on/off mask consumed one bit per pixel
// step along the major axis, continuing from call to call.
#include <algorithm>
#include <cstdlib>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_shape_coords.h"

using gui_shapes::Fits16;
using gui_shapes::SaturatedRect;

void GuiScreen::PatternLine(GuiThing* thing, int x1, int y1, int x2, int y2, GuiColor& colour, int width,
                            unsigned long pattern, int restart)
{
    if (restart) mulPatternLineBit = 1;   // the next step takes bit 31
    // Beyond the 16-bit geometry nothing can be seen, and stepping there
    // would only burn time.
    if (!Fits16(x1) || !Fits16(y1) || !Fits16(x2) || !Fits16(y2)) return;
    const long long w2 = width / 2;
    long long left = std::min(x1, x2), right = std::max(x1, x2);
    long long top = std::min(y1, y2), bottom = std::max(y1, y2);
    // The runs across the line stand on the axis the line does not follow:
    // vertical for a line at least as wide as high.
    if (right - left >= bottom - top) {
        top -= w2;
        bottom += w2;
    } else {
        left -= w2;
        right += w2;
    }
    // Any caller, visible or not; without one only into a bitmap, since on
    // the screen its clip rectangle is needed.
    ForEachPiece(
        thing, SaturatedRect(left, top, right, bottom),
        [&](GuiRect& view) { PatternLine(x1, y1, x2, y2, view, colour, width, pattern); }, WalkCaller::Any);
}

void GuiScreen::PatternLine(int x1, int y1, int x2, int y2, GuiRect& viewIn, const GuiColor& colour, int width,
                            unsigned long pattern)
{
    if (!Fits16(x1) || !Fits16(y1) || !Fits16(x2) || !Fits16(y2)) return;
    // Pixels go straight into the rows: never past the target.
    const GuiRect view = viewIn & TargetRect();
    const uint32_t c = colour.foreground;
    const int dx = x2 - x1, dy = y2 - y1;
    const int adx = std::abs(dx), ady = std::abs(dy);
    const int sx = dx > 0 ? 1 : dx < 0 ? -1 : 0, sy = dy > 0 ? 1 : dy < 0 ? -1 : 0;
    const int w2 = width / 2;
    auto advance = [&] {
        mulPatternLineBit = mulPatternLineBit == 1 ? 0x80000000u : mulPatternLineBit >> 1;
        return (pattern & mulPatternLineBit) != 0;
    };
    // A run of 2 * w2 + 1 pixels across the major axis at major coordinate m
    // and minor n, cut to the view.
    auto run = [&](bool xMajor, int m, int n) {
        if (view.IsEmpty()) return;
        const long long lo = (long long)n - w2, hi = (long long)n + w2;
        if (xMajor) {
            if (m < view.left || m > view.right) return;
            for (long long y = std::max<long long>(view.top, lo); y <= std::min<long long>(view.bottom, hi); ++y)
                mppRows[y][m] = c;
        } else {
            if (m < view.top || m > view.bottom) return;
            for (long long x = std::max<long long>(view.left, lo); x <= std::min<long long>(view.right, hi); ++x)
                mppRows[m][x] = c;
        }
    };
    // One bit per step along the major axis from m1 to m2 inclusive; the
    // minor coordinate follows the error term.
    auto walk = [&](bool xMajor, int m1, int n1, int m2, int am, int an, int sn) {
        const int step = m1 > m2 ? -1 : 1;
        int err = am / 2;
        for (int m = m1, n = n1; step > 0 ? m <= m2 : m >= m2; m += step) {
            const bool on = advance();
            if (err >= am) {
                err -= am;
                n += sn;
            }
            if (on) run(xMajor, m, n);
            err += an;
        }
    };
    if (adx >= ady)
        walk(true, x1, y1, x2, adx, ady, sy);
    else
        walk(false, y1, x1, y2, ady, adx, sx);
}
