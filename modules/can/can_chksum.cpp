// One-byte checksums of CAN output messages.
#include <mutex>

#include "can/can_out_internal.h"

namespace {

uint8_t crc_table_0x1D[256];
uint8_t crc_table_0x2F[256];

void buildTable(uint8_t* table, uint8_t poly) {
    for (unsigned v = 0; v < 256; ++v) {
        uint8_t c = uint8_t(v);
        for (int i = 0; i < 8; ++i) c = uint8_t(c & 0x80 ? (c << 1) ^ poly : c << 1);
        table[v] = c;
    }
}

}  // namespace

namespace canout {
void buildChksumTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        buildTable(crc_table_0x1D, 0x1D);
        buildTable(crc_table_0x2F, 0x2F);
    });
}

uint64_t chksumBytes(uint64_t byteMask) {
    const uint64_t low = byteMask & 0xFFFFFFFFu;
    return byteMask >> 32 ? low | (uint64_t(1) << 31) : low;
}
}  // namespace canout

uint8_t canOut_calcChksum(uint8_t type, uint64_t byteMask, unsigned len, const uint8_t* buf) {
    canout::buildChksumTables();
    if (len > 64) len = 64;
    const uint8_t* crcTable = type == 20 ? crc_table_0x1D : type == 21 ? crc_table_0x2F : nullptr;
    unsigned x = 0, sum = 0;
    uint8_t crc = 0xFF;
    byteMask = canout::chksumBytes(byteMask);
    for (unsigned i = 0; i < len; ++i) {
        if (!((byteMask >> i) & 1u)) continue;
        const uint8_t b = buf[i];
        if (crcTable) crc = crcTable[crc ^ b];
        x ^= b;
        sum += b;
    }
    switch (type) {
    case 1: return uint8_t(x);
    case 2: return uint8_t(0xFF - x);
    case 10: return uint8_t(sum);
    case 11: return uint8_t(0xFF - (sum & 0xFF));
    case 12:
        while (sum >= 256) sum = (sum & 0xFF) + (sum >> 8);
        return uint8_t(sum);
    case 20:
    case 21: return uint8_t(crc ^ 0xFF);
    default: return 0;
    }
}
