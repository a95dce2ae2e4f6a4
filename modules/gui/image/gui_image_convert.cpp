// Image converter: input buffer, settings, strides, the list of produced
// bitmaps, messages and the row buffers.
#include "gui/image/gui_image_convert.h"

#include <cstdio>
#include <cstring>
#include <new>

GuiImageConvert::GuiImageConvert(uint32_t identifier) : mIdentifier(identifier) {
    mLocalPalette = new (std::nothrow) uint8_t[768]();
    if (mLocalPalette == nullptr) mLocalCapacity = 0;
    SetInternalBitsPix(8, 0);
    SetOutputColorDepth(8);
}

GuiImageConvert::~GuiImageConvert() {
    DropUncountedBitmaps();
    EndDither();
    delete[] mLocalPalette;
    delete[] mInlineBuf;
    delete[] mResizeBuf;
    delete[] mList;
}

// ---- input ---------------------------------------------------------------------------
void GuiImageConvert::SetInputBuffer(const uint8_t* data, uint32_t length) {
    mInStart = mInPos = data;
    mInLength = data ? length : 0;
}

uint32_t GuiImageConvert::ConsumeImageInput(uint8_t* destination, uint32_t n) {
    if (mInStart == nullptr || mInLength == 0) return 0;
    uint32_t left = mInLength - uint32_t(mInPos - mInStart);
    if (n > left) n = left;
    if (n && destination) std::memcpy(destination, mInPos, n);
    mInPos += n;
    return n;
}

// ---- settings ----------------------------------------------------------------------------
void GuiImageConvert::SetSystemPalette(const uint8_t* palette, int count, int) {
    mSysPalette = palette;
    mSysCount = count;
    int depth;
    switch (count) {
    case 2: depth = 1; break;
    case 4: depth = 2; break;
    case 16: depth = 4; break;
    case 650: depth = 16; break;   // selector, not a palette size
    case 1600: depth = 24; break;  // selector, not a palette size
    default: depth = 8; break;
    }
    SetOutputColorDepth(depth);
}

void GuiImageConvert::SetTransColor(int index) {
    mTrans = GuiPixel(index & 0xFF, 0, 0);
    mMode = (mMode | GUI_IMG_TRANS_INDEX) & ~GUI_IMG_TRANS_RGB;
    if (mOutputDepth < 8) SetOutputColorDepth(mOutputDepth);
}

void GuiImageConvert::SetTransColor(const GuiPixel& colour) {
    mTrans = colour;
    mMode = (mMode | GUI_IMG_TRANS_RGB) & ~GUI_IMG_TRANS_INDEX;
    if (mOutputDepth < 8) SetOutputColorDepth(mOutputDepth);
}

// ---- state and messages ---------------------------------------------------------------------
void GuiImageConvert::SendState(uint32_t bits) {
    mState |= bits;
    if (mIdle) mIdle(mIdentifier & 0xFFFF, mState & 0xFFFF, this);
}

void GuiImageConvert::pm_error(const char* text) {
    pm_message(text);
    SendState(GUI_IMG_STATE_ERROR);
}

void GuiImageConvert::pm_message(const char* text) {
    std::snprintf(mMessage, sizeof mMessage, "%s", text ? text : "");
}

// ---- bitmap list ---------------------------------------------------------------------------------
GuiBitmap* GuiImageConvert::GetBitmapPointer(unsigned int n) const { return n < mCount ? mList[n].bitmap : nullptr; }

uint32_t GuiImageConvert::GetDataSize(unsigned int n) const { return n < mCount ? mList[n].size : 0; }

void GuiImageConvert::DestroyImages() {
    for (unsigned i = 0; i < mListSize; i++) {
        if (mList[i].bitmap) {
            delete[] mList[i].bitmap->data;
            delete mList[i].bitmap;
        }
    }
    delete[] mList;
    mList = nullptr;
    mListSize = mCount = 0;
}

void GuiImageConvert::DropUncountedBitmaps() {
    while (mListSize > mCount) {
        Entry& e = mList[--mListSize];
        if (e.bitmap) {
            delete[] e.bitmap->data;
            delete e.bitmap;
        }
        e.bitmap = nullptr;
    }
}

GuiBitmap* GuiImageConvert::AddNewBitmapToList(uint32_t size) {
    auto* pixels = new (std::nothrow) uint8_t[size ? size : 1]();
    auto* bitmap = new (std::nothrow) GuiBitmap{};
    auto* list = new (std::nothrow) Entry[mListSize + 1];
    if (pixels == nullptr || bitmap == nullptr || list == nullptr) {
        delete[] pixels;
        delete bitmap;
        delete[] list;
        return nullptr;
    }
    for (unsigned i = 0; i < mListSize; i++) list[i] = mList[i];
    delete[] mList;
    mList = list;
    bitmap->flags = mGray ? GUI_BMP_GRAY : 0;
    bitmap->bitsPerPixel = uint8_t(mInternalDepth);
    bitmap->data = pixels;
    mList[mListSize++] = Entry{bitmap, size};
    return bitmap;
}

// ---- geometry --------------------------------------------------------------------------------------
int GuiImageConvert::GetStride(int width, int depth, int alpha) {
    switch (depth) {
    case 1: return (width + 7) / 8;
    case 2: return (width + 3) / 4;
    case 4: return (width + 1) / 2;
    case 8: return alpha ? 2 * width : width;    // index and alpha bytes
    case 16: return alpha ? 4 * width : 2 * width;  // word, 0, alpha
    case 24: return alpha ? 4 * width : 3 * width;
    case 32: return 4 * width;
    default: return width;
    }
}

int GuiImageConvert::GetStride(const GuiBitmap* bitmap) {
    return GetStride(bitmap->width, bitmap->bitsPerPixel, (bitmap->flags & GUI_BMP_ALPHA) ? 1 : 0);
}

void GuiImageConvert::SetInputStride(int width) { mInStride = GetStride(width, mInternalDepth, mSourceAlpha ? 1 : 0); }

void GuiImageConvert::SetOutputStride(int width) {
    if (mMode & GUI_IMG_RESIZE) width = mTargetWidth;
    if (HasTransparency() && mOutputDepth < 8) mOutStride = width;
    else if (OutputAlpha() && mOutputDepth >= 16) mOutStride = 4 * width;
    else mOutStride = GetStride(width, mOutputDepth, 0);
}

int GuiImageConvert::GetImageType(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return 0;
    if (data[0] == 'B') return 1;
    if (data[0] == 'G') return 2;
    if (length > 1 && data[1] == 'P') return 4;
    if ((length > 6 && data[6] == 'J') || (length > 2 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)) return 3;
    return 0;
}

GuiPixel GuiImageConvert::GetPixelColor(const uint8_t* data, int x, int y) {
    if (data == nullptr || x < 0 || y < 0) return GuiPixel();
    return ReadPixel(data + size_t(y) * size_t(mInStride), x);
}

GuiPixel GuiImageConvert::GetULCColor() {
    GuiBitmap* b = GetBitmapPointer(0);
    if (b == nullptr || b->data == nullptr || (b->flags & GUI_BMP_RLE)) return GuiPixel();
    return ReadPixel(b->data, 0);
}

// ---- row buffers -----------------------------------------------------------------------------------
int GuiImageConvert::SetupInlineBuf(int width) {
    delete[] mInlineBuf;
    mInlineBuf = width > 0 ? new (std::nothrow) uint8_t[size_t(width) * 4]() : nullptr;
    return mInlineBuf != nullptr;
}

int GuiImageConvert::SetupInlineResizeBuf() {
    delete[] mResizeBuf;
    mResizeBuf = mTargetWidth > 0 ? new (std::nothrow) uint8_t[size_t(mTargetWidth) * 4]() : nullptr;
    return mResizeBuf != nullptr;
}

// Nearest-pixel horizontal scaling of the decoded row into the resize buffer
// (Bresenham stepping over the source).
void GuiImageConvert::ResizeBitmapRow(int sourceWidth) {
    if (mInlineBuf == nullptr || mResizeBuf == nullptr || sourceWidth <= 0 || mTargetWidth <= 0) return;
    int err = 2 * sourceWidth - mTargetWidth;
    int sx = 0;
    for (int tx = 0; tx < mTargetWidth; tx++) {
        SetRaw(mResizeBuf, tx, GetRaw(mInlineBuf, sx < sourceWidth ? sx : sourceWidth - 1));
        while (err >= 0) {
            err -= 2 * mTargetWidth;
            sx++;
        }
        err += 2 * sourceWidth;
    }
}
