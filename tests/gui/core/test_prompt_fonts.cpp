// Prompts by pixels (alignment, double size, transparency, the selected
// look) in both fonts, and every glyph of the built-in fonts through
// DrawText against their offset tables.
#include <gtest/gtest.h>

#include <string>

#include "gui/core/gui_prompt.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "log_capture.h"

namespace {

using GuiPromptTest = GuiRuntimeTest;
constexpr uint32_t kInk = 0x000000, kPaper = 0xFFFFFF, kGreen = 0x00A000;

RecWindow* Host(GuiPresentationManager* pm)
{
    auto* w = new RecWindow(GuiRect(0, 0, 639, 479));
    w->SetColor(0, kGreen);
    pm->Add(w, 1);
    return w;
}

void Drop(GuiWindow* w, GuiPrompt* p)
{
    w->Remove(p, 1);
    delete p;
}

GuiPrompt* Prompt(GuiWindow* w, int y, unsigned short style, const GuiFont* font, int doubled = 0)
{
    auto* p = new GuiPrompt(GuiRect(10, y, 409, y + 39), "Wide 0", 0, style, doubled);
    p->mpFont = font;
    w->Add(p, 1);
    return p;
}

TEST_F(GuiPromptTest, TextIsAlignedLeftCentredOrRightInBothFonts)
{
    RecWindow* w = Host(pm);
    for (const GuiFont* font : {&SysFont, &MenuFont}) {
        const int tw = GuiThing::mpScreen->TextWidth("Wide 0", font, -1);
        GuiPrompt* left = Prompt(w, 10, GST_FRAME_NONE | GST_TEXT_LEFT, font);
        GuiPrompt* centre = Prompt(w, 60, GST_FRAME_NONE, font);
        GuiPrompt* right = Prompt(w, 110, GST_FRAME_NONE | GST_TEXT_RIGHT, font);
        // Glyph bearings leave at most a pixel or two inside the advance.
        GuiRect ink = InkBox(left->mOuter, kInk);
        EXPECT_GE(ink.left, 11);
        EXPECT_LE(ink.left, 13);
        ink = InkBox(right->mOuter, kInk);
        EXPECT_LE(ink.right, 408);
        EXPECT_GE(ink.right, 408 - 3);
        ink = InkBox(centre->mOuter, kInk);
        EXPECT_NEAR(ink.left - 10, 409 - ink.right, 4);
        EXPECT_LE(ink.right - ink.left + 1, tw);
        // Centred vertically in the 40-pixel box.
        EXPECT_NEAR(ink.top - 60 + 1, 60 + 39 - ink.bottom + (font->descent - 1), font->height / 2);
        EXPECT_EQ(CountColour(left->mOuter, kPaper) + CountColour(left->mOuter, kInk), 400 * 40);
        for (GuiPrompt* p : {left, centre, right}) Drop(w, p);
    }
}

TEST_F(GuiPromptTest, DoubleSizeAndTransparentPrompts)
{
    RecWindow* w = Host(pm);
    for (const GuiFont* font : {&SysFont, &MenuFont}) {
        GuiPrompt* plain = Prompt(w, 10, GST_FRAME_NONE | GST_TEXT_LEFT, font);
        GuiPrompt* doubled = Prompt(w, 100, GST_FRAME_NONE | GST_TEXT_LEFT, font, 1);
        const GuiRect a = InkBox(plain->mOuter, kInk), b = InkBox(doubled->mOuter, kInk);
        EXPECT_EQ(b.Width(), 2 * a.Width());
        EXPECT_EQ(b.Height(), 2 * a.Height());
        EXPECT_EQ(CountColour(doubled->mOuter, kInk), 4 * CountColour(plain->mOuter, kInk));

        // Transparent with no frame: the window's green stays around the text.
        GuiPrompt* clear = Prompt(w, 200, GST_FRAME_NONE | GST_TRANSPARENT | GST_TEXT_LEFT, font);
        EXPECT_EQ(CountColour(clear->mOuter, kPaper), 0);
        EXPECT_EQ(CountColour(clear->mOuter, kInk), CountColour(plain->mOuter, kInk));
        EXPECT_EQ(CountColour(clear->mOuter, kGreen) + CountColour(clear->mOuter, kInk), 400 * 40);
        for (GuiPrompt* p : {plain, doubled, clear}) Drop(w, p);
    }

    // Sized by its text: twice as wide and high (plus 2) at double size.
    GuiPrompt small(10, 10, "Wide 0", 0, GST_FRAME_NONE, &SysFont, 0);
    GuiPrompt big(10, 10, "Wide 0", 0, GST_FRAME_NONE, &SysFont, 1);
    EXPECT_EQ(small.mOuter.right - 10, GuiThing::mpScreen->TextWidth("Wide 0", &SysFont, -1) + 2);
    EXPECT_EQ(big.mOuter.right - 10, 2 * (small.mOuter.right - 10) - 2);
    EXPECT_EQ(big.mOuter.bottom - 10, 2 * 16 + 2);
    GuiPrompt framed(10, 10, 100, "x", 0, GST_FRAME_THICK, &MenuFont, 0);
    EXPECT_EQ(framed.mOuter.bottom - 10, 13 + 12);
}

TEST_F(GuiPromptTest, EnabledPromptShowsTheSelectedLookWhileFocused)
{
    RecWindow* w = Host(pm);
    auto* p = new GuiPrompt(GuiRect(10, 10, 109, 39), "Hi", 7, GST_FRAME_NONE | GST_ENABLED, 0);
    auto* off = new GuiPrompt(GuiRect(10, 50, 109, 79), "Lo", 8, GST_FRAME_NONE, 0);
    w->Add(p, 1);
    w->Add(off, 1);
    EXPECT_EQ(p->mSignalMask, 1u << GUI_SIG_FOCUS_GAINED);
    EXPECT_FALSE(off->mStatus & (GS_SELECTABLE | GS_ACCEPTS_FOCUS));
    pm->MoveFocusTree(p);
    EXPECT_TRUE(p->mStyle & GST_SELECTED);
    EXPECT_EQ(Pixel(12, 12), 0x0000BFu);
    EXPECT_GT(CountColour(p->mOuter, 0xFFFFFF), 0);   // white text
    pm->MoveFocusTree(w);
    EXPECT_FALSE(p->mStyle & GST_SELECTED);
    EXPECT_EQ(Pixel(12, 12), kPaper);
}

TEST_F(GuiPromptTest, FontSlotOutsideTheTableIsRefusedAndLogged)
{
    takeLogTexts();
    GuiTextThing t(GuiRect(0, 0, 9, 9), 0, 0, "x", 32);
    EXPECT_EQ(t.mpFont, nullptr);
    GuiTextThing u(GuiRect(0, 0, 9, 9), 0, 0, "x", -1);
    EXPECT_EQ(u.mpFont, nullptr);
    EXPECT_EQ(GuiTextThing::AssignFontTablePointer(32, nullptr, 0), 0);
    EXPECT_EQ(countContaining(takeLogTexts(), "outside the font table"), 3);
}

// Every character of a font drawn one by one: each glyph's pixels are its
// strip columns, its width the difference of its offsets.
void CheckEveryGlyph(const GuiFont& font)
{
    ASSERT_TRUE(font.type & GUI_FONT_VARIABLE);
    ASSERT_EQ(font.first, 0x20);
    ASSERT_EQ(font.last, 0xFF);
    ASSERT_EQ(font.ascent + font.descent, font.height);
    GuiScreen* s = GuiThing::mpScreen;
    GuiPresentationManager* pm = GuiThing::mpPresentation;
    EXPECT_EQ(s->TextHeight("x", &font), font.height);
    std::string all;
    int total = 0;
    for (unsigned c = font.first; c <= font.last; ++c) {
        const char text[2] = {char(c), 0};
        all += text[0];
        const int width = font.offsets.table[c - font.first + 1] - font.offsets.table[c - font.first];
        ASSERT_GT(width, 0) << "char " << c;
        EXPECT_EQ(s->TextWidth(text, &font, -1), width) << "char " << c;
        total += width;

        std::fill_n(gbVMemory, 1024 * 480, 0x123456u);
        GuiColor colour{0xFFFFFF, 0, GUI_COLOR_FILL};
        s->BeginDraw(pm);
        s->Invalidate(pm->mClient);
        s->DrawText(pm, GuiPoint{100, 100}, text, colour, &font, -1, 0);
        s->EndDraw();
        int ink = 0;
        for (int y = 0; y < font.height; ++y)
            for (int x = 0; x < width; ++x) {
                const int col = font.offsets.table[c - font.first] + x;
                const bool set = (font.data[size_t(y) * font.bytesPerRow + size_t(col / 8)] >> (7 - col % 8)) & 1;
                ASSERT_EQ(Pixel(100 + x, 100 + y), set ? 0xFFFFFFu : 0u) << "char " << c << " at " << x << "," << y;
                ink += set;
            }
        EXPECT_EQ(Pixel(100 + width, 100), 0x123456u) << "char " << c;
        // Visible ASCII has ink; the undefined code 0x81 is blank.
        if (c > 0x20 && c < 0x7F) {
            EXPECT_GT(ink, 0) << "char " << c;
        }
        if (c == 0x81) {
            EXPECT_EQ(ink, 0);
        }
    }
    EXPECT_EQ(s->TextWidth(all.c_str(), &font, -1), total);
    EXPECT_EQ(total, font.offsets.table[font.last - font.first + 1]);
    EXPECT_LE((total + 7) / 8, font.bytesPerRow);
}

TEST_F(GuiPromptTest, EveryCharacterOfBothFontsDrawsItsGlyph)
{
    CheckEveryGlyph(SysFont);
    CheckEveryGlyph(MenuFont);
    EXPECT_EQ(GuiTextThing::mFontTable[6], &SysFont);
    EXPECT_EQ(GuiTextThing::mFontTable[3], &MenuFont);
}

}  // namespace
