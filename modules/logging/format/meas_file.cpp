// File header, block descriptors and metadata heads of measurement files.
#include "logging/format/meas_file.h"

#include <cstring>

#include "platform/crc.h"
#include "platform/timebase.h"

namespace {

// Bytes left out of the header CRC: the length prefix, the CRC itself and
// the creation date, which is filled in after the CRC.
bool excludedFromCrc(size_t i) { return i == 0 || i == 1 || i == 20 || i == 21 || (i >= 34 && i <= 39); }

uint8_t toBcd(int v) { return uint8_t((v / 10) << 4 | (v % 10)); }

}  // namespace

uint16_t meas_file_headerCrc(const uint8_t* header) {
    uint8_t copy[MEAS_FILE_HEADER_LEN];
    for (size_t i = 0; i < MEAS_FILE_HEADER_LEN; ++i) copy[i] = excludedFromCrc(i) ? 0 : header[i];
    return crc16_ccitt_lsb_accu(copy, MEAS_FILE_HEADER_LEN, 0xFFFF);
}

void meas_file_buildHeader(uint8_t* out, const MeasFileHeaderInfo& info) {
    std::memset(out, 0, MEAS_FILE_HEADER_LEN);
    std::memcpy(out + 2, MEAS_FILE_MAGIC, sizeof(MEAS_FILE_MAGIC));
    be_put16(out + 18, MEAS_FILE_VERSION);
    be_put32(out + 22, uint32_t(uint16_t(~info.pcode)) << 16 | info.pcode);
    be_put16(out + 26, info.lap);
    be_put16(out + 28, info.outing);
    be_put16(out + 30, info.fragment);
    out[32] = info.numBlocks;
    out[33] = info.measIdx;
    be_put16(out + 40, info.absLap);
    be_put16(out + 20, meas_file_headerCrc(out));
    out[0] = 0x00;
    out[1] = uint8_t(MEAS_FILE_HEADER_LEN);
    std::memcpy(out + 34, info.bcdDate, 6);
}

bool meas_file_parseHeader(const uint8_t* h, MeasFileHeaderInfo* info, uint16_t* storedCrc) {
    if (h[0] != 0 || h[1] != MEAS_FILE_HEADER_LEN) return false;
    if (std::memcmp(h + 2, MEAS_FILE_MAGIC, sizeof(MEAS_FILE_MAGIC)) != 0) return false;
    if (be_get16(h + 16) != 0 || be_get16(h + 18) != MEAS_FILE_VERSION) return false;
    if (info) {
        info->pcode = uint16_t(be_get32(h + 22));
        info->lap = be_get16(h + 26);
        info->outing = be_get16(h + 28);
        info->fragment = be_get16(h + 30);
        info->numBlocks = h[32];
        info->measIdx = h[33];
        std::memcpy(info->bcdDate, h + 34, 6);
        info->absLap = be_get16(h + 40);
    }
    if (storedCrc) *storedCrc = be_get16(h + 20);
    return true;
}

bool meas_file_headerStart(const uint8_t* bytes, size_t n) {
    // the fixed bytes run up to the version (0 to 19); the CRC and the
    // counters after them can be anything
    uint8_t sound[MEAS_FILE_HEADER_LEN];
    meas_file_buildHeader(sound, MeasFileHeaderInfo{});
    return n == 0 || std::memcmp(bytes, sound, n < 20 ? n : 20) == 0;
}

void meas_file_putBlockDescriptor(uint8_t* out, uint8_t blockId, uint32_t recordLength) {
    out[0] = blockId;
    be_put32(out + 1, recordLength);
    be_put32(out + 5, 0);
}

void meas_file_putMetaHead(uint8_t* out, uint8_t type, uint32_t payloadLength) {
    out[0] = 0xFF;
    out[1] = type;
    be_put32(out + 2, payloadLength);
}

void get_bcd_time(uint8_t* out6) {
    std::memset(out6, 0, 6);
    date_t d{};
    if (!rtc_readDate(&d)) return;
    const int fields[6] = {d.year % 100, d.month, d.day, d.hour, d.minute, d.second};
    for (int i = 0; i < 6; ++i) out6[i] = toBcd(fields[i]);
}
