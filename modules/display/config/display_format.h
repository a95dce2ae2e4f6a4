// The format texts of the display's boxes go to printf: before one is used
// it must hold only conversions that fit the value handed to it, so that no
// file can make the formatting read arguments that are not there.
#pragma once

#include <cstdint>

// Separator of the pieces of a normal-mode format; each piece formats the
// value once.
constexpr char DISP_FORMAT_SEPARATOR = char(0x81);

// One piece of a normal-mode format (up to its separator or end, len bytes):
// text with at most one floating conversion (%f %F %e %E %g %G %a %A, flags
// "-+ #0", width and precision of at most 255, optional l) and any %%.
bool display_format_piece_ok(const char* piece, int len);
// The format of a box in display mode `mode`: normal mode, every piece as
// above; the text modes 2 to 7, at most one %s (flag -, width, precision);
// other modes do not format and accept any text.
bool display_format_ok(const char* format, uint32_t mode);
