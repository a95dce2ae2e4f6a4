// Format-independent half of turning an encoded picture into GuiBitmap
// records: input buffer, produced bitmaps, palettes, pixel readers and
// writers for every depth, conversion of decoded rows to the output depth
// (nearest palette colour or Floyd-Steinberg dithering), transparency,
// run-length coding and rotation. A decoder derives from it and supplies
// ReadImage. The produced bitmaps belong to the caller (DestroyImages or
// delete[] data + delete record); the converter only frees its list.
#pragma once

#include "gui/core/gui_types.h"

#include <cstdint>

struct GuiPixel {
    int32_t red = 0;
    int32_t green = 0;
    int32_t blue = 0;
    uint8_t alpha = 0;

    GuiPixel() = default;
    GuiPixel(int32_t r, int32_t g, int32_t b) : red(r), green(g), blue(b), alpha(0) {}
    bool operator==(const GuiPixel& o) const { return red == o.red && green == o.green && blue == o.blue; }
    bool operator!=(const GuiPixel& o) const { return !(*this == o); }
};

// Mode flags.
constexpr uint32_t GUI_IMG_DITHER = 0x01;
constexpr uint32_t GUI_IMG_REMAP = 0x02;
constexpr uint32_t GUI_IMG_RGB_ORDER = 0x04;     // 24-bit output red, green, blue (else blue, green, red)
constexpr uint32_t GUI_IMG_SRC_ALPHA = 0x08;
constexpr uint32_t GUI_IMG_TRANS_RGB = 0x10;
constexpr uint32_t GUI_IMG_TRANS_INDEX = 0x20;
constexpr uint32_t GUI_IMG_555 = 0x40;
constexpr uint32_t GUI_IMG_RESIZE = 0x80;
constexpr uint32_t GUI_IMG_SWAP16 = 0x100;
constexpr uint32_t GUI_IMG_CONVERT = GUI_IMG_DITHER | GUI_IMG_REMAP | GUI_IMG_RESIZE;

// Bitmap flags used by the converter beyond those of gui_types.h.
constexpr uint8_t GUI_BMP_ROTATED = 0x04;
constexpr uint8_t GUI_BMP_GRAY = 0x08;
constexpr uint8_t GUI_BMP_RGB = 0x40;

// State bits passed to the idle callback.
constexpr uint32_t GUI_IMG_STATE_ERROR = 0x04;

class GuiImageConvert;
using GuiImageIdleCallback = void (*)(uint32_t identifier, uint32_t state, GuiImageConvert* converter);

class GuiImageConvert {
public:
    explicit GuiImageConvert(uint32_t identifier);
    GuiImageConvert(const GuiImageConvert&) = delete;
    GuiImageConvert& operator=(const GuiImageConvert&) = delete;
    virtual ~GuiImageConvert();

    virtual int ReadImage(int arg) = 0;
    virtual int RemapBitmap();
    virtual int RemapOneBitmap(unsigned int n);
    virtual int DitherOneBitmap(unsigned int n);

    // ---- input ------------------------------------------------------------------
    void SetInputBuffer(const uint8_t* data, uint32_t length);
    uint32_t ConsumeImageInput(uint8_t* destination, uint32_t n);

    // ---- settings -----------------------------------------------------------------
    void SetSystemPalette(const uint8_t* palette, int count, int unused = 0);
    void SetOutputColorDepth(int depth);
    void SetInternalBitsPix(int depth, int alpha);
    void SetTransColor(int index);
    void SetTransColor(const GuiPixel& colour);
    void SetIdleCallback(GuiImageIdleCallback callback) { mIdle = callback; }
    void SetKeepAlpha(bool keep) { mKeepAlpha = keep; }
    void SetModeFlags(uint32_t flags) { mMode = flags; }
    uint32_t GetModeFlags() const { return mMode; }
    void SetTargetSize(int width, int height) { mTargetWidth = width, mTargetHeight = height; }
    int GetOutputDepth() const { return mOutputDepth; }
    int GetInternalDepth() const { return mInternalDepth; }
    bool HasTransparency() const { return (mMode & (GUI_IMG_TRANS_RGB | GUI_IMG_TRANS_INDEX)) != 0; }
    const GuiPixel& GetTransColor() const { return mTrans; }
    const uint8_t* GetLocalPalette(int* count) const {
        if (count) *count = mLocalCount;
        return mLocalPalette;
    }

    // ---- state and messages --------------------------------------------------------
    void SendState(uint32_t bits);
    void pm_error(const char* text);
    void pm_message(const char* text);
    uint32_t GetState() const { return mState; }
    const char* GetLastMessage() const { return mMessage; }

    // ---- produced bitmaps ------------------------------------------------------------
    GuiBitmap* GetBitmapPointer(unsigned int n) const;
    uint32_t GetDataSize(unsigned int n) const;
    unsigned int GetBitmapCount() const { return mCount; }
    void DestroyImages();

    // ---- geometry --------------------------------------------------------------------
    static int GetStride(int width, int depth, int alpha);
    static int GetStride(const GuiBitmap* bitmap);
    void SetInputStride(int width);
    void SetOutputStride(int width);
    int GetInputStride() const { return mInStride; }
    int GetOutputStride() const { return mOutStride; }

    static int GetImageType(const uint8_t* data, uint32_t length);
    GuiPixel GetPixelColor(const uint8_t* data, int x, int y);
    GuiPixel GetULCColor();

    // ---- conversion ---------------------------------------------------------------------
    int LookupBestColor(const GuiPixel& pixel);
    void RemapBitmapRow(const uint8_t* src, uint8_t* dst, int width);
    int InitDither(int width);
    void DitherBitmapRow(const uint8_t* src, uint8_t* dst, int width);
    void EndDither();
    void EndRemapping(GuiBitmap* bitmap);
    void EndAllRemapping();
    int DitherBitmap();
    int RleEncode(int force);
    int RleEncode(const uint8_t* row, uint8_t* destination, int width);
    void RotateImages(int angle, int flipHorizontal, int flipVertical);

    // Pixel access in the internal format (row pointer, pixel index).
    uint32_t GetRaw(const uint8_t* row, int x) { return (this->*mGetRaw)(row, x); }
    void SetRaw(uint8_t* row, int x, uint32_t v) { (this->*mSetRaw)(row, x, v); }
    GuiPixel ReadPixel(const uint8_t* row, int x) { return (this->*mReader)(row, x); }
    void WritePixel(uint8_t* row, int x, const GuiPixel& p) { (this->*mWriter)(row, x, p); }

protected:
    GuiBitmap* AddNewBitmapToList(uint32_t size);
    // Frees a bitmap added but not counted (a decode that failed).
    void DropUncountedBitmaps();
    void CountNewBitmap() { mCount++; }
    int SetupInlineBuf(int width);
    int SetupInlineResizeBuf();
    void ResizeBitmapRow(int sourceWidth);
    bool OutputAlpha() const { return mKeepAlpha && (mMode & GUI_IMG_SRC_ALPHA); }

    using RawGetter = uint32_t (GuiImageConvert::*)(const uint8_t*, int);
    using RawSetter = void (GuiImageConvert::*)(uint8_t*, int, uint32_t);
    using Reader = GuiPixel (GuiImageConvert::*)(const uint8_t*, int);
    using Writer = void (GuiImageConvert::*)(uint8_t*, int, const GuiPixel&);

    // input
    const uint8_t* mInStart = nullptr;
    const uint8_t* mInPos = nullptr;
    uint32_t mInLength = 0;

    uint32_t mIdentifier;
    int mImageType = 0;
    int mOutputDepth = 8;
    int mInternalDepth = 8;
    bool mSourceAlpha = false;
    bool mKeepAlpha = false;
    bool mGray = false;

    const uint8_t* mSysPalette = nullptr;
    int mSysCount = 256;
    int mFirstIndex = 0;

    uint8_t* mLocalPalette = nullptr;
    int mLocalCapacity = 256;
    int mLocalCount = 0;

    uint32_t mMode = 0;
    GuiPixel mTrans;
    int mTargetWidth = -1;
    int mTargetHeight = -1;
    int mInStride = 0;
    int mOutStride = 0;

    struct Entry {
        GuiBitmap* bitmap;
        uint32_t size;
    };
    Entry* mList = nullptr;
    unsigned int mListSize = 0;
    unsigned int mCount = 0;

    uint8_t* mInlineBuf = nullptr;
    uint8_t* mResizeBuf = nullptr;

    // dithering
    int32_t* mErr[6] = {};
    int mErrWidth = 0;
    bool mLeftToRight = true;
    bool mDithering = false;
    GuiPixel mLast;

    uint32_t mState = 0;
    GuiImageIdleCallback mIdle = nullptr;
    char mMessage[80] = {};

    RawGetter mGetRaw = nullptr;
    RawSetter mSetRaw = nullptr;
    Reader mReader = nullptr;
    Writer mWriter = nullptr;
    Writer mTransWriter = nullptr;

private:
    // raw getters and setters
    uint32_t GetRawPix1(const uint8_t* row, int x);
    uint32_t GetRawPix2(const uint8_t* row, int x);
    uint32_t GetRawPix4(const uint8_t* row, int x);
    uint32_t GetRawPix8(const uint8_t* row, int x);
    uint32_t GetRawPix8Alpha(const uint8_t* row, int x);
    uint32_t GetRawPix16(const uint8_t* row, int x);
    uint32_t GetRawPix16Alpha(const uint8_t* row, int x);
    uint32_t GetRawPix24(const uint8_t* row, int x);
    uint32_t GetRawPix24Alpha(const uint8_t* row, int x);
    uint32_t GetRawPix32(const uint8_t* row, int x);
    void WriteRaw1(uint8_t* row, int x, uint32_t v);
    void WriteRaw2(uint8_t* row, int x, uint32_t v);
    void WriteRaw4(uint8_t* row, int x, uint32_t v);
    void WriteRaw8(uint8_t* row, int x, uint32_t v);
    void WriteRaw8Alpha(uint8_t* row, int x, uint32_t v);
    void WriteRaw16(uint8_t* row, int x, uint32_t v);
    void WriteRaw16Alpha(uint8_t* row, int x, uint32_t v);
    void WriteRaw24(uint8_t* row, int x, uint32_t v);
    void WriteRaw24Alpha(uint8_t* row, int x, uint32_t v);
    void WriteRaw32(uint8_t* row, int x, uint32_t v);
    // readers
    GuiPixel PaletteEntry(uint32_t index);
    GuiPixel ReadPixel1To4(const uint8_t* row, int x);
    GuiPixel ReadPixel8(const uint8_t* row, int x);
    GuiPixel ReadPixel8Alpha(const uint8_t* row, int x);
    GuiPixel Decode16(uint32_t v);
    GuiPixel ReadPixel16(const uint8_t* row, int x);
    GuiPixel ReadPixel16_Alpha(const uint8_t* row, int x);
    GuiPixel ReadPixel24(const uint8_t* row, int x);
    GuiPixel ReadPixel24Alpha(const uint8_t* row, int x);
    GuiPixel ReadPixel32(const uint8_t* row, int x);
    // writers
    void PackIndex(uint8_t* row, int x, int depth, uint32_t index);
    void WritePixel1(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel2(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel4(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel8(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel8_332(uint8_t* row, int x, const GuiPixel& p);
    uint16_t Word16(const GuiPixel& p);
    void WritePixel16(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel16Alpha(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel24_RGB(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel24_RGB_Alpha(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel24_BGR(uint8_t* row, int x, const GuiPixel& p);
    void WritePixel24_BGR_Alpha(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans1to4(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans8(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans8_332(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans16(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans24RGB(uint8_t* row, int x, const GuiPixel& p);
    void WriteTrans24BGR(uint8_t* row, int x, const GuiPixel& p);

    bool IsTransparent(const uint8_t* src, int x, const GuiPixel& p);
    int ConvertBitmap(unsigned int n, bool dither);
    int RleBytesPerPixel() const;
};
