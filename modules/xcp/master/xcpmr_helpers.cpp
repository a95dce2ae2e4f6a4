// Byte-order conversion, CAN identifiers and the start comparison of the XCP
// master.
#include "xcp/master/xcpmr_internal.h"

inline namespace xcpmr_own {

uint32_t adr_conv(uint32_t value, int bigEndian) { return bigEndian ? __builtin_bswap32(value) : value; }

uint16_t word_conv(uint32_t value, int bigEndian) {
    uint16_t w = uint16_t(value);
    return bigEndian ? __builtin_bswap16(w) : w;
}

bool calc_cond(int32_t value, int size, int32_t compare, unsigned op) {
    if (op >= 6) return true;
    int64_t a, b;
    switch (size) {
    case 1: a = uint8_t(value); b = uint8_t(compare); break;
    case 2: a = uint16_t(value); b = uint16_t(compare); break;
    case 4: a = uint32_t(value); b = uint32_t(compare); break;
    case -1: a = int8_t(value); b = int8_t(compare); break;
    case -2: a = int16_t(value); b = int16_t(compare); break;
    case -4: a = value; b = compare; break;
    default: return true;
    }
    switch (op) {
    case 0: return a < b;
    case 1: return a <= b;
    case 2: return a > b;
    case 3: return a >= b;
    case 4: return a == b;
    default: return a != b;
    }
}

uint32_t getCanId(uint32_t id) { return (id & 0x80000000u) ? (id & 0x1FFFFFFFu) : (id & 0x7FFu); }
uint8_t getCanFormat(uint32_t id) { return (id & 0x80000000u) ? 0xFF : 0; }
}  // namespace xcpmr_own
