// Conversion of decoded rows to the output format: nearest palette colour,
// Floyd-Steinberg dithering, transparency, and the whole-bitmap passes.
#include "gui/image/gui_image_convert.h"

#include <climits>
#include <cstring>
#include <new>

int GuiImageConvert::LookupBestColor(const GuiPixel& p) {
    if (mSysPalette == nullptr) return 0;
    int count = mSysCount < 256 ? mSysCount : 256;  // 650 and 1600 are depth selectors
    int best = mFirstIndex;
    long long bestDist = LLONG_MAX;
    for (int i = mFirstIndex; i < count; i++) {
        const uint8_t* e = mSysPalette + 3 * i;
        long long dr = p.red - e[0], dg = p.green - e[1], db = p.blue - e[2];
        long long d = mGray ? 77 * dr * dr + 150 * dg * dg + 37 * db * db : dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    if (mDithering && best < count) {
        const uint8_t* e = mSysPalette + 3 * best;
        mLast = GuiPixel(e[0], e[1], e[2]);
    }
    return best;
}

bool GuiImageConvert::IsTransparent(const uint8_t* src, int x, const GuiPixel& p) {
    if (mMode & GUI_IMG_TRANS_RGB) return mSourceAlpha ? p.alpha < 128 : p == mTrans;
    if (mMode & GUI_IMG_TRANS_INDEX) return (GetRaw(src, x) & 0xFF) == uint32_t(mTrans.red);
    return false;
}

void GuiImageConvert::RemapBitmapRow(const uint8_t* src, uint8_t* dst, int width) {
    bool trans = HasTransparency();
    for (int x = 0; x < width; x++) {
        GuiPixel p = ReadPixel(src, x);
        if (trans && IsTransparent(src, x, p)) (this->*mTransWriter)(dst, x, p);
        else WritePixel(dst, x, p);
    }
}

int GuiImageConvert::InitDither(int width) {
    EndDither();
    if (width <= 0) return 0;
    for (auto& row : mErr) {
        row = new (std::nothrow) int32_t[size_t(width) + 2]();
        if (row == nullptr) {
            EndDither();
            return 0;
        }
    }
    mErrWidth = width;
    mLeftToRight = true;
    mDithering = true;
    SetOutputStride(width);
    return 1;
}

void GuiImageConvert::EndDither() {
    for (auto& row : mErr) {
        delete[] row;
        row = nullptr;
    }
    mErrWidth = 0;
    mDithering = false;
}

// One row of serpentine Floyd-Steinberg: errors (scaled by 1024) go 7/16 to
// the next pixel and 3/16, 5/16, 1/16 to the row below.
void GuiImageConvert::DitherBitmapRow(const uint8_t* src, uint8_t* dst, int width) {
    if (!mDithering || width > mErrWidth) {
        RemapBitmapRow(src, dst, width);
        return;
    }
    int32_t* cur[3] = {mErr[0], mErr[1], mErr[2]};
    int32_t* nxt[3] = {mErr[3], mErr[4], mErr[5]};
    int dir = mLeftToRight ? 1 : -1;
    bool trans = HasTransparency();
    for (int i = 0; i < width; i++) {
        int x = mLeftToRight ? i : width - 1 - i;
        int c = x + 1;  // error cells are offset by one for the borders
        GuiPixel p = ReadPixel(src, x);
        if (trans && IsTransparent(src, x, p)) {
            (this->*mTransWriter)(dst, x, p);
            continue;
        }
        if (mGray) {
            int32_t g = ((77 * p.red) >> 8) + ((150 * p.green) >> 8) + ((37 * p.blue) >> 8);
            p.red = p.green = p.blue = g;
        }
        int32_t want[3] = {p.red, p.green, p.blue};
        for (int k = 0; k < 3; k++) {
            want[k] += cur[k][c] / 1024;
            want[k] = want[k] < 0 ? 0 : want[k] > 255 ? 255 : want[k];
        }
        GuiPixel w(want[0], want[1], want[2]);
        w.alpha = p.alpha;
        mLast = w;
        WritePixel(dst, x, w);
        int32_t got[3] = {mLast.red, mLast.green, mLast.blue};
        for (int k = 0; k < 3; k++) {
            int32_t e = (want[k] - got[k]) * 1024;
            if (e > -401 && e < 401) {
                cur[k][c + dir] = 0;
                nxt[k][c - dir] = 0;
                nxt[k][c] = 0;
                nxt[k][c + dir] = 0;
            } else {
                cur[k][c + dir] += (e * 7) >> 4;
                nxt[k][c - dir] += (e * 3) >> 4;
                nxt[k][c] += (e * 5) >> 4;
                nxt[k][c + dir] += e >> 4;
            }
        }
    }
    // The next row becomes current; the old current row is cleared for reuse.
    for (int k = 0; k < 3; k++) {
        std::memset(mErr[k], 0, sizeof(int32_t) * size_t(mErrWidth + 2));
        int32_t* t = mErr[k];
        mErr[k] = mErr[k + 3];
        mErr[k + 3] = t;
    }
    mLeftToRight = !mLeftToRight;
}

void GuiImageConvert::EndRemapping(GuiBitmap* bitmap) {
    if (bitmap == nullptr) return;
    bool lowTrans = HasTransparency() && mOutputDepth < 8;
    if (HasTransparency()) {
        bitmap->flags |= GUI_BMP_TRANSPARENT;
        if (mOutputDepth < 8 || (mOutputDepth == 8 && mSysPalette)) bitmap->transparentColor = 255;
        else if (mOutputDepth == 8)
            bitmap->transparentColor = uint32_t((mTrans.red & 0xE0) | ((mTrans.green >> 3) & 0x1C) | ((mTrans.blue >> 6) & 3));
        else bitmap->transparentColor = 1;
    } else {
        bitmap->transparentColor = 0;
    }
    if (mGray) bitmap->flags |= GUI_BMP_GRAY;
    if (mMode & GUI_IMG_RGB_ORDER) bitmap->flags |= GUI_BMP_RGB;
    if (OutputAlpha() && mOutputDepth >= 16) bitmap->flags |= GUI_BMP_ALPHA;
    else bitmap->flags &= uint8_t(~GUI_BMP_ALPHA);
    // Transparent low-depth output holds one byte per pixel.
    bitmap->bitsPerPixel = uint8_t(lowTrans ? 8 : mOutputDepth);
}

void GuiImageConvert::EndAllRemapping() {
    bool lowTrans = HasTransparency() && mOutputDepth < 8;
    bool alpha = OutputAlpha() && mOutputDepth >= 16;
    SetInternalBitsPix(lowTrans ? 8 : mOutputDepth, alpha ? 1 : 0);
}

// Converts bitmap n row by row into a new pixel buffer of the output format.
int GuiImageConvert::ConvertBitmap(unsigned int n, bool dither) {
    if (n >= mCount) return 0;
    GuiBitmap* b = mList[n].bitmap;
    if (b == nullptr || b->data == nullptr || (b->flags & GUI_BMP_RLE)) return 0;
    int width = b->width, height = b->height;
    SetInputStride(width);
    if (uint64_t(mInStride) * uint64_t(height) > mList[n].size) return 0;  // not in the internal format
    uint32_t saveMode = mMode;
    mMode &= ~GUI_IMG_RESIZE;  // the bitmap keeps its size
    SetOutputColorDepth(mOutputDepth);
    SetOutputStride(width);
    uint64_t size = uint64_t(mOutStride) * uint64_t(height);
    auto* out = size <= 0xFFFFFFFFu ? new (std::nothrow) uint8_t[size ? size : 1]() : nullptr;
    int ok = out != nullptr;
    if (ok && dither) ok = InitDither(width);
    if (ok) {
        for (int y = 0; y < height; y++) {
            const uint8_t* src = b->data + size_t(y) * size_t(mInStride);
            uint8_t* dst = out + size_t(y) * size_t(mOutStride);
            if (dither) DitherBitmapRow(src, dst, width);
            else RemapBitmapRow(src, dst, width);
        }
        delete[] b->data;
        b->data = out;
        mList[n].size = uint32_t(size);
        EndRemapping(b);
    } else {
        delete[] out;
    }
    if (dither) EndDither();
    mMode = saveMode;
    return ok;
}

int GuiImageConvert::RemapOneBitmap(unsigned int n) { return ConvertBitmap(n, false); }
int GuiImageConvert::DitherOneBitmap(unsigned int n) { return ConvertBitmap(n, true); }

int GuiImageConvert::RemapBitmap() {
    for (unsigned i = 0; i < mCount; i++) {
        bool sameFormat = mInternalDepth == mOutputDepth &&
                          (mOutputDepth == 1 || mOutputDepth == 16 || (mOutputDepth == 24 && (mMode & GUI_IMG_RGB_ORDER))) &&
                          mSourceAlpha == OutputAlpha() && !HasTransparency();
        if (sameFormat) EndRemapping(mList[i].bitmap);
        else if (!RemapOneBitmap(i)) return 0;
    }
    EndAllRemapping();
    return 1;
}

int GuiImageConvert::DitherBitmap() {
    if ((mOutputDepth < 16 && mSysPalette == nullptr) || mOutputDepth > 16) return 0;
    for (unsigned i = 0; i < mCount; i++) {
        if (!DitherOneBitmap(i)) return 0;
    }
    EndAllRemapping();
    return 1;
}
