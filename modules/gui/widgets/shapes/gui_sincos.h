// Integer sine and cosine by whole degree, scaled by 1024, for the shape
// primitives and the widgets that turn things (needles, rotated polygons):
// no floating point on the GUI task.
#pragma once

#include <cstdint>

// sin(k degrees) * 1024 for k = 0 .. 90; the values are fixed, not
// computed, so every build draws the same pixels.
extern const int32_t GuiSinCosTable[91];

// Sine and cosine of angle (degrees, any integer) times 1024; either pointer
// may be null, and that value is then not written.
void GuiLookupSinCos(int angle, int* sine, int* cosine);
