// Display-controller helpers: layer switches, the kernel's screen flush,
// the boot logo and screen dumps (palette-coded run-length images of the
// visible 640 x 480 area).
#pragma once

#include <cstdint>

constexpr int SCRNDRV_VISIBLE_WIDTH = 640;
constexpr int SCRNDRV_VISIBLE_HEIGHT = 480;
constexpr int SCRNDRV_FB_WIDTH = 1024;     // words per frame-buffer row
constexpr int SCRNDRV_FB_HEIGHT = 480;
constexpr int SCRNDRV_LAYERS = 5;
constexpr uint32_t SCRNDRV_IFACE = 0x0BCA0002;   // interface word of the screen service

// A screen dump: counts and the three arrays (the owner frees them with
// delete[]). The file holds the three counts as u32 (little-endian), then
// the palette (u32 words in order of first appearance), the run lengths
// (u16, screen order, runs continue across row ends) and the run colour
// indexes packed at B bits each from bit 0 of byte 0 upwards, B being the
// number of bits needed for palette count - 1.
struct scrn_dump_t {
    uint32_t palCount;
    uint32_t runCount;
    uint32_t dataCount;
    uint32_t* palette;
    uint16_t* runs;
    uint8_t* data;
};

// The frame buffer of the display controller: 1024 x 480 words, row y at
// word 1024 y, of which (0, 0)-(639, 479) is shown. Owned by the hardware
// (never freed by the drivers).
uint32_t* scrndrvFrameBuffer();
// Current value of layer register n (0 to 4); 0 for another n.
uint32_t scrndrvLayerRegister(unsigned layer);

int scrndrvFlush();
int scrndrvWaitFlush();
void scrndrvLayerEnable(unsigned layer);
void scrndrvLayerDisable(unsigned layer);
int scrndrvSetColor(uint32_t colour);

int scrndrvInit();
void scrndrvGetBootLogo(uint8_t** address, uint32_t* size);
int scrndrvInitDumpByMem(scrn_dump_t* dump, const uint8_t* start, const uint8_t* end);
int scrndrvInitDumpWithBootLogo(scrn_dump_t* dump);
int scrndrvLoadObj();
// Writes the image into the visible area and flushes; -1 (nothing drawn)
// when the dump is inconsistent.
int scrndrvDrawImg(scrn_dump_t* dump);
uint32_t scrndrvGetColorIdx(uint64_t bitPos, uint32_t bitCount, const uint8_t* data);
// Bits per run index for a palette of palCount colours (0 for 0 or 1).
uint32_t scrndrvIndexBits(uint32_t palCount);

int scrndrvDumpImg(const char* path);
int scrndrvWriteDump(const char* path, const scrn_dump_t* dump);
int scrndrvReadDump(const char* path, scrn_dump_t* dump);
int scrndrvLoadImg(const char* path);
// Frees the three arrays and zeroes the record.
void scrndrvFreeDump(scrn_dump_t* dump);

// Tests: forget the boot logo and the flood counters.
void scrndrvResetForTest();
