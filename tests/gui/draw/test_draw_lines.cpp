// Lines, rectangles and pixels in the frame buffer.
#include <cmath>
#include <cstdlib>

#include "gui/draw/test_draw_fixture.h"

namespace {

const GuiColor kRed{0xFF0000, 0x0000FF, 0};
const GuiColor kRedOnBlue{0xFF0000, 0x0000FF, GUI_COLOR_FILL};

}  // namespace

TEST_F(DrawTest, NothingIsDrawnOutsideARepaintOrForAHiddenThing)
{
    screen->Line(root, 0, 0, 100, 0, kRed, 1);   // no bracket
    screen->BeginDraw(root);                      // bracket, nothing invalid
    screen->Rectangle(root, GuiRect(0, 0, 10, 10), kRedOnBlue, 1);
    screen->EndDraw();
    GuiThing* hidden = AddPlain(root, GuiRect(0, 0, 50, 50));
    hidden->mStatus &= uint16_t(~GS_VISIBLE);
    Paint(root, [&] {
        screen->Line(hidden, 0, 0, 50, 0, kRed, 1);
        screen->Line(root, 0, 0, 50, 0, kRed, 0);   // width 0
        screen->Line(nullptr, 0, 0, 50, 0, kRed, 1);
    });
    EXPECT_EQ(Changed(), 0);
    EXPECT_EQ(giCriticalNesting, 0);
}

TEST_F(DrawTest, PixelsAndTheLastWordOfTheFrameBuffer)
{
    gbVMemory[479 * 1024 + 1023] = 0xABCDEF;
    EXPECT_EQ(screen->GetPixel(1023, 479), 0xABCDEFu);
    EXPECT_EQ(screen->GetPixel(1024, 0), 0u);
    EXPECT_EQ(screen->GetPixel(0, 480), 0u);
    EXPECT_EQ(screen->GetPixel(-1, 0), 0u);
    Paint(root, GuiRect(5, 5, 5, 5), [&] {
        screen->PutPixel(root, 5, 5, 0x010203);
        screen->PutPixel(root, 6, 5, 0x010203);   // outside the invalid area
    });
    EXPECT_EQ(Px(5, 5), 0x010203u);
    EXPECT_EQ(Changed(), 2);   // with the word set above
}

TEST_F(DrawTest, StraightAndWideLines)
{
    Paint(root, [&] {
        screen->Line(root, 30, 10, 10, 10, kRed, 1);    // backwards
        screen->Line(root, 50, 40, 50, 20, kRed, 1);
        screen->Line(root, 100, 100, 120, 100, kRed, 3);
    });
    EXPECT_EQ(Count(GuiRect(10, 10, 30, 10), 0xFF0000), 21);
    EXPECT_EQ(Count(GuiRect(50, 20, 50, 40), 0xFF0000), 21);
    // Width 3 on one row: a 3-row band from the given row downwards.
    EXPECT_EQ(Count(GuiRect(100, 100, 120, 102), 0xFF0000), 63);
    EXPECT_EQ(Changed(), 21 + 21 + 63);
}

TEST_F(DrawTest, SlopedLinesFollowTheIdealLine)
{
    struct Seg { int x1, y1, x2, y2; };
    const Seg segs[] = {{10, 10, 200, 60}, {300, 300, 250, 100}, {400, 50, 420, 51}, {500, 400, 600, 300}};
    for (const Seg& s : segs) {
        std::fill_n(gbVMemory, 1024 * 480, kUntouched);
        Paint(root, [&] { screen->Line(root, s.x1, s.y1, s.x2, s.y2, kRed, 1); });
        EXPECT_EQ(Px(s.x1, s.y1), 0xFF0000u);
        EXPECT_EQ(Px(s.x2, s.y2), 0xFF0000u);
        const bool xMajor = std::abs(s.y2 - s.y1) <= std::abs(s.x2 - s.x1);
        const int n = xMajor ? std::abs(s.x2 - s.x1) + 1 : std::abs(s.y2 - s.y1) + 1;
        EXPECT_EQ(Changed(), n) << "one pixel per step along the major axis";
        // Every pixel lies within one pixel of the ideal line.
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 1024; ++x) {
                if (Px(x, y) != 0xFF0000) continue;
                const double t = xMajor ? double(x - s.x1) / (s.x2 - s.x1) : double(y - s.y1) / (s.y2 - s.y1);
                const double ideal = xMajor ? s.y1 + t * (s.y2 - s.y1) : s.x1 + t * (s.x2 - s.x1);
                EXPECT_LE(std::abs((xMajor ? y : x) - ideal), 1.0) << x << "," << y;
            }
    }
}

TEST_F(DrawTest, WideSlopedLineHasARunAcrossTheMajorAxis)
{
    Paint(root, [&] { screen->Line(root, 100, 100, 200, 130, kRed, 3); });
    for (int x = 100; x <= 200; ++x) EXPECT_EQ(Count(GuiRect(x, 0, x, 479), 0xFF0000), 3) << x;
}

TEST_F(DrawTest, LinesAtTheScreenEdgeStayInsideTheClip)
{
    GuiThing* w = AddWindow(root, GuiRect(0, 0, 99, 99));
    screen->GenerateViewportList(root);
    Paint(root, [&] {
        screen->Line(w, 0, 0, 99, 60, kRed, 5);
        screen->Line(w, -50, -20, 150, 120, kRed, 1);
        screen->Line(w, 99, 99, 0, 99, kRed, 4);
    });
    EXPECT_GT(Count(GuiRect(0, 0, 99, 99), 0xFF0000), 0);
    EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 99, 99), 0xFF0000));
}

// Coordinates beyond 16 bits must not wrap into a rectangle that passes the
// clip and then be written unchecked past the rows of the frame buffer.
TEST_F(DrawTest, CoordinatesBeyondSixteenBitsWriteNothingOutsideTheClip)
{
    GuiThing* w = AddWindow(root, GuiRect(0, 100, 599, 110));
    screen->GenerateViewportList(root);
    Paint(root, [&] {
        screen->Line(w, 0, 100, 65536 + 500, 110, kRed, 1);
        screen->Line(w, 0, 100, 70, 65536 + 105, kRed, 1);
        screen->PutPixel(w, 65536 + 20, 105, 0x00FF00);
        screen->PutPixel(w, 20, 65536 + 105, 0x00FF00);
    });
    EXPECT_EQ(Changed(), Count(GuiRect(0, 100, 599, 110), 0xFF0000));
    EXPECT_EQ(Count(GuiRect(0, 0, 1023, 479), 0x00FF00), 0);
}

TEST_F(DrawTest, RectanglesOutlinedFilledAndWide)
{
    Paint(root, [&] {
        screen->Rectangle(root, GuiRect(10, 10, 19, 19), kRedOnBlue, 1);
        screen->Rectangle(root, GuiRect(30, 10, 39, 19), kRedOnBlue, 0);
        screen->Rectangle(root, GuiRect(50, 10, 59, 19), kRed, 3);
        screen->Rectangle(root, GuiRect(70, 10, 79, 19), kRedOnBlue, 3);
    });
    // Width 1 with fill: border in the foreground, inside in the background.
    EXPECT_EQ(Count(GuiRect(10, 10, 19, 19), 0xFF0000), 36);
    EXPECT_EQ(Count(GuiRect(11, 11, 18, 18), 0x0000FF), 64);
    // Width 0 with fill: only the inside colour.
    EXPECT_EQ(Count(GuiRect(30, 10, 39, 19), 0x0000FF), 100);
    // Width 3 without fill: a 3-pixel frame, the inside untouched.
    EXPECT_EQ(Count(GuiRect(50, 10, 59, 19), 0xFF0000), 100 - 16);
    EXPECT_EQ(Count(GuiRect(53, 13, 56, 16), kUntouched), 16);
    EXPECT_EQ(Count(GuiRect(70, 10, 79, 19), 0xFF0000), 84);
    EXPECT_EQ(Count(GuiRect(73, 13, 76, 16), 0x0000FF), 16);
    EXPECT_EQ(Changed(), 100 + 100 + 84 + 100);
}

// A fill covers its pixels exactly, whatever its width and wherever its row
// starts, for colours of four equal bytes and of different ones alike.
TEST_F(DrawTest, FillsOfEveryWidthAndStartCoverExactlyTheirPixels)
{
    for (uint32_t colour : {0x00000000u, 0x00336699u}) {
        const GuiColor fill{colour, colour, GUI_COLOR_FILL};
        Paint(root, [&] {
            for (int w = 1; w <= 40; ++w)
                screen->Rectangle(root, GuiRect(int16_t(w % 9), int16_t(2 * w), int16_t(w % 9 + w - 1), int16_t(2 * w)),
                                  fill, 0);
            screen->Rectangle(root, GuiRect(1000, 100, 1100, 101), fill, 0);   // cut at the right edge
        });
        for (int w = 1; w <= 40; ++w)
            EXPECT_EQ(Count(GuiRect(int16_t(w % 9), int16_t(2 * w), int16_t(w % 9 + w - 1), int16_t(2 * w)), colour),
                      w) << w;
        EXPECT_EQ(Count(GuiRect(1000, 100, 1023, 101), colour), 48);
        EXPECT_EQ(Changed(), 40 * 41 / 2 + 48) << std::hex << colour;
        std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    }
}

TEST_F(DrawTest, PolyLineDrawsConnectedSegments)
{
    GuiPoint pts[] = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    Paint(root, [&] {
        screen->PolyLine(root, pts, 4, kRed, 1);
        screen->PolyLine(root, pts, 1, kRed, 1);
    });
    EXPECT_EQ(Count(GuiRect(10, 10, 20, 20), 0xFF0000), 11 + 10 + 10);
    EXPECT_EQ(Px(10, 15), kUntouched);
}

TEST_F(DrawTest, WidePolyLineSegmentsKeepTheirWidth)
{
    // Straight segments of width 3: a 3-pixel band below / right of each.
    GuiPoint pts[] = {{100, 100}, {140, 100}, {140, 130}};
    Paint(root, [&] { screen->PolyLine(root, pts, 3, kRed, 3); });
    EXPECT_EQ(Count(GuiRect(100, 100, 140, 102), 0xFF0000), 41 * 3);
    EXPECT_EQ(Count(GuiRect(140, 100, 142, 130), 0xFF0000), 3 * 31);
    EXPECT_EQ(Px(100, 103), kUntouched);
}

TEST_F(DrawTest, XorFramesAreDottedAndUndoThemselves)
{
    std::fill_n(gbVMemory, 1024 * 480, 0u);
    const GuiRect r(10, 10, 20, 16);
    Paint(root, [&] { screen->RectangleXOR(root, r); });
    EXPECT_EQ(Px(10, 10), 0xFFFFFFu);
    EXPECT_EQ(Px(11, 10), 0u);
    EXPECT_EQ(Px(12, 10), 0xFFFFFFu);
    EXPECT_EQ(Px(15, 13), 0u);
    EXPECT_EQ(Count(GuiRect(11, 11, 19, 15), 0), 45);
    Paint(root, [&] { screen->RectangleXOR(root, r); });
    EXPECT_EQ(Count(GuiRect(0, 0, 1023, 479), 0), 1024 * 480);
}
