// The start condition of a bus master: a measured value compared with a
// configured one at the value's width.
#pragma once

#include <cstdint>

// size 1, 2, 4 compares unsigned, -1, -2, -4 signed, only the low bytes of
// both; operators 0 <, 1 <=, 2 >, 3 >=, 4 ==, 5 !=. Another size or operator
// counts as true (no condition).
bool calc_cond(uint32_t value, int size, uint32_t compare, unsigned op);
