// L24logi: horizontal, vertical, dotted XOR and general lines.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "gui/draw/l24logi.h"

namespace {

// Writes n words of c with the C library's own fills, which pick the
// widest stores of the processor they run on when the program starts: a
// colour of four equal bytes is a memset, any other a wmemset (wchar_t is a
// 32-bit word here). A loop of ours is compiled for the baseline processor
// and fell well behind them on hosts with wider stores.
static_assert(sizeof(wchar_t) == sizeof(uint32_t), "a pixel is one wchar_t");
void fillWords(uint32_t* p, size_t n, uint32_t c)
{
    if ((c & 0xFFu) * 0x01010101u == c)
        std::memset(p, int(c & 0xFFu), n * sizeof *p);
    else
        std::wmemset(reinterpret_cast<wchar_t*>(p), wchar_t(c), n);
}

// Fills columns x1..x2 of rows y1..y2, cut to the target t.
void fillClipped(uint32_t* const* rows, const GuiRect& t, int x1, int y1, int x2, int y2, uint32_t c)
{
    x1 = std::max(x1, int(t.left));
    x2 = std::min(x2, int(t.right));
    y1 = std::max(y1, int(t.top));
    y2 = std::min(y2, int(t.bottom));
    if (x2 < x1) return;
    for (int row = y1; row <= y2; ++row) fillWords(rows[row] + x1, size_t(x2 - x1 + 1), c);
}

}  // namespace

void L24logi::HorizontalLine(int x1, int x2, int y, unsigned long colour, int width)
{
    if (x2 < x1 || width < 1) return;
    fillClipped(mppRows, TargetRect(), x1, y, x2, y + width - 1, uint32_t(colour));
}

void L24logi::VerticalLine(int y1, int y2, int x, unsigned long colour, int width)
{
    if (y1 > y2 || width < 1) return;
    fillClipped(mppRows, TargetRect(), x, y1, x + width - 1, y2, uint32_t(colour));
}

// Dotted: every second pixel from the first coordinate on is inverted.
void L24logi::HorizontalLineXOR(int x1, int x2, int y)
{
    const GuiRect t = TargetRect();
    if (x1 > x2 || y < t.top || y > t.bottom) return;
    for (int x = x1; x <= x2; x += 2)
        if (x >= t.left && x <= t.right) mppRows[y][x] ^= 0xFFFFFFu;
}

void L24logi::VerticalLineXOR(int y1, int y2, int x)
{
    const GuiRect t = TargetRect();
    if (y1 > y2 || x < t.left || x > t.right) return;
    for (int y = y1; y <= y2; y += 2)
        if (y >= t.top && y <= t.bottom) mppRows[y][x] ^= 0xFFFFFFu;
}

void L24logi::LineView(int x1, int y1, int x2, int y2, GuiRect& clip, GuiColor colour, int width)
{
    const uint32_t c = colour.foreground;
    GuiRect box = clip & TargetRect();
    if (box.IsEmpty()) return;
    // Straight lines stay inside the piece they were clipped to.
    if (y1 == y2) {
        HorizontalLine(box.left, box.right, box.top, c, std::min(width, box.bottom - box.top + 1));
        return;
    }
    if (x1 == x2) {
        VerticalLine(box.top, box.bottom, box.left, c, std::min(width, box.right - box.left + 1));
        return;
    }
    const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    const bool xMajor = dy <= dx;
    // Run of `width` pixels across the major axis.
    const int lo = -(width / 2), hi = width / 2;
    // Unchecked writes only when both ends and their runs are inside the box.
    // Compared as ints: end points beyond 16 bits must not wrap into a
    // rectangle that seems to fit.
    const bool fast = std::min(x1, x2) - hi >= box.left && std::max(x1, x2) + hi <= box.right &&
                      std::min(y1, y2) - hi >= box.top && std::max(y1, y2) + hi <= box.bottom;
    auto plot = [&](int x, int y) {
        for (int k = lo; k <= hi; ++k) {
            int px = xMajor ? x : x + k;
            int py = xMajor ? y + k : y;
            if (fast || box.Contains(px, py)) mppRows[py][px] = c;
        }
    };
    if (xMajor) {
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int step = y2 > y1 ? 1 : -1;
        int err = dx / 2;
        for (int xa = x1, ya = y1, xb = x2, yb = y2; xa <= xb; ++xa, --xb) {
            plot(xa, ya);
            if (xb != xa) plot(xb, yb);   // the ends meet on one column: once
            err += dy;
            if (err >= dx) {
                err -= dx;
                ya += step;
                yb -= step;
            }
        }
    } else {
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int step = x2 > x1 ? 1 : -1;
        int err = dy / 2;
        for (int ya = y1, xa = x1, yb = y2, xb = x2; ya <= yb; ++ya, --yb) {
            plot(xa, ya);
            if (yb != ya) plot(xb, yb);
            err += dx;
            if (err >= dy) {
                err -= dy;
                xa += step;
                xb -= step;
            }
        }
    }
}
