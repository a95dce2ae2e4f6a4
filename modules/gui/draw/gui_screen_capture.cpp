// Saved screen areas and the built-in pointer bitmap.
#include <new>

#include "gui/draw/gui_screen.h"

bool GuiCapture::Realloc(uint32_t size)
{
    if (size <= capacity && bitmap.data) return true;
    delete[] bitmap.data;
    bitmap.data = new (std::nothrow) uint8_t[size ? size : 1];
    capacity = bitmap.data ? size : 0;
    return bitmap.data != nullptr;
}

void GuiCapture::Release()
{
    delete[] bitmap.data;
    bitmap.data = nullptr;
    capacity = 0;
    valid = 0;
}

namespace {

// Arrow, 11 x 16 palette indexes: 0 black outline, 15 white inside, 255
// transparent.
constexpr int kMouseW = 11;
constexpr int kMouseH = 16;
constexpr const char* kMouseArt[kMouseH] = {
    "X..........", "XX.........", "XOX........", "XOOX.......", "XOOOX......", "XOOOOX.....",
    "XOOOOOX....", "XOOOOOOX...", "XOOOOOOOX..", "XOOOOOOOOX.", "XOOOOOXXXXX", "XOOXOOX....",
    "XOX.XOOX...", "XX..XOOX...", "X....XOOX..", ".....XXX...",
};

struct MousePixels {
    uint8_t p[kMouseW * kMouseH];
    MousePixels() {
        for (int y = 0; y < kMouseH; ++y)
            for (int x = 0; x < kMouseW; ++x) {
                char c = kMouseArt[y][x];
                p[y * kMouseW + x] = c == 'X' ? 0 : c == 'O' ? 15 : 255;
            }
    }
};
MousePixels gMousePixels;

}  // namespace

GuiBitmap gbMouse = {GUI_BMP_TRANSPARENT, 8, kMouseW, kMouseH, 255, gMousePixels.p};
