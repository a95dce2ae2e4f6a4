// GuiDecoratedButton: a push button showing a bitmap with an optional text
// beside, above or below it, sized by its content when no rectangle is
// given. A flat one is a plain panel until the pointer moves over it.
#pragma once

#include <cstdint>

#include "gui/core/gui_button.h"

constexpr uint8_t GT_DECORATED_BUTTON = 29;

// Style bits 0x0300: where the bitmap goes relative to the text.
constexpr uint16_t GDB_BITMAP_LEFT = 0x0000;
constexpr uint16_t GDB_BITMAP_ABOVE = 0x0100;
constexpr uint16_t GDB_BITMAP_BELOW = 0x0200;
constexpr uint16_t GDB_BITMAP_RIGHT = 0x0300;
constexpr uint16_t GDB_BITMAP_MASK = 0x0300;

class GuiDecoratedButton : public GuiButton {
public:
    GuiDecoratedButton(GuiRect& rect, const char* text, GuiBitmap* bitmap, unsigned short id,
                       unsigned short style, int flat);
    GuiDecoratedButton(int x, int y, int width, const char* text, GuiBitmap* bitmap, unsigned short id,
                       unsigned short style, int flat);
    GuiDecoratedButton(int x, int y, const char* text, GuiBitmap* bitmap, unsigned short id,
                       unsigned short style, int flat);
    ~GuiDecoratedButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Only stores the bitmap: the size stays and nothing is redrawn.
    virtual void SetBitmap(GuiBitmap* bitmap);

    GuiBitmap* mpBitmap;   // not owned; null for none
    int32_t mFlat;         // non-zero: a flat panel while the pointer is elsewhere
    int32_t mHover;        // 1 while the pointer is over a flat button

private:
    void InitDecorated(GuiBitmap* bitmap, int flat);
    // Outer (and client) rectangle from the content; width < 0: none given.
    void SizeToContent(int x, int y, int width);
    bool BitmapBeside() const;
};
