// L24logi: the device's drawing surface, drawing straight into the display
// controller's frame buffer of 0x00RRGGBB words (1024 x 480, of which
// (0, 0)-(639, 479) is shown). Palette bitmaps are drawn with its 256-entry
// palette; finished frames go to the kernel's screen service.
#pragma once

#include <array>
#include <cstdint>

#include "gui/draw/gui_screen.h"

// The frame buffer the driver draws into (the controller's memory).
extern uint32_t* gbVMemory;
// Default palette: 256 entries of red, green, blue; the driver takes the
// first 248.
extern const std::array<unsigned char, 768> DefPalette256;

class L24logi : public GuiScreen {
public:
    explicit L24logi(const GuiRect& rect);
    ~L24logi() override;

    void BeginDraw(GuiThing* thing) override;
    void EndDraw() override;
    void BeginDraw(GuiThing* thing, GuiBitmap* bitmap) override;
    void EndDraw(GuiBitmap* bitmap) override;

    void SetPointerType(unsigned char type) override;
    void SetPointer(GuiPoint pos) override;
    int Capture(GuiCapture* capture, GuiRect& rect) override;
    void SetPalette(int first, int count, const unsigned char* rgb) override;
    const unsigned char* GetPalette(unsigned long* count) override;
    void ResetPalette() override;
    unsigned long GetBitmapPixel(int x, int y, GuiBitmap* bitmap) override;
    void PutBitmapPixel(int x, int y, GuiBitmap* bitmap, unsigned long colour) override;

    GuiBitmap* CreateBitmap(int width, int height, int transparent) override;
    void FlushScreen() override;
    void WaitFlushFinish() override;

    void DrawTextView(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                      GuiRect& clip) override;
    void DrawTextViewDouble(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                            GuiRect& clip) override;
    void LineView(int x1, int y1, int x2, int y2, GuiRect& clip, GuiColor colour, int width) override;
    void BitmapView(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip) override;
    void RectMoveView(GuiThing* thing, const GuiRect& rect, int dx, int dy) override;
    void HorizontalLine(int x1, int x2, int y, unsigned long colour, int width) override;
    void VerticalLine(int y1, int y2, int x, unsigned long colour, int width) override;
    void HorizontalLineXOR(int x1, int x2, int y) override;
    void VerticalLineXOR(int y1, int y2, int x) override;
    unsigned long GetPixelView(int x, int y) override;
    void HidePointer() override;

    void DrawAliasedText(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                         GuiRect& clip);
    void DrawRlePaletteBitmap(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip);
    void DrawRleBitmap(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip);
    void DrawTrueColorBitmap(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip);
    void DrawTrueColorAlphaBitmap(GuiPoint point, const GuiBitmap* bitmap, const GuiRect& clip);
    uint32_t* GetVideoAddress() const { return gbVMemory; }
    void ConfigureController() {}

    // Palette entry i as a pixel word.
    uint32_t PaletteColour(unsigned i) const {
        const unsigned char* p = mPalette + 3 * (i & 0xFF);
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }

private:
    // Text at `scale` screen pixels per glyph pixel (1 plain, 2 doubled);
    // anti-aliased fonts are drawn plain.
    void DrawTextScaled(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                        GuiRect& clip, int scale);
    // Capture from the given rows, clipped to bounds.
    int CaptureRows(GuiCapture* capture, GuiRect& rect, uint32_t* const* rows, const GuiRect& bounds);

    unsigned char mPalette[256 * 3]{};
    GuiBitmap* mpDrawBitmap = nullptr;    // bitmap being drawn into
};
