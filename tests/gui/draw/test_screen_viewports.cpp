// Viewports: windows in front cut the visible parts of those behind, and
// drawing reaches only the visible parts.
#include <vector>

#include "gui/draw/test_draw_fixture.h"

namespace {

// How many viewports of all owners in the tree cover each pixel.
void Cover(GuiThing* t, std::vector<int>& cover)
{
    if (t->mStatus & GS_VIEWPORT_OWNER)
        for (GuiViewport* vp = t->mpViewports; vp; vp = vp->next)
            for (int y = vp->rect.top; y <= vp->rect.bottom; ++y)
                for (int x = vp->rect.left; x <= vp->rect.right; ++x) ++cover[size_t(y) * 1024 + size_t(x)];
    for (GuiThing* c = t->mpFirstChild; c; c = c->mpNext) Cover(c, cover);
}

bool ViewportsInside(GuiThing* t, const GuiRect& area)
{
    for (GuiViewport* vp = t->mpViewports; vp; vp = vp->next)
        if (!area.Contains(vp->rect)) return false;
    return true;
}

}  // namespace

TEST_F(DrawTest, ViewportsTileTheScreenWithoutOverlap)
{
    // Front to back: B over A, C apart, and D a window-level child of A.
    GuiThing* b = AddWindow(root, GuiRect(100, 100, 299, 249));
    GuiThing* a = AddWindow(root, GuiRect(50, 50, 249, 199));
    GuiThing* c = AddWindow(root, GuiRect(600, 300, 700, 400));
    GuiThing* d = AddWindow(a, GuiRect(60, 150, 160, 199));
    screen->GenerateViewportList(root);
    std::vector<int> cover(1024 * 480, 0);
    Cover(root, cover);
    for (size_t i = 0; i < cover.size(); ++i) ASSERT_EQ(cover[i], 1) << "pixel " << i % 1024 << "," << i / 1024;
    EXPECT_TRUE(ViewportsInside(b, b->mOuter));
    EXPECT_TRUE(ViewportsInside(c, c->mOuter));
    EXPECT_TRUE(ViewportsInside(a, a->mOuter));
    EXPECT_TRUE(ViewportsInside(d, d->mOuter & a->mOuter));

    // Regenerating reuses the freed records.
    const int allocated = screen->ViewportsAllocated();
    for (int i = 0; i < 5; ++i) screen->GenerateViewportList(root);
    EXPECT_EQ(screen->ViewportsAllocated(), allocated);
}

TEST_F(DrawTest, ACoveredThingIsDrawnOnlyWhereItIsUncovered)
{
    GuiThing* front = AddWindow(root, GuiRect(100, 100, 199, 199));
    GuiThing* back = AddWindow(root, GuiRect(50, 50, 149, 149));
    GuiThing* inner = AddPlain(back, GuiRect(60, 60, 140, 140));
    screen->GenerateViewportList(root);
    const GuiColor fill{0, 0xFF0000, GUI_COLOR_FILL};
    Paint(root, [&] { screen->Rectangle(inner, inner->mOuter, fill, 0); });
    // The plain thing draws through its window's viewports: everything of
    // it except the corner under the front window.
    EXPECT_EQ(Count(GuiRect(100, 100, 199, 199), 0xFF0000), 0);
    EXPECT_EQ(Changed(), Area(inner->mOuter) - Area(GuiRect(100, 100, 140, 140)));

    // Text and lines across the covered corner obey the same cut.
    std::fill_n(gbVMemory, 1024 * 480, kUntouched);
    Paint(root, [&] {
        screen->Line(back, 50, 120, 149, 120, GuiColor{0x00FF00, 0, 0}, 1);
        screen->Line(back, 50, 50, 149, 149, GuiColor{0x00FF00, 0, 0}, 1);
    });
    EXPECT_EQ(Count(GuiRect(100, 100, 199, 199), 0x00FF00), 0);
    EXPECT_EQ(Changed(), 50 + 50);

    // Drawing of the front window is not cut.
    Paint(root, [&] { screen->Rectangle(front, front->mOuter, fill, 0); });
    EXPECT_EQ(Count(front->mOuter, 0xFF0000), Area(front->mOuter));
}

TEST_F(DrawTest, DrawingIsCutToTheInvalidAreaAndTheClip)
{
    GuiThing* w = AddWindow(root, GuiRect(0, 0, 299, 299));
    GuiThing* t = AddPlain(w, GuiRect(0, 0, 299, 299));
    t->mClip = GuiRect(10, 10, 89, 89);
    screen->GenerateViewportList(root);
    Paint(t, GuiRect(50, 0, 200, 200), [&] {
        screen->Rectangle(t, GuiRect(0, 0, 299, 299), GuiColor{0, 0x0000FF, GUI_COLOR_FILL}, 0);
    });
    EXPECT_EQ(Count(GuiRect(50, 10, 89, 89), 0x0000FF), 40 * 80);
    EXPECT_EQ(Changed(), 40 * 80);
}

TEST_F(DrawTest, LockIsHeldFromInvalidateToTheOutermostEndDraw)
{
    screen->BeginDraw(root);
    screen->Invalidate(GuiRect(0, 0, 9, 9));
    screen->BeginDraw(root);
    screen->Invalidate(GuiRect(20, 20, 29, 29));
    screen->Invalidate(GuiRect(5, 5, 6, 6));
    EXPECT_EQ(giCriticalNesting, 5);
    EXPECT_EQ(screen->InvalidCount(), 3);
    EXPECT_EQ(screen->InvalidRect(), GuiRect(0, 0, 29, 29));
    screen->EndDraw();
    EXPECT_EQ(giCriticalNesting, 4);   // inner end: the invalidations stay
    screen->EndDraw();
    EXPECT_EQ(giCriticalNesting, 0);
    EXPECT_EQ(screen->InvalidCount(), 0);
    EXPECT_EQ(tGuiLockTask.load(), nullptr);
    screen->EndDraw();   // unmatched: the lock is not touched
    EXPECT_EQ(giCriticalNesting, 0);
    EXPECT_EQ(screen->DrawNesting(), 0);
}

TEST_F(DrawTest, CaptureIsClippedToTheScreenAndRestores)
{
    for (int x = 0; x < 12; ++x) gbVMemory[x] = uint32_t(x);
    GuiCapture cap;
    GuiRect r(-5, -5, 10, 10);
    ASSERT_EQ(screen->Capture(&cap, r), 1);
    EXPECT_EQ(r, GuiRect(0, 0, 10, 10));
    EXPECT_EQ(cap.bitmap.width, 11);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(cap.bitmap.data)[10], 10u);
    GuiRect edge(1000, 470, 1100, 500);
    ASSERT_EQ(screen->Capture(&cap, edge), 1);
    EXPECT_EQ(cap.rect, GuiRect(1000, 470, 1023, 479));
    const uint32_t bigger = cap.capacity;
    GuiRect small(0, 0, 1, 1);
    screen->Capture(&cap, small);
    EXPECT_EQ(cap.capacity, bigger);   // the buffer never shrinks
    GuiRect outside(2000, 0, 2100, 10);
    EXPECT_EQ(screen->Capture(&cap, outside), 0);
    EXPECT_FALSE(cap.valid);

    // Saved, overwritten, restored.
    GuiRect area(0, 0, 11, 0);
    screen->Capture(&cap, area);
    std::fill_n(gbVMemory, 12, 0xFFu);
    Paint(root, [&] { screen->Restore(root, &cap, 0); });
    for (int x = 0; x < 12; ++x) EXPECT_EQ(Px(x, 0), uint32_t(x));
}

TEST_F(DrawTest, RectMoveShiftsPixelsUnlessSomethingCoversThem)
{
    GuiThing* w = AddWindow(root, GuiRect(0, 0, 299, 299));
    screen->GenerateViewportList(root);
    gbVMemory[10 * 1024 + 10] = 0xABCDEF;
    int moved = 0;
    Paint(root, [&] { moved = screen->RectMove(w, GuiRect(0, 0, 49, 49), GuiRect(0, 0, 299, 299), 5, 7); });
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(Px(15, 17), 0xABCDEFu);

    GuiThing* cover = AddWindow(root, GuiRect(40, 40, 80, 80));
    // Put the cover in front of w.
    ToFront(cover);
    screen->GenerateViewportList(root);
    Paint(root, [&] { moved = screen->RectMove(w, GuiRect(0, 0, 49, 49), GuiRect(0, 0, 299, 299), 5, 7); });
    EXPECT_EQ(moved, 0);
}

TEST_F(DrawTest, PointerTypes)
{
    GuiBitmap extra{};
    for (int i = 7; i < 12; ++i) EXPECT_EQ(screen->AddPointerType(&extra, 1, 1), i);
    EXPECT_EQ(screen->AddPointerType(&extra, 1, 1), 0);
    EXPECT_EQ(screen->GetPointerType(), 0);
    EXPECT_EQ(screen->PointerPosition(), (GuiPoint{512, 240}));
}
