// Unpacking and choice of the display fonts.
#include "display/fonts/korva_fonts.h"

#include <cstdlib>

#include "gui/core/gui_thing.h"
#include "gui/image/gui_zip.h"
#include "platform/syslogx.h"

namespace {

struct PackedFont {
    GuiFont* font;
    const uint8_t* packed;
    const char* noMemory;
    const char* noUnzip;
    uint8_t* strip;   // heap copy of the unpacked glyphs, null until made
};

PackedFont gFonts[] = {
    {&KorvaTiny, KorvaTiny_data_table, "KorvaFonts_ini: not enough memory for tiny font",
     "KorvaFonts_ini: tiny font cannot unzip", nullptr},
    {&KorvaSmall, KorvaSmall_data_table, "KorvaFonts_ini: not enough memory for small font",
     "KorvaFonts_ini: small font cannot unzip", nullptr},
    {&KorvaNormal, KorvaNormal_data_table, "KorvaFonts_ini: not enough memory for normal font",
     "KorvaFonts_ini: normal font cannot unzip", nullptr},
    {&KorvaLarge, KorvaLarge_data_table, "KorvaFonts_ini: not enough memory for large font",
     "KorvaFonts_ini: large font cannot unzip", nullptr},
    {&KorvaXLarge, KorvaXLarge_data_table, "KorvaFonts_ini: not enough memory for extralarge font",
     "KorvaFonts_ini: extra large font cannot unzip", nullptr},
    {&KorvaXXLarge, KorvaXXLarge_data_table, "KorvaFonts_ini: not enough memory for XXLarge font",
     "KorvaFonts_ini: XXLarge font cannot unzip", nullptr},
};

bool unpack(PackedFont& p)
{
    const uint32_t size = uint32_t(p.font->bytesPerRow) * p.font->height;
    auto* strip = static_cast<uint8_t*>(std::malloc(size));
    if (!strip) {
        syslogx(147, "%s", p.noMemory);
        return false;
    }
    const uint32_t packedLength = uint32_t(p.packed[0]) | uint32_t(p.packed[1]) << 8 |
                                  uint32_t(p.packed[2]) << 16 | uint32_t(p.packed[3]) << 24;
    uint32_t length = size;
    // A stream that does not fill the strip exactly is as unusable as one
    // that does not inflate: a partly filled strip would draw garbage.
    if (GuiUnzip(strip, &length, p.packed + 4, packedLength) != 0 || length != size) {
        std::free(strip);
        syslogx(147, "%s", p.noUnzip);
        return false;
    }
    p.strip = strip;
    p.font->data = strip;
    return true;
}

}  // namespace

int KorvaFonts_ini(void)
{
    for (PackedFont& p : gFonts) {
        if (p.strip) continue;
        if (!unpack(p)) return -1;
    }
    return 0;
}

void KorvaFonts_release(void)
{
    for (PackedFont& p : gFonts) {
        p.font->data = nullptr;
        std::free(p.strip);
        p.strip = nullptr;
    }
}

const GuiFont* Korva_getFont(FontSizeType_t size)
{
    const GuiFont* f;
    switch (size) {
    case FONT_SMALL: f = &KorvaSmall; break;
    case FONT_NORMAL: f = &KorvaNormal; break;
    case FONT_LARGE: f = &KorvaLarge; break;
    case FONT_EXTRALARGE: f = &KorvaXLarge; break;
    case FONT_XXLARGE:
    case FONT_XXXLARGE: f = &KorvaXXLarge; break;
    default: f = &KorvaTiny; break;
    }
    return f->data ? f : &SysFont;
}

int KorvaFonts_isDouble(FontSizeType_t size) { return size == FONT_XXXLARGE ? 1 : 0; }
