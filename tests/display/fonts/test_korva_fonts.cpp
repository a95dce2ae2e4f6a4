// The display fonts unpack into strips that match their records, are chosen
// by font size, and a font that is not unpacked is never handed out.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/fonts/korva_fonts.h"
#include "gui/core/gui_thing.h"
#include "gui/image/gui_zip.h"

namespace {

class KorvaFonts : public ::testing::Test {
protected:
    void TearDown() override { KorvaFonts_release(); }
};

TEST_F(KorvaFonts, UnpackIntoStripsOfTheRecordsSizes) {
    const GuiFont* fonts[] = {&KorvaTiny, &KorvaSmall, &KorvaNormal, &KorvaLarge, &KorvaXLarge, &KorvaXXLarge};
    const int heights[] = {27, 49, 64, 86, 167, 200};
    for (const GuiFont* f : fonts) EXPECT_EQ(f->data, nullptr);
    ASSERT_EQ(KorvaFonts_ini(), 0);
    for (int i = 0; i < 6; ++i) {
        const GuiFont* f = fonts[i];
        SCOPED_TRACE(heights[i]);
        ASSERT_NE(f->data, nullptr);
        EXPECT_EQ(f->height, heights[i]);
        EXPECT_EQ(f->ascent, heights[i]);
        EXPECT_EQ(f->descent, 0);
        EXPECT_EQ(f->type, KORVA_FONT_TYPE);
        EXPECT_EQ(f->first, 0);
        EXPECT_EQ(f->last, 255);
        // The offsets run through the whole strip, and digits have ink.
        EXPECT_LE(f->offsets.table[256], f->bytesPerRow * 8);
        EXPECT_GT(f->GlyphWidth('0'), 0);
        int ink = 0;
        for (int y = 0; y < f->height; ++y)
            for (int x = f->GlyphStart('8'); x < f->GlyphStart('8') + f->GlyphWidth('8'); ++x)
                ink += (f->data[size_t(y) * f->bytesPerRow + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
        EXPECT_GT(ink, f->height);
    }
    const uint8_t* tiny = KorvaTiny.data;
    EXPECT_EQ(KorvaFonts_ini(), 0);   // again: kept
    EXPECT_EQ(KorvaTiny.data, tiny);
}

TEST_F(KorvaFonts, PackedTablesAreLengthWordThenZlibStream) {
    const uint8_t* t = KorvaNormal_data_table;
    const uint32_t len = uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
    uint32_t unpacked = 0;
    ASSERT_EQ(GuiUnzip(nullptr, &unpacked, t + 4, len), 0);
    EXPECT_EQ(unpacked, uint32_t(KorvaNormal.bytesPerRow) * KorvaNormal.height);
    // The stream cut short does not unpack.
    std::vector<uint8_t> strip(unpacked);
    uint32_t n = unpacked;
    EXPECT_NE(GuiUnzip(strip.data(), &n, t + 4, len / 2), 0);
}

TEST_F(KorvaFonts, ChosenByFontSizeWithSysFontInPlaceOfOneNotUnpacked) {
    EXPECT_EQ(Korva_getFont(FONT_SMALL), &SysFont);   // not unpacked yet
    ASSERT_EQ(KorvaFonts_ini(), 0);
    EXPECT_EQ(Korva_getFont(FONT_TINY), &KorvaTiny);
    EXPECT_EQ(Korva_getFont(FONT_SMALL), &KorvaSmall);
    EXPECT_EQ(Korva_getFont(FONT_NORMAL), &KorvaNormal);
    EXPECT_EQ(Korva_getFont(FONT_LARGE), &KorvaLarge);
    EXPECT_EQ(Korva_getFont(FONT_EXTRALARGE), &KorvaXLarge);
    EXPECT_EQ(Korva_getFont(FONT_XXLARGE), &KorvaXXLarge);
    EXPECT_EQ(Korva_getFont(FONT_XXXLARGE), &KorvaXXLarge);
    EXPECT_EQ(Korva_getFont(FontSizeType_t(7)), &KorvaTiny);
    EXPECT_EQ(Korva_getFont(FontSizeType_t(0xFFFFFFFF)), &KorvaTiny);
    EXPECT_EQ(KorvaFonts_isDouble(FONT_XXXLARGE), 1);
    EXPECT_EQ(KorvaFonts_isDouble(FONT_XXLARGE), 0);
    KorvaFonts_release();
    EXPECT_EQ(Korva_getFont(FONT_LARGE), &SysFont);
}

}  // namespace
