// Read state of the PNG reader (chunk position, inflate stream, rows).
#pragma once

#include "gui/image/gui_png.h"

#include <cstdint>

// Mode bits.
constexpr uint32_t PNG_HAVE_IHDR = 0x01;
constexpr uint32_t PNG_HAVE_PLTE = 0x02;
constexpr uint32_t PNG_HAVE_IDAT = 0x04;
constexpr uint32_t PNG_AFTER_IDAT = 0x08;
constexpr uint32_t PNG_HAVE_IEND = 0x10;
// Flags.
constexpr uint32_t PNG_FLAG_ZSTREAM_ENDED = 0x20;
constexpr uint32_t PNG_FLAG_ROW_INIT = 0x40;
constexpr uint32_t PNG_FLAG_CRC_ANCILLARY_NOWARN = 0x200;
constexpr uint32_t PNG_FLAG_CRC_CRITICAL_USE = 0x400;
constexpr uint32_t PNG_FLAG_CRC_CRITICAL_IGNORE = 0x800;
constexpr uint32_t PNG_FLAG_HAVE_PALETTE = 0x1000;
constexpr uint32_t PNG_FLAG_FREE_TRNS = 0x2000;

constexpr uint32_t kPngInputBuffer = 8192;

struct GuiPngConvert::ReadState {
    uint32_t mode = 0;
    uint32_t flags = 0;
    PzipStream zs{};
    bool zInit = false;
    uint8_t* inBuf = nullptr;

    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colorType = 0, interlace = 0, channels = 0, pixelDepth = 0;
    uint32_t rowBytes = 0;

    int pass = 0;
    uint32_t numRows = 0;   // rows in the current pass
    uint32_t iwidth = 0;    // pixels per row in the current pass
    uint32_t rowNumber = 0; // row within the pass
    uint32_t idatLeft = 0;

    uint8_t* rowBuf = nullptr;
    uint8_t* prevRow = nullptr;

    uint32_t crc = 0;
    uint8_t chunkName[4] = {};

    int numTrans = 0;
    bool transSeen = false;
    uint8_t transAlpha[256] = {};
    uint16_t transGray = 0;
    uint16_t transRgb[3] = {};
};

// Adam7 pass tables.
constexpr uint32_t kPngPassStartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kPngPassRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint32_t kPngPassStartCol[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kPngPassColStep[7] = {8, 8, 4, 4, 2, 2, 1};

inline uint32_t PngPassPixels(uint32_t width, int pass) {
    return width > kPngPassStartCol[pass]
               ? (width - kPngPassStartCol[pass] + kPngPassColStep[pass] - 1) / kPngPassColStep[pass]
               : 0;
}
inline uint32_t PngPassRows(uint32_t height, int pass) {
    return height > kPngPassStartRow[pass]
               ? (height - kPngPassStartRow[pass] + kPngPassRowStep[pass] - 1) / kPngPassRowStep[pass]
               : 0;
}
