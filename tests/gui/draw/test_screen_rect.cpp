// Rectangle arithmetic that clipping and viewports rely on.
#include <gtest/gtest.h>

#include "gui/core/gui_types.h"

TEST(GuiRectTest, ContainsOverlapAndIntersection)
{
    const GuiRect r(0, 0, 9, 9);
    EXPECT_EQ(r.Width(), 10);
    EXPECT_TRUE(r.Contains(9, 9));
    EXPECT_FALSE(r.Contains(10, 0));
    EXPECT_TRUE(r.Contains(GuiRect(0, 0, 9, 9)));
    EXPECT_FALSE(r.Contains(GuiRect(0, 0, 10, 9)));
    EXPECT_TRUE(r.Overlap(GuiRect(9, 9, 20, 20)));
    EXPECT_FALSE(r.Overlap(GuiRect(10, 0, 20, 9)));
    GuiRect i = r & GuiRect(20, 20, 30, 30);   // no emptiness check
    EXPECT_EQ(i, GuiRect(20, 20, 9, 9));
    EXPECT_TRUE(i.IsEmpty());
    GuiRect u = r;
    u |= GuiRect(-5, 3, 4, 20);
    EXPECT_EQ(u, GuiRect(-5, 0, 9, 20));
    EXPECT_EQ(r + (GuiPoint{2, 3}), GuiRect(2, 3, 11, 12));
    GuiRect m = r;
    m.MoveTo(100, 50);
    EXPECT_EQ(m, GuiRect(100, 50, 109, 59));
}

TEST(GuiRectTest, GrowAndShrinkNeverBelowOnePixel)
{
    GuiRect r(10, 10, 10, 30);
    r--;
    EXPECT_EQ(r, GuiRect(11, 11, 11, 29));
    r -= 50;
    EXPECT_EQ(r, GuiRect(61, 61, 61, 61));
    r += 1;
    EXPECT_EQ(r, GuiRect(60, 60, 62, 62));
    GuiRect old = r++;
    EXPECT_EQ(old, GuiRect(60, 60, 62, 62));
    EXPECT_EQ(r, GuiRect(59, 59, 63, 63));
}

TEST(GuiRectTest, SubtractionKeepsTheLargestRemainingPiece)
{
    struct Case { GuiRect self, other, want; };
    const Case cases[] = {
        {{0, 0, 9, 9}, {20, 20, 30, 30}, {0, 0, 9, 9}},     // apart: unchanged
        {{0, 0, 9, 9}, {-5, 5, 15, 20}, {0, 0, 9, 4}},      // lower band covered
        {{0, 0, 9, 9}, {-5, -5, 15, 3}, {0, 4, 9, 9}},      // upper band covered
        {{0, 0, 9, 9}, {6, -5, 15, 20}, {0, 0, 5, 9}},      // right strip covered
        {{0, 0, 9, 9}, {-5, -5, 2, 20}, {3, 0, 9, 9}},      // left strip covered
        {{0, 0, 9, 9}, {3, 3, 20, 20}, {0, 0, 2, 9}},       // lower right corner: strips equal
        {{0, 0, 9, 9}, {5, 2, 20, 20}, {0, 0, 4, 9}},       // left strip larger than top strip
        {{0, 0, 9, 9}, {2, 6, 20, 20}, {0, 0, 9, 5}},       // top strip larger
        {{0, 0, 9, 9}, {-5, 7, 3, 20}, {0, 0, 9, 6}},       // lower left corner
    };
    for (const Case& c : cases) {
        GuiRect r = c.self;
        r ^= c.other;
        EXPECT_EQ(r, c.want) << c.other.left << "," << c.other.top << "," << c.other.right << "," << c.other.bottom;
    }
    GuiRect whole(0, 0, 9, 9);
    whole ^= GuiRect(-1, -1, 10, 10);
    EXPECT_TRUE(whole.IsEmpty());
}
