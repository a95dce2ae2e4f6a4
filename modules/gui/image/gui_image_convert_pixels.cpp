// Pixel readers and writers of the image converter, one per depth and
// packing, chosen by SetInternalBitsPix and SetOutputColorDepth.
#include "gui/image/gui_image_convert.h"

#include <cstring>

namespace {

inline uint8_t Clamp8(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

// ---- raw getters: packed depths most significant bits first -----------------------
uint32_t GuiImageConvert::GetRawPix1(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
uint32_t GuiImageConvert::GetRawPix2(const uint8_t* row, int x) { return (row[x >> 2] >> (6 - 2 * (x & 3))) & 3; }
uint32_t GuiImageConvert::GetRawPix4(const uint8_t* row, int x) { return (row[x >> 1] >> (4 - 4 * (x & 1))) & 15; }
uint32_t GuiImageConvert::GetRawPix8(const uint8_t* row, int x) { return row[x]; }
uint32_t GuiImageConvert::GetRawPix8Alpha(const uint8_t* row, int x) {
    return row[2 * x] | uint32_t(row[2 * x + 1]) << 24;
}
uint32_t GuiImageConvert::GetRawPix16(const uint8_t* row, int x) { return row[2 * x] | uint32_t(row[2 * x + 1]) << 8; }
uint32_t GuiImageConvert::GetRawPix16Alpha(const uint8_t* row, int x) {
    const uint8_t* p = row + 4 * x;
    return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[3]) << 24;
}
uint32_t GuiImageConvert::GetRawPix24(const uint8_t* row, int x) {
    const uint8_t* p = row + 3 * x;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}
uint32_t GuiImageConvert::GetRawPix24Alpha(const uint8_t* row, int x) {
    const uint8_t* p = row + 4 * x;
    return (uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]) << 8 | p[3];
}

// 32 bits: native words 0xRRGGBBAA (alpha in the low byte), the screen
// driver's format of bitmaps with alpha.
uint32_t GuiImageConvert::GetRawPix32(const uint8_t* row, int x) {
    uint32_t w;
    std::memcpy(&w, row + 4 * x, 4);
    return w;
}

// ---- raw setters --------------------------------------------------------------------
void GuiImageConvert::WriteRaw1(uint8_t* row, int x, uint32_t v) {
    int shift = 7 - (x & 7);
    row[x >> 3] = uint8_t((row[x >> 3] & ~(1 << shift)) | (v & 1) << shift);
}
void GuiImageConvert::WriteRaw2(uint8_t* row, int x, uint32_t v) {
    int shift = 6 - 2 * (x & 3);
    row[x >> 2] = uint8_t((row[x >> 2] & ~(3 << shift)) | (v & 3) << shift);
}
void GuiImageConvert::WriteRaw4(uint8_t* row, int x, uint32_t v) {
    int shift = 4 - 4 * (x & 1);
    row[x >> 1] = uint8_t((row[x >> 1] & ~(15 << shift)) | (v & 15) << shift);
}
void GuiImageConvert::WriteRaw8(uint8_t* row, int x, uint32_t v) { row[x] = uint8_t(v); }
void GuiImageConvert::WriteRaw8Alpha(uint8_t* row, int x, uint32_t v) {
    row[2 * x] = uint8_t(v);
    row[2 * x + 1] = uint8_t(v >> 24);
}
void GuiImageConvert::WriteRaw16(uint8_t* row, int x, uint32_t v) {
    row[2 * x] = uint8_t(v);
    row[2 * x + 1] = uint8_t(v >> 8);
}
void GuiImageConvert::WriteRaw16Alpha(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 4 * x;
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = 0;
    p[3] = uint8_t(v >> 24);
}
void GuiImageConvert::WriteRaw24(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 3 * x;
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
void GuiImageConvert::WriteRaw24Alpha(uint8_t* row, int x, uint32_t v) {
    uint8_t* p = row + 4 * x;
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void GuiImageConvert::WriteRaw32(uint8_t* row, int x, uint32_t v) { std::memcpy(row + 4 * x, &v, 4); }

// ---- readers ------------------------------------------------------------------------------
GuiPixel GuiImageConvert::PaletteEntry(uint32_t index) {
    index &= 0xFF;  // the local palette always has room for 256 entries
    const uint8_t* e = mLocalPalette + 3 * index;
    return GuiPixel(e[0], e[1], e[2]);
}
GuiPixel GuiImageConvert::ReadPixel1To4(const uint8_t* row, int x) { return PaletteEntry(GetRaw(row, x)); }
GuiPixel GuiImageConvert::ReadPixel8(const uint8_t* row, int x) { return PaletteEntry(row[x]); }
GuiPixel GuiImageConvert::ReadPixel8Alpha(const uint8_t* row, int x) {
    GuiPixel p = PaletteEntry(row[2 * x]);
    p.alpha = row[2 * x + 1];
    return p;
}

// 16-bit pixels are read back in the layout the 16-bit writer in use makes
// (5-6-5 or 5-5-5, bytes swapped or not), so finished bitmaps keep their
// colours when converted again.
GuiPixel GuiImageConvert::Decode16(uint32_t v) {
    if (mMode & GUI_IMG_SWAP16) v = ((v & 0xFF) << 8) | (v >> 8);
    if (mMode & GUI_IMG_555) return GuiPixel(int32_t((v >> 7) & 0xF8), int32_t((v >> 2) & 0xF8), int32_t((v << 3) & 0xF8));
    return GuiPixel(int32_t((v >> 8) & 0xF8), int32_t((v >> 3) & 0xFC), int32_t((v << 3) & 0xF8));
}
GuiPixel GuiImageConvert::ReadPixel16(const uint8_t* row, int x) { return Decode16(GetRawPix16(row, x)); }
GuiPixel GuiImageConvert::ReadPixel16_Alpha(const uint8_t* row, int x) {
    uint32_t raw = GetRawPix16Alpha(row, x);
    GuiPixel p = Decode16(raw & 0xFFFF);
    p.alpha = uint8_t(raw >> 24);
    return p;
}
GuiPixel GuiImageConvert::ReadPixel24(const uint8_t* row, int x) {
    const uint8_t* p = row + 3 * x;
    return GuiPixel(p[0], p[1], p[2]);
}
GuiPixel GuiImageConvert::ReadPixel24Alpha(const uint8_t* row, int x) {
    const uint8_t* p = row + 4 * x;
    GuiPixel px(p[0], p[1], p[2]);
    px.alpha = p[3];
    return px;
}

GuiPixel GuiImageConvert::ReadPixel32(const uint8_t* row, int x) {
    uint32_t w = GetRawPix32(row, x);
    GuiPixel px(int32_t(w >> 24), int32_t((w >> 16) & 0xFF), int32_t((w >> 8) & 0xFF));
    px.alpha = uint8_t(w);
    return px;
}

// ---- writers -----------------------------------------------------------------------------
void GuiImageConvert::PackIndex(uint8_t* row, int x, int depth, uint32_t index) {
    if (depth == 1) WriteRaw1(row, x, index);
    else if (depth == 2) WriteRaw2(row, x, index);
    else WriteRaw4(row, x, index);
}
void GuiImageConvert::WritePixel1(uint8_t* row, int x, const GuiPixel& p) { PackIndex(row, x, 1, uint32_t(LookupBestColor(p))); }
void GuiImageConvert::WritePixel2(uint8_t* row, int x, const GuiPixel& p) { PackIndex(row, x, 2, uint32_t(LookupBestColor(p))); }
void GuiImageConvert::WritePixel4(uint8_t* row, int x, const GuiPixel& p) { PackIndex(row, x, 4, uint32_t(LookupBestColor(p))); }
void GuiImageConvert::WritePixel8(uint8_t* row, int x, const GuiPixel& p) { row[x] = uint8_t(LookupBestColor(p)); }

void GuiImageConvert::WritePixel8_332(uint8_t* row, int x, const GuiPixel& p) {
    uint8_t r = Clamp8(p.red), g = Clamp8(p.green), b = Clamp8(p.blue);
    row[x] = uint8_t((r & 0xE0) | ((g >> 3) & 0x1C) | ((b >> 6) & 3));
    mLast = GuiPixel(r & 0xE0, g & 0xE0, b & 0xC0);
}

uint16_t GuiImageConvert::Word16(const GuiPixel& p) {
    uint32_t r = Clamp8(p.red), g = Clamp8(p.green), b = Clamp8(p.blue);
    uint32_t v;
    if (mMode & GUI_IMG_555) {
        v = (r & 0xF8) << 7 | (g & 0xF8) << 2 | b >> 3;
        mLast = GuiPixel(int32_t(r & 0xF8), int32_t(g & 0xF8), int32_t(b & 0xF8));
    } else {
        v = (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3;
        mLast = GuiPixel(int32_t(r & 0xF8), int32_t(g & 0xFC), int32_t(b & 0xF8));
    }
    if (mMode & GUI_IMG_SWAP16) v = ((v & 0xFF) << 8) | (v >> 8);
    return uint16_t(v);
}
void GuiImageConvert::WritePixel16(uint8_t* row, int x, const GuiPixel& p) { WriteRaw16(row, x, Word16(p)); }
void GuiImageConvert::WritePixel16Alpha(uint8_t* row, int x, const GuiPixel& p) {
    WriteRaw16Alpha(row, x, Word16(p) | uint32_t(p.alpha) << 24);
}

void GuiImageConvert::WritePixel24_RGB(uint8_t* row, int x, const GuiPixel& p) {
    uint8_t* d = row + 3 * x;
    d[0] = Clamp8(p.red), d[1] = Clamp8(p.green), d[2] = Clamp8(p.blue);
    mLast = GuiPixel(d[0], d[1], d[2]);
}
void GuiImageConvert::WritePixel24_RGB_Alpha(uint8_t* row, int x, const GuiPixel& p) {
    uint8_t* d = row + 4 * x;
    d[0] = Clamp8(p.red), d[1] = Clamp8(p.green), d[2] = Clamp8(p.blue), d[3] = p.alpha;
    mLast = GuiPixel(d[0], d[1], d[2]);
}
void GuiImageConvert::WritePixel24_BGR(uint8_t* row, int x, const GuiPixel& p) {
    uint8_t* d = row + 3 * x;
    d[0] = Clamp8(p.blue), d[1] = Clamp8(p.green), d[2] = Clamp8(p.red);
    mLast = GuiPixel(d[2], d[1], d[0]);
}
void GuiImageConvert::WritePixel24_BGR_Alpha(uint8_t* row, int x, const GuiPixel& p) {
    uint8_t* d = row + 4 * x;
    d[0] = Clamp8(p.blue), d[1] = Clamp8(p.green), d[2] = Clamp8(p.red), d[3] = p.alpha;
    mLast = GuiPixel(d[2], d[1], d[0]);
}

// ---- transparent writers -------------------------------------------------------------------
void GuiImageConvert::WriteTrans1to4(uint8_t* row, int x, const GuiPixel&) { row[x] = 255; }
void GuiImageConvert::WriteTrans8(uint8_t* row, int x, const GuiPixel&) { row[x] = 255; }
void GuiImageConvert::WriteTrans8_332(uint8_t* row, int x, const GuiPixel&) {
    row[x] = uint8_t((mTrans.red & 0xE0) | ((mTrans.green >> 3) & 0x1C) | ((mTrans.blue >> 6) & 3));
}
void GuiImageConvert::WriteTrans16(uint8_t* row, int x, const GuiPixel&) {
    if (OutputAlpha()) WriteRaw16Alpha(row, x, 1);
    else WriteRaw16(row, x, 1);
}
void GuiImageConvert::WriteTrans24RGB(uint8_t* row, int x, const GuiPixel&) {
    uint8_t* d = row + (OutputAlpha() ? 4 : 3) * x;
    d[0] = 0, d[1] = 0, d[2] = 1;
    if (OutputAlpha()) d[3] = 0;
}
void GuiImageConvert::WriteTrans24BGR(uint8_t* row, int x, const GuiPixel&) {
    uint8_t* d = row + (OutputAlpha() ? 4 : 3) * x;
    d[0] = 1, d[1] = 0, d[2] = 0;
    if (OutputAlpha()) d[3] = 0;
}

// ---- selection -------------------------------------------------------------------------------
void GuiImageConvert::SetInternalBitsPix(int depth, int alpha) {
    mInternalDepth = depth;
    mSourceAlpha = alpha != 0 && (depth == 8 || depth == 16 || depth == 24 || depth == 32);
    if (mSourceAlpha) mMode |= GUI_IMG_SRC_ALPHA;
    else mMode &= ~GUI_IMG_SRC_ALPHA;
    switch (depth) {
    case 1: mGetRaw = &GuiImageConvert::GetRawPix1, mSetRaw = &GuiImageConvert::WriteRaw1, mReader = &GuiImageConvert::ReadPixel1To4; break;
    case 2: mGetRaw = &GuiImageConvert::GetRawPix2, mSetRaw = &GuiImageConvert::WriteRaw2, mReader = &GuiImageConvert::ReadPixel1To4; break;
    case 4: mGetRaw = &GuiImageConvert::GetRawPix4, mSetRaw = &GuiImageConvert::WriteRaw4, mReader = &GuiImageConvert::ReadPixel1To4; break;
    case 16:
        if (mSourceAlpha) mGetRaw = &GuiImageConvert::GetRawPix16Alpha, mSetRaw = &GuiImageConvert::WriteRaw16Alpha, mReader = &GuiImageConvert::ReadPixel16_Alpha;
        else mGetRaw = &GuiImageConvert::GetRawPix16, mSetRaw = &GuiImageConvert::WriteRaw16, mReader = &GuiImageConvert::ReadPixel16;
        break;
    case 24:
        if (mSourceAlpha) mGetRaw = &GuiImageConvert::GetRawPix24Alpha, mSetRaw = &GuiImageConvert::WriteRaw24Alpha, mReader = &GuiImageConvert::ReadPixel24Alpha;
        else mGetRaw = &GuiImageConvert::GetRawPix24, mSetRaw = &GuiImageConvert::WriteRaw24, mReader = &GuiImageConvert::ReadPixel24;
        break;
    case 32:
        mGetRaw = &GuiImageConvert::GetRawPix32, mSetRaw = &GuiImageConvert::WriteRaw32, mReader = &GuiImageConvert::ReadPixel32;
        break;
    default:
        mInternalDepth = 8;
        if (mSourceAlpha) mGetRaw = &GuiImageConvert::GetRawPix8Alpha, mSetRaw = &GuiImageConvert::WriteRaw8Alpha, mReader = &GuiImageConvert::ReadPixel8Alpha;
        else mGetRaw = &GuiImageConvert::GetRawPix8, mSetRaw = &GuiImageConvert::WriteRaw8, mReader = &GuiImageConvert::ReadPixel8;
        break;
    }
}

void GuiImageConvert::SetOutputColorDepth(int depth) {
    mOutputDepth = depth;
    if (depth >= 25) return;
    bool alpha = OutputAlpha();
    if (HasTransparency() && depth < 8) {
        // One byte per pixel, 255 marks transparent pixels.
        mWriter = &GuiImageConvert::WritePixel8;
        mTransWriter = &GuiImageConvert::WriteTrans1to4;
        return;
    }
    switch (depth) {
    case 1: mWriter = &GuiImageConvert::WritePixel1, mTransWriter = &GuiImageConvert::WriteTrans1to4; break;
    case 2: mWriter = &GuiImageConvert::WritePixel2, mTransWriter = &GuiImageConvert::WriteTrans1to4; break;
    case 4: mWriter = &GuiImageConvert::WritePixel4, mTransWriter = &GuiImageConvert::WriteTrans1to4; break;
    case 16:
        mWriter = alpha ? &GuiImageConvert::WritePixel16Alpha : &GuiImageConvert::WritePixel16;
        mTransWriter = &GuiImageConvert::WriteTrans16;
        break;
    case 24:
        if (mMode & GUI_IMG_RGB_ORDER) {
            mWriter = alpha ? &GuiImageConvert::WritePixel24_RGB_Alpha : &GuiImageConvert::WritePixel24_RGB;
            mTransWriter = &GuiImageConvert::WriteTrans24RGB;
        } else {
            mWriter = alpha ? &GuiImageConvert::WritePixel24_BGR_Alpha : &GuiImageConvert::WritePixel24_BGR;
            mTransWriter = &GuiImageConvert::WriteTrans24BGR;
        }
        break;
    default:
        mOutputDepth = 8;
        if (mSysPalette) mWriter = &GuiImageConvert::WritePixel8, mTransWriter = &GuiImageConvert::WriteTrans8;
        else mWriter = &GuiImageConvert::WritePixel8_332, mTransWriter = &GuiImageConvert::WriteTrans8_332;
        break;
    }
}
