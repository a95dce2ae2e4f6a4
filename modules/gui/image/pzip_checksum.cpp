// CRC-32 and Adler-32 of the deflate codec and the PNG reader: zlib's.
#include "gui/image/pzip.h"

#include <zlib.h>

uint32_t PzipCrc32(uint32_t crc, const uint8_t* buf, uint32_t len) {
    if (buf == nullptr) return 0;
    return uint32_t(crc32(crc, buf, len));
}

uint32_t PzipAdler32(uint32_t adler, const uint8_t* buf, uint32_t len) {
    if (buf == nullptr) return 1;
    return uint32_t(adler32(adler, buf, len));
}
