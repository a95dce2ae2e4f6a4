// Progress bar: where the fill ends for values in and out of range, the
// segments, the printed number and its two colours, and the progress
// window's layout.
#include <gtest/gtest.h>

#include "gui/widgets/frames/frames_fixture.h"
#include "gui/widgets/frames/gui_progress_bar.h"

namespace {

constexpr uint32_t kFill = 0x0000BF;

class ProgressBarTest : public FramesTest {
protected:
    // A bar whose client area is `client`, without a frame.
    GuiProgressBar* Make(const GuiRect& client, unsigned short style, int min, int max, int value) {
        auto* bar = new GuiProgressBar(client, uint16_t(style | GST_FRAME_NONE), min, max, value);
        owner->Add(bar, 1);
        Pump();
        return bar;
    }
    // Where the screen puts the number of the bar.
    GuiPoint TextAt(GuiProgressBar* bar, const char* text) {
        const int tw = GuiThing::mpScreen->TextWidth(text, bar->mpFont, -1);
        const int th = GuiThing::mpScreen->TextHeight(text, bar->mpFont);
        const GuiRect& c = bar->mClient;
        return GuiPoint{int16_t((c.left + c.right) / 2 - tw / 2), int16_t((c.top + c.bottom) / 2 - th / 2)};
    }
};

TEST_F(ProgressBarTest, FillEndsByTheValueAndStopsOnePixelPastTheClient)
{
    GuiProgressBar* bar = Make(GuiRect(100, 100, 200, 119), 0, 0, 100, 50);   // 101 pixels wide
    EXPECT_EQ(bar->mBarRect.right, 150);
    EXPECT_EQ(bar->mpFace->mOuter, bar->mBarRect);
    bar->Update(100, 1);
    EXPECT_EQ(bar->mBarRect.right, 201);
    bar->Update(2000000000, 1);   // would wrap a 16-bit edge
    EXPECT_EQ(bar->mBarRect.right, 201);
    bar->Update(-2000000000, 1);
    EXPECT_EQ(bar->mBarRect.right, 99);
    EXPECT_EQ(CountColour(GuiRect(95, 110, 205, 110), kFill), 0);

    // Vertical bars fill from the bottom, limited the same way.
    bar->Reconfig(GPS_VERTICAL | GST_FRAME_NONE, -100, 100);
    bar->Update(0, 1);
    EXPECT_EQ(bar->mBarRect.top, 119 - 10);
    bar->Update(1000000, 1);
    EXPECT_EQ(bar->mBarRect.top, 99);
    bar->Update(-1000000, 1);
    EXPECT_EQ(bar->mBarRect.top, 120);

    // Without a range the bar is full.
    bar->Reconfig(GST_FRAME_NONE, 5, 5);
    EXPECT_EQ(bar->mBarRect, bar->mClient);

    // Squeezed to nothing inside its frame, it still takes values.
    auto* tiny = new GuiProgressBar(GuiRect(10, 10, 12, 12), GST_FRAME_THICK | GPS_SEGMENTS | GPS_SHOW_VALUE, 0, 10, 4);
    owner->Add(tiny, 1);
    tiny->Update(7, 1);
    EXPECT_EQ(tiny->mBarRect, tiny->mClient);
}

TEST_F(ProgressBarTest, SegmentsAreTwoPixelsWithOnePixelGaps)
{
    GuiProgressBar* bar = Make(GuiRect(100, 100, 139, 115), GPS_SEGMENTS, 0, 100, 50);
    EXPECT_EQ(bar->mpFace, nullptr);
    const int row = 108;
    EXPECT_EQ(CountColour(GuiRect(90, row, 150, row), kFill), 14);
    for (int k = 0; k <= 6; ++k) {
        EXPECT_EQ(Pixel(100 + 3 * k, row), kFill) << k;
        EXPECT_EQ(Pixel(100 + 3 * k + 1, row), kFill) << k;
        EXPECT_NE(Pixel(100 + 3 * k + 2, row), kFill) << k;
    }
}

TEST_F(ProgressBarTest, PrintsThePercentageInTheMiddle)
{
    GuiProgressBar* bar = Make(GuiRect(100, 100, 299, 129), GPS_SHOW_VALUE | GPS_PERCENT, 0, 200, 25);
    EXPECT_EQ(bar->ShownNumber(), 12);
    const GuiPoint at = TextAt(bar, "12%");
    EXPECT_TRUE(ShowsText("12%", bar->mpFont, at.x, at.y, 0xFFFFFF));

    // Minimum equal to maximum: full, and 100 %.
    bar->Reconfig(GPS_SHOW_VALUE | GPS_PERCENT | GST_FRAME_NONE, 7, 7);
    bar->Update(3, 1);
    EXPECT_EQ(bar->ShownNumber(), 100);
    const GuiPoint full = TextAt(bar, "100%");
    EXPECT_TRUE(ShowsText("100%", bar->mpFont, full.x, full.y, 0xFFFFFF));

    // A plain value far out of range is printed as it is.
    bar->Reconfig(GPS_SHOW_VALUE | GST_FRAME_NONE, 0, 10);
    bar->Update(-2147483647 - 1, 1);
    EXPECT_EQ(bar->ShownNumber(), -2147483647 - 1);
}

TEST_F(ProgressBarTest, NumberTakesTheFillColourOnlyOverTheFill)
{
    GuiProgressBar* bar = Make(GuiRect(100, 100, 299, 129), GPS_SHOW_VALUE | GPS_SEGMENTS, 0, 200, 100);
    constexpr uint32_t kOver = 0x00FF00;
    bar->SetColor(3, kOver);
    bar->Update(100, 1);
    const int edge = bar->mBarRect.right;
    const GuiPoint at = TextAt(bar, "100");
    ASSERT_LT(at.x, edge);
    const GuiRect text(at.x, at.y, at.x + 40, at.y + 16);
    const GuiRect over = InkBox(text, kOver), rest = InkBox(text, 0xFFFFFF);
    ASSERT_FALSE(over.IsEmpty());
    ASSERT_FALSE(rest.IsEmpty());
    EXPECT_LE(over.right, edge);
    EXPECT_GE(rest.left, edge);
}

TEST_F(ProgressBarTest, ProgressWindowPutsItsBarAboveTheButtons)
{
    auto* plain = new GuiProgressWindow("Copying", nullptr, 0, GPS_SEGMENTS, nullptr, nullptr);
    const GuiRect c = plain->mClient, b = plain->mpProgressBar->mOuter;
    EXPECT_EQ(b, GuiRect(c.left + 10, c.bottom - 28, c.right - 10, c.bottom - 4));
    delete plain;

    auto* withButton = new GuiProgressWindow("Copying", "meas: to usb", GMW_CANCEL, 0, nullptr, nullptr);
    GuiThing* cancel = withButton->Find(GUI_ID_CANCEL, 0);
    ASSERT_NE(cancel, nullptr);
    EXPECT_GT(cancel->mOuter.top, withButton->mpProgressBar->mOuter.bottom);
    EXPECT_EQ(withButton->mpProgressBar->mOuter.bottom, withButton->mClient.bottom - 32);
    delete withButton;
}

}  // namespace
