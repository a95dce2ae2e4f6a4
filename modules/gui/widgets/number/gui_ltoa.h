// Integer to text in a radix, for the labels and values of the widgets.
#pragma once

#include <cstdint>

// Writes the text of `value` in `radix` (2 to 36) into `buffer` and returns
// buffer. Radix 10 writes the value signed (a leading minus sign for a
// negative value); every other radix writes its 32-bit pattern unsigned,
// with the digits 0-9 and then lowercase letters. The buffer must hold 33
// bytes for radix 2, 12 for radix 10. A radix outside 2 to 36 gives "";
// a null buffer gives null.
char* _ltoa(int32_t value, char* buffer, int radix);
