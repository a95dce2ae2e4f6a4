// Line charts: lines at their mapped ends, fill to zero, ids of the lines,
// point lists and the repaint around a new point.
#include <gtest/gtest.h>

#include "gui/widgets/charts/gui_line_chart.h"
#include "gui/widgets/charts/test_chart_fixture.h"

namespace {

using LineChartTest = ChartTest;

TEST_F(LineChartTest, DrawsItsLineBetweenTheMappedEnds)
{
    auto* chart = Show(new GuiLineChart(GuiRect(20, 20, 220, 220), 0, 100, 0, 100, 10, 10), 0);
    EXPECT_EQ(chart->mType, GT_LINE_CHART);
    GuiChartPoint* a = chart->AddPoint(0, 0);
    GuiChartPoint* b = chart->AddPoint(100, 100);
    ASSERT_TRUE(a && b);
    Repaint(chart);
    EXPECT_EQ(Pixel(a->mScreen.x, a->mScreen.y), 0x00FF00u);
    EXPECT_EQ(Pixel(b->mScreen.x, b->mScreen.y), 0x00FF00u);
    EXPECT_GE(CountColour(chart->mData, 0x00FF00), chart->mData.Width() - 2);

    // A resize maps the points again.
    chart->Resize(GuiRect(20, 20, 320, 220));
    EXPECT_EQ(b->mScreen.x, chart->mData.left + chart->mData.right - chart->mData.left - 1);
    Repaint(chart);
    ExpectNoOpenInvalidation();
}

TEST_F(LineChartTest, MultiLineChartFillsUnderItsLineWithTheFillStyle)
{
    auto* chart = Show(new GuiMultiLineChart(GuiRect(20, 20, 220, 220), 0, 100, 0, 100, 10, 10), GCS_FILL);
    EXPECT_EQ(chart->mType, GT_MULTI_LINE_CHART);
    const unsigned char id = chart->AddLine(0xFF0000);
    ASSERT_NE(chart->AddPoint(id, 0, 50, 0), nullptr);
    ASSERT_NE(chart->AddPoint(id, 100, 50, 0), nullptr);
    Repaint(chart);
    const int x = chart->Map(50, 0).x;
    EXPECT_EQ(Pixel(x, chart->Map(0, 50).y), 0xFF0000u);
    EXPECT_EQ(Pixel(x, chart->Map(0, 25).y), 0xFF0000u);   // filled down to zero
    EXPECT_EQ(Pixel(x, chart->Map(0, 75).y), 0x000000u);   // above the line: background

    // Without the style only the line.
    chart->mChartStyle = 0;
    Repaint(chart);
    EXPECT_EQ(Pixel(x, chart->Map(0, 50).y), 0xFF0000u);
    EXPECT_EQ(Pixel(x, chart->Map(0, 25).y), 0x000000u);
    ExpectNoOpenInvalidation();
}

TEST_F(LineChartTest, LineIdsAreTakenLowestFirstAndAllCanBeRemoved)
{
    GuiMultiLineChart chart(GuiRect(0, 0, 100, 100), 0, 100, 0, 100, 10, 10);
    EXPECT_EQ(chart.AddLine(1), 1);
    EXPECT_EQ(chart.AddLine(2), 2);
    EXPECT_EQ(chart.RemoveLine(1), 1);
    EXPECT_EQ(chart.AddLine(3), 1);
    EXPECT_EQ(chart.RemoveLine(0), 0);
    EXPECT_EQ(chart.RemoveLine(7), 0);

    // Ids beyond 31 as well, up to 255; then none is left.
    for (int i = 3; i <= 255; ++i) ASSERT_EQ(chart.AddLine(i), i);
    EXPECT_EQ(chart.AddLine(0), 0);
    EXPECT_EQ(chart.RemoveLine(40), 1);
    EXPECT_EQ(chart.GetLineFromID(40), nullptr);
    EXPECT_EQ(chart.RemoveLine(255), 1);
    EXPECT_EQ(chart.AddLine(0), 40);
    EXPECT_EQ(chart.AddLine(0), 255);
}

TEST_F(LineChartTest, PointListsKeepTheirOrderAndOwnership)
{
    GuiMultiLineChart chart(GuiRect(0, 0, 100, 100), 0, 100, 0, 100, 10, 10);
    const unsigned char one = chart.AddLine(1), two = chart.AddLine(2);
    GuiChartLine* a = chart.GetLineFromID(one);
    GuiChartLine* b = chart.GetLineFromID(two);
    GuiChartPoint* p1 = chart.AddPoint(one, 0, 0, 0);
    GuiChartPoint* p3 = chart.AddPoint(one, 20, 20, 0);
    GuiChartPoint* foreign = chart.AddPoint(two, 5, 5, 0);
    // Behind a point of the line, and behind the last for a foreign point.
    GuiChartPoint* p2 = chart.InsertPoint(one, p1, 10, 10, 0);
    GuiChartPoint* p4 = chart.InsertPoint(one, foreign, 30, 30, 0);
    EXPECT_EQ(a->FirstPoint(), p1);
    EXPECT_EQ(p1->mpNext, p2);
    EXPECT_EQ(p2->mpNext, p3);
    EXPECT_EQ(p3->mpNext, p4);
    EXPECT_EQ(p4->mpNext, nullptr);
    EXPECT_EQ(b->FirstPoint()->mpNext, nullptr);
    EXPECT_EQ(p2->mScreen, chart.Map(10, 10));

    // Removing returns the point before; the first leaves the rest whole.
    EXPECT_EQ(a->RemovePoint(p3), p2);
    EXPECT_EQ(a->RemovePoint(foreign), nullptr);
    EXPECT_EQ(a->RemovePoint(p1), nullptr);
    EXPECT_EQ(a->FirstPoint(), p2);
    EXPECT_EQ(p2->mpNext, p4);
    EXPECT_EQ(chart.AddPoint(99, 1, 1, 1), nullptr);

    chart.ResetLine(one, 0);
    EXPECT_EQ(a->FirstPoint(), nullptr);
    chart.ResetAllLines(0);
    EXPECT_EQ(b->FirstPoint(), nullptr);
}

TEST_F(LineChartTest, AddedPointIsDrawnAtOnceWithRedraw)
{
    auto* chart = Show(new GuiMultiLineChart(GuiRect(20, 20, 220, 220), 0, 100, 0, 100, 10, 10), 0);
    const unsigned char id = chart->AddLine(0x0000FF);
    GuiChartPoint* a = chart->AddPoint(id, 0, 0, 1);
    GuiChartPoint* b = chart->AddPoint(id, 100, 100, 1);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Pixel(b->mScreen.x, b->mScreen.y), 0x0000FFu);
    EXPECT_GT(CountColour(chart->mData, 0x0000FF), 100);
    // A point put in between is drawn as well (its stretch only).
    GuiChartPoint* mid = chart->InsertPoint(id, a, 50, 90, 1);
    ASSERT_NE(mid, nullptr);
    EXPECT_EQ(Pixel(mid->mScreen.x, mid->mScreen.y), 0x0000FFu);
    ExpectNoOpenInvalidation();
}

}  // namespace
