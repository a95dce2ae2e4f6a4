// A screen area as a Windows BMP image in memory (uncompressed, rows
// bottom-up, each padded to a multiple of 4 bytes).
#include <cstring>
#include <new>

#include "gui/draw/gui_screen.h"

namespace {

void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

}  // namespace

unsigned char* GuiScreen::DumpWindowsBitmap(unsigned long* size, GuiRect& area)
{
    if (size) *size = 0;
    GuiCapture cap;
    if (!Capture(&cap, area) || !cap.valid) return nullptr;

    const int w = cap.bitmap.width;
    const int h = cap.bitmap.height;
    const int bpp = cap.bitmap.bitsPerPixel;
    uint32_t rowBytes = 0;
    uint32_t paletteEntries = 0;
    switch (bpp) {
    case 1: rowBytes = uint32_t(w + 7) / 8; paletteEntries = 2; break;
    case 2:
    case 4: rowBytes = uint32_t(w + 1) / 2; paletteEntries = 16; break;
    case 8: rowBytes = uint32_t(w); paletteEntries = 256; break;
    case 16: rowBytes = 2u * uint32_t(w); break;
    case 24: rowBytes = 3u * uint32_t(w); break;
    case 32: rowBytes = 4u * uint32_t(w); break;
    default: return nullptr;
    }
    const uint32_t offset = 54 + 4 * paletteEntries;
    const uint32_t padded = (rowBytes + 3) & ~3u;
    const uint32_t total = offset + padded * uint32_t(h);
    unsigned char* buf = new (std::nothrow) unsigned char[total];
    if (!buf) return nullptr;
    std::memset(buf, 0, total);

    // File header, then the information header.
    buf[0] = 'B';
    buf[1] = 'M';
    put32(buf + 2, total);
    put32(buf + 10, offset);
    put32(buf + 14, 40);
    put32(buf + 18, uint32_t(w));
    put32(buf + 22, uint32_t(h));
    put16(buf + 26, 1);
    put16(buf + 28, uint32_t(bpp == 2 ? 4 : bpp));
    put32(buf + 30, 0);
    put32(buf + 34, total - offset);
    put32(buf + 46, paletteEntries);
    put32(buf + 50, paletteEntries);

    if (paletteEntries) {
        unsigned long count = 0;
        const unsigned char* pal = GetPalette(&count);
        uint32_t real = bpp == 2 ? 4 : paletteEntries;
        for (uint32_t i = 0; pal && i < real && i < count; ++i) {
            uint8_t* e = buf + 54 + 4 * i;
            e[0] = pal[3 * i + 2];
            e[1] = pal[3 * i + 1];
            e[2] = pal[3 * i];
        }
    }

    const uint8_t* src = cap.bitmap.data;
    const uint32_t srcRow = uint32_t(w) * uint32_t((bpp + 7) / 8);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = src + size_t(y) * srcRow;
        uint8_t* d = buf + offset + size_t(h - 1 - y) * padded;
        if (bpp == 32) {
            // 0x00RRGGBB words lie in memory as blue, green, red, 0: the
            // BMP's own byte order.
            std::memcpy(d, s, rowBytes);
        } else if (bpp == 16) {
            for (int x = 0; x < w; ++x) {
                uint32_t p = uint32_t(s[2 * x]) | uint32_t(s[2 * x + 1]) << 8;
                put16(d + 2 * x, (p & 0x1F) | ((p >> 1) & 0x7FE0));
            }
        }
        // Other depths are never captured from this screen; their rows stay 0.
    }
    if (size) *size = total;
    return buf;   // the capture's buffer goes with `cap`
}

unsigned char* GuiScreen::DumpWindowsBitmap(unsigned int* size, GuiRect area)
{
    unsigned long n = 0;
    unsigned char* buf = DumpWindowsBitmap(&n, area);
    if (size) *size = static_cast<unsigned int>(n);
    return buf;
}
