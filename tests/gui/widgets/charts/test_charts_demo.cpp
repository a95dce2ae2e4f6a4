// Demo picture of the family: a labelled multi-line chart with a filled
// trace and a strip chart sweeping over its aged trace, written as
// charts_demo.png into the test's output folder (never the source tree).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gui/widgets/charts/gui_line_chart.h"
#include "gui/widgets/charts/gui_strip_chart.h"
#include "gui/widgets/charts/test_chart_fixture.h"
#include "gui/widgets/shapes/gui_sincos.h"
#include "host/screen/screen_png.h"

namespace {

using ChartsDemoTest = ChartTest;

// Sine of a whole degree, scaled to +-amplitude.
long Wave(int degrees, long amplitude)
{
    int sine = 0, cosine = 0;
    GuiLookupSinCos(((degrees % 360) + 360) % 360, &sine, &cosine);
    return sine * amplitude / 1024;
}

TEST_F(ChartsDemoTest, WritesThePictureIntoTheOutputFolder)
{
    auto* lines = Show(new GuiMultiLineChart(GuiRect(10, 10, 629, 229), 0, 360, -100, 100, 45, 25),
                       GCS_X_GRID | GCS_Y_GRID | GCS_X_TICKS | GCS_Y_TICKS | GCS_X_LABELS | GCS_Y_LABELS |
                           GCS_FILL);
    lines->mXMinor = 15;
    lines->RecalcLayout(0);
    const unsigned char speed = lines->AddLine(0x3070FF);
    for (int a = 0; a <= 360; a += 10) lines->AddPoint(speed, a, Wave(a, 80), 0);
    const unsigned char rpm = lines->AddLine(0xFFC000);
    for (int a = 0; a <= 360; a += 20) lines->AddPoint(rpm, a, Wave(2 * a + 90, 40), 0);
    Repaint(lines);

    auto* strip = Show(new GuiStripChart(GuiRect(10, 250, 629, 469), 120, 0, 200, 10, 50),
                       GCS_SWEEP | GCS_LEADER | GCS_AGED_REDRAW | GCS_X_TICKS | GCS_Y_TICKS | GCS_Y_LABELS |
                           GCS_Y_GRID);
    const unsigned char oil = strip->AddLine(0x00FF00, 0x006000, 0);
    const unsigned char water = strip->AddLine(0xFF4040, 0x602020, 0);
    strip->SetLineLeaderColor(oil, 0xFFFFFF);
    for (int i = 0; i < 200; ++i) {
        strip->AddData(oil, 100 + Wave(i * 9, 70), 1);
        strip->AddData(water, 60 + Wave(i * 4, 30), 1);
    }
    EXPECT_GT(CountColour(strip->mData, 0x006000), 0);   // aged trace right of the leader
    EXPECT_GT(CountColour(lines->mData, 0x3070FF), 0);

    const char* dir = std::getenv("TAV9_BINARY_DIR");
    const std::string path = std::string(dir && *dir ? dir : ::testing::TempDir().c_str()) + "/charts_demo.png";
    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    EXPECT_TRUE(host::detail::writeScreenPng(path, frame.data(), 640, 480)) << path;
    ExpectNoOpenInvalidation();
}

}  // namespace
