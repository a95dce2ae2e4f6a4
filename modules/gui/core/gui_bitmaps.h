// The library's built-in bitmaps: scroll-bar arrows and track pattern, the
// title-bar buttons, the drag handle, radio-button and check-box sets and
// the window icon. All are 8 bits per pixel in the screen's default palette
// (0 black, 7 light grey, 8 dark grey, 15 white) with index 0xFF
// transparent; the arrow pointer is gbMouse of the drawing surface.
#pragma once

#include "gui/core/gui_types.h"

constexpr uint8_t GUI_BMP_CLEAR = 0xFF;   // transparent index of the built-ins

// Scroll bars: up and down 7 x 4, left and right ("more") 4 x 7, and the
// 2 x 2 checker pattern of the track.
extern GuiBitmap gbUpArrowBitmap;
extern GuiBitmap gbDownArrowBitmap;
extern GuiBitmap gbLeftArrowBitmap;
extern GuiBitmap gbMoreBitmap;
extern GuiBitmap gbMixPatternBitmap;

// Title-bar buttons: the system button 11 x 11 and opaque; close, minimise,
// maximise and restore 8 x 9; and the 13 x 13 drag handle of a sizable
// corner.
extern GuiBitmap gbSysButtonBitmap;
extern GuiBitmap gbCloseButtonBitmap;
extern GuiBitmap gbMinButtonBitmap;
extern GuiBitmap gbMaxButtonBitmap;
extern GuiBitmap gbRestoreButtonBitmap;
extern GuiBitmap gbDragBitmap;

// Radio buttons 12 x 12 and check boxes 13 x 13: on, off, and both disabled.
extern GuiBitmap gbRadioOnBitmap;
extern GuiBitmap gbRadioOffBitmap;
extern GuiBitmap gbRadioOnDisabledBitmap;
extern GuiBitmap gbRadioOffDisabledBitmap;
extern GuiBitmap gbCheckBoxOnBitmap;
extern GuiBitmap gbCheckBoxOffBitmap;
extern GuiBitmap gbCheckBoxOnDisabledBitmap;
extern GuiBitmap gbCheckBoxOffDisabledBitmap;

// The icon of a minimised window without an icon of its own, 32 x 29.
extern GuiBitmap gbWinIconBitmap;
