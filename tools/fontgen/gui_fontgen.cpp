// Makes 1-bit fonts from a TrueType font with FreeType: the GUI library's
// built-in fonts (SysFont, MenuFont) and, with --packed, the display's fonts
// (KorvaTiny ... KorvaXXLarge), whose glyph strip is kept deflated and is
// unpacked with GuiUnzip when the display starts. Run by hand when the fonts
// are to change; the generated sources are committed and the build does not
// run this.
//
// Build and run (from the repository root):
//   g++ -std=c++20 -O2 tools/fontgen/gui_fontgen.cpp -o /tmp/gui_fontgen $(pkg-config --cflags --libs freetype2 zlib)
//   D=/usr/share/fonts/truetype/dejavu
//   /tmp/gui_fontgen $D/DejaVuSans-Bold.ttf SysFont 16 modules/gui/core/fonts/gui_font_sys.cpp
//   /tmp/gui_fontgen $D/DejaVuSans.ttf MenuFont 13 modules/gui/core/fonts/gui_font_menu.cpp
//   F=modules/display/fonts
//   /tmp/gui_fontgen --packed $D/DejaVuSans.ttf KorvaTiny 27 $F/korva_tiny.cpp
//   /tmp/gui_fontgen --packed $D/DejaVuSans-Bold.ttf KorvaSmall 49 $F/korva_small.cpp
//   /tmp/gui_fontgen --packed $D/DejaVuSans-Bold.ttf KorvaNormal 64 $F/korva_normal.cpp
//   /tmp/gui_fontgen --packed $D/DejaVuSans-Bold.ttf KorvaLarge 86 $F/korva_large.cpp
//   /tmp/gui_fontgen --packed $D/DejaVuSans-Bold.ttf KorvaXLarge 167 $F/korva_xlarge.cpp
//   /tmp/gui_fontgen --packed $D/DejaVuSans-Bold.ttf KorvaXXLarge 200 $F/korva_xxlarge.cpp
//
// A built-in font holds the characters 0x20 to 0xFF, a packed one 0x00 to
// 0xFF, in the Windows-1252 layout; the codes below 0x20 and the codes that
// layout leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) are blanks as wide
// as a space. Glyphs are rendered without anti-aliasing at the largest pixel
// size whose ascent and descent fit the height.
//
// A packed font's data table is its deflated length as a 32-bit
// little-endian word followed by the zlib stream of the strip.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned kLast = 0xFF;

// Windows-1252 0x80..0x9F; 0 = undefined.
constexpr unsigned kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned unicodeOf(unsigned c)
{
    if (c < 0x20) return 0;
    return (c >= 0x80 && c <= 0x9F) ? kCp1252High[c - 0x80] : c;
}

struct Glyph {
    int width = 0;
    std::vector<std::vector<bool>> rows;   // height rows of width pixels
};

int fail(const char* what)
{
    std::fprintf(stderr, "gui_fontgen: %s\n", what);
    return 1;
}

void writeBytes(FILE* f, const unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) std::fprintf(f, "%s0x%02X,", i % 16 == 0 ? "\n    " : " ", p[i]);
}

void writeOffsets(FILE* f, const char* type, const std::string& table, const std::vector<unsigned>& offsets)
{
    std::fprintf(f, "// Start of each glyph in the strip, in pixels; one more for the end.\n");
    std::fprintf(f, "%s %s[%zu] = {", type, table.c_str(), offsets.size());
    for (size_t i = 0; i < offsets.size(); ++i)
        std::fprintf(f, "%s%u,", i % 16 == 0 ? "\n    " : " ", offsets[i]);
    std::fprintf(f, "\n};\n\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const bool packed = argc == 6 && std::string(argv[1]) == "--packed";
    if (packed) ++argv, --argc;
    if (argc != 5) return fail("usage: gui_fontgen [--packed] <font.ttf> <name> <height> <out.cpp>");
    const std::string ttf = argv[1], name = argv[2], out = argv[4];
    const int height = std::atoi(argv[3]);
    const int maxHeight = packed ? 255 : 64;
    if (height < 4 || height > maxHeight) return fail("height out of range");
    const unsigned kFirst = packed ? 0x00 : 0x20;

    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib)) return fail("FreeType does not start");
    if (FT_New_Face(lib, ttf.c_str(), 0, &face)) return fail("cannot open the font");

    // The largest size whose ascent and descent fit the height.
    int ascent = 0, descent = 0;
    for (int ppem = height; ppem > 3; --ppem) {
        FT_Set_Pixel_Sizes(face, 0, FT_UInt(ppem));
        ascent = int((face->size->metrics.ascender + 63) >> 6);
        descent = int((-face->size->metrics.descender + 63) >> 6);
        if (ascent + descent <= height) break;
    }
    descent = height - ascent;

    std::vector<Glyph> glyphs;
    int spaceWidth = 0;
    for (unsigned c = kFirst; c <= kLast; ++c) {
        Glyph g;
        g.rows.assign(size_t(height), {});
        const unsigned u = unicodeOf(c);
        if (u == 0 || FT_Load_Char(face, u, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME)) {
            g.width = spaceWidth;
            for (auto& r : g.rows) r.assign(size_t(g.width), false);
            glyphs.push_back(g);
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bm = slot->bitmap;
        const int left = std::max(0, int(slot->bitmap_left));
        g.width = std::max(int((slot->advance.x + 32) >> 6), left + int(bm.width));
        g.width = std::max(g.width, 1);
        if (c == ' ') spaceWidth = g.width;
        for (auto& r : g.rows) r.assign(size_t(g.width), false);
        for (unsigned y = 0; y < bm.rows; ++y) {
            const int row = ascent - slot->bitmap_top + int(y);
            if (row < 0 || row >= height) continue;
            const unsigned char* src = bm.buffer + ptrdiff_t(y) * bm.pitch;
            for (unsigned x = 0; x < bm.width; ++x)
                if (src[x >> 3] & (0x80 >> (x & 7))) g.rows[size_t(row)][size_t(left) + x] = true;
        }
        glyphs.push_back(g);
    }

    std::vector<unsigned> offsets{0};
    for (const Glyph& g : glyphs) offsets.push_back(offsets.back() + unsigned(g.width));
    const unsigned total = offsets.back();
    const unsigned bytesPerRow = (total + 7) / 8;
    std::vector<unsigned char> strip(size_t(bytesPerRow) * size_t(height), 0);
    for (size_t i = 0; i < glyphs.size(); ++i)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < glyphs[i].width; ++x)
                if (glyphs[i].rows[size_t(y)][size_t(x)]) {
                    const unsigned col = offsets[i] + unsigned(x);
                    strip[size_t(y) * bytesPerRow + col / 8] |= uint8_t(0x80 >> (col % 8));
                }

    FILE* f = std::fopen(out.c_str(), "w");
    if (!f) return fail("cannot write the output");
    const std::string from = ttf.substr(ttf.find_last_of('/') + 1);
    if (packed) {
        uLongf zlen = compressBound(uLong(strip.size()));
        std::vector<unsigned char> z(zlen + 4);
        if (compress2(z.data() + 4, &zlen, strip.data(), uLong(strip.size()), 9) != Z_OK)
            return fail("cannot deflate the strip");
        for (int i = 0; i < 4; ++i) z[size_t(i)] = uint8_t(zlen >> (8 * i));
        z.resize(zlen + 4);
        std::fprintf(f,
                     "// %s: display font, %d pixels high, characters 0x00 to 0xFF\n"
                     "// (Windows-1252), made by tools/fontgen/gui_fontgen.cpp --packed from %s.\n"
                     "// Generated: edit the generator, not this file.\n"
                     "#include \"display/fonts/korva_fonts.h\"\n\n",
                     name.c_str(), height, from.c_str());
        writeOffsets(f, "const uint16_t", name + "_offset_table", offsets);
        std::fprintf(f, "// Deflated length (32-bit little-endian), then the zlib stream of %d rows\n"
                        "// of %u bytes (%zu bytes unpacked), most significant bit first.\n",
                     height, bytesPerRow, strip.size());
        std::fprintf(f, "const uint8_t %s_data_table[%zu] = {", name.c_str(), z.size());
        writeBytes(f, z.data(), z.size());
        std::fprintf(f, "\n};\n\n");
        std::fprintf(f,
                     "// Glyph data null until KorvaFonts_ini has unpacked the strip.\n"
                     "GuiFont %s = {KORVA_FONT_TYPE, %d, 0, %d, %u, 0x%02X, 0x%02X, {.table = %s_offset_table},\n"
                     "              nullptr, nullptr};\n",
                     name.c_str(), height, height, bytesPerRow, kFirst, kLast, name.c_str());
    } else {
        std::fprintf(f,
                     "// %s: built-in 1-bit font of the GUI library, %d pixels high, characters\n"
                     "// 0x%02X to 0x%02X (Windows-1252), made by tools/fontgen/gui_fontgen.cpp from\n"
                     "// %s. Generated: edit the generator, not this file.\n"
                     "#include \"gui/core/gui_thing.h\"\n\nnamespace {\n\n",
                     name.c_str(), height, kFirst, kLast, from.c_str());
        writeOffsets(f, "const uint16_t", "kOffsets", offsets);
        std::fprintf(f, "// %d rows of %u bytes, most significant bit first.\n", height, bytesPerRow);
        std::fprintf(f, "const uint8_t kStrip[%zu] = {", strip.size());
        writeBytes(f, strip.data(), strip.size());
        std::fprintf(f, "\n};\n\n}  // namespace\n\n");
        std::fprintf(f,
                     "const GuiFont %s = {GUI_FONT_VARIABLE, %d, %d, %d, %u, 0x%02X, 0x%02X, {.table = kOffsets}, nullptr,\n"
                     "                    kStrip};\n",
                     name.c_str(), ascent, descent, height, bytesPerRow, kFirst, kLast);
    }
    std::fclose(f);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return 0;
}
