// Dashed lines: the mask is consumed one bit per step of the major axis,
// from bit 31 down, and carries over from call to call.
#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kInk = 0xFF0000;

}  // namespace

TEST_F(ShapeTest, DashContinuesAcrossCallsUntilRestarted)
{
    GuiColor ink{kInk, 0, 0};
    Paint(win, [&] {
        screen->PatternLine(win, 0, 10, 11, 10, ink, 1, 0xF0F0F0F0, 1);
        screen->PatternLine(win, 12, 10, 19, 10, ink, 1, 0xF0F0F0F0, 0);
    });
    for (int x = 0; x <= 19; ++x) {
        const bool on = x <= 3 || (x >= 8 && x <= 11) || x >= 16;
        EXPECT_EQ(Px(x, 10), on ? kInk : kUntouched) << x;
    }
    EXPECT_EQ(Changed(), 12);

    // A restart begins at bit 31 again; drawn right to left the dash starts
    // at the first end point.
    Clear();
    Paint(win, [&] { screen->PatternLine(win, 19, 20, 0, 20, ink, 1, 0xF0F0F0F0, 1); });
    EXPECT_EQ(Count(GuiRect(16, 20, 19, 20), kInk), 4);
    EXPECT_EQ(Count(GuiRect(12, 20, 15, 20), kInk), 0);
    EXPECT_EQ(Changed(), 12);

    // A full mask is a solid line, also along y and over many steps.
    Clear();
    Paint(win, [&] { screen->PatternLine(win, 50, 0, 60, 99, ink, 1, 0xFFFFFFFF, 1); });
    EXPECT_EQ(Changed(), 100);
    for (int y = 0; y < 100; ++y) EXPECT_EQ(Count(GuiRect(50, y, 60, y), kInk), 1) << y;
}

TEST_F(ShapeTest, WidthGivesRunsAcrossTheMajorAxis)
{
    GuiColor ink{kInk, 0, 0};
    const int expected[] = {1, 1, 3, 3, 5};
    for (int width = 0; width <= 4; ++width) {
        Clear();
        Paint(win, [&] { screen->PatternLine(win, 10, 50, 29, 50, ink, width, 0xFFFFFFFF, 1); });
        EXPECT_EQ(Changed(), 20 * expected[width]) << "width " << width;
        EXPECT_EQ(Count(GuiRect(10, 50 - width / 2, 29, 50 + width / 2), kInk), 20 * expected[width]);
        Clear();
        Paint(win, [&] { screen->PatternLine(win, 100, 10, 103, 40, ink, width, 0xFFFFFFFF, 1); });
        EXPECT_EQ(Changed(), 31 * expected[width]) << "steep, width " << width;
    }
    // At 45 degrees the runs stand across x like any line at least as wide as
    // high, and none is cut at the ends.
    Clear();
    Paint(win, [&] { screen->PatternLine(win, 10, 10, 20, 20, ink, 4, 0xFFFFFFFF, 1); });
    EXPECT_EQ(Changed(), 11 * 5);
    EXPECT_EQ(Px(10, 8), kInk);
    EXPECT_EQ(Px(20, 22), kInk);
}

TEST_F(ShapeTest, PatternLineCallersAndClipping)
{
    GuiColor ink{kInk, 0, 0};
    // Hidden callers draw; a missing one has no clip on the screen: nothing.
    win->mStatus &= ~GS_VISIBLE;
    Paint(win, [&] { screen->PatternLine(win, 0, 0, 9, 0, ink, 1, 0xFFFFFFFF, 1); });
    win->mStatus |= GS_VISIBLE;
    EXPECT_EQ(Changed(), 10);
    Clear();
    Paint(win, [&] { screen->PatternLine(nullptr, 0, 0, 9, 0, ink, 1, 0xFFFFFFFF, 1); });
    EXPECT_EQ(Changed(), 0);

    // Into a bitmap any caller, a missing one too.
    GuiBitmap* b = screen->CreateBitmap(16, 8, 0);
    ASSERT_NE(b, nullptr);
    screen->BeginDraw(nullptr, b);
    screen->PatternLine(nullptr, -5, 3, 40, 3, ink, 3, 0xFFFFFFFF, 1);
    screen->EndDraw(b);
    const auto* px = reinterpret_cast<const uint32_t*>(b->data);
    int set = 0;
    for (int i = 0; i < 16 * 8; ++i) set += px[i] == kInk;
    EXPECT_EQ(set, 16 * 3);
    screen->DestroyBitmap(b);

    // Cut by the clip: the same pixels as the whole line inside it, and the
    // dash position stays that of the whole line.
    EXPECT_EQ(CutAgainstWhole(GuiRect(20, 0, 60, 479),
                              [&](GuiThing* t) { screen->PatternLine(t, 0, 5, 90, 40, ink, 5, 0xFF00FF0F, 1); }),
              0);
    // Far beyond the 16-bit geometry: nothing, at once.
    Clear();
    Paint(win, [&] { screen->PatternLine(win, -2000000000, 5, 2000000000, 5, ink, 1, 0xFFFFFFFF, 1); });
    Paint(win, [&] { screen->PatternLine(win, 0, 5, 100, 5, ink, 2000000000, 0xFFFFFFFF, 1); });
    EXPECT_EQ(Changed(), 101 * 480);
}
