// PNG reader: building the bitmap from the decoded rows, with or without
// conversion to the converter's output format.
#include "gui/image/gui_png.h"

#include "gui/image/gui_png_state.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Sample n of a packed row of `depth`-bit samples (depth 1, 2, 4, 8, 16).
inline uint32_t Sample(const uint8_t* raw, uint32_t n, int depth) {
    switch (depth) {
    case 16: return uint32_t(raw[2 * n]) << 8 | raw[2 * n + 1];
    case 8: return raw[n];
    default: {
        uint32_t bit = n * uint32_t(depth);
        return (raw[bit >> 3] >> (8 - depth - (bit & 7))) & ((1u << depth) - 1);
    }
    }
}

// Palette and gray rows of up to 8 bits through a table of finished pixels
// indexed by the sample value: 4-byte words, or 3 bytes of red, green, blue.
// Three-byte pixels are stored as words too, each overlapping the next
// pixel's first byte, except the last, so nothing past the row is touched.
template <uint32_t Unit>
void ExpandByTable(const uint8_t* raw, uint8_t* dst, uint32_t pixels, int depth, const uint32_t* table) {
    if (pixels == 0) return;
    const uint32_t bulk = Unit == 4 ? pixels : pixels - 1;
    if (depth == 8) {
        for (uint32_t x = 0; x < bulk; x++) std::memcpy(dst + Unit * x, &table[raw[x]], 4);
    } else {
        for (uint32_t x = 0; x < bulk; x++) std::memcpy(dst + Unit * x, &table[Sample(raw, x, depth)], 4);
    }
    if (Unit == 3) {
        uint32_t v = table[Sample(raw, pixels - 1, depth)];
        uint8_t* d = dst + 3 * size_t(pixels - 1);
        d[0] = uint8_t(v);
        d[1] = uint8_t(v >> 8);
        d[2] = uint8_t(v >> 16);
    }
}

}  // namespace

// Decoded PNG row to the internal format: packed and 8-bit rows as they are,
// 16-bit samples by their high byte.
void GuiPngConvert::ConvertRawToGui(const uint8_t* raw, uint8_t* dst, uint32_t pixels) {
    ReadState* r = mRead;
    if (r->bitDepth == 16) {
        uint32_t samples = pixels * r->channels;
        for (uint32_t i = 0; i < samples; i++) dst[i] = raw[2 * i];
    } else {
        std::memcpy(dst, raw, (uint64_t(r->pixelDepth) * pixels + 7) / 8);
    }
}

// Palette and gray pictures are drawn from true colour (the bitmap does not
// carry the file's palette); pictures with alpha become 0xRRGGBBAA words.
// Only plain colour rows are stored as they are; a colour picture with a
// transparent colour (tRNS) gets alpha like palette and gray pictures, so
// that colour is left out when drawn.
bool GuiPngConvert::ExpandsToRgb() const { return mRead->colorType != 2 || ExpandedAlpha(); }

bool GuiPngConvert::ExpandedAlpha() const {
    const ReadState* r = mRead;
    if (!mKeepAlpha) return false;
    return r->colorType == 4 || r->colorType == 6 || (r->colorType == 3 && r->transCount > 0) ||
           ((r->colorType == 0 || r->colorType == 2) && r->transSeen);
}

bool GuiPngConvert::ExpandsByTable() const {
    const ReadState* r = mRead;
    return r->colorType == 3 || (r->colorType == 0 && r->bitDepth <= 8);
}

// The finished pixel of every sample value of a palette or gray picture:
// its palette colour (the gray levels are the palette of gray pictures)
// and its alpha from the tRNS chunk.
void GuiPngConvert::BuildExpandTable(bool alpha) {
    ReadState* r = mRead;
    const uint32_t values = 1u << r->bitDepth;
    for (uint32_t v = 0; v < 256; v++) {
        const uint8_t* c = mLocalPalette + 3 * size_t(v < values ? v : 0);
        uint32_t a = 255;
        if (r->colorType == 3 && int(v) < r->transCount) a = r->paletteAlpha[v];
        if (r->colorType == 0 && r->transSeen && v == r->transparentGray) a = 0;
        r->expandTable[v] = alpha ? uint32_t(c[0]) << 24 | uint32_t(c[1]) << 16 | uint32_t(c[2]) << 8 | a
                                  : uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16;
    }
}

// Expands a row to red, green, blue bytes, or with alpha to native words
// 0xRRGGBBAA. raw is the row as decoded (for exact tRNS matches), internal
// the same in the internal format.
void GuiPngConvert::ExpandRow(const uint8_t* raw, const uint8_t* internal, uint8_t* dst, uint32_t pixels,
                              bool alpha) {
    ReadState* r = mRead;
    if (r->colorType == 6 && alpha) {
        // The common case of pictures with alpha: bytes r, g, b, a to words.
        for (uint32_t x = 0; x < pixels; x++) {
            const uint8_t* s = internal + 4 * size_t(x);
            uint32_t w = uint32_t(s[0]) << 24 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 8 | s[3];
            std::memcpy(dst + 4 * size_t(x), &w, 4);
        }
        return;
    }
    if (ExpandsByTable()) {
        if (alpha) ExpandByTable<4>(raw, dst, pixels, r->bitDepth, r->expandTable);
        else ExpandByTable<3>(raw, dst, pixels, r->bitDepth, r->expandTable);
        return;
    }
    if (r->colorType == 4) {
        // Gray and alpha, by the high byte of 16-bit samples.
        for (uint32_t x = 0; x < pixels; x++) {
            uint32_t g = internal[2 * size_t(x)], a = internal[2 * size_t(x) + 1];
            uint8_t* d = dst + size_t(x) * (alpha ? 4 : 3);
            if (alpha) {
                uint32_t w = g << 24 | g << 16 | g << 8 | a;
                std::memcpy(d, &w, 4);
            } else {
                d[0] = d[1] = d[2] = uint8_t(g);
            }
        }
        return;
    }
    int unit = alpha ? 4 : 3;
    for (uint32_t x = 0; x < pixels; x++) {
        GuiPixel p = ReadPixel(internal, int(x));
        uint8_t a = 255;
        if (r->colorType == 3) {
            uint32_t index = GetRaw(internal, int(x)) & 0xFF;
            if (int(index) < r->transCount) a = r->paletteAlpha[index];
        } else if (r->colorType == 0) {
            if (r->transSeen && Sample(raw, x, r->bitDepth) == r->transparentGray) a = 0;
        } else if (r->colorType == 2) {
            // Compared at the file's depth: 16-bit samples in full.
            if (r->transSeen && Sample(raw, 3 * x, r->bitDepth) == r->transparentRgb[0] &&
                Sample(raw, 3 * x + 1, r->bitDepth) == r->transparentRgb[1] &&
                Sample(raw, 3 * x + 2, r->bitDepth) == r->transparentRgb[2])
                a = 0;
        } else if (r->colorType == 4 || r->colorType == 6) {
            a = p.alpha;
        }
        uint8_t* d = dst + size_t(x) * size_t(unit);
        if (alpha) {
            uint32_t w = uint32_t(p.red) << 24 | uint32_t(p.green) << 16 | uint32_t(p.blue) << 8 | a;
            std::memcpy(d, &w, 4);
        } else {
            d[0] = uint8_t(p.red);
            d[1] = uint8_t(p.green);
            d[2] = uint8_t(p.blue);
        }
    }
}

int GuiPngConvert::ReadPngData() {
    ReadState* r = mRead;
    const bool convert = (mMode & GUI_IMG_CONVERT) != 0;
    if (r->interlace && convert) {
        pm_error("Unsupported Image Type");
        return 0;
    }
    SetOutputColorDepth(mOutputDepth);  // picks up mode and alpha settings
    SetInputStride(int(r->width));
    SetOutputStride(int(r->width));

    const bool expand = !convert && ExpandsToRgb();
    const bool alphaOut = expand ? ExpandedAlpha() : mSourceAlpha && mKeepAlpha;
    const bool byTable = expand && ExpandsByTable();
    if (byTable) BuildExpandTable(alphaOut);
    uint32_t stride = convert ? uint32_t(mOutStride) : expand ? r->width * (alphaOut ? 4u : 3u) : uint32_t(mInStride);
    uint64_t size = uint64_t(stride) * r->height;

    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[size_t(r->rowBytes) + 8]);
    std::unique_ptr<uint8_t[]> passRow(new (std::nothrow) uint8_t[size_t(r->width) * 4 + 8]);
    GuiBitmap* bitmap = nullptr;
    if (raw && passRow && SetupInlineBuf(int(r->width)) && size <= kMaxBitmapBytes)
        bitmap = AddNewBitmapToList(uint32_t(size));
    if (bitmap == nullptr) {
        pm_error("Out Of Memory");
        return 0;
    }
    if (convert && (mMode & GUI_IMG_DITHER) && !InitDither(int(r->width))) return 0;

    bitmap->width = uint16_t(r->width);
    bitmap->height = uint16_t(r->height);
    bitmap->flags = mGray ? GUI_BMP_GRAY : 0;
    bitmap->transparentColor = 0;

    int ok = 1;
    if (!r->interlace) {
        for (uint32_t y = 0; y < r->height && ok; y++) {
            uint8_t* row = bitmap->data + size_t(y) * stride;
            if (!ReadRow(raw.get())) {
                ok = 0;
                break;
            }
            if (convert) {
                ConvertRawToGui(raw.get(), mInlineBuf, r->width);
                if (mMode & GUI_IMG_DITHER) DitherBitmapRow(mInlineBuf, row, int(r->width));
                else RemapBitmapRow(mInlineBuf, row, int(r->width));
            } else if (expand) {
                if (!byTable) ConvertRawToGui(raw.get(), mInlineBuf, r->width);
                ExpandRow(raw.get(), mInlineBuf, row, r->width, alphaOut);
            } else {
                ConvertRawToGui(raw.get(), row, r->width);
            }
        }
    } else {
        // Each pass row is brought to the bitmap's pixel format and its
        // pixels put in place; every pixel belongs to exactly one pass.
        const uint32_t unit = expand ? (alphaOut ? 4u : 3u) : uint32_t(mInStride) / r->width;
        ReadStartRow();
        for (int pass = 0; pass < 7 && ok; pass++) {
            uint32_t pixels = PngPassPixels(r->width, pass);
            uint32_t rows = PngPassRows(r->height, pass);
            if (pixels == 0 || rows == 0) continue;
            for (uint32_t i = 0; i < rows; i++) {
                if (r->pass != pass || !ReadRow(raw.get())) {
                    ok = 0;
                    break;
                }
                if (expand) {
                    if (!byTable) ConvertRawToGui(raw.get(), mInlineBuf, pixels);
                    ExpandRow(raw.get(), mInlineBuf, passRow.get(), pixels, alphaOut);
                } else {
                    ConvertRawToGui(raw.get(), passRow.get(), pixels);
                }
                uint32_t y = kPngPassStartRow[pass] + i * kPngPassRowStep[pass];
                uint8_t* row = bitmap->data + size_t(y) * stride;
                for (uint32_t k = 0; k < pixels; k++) {
                    uint32_t x = kPngPassStartCol[pass] + k * kPngPassColStep[pass];
                    std::memcpy(row + size_t(x) * unit, passRow.get() + size_t(k) * unit, unit);
                }
            }
        }
    }
    if (!ok) {
        if (convert) EndDither();
        return 0;
    }

    if (convert) {
        EndDither();
        EndRemapping(bitmap);
        EndAllRemapping();
    } else {
        bitmap->bitsPerPixel = alphaOut ? 32 : 24;
        if (alphaOut) bitmap->flags |= GUI_BMP_ALPHA;
        if (expand) SetInternalBitsPix(alphaOut ? 32 : 24, alphaOut ? 1 : 0);  // so the bitmap reads back
    }
    return 1;
}

// Decodes and scales the picture to the target size (nearest pixel in both
// directions), converting each row to the output format.
int GuiPngConvert::ReadPngDataToSize() {
    ReadState* r = mRead;
    if (r->interlace) {
        pm_error("Unsupported Image Type");
        return 0;
    }
    // Bitmap sides are 16-bit; checked before any stride is computed.
    uint32_t tw = uint32_t(mTargetWidth), th = uint32_t(mTargetHeight);
    if (tw > 0xFFFF || th > 0xFFFF) return 0;
    SetOutputColorDepth(mOutputDepth);
    SetInputStride(int(r->width));
    SetOutputStride(int(r->width));  // the target width
    uint64_t size = uint64_t(mOutStride) * th;

    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[size_t(r->rowBytes) + 8]);
    GuiBitmap* bitmap = nullptr;
    if (raw && SetupInlineBuf(int(r->width)) && SetupInlineResizeBuf() && size <= kMaxBitmapBytes)
        bitmap = AddNewBitmapToList(uint32_t(size));
    if (bitmap == nullptr) {
        pm_error("Out Of Memory");
        return 0;
    }
    if ((mMode & GUI_IMG_DITHER) && !InitDither(int(tw))) return 0;
    bitmap->width = uint16_t(tw);
    bitmap->height = uint16_t(th);
    bitmap->flags = mGray ? GUI_BMP_GRAY : 0;

    int ok = 1;
    uint32_t ty = 0;
    for (uint32_t y = 0; y < r->height; y++) {
        if (!ReadRow(raw.get())) {
            ok = 0;
            break;
        }
        // Target rows whose nearest source row is y.
        uint32_t end = uint32_t((uint64_t(y + 1) * th + r->height - 1) / r->height);
        if (ty >= end) continue;
        ConvertRawToGui(raw.get(), mInlineBuf, r->width);
        ResizeBitmapRow(int(r->width));
        for (; ty < end && ty < th; ty++) {
            uint8_t* row = bitmap->data + size_t(ty) * size_t(mOutStride);
            if (mMode & GUI_IMG_DITHER) DitherBitmapRow(mResizeBuf, row, int(tw));
            else RemapBitmapRow(mResizeBuf, row, int(tw));
        }
    }
    EndDither();
    if (!ok) return 0;
    EndRemapping(bitmap);
    EndAllRemapping();
    return 1;
}
