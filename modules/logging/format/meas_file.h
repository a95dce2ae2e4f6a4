// Measurement file layout: the 42-byte file header with its CRC, the 9-byte
// block descriptors and the 6-byte metadata heads. All numbers big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byteorder.h"

constexpr size_t MEAS_FILE_HEADER_LEN = 42;
constexpr size_t MEAS_FILE_BLOCKDESC_LEN = 9;
constexpr size_t MEAS_FILE_METAHEAD_LEN = 6;
constexpr uint16_t MEAS_FILE_VERSION = 6;
constexpr char MEAS_FILE_MAGIC[] = "MeasData v6.0";   // 13 characters + NUL = 14 bytes
// The store counts a file's bytes in 32 bits (its file info, the fragmenter's
// size, each writer's total), so no measurement file grows beyond this.
constexpr uint64_t MEAS_FILE_MAX_BYTES = 0xFFFFFFFFu;

// Metadata types; 8 and above are refused by writers.
enum MeasMetaType : uint8_t {
    MEAS_META_DYNAMIC = 0,      // no head: payload written as it is
    MEAS_META_CLIENTCFG = 1,
    MEAS_META_STATUSBLOCK = 2,
    MEAS_META_CARID = 3,
    MEAS_META_INIT_TS = 4,
    MEAS_META_CLOSE_TS = 5,
    MEAS_META_EVENT = 6,
    MEAS_META_TIMEMASTER = 7,
    MEAS_META_TYPES = 8,
};
constexpr size_t MEAS_META_CARID_LEN = 36;
constexpr size_t MEAS_META_TIMEMASTER_LEN = 12;

struct MeasFileHeaderInfo {
    uint16_t pcode = 0;         // project code of the calibration dataset
    uint16_t lap = 0;
    uint16_t outing = 0;
    uint16_t fragment = 0;
    uint8_t numBlocks = 0;      // num_blocks of the configuration, low 8 bits
    uint8_t measIdx = 0;        // 0 m01, 1 m02, 2 m03
    uint8_t bcdDate[6] = {};    // year % 100, month, day, hour, minute, second as BCD
    uint16_t absLap = 0;
};

// Composes the header with its CRC into out[42].
void meas_file_buildHeader(uint8_t* out, const MeasFileHeaderInfo& info);
// CRC of a header as stored at 20/21: computed with bytes 0, 1, 20, 21 and
// 34 to 39 taken as zero.
uint16_t meas_file_headerCrc(const uint8_t* header);
// Splits a header into its fields; false when the fixed bytes are wrong.
bool meas_file_parseHeader(const uint8_t* header, MeasFileHeaderInfo* info, uint16_t* storedCrc);
// The first n bytes of a header (n < 42): true when they can start one, so
// that a file this short is a header cut off rather than something else.
bool meas_file_headerStart(const uint8_t* bytes, size_t n);

void meas_file_putBlockDescriptor(uint8_t* out, uint8_t blockId, uint32_t recordLength);
void meas_file_putMetaHead(uint8_t* out, uint8_t type, uint32_t payloadLength);

// Current date and time of the real-time clock as six BCD bytes; all zero
// when the clock cannot be converted.
void get_bcd_time(uint8_t* out6);

