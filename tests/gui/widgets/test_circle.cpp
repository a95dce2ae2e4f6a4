// Circles: discs cover their radius, rings are symmetric and grow inward,
// and the clipped and the fast paths set the same pixels.
#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kInk = 0xFF0000;
constexpr uint32_t kFill = 0x00FF00;

}  // namespace

TEST_F(ShapeTest, DiscCoversItsRadius)
{
    const int xc = 200, yc = 200;
    for (int r = 1; r <= 50; ++r) {
        Clear();
        GuiColor solid{kFill, kFill, GUI_COLOR_FILL};
        Paint(win, [&] { screen->Circle(win, xc, yc, r, solid, 0); });
        int wrong = 0;
        for (int y = yc - r - 3; y <= yc + r + 3; ++y)
            for (int x = xc - r - 3; x <= xc + r + 3; ++x) {
                const int d2 = (x - xc) * (x - xc) + (y - yc) * (y - yc);
                if (d2 <= (r - 1) * (r - 1)) wrong += Px(x, y) != kFill;
                if (d2 > (r + 1) * (r + 1)) wrong += Px(x, y) != kUntouched;
            }
        ASSERT_EQ(wrong, 0) << "r " << r;
        ASSERT_EQ(Changed(), Count(GuiRect(xc - r, yc - r, xc + r, yc + r), kFill)) << "r " << r;
    }
    // Radius 0: the public call draws nothing, the disc itself is the centre.
    Clear();
    GuiColor solid{kFill, kFill, GUI_COLOR_FILL};
    Paint(win, [&] {
        screen->Circle(win, 10, 10, 0, solid, 0);
        screen->Circle(win, 10, 10, -4, solid, 0);
    });
    EXPECT_EQ(Changed(), 0);
    Paint(win, [&] { screen->FillCircleFast(10, 10, 0, kFill); });
    EXPECT_EQ(Changed(), 1);
    EXPECT_EQ(Px(10, 10), kFill);
}

TEST_F(ShapeTest, RingsAreSymmetricAndGrowInward)
{
    const int xc = 300, yc = 200;
    for (int r = 1; r <= 40; r += 3)
        for (int width : {1, 2, 3, 7}) {
            Clear();
            GuiColor ink{kInk, 0, 0};
            Paint(win, [&] { screen->Circle(win, xc, yc, r, ink, width); });
            int asymmetric = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) {
                    const bool set = Px(xc + dx, yc + dy) == kInk;
                    for (auto [mx, my] : {std::pair{-dx, dy}, {dx, -dy}, {-dx, -dy}, {dy, dx}, {-dy, dx},
                                          {dy, -dx}, {-dy, -dx}})
                        asymmetric += set != (Px(xc + mx, yc + my) == kInk);
                }
            ASSERT_EQ(asymmetric, 0) << "r " << r << " width " << width;
            // Never out of the bounding square; the ring reaches the centre
            // only with a width past the radius.
            ASSERT_EQ(Changed(), Count(GuiRect(xc - r, yc - r, xc + r, yc + r), kInk));
            EXPECT_EQ(Px(xc, yc + r), kInk);
            for (int k = 0; k < std::min(width, r + 1); ++k) EXPECT_EQ(Px(xc, yc - r + k), kInk) << k;
        }
}

TEST_F(ShapeTest, DiscWithRingAndWidthLimits)
{
    // A fill inside a ring of another colour; a ring as wide as the radius
    // leaves one disc in the outline colour.
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    Paint(win, [&] { screen->Circle(win, 100, 100, 20, both, 4); });
    EXPECT_EQ(Px(100, 100), kFill);
    EXPECT_EQ(Px(100, 80), kInk);
    EXPECT_EQ(Px(100, 82), kInk);
    EXPECT_EQ(Px(100, 86), kFill);
    Clear();
    Paint(win, [&] { screen->Circle(win, 100, 100, 20, both, 20); });
    EXPECT_EQ(Count(GuiRect(70, 70, 130, 130), kFill), 0);
    EXPECT_GT(Count(GuiRect(70, 70, 130, 130), kInk), 0);

    // A negative width counts as none: just the fill colour, nothing bigger.
    Clear();
    Paint(win, [&] { screen->Circle(win, 100, 100, 20, both, -5); });
    EXPECT_EQ(Count(GuiRect(80, 80, 120, 120), kFill), Changed());
    EXPECT_EQ(Count(GuiRect(80, 80, 120, 120), kInk), 0);
    Clear();
    GuiColor ink{kInk, 0, 0};
    Paint(win, [&] { screen->Circle(win, 100, 100, 20, ink, -5); });
    EXPECT_EQ(Changed(), 0);

    // Width 20 at radius 5 in the screen's corner: the ring is limited to
    // the radius and stays in its square, fast path and clipped alike.
    Clear();
    Paint(win, [&] { screen->Circle(win, 5, 5, 5, ink, 20); });
    EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 10, 10), kInk));
    EXPECT_EQ(Px(5, 5), kInk);
    Clear();
    Paint(win, [&] {
        screen->OutlineCircleFast(5, 5, 5, kInk, 20);
        screen->OutlineCircleFast(2, 2, 5, kInk, 20);   // square off the screen: clipped
        screen->OutlineCircle(GuiRect(-100, -100, 2000, 2000), 3, 3, 5, kInk, 20);
    });
    EXPECT_EQ(Changed(), Count(GuiRect(0, 0, 10, 10), kInk));
}

TEST_F(ShapeTest, ClippedCirclesEqualTheWholeOnesMasked)
{
    const GuiRect clips[] = {GuiRect(0, 0, 205, 479), GuiRect(190, 185, 260, 212), GuiRect(0, 201, 1023, 479)};
    for (const GuiRect& clip : clips)
        for (int r : {1, 2, 5, 17, 40})
            for (GuiColor c : {GuiColor{kInk, 0, 0}, GuiColor{kInk, kFill, GUI_COLOR_FILL},
                               GuiColor{kFill, kFill, GUI_COLOR_FILL}})
                for (int width : {1, 3, 9}) {
                    const int wrong = CutAgainstWhole(clip, [&](GuiThing* t) {
                        screen->Circle(t, 210, 200, r, c, width);
                    });
                    ASSERT_EQ(wrong, 0) << r << " " << width << " " << c.flags;
                }
}

TEST_F(ShapeTest, CircleThroughSeveralViewportsEqualsTheWholeMasked)
{
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    Paint(win, [&] { screen->Circle(win, 100, 100, 30, both, 3); });
    const Frame full = Snapshot();
    Clear();
    GuiThing* front = AddWindow(root, GuiRect(90, 60, 110, 140));
    ToFront(front);
    screen->GenerateViewportList(root);
    Paint(win, [&] { screen->Circle(win, 100, 100, 30, both, 3); });
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 1024; ++x) {
            const uint32_t want = front->mOuter.Contains(x, y) ? kUntouched : full[size_t(y) * 1024 + x];
            wrong += Px(x, y) != want;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(ShapeTest, CirclesIntoABitmapAndFarOff)
{
    GuiBitmap* b = screen->CreateBitmap(20, 20, 0);
    ASSERT_NE(b, nullptr);
    GuiColor solid{kFill, kFill, GUI_COLOR_FILL};
    screen->BeginDraw(win, b);
    screen->Circle(win, 10, 10, 12, solid, 0);   // larger than the bitmap: cut to it
    screen->EndDraw(b);
    const auto* px = reinterpret_cast<const uint32_t*>(b->data);
    EXPECT_EQ(px[0], 1u);   // the corner is outside the circle
    EXPECT_EQ(px[10 * 20 + 0], kFill);
    EXPECT_EQ(px[19 * 20 + 10], kFill);
    screen->DestroyBitmap(b);
    EXPECT_EQ(Changed(), 0);

    GuiColor ink{kInk, 0, 0};
    Paint(win, [&] {
        screen->Circle(win, 2000000000, 5, 10, ink, 1);
        screen->Circle(win, 5, 5, 2000000000, ink, 1);
        screen->CircleFast(-2000000000, 5, 10, ink, 1);
        screen->FillCircle(GuiRect(0, 0, 99, 99), 5, 5, 1 << 30, kFill);
    });
    EXPECT_EQ(Changed(), 0);
}
