// Arcs: four quarter arcs make the outline circle, quarters stay in their
// quadrant, filled slices cover their quadrant, wide arcs grow outward, and
// a fill into a bitmap taller than the screen keeps to the bitmap.
#include <cmath>

#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kInk = 0xFF0000;
constexpr uint32_t kFill = 0x00FF00;

}  // namespace

TEST_F(ShapeTest, FourQuarterArcsMakeTheOutlineCircle)
{
    const int xc = 300, yc = 200;
    GuiColor ring{kInk, 0, 0};
    for (int r = 1; r <= 50; ++r) {
        Clear();
        Paint(win, [&] { screen->Circle(win, xc, yc, r, ring, 1); });
        const Frame circle = Snapshot();
        Clear();
        Paint(win, [&] {
            for (int q = 0; q < 4; ++q) screen->Arc(win, xc, yc, r, 90 * q, 90 * q + 90, ring, 1);
        });
        ASSERT_EQ(MaskedDifferences(circle, GuiRect(0, 0, 1023, 479)), 0) << r;

        Clear();
        Paint(win, [&] { screen->Arc(win, xc, yc, r, 0, 90, ring, 1); });
        EXPECT_GT(Changed(), 0);
        EXPECT_EQ(Changed(), Count(GuiRect(xc, yc - r, xc + r, yc), kInk)) << r;
    }
}

TEST_F(ShapeTest, ArcAnglesAreNormalisedAndExchanged)
{
    GuiColor ring{kInk, 0, 0};
    // 350 to 10 is drawn as 10 to 350: the long way round, nothing right of
    // the centre near the x axis.
    Paint(win, [&] { screen->Arc(win, 300, 200, 40, 350, 10, ring, 1); });
    EXPECT_EQ(Px(340, 200), kUntouched);
    EXPECT_EQ(Px(260, 200), kInk);
    // -30 to 30: the short arc through 0 only.
    Clear();
    Paint(win, [&] { screen->Arc(win, 300, 200, 40, -30, 30, ring, 1); });
    EXPECT_EQ(Px(340, 200), kInk);
    EXPECT_EQ(Changed(), Count(GuiRect(330, 170, 340, 230), kInk));
    // Width 3 at radius 10: rings 10, 11 and 12 outward.
    Clear();
    Paint(win, [&] { screen->Arc(win, 300, 200, 10, 0, 360 - 1, ring, 3); });
    EXPECT_EQ(Px(310, 200), kInk);
    EXPECT_EQ(Px(312, 200), kInk);
    EXPECT_EQ(Px(309, 200), kUntouched);
    EXPECT_EQ(Px(313, 200), kUntouched);
    // No caller, no width without fill: nothing.
    Clear();
    Paint(win, [&] {
        screen->Arc(nullptr, 300, 200, 40, 0, 90, ring, 1);
        screen->Arc(win, 300, 200, 40, 0, 90, ring, 0);
        screen->Arc(win, 300, 200, 40, 0, 90, ring, -5);
    });
    EXPECT_EQ(Changed(), 0);
}

TEST_F(ShapeTest, FilledQuarterPieCoversItsQuadrant)
{
    const int xc = 300, yc = 240;
    GuiColor slice{kInk, kFill, GUI_COLOR_FILL};
    for (int r : {5, 12, 40, 90}) {
        for (int q = 0; q < 4; ++q) {
            Clear();
            Paint(win, [&] { screen->Arc(win, xc, yc, r, 90 * q, 90 * q + 90, slice, 0); });
            // Quadrant q: signs of x - xc and yc - y.
            const int sx = q == 0 || q == 3 ? 1 : -1, sy = q < 2 ? 1 : -1;
            int outside = 0, missing = 0;
            for (int y = yc - r - 3; y <= yc + r + 3; ++y)
                for (int x = xc - r - 3; x <= xc + r + 3; ++x) {
                    const double d = std::hypot(x - xc, y - yc);
                    const bool inQuadrant = (x - xc) * sx >= 0 && (yc - y) * sy >= 0;
                    if (Px(x, y) == kFill && (!inQuadrant || d > r + 1)) ++outside;
                    if (Px(x, y) != kFill && inQuadrant && d <= r - 1) ++missing;
                }
            EXPECT_EQ(outside, 0) << r << " " << q;
            EXPECT_EQ(missing, 0) << r << " " << q;
            EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 1023, 479), kFill));
        }
    }
    // Over 180 degrees in two passes: three quadrants, the fourth empty.
    Clear();
    Paint(win, [&] { screen->Arc(win, xc, yc, 40, 0, 270, slice, 0); });
    EXPECT_EQ(Px(xc - 20, yc + 20), kFill);
    EXPECT_EQ(Px(xc + 20, yc - 20), kFill);
    EXPECT_EQ(Px(xc + 20, yc + 20), kUntouched);
    // Cut by a clip it agrees with the whole one, outline and fill alike.
    EXPECT_EQ(CutAgainstWhole(GuiRect(280, 200, 330, 260),
                              [&](GuiThing* t) { screen->Arc(t, xc, yc, 40, 30, 300, slice, 2); }),
              0);
}

TEST_F(ShapeTest, ArcFillIntoABitmapTallerThanTheScreen)
{
    GuiBitmap* tall = screen->CreateBitmap(100, 900, 0);
    ASSERT_NE(tall, nullptr);
    auto* px = reinterpret_cast<uint32_t*>(tall->data);
    std::fill_n(px, 100 * 900, kUntouched);
    GuiColor slice{kInk, kFill, GUI_COLOR_FILL};
    screen->BeginDraw(win, tall);
    // Centre and rows below the screen's height, partly past the bitmap.
    screen->Arc(win, 50, 850, 80, 0, 359, slice, 2);
    screen->Arc(win, 50, 600, 30, 180, 360, slice, 1);
    screen->EndDraw(tall);
    EXPECT_EQ(px[850 * 100 + 50], kFill);
    EXPECT_EQ(px[620 * 100 + 50], kFill);
    EXPECT_EQ(px[580 * 100 + 50], kUntouched);
    screen->DestroyBitmap(tall);
    EXPECT_EQ(Changed(), 0);
}
