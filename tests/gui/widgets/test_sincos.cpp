// Integer sine and cosine: the fixed table folded into all quadrants.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "gui/widgets/shapes/gui_sincos.h"

namespace {

std::pair<int, int> SinCos(int angle)
{
    int s = 12345, c = 12345;
    GuiLookupSinCos(angle, &s, &c);
    return {s, c};
}

}  // namespace

TEST(GuiSinCos, KnownAngles)
{
    EXPECT_EQ(SinCos(30), std::make_pair(512, 887));
    EXPECT_EQ(SinCos(120), std::make_pair(887, -512));
    EXPECT_EQ(SinCos(-30), std::make_pair(-512, 887));
    EXPECT_EQ(SinCos(-90), std::make_pair(-1024, 0));
    EXPECT_EQ(SinCos(400), std::make_pair(658, 784));
    EXPECT_EQ(SinCos(46).first, 736);   // the table's value, not the rounded 737
    EXPECT_EQ(SinCos(0), std::make_pair(0, 1024));
    EXPECT_EQ(SinCos(90), std::make_pair(1024, 0));
    EXPECT_EQ(SinCos(180), std::make_pair(0, -1024));
    EXPECT_EQ(SinCos(270), std::make_pair(-1024, 0));
    EXPECT_EQ(SinCos(360), SinCos(0));
}

TEST(GuiSinCos, EveryAngleIsWithinOneOfTheTrueValue)
{
    for (int angle = -720; angle <= 720; ++angle) {
        const auto [s, c] = SinCos(angle);
        const double rad = angle * M_PI / 180.0;
        EXPECT_LE(std::abs(s - 1024.0 * std::sin(rad)), 1.0) << angle;
        EXPECT_LE(std::abs(c - 1024.0 * std::cos(rad)), 1.0) << angle;
    }
}

TEST(GuiSinCos, NullOutputsAndExtremeAngles)
{
    int s = 7, c = 7;
    GuiLookupSinCos(30, nullptr, &c);
    EXPECT_EQ(c, 887);
    GuiLookupSinCos(30, &s, nullptr);
    EXPECT_EQ(s, 512);
    GuiLookupSinCos(30, nullptr, nullptr);
    // Any int is folded at once (INT_MAX = 360 k + 127, INT_MIN = -(360 k + 128)).
    EXPECT_EQ(SinCos(INT_MAX), SinCos(127));
    EXPECT_EQ(SinCos(INT_MIN), SinCos(-128));
}
