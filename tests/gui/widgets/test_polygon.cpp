// Polygons: the scan-line fill against a brute-force even-odd oracle,
// outlines, flags and pattern fills, through every viewport.
#include <random>

#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kFill = 0x00FF00;
constexpr uint32_t kInk = 0xFF0000;

long long CeilDiv(long long n, long long d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// Even-odd by the sides' own rounding: (x, y) is inside when an odd number
// of sides with top <= y < bottom have x_top + ceil((y - top) * dx / dy) <= x.
bool Inside(const std::vector<GuiPoint>& p, int x, int y)
{
    int crossings = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        GuiPoint a = p[i == 0 ? p.size() - 1 : i - 1], b = p[i];
        if (a.y == b.y) continue;
        if (a.y > b.y) std::swap(a, b);
        if (y < a.y || y >= b.y) continue;
        const long long ex = a.x + CeilDiv((long long)(y - a.y) * (b.x - a.x), b.y - a.y);
        crossings += ex <= x;
    }
    return crossings & 1;
}

std::vector<GuiPoint> RandomPolygon(std::mt19937& rng, int lo, int hi)
{
    std::uniform_int_distribution<int> n(1, 12), c(lo, hi);
    std::vector<GuiPoint> p(size_t(n(rng)));
    for (auto& q : p) q = GuiPoint{int16_t(c(rng)), int16_t(c(rng))};
    return p;
}

}  // namespace

TEST_F(ShapeTest, TriangleFillsTenPixels)
{
    GuiPoint tri[] = {{0, 0}, {4, 0}, {0, 4}};
    Paint(win, [&] { screen->FillPolygonView(GuiRect(0, 0, 1023, 479), tri, 3, kFill); });
    EXPECT_EQ(Changed(), 10);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(Count(GuiRect(0, k, 3 - k, k), kFill), 4 - k) << "row " << k;
}

TEST_F(ShapeTest, FillEqualsTheEvenOddOracleForRandomPolygons)
{
    // Self-crossing polygons come naturally; some reach past the screen's
    // top and left, and half are drawn behind a window that cuts them into
    // several viewports.
    GuiThing* front = AddWindow(root, GuiRect(25, 10, 40, 30));
    ToFront(front);
    std::mt19937 rng(24);
    const GuiColor solid{kFill, kFill, GUI_COLOR_FILL};
    for (int round = 0; round < 400; ++round) {
        const bool covered = round % 2 == 1;
        front->mStatus = covered ? (GS_VISIBLE | GS_VIEWPORT_OWNER) : 0;
        front->mOuter = covered ? GuiRect(25, 10, 40, 30) : GuiRect(2000, 2000, 2000, 2000);
        front->mClip = front->mOuter;
        screen->GenerateViewportList(root);
        std::vector<GuiPoint> p = RandomPolygon(rng, -10, 60);
        std::fill_n(gbVMemory, 1024 * 80, kUntouched);
        Paint(win, [&] { screen->Polygon(win, p.data(), int(p.size()), solid, 1); });
        int wrong = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                const bool hidden = covered && front->mOuter.Contains(x, y);
                const bool want = !hidden && Inside(p, x, y);
                wrong += (Px(x, y) == kFill) != want;
            }
        ASSERT_EQ(wrong, 0) << "round " << round;
    }
}

TEST_F(ShapeTest, OutlineClosesTheListAndFlagsChooseTheFill)
{
    // An open list gets its closing side; a closed one is used as it is.
    GuiPoint open[] = {{10, 10}, {20, 10}, {20, 20}};
    GuiPoint closed[] = {{10, 10}, {20, 10}, {20, 20}, {10, 10}};
    const GuiColor ink{kInk, kFill, 0};
    Paint(win, [&] { screen->Polygon(win, open, 3, ink, 1); });
    const Frame a = Snapshot();
    Clear();
    Paint(win, [&] { screen->Polygon(win, closed, 4, ink, 1); });
    EXPECT_EQ(MaskedDifferences(a, GuiRect(0, 0, 1023, 479)), 0);
    EXPECT_EQ(Px(15, 15), kInk);   // on the closing diagonal
    EXPECT_EQ(Count(GuiRect(0, 0, 1023, 479), kFill), 0);

    // Solid and pattern flags together: solid wins. Equal colours: no
    // outline whatever the width.
    Clear();
    GuiPoint square[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}};
    Paint(win, [&] { screen->Polygon(win, square, 4, GuiColor{kFill, kFill, GUI_COLOR_FILL | GUI_COLOR_PATTERN}, 5); });
    EXPECT_EQ(Count(GuiRect(0, 0, 20, 20), kFill), 81);   // right and bottom edges are outside
    EXPECT_EQ(Changed(), 81);

    // Another outline colour: fill, then the outline over it.
    Clear();
    Paint(win, [&] { screen->Polygon(win, square, 4, GuiColor{kInk, kFill, GUI_COLOR_FILL}, 1); });
    EXPECT_EQ(Count(GuiRect(0, 0, 9, 9), kInk), 36);
    EXPECT_EQ(Count(GuiRect(0, 0, 9, 9), kFill), 64);

    // All points on one row: no edges, nothing filled.
    Clear();
    GuiPoint flat[] = {{0, 5}, {30, 5}, {12, 5}};
    Paint(win, [&] { screen->Polygon(win, flat, 3, GuiColor{kFill, kFill, GUI_COLOR_FILL}, 1); });
    EXPECT_EQ(Changed(), 0);
}

TEST_F(ShapeTest, NothingForNoPointsAHiddenCallerOrNoDrawBracket)
{
    GuiPoint square[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}};
    const GuiColor solid{kInk, kFill, GUI_COLOR_FILL};
    Paint(win, [&] {
        screen->Polygon(win, square, 0, solid, 1);
        screen->Polygon(win, square, -3, solid, 1);
        screen->Polygon(win, nullptr, 4, solid, 1);
        screen->Polygon(nullptr, square, 4, solid, 1);
        screen->FillPolygonView(GuiRect(0, 0, 99, 99), square, 0, kFill);
    });
    EXPECT_EQ(Changed(), 0);
    win->mStatus &= ~GS_VISIBLE;
    Paint(win, [&] { screen->Polygon(win, square, 4, solid, 1); });
    win->mStatus |= GS_VISIBLE;
    screen->Polygon(win, square, 4, solid, 1);   // outside BeginDraw / EndDraw
    EXPECT_EQ(Changed(), 0);
}

TEST_F(ShapeTest, PatternFillTilesFromEachViewsCorner)
{
    // A 3 x 2 pattern whose every pixel has its own colour.
    GuiBitmap* pattern = screen->CreateBitmap(3, 2, 0);
    ASSERT_NE(pattern, nullptr);
    auto* px = reinterpret_cast<uint32_t*>(pattern->data);
    for (int i = 0; i < 6; ++i) px[i] = 0x100u + uint32_t(i);
    screen->SetFillPattern(pattern);
    GuiPoint square[] = {{0, 0}, {20, 0}, {20, 10}, {0, 10}};
    const GuiColor patterned{kInk, 0, GUI_COLOR_PATTERN};
    Paint(win, [&] { screen->Polygon(win, square, 4, patterned, 0); });
    int wrong = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) wrong += Px(x, y) != 0x100u + uint32_t((y % 2) * 3 + x % 3);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Changed(), 200);

    // A window in front splits the square into views; the part right of it
    // (from x = 8) starts a tile of its own at its left edge.
    Clear();
    GuiThing* front = AddWindow(root, GuiRect(5, 0, 7, 479));
    ToFront(front);
    screen->GenerateViewportList(root);
    Paint(win, [&] { screen->Polygon(win, square, 4, patterned, 0); });
    EXPECT_EQ(Count(GuiRect(5, 0, 7, 9), kUntouched), 30);
    for (int viewLeft : {0, 8}) {
        // Find the view that holds the row's pixels right of the cover.
        for (GuiViewport* vp = win->mpViewports; vp; vp = vp->next)
            if (vp->rect.Contains(viewLeft, 0) && vp->rect.Contains(viewLeft, 9)) {
                const int top = vp->rect.top;
                for (int y = 0; y < 10; ++y)
                    EXPECT_EQ(Px(viewLeft, y), 0x100u + uint32_t(((y - top) % 2) * 3)) << viewLeft << "," << y;
            }
    }

    // No pattern, or an empty one: nothing is filled, the outline still comes.
    Clear();
    screen->SetFillPattern(nullptr);
    Paint(win, [&] { screen->Polygon(win, square, 4, patterned, 0); });
    EXPECT_EQ(Changed(), 0);
    Paint(win, [&] { screen->Polygon(win, square, 4, patterned, 1); });
    EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 20, 10), kInk));
    EXPECT_GT(Changed(), 0);
    Clear();
    GuiBitmap empty{};
    empty.bitsPerPixel = 32;
    empty.data = pattern->data;
    screen->SetFillPattern(&empty);   // width and height 0
    Paint(win, [&] {
        screen->Polygon(win, square, 4, patterned, 0);
        screen->PatternFillPolygonView(GuiRect(0, 0, 99, 99), square, 4);
    });
    EXPECT_EQ(Changed(), 0);
    screen->SetFillPattern(nullptr);
    screen->DestroyBitmap(pattern);
}
