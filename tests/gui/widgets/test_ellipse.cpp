// Ellipses: rings and fill stay in their rectangle, the clipped and the fast
// paths set the same pixels, and small rectangles draw nothing.
#include <random>
#include <utility>
#include <vector>

#include "gui/widgets/test_shapes_fixture.h"

namespace {

constexpr uint32_t kInk = 0xFF0000;
constexpr uint32_t kFill = 0x00FF00;

}  // namespace

TEST_F(ShapeTest, EllipsesStayInTheirRectangle)
{
    std::mt19937 rng(102);
    std::uniform_int_distribution<int> pos(0, 300), size(0, 120), wd(-2, 6);
    for (int round = 0; round < 200; ++round) {
        const int l = pos(rng), t = pos(rng) / 2;
        const GuiRect r(l, t, l + size(rng), t + size(rng));
        GuiColor c{kInk, kFill, uint8_t(round % 2 ? GUI_COLOR_FILL : 0)};
        Clear();
        const int width = wd(rng);
        Paint(win, [&] { screen->Ellipse(win, r, c, width); });
        ASSERT_EQ(Changed(), Count(r, kInk) + Count(r, kFill)) << round;
        // Left and right halves mirror each other about the centre column
        // (rings and fill alike, for odd widths of the rectangle).
        if ((r.right - r.left) % 2 == 0) {
            const int cx = (r.left + r.right) / 2;
            int asymmetric = 0;
            for (int y = r.top; y <= r.bottom; ++y)
                for (int d = 1; cx - d >= r.left; ++d) asymmetric += Px(cx - d, y) != Px(cx + d, y);
            ASSERT_EQ(asymmetric, 0) << round;
        }
    }
}

TEST_F(ShapeTest, FlatFilledEllipseStaysInItsRectangle)
{
    // Six times wider than high: the fill's trace reaches past the sides.
    GuiColor solid{kFill, kFill, GUI_COLOR_FILL};
    const GuiRect r(100, 100, 159, 104);
    Paint(win, [&] { screen->Ellipse(win, r, solid, 0); });
    EXPECT_GT(Count(r, kFill), 0);
    EXPECT_EQ(Changed(), Count(r, kFill));
    // Cut by a clip it agrees with the whole one.
    EXPECT_EQ(CutAgainstWhole(GuiRect(0, 0, 120, 479), [&](GuiThing* t) { screen->Ellipse(t, r, solid, 0); }), 0);
}

TEST_F(ShapeTest, SmallRectanglesAndThickRings)
{
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    // Fewer than 4 pixels of half-axis span in either direction: nothing.
    Paint(win, [&] {
        screen->Ellipse(win, GuiRect(10, 10, 13, 40), both, 1);
        screen->Ellipse(win, GuiRect(10, 10, 40, 13), both, 1);
        screen->Ellipse(win, GuiRect(40, 40, 10, 10), both, 1);
        screen->Ellipse(nullptr, GuiRect(10, 10, 40, 40), both, 1);
    });
    EXPECT_EQ(Changed(), 0);
    Paint(win, [&] { screen->Ellipse(win, GuiRect(10, 10, 14, 14), both, 1); });
    EXPECT_GT(Changed(), 0);

    // Rings down to an inner rectangle too small to fill: only the rings.
    Clear();
    Paint(win, [&] { screen->Ellipse(win, GuiRect(100, 100, 140, 108), both, 3); });
    EXPECT_GT(Count(GuiRect(100, 100, 140, 108), kInk), 0);
    EXPECT_EQ(Count(GuiRect(100, 100, 140, 108), kFill), 0);
    Clear();
    Paint(win, [&] { screen->Ellipse(win, GuiRect(100, 100, 140, 110), both, 3); });
    EXPECT_GT(Count(GuiRect(103, 103, 137, 107), kFill), 0);
    // Rings as thick as the half-axis: rings, no fill, nothing outside.
    Clear();
    Paint(win, [&] { screen->Ellipse(win, GuiRect(100, 100, 160, 140), both, 100); });
    EXPECT_EQ(Count(GuiRect(100, 100, 160, 140), kFill), 0);
    EXPECT_EQ(Changed(), Count(GuiRect(100, 100, 160, 140), kInk));
}

TEST_F(ShapeTest, ClippedEllipsesEqualTheWholeOnesMasked)
{
    std::mt19937 rng(7102);
    std::uniform_int_distribution<int> pos(0, 200), size(4, 90), wd(0, 4), cut(0, 300);
    for (int round = 0; round < 60; ++round) {
        const int l = pos(rng), t = pos(rng);
        const GuiRect r(l, t, l + size(rng), t + size(rng));
        const int cl = cut(rng), ct = cut(rng);
        const GuiRect clip(cl, ct, cl + cut(rng) / 2, ct + cut(rng) / 2);
        GuiColor c{kInk, kFill, uint8_t(round % 3 ? GUI_COLOR_FILL : 0)};
        const int width = wd(rng);
        ASSERT_EQ(CutAgainstWhole(clip, [&](GuiThing* th) { screen->Ellipse(th, r, c, width); }), 0) << round;
    }
}

TEST_F(ShapeTest, EllipseCutByTheScreenEdgeEqualsTheSameShapeInTheOpen)
{
    // Rows of the fill that end left of x = 0 stay empty rather than
    // running to the screen's edge: the visible part equals the same
    // ellipse drawn further right, shifted back.
    GuiColor both{kInk, kFill, GUI_COLOR_FILL};
    const GuiRect r(-90, 10, 20, 80), shifted(110, 10, 220, 80);
    Paint(win, [&] { screen->Ellipse(win, shifted, both, 2); });
    const Frame open = Snapshot();
    Clear();
    Paint(win, [&] { screen->Ellipse(win, r, both, 2); });
    int wrong = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x <= 30; ++x) wrong += Px(x, y) != open[size_t(y) * 1024 + size_t(x + 200)];
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Changed(), Count(GuiRect(0, 10, 20, 80), kInk) + Count(GuiRect(0, 10, 20, 80), kFill));
}

namespace {

// The span table as the arc, chord and pie primitives read it.
class SpanProbe : public L24logi {
public:
    SpanProbe() : L24logi(GuiRect(0, 0, 1023, 479)) {}
    std::vector<std::pair<int, int>> Spans(GuiRect r) {
        mpSpanTable = new int32_t[size_t(r.Height()) * 2];
        PlotEllipsePoints(r);
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < r.Height(); ++i) out.emplace_back(mpSpanTable[2 * i], mpSpanTable[2 * i + 1]);
        delete[] mpSpanTable;
        mpSpanTable = nullptr;
        return out;
    }
};

}  // namespace

TEST(EllipseSpans, EverySpanLiesInItsRectangle)
{
    SpanProbe probe;
    // The flat 60 x 5 rectangle traces 2 pixels past its left side and 1
    // past its right; rectangles left of the screen keep their own spans.
    for (GuiRect r : {GuiRect(100, 100, 159, 104), GuiRect(-300, 0, -200, 6), GuiRect(0, 0, 400, 7),
                      GuiRect(10, 10, 30, 60)}) {
        const auto spans = probe.Spans(r);
        ASSERT_EQ(int(spans.size()), r.Height());
        for (size_t i = 0; i < spans.size(); ++i) {
            EXPECT_GE(spans[i].first, r.left) << i;
            EXPECT_LE(spans[i].second, r.right) << i;
            EXPECT_LE(spans[i].first, spans[i].second) << i;   // every row of these has a span
        }
        // Symmetric about the rectangle's middle row (one row lower for an
        // even number of rows).
        for (size_t i = 0; i < spans.size(); ++i) EXPECT_EQ(spans[i], spans[spans.size() - 1 - i]) << i;
    }
    // A table without rows to trace stays empty; no table: nothing happens.
    const auto flat = probe.Spans(GuiRect(0, 0, 100, 2));
    for (const auto& s : flat) EXPECT_GT(s.first, s.second);
    GuiRect r(0, 0, 50, 50);
    probe.PlotEllipsePoints(r);
}
