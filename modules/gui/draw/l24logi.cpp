// L24logi: construction, the draw brackets, pixel access, capture, palette
// and the hand-over of frames to the screen service.
#include "gui/draw/l24logi.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/scrndrv.h"

uint32_t* gbVMemory = nullptr;

GuiScreen* CreateGuiScreen()
{
    return new (std::nothrow) L24logi(GuiRect(0, 0, SCRNDRV_FB_WIDTH - 1, SCRNDRV_FB_HEIGHT - 1));
}

L24logi::L24logi(const GuiRect& rect) : GuiScreen(rect)
{
    miColors = 256;
    gbVMemory = scrndrvFrameBuffer();
    // The screen never exceeds the controller's memory.
    miWidth = std::min(miWidth, SCRNDRV_FB_WIDTH);
    miHeight = std::min(miHeight, SCRNDRV_FB_HEIGHT);
    mppRows = new (std::nothrow) uint32_t*[size_t(std::max(miHeight, 1))];
    if (mppRows)
        for (int y = 0; y < miHeight; ++y) mppRows[y] = gbVMemory + size_t(y) * SCRNDRV_FB_WIDTH;
    else
        miWidth = miHeight = 0;   // nothing can be drawn without rows
    mPointerPos = GuiPoint{int16_t(miWidth / 2), int16_t(miHeight / 2)};
    miDrawNesting = 0;
    mbPointerSuppress = 0;
    std::memcpy(mPalette, DefPalette256.data(), 248 * 3);
}

L24logi::~L24logi()
{
    // A bitmap still being drawn into: go back to the screen's rows first.
    if (mbDrawingBitmap && mppSavedRows) {
        delete[] mppRows;
        mppRows = mppSavedRows;
        mppSavedRows = nullptr;
    }
    // The frame buffer belongs to the controller: only the table goes.
    delete[] mppRows;
    mppRows = nullptr;
}

// ---- draw brackets ---------------------------------------------------------------

void L24logi::BeginDraw(GuiThing*)
{
    EnterCriticalSection();
    ++miDrawNesting;
}

void L24logi::EndDraw()
{
    if (miDrawNesting <= 0) return;   // no bracket open: the lock is not ours
    if (--miDrawNesting == 0) {
        while (miInvalidCount > 0) {
            --miInvalidCount;
            ExitCriticalSection();
        }
    }
    ExitCriticalSection();
}

void L24logi::BeginDraw(GuiThing*, GuiBitmap* bitmap)
{
    // Only 32-bit bitmaps with pixels can take the 32-bit rows, and only one
    // at a time; any other pair of calls changes nothing.
    if (!bitmap || !bitmap->width || !bitmap->height || !bitmap->data || bitmap->bitsPerPixel != 32 ||
        (bitmap->flags & GUI_BMP_RLE) || mbDrawingBitmap)
        return;
    uint32_t** rows = new (std::nothrow) uint32_t*[bitmap->height];
    if (!rows) return;
    EnterCriticalSection();
    uint32_t* px = reinterpret_cast<uint32_t*>(bitmap->data);
    for (int y = 0; y < bitmap->height; ++y) rows[y] = px + size_t(y) * bitmap->width;
    mppSavedRows = mppRows;
    mppRows = rows;
    mBitmapRect = GuiRect(0, 0, bitmap->width - 1, bitmap->height - 1);
    mbDrawingBitmap = 1;
    mpDrawBitmap = bitmap;
    ++miDrawNesting;
}

void L24logi::EndDraw(GuiBitmap* bitmap)
{
    if (!mbDrawingBitmap || bitmap != mpDrawBitmap) return;
    mbDrawingBitmap = 0;
    mpDrawBitmap = nullptr;
    --miDrawNesting;
    delete[] mppRows;
    mppRows = mppSavedRows;
    mppSavedRows = nullptr;
    ExitCriticalSection();
}

// ---- pointer (the panel has none) --------------------------------------------------

void L24logi::SetPointerType(unsigned char) {}
void L24logi::SetPointer(GuiPoint) {}
void L24logi::HidePointer() {}

// ---- capture ------------------------------------------------------------------------

int L24logi::Capture(GuiCapture* capture, GuiRect& rect)
{
    // Always the screen, also while drawing goes into a bitmap.
    return CaptureRows(capture, rect, mbDrawingBitmap ? mppSavedRows : mppRows,
                       GuiRect(0, 0, miWidth - 1, miHeight - 1));
}

int L24logi::CaptureRows(GuiCapture* capture, GuiRect& rect, uint32_t* const* rows, const GuiRect& bounds)
{
    if (!capture) return 0;
    // Clipped to the source (in the caller's rectangle too).
    rect &= bounds;
    if (rect.IsEmpty() || !rows) {
        capture->valid = 0;
        return 0;
    }
    const int w = rect.Width(), h = rect.Height();
    if (!capture->Realloc(uint32_t(w) * uint32_t(h) * 4)) {
        capture->valid = 0;
        return 0;
    }
    capture->rect = rect;
    capture->bitmap.flags = GUI_BMP_DRIVER;
    capture->bitmap.bitsPerPixel = 32;
    capture->bitmap.width = uint16_t(w);
    capture->bitmap.height = uint16_t(h);
    capture->bitmap.transparentColor = 0;
    uint32_t* dst = reinterpret_cast<uint32_t*>(capture->bitmap.data);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + size_t(y) * w, rows[rect.top + y] + rect.left, size_t(w) * 4);
    capture->valid = 1;
    return 1;
}

void L24logi::RectMoveView(GuiThing* thing, const GuiRect& rect, int dx, int dy)
{
    // The pixels move within the current target: the screen, or the bitmap
    // being drawn into.
    GuiCapture cap;
    GuiRect r = rect;
    if (!CaptureRows(&cap, r, mppRows, TargetRect())) return;
    cap.rect.Shift(dx, dy);
    Bitmap(thing, cap.Point(), &cap.bitmap, 1);
}

// ---- palette --------------------------------------------------------------------------

void L24logi::SetPalette(int first, int count, const unsigned char* rgb)
{
    if (!rgb || first < 0 || count <= 0 || first >= 256) return;
    count = std::min(count, 256 - first);
    std::memcpy(mPalette + 3 * first, rgb, size_t(count) * 3);
}

const unsigned char* L24logi::GetPalette(unsigned long* count)
{
    if (count) *count = 0xFFFFFF;   // true colour: no palette
    return nullptr;
}

void L24logi::ResetPalette() {}

// ---- pixels ---------------------------------------------------------------------------

unsigned long L24logi::GetPixelView(int x, int y)
{
    if (!TargetRect().Contains(x, y)) return 0;
    return mppRows[y][x] & 0xFFFFFFu;
}

unsigned long L24logi::GetBitmapPixel(int x, int y, GuiBitmap* b)
{
    if (!b || !b->data || x < 0 || y < 0 || x >= b->width || y >= b->height || (b->flags & GUI_BMP_RLE)) return 0;
    size_t i = size_t(y) * b->width + size_t(x);
    switch (b->bitsPerPixel) {
    case 32: return reinterpret_cast<const uint32_t*>(b->data)[i] & 0xFFFFFFu;
    case 24: {
        const uint8_t* p = b->data + 3 * i;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    case 8: return PaletteColour(b->data[i]);
    default: return 0;
    }
}

void L24logi::PutBitmapPixel(int x, int y, GuiBitmap* b, unsigned long colour)
{
    if (!b || !b->data || b->bitsPerPixel < 32 || (b->flags & GUI_BMP_RLE)) return;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return;
    reinterpret_cast<uint32_t*>(b->data)[size_t(y) * b->width + size_t(x)] = uint32_t(colour) & 0xFFFFFFu;
}

GuiBitmap* L24logi::CreateBitmap(int width, int height, int transparent)
{
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return nullptr;
    GuiBitmap* b = new (std::nothrow) GuiBitmap{};
    if (!b) return nullptr;
    size_t n = size_t(width) * size_t(height);
    b->data = new (std::nothrow) uint8_t[n * 4];
    if (!b->data) {
        delete b;
        return nullptr;
    }
    b->flags = uint8_t(GUI_BMP_DRIVER | (transparent ? GUI_BMP_TRANSPARENT : 0));
    b->bitsPerPixel = 32;
    b->width = uint16_t(width);
    b->height = uint16_t(height);
    b->transparentColor = 1;
    std::fill_n(reinterpret_cast<uint32_t*>(b->data), n, 1u);
    return b;
}

// ---- frames ------------------------------------------------------------------------------

void L24logi::FlushScreen() { scrndrvFlush(); }
void L24logi::WaitFlushFinish() { scrndrvWaitFlush(); }
