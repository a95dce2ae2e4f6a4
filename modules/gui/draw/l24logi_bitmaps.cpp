// L24logi: bitmaps of every depth, plain and run-length coded, written as
// 0x00RRGGBB words.
//
// Run-length rows are sequences of packets: a count byte n below 0x80 is
// followed by one pixel repeated n + 1 times, a count byte of 0x80 or more
// by (n & 0x7F) + 1 literal pixels. A pixel is one palette index byte or four
// bytes (alpha, red, green, blue). Rows do not share packets.
#include <algorithm>

#include "gui/draw/l24logi.h"

namespace {

// Visible part of a bitmap at point inside clip, in screen coordinates.
GuiRect visiblePart(GuiPoint point, const GuiBitmap* b, const GuiRect& clip, const GuiRect& target)
{
    GuiRect r(point.x, point.y, point.x + b->width - 1, point.y + b->height - 1);
    r &= clip;
    r &= target;
    return r;
}

inline uint32_t blendByte(uint32_t oldV, uint32_t newV, uint32_t a)
{
    return ((256 - a) * oldV + a * newV) >> 8;
}

// Decodes one run-length row of `width` pixels of `bytes` bytes each,
// calling put (x, count, pixel bytes) for each run of equal pixels (a literal
// pixel is a run of one), cut at the row's width; returns the position after
// the row.
template <class Put>
const uint8_t* decodeRow(const uint8_t* p, int width, int bytes, Put&& put)
{
    int x = 0;
    while (x < width) {
        const uint8_t n = *p++;
        if (n < 0x80) {
            const int len = n + 1;
            put(x, std::min(len, width - x), p);
            p += bytes;
            x += len;
        } else {
            const int len = (n & 0x7F) + 1;
            for (int i = 0; i < len; ++i, p += bytes)
                if (x + i < width) put(x + i, 1, p);
            x += len;
        }
    }
    return p;
}

// Walks the run-length rows of b drawn at point: rows above r are decoded
// only to find the next row, rows below it are not read. For each run, the
// part inside r goes to fill (first destination word, count, pixel bytes).
template <class Fill>
void drawRleRows(uint32_t* const* rows, GuiPoint point, const GuiBitmap* b, const GuiRect& r, int bytes, Fill&& fill)
{
    const uint8_t* p = b->data;
    for (int row = 0; row < b->height; ++row) {
        const int y = point.y + row;
        if (y > r.bottom) break;
        if (y < r.top) {
            p = decodeRow(p, b->width, bytes, [](int, int, const uint8_t*) {});
            continue;
        }
        uint32_t* dst = rows[y];
        p = decodeRow(p, b->width, bytes, [&](int x, int len, const uint8_t* px) {
            const int from = std::max(point.x + x, int(r.left));
            const int to = std::min(point.x + x + len - 1, int(r.right));
            if (from <= to) fill(dst + from, to - from + 1, px);
        });
    }
}

}  // namespace

void L24logi::BitmapView(GuiPoint point, const GuiBitmap* b, const GuiRect& clip)
{
    if (!b || !b->data || !b->width || !b->height) return;
    if (b->flags & GUI_BMP_RLE) {
        if (b->bitsPerPixel == 8)
            DrawRlePaletteBitmap(point, b, clip);
        else
            DrawRleBitmap(point, b, clip);
        return;
    }
    if (b->bitsPerPixel < 24) {
        const GuiRect r = visiblePart(point, b, clip, TargetRect());
        if (r.IsEmpty()) return;
        const bool transparent = b->flags & GUI_BMP_TRANSPARENT;
        for (int y = r.top; y <= r.bottom; ++y) {
            const uint8_t* src = b->data + size_t(y - point.y) * b->width;
            uint32_t* dst = mppRows[y];
            for (int x = r.left; x <= r.right; ++x) {
                const uint8_t i = src[x - point.x];
                if (transparent && i == b->transparentColor) continue;
                dst[x] = PaletteColour(i);
            }
        }
        return;
    }
    if (b->flags & GUI_BMP_ALPHA)
        DrawTrueColorAlphaBitmap(point, b, clip);
    else
        DrawTrueColorBitmap(point, b, clip);
}

void L24logi::DrawTrueColorBitmap(GuiPoint point, const GuiBitmap* b, const GuiRect& clip)
{
    const GuiRect r = visiblePart(point, b, clip, TargetRect());
    if (r.IsEmpty()) return;
    const bool transparent = b->flags & GUI_BMP_TRANSPARENT;
    const int n = r.right - r.left + 1;
    for (int y = r.top; y <= r.bottom; ++y) {
        uint32_t* dst = mppRows[y] + r.left;
        const size_t first = size_t(y - point.y) * b->width + size_t(r.left - point.x);
        if (b->bitsPerPixel == 32) {
            const uint32_t* src = reinterpret_cast<const uint32_t*>(b->data) + first;
            if (transparent) {
                for (int i = 0; i < n; ++i)
                    if (src[i] != 1) dst[i] = src[i];
            } else {
                std::copy(src, src + n, dst);
            }
        } else {
            // Byte triples red, green, blue; with a transparent colour the
            // colour 0x000001 is left out as in 32-bit bitmaps.
            const uint8_t* src = b->data + 3 * first;
            for (int i = 0; i < n; ++i, src += 3) {
                const uint32_t c = uint32_t(src[0]) << 16 | uint32_t(src[1]) << 8 | src[2];
                if (!transparent || c != 1) dst[i] = c;
            }
        }
    }
}

void L24logi::DrawTrueColorAlphaBitmap(GuiPoint point, const GuiBitmap* b, const GuiRect& clip)
{
    if (b->bitsPerPixel != 32) {   // alpha needs the 4th byte
        DrawTrueColorBitmap(point, b, clip);
        return;
    }
    const GuiRect r = visiblePart(point, b, clip, TargetRect());
    if (r.IsEmpty()) return;
    const int n = r.right - r.left + 1;
    for (int y = r.top; y <= r.bottom; ++y) {
        uint32_t* dst = mppRows[y] + r.left;
        const uint32_t* src =
            reinterpret_cast<const uint32_t*>(b->data) + size_t(y - point.y) * b->width + size_t(r.left - point.x);
        for (int i = 0; i < n; ++i)
            if ((src[i] & 0xFF) >= 128) dst[i] = src[i] >> 8;
    }
}

void L24logi::DrawRlePaletteBitmap(GuiPoint point, const GuiBitmap* b, const GuiRect& clip)
{
    const GuiRect r = visiblePart(point, b, clip, TargetRect());
    if (r.IsEmpty()) return;
    const bool transparent = b->flags & GUI_BMP_TRANSPARENT;
    drawRleRows(mppRows, point, b, r, 1, [&](uint32_t* dst, int n, const uint8_t* px) {
        if (transparent && *px == 255) return;
        std::fill(dst, dst + n, PaletteColour(*px));
    });
}

void L24logi::DrawRleBitmap(GuiPoint point, const GuiBitmap* b, const GuiRect& clip)
{
    const GuiRect r = visiblePart(point, b, clip, TargetRect());
    if (r.IsEmpty()) return;
    const bool transparent = b->flags & GUI_BMP_TRANSPARENT;
    const bool alpha = b->flags & GUI_BMP_ALPHA;
    drawRleRows(mppRows, point, b, r, 4, [&](uint32_t* dst, int n, const uint8_t* px) {
        const uint32_t a = px[0], red = px[1], green = px[2], blue = px[3];
        if (transparent && red == 0 && green == 0 && blue == 1) return;
        for (int i = 0; i < n; ++i) {
            if (alpha) {
                const uint32_t old = dst[i];
                dst[i] = blendByte((old >> 16) & 0xFF, red, a) << 16 |
                         blendByte((old >> 8) & 0xFF, green, a) << 8 | blendByte(old & 0xFF, blue, a);
            } else {
                dst[i] = red << 16 | green << 8 | blue;
            }
        }
    });
}
