// Linear scales: the track and the value mapping, ticks, the drawn needles,
// the partial redraw (what it repaints, what it leaves, the parent's client
// area), degenerate limits, and the bitmap scale through its composite.
#include <gtest/gtest.h>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_scale.h"

namespace {

using namespace gauges;
using ScaleTest = GaugeTest;

constexpr unsigned kUpward = GSS_VERTICAL | GSS_MIN_LOW;

TEST_F(ScaleTest, VerticalTrackAndTicks)
{
    // Client 40 x 160: the track leaves a sixteenth at each end.
    auto* scale = new GuiLinearScale(GuiRect(300, 100, 339, 259), 0, 100, 25, kUpward | GSS_TICKS);
    EXPECT_EQ(scale->mType, GT_LINEAR_SCALE);
    host->Add(scale, 1);
    const GuiRect& c = scale->mClient;
    EXPECT_EQ(scale->miTrackStart, c.bottom - 10);
    EXPECT_EQ(scale->miTrackEnd, c.top + 10);
    EXPECT_EQ(scale->NeedlePoint().y, c.bottom - 10);

    // Five ticks from the right edge, each on a row of its own.
    const GuiRect tickColumn(c.right - 1, c.top, c.right - 1, c.bottom);
    EXPECT_EQ(CountColour(tickColumn, 0x000000), 5);
    EXPECT_EQ(Pixel(c.right - 1, c.bottom - 10), 0x000000u);
    // The groove's black line runs the length of the track.
    EXPECT_EQ(CountColour(GuiRect(c.left + 10, c.top, c.left + 10, c.bottom), 0x000000), 140);
}

TEST_F(ScaleTest, RedrawMovesTheNeedleAndLeavesTheRest)
{
    auto* scale = new Counted<GuiLinearScale>(GuiRect(100, 100, 139, 259), 0, 1000, 0, kUpward | GSS_THIN_NEEDLE);
    host->Add(scale, 1);
    const int drawn = scale->draws;
    const int y0 = scale->NeedlePoint().y, b = scale->mClient.right - 10;
    EXPECT_EQ(Pixel(b - 5, y0), kNeedle);

    scale->SetValue(1, 1);   // the same pixel row: nothing to do
    EXPECT_EQ(scale->draws, drawn);
    EXPECT_EQ(scale->NeedlePoint().y, y0);

    // Beside the strip between the two needles.
    const int aside = scale->mClient.right - 2;
    Mark(aside, y0 - 30);
    scale->SetValue(500, 1);
    EXPECT_EQ(scale->draws, drawn + 1);
    const int y1 = scale->NeedlePoint().y;
    EXPECT_LT(y1, y0 - 40);
    EXPECT_EQ(Pixel(b - 5, y1), kNeedle);
    EXPECT_EQ(Pixel(b - 5, y0), kFace);
    EXPECT_EQ(Pixel(aside, y0 - 30), kMarker);

    // A value set without redraw and then drawn in full is where the next
    // partial redraw erases the needle.
    scale->SetValue(900, 0);
    GuiThing::mpScreen->Invalidate(scale->mOuter);
    scale->Draw();
    const int y2 = scale->NeedlePoint().y;
    scale->SetValue(100, 1);
    EXPECT_EQ(Pixel(b - 5, y2), kFace);
    EXPECT_EQ(CountColour(scale->mClient, kNeedle), 1 + 25);   // one line of 5/8 of 40 pixels
}

TEST_F(ScaleTest, ArrowAndThickNeedlesStayInTheirRectangles)
{
    for (unsigned needle : {GSS_ARROW_NEEDLE, GSS_THICK_NEEDLE}) {
        auto* scale = new GuiLinearScale(GuiRect(100, 300, 299, 339), 0, 100, 10, needle | GSS_FROM_LEFT_TOP | GSS_TICKS);
        host->Add(scale, 1);
        for (long v : {30L, 70L, 0L}) {
            scale->SetValue(v, 1);
            GuiRect rect;
            scale->CalcNeedleRect(scale->NeedlePoint(), rect);
            const int inside = CountColour(rect, kNeedle);
            EXPECT_GT(inside, 20) << needle << " " << v;
            EXPECT_EQ(CountColour(scale->mClient, kNeedle), inside) << needle << " " << v;
        }
        host->Destroy(scale);
    }
}

TEST_F(ScaleTest, RedrawStaysInsideTheParentsClientArea)
{
    GuiWindow* panel = Panel(GuiRect(100, 100, 299, 299));
    auto* scale = new GuiLinearScale(GuiRect(250, 150, 409, 189), 0, 100, 20, GSS_ARROW_NEEDLE | GSS_TICKS);
    panel->Add(scale, 1);
    const Frame before = Snapshot();
    scale->SetValue(100, 1);
    scale->SetValue(10, 1);
    EXPECT_EQ(ChangedOutside(before, panel->mClient), 0);
}

TEST_F(ScaleTest, DegenerateLimitsAndNoNeedle)
{
    // Two values: each at one end of the track.
    auto* two = new GuiLinearScale(GuiRect(10, 10, 49, 169), 0, 1, 1, kUpward | GSS_THIN_NEEDLE | GSS_TICKS);
    host->Add(two, 1);
    two->SetValue(1, 1);
    EXPECT_EQ(two->NeedlePoint().y, two->miTrackEnd);
    two->SetMaxValue(0, 1);
    two->SetMinValue(5, 1);

    // Without a needle style a value change draws nothing at all.
    auto* bare = new Counted<GuiLinearScale>(GuiRect(60, 10, 99, 169), 0, 100, 0, kUpward);
    host->Add(bare, 1);
    GuiRect rect(1, 2, 3, 4);
    bare->CalcNeedleRect(bare->NeedlePoint(), rect);
    EXPECT_TRUE(rect.IsEmpty());
    const int drawn = bare->draws;
    bare->SetValue(60, 1);
    EXPECT_EQ(bare->draws, drawn);
    EXPECT_EQ(bare->IncrementValue(1000, 1), 100);
}

TEST_F(ScaleTest, BitmapScaleSlidesItsNeedleBitmapThroughTheComposite)
{
    SolidBitmap background(40, 160, 0x2040A0), needle(40, 5, 0x00FF00);
    auto* scale = new GuiLinearBitmapScale(400, 100, 0, 100, 10, 150, &background, &needle, kUpward);
    EXPECT_EQ(scale->mType, GT_LINEAR_BITMAP_SCALE);
    EXPECT_EQ(scale->mOuter, GuiRect(400, 100, 439, 259));
    EXPECT_EQ(scale->miTrackStart, 110);
    host->Add(scale, 1);
    ASSERT_NE(scale->mpComposite, nullptr);
    EXPECT_EQ(Pixel(420, 110), 0x00FF00u);
    EXPECT_EQ(Pixel(420, 150), 0x2040A0u);

    scale->SetValue(30, 1);
    const int y = scale->NeedlePoint().y;
    EXPECT_EQ(Pixel(420, y), 0x00FF00u);
    EXPECT_EQ(Pixel(420, 110), 0x2040A0u);
    EXPECT_EQ(CountColour(scale->mOuter, 0x00FF00), 40 * 5);

    // A background of another size resizes the scale; the same size keeps it.
    SolidBitmap wide(60, 160, 0x404040), same(60, 160, 0x505050);
    scale->SetBkgBitmap(&wide);
    EXPECT_EQ(scale->mOuter, GuiRect(400, 100, 459, 259));
    scale->SetBkgBitmap(&same);
    EXPECT_EQ(scale->mOuter, GuiRect(400, 100, 459, 259));
    EXPECT_EQ(scale->mpComposite->width, 60);

    // Without a background: the own colour and a drawn needle.
    auto* plain = new GuiLinearBitmapScale(GuiRect(500, 100, 539, 259), 0, 100, 10, 150, nullptr, nullptr,
                                           kUpward | GSS_THIN_NEEDLE);
    host->Add(plain, 1);
    EXPECT_EQ(Pixel(505, 200), kFace);
    EXPECT_GT(CountColour(plain->mOuter, kNeedle), 20);
}

}  // namespace
