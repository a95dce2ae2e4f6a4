// Decorated and multi-line text buttons: sizing by content, where bitmap,
// text and lines are drawn, the flat look following the pointer, and the
// cutting of a text into lines.
#include <gtest/gtest.h>

#include <vector>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/gui_test_font.h"
#include "gui/widgets/buttons/gui_decorated_button.h"
#include "gui/widgets/buttons/gui_ml_text_button.h"

namespace {

constexpr uint32_t kRed = 0xE00000, kBlack = 0, kWhite = 0xFFFFFF, kFace = 0xC0C0C0;

// An 8 x 6 bitmap of one colour.
struct Swatch {
    Swatch() : pixels(8 * 6, kRed) {
        bitmap.bitsPerPixel = 32;
        bitmap.width = 8;
        bitmap.height = 6;
        bitmap.data = reinterpret_cast<uint8_t*>(pixels.data());
    }
    std::vector<uint32_t> pixels;
    GuiBitmap bitmap{};
};

class ButtonsTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
    }
    template <class T>
    T* Shown(T* button) {
        host->Add(button, 1);
        Pump();
        return button;
    }
    void Hover(int x, int y) {
        Post(PointerAt(GM_POINTER_MOVE, x, y));
        Pump();
    }
    RecWindow* host = nullptr;
    Swatch swatch;
};

TEST_F(ButtonsTest, DecoratedButtonSizesItselfByBitmapAndText)
{
    GuiScreen* s = GuiThing::mpScreen;
    const int th = s->TextHeight("Pit", &MenuFont) + 3, tw = s->TextWidth("Pit", &MenuFont, -1) + 3;

    GuiDecoratedButton plain(10, 20, 50, "Pit", nullptr, 1, GST_ENABLED, 0);
    EXPECT_TRUE(plain.mOuter == GuiRect(10, 20, 59, 20 + th)) << "th rows plus one";
    EXPECT_TRUE(plain.mClient == plain.mOuter);
    EXPECT_EQ(plain.mType, GT_DECORATED_BUTTON);

    GuiDecoratedButton above(10, 20, "Pit", &swatch.bitmap, 1, GST_ENABLED | GDB_BITMAP_ABOVE, 0);
    ASSERT_GT(tw, 8 + 3);
    EXPECT_TRUE(above.mOuter == GuiRect(10, 20, 10 + tw + 2, 20 + th + 5 + 6));
    GuiDecoratedButton beside(10, 20, "Pit", &swatch.bitmap, 1, GST_ENABLED | GDB_BITMAP_RIGHT, 0);
    EXPECT_TRUE(beside.mOuter == GuiRect(10, 20, 10 + tw + 8 + 8, 20 + std::max(6 + 3, th) + 2));
    GuiDecoratedButton icon(10, 20, nullptr, &swatch.bitmap, 1, GST_ENABLED, 0);
    EXPECT_TRUE(icon.mOuter == GuiRect(10, 20, 10 + 8 + 6, 20 + 6 + 3 + 2)) << "no room for a text";
}

TEST_F(ButtonsTest, DecoratedButtonPlacesBitmapAndTextByStyle)
{
    struct Case {
        uint16_t place;
        GuiRect bitmap;   // where the swatch lands in a (100, 100, 179, 129) button
        int textX, textY;
    };
    // Client (100, 100, 178, 128) inside the raised bevel: 79 x 29. The
    // test font is 9 rows high, its digits the top 7.
    const Case cases[] = {
        {GDB_BITMAP_LEFT, GuiRect(103, 111, 110, 116), 113, 110},
        {GDB_BITMAP_RIGHT, GuiRect(167, 111, 174, 116), 160, 110},
        {GDB_BITMAP_ABOVE, GuiRect(135, 103, 142, 108), 137, 111},
        {GDB_BITMAP_BELOW, GuiRect(135, 120, 142, 125), 137, 109},
    };
    for (const Case& c : cases) {
        GuiRect r(100, 100, 179, 129);
        auto* b = new GuiDecoratedButton(r, "8", &swatch.bitmap, 2, uint16_t(GST_ENABLED | c.place), 0);
        b->SetFont(&GuiTestFont);
        Shown(b);
        const GuiRect inside(101, 101, 177, 127);   // within the bevel
        EXPECT_EQ(InkBox(inside, kRed), c.bitmap) << c.place;
        EXPECT_EQ(InkBox(inside, kBlack), GuiRect(c.textX, c.textY, c.textX + 4, c.textY + 6)) << c.place;
        host->Remove(b, 1);
        delete b;
    }
    // Without a bitmap the text is centred.
    GuiRect r(100, 100, 179, 139);
    auto* centred = Shown(new GuiDecoratedButton(r, "8", nullptr, 3, GST_ENABLED, 0));
    centred->SetFont(&GuiTestFont);
    GuiThing::mpScreen->Invalidate(centred->mOuter);
    centred->Draw();
    EXPECT_EQ(InkBox(GuiRect(101, 101, 177, 137), kBlack), GuiRect(137, 115, 141, 121));
}

TEST_F(ButtonsTest, FlatButtonRisesOnlyUnderThePointer)
{
    GuiRect r(50, 50, 129, 79);
    auto* flat = Shown(new GuiDecoratedButton(r, "Pit", nullptr, 4, GST_ENABLED, 1));
    GuiRect r2(200, 50, 279, 79);
    auto* raised = Shown(new GuiDecoratedButton(r2, "Box", nullptr, 5, GST_ENABLED, 0));
    EXPECT_EQ(Pixel(90, 50), kFace) << "a flat panel";
    EXPECT_EQ(Pixel(240, 50), kWhite) << "a raised button";

    Hover(90, 65);
    EXPECT_EQ(flat->mHover, 1);
    EXPECT_EQ(Pixel(90, 50), kWhite);
    EXPECT_EQ(Pixel(129, 65), kBlack);
    Hover(300, 200);
    EXPECT_EQ(flat->mHover, 0);
    EXPECT_EQ(Pixel(90, 50), kFace);
    EXPECT_EQ(Pixel(129, 65), kFace);

    Hover(240, 65);
    EXPECT_EQ(raised->mHover, 0);
    EXPECT_EQ(Pixel(240, 50), kWhite);
    Hover(300, 200);
    EXPECT_EQ(Pixel(240, 50), kWhite);

    // Focus lost clears the hover without drawing; a click still signals.
    Hover(90, 65);
    flat->Message(GuiMessage(GM_FOCUS_LOST, 0, flat, nullptr));
    EXPECT_EQ(flat->mHover, 0);
    EXPECT_EQ(Pixel(90, 50), kWhite);
    Click(mq, 90, 65);
    Pump();
    EXPECT_EQ(host->Count(GuiSignalType(4, GUI_SIG_CLICKED)), 1);
}

TEST_F(ButtonsTest, MultiLineTextIsCutAtTheSeparator)
{
    GuiMLTextButton none(30, 40, nullptr, '|', 1, GST_ENABLED);
    EXPECT_TRUE(none.mOuter == GuiRect(30, 40, 33, 43)) << "4 x 4 without text";
    EXPECT_EQ(none.mLineCount, 0);
    EXPECT_EQ(none.mType, GT_ML_TEXT_BUTTON);
    GuiMLTextButton emptyWide(30, 40, 60, "", '|', 1, GST_ENABLED);
    EXPECT_TRUE(emptyWide.mOuter == GuiRect(30, 40, 89, 43));

    GuiScreen* s = GuiThing::mpScreen;
    const int lh = s->TextHeight(nullptr, &MenuFont);
    GuiMLTextButton two(30, 40, "Pit|Stop", '|', 1, GST_ENABLED);
    ASSERT_EQ(two.mLineCount, 2);
    EXPECT_STREQ(two.mppLines[0], "Pit");
    EXPECT_STREQ(two.mppLines[1], "Stop");
    EXPECT_EQ(two.mpWidths[1], s->TextWidth("Stop", &MenuFont, -1));
    EXPECT_TRUE(two.mOuter == GuiRect(30, 40, 30 + two.mpWidths[1] + 6, 40 + 2 * lh + 3));

    GuiMLTextButton three(30, 40, 70, "|Pit|", '|', 1, GST_ENABLED);
    ASSERT_EQ(three.mLineCount, 3);
    EXPECT_EQ(three.mppLines[0], nullptr);
    EXPECT_STREQ(three.mppLines[1], "Pit");
    EXPECT_EQ(three.mppLines[2], nullptr);
    EXPECT_EQ(three.mpWidths[2], 0);
    EXPECT_TRUE(three.mOuter == GuiRect(30, 40, 99, 40 + 3 * lh + 3));

    three.DataSet("a||b|");
    EXPECT_EQ(three.mLineCount, 4);
    three.DataSet(nullptr);
    EXPECT_EQ(three.mLineCount, 0);
    EXPECT_EQ(three.mppLines, nullptr);
}

TEST_F(ButtonsTest, MultiLineButtonDrawsLineUnderLine)
{
    // Client (100, 100, 158, 138) inside the raised bevel: 59 x 39; three
    // lines of the 9-row test font start at 100 + (39 - 27) / 2.
    GuiRect r(100, 100, 159, 139);
    auto* b = Shown(new GuiMLTextButton(r, "|8|", '|', 6, GST_ENABLED));
    b->SetFont(&GuiTestFont);
    EXPECT_EQ(b->mpWidths[1], 5);
    GuiThing::mpScreen->Invalidate(b->mOuter);
    b->Draw();
    EXPECT_EQ(InkBox(GuiRect(101, 101, 157, 137), kBlack), GuiRect(127, 115, 131, 121))
        << "only the middle line, centred";

    b->DataSet("8|88");
    b->Style(uint16_t(GST_ENABLED | GST_TEXT_LEFT));
    GuiThing::mpScreen->Invalidate(b->mOuter);
    b->Draw();
    EXPECT_EQ(InkBox(GuiRect(101, 101, 157, 137), kBlack), GuiRect(101, 110, 110, 125));
    b->Style(uint16_t(GST_ENABLED | GST_TEXT_RIGHT));
    GuiThing::mpScreen->Invalidate(b->mOuter);
    b->Draw();
    EXPECT_EQ(InkBox(GuiRect(101, 101, 157, 137), kBlack), GuiRect(147, 110, 156, 125));

    // Disabled: grey lines.
    b->Disable();
    EXPECT_EQ(CountColour(b->mClient, kBlack), 0);
    EXPECT_GT(CountColour(b->mClient, 0x808080), 20);
}

}  // namespace
