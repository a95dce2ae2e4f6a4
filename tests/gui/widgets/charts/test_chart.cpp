// Chart frame: mapping at the ends of the range and of 32 bits, the layout
// of the data rectangle, labels, and marks that must stop.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "gui/widgets/charts/test_chart_fixture.h"

namespace {

TEST_F(ChartTest, MapsTheEndsOfTheRangeOntoTheDataRectangle)
{
    // Without a style the data rectangle is the client area: 101 pixels wide.
    GuiChart chart(GuiRect(10, 20, 110, 120), 0, 100, 0, 100, 10, 10);
    ASSERT_EQ(chart.mData.Width(), 101);
    EXPECT_EQ(chart.Map(0, 0).x, chart.mData.left);
    EXPECT_EQ(chart.Map(100, 0).x, chart.mData.left + 99);
    EXPECT_EQ(chart.Map(0, 0).y, chart.mData.bottom);
    EXPECT_EQ(chart.Map(0, 100).y, chart.mData.top + 1);

    GuiChartPoint p(50, 50, nullptr);
    chart.MapDataToPoint(&p);
    EXPECT_EQ(p.mScreen.x, chart.mData.left + 49);
    // Back to data values, the minima added.
    chart.MapPointToData(&p);
    EXPECT_NEAR(p.mX, 50, 3);   // within the rounding of the fixed point
    EXPECT_NEAR(p.mY, 50, 3);
}

TEST_F(ChartTest, MapsTheWhole32BitRangeWithoutOverflow)
{
    GuiChart chart(GuiRect(0, 0, 200, 300), 0, 100, -1000000000, 1000000000, 10, 10);
    const GuiRect& d = chart.mData;
    EXPECT_EQ(chart.Map(0, -1000000000).y, d.bottom);
    EXPECT_LE(std::abs(chart.Map(0, 0).y - (d.top + d.bottom) / 2), 1);
    EXPECT_EQ(chart.Map(0, 1000000000).y, d.top + 1);

    // The extremes of 32 bits, and values far outside a narrow range, stay
    // on their side of the rectangle instead of wrapping around.
    GuiChart wide(GuiRect(0, 0, 200, 300), INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 0, 0);
    EXPECT_EQ(wide.Map(INT32_MIN, INT32_MIN).x, wide.mData.left);
    EXPECT_EQ(wide.Map(INT32_MAX, INT32_MAX).y, wide.mData.top + 1);
    GuiChart narrow(GuiRect(0, 0, 200, 300), 0, 1, 0, 1, 0, 0);
    EXPECT_GT(narrow.Map(INT32_MAX, 0).x, narrow.mData.right);
    EXPECT_LT(narrow.Map(INT32_MIN, 0).x, narrow.mData.left);
    EXPECT_LT(narrow.Map(0, INT32_MAX).y, narrow.mData.top);

    // Equal minimum and maximum X: no division, the offset scaled as it is.
    GuiChart flat(GuiRect(0, 0, 200, 300), 5, 5, 0, 10, 0, 0);
    EXPECT_EQ(flat.Map(5, 0).x, flat.mData.left);
    EXPECT_EQ(flat.Map(6, 0).x, flat.mData.left + flat.mData.right - flat.mData.left - 1);
}

TEST_F(ChartTest, LayoutLeavesRoomForTicksAndLabels)
{
    auto* chart = Show(new GuiChart(GuiRect(20, 20, 319, 219), 0, 1000, -50, 50, 100, 25),
                       GCS_X_TICKS | GCS_Y_TICKS | GCS_X_LABELS | GCS_Y_LABELS);
    GuiScreen* s = GuiThing::mpScreen;
    const int th = s->TextHeight("0", &MenuFont);
    const int m = std::max(s->TextWidth("-50", &MenuFont, -1), s->TextWidth("50", &MenuFont, -1));
    const GuiRect& c = chart->mClient;
    EXPECT_EQ(chart->mData.left, c.left + 12 + m + 2);
    EXPECT_EQ(chart->mData.top, c.top + ((th + 1) >> 1));
    EXPECT_EQ(chart->mData.right, c.right - ((s->TextWidth("1000", &MenuFont, -1) + 1) >> 1));
    EXPECT_EQ(chart->mData.bottom, c.bottom - 12 - th);

    // Following the parent: a parent-sized message lays it out over the
    // host's client area.
    chart->mChartStyle |= GCS_FOLLOW_PARENT;
    chart->Message(GuiMessage(GM_PARENT_SIZED, 0, chart, host));
    EXPECT_EQ(chart->mOuter, host->mClient);
    EXPECT_EQ(chart->mData.right, host->mClient.right - ((s->TextWidth("1000", &MenuFont, -1) + 1) >> 1));

    // Moving the parent moves the data rectangle along.
    const GuiRect before = chart->mData;
    chart->ParentShift(3, 4);
    EXPECT_EQ(chart->mData, (before + GuiPoint{3, 4}));
    // The resize left its area to repaint.
    Repaint(chart);
    ExpectNoOpenInvalidation();
}

TEST_F(ChartTest, DrawsGridTicksAxesAndLabels)
{
    auto* chart = Show(new GuiChart(GuiRect(20, 20, 319, 219), 0, 100, 0, 100, 20, 20),
                       GCS_X_GRID | GCS_Y_GRID | GCS_X_TICKS | GCS_Y_TICKS | GCS_X_LABELS | GCS_Y_LABELS);
    const GuiRect& d = chart->mData;
    // Grid lines inside, the axes along the left and the bottom.
    EXPECT_EQ(Pixel(chart->Map(40, 0).x, (d.top + d.bottom) / 2), 0x808080u);
    EXPECT_EQ(Pixel((d.left + d.right) / 2, chart->Map(0, 60).y), 0x808080u);
    EXPECT_EQ(Pixel(d.left, (d.top + d.bottom) / 2), 0xFFFFFFu);
    EXPECT_EQ(Pixel((d.left + d.right) / 2, d.bottom), 0xFFFFFFu);
    // A major tick below the axis, labels under the ticks and left of them.
    EXPECT_EQ(Pixel(chart->Map(40, 0).x, d.bottom + 10), 0xFFFFFFu);
    EXPECT_GT(CountColour(GuiRect(d.left, d.bottom + 14, d.right, chart->mClient.bottom), 0xFFFFFF), 0);
    EXPECT_GT(CountColour(GuiRect(chart->mClient.left, d.top - 8, d.left - 13, d.bottom + 8), 0xFFFFFF), 0);
    ExpectNoOpenInvalidation();
}

TEST_F(ChartTest, YLabelsWiderThanTheRangeDrawOnlyTheMinimumAtTheBottom)
{
    auto* chart = Show(new GuiChart(GuiRect(20, 20, 219, 219), 0, 100, 0, 10, 0, 20), GCS_Y_TICKS | GCS_Y_LABELS);
    const GuiRect& d = chart->mData;
    GuiScreen* s = GuiThing::mpScreen;
    const int th = s->TextHeight("0", &MenuFont);
    const GuiRect band(chart->mClient.left, chart->mClient.top, d.left - 13, chart->mClient.bottom);
    const GuiRect ink = InkBox(band, 0xFFFFFF);
    ASSERT_FALSE(ink.IsEmpty());
    // One label the width of "0", centred on the bottom row.
    EXPECT_LE(ink.Width(), s->TextWidth("0", &MenuFont, -1));
    EXPECT_GE(ink.top, d.bottom - th / 2);
    EXPECT_LE(ink.bottom, d.bottom - th / 2 + th);
}

TEST_F(ChartTest, ReversedRangesAndExtremeIntervalsDrawAndReturn)
{
    const uint16_t all = GCS_X_GRID | GCS_Y_GRID | GCS_X_TICKS | GCS_Y_TICKS | GCS_X_LABELS | GCS_Y_LABELS;
    // A maximum X below the minimum: no labels, no marks, no endless loop.
    auto* reversed = Show(new GuiChart(GuiRect(20, 20, 219, 219), 100, 0, 0, 100, 10, 10), all);
    const GuiRect& d = reversed->mData;
    EXPECT_EQ(CountColour(GuiRect(d.left + 1, d.bottom + 14, reversed->mClient.right, reversed->mClient.bottom),
                          0xFFFFFF),
              0);

    // Marks at the very ends of 32 bits stop before their value overflows;
    // interval 1 over the whole span would be billions of marks.
    auto* extreme =
        Show(new GuiChart(GuiRect(240, 20, 439, 219), INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 0x40000000u, 1u),
             all | GCS_X_AXIS_AT_ZERO);
    extreme->mXMinor = 1;
    extreme->mYMinor = 0x7FFFFFFFu;
    Repaint(extreme);
    // Marks at the minimum, -2^30, 0 and 2^30 (2^31 - 1 is not reached).
    EXPECT_GT(CountColour(extreme->mClient, 0xFFFFFF), 0);
    ExpectNoOpenInvalidation();
}

}  // namespace
