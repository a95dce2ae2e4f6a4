// Run-length coding and rotation of finished bitmaps.
//
// A coded row is a sequence of packets: a run (count n - 1, then one pixel)
// for 3 or more equal pixels, or literals (count (n - 1) | 0x80, then n
// pixels). Counts are one byte (runs and literals up to 128 pixels), or a
// little-endian 16-bit word for 16-bit output (runs up to 32000 pixels,
// literal flag 0x8000). Pixels are stored as in the bitmap, except that a
// pixel with alpha puts its alpha first (32-bit words as alpha, red, green,
// blue).
#include "gui/image/gui_image_convert.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

struct RleFormat {
    int unit;       // bytes of one pixel in the bitmap row
    bool wide;      // 16-bit counts
    bool alpha;     // 4-byte pixels carrying alpha in byte 3
    bool word;      // native 0xRRGGBBAA words
};

int CountDuplicates(const uint8_t* row, int pos, int n, int unit, int limit) {
    int k = 1;
    while (pos + k < n && k < limit && std::memcmp(row + pos * unit, row + (pos + k) * unit, size_t(unit)) == 0) k++;
    return k;
}

int PutCount(uint8_t* dst, int len, unsigned count, bool wide) {
    if (wide) {
        if (dst) dst[len] = uint8_t(count), dst[len + 1] = uint8_t(count >> 8);
        return len + 2;
    }
    if (dst) dst[len] = uint8_t(count);
    return len + 1;
}

int PutPixel(uint8_t* dst, int len, const uint8_t* px, const RleFormat& f) {
    if (dst) {
        if (f.word) {
            uint32_t w;
            std::memcpy(&w, px, 4);
            dst[len] = uint8_t(w), dst[len + 1] = uint8_t(w >> 24), dst[len + 2] = uint8_t(w >> 16), dst[len + 3] = uint8_t(w >> 8);
        } else if (f.alpha && f.unit == 4) {
            dst[len] = px[3];
            std::memcpy(dst + len + 1, px, 3);
        } else {
            std::memcpy(dst + len, px, size_t(f.unit));
        }
    }
    return len + f.unit;
}

int EncodeRow(const uint8_t* row, uint8_t* dst, int n, const RleFormat& f) {
    int len = 0;
    int runLimit = f.wide ? 32000 : 128;
    int i = 0;
    while (i < n) {
        int dup = CountDuplicates(row, i, n, f.unit, runLimit);
        if (dup >= 3) {
            len = PutCount(dst, len, unsigned(dup - 1), f.wide);
            len = PutPixel(dst, len, row + i * f.unit, f);
            i += dup;
            continue;
        }
        int j = i;
        while (j < n && j - i < 128 && CountDuplicates(row, j, n, f.unit, 3) < 3) j++;
        len = PutCount(dst, len, unsigned(j - i - 1) | (f.wide ? 0x8000u : 0x80u), f.wide);
        for (int k = i; k < j; k++) len = PutPixel(dst, len, row + k * f.unit, f);
        i = j;
    }
    return len;
}

// Pixel unit and count of units of one row of a bitmap in its own format.
RleFormat FormatOf(int depth, bool alpha) {
    if (depth == 16) return {alpha ? 4 : 2, true, alpha, false};
    if (depth == 24) return {alpha ? 4 : 3, false, alpha, false};
    if (depth == 32) return {4, false, true, true};
    return {1, false, false, false};
}

}  // namespace

int GuiImageConvert::RleEncode(const uint8_t* row, uint8_t* destination, int width) {
    if (row == nullptr || width <= 0) return 0;
    bool alpha = OutputAlpha() && mOutputDepth >= 16;
    RleFormat f = FormatOf(mOutputDepth, alpha);
    int units = mOutputDepth <= 8 ? GetStride(width, mOutputDepth, 0) : width;
    return EncodeRow(row, destination, units, f);
}

int GuiImageConvert::RleEncode(int force) {
    int coded = 0;
    for (unsigned n = 0; n < mCount; n++) {
        GuiBitmap* b = mList[n].bitmap;
        if (b == nullptr || b->data == nullptr || (b->flags & GUI_BMP_RLE)) continue;
        int width = b->width, height = b->height;
        if (b->flags & GUI_BMP_ROTATED) std::swap(width, height);
        bool alpha = (b->flags & GUI_BMP_ALPHA) != 0;
        int stride = GetStride(width, b->bitsPerPixel, alpha ? 1 : 0);
        if (uint64_t(stride) * uint64_t(height) > mList[n].size) continue;
        RleFormat f = FormatOf(b->bitsPerPixel, alpha);
        int units = b->bitsPerPixel <= 8 ? stride : width;
        uint64_t total = 0;
        for (int y = 0; y < height; y++) total += uint64_t(EncodeRow(b->data + size_t(y) * size_t(stride), nullptr, units, f));
        if ((total >= uint64_t(stride) * uint64_t(height) && !force) || total > 0xFFFFFFFFu) continue;
        auto* out = new (std::nothrow) uint8_t[total ? total : 1];
        if (out == nullptr) continue;
        uint8_t* p = out;
        for (int y = 0; y < height; y++) p += EncodeRow(b->data + size_t(y) * size_t(stride), p, units, f);
        delete[] b->data;
        b->data = out;
        b->flags |= GUI_BMP_RLE;
        mList[n].size = uint32_t(total);
        coded = 1;
    }
    return coded;
}

// Flips (rows reversed or row order reversed) and quarter turns of 8-, 16-
// and 24-bit bitmaps; other depths and coded bitmaps are left alone.
void GuiImageConvert::RotateImages(int angle, int flipHorizontal, int flipVertical) {
    if (angle != 0 && angle != 90 && angle != 270) return;
    for (unsigned n = 0; n < mCount; n++) {
        GuiBitmap* b = mList[n].bitmap;
        if (b == nullptr || b->data == nullptr || (b->flags & GUI_BMP_RLE)) continue;
        int depth = b->bitsPerPixel;
        if (depth != 8 && depth != 16 && depth != 24 && depth != 32) continue;
        int w = b->width, h = b->height;
        int stride = GetStride(b);
        if (w == 0 || h == 0 || uint64_t(stride) * uint64_t(h) > mList[n].size) continue;
        size_t unit = size_t(stride / w);
        uint8_t tmp[4];
        if (flipHorizontal) {
            for (int y = 0; y < h; y++) {
                uint8_t* row = b->data + size_t(y) * size_t(stride);
                for (int x = 0; x < w / 2; x++) {
                    std::memcpy(tmp, row + size_t(x) * unit, unit);
                    std::memcpy(row + size_t(x) * unit, row + size_t(w - 1 - x) * unit, unit);
                    std::memcpy(row + size_t(w - 1 - x) * unit, tmp, unit);
                }
            }
        }
        if (flipVertical) {
            for (int y = 0; y < h / 2; y++) {
                uint8_t* a = b->data + size_t(y) * size_t(stride);
                uint8_t* c = b->data + size_t(h - 1 - y) * size_t(stride);
                for (int i = 0; i < stride; i++) std::swap(a[i], c[i]);
            }
        }
        if (angle == 0) continue;
        auto* out = new (std::nothrow) uint8_t[size_t(stride) * size_t(h)];
        if (out == nullptr) continue;
        size_t outStride = size_t(h) * unit;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                // 90: clockwise, (x, y) -> (h - 1 - y, x); 270: (x, y) -> (y, w - 1 - x)
                int nx = angle == 90 ? h - 1 - y : y;
                int ny = angle == 90 ? x : w - 1 - x;
                std::memcpy(out + size_t(ny) * outStride + size_t(nx) * unit,
                            b->data + size_t(y) * size_t(stride) + size_t(x) * unit, unit);
            }
        }
        delete[] b->data;
        b->data = out;
        b->width = uint16_t(h);
        b->height = uint16_t(w);
    }
}
