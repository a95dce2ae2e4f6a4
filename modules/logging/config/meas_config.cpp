// Measurement configuration records and the logger raster-code table.
#include "logging/config/meas_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "measurement/chandata.h"

namespace {

struct RasterRow {
    const char* name;           // null: printed as "R:0x%X"
    uint16_t binaryCode;        // 0: no binary code
    uint32_t dataTimeout;
    uint32_t slots;
    uint32_t samples;
};

const RasterRow kRasters[MEAS_RASTER_CODES] = {
    {"1ms", 0x101, 500, 512, 1},   {"2ms", 0x102, 250, 256, 1},   {"5ms", 0x103, 100, 128, 1},
    {"10ms", 0x104, 50, 64, 1},    {"20ms", 0x105, 25, 32, 1},    {"50ms", 0x106, 10, 16, 1},
    {"100ms", 0x107, 5, 8, 1},     {"200ms", 0x108, 3, 4, 1},     {"500ms", 0x109, 2, 4, 1},
    {"1s", 0, 2, 2, 1},            {"Sync", 0x300, 0, 512, 1},    {"Lap", 0x400, 0, 2, 1},
    {"SB-Lap", 0x401, 0, 2, 1},    {nullptr, 0, 2, 2, 1},         {nullptr, 0x10B, 500, 512, 200},
    {nullptr, 0x10C, 500, 512, 100}, {nullptr, 0x10D, 500, 512, 20}, {nullptr, 0x10E, 500, 512, 10},
    {nullptr, 0x10F, 500, 512, 2}, {"Off", 0, 2, 2, 1},
};

// Code 13 has no row of its own; like any unknown code it is treated as "Off".
const RasterRow& row(uint32_t raster) {
    return raster < MEAS_RASTER_CODES && raster != 13 ? kRasters[raster] : kRasters[MEAS_RASTER_OFF];
}

}  // namespace

const char* convraster2ascii(uint32_t raster, char* buf) {
    if (raster < MEAS_RASTER_CODES && kRasters[raster].name) return kRasters[raster].name;
    std::snprintf(buf, 16, "R:0x%X", raster);
    return buf;
}

uint32_t meas_app_getdatatimeout(uint32_t raster) { return row(raster).dataTimeout; }
uint32_t meas_app_getslotnum(uint32_t raster) { return row(raster).slots; }
uint32_t meas_app_samplesPerRecord(uint32_t raster) { return row(raster).samples; }

uint32_t meas_app_convraster(uint16_t code) {
    for (uint32_t r = 0; r < MEAS_RASTER_CODES; ++r)
        if (kRasters[r].binaryCode == code && code != 0) return r;
    return MEAS_RASTER_1S;   // any other code is the 1 s raster
}

bool meas_app_listFits(uint32_t words, uint32_t channels) {
    return words <= MEAS_LIST_WORDS && channels <= MEAS_LIST_CHANNELS;
}

void meas_app_setCondBlock(BlkInfo& c, unsigned bit, uint32_t addr, uint32_t valueSize, int nameNumber) {
    std::memset(&c, 0, sizeof c);
    c.measList[0] = -int32_t(valueSize);
    c.measList[1] = int32_t(addr & 0xFFFFFF);
    c.chanSizes[0] = uint8_t(valueSize);
    c.listLength = 12;
    c.recordSize = valueSize + 4;
    c.channelCount = 1;
    std::snprintf(c.name, sizeof c.name, "CondBlk #%d", nameNumber);
    c.raster = MEAS_RASTER_10MS;
    c.trueDivider = 1;
    c.falseDivider = 1;
    c.startMask = uint64_t(1) << bit;
    c.divider = 1;
}

MEASConfiguration* meas_app_alloc_MEASConfiguration() {
    return static_cast<MEASConfiguration*>(std::calloc(1, sizeof(MEASConfiguration)));
}

void meas_app_free_MEASConfiguration(MEASConfiguration* cfg) {
    if (!cfg) return;
    if (cfg->teleInfo) {
        delete cfg->teleInfo->lapDist;
        delete cfg->teleInfo->gpsLat;
        delete cfg->teleInfo->gpsLong;
        delete cfg->teleInfo->startCond;
        std::free(cfg->teleInfo);
    }
    std::free(cfg->blocks);
    std::free(cfg->conditions);
    std::free(cfg);
}
