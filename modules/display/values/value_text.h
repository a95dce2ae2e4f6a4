// Formatting of a value with a normal-mode format text, whose pieces are
// separated by the byte 0x81 and each print the value once.
#pragma once

#include <cstddef>

#include "display/values/cdata.h"

// Writes at most outSize bytes (terminator included) into out; returns the
// number of characters written. Pieces whose conversions do not fit a double
// are left out.
int sprintf_w0x81(char* out, const char* format, double value, size_t outSize = DISP_VALUE_TEXT_LEN);

// A number text of len characters loses a trailing '.', and "-0" becomes "0".
void disp_trim_number(char* text, int len);
