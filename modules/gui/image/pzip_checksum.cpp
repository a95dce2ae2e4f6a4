// CRC-32 and Adler-32 of the deflate codec and the PNG reader.
#include "gui/image/pzip.h"

#include <cstring>

namespace {

// Slicing-by-8 tables: table[0] is the classic byte table, table[k][n] the
// CRC of byte n followed by k zero bytes, so eight bytes fold in one step.
struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = t[0][n];
            for (int k = 1; k < 8; k++) {
                c = t[0][c & 0xFF] ^ (c >> 8);
                t[k][n] = c;
            }
        }
    }
};

const CrcTables& crcTables() {
    static const CrcTables tables;
    return tables;
}

}  // namespace

uint32_t PzipCrc32(uint32_t crc, const uint8_t* buf, uint32_t len) {
    if (buf == nullptr) return 0;
    const auto& t = crcTables().t;
    uint32_t c = ~crc;
    while (len >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, buf, 4);
        std::memcpy(&hi, buf + 4, 4);
        lo ^= c;  // little-endian host: byte 0 is the low byte
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        buf += 8;
        len -= 8;
    }
    while (len--) c = t[0][(c ^ *buf++) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t PzipAdler32(uint32_t adler, const uint8_t* buf, uint32_t len) {
    constexpr uint32_t kBase = 65521;
    constexpr uint32_t kNmax = 5552;  // largest n with 255n(n+1)/2 + (n+1)(BASE-1) < 2^32
    if (buf == nullptr) return 1;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    while (len > 0) {
        uint32_t n = len < kNmax ? len : kNmax;
        len -= n;
        while (n >= 8) {
            a += buf[0]; b += a; a += buf[1]; b += a; a += buf[2]; b += a; a += buf[3]; b += a;
            a += buf[4]; b += a; a += buf[5]; b += a; a += buf[6]; b += a; a += buf[7]; b += a;
            buf += 8;
            n -= 8;
        }
        while (n--) {
            a += *buf++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}
