// L24logi: text in 1-bit fonts (plain and doubled) and in anti-aliased
// 4-bit fonts.
#include <algorithm>

#include "gui/draw/l24logi.h"

namespace {

// Bit of a 1-bit glyph strip; rows past the font's height read as clear.
inline bool glyphBit(const GuiFont* f, int col, int row)
{
    if (row < 0 || row >= f->height || !f->data) return false;
    return (f->data[size_t(row) * f->bytesPerRow + size_t(col >> 3)] >> (7 - (col & 7))) & 1;
}

// Nibble of a 4-bit glyph strip, high nibble at even pixel offsets.
inline unsigned glyphNibble(const GuiFont* f, int col, int row)
{
    if (row < 0 || row >= f->height || !f->data) return 0;
    uint8_t b = f->data[size_t(row) * f->bytesPerRow + size_t(col >> 1)];
    return (col & 1) ? (b & 0x0F) : (b >> 4);
}

// Walks the characters of a text as the text views do: `scale` screen
// pixels per glyph pixel; calls draw (font, glyph start, x, visible width)
// for each glyph that reaches the clip.
template <class Draw>
void forEachGlyph(GuiPoint point, const char* text, const GuiFont* font, int count, const GuiRect& clip, int scale,
                  Draw&& draw)
{
    int x = point.x;
    for (const char* p = text; *p && count != 0 && x <= clip.right; ++p) {
        if (count > 0) --count;
        unsigned c = static_cast<unsigned char>(*p);
        const GuiFont* f = font->FontFor(c);
        if (!f) continue;
        int width = f->GlyphWidth(c) * scale;
        width = std::min(width, clip.right - x + 1);
        if (x + width - 1 >= clip.left && width > 0) draw(f, f->GlyphStart(c), x, width);
        x += width;
    }
}

// A 1-bit text at `scale` screen pixels per glyph pixel, clipped to box.
void drawBitText(uint32_t* const* rows, GuiPoint point, const char* text, const GuiColor& colour,
                 const GuiFont* font, int count, const GuiRect& box, int scale)
{
    const uint32_t fg = colour.foreground, bg = colour.background;
    const bool fill = colour.flags & GUI_COLOR_FILL;
    forEachGlyph(point, text, font, count, box, scale, [&](const GuiFont* f, int start, int x, int width) {
        const int from = std::max(x, int(box.left));
        for (int row = box.top; row <= box.bottom; ++row) {
            uint32_t* line = rows[row];
            // Rows above the text are no glyph row (division rounds
            // towards zero and would give row 0 there).
            const int gy = row < point.y ? -1 : (row - point.y) / scale;
            for (int px = from; px < x + width; ++px) {
                if (glyphBit(f, start + (px - x) / scale, gy))
                    line[px] = fg;
                else if (fill)
                    line[px] = bg;
            }
        }
    });
}

}  // namespace

void L24logi::DrawTextView(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                           GuiRect& clip)
{
    DrawTextScaled(point, text, colour, font, count, clip, 1);
}

void L24logi::DrawTextViewDouble(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font,
                                 int count, GuiRect& clip)
{
    DrawTextScaled(point, text, colour, font, count, clip, 2);
}

void L24logi::DrawTextScaled(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                             GuiRect& clip, int scale)
{
    if (!text || !font) return;
    if (font->type & GUI_FONT_ALIASED) {   // 4-bit glyphs are not scaled
        DrawAliasedText(point, text, colour, font, count, clip);
        return;
    }
    const GuiRect box = clip & TargetRect();
    if (box.IsEmpty()) return;
    drawBitText(mppRows, point, text, colour, font, count, box, scale);
}

void L24logi::DrawAliasedText(GuiPoint point, const char* text, GuiColor& colour, const GuiFont* font, int count,
                              GuiRect& clip)
{
    if (!text || !font) return;
    const GuiRect box = clip & TargetRect();
    if (box.IsEmpty()) return;
    // Ramp from the foreground (entry 0) to the background (entry 15), per
    // colour byte.
    uint32_t ramp[16];
    const uint32_t fg = colour.foreground & 0xFFFFFFu, bg = colour.background & 0xFFFFFFu;
    ramp[0] = fg;
    ramp[15] = bg;
    for (int k = 1; k < 15; ++k) {
        uint32_t word = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            int f = int((fg >> shift) & 0xFF), b = int((bg >> shift) & 0xFF);
            int v = f + ((k * (b - f)) >> 4);
            word |= uint32_t(v & 0xFF) << shift;
        }
        ramp[k] = word;
    }
    forEachGlyph(point, text, font, count, box, 1, [&](const GuiFont* f, int start, int x, int width) {
        const int from = std::max(x, int(box.left));
        for (int row = box.top; row <= box.bottom; ++row) {
            uint32_t* line = mppRows[row];
            const int gy = row - point.y;
            for (int px = from; px < x + width; ++px) line[px] = ramp[15 - glyphNibble(f, start + (px - x), gy)];
        }
    });
}
