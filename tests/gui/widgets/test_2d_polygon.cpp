// The rotating polygon thing: drawn at its rectangle, turned about the
// rectangle's centre, moved (never scaled) with its rectangle and parent,
// and harmless without points.
#include <vector>

#include "gui/core/test_runtime_pixels.h"
#include "gui/widgets/shapes/gui_2d_polygon.h"

namespace {

using Gui2DPolygonTest = GuiRuntimeTest;

constexpr uint32_t kBack = 0xFFFFFF, kInk = 0x0000FF, kFillColour = 0x00C000;

GuiWindow* Host(GuiPresentationManager* pm)
{
    auto* w = new GuiWindow(GuiRect(0, 0, 399, 299), GST_FRAME_NONE);
    w->SetColor(0, kBack);
    pm->Add(w, 1);
    return w;
}

Gui2DPolygon* Make(GuiWindow* w, GuiPoint* pts, unsigned n, unsigned short style = GST_FRAME_NONE | GST_COPY_TEXT)
{
    auto* p = new Gui2DPolygon(GuiRect(100, 50, 160, 110), pts, n, 7, style);
    p->SetColor(0, kBack);
    p->SetColor(2, kInk);
    p->SetColor(3, kFillColour);
    w->Add(p, 1);
    return p;
}

// The pixels of r in colour c.
std::vector<int> Ink(const GuiRect& r, uint32_t c)
{
    std::vector<int> v;
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x)
            if (Pixel(x, y) == c) v.push_back(y * 1024 + x);
    return v;
}

// Draws the polygon directly for the thing into its cleared rectangle.
std::vector<int> DirectPolygon(GuiThing* t, GuiPoint* pts, int n, const GuiColor& c, int width)
{
    GuiScreen* s = GuiThing::mpScreen;
    s->BeginDraw(t);
    s->Invalidate(t->mOuter);
    s->Rectangle(t, t->mOuter, GuiColor{kBack, kBack, GUI_COLOR_FILL}, 0);
    s->Polygon(t, pts, n, c, width);
    s->EndDraw();
    return Ink(t->mOuter, c.flags ? c.background : c.foreground);
}

TEST_F(Gui2DPolygonTest, TriangleIsDrawnAtItsRectangleAndTurnsAboutItsCentre)
{
    GuiWindow* w = Host(pm);
    GuiPoint tri[] = {{0, 0}, {40, 10}, {10, 50}};
    Gui2DPolygon* p = Make(w, tri, 3);
    EXPECT_EQ(tri[0], (GuiPoint{0, 0}));   // the copy moved, not the caller's array
    ASSERT_EQ(p->mpCurPoints[0], (GuiPoint{100, 50}));
    EXPECT_EQ(p->mpCurPoints[2], (GuiPoint{110, 100}));
    EXPECT_EQ(Pixel(100, 50), kInk);
    GuiPoint at0[] = {{100, 50}, {140, 60}, {110, 100}};
    const std::vector<int> drawn = Ink(p->mOuter, kInk);
    EXPECT_EQ(DirectPolygon(p, at0, 3, GuiColor{kInk, kBack, 0}, 1), drawn);

    // Angle 90: (x, y) -> (cx + y - cy, cy - x + cx) with the centre (130, 80).
    p->SetCurAngle(90);
    const int cx = 130, cy = 80;
    GuiPoint want[3];
    for (int i = 0; i < 3; ++i) {
        want[i] = GuiPoint{int16_t(cx + at0[i].y - cy), int16_t(cy - at0[i].x + cx)};
        EXPECT_EQ(p->mpCurPoints[i], want[i]) << i;
    }
    p->Draw();
    const std::vector<int> turned = Ink(p->mOuter, kInk);
    EXPECT_FALSE(turned.empty());
    EXPECT_EQ(DirectPolygon(p, want, 3, GuiColor{kInk, kBack, 0}, 1), turned);

    // Filled: slot 3 inside. Back to 0 from the base points, no drift.
    p->mFill = 1;
    GuiThing::mpScreen->Invalidate(p->mOuter);
    p->Draw();
    EXPECT_EQ(DirectPolygon(p, want, 3, GuiColor{kInk, kFillColour, GUI_COLOR_FILL}, 1),
              Ink(p->mOuter, kFillColour));
    for (int k = 0; k < 36; ++k) p->SetCurAngle(k * 37);
    p->SetCurAngle(0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p->mpCurPoints[i], at0[i]) << i;
}

TEST_F(Gui2DPolygonTest, MovesWithItsRectangleAndParentWithoutScaling)
{
    GuiWindow* w = Host(pm);
    GuiPoint tri[] = {{0, 0}, {40, 10}, {10, 50}};
    Gui2DPolygon* p = Make(w, tri, 3, GST_FRAME_NONE);   // the caller's array, shifted in place
    EXPECT_EQ(tri[1], (GuiPoint{140, 60}));
    p->SetCurAngle(180);
    p->Resize(GuiRect(200, 150, 300, 250));   // larger: moved by (100, 100), same shape
    EXPECT_EQ(tri[1], (GuiPoint{240, 160}));
    EXPECT_EQ(p->mpCurPoints[0], (GuiPoint{260, 210}));
    p->ParentShift(-5, 3);
    EXPECT_EQ(tri[0], (GuiPoint{195, 153}));
    EXPECT_EQ(p->mpCurPoints[0], (GuiPoint{255, 213}));
}

TEST_F(Gui2DPolygonTest, WithoutPointsOnlyTheBackgroundIsDrawn)
{
    GuiWindow* w = Host(pm);
    Gui2DPolygon* p = Make(w, nullptr, 3);
    Gui2DPolygon* q = new Gui2DPolygon(GuiRect(200, 50, 260, 110), reinterpret_cast<GuiPoint*>(w), 0, 8, 0x2001);
    q->SetColor(0, 0x123123);
    w->Add(q, 1);
    p->SetCurAngle(45);
    q->SetCurAngle(45);
    EXPECT_EQ(p->mAngle, 45);
    GuiThing::mpScreen->Invalidate(w->mOuter);
    p->Draw();
    q->Draw();
    EXPECT_EQ(CountColour(p->mOuter, kBack), 61 * 61);
    EXPECT_EQ(CountColour(q->mOuter, 0x123123), 61 * 61);
}

}  // namespace
