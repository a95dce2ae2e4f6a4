// Read state of the PNG reader (chunk position, inflate stream, rows).
#pragma once

#include "gui/image/gui_png.h"

#include <cstdint>

// Where the chunk loop is (ReadState::mode).
constexpr uint32_t kPngHeaderSeen = 0x01;      // IHDR read
constexpr uint32_t kPngPaletteSeen = 0x02;     // PLTE read
constexpr uint32_t kPngInImageData = 0x04;     // the first IDAT chunk has begun
constexpr uint32_t kPngAfterImageData = 0x08;  // a chunk other than IDAT followed the image data
// What the reader has done and how it treats CRC mismatches (ReadState::flags).
constexpr uint32_t kPngDataEnded = 0x20;          // the compressed image data reached their end
constexpr uint32_t kPngRowsStarted = 0x40;        // row buffers sized for the first pass
constexpr uint32_t kPngCrcKeepAncillary = 0x200;  // keep ancillary chunks despite a wrong CRC
constexpr uint32_t kPngCrcFailCritical = 0x400;   // a wrong CRC fails a critical chunk
constexpr uint32_t kPngPaletteRead = 0x1000;
constexpr uint32_t kPngOwnsTransparency = 0x2000;  // paletteAlpha holds the tRNS table

constexpr uint32_t kPngInputBuffer = 8192;

struct GuiPngConvert::ReadState {
    uint32_t mode = 0;
    uint32_t flags = 0;
    PzipStream stream{};
    bool streamReady = false;
    uint8_t* inputBuffer = nullptr;

    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colorType = 0, interlace = 0, channels = 0, pixelDepth = 0;
    uint32_t rowBytes = 0;

    int pass = 0;             // Adam7 pass (0 when not interlaced)
    uint32_t passRows = 0;    // rows in the current pass
    uint32_t passPixels = 0;  // pixels per row in the current pass
    uint32_t passRow = 0;     // row within the pass
    uint32_t chunkDataLeft = 0;  // image-data bytes of the current IDAT chunk not yet read

    uint8_t* rowBuf = nullptr;
    uint8_t* prevRow = nullptr;

    uint32_t crc = 0;
    uint8_t chunkName[4] = {};

    // Transparency from tRNS, by colour type: alpha per palette entry, or
    // the one transparent gray level or colour at the file's bit depth.
    int transCount = 0;
    bool transSeen = false;
    uint8_t paletteAlpha[256] = {};
    uint16_t transparentGray = 0;
    uint16_t transparentRgb[3] = {};

    // Finished pixel of each sample value of a palette or gray picture.
    uint32_t expandTable[256] = {};
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
