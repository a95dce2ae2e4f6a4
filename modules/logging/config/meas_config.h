// Configuration of one logging measurement as the XML and the binary
// configuration readers produce it, with its block and telemetry records and
// the table of logger raster codes.
#pragma once

#include <cstdint>

class ChanData;

constexpr unsigned MEAS_COUNT = 3;              // m01 main logging, m02 telemetry, m03 second logging
constexpr unsigned MEAS_IDX_M01 = 0;
constexpr unsigned MEAS_IDX_M02 = 1;
constexpr unsigned MEAS_IDX_M03 = 2;

constexpr unsigned MEAS_LIST_WORDS = 256;       // words of a block's measurement list
constexpr unsigned MEAS_LIST_CHANNELS = 256;    // channel sizes of a block
constexpr unsigned MEAS_NAME_LEN = 1024;
constexpr unsigned MEAS_MAX_BLOCKS = 255;
// A record of a block (time value and all values, sub-samples included)
// must fit one frame of the measurement file.
constexpr uint32_t MEAS_RECORD_MAX = 4096;

// One data block or condition block.
struct BlkInfo {
    int32_t measList[MEAS_LIST_WORDS];  // groups {size word, addresses..., 0}, closed by 0
    uint8_t chanSizes[MEAS_LIST_CHANNELS];
    uint32_t listLength;                // bytes, both closing zeros included
    uint32_t recordSize;                // 4 + divider x sum of channel sizes
    uint32_t channelCount;
    char name[MEAS_NAME_LEN];
    uint32_t raster;                    // logger raster code
    uint16_t pid;
    uint64_t startMask;                 // bit i: gated by condition i
    uint16_t modeWord;
    uint16_t trueDivider;
    uint16_t falseDivider;
    uint16_t blockNumber;               // 0 for condition blocks
    uint16_t teleBlockId;               // 0xFFFF = none
    uint16_t spareWord;
    uint16_t pretriggerWord;
    uint16_t align4Count;
    uint16_t align2Count;
    uint16_t align1Count;
    uint16_t divider;                   // samples per record
};

// Telemetry settings of a telemetry measurement (44 bytes on the device).
struct TeleInfo {
    uint32_t baudrate;
    uint32_t dataRate;
    uint32_t projectCode;
    uint32_t ipAddr;                    // network order, 0 = none
    uint16_t port;
    uint8_t mode;                       // 0 RW37, 1 GSM, 2 ETHERNET
    uint8_t pause;
    uint8_t softwareId;
    ChanData* lapDist;
    ChanData* gpsLat;
    ChanData* gpsLong;
    ChanData* startCond;
};
constexpr uint32_t TELEINFO_SIZE = 44;

struct MEASConfiguration {
    char ident[MEAS_NAME_LEN];
    char projectFileName[MEAS_NAME_LEN];
    char asapName[MEAS_NAME_LEN];
    char pstName[MEAS_NAME_LEN];
    char userInfo[MEAS_NAME_LEN];
    uint16_t protocol;                  // nonzero: telemetry measurement
    TeleInfo* teleInfo;
    uint32_t teleInfoSize;
    BlkInfo* blocks;
    BlkInfo* conditions;
    uint16_t numBlocks;
    uint16_t numConditions;
    uint64_t globalStartMask;
    uint16_t globalStartGiven;
    float pretriggerTime;               // seconds; 0 = no pretrigger
};

// Allocates a zeroed configuration; null when memory runs out.
MEASConfiguration* meas_app_alloc_MEASConfiguration();
// Frees the telemetry record (with its channels), blocks, conditions and the
// record; null is allowed.
void meas_app_free_MEASConfiguration(MEASConfiguration* cfg);

// Sets up a condition block: one value of valueSize bytes at the low 24 bits
// of addr, sampled at 10 ms, gating start-mask bit `bit`, named
// "CondBlk #<nameNumber>". Every other field is zero; the PID and the
// reader's own extras are left to the caller.
void meas_app_setCondBlock(BlkInfo& c, unsigned bit, uint32_t addr, uint32_t valueSize, int nameNumber);

// Logger raster codes.
enum : uint32_t {
    MEAS_RASTER_1MS = 0, MEAS_RASTER_2MS, MEAS_RASTER_5MS, MEAS_RASTER_10MS, MEAS_RASTER_20MS,
    MEAS_RASTER_50MS, MEAS_RASTER_100MS, MEAS_RASTER_200MS, MEAS_RASTER_500MS, MEAS_RASTER_1S,
    MEAS_RASTER_SYNC = 10, MEAS_RASTER_LAP = 11, MEAS_RASTER_SBLAP = 12,
    MEAS_RASTER_5US = 14, MEAS_RASTER_10US, MEAS_RASTER_50US, MEAS_RASTER_100US, MEAS_RASTER_500US,
    MEAS_RASTER_OFF = 19,
    MEAS_RASTER_CODES = 20,
};

// Name of a raster code ("1ms" .. "Off"); "R:0x%X" for codes without a name
// (written into buf, which must hold 16 characters).
const char* convraster2ascii(uint32_t raster, char* buf);
// No-data time-out handed to the gateway for a block of the raster.
uint32_t meas_app_getdatatimeout(uint32_t raster);
// FIFO slots of a block of the raster.
uint32_t meas_app_getslotnum(uint32_t raster);
// Samples per record: the sub-millisecond rasters pack several into one.
uint32_t meas_app_samplesPerRecord(uint32_t raster);
// Binary configuration raster code (0x101 ..) to a logger raster code.
uint32_t meas_app_convraster(uint16_t binaryCode);
// Sizes of the word table of a block record, as the readers check them.
bool meas_app_listFits(uint32_t words, uint32_t channels);
