// Byte-order conversion of the XCP master.
#include "xcp/master/xcpmr_internal.h"


uint32_t adr_conv(uint32_t value, int bigEndian) { return bigEndian ? __builtin_bswap32(value) : value; }

uint16_t word_conv(uint32_t value, int bigEndian) {
    uint16_t w = uint16_t(value);
    return bigEndian ? __builtin_bswap16(w) : w;
}

