// Pixels of the tick and the dot of menu entries: black ink (0x00) on
// transparent (0xFF), 8 bits per pixel like the library's other glyphs.
#include "gui/core/gui_bitmaps.h"
#include "gui/widgets/menus/gui_menu.h"

namespace {

constexpr uint8_t X = 0x00;
constexpr uint8_t _ = GUI_BMP_CLEAR;

uint8_t kCheck[7 * 7] = {
    _, _, _, _, _, _, X,
    _, _, _, _, _, X, X,
    X, _, _, _, X, X, X,
    X, X, _, X, X, X, _,
    X, X, X, X, X, _, _,
    _, X, X, X, _, _, _,
    _, _, X, _, _, _, _,
};

uint8_t kDot[6 * 6] = {
    _, X, X, X, X, _,
    X, X, X, X, X, X,
    X, X, X, X, X, X,
    X, X, X, X, X, X,
    X, X, X, X, X, X,
    _, X, X, X, X, _,
};

}  // namespace

GuiBitmap gbCheckBitmap{GUI_BMP_TRANSPARENT, 8, 7, 7, GUI_BMP_CLEAR, kCheck};
GuiBitmap gbDotBitmap{GUI_BMP_TRANSPARENT, 8, 6, 6, GUI_BMP_CLEAR, kDot};
