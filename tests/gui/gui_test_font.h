// Small fonts for the tests of the drawing code:
// - GuiTestFont: 1-bit, variable width, height 7, the digits '0'..'9'
//   (every glyph 5 pixels wide except '1' with 3), chained to
// - GuiTestFontHex: 1-bit, fixed width 6, height 9, 'A'..'F';
// - GuiTestFontAliased: 4 bits per pixel, the digits of GuiTestFont with
//   their set pixels at full strength (15) and the pixel right of each set
//   pixel at half strength (8) where that pixel is clear.
// The glyph of c in the 1-bit fonts is the art in gui_test_font.cpp.
#pragma once

#include "gui/core/gui_types.h"

extern const GuiFont GuiTestFont;
extern const GuiFont GuiTestFontHex;
extern const GuiFont GuiTestFontAliased;

// Whether glyph pixel (x, y) of c is set in the 1-bit fonts (false for
// characters they do not hold or positions outside the glyph).
bool GuiTestFontPixel(char c, int x, int y);
