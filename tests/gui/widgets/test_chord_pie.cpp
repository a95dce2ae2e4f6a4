// Chords and pies of an ellipse: the kept part lies on the right side of
// the cut, lines that miss draw nothing, points at the centre draw nothing,
// and borders of an ellipse half off the screen stay inside the clip.
#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kInk = 0xFF0000;
constexpr uint32_t kFill = 0x00FF00;

GuiPoint P(int x, int y) { return GuiPoint{int16_t(x), int16_t(y)}; }

}  // namespace

TEST_F(ShapeTest, PieFromTheRightToTheTopFillsTheUpperRightQuarter)
{
    GuiRect r(200, 100, 300, 180);   // centre (250, 140)
    GuiColor fill{kFill, kFill, GUI_COLOR_FILL};
    Paint(win, [&] { screen->Pie(win, r, P(400, 140), P(250, 0), fill, 0); });
    EXPECT_GT(Count(GuiRect(251, 101, 299, 139), kFill), 1500);
    // Nothing left of the centre column or below the centre row (one pixel
    // of slack), nothing outside the rectangle.
    EXPECT_EQ(Count(GuiRect(0, 0, 248, 479), kFill), 0);
    EXPECT_EQ(Count(GuiRect(0, 142, 1023, 479), kFill), 0);
    EXPECT_EQ(Changed(), Count(r, kFill));

    // Exchanged: the other three quarters.
    Clear();
    Paint(win, [&] { screen->Pie(win, r, P(250, 0), P(400, 140), fill, 0); });
    EXPECT_GT(Count(GuiRect(201, 101, 248, 179), kFill), 3000);
    EXPECT_GT(Count(GuiRect(252, 142, 299, 179), kFill), 1300);
    EXPECT_LE(Count(GuiRect(252, 101, 299, 138), kFill), 0);
    EXPECT_EQ(Changed(), Count(r, kFill));

    // A point at the centre or a rectangle too small: nothing.
    Clear();
    Paint(win, [&] {
        screen->Pie(win, r, P(250, 140), P(250, 0), fill, 2);
        screen->Pie(win, r, P(400, 140), P(250, 140), fill, 2);
        GuiRect small(10, 10, 13, 60);
        screen->Pie(win, small, P(100, 30), P(11, 0), fill, 2);
        screen->Pie(nullptr, r, P(400, 140), P(250, 0), fill, 2);
    });
    EXPECT_EQ(Changed(), 0);
}

TEST_F(ShapeTest, PieBorderCoversTheArcBetweenTheRadii)
{
    GuiRect r(200, 100, 300, 180);
    GuiColor ring{kInk, 0, 0};
    // A quarter: ring pixels only in the upper-right quadrant; the radii
    // reach the centre.
    Paint(win, [&] { screen->Pie(win, r, P(400, 140), P(250, 0), ring, 1); });
    EXPECT_EQ(Count(GuiRect(200, 150, 300, 180), kInk), 0);
    // The flat top row of the ring is where the radius upward ends.
    EXPECT_EQ(Count(GuiRect(200, 101, 248, 180), kInk), 0);
    EXPECT_EQ(Px(250, 140), kInk);
    EXPECT_GT(Count(GuiRect(251, 100, 300, 139), kInk), 50);
    EXPECT_EQ(Changed(), Count(r, kInk));
    // Both ends in one quadrant, the second before the first: the rest of
    // the ellipse, the quarter's own arc mostly bare.
    Clear();
    Paint(win, [&] { screen->Pie(win, r, P(300, 90), P(320, 120), ring, 1); });
    EXPECT_GT(Count(GuiRect(200, 141, 300, 180), kInk), 50);
    EXPECT_GT(Count(GuiRect(200, 100, 249, 140), kInk), 50);
}

TEST_F(ShapeTest, QuarterPieBordersStayOnTheirFilledQuarters)
{
    // The four quarters of an ellipse whose top and bottom rows are flat:
    // the vertical radius meets the edge on such a row, whose other half
    // belongs to the neighbouring quadrant but not to the pie.
    GuiRect r(20, 340, 180, 460);   // centre (100, 400)
    const GuiPoint right = P(300, 400), up = P(100, 200), left = P(-100, 400), down = P(100, 600);
    const struct {
        GuiPoint from, to;
        GuiRect quarter;   // the quarter with the two-pixel radii beside it
    } pies[] = {{right, up, GuiRect(99, 330, 190, 401)},
                {up, left, GuiRect(10, 330, 101, 401)},
                {left, down, GuiRect(10, 399, 101, 470)},
                {down, right, GuiRect(99, 399, 190, 470)}};
    for (const auto& pie : pies) {
        Clear();
        Paint(win, [&] { screen->Pie(win, r, pie.from, pie.to, GuiColor{kInk, kFill, GUI_COLOR_FILL}, 2); });
        EXPECT_GT(Count(pie.quarter, kFill), 3000);
        int stray = 0;
        for (int y = 330; y <= 470; ++y)
            for (int x = 10; x <= 190; ++x)
                stray += Px(x, y) == kInk && !pie.quarter.Contains(x, y);
        EXPECT_EQ(stray, 0) << "quarter " << pie.quarter.left << "," << pie.quarter.top;
        EXPECT_GT(Count(pie.quarter, kInk), 100);
    }
}

TEST_F(ShapeTest, ChordKeepsOneSideOfItsLine)
{
    GuiRect r(200, 100, 300, 180);
    GuiColor fill{kFill, kFill, GUI_COLOR_FILL};
    // A vertical chord at x = 270, p1 below p2: side 1, the part right of it.
    Paint(win, [&] { screen->Chord(win, r, P(270, 200), P(270, 50), fill, 0); });
    EXPECT_GT(Count(GuiRect(271, 100, 300, 180), kFill), 500);
    EXPECT_EQ(Count(GuiRect(200, 100, 268, 180), kFill), 0);
    EXPECT_EQ(Changed(), Count(r, kFill));
    // Exchanged points: side 0, the part left of it.
    Clear();
    Paint(win, [&] { screen->Chord(win, r, P(270, 50), P(270, 200), fill, 0); });
    EXPECT_GT(Count(GuiRect(200, 100, 268, 180), kFill), 2000);
    EXPECT_EQ(Count(GuiRect(272, 100, 300, 180), kFill), 0);
    // A line that misses the ellipse, a degenerate line, a small rectangle: nothing.
    Clear();
    Paint(win, [&] {
        screen->Chord(win, r, P(100, 300), P(400, 300), fill, 2);
        screen->Chord(win, r, P(250, 140), P(250, 140), fill, 2);
        GuiRect small(10, 10, 60, 13);
        screen->Chord(win, small, P(30, 0), P(30, 40), fill, 2);
    });
    EXPECT_EQ(Changed(), 0);
}

TEST_F(ShapeTest, ChordBorderDrawsRingsAndTheChord)
{
    GuiRect r(200, 100, 300, 180);
    GuiColor ring{kInk, 0, 0};
    Paint(win, [&] { screen->Chord(win, r, P(270, 200), P(270, 50), ring, 3); });
    // The chord three times, shifted right; the rings on the kept side only.
    EXPECT_EQ(Px(270, 140), kInk);
    EXPECT_EQ(Px(272, 140), kInk);
    EXPECT_EQ(Px(300, 140), kInk);
    EXPECT_EQ(Count(GuiRect(200, 100, 265, 180), kInk), 0);
}

TEST_F(ShapeTest, ChordAndPieOfAnEllipseHalfOffTheScreen)
{
    // Half past the right and bottom edges of the frame buffer, and cut by
    // a clip: nothing outside the clip changes.
    GuiRect off(900, 380, 1200, 600);
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    const GuiRect clip(950, 400, 1010, 470);
    EXPECT_EQ(CutAgainstWhole(clip, [&](GuiThing* t) { screen->Chord(t, off, P(880, 360), P(1100, 620), both, 3); }),
              0);
    EXPECT_EQ(CutAgainstWhole(clip, [&](GuiThing* t) { screen->Pie(t, off, P(1200, 490), P(1050, 300), both, 3); }),
              0);
    EXPECT_EQ(CutAgainstWhole(clip, [&](GuiThing* t) { screen->Pie(t, off, P(1050, 300), P(1200, 490), both, 4); }),
              0);
    // Half past the top-left corner, drawn whole.
    GuiRect corner(-150, -100, 150, 100);
    Clear();
    Paint(win, [&] {
        screen->Chord(win, corner, P(-200, 120), P(200, -120), both, 2);
        screen->Pie(win, corner, P(200, 0), P(0, 200), both, 2);
    });
    EXPECT_GT(Changed(), 0);
    EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 150, 100), kInk) + Count(GuiRect(0, 0, 150, 100), kFill));
}

TEST_F(ShapeTest, ExtremeArcsChordsAndPiesStayOnTheScreen)
{
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    GuiRect huge(-32768, -32768, 32767, 32767), thin(-32768, 200, 32767, 204);
    Paint(win, [&] {
        screen->Arc(win, -32768, 32767, 32767, -100000, 100000, both, 32767);
        screen->Arc(win, 500, 240, 32767, INT32_MIN, INT32_MAX, both, INT32_MAX);
        screen->Arc(win, 500, 240, -50, 10, 20, both, -3);
        screen->Chord(win, huge, P(-32768, 32767), P(32767, -32768), both, 3);
        screen->Pie(win, huge, P(32767, 0), P(0, -32768), both, 3);
        screen->Pie(win, thin, P(32767, 202), P(-32768, 202), both, 2);
        screen->Chord(win, thin, P(0, 0), P(1, 479), both, 2);
    });
    // Everything drawn lies on the screen (the frame buffer is all there is).
    EXPECT_GT(Changed(), 0);
}
