// Strip chart: the sample ring, sweep and scroll traces, incremental
// repaints, hidden charts, and charts that must not loop or overrun.
#include <gtest/gtest.h>

#include <vector>

#include "gui/draw/l24logi.h"
#include "gui/widgets/charts/gui_strip_chart.h"
#include "gui/widgets/charts/test_chart_fixture.h"

namespace {

constexpr uint32_t kLine = 0x00FF00, kAged = 0x008000, kFill = 0x000080, kLeader = 0xFF00FF;

using StripChartTest = ChartTest;

std::vector<uint32_t> Frame() { return std::vector<uint32_t>(gbVMemory, gbVMemory + 1024 * 480); }

TEST_F(StripChartTest, RingFillsFromSlotOneAndWraps)
{
    GuiStripChart chart(GuiRect(0, 0, 200, 100), 4, 0, 100, 1, 10);
    EXPECT_EQ(chart.mType, GT_STRIP_CHART);
    EXPECT_EQ(chart.mChartStyle, 0x83C8);
    const unsigned char id = chart.AddLine(kLine, kAged, kFill);
    GuiStripChartLine* line = chart.GetLineByID(id);
    ASSERT_NE(line, nullptr);
    for (long v : {10, 20, 30, 40, 50}) EXPECT_EQ(chart.AddData(id, v, 1), 1);
    EXPECT_EQ(line->GetData(1), 50);
    EXPECT_EQ(line->GetData(2), 20);
    EXPECT_EQ(line->GetData(3), 30);
    EXPECT_EQ(line->GetData(0), 40);
    EXPECT_EQ(line->mNewest, 1u);
    EXPECT_EQ(line->mOldest, 2u);
    EXPECT_EQ(line->mWrapped, 1);
    EXPECT_EQ(line->GetData(4), 0);   // outside the ring

    // The leader takes the line colour unless set; unknown ids get none.
    EXPECT_EQ(chart.GetLineLeaderColor(id), kLine);
    EXPECT_EQ(chart.SetLineLeaderColor(id, kLeader), line);
    EXPECT_EQ(chart.GetLineLeaderColor(id), kLeader);
    EXPECT_EQ(chart.GetLineColor(9), 0xFFFFFFFFul);
    EXPECT_EQ(chart.GetLineAgedColor(9), 0xFFFFFFFFul);
    EXPECT_EQ(chart.GetLineFillColor(9), 0xFFFFFFFFul);
    EXPECT_EQ(chart.SetLineColor(9, 1), nullptr);
    EXPECT_EQ(chart.AddData(9, 1, 1), 0);

    // Every id up to 255 can be removed again.
    for (int i = 2; i <= 40; ++i) ASSERT_EQ(chart.AddLine(1, 2, 3), i);
    EXPECT_EQ(chart.RemoveLine(40), 1);
    EXPECT_EQ(chart.GetLineByID(40), nullptr);
    EXPECT_EQ(chart.RemoveLine(40), 0);
    EXPECT_EQ(chart.RemoveLine(0), 0);
}

TEST_F(StripChartTest, SweepRightAfterAWrapShowsOnlyTheAgedTraceAndTheLeader)
{
    auto* chart = Show(new GuiStripChart(GuiRect(20, 20, 339, 219), 8, 0, 100, 1, 10), GCS_SWEEP | GCS_LEADER);
    const unsigned char id = chart->AddLine(kLine, kAged, kFill);
    for (long v : {10, 80, 20, 70, 30, 60, 40, 50}) chart->AddData(id, v, 1);
    GuiStripChartLine* line = chart->GetLineByID(id);
    ASSERT_EQ(line->mNewest, 0u);
    Repaint(chart);

    const GuiRect& d = chart->mData;
    const int x0 = chart->IndexToPointX(0), x2 = chart->IndexToPointX(2);
    // Line colour only in the leader's column, from top + 1 to bottom - 1.
    EXPECT_EQ(InkBox(chart->mOuter, kLine), GuiRect(x0, d.top + 1, x0, d.bottom - 1));
    // The aged trace from slot 2 on, nothing of it left of slot 2.
    const GuiRect aged = InkBox(chart->mOuter, kAged);
    ASSERT_FALSE(aged.IsEmpty());
    EXPECT_EQ(aged.left, x2);
    EXPECT_EQ(aged.right, chart->IndexToPointX(7));
    EXPECT_EQ(Pixel(x2, chart->ValToPointY(80)), kAged);
    ExpectNoOpenInvalidation();
}

TEST_F(StripChartTest, SweepDrawsEachNewSampleAndClearsTheGapAhead)
{
    auto* chart = Show(new GuiStripChart(GuiRect(20, 20, 339, 219), 8, 0, 100, 1, 10), GCS_SWEEP | GCS_LEADER);
    const unsigned char id = chart->AddLine(kLine, kAged, kFill);
    chart->SetLineLeaderColor(id, kLeader);
    chart->AddData(id, 50, 1);
    chart->AddData(id, 50, 1);
    const int y = chart->ValToPointY(50);
    EXPECT_EQ(Pixel((chart->IndexToPointX(1) + chart->IndexToPointX(2)) / 2, y), kLine);
    EXPECT_EQ(Pixel(chart->IndexToPointX(2), (chart->mData.top + chart->mData.bottom) / 2), kLeader);
    // The old leader was cleared by the incremental repaint.
    EXPECT_EQ(CountColour(chart->mOuter, kLeader), chart->mData.Height() - 2);

    // Around the ring: after the wrap the trace ages, the next sample is new.
    for (int i = 0; i < 7; ++i) chart->AddData(id, 20, 1);
    GuiStripChartLine* line = chart->GetLineByID(id);
    ASSERT_EQ(line->mNewest, 1u);
    EXPECT_EQ(Pixel((chart->IndexToPointX(4) + chart->IndexToPointX(5)) / 2, chart->ValToPointY(20)), kAged);
    EXPECT_GT(CountColour(GuiRect(chart->IndexToPointX(0), chart->mData.top, chart->IndexToPointX(1),
                                  chart->mData.bottom), kLine), 0);
    ExpectNoOpenInvalidation();
}

TEST_F(StripChartTest, ScrollPutsTheOldestSampleAtTheLeft)
{
    auto* chart = Show(new GuiStripChart(GuiRect(20, 20, 339, 219), 4, 0, 100, 1, 10), GCS_SCROLL | GCS_FILL);
    const unsigned char id = chart->AddLine(kLine, kAged, kFill);
    for (long v : {10, 20, 30, 40, 90}) chart->AddData(id, v, 1);   // slots 1 2 3 0 1; oldest 2
    // Oldest (20) at x(0), then 30, then across the wrap to 40 and 90.
    EXPECT_EQ(Pixel(chart->IndexToPointX(0), chart->ValToPointY(20)), kLine);
    EXPECT_EQ(Pixel(chart->IndexToPointX(1), chart->ValToPointY(30)), kLine);
    EXPECT_EQ(Pixel(chart->IndexToPointX(2), chart->ValToPointY(40)), kLine);
    EXPECT_EQ(Pixel(chart->IndexToPointX(3), chart->ValToPointY(90)), kLine);
    // Filled down to zero under the trace.
    EXPECT_EQ(Pixel(chart->IndexToPointX(2) - 2, chart->ValToPointY(5)), kFill);
    ExpectNoOpenInvalidation();
}

TEST_F(StripChartTest, HiddenChartStoresSamplesWithoutDrawing)
{
    auto* chart = new GuiStripChart(GuiRect(20, 20, 339, 219), 8, 0, 100, 1, 10);
    chart->mChartStyle = GCS_SWEEP | GCS_LEADER;
    const unsigned char id = chart->AddLine(kLine, kAged, kFill);
    const std::vector<uint32_t> before = Frame();
    for (long v : {10, 20, 30, 40, 50, 60, 70, 80, 90}) EXPECT_EQ(chart->AddData(id, v, 1), 1);
    chart->DrawNewLineData(chart->GetLineByID(id));
    chart->Draw();
    EXPECT_TRUE(Frame() == before);
    EXPECT_EQ(chart->GetLineByID(id)->GetData(1), 90);
    ExpectNoOpenInvalidation();
    delete chart;
}

TEST_F(StripChartTest, ChartsThatCouldLoopOrOverrunDrawAndReturn)
{
    // Y interval 0 under the default style, which asks for Y ticks and labels.
    auto* noInterval = new GuiStripChart(GuiRect(20, 20, 219, 159), 16, -10, 10, 4, 0);
    host->Add(noInterval, 1);
    const unsigned char a = noInterval->AddLine(kLine, kAged, kFill);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(noInterval->AddData(a, i - 10, 1), 1);
    Repaint(noInterval);

    // No samples: the line holds nothing and says so.
    auto* empty = new GuiStripChart(GuiRect(240, 20, 439, 159), 0, 0, 100, 1, 10);
    host->Add(empty, 1);
    const unsigned char b = empty->AddLine(kLine, kAged, kFill);
    ASSERT_NE(b, 0);
    EXPECT_EQ(empty->AddData(b, 5, 1), 0);
    EXPECT_EQ(empty->GetLineByID(b)->GetData(0), 0);
    Repaint(empty);

    // Four samples in sweep mode after six: the oldest is the last slot, so
    // there is no history behind it to read.
    auto* sweep = Show(new GuiStripChart(GuiRect(20, 180, 219, 319), 4, 0, 100, 1, 10),
                       0x83C8 | GCS_AGED_REDRAW | GCS_FILL);
    const unsigned char c = sweep->AddLine(kLine, kAged, kFill);
    sweep->AddLine(0xFFFF00, 0x808000, 0x404000);
    for (int i = 0; i < 6; ++i) sweep->AddData(c, 10 * i, 1);
    EXPECT_EQ(sweep->GetLineByID(c)->mOldest, 3u);
    Repaint(sweep);

    // A chart whose maximum X is below its minimum.
    auto* reversed = Show(new GuiStripChart(GuiRect(240, 180, 439, 319), 8, 0, 100, 1, 10), 0xC3CF);
    reversed->mMinX = 50;
    reversed->mMaxX = 10;
    reversed->RecalcLayout(1);
    const unsigned char d = reversed->AddLine(kLine, kAged, kFill);
    for (int i = 0; i < 12; ++i) reversed->AddData(d, i, 1);
    Repaint(reversed);
    ExpectNoOpenInvalidation();
}

}  // namespace
