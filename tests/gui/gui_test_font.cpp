// Glyph art of the test fonts, turned into glyph strips at start-up.
#include "gui/gui_test_font.h"

#include <cstring>

namespace {

constexpr int kDigitH = 7;
constexpr int kHexH = 9;
constexpr int kHexW = 6;

// '#' set, '.' clear; the digits are 5 wide except '1'.
constexpr const char* kDigits[10][kDigitH] = {
    {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."},
    {".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"},
    {".###.", "#...#", "....#", "..##.", ".#...", "#....", "#####"},
    {"####.", "....#", "....#", ".###.", "....#", "....#", "####."},
    {"#..#.", "#..#.", "#..#.", "#####", "...#.", "...#.", "...#."},
    {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."},
    {".###.", "#....", "#....", "####.", "#...#", "#...#", ".###."},
    {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."},
    {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."},
    {".###.", "#...#", "#...#", ".####", "....#", "....#", ".###."},
};

constexpr const char* kHex[6][kHexH] = {
    {"..##..", ".#..#.", "#....#", "#....#", "######", "#....#", "#....#", "......", "......"},
    {"#####.", "#....#", "#....#", "#####.", "#....#", "#....#", "#####.", "......", "......"},
    {".####.", "#....#", "#.....", "#.....", "#.....", "#....#", ".####.", "......", "......"},
    {"####..", "#...#.", "#....#", "#....#", "#....#", "#...#.", "####..", "......", "......"},
    {"######", "#.....", "#.....", "####..", "#.....", "#.....", "######", "......", "......"},
    {"######", "#.....", "#.....", "####..", "#.....", "#.....", "#.....", "......", "......"},
};

constexpr int digitWidth(int d) { return d == 1 ? 3 : 5; }

constexpr int kDigitStripW = 9 * 5 + 3;
constexpr int kDigitBytes = (kDigitStripW + 7) / 8;
constexpr int kHexBytes = (6 * kHexW + 7) / 8;
constexpr int kAliasedBytes = (kDigitStripW + 1) / 2;

uint16_t gDigitOffsets[11];
uint8_t gDigitStrip[kDigitBytes * kDigitH];
uint8_t gHexStrip[kHexBytes * kHexH];
uint8_t gAliasedStrip[kAliasedBytes * kDigitH];

void setBit(uint8_t* strip, int bytesPerRow, int x, int y)
{
    strip[y * bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
}

void setNibble(uint8_t* strip, int bytesPerRow, int x, int y, unsigned v)
{
    uint8_t& b = strip[y * bytesPerRow + x / 2];
    b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
}

struct Builder {
    Builder() {
        int x = 0;
        for (int d = 0; d < 10; ++d) {
            gDigitOffsets[d] = uint16_t(x);
            for (int y = 0; y < kDigitH; ++y)
                for (int i = 0; i < digitWidth(d); ++i) {
                    bool set = kDigits[d][y][i] == '#';
                    bool leftSet = i > 0 && kDigits[d][y][i - 1] == '#';
                    if (set) setBit(gDigitStrip, kDigitBytes, x + i, y);
                    setNibble(gAliasedStrip, kAliasedBytes, x + i, y, set ? 15 : leftSet ? 8 : 0);
                }
            x += digitWidth(d);
        }
        gDigitOffsets[10] = uint16_t(x);
        for (int c = 0; c < 6; ++c)
            for (int y = 0; y < kHexH; ++y)
                for (int i = 0; i < kHexW; ++i)
                    if (kHex[c][y][i] == '#') setBit(gHexStrip, kHexBytes, c * kHexW + i, y);
    }
};
Builder gBuilder;

}  // namespace

const GuiFont GuiTestFontHex = {
    0, kHexH, 0, kHexH, kHexBytes, 'A', 'F', GuiFontOffsets{.fixedWidth = kHexW}, nullptr, gHexStrip};

const GuiFont GuiTestFont = {
    GUI_FONT_VARIABLE, kDigitH, 0, kDigitH, kDigitBytes, '0', '9', GuiFontOffsets{gDigitOffsets},
    &GuiTestFontHex, gDigitStrip};

const GuiFont GuiTestFontAliased = {
    GUI_FONT_VARIABLE | GUI_FONT_ALIASED, kDigitH, 0, kDigitH, kAliasedBytes, '0', '9',
    GuiFontOffsets{gDigitOffsets}, nullptr, gAliasedStrip};

bool GuiTestFontPixel(char c, int x, int y)
{
    if (c >= '0' && c <= '9') {
        int d = c - '0';
        if (x < 0 || x >= digitWidth(d) || y < 0 || y >= kDigitH) return false;
        return kDigits[d][y][x] == '#';
    }
    if (c >= 'A' && c <= 'F') {
        if (x < 0 || x >= kHexW || y < 0 || y >= kHexH) return false;
        return kHex[c - 'A'][y][x] == '#';
    }
    return false;
}
