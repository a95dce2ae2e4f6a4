// Text in the test fonts: 1-bit plain and doubled, chained fonts and
// anti-aliased glyphs.
#include <cstring>

#include "gui/gui_test_font.h"
#include "gui/draw/test_draw_fixture.h"

namespace {

constexpr uint32_t kFg = 0x102030;
constexpr uint32_t kBg = 0x405060;

// Glyph widths of the test fonts, as drawn side by side.
int Advance(char c) { return c == '1' ? 3 : c >= 'A' ? 6 : 5; }

}  // namespace

class TextTest : public DrawTest {
protected:
    // Checks the text's box against the glyph art: set pixels in the
    // foreground, clear ones in the background or untouched.
    void ExpectText(const char* text, int x0, int y0, int height, bool filled, int scale = 1) {
        int x = x0;
        for (const char* p = text; *p; ++p) {
            for (int y = 0; y < height * scale; ++y)
                for (int i = 0; i < Advance(*p) * scale; ++i) {
                    const bool set = GuiTestFontPixel(*p, i / scale, y / scale);
                    const uint32_t want = set ? kFg : filled ? kBg : kUntouched;
                    ASSERT_EQ(Px(x + i, y0 + y), want) << *p << " at " << i << "," << y;
                }
            x += Advance(*p) * scale;
        }
    }
};

TEST_F(TextTest, WidthAndHeightOverTheFontChain)
{
    EXPECT_EQ(screen->TextWidth("0123", &GuiTestFont, -1), 5 + 3 + 5 + 5);
    EXPECT_EQ(screen->TextWidth("1xA", &GuiTestFont, -1), 3 + 6);   // 'x' is in no font
    EXPECT_EQ(screen->TextWidth("1xA", &GuiTestFont, 2), 3);
    EXPECT_EQ(screen->TextWidth("12", &GuiTestFont, 0), 0);
    EXPECT_EQ(screen->TextWidth(nullptr, &GuiTestFont, -1), 0);
    EXPECT_EQ(screen->TextWidth("12", nullptr, -1), 0);
    EXPECT_EQ(screen->TextHeight("", &GuiTestFont), 9);   // the chained font is taller
    EXPECT_EQ(screen->TextHeight("", nullptr), 0);
}

TEST_F(TextTest, OneBitTextWithAndWithoutBackground)
{
    GuiColor plain{kFg, kBg, 0};
    GuiColor filled{kFg, kBg, GUI_COLOR_FILL};
    Paint(root, [&] {
        screen->DrawText(root, GuiPoint{10, 10}, "0147", plain, &GuiTestFont, -1, 0);
        screen->DrawText(root, GuiPoint{10, 30}, "2AB9", filled, &GuiTestFont, -1, 0);
    });
    ExpectText("0147", 10, 10, 7, false);
    // Digits are 7 rows high; in a box of the chain's 9 rows their two
    // lower rows are background.
    ExpectText("2AB9", 10, 30, 9, true);
    // Nothing outside the two boxes; the first one only where glyphs are set.
    EXPECT_EQ(Changed(), Count(GuiRect(10, 10, 27, 16), kFg) + (5 + 6 + 6 + 5) * 9);
}

TEST_F(TextTest, CountLimitsTheCharactersAndClipCutsGlyphs)
{
    GuiColor filled{kFg, kBg, GUI_COLOR_FILL};
    Paint(root, [&] {
        screen->DrawText(root, GuiPoint{10, 10}, "88", filled, &GuiTestFont, 0, 0);
        screen->DrawText(root, GuiPoint{10, 30}, "88", filled, &GuiTestFont, 1, 0);
    });
    EXPECT_EQ(Count(GuiRect(0, 0, 1023, 25), kUntouched), 1024 * 26);
    EXPECT_EQ(Changed(), 5 * 9);
    // Only the middle columns 2..6 of "88" are repainted.
    std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    Paint(root, GuiRect(12, 0, 16, 479), [&] {
        screen->DrawText(root, GuiPoint{10, 10}, "88", filled, &GuiTestFont, -1, 0);
    });
    EXPECT_EQ(Changed(), 5 * 9);
    for (int x = 12; x <= 16; ++x)
        for (int y = 0; y < 7; ++y)
            EXPECT_EQ(Px(x, 10 + y), GuiTestFontPixel('8', (x - 10) % 5, y) ? kFg : kBg);
}

TEST_F(TextTest, DoubledTextScalesEveryGlyphPixel)
{
    GuiColor plain{kFg, kBg, 0};
    Paint(root, [&] { screen->DrawText(root, GuiPoint{50, 50}, "31", plain, &GuiTestFont, -1, 1); });
    ExpectText("31", 50, 50, 7, false, 2);
    // A view reaching above the text paints nothing there.
    std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    GuiRect above(50, 40, 70, 49);
    screen->DrawTextViewDouble(GuiPoint{50, 50}, "31", plain, &GuiTestFont, -1, above);
    EXPECT_EQ(Changed(), 0);
}

TEST_F(TextTest, AliasedTextPaintsARampAndTheBackground)
{
    GuiColor c{0x000000, 0xFFFFFF, 0};
    Paint(root, [&] { screen->DrawText(root, GuiPoint{20, 20}, "7", c, &GuiTestFontAliased, -1, 0); });
    // Row 0 of '7' is "#####": all foreground. Row 2 "...#.": x 3 set,
    // x 4 at half strength, x 0..2 background.
    EXPECT_EQ(Count(GuiRect(20, 20, 24, 20), 0x000000), 5);
    EXPECT_EQ(Px(23, 22), 0x000000u);
    EXPECT_EQ(Px(24, 22), 0x6F6F6Fu);   // ramp entry 7: 0 + (7 x 255) >> 4
    EXPECT_EQ(Count(GuiRect(20, 22, 22, 22), 0xFFFFFF), 3);
    EXPECT_EQ(Changed(), 5 * 7);
}
