// Scroll bars: a window's automatic bars by its children's extent, moving
// the children by the bar, thumb geometry and free-standing bars.
#include <gtest/gtest.h>

#include "gui/core/gui_button.h"
#include "gui/core/gui_scroll.h"
#include "gui/core/test_runtime_pixels.h"

namespace {

using GuiScrollTest = GuiRuntimeTest;

TEST_F(GuiScrollTest, AutomaticBarComesWithOverflowScrollsAndGoesWhenItFits)
{
    auto* w = new RecWindow(GuiRect(0, 0, 199, 199));
    w->SetScrollMode(GUI_SCROLL_V_AUTO);
    pm->Add(w, 1);
    auto* top = new RecThing(GuiRect(10, 0, 50, 99), 1);
    auto* tall = new RecThing(GuiRect(10, 100, 50, 399), 2);
    w->Add(top, 1);
    EXPECT_EQ(w->mpVScroll, nullptr);
    w->Add(tall, 1);
    ASSERT_NE(w->mpVScroll, nullptr);
    GuiVScroll* bar = w->mpVScroll;
    EXPECT_EQ(w->mClient.right, 199 - 16);
    EXPECT_EQ(bar->mOuter, GuiRect(184, 0, 199, 199));
    EXPECT_EQ(bar->mInfo.minimum, 0);
    EXPECT_EQ(bar->mInfo.maximum, 399);
    EXPECT_EQ(bar->mInfo.visible, 200);
    // Thumb: half the track (visible 200 of 400), at its top.
    EXPECT_EQ(bar->mpThumb->mOuter.top, 16);
    EXPECT_EQ(bar->mpThumb->mOuter.bottom, 16 + 168 * 200 / 400);
    // The track pattern is drawn beside the thumb.
    EXPECT_EQ(Pixel(190, 150), bar->mpThumb->mOuter.bottom < 150 ? 0xFFFFFFu : 0xC0C0C0u);

    // The down arrow moves the children up by one step (a tenth of 200).
    Click(mq, 190, 195);
    Pump();
    EXPECT_EQ(bar->mInfo.current, 20);
    EXPECT_EQ(top->mOuter.top, -20);
    EXPECT_EQ(tall->mOuter, GuiRect(10, 80, 50, 379));
    // The up arrow at the start changes nothing.
    Click(mq, 190, 5);
    Click(mq, 190, 5);
    Pump();
    EXPECT_EQ(bar->mInfo.current, 0);
    EXPECT_EQ(top->mOuter.top, 0);
    Click(mq, 190, 195);
    Pump();

    // The tall child leaves: everything fits, the bar goes and the rest
    // scrolls back to the client edge.
    w->Remove(tall, 1);
    delete tall;
    EXPECT_EQ(w->mpVScroll, nullptr);
    EXPECT_EQ(w->mClient.right, 199);
    Pump();
    EXPECT_EQ(top->mOuter.top, 0);
}

TEST_F(GuiScrollTest, BothAutomaticBarsLeaveAGreyCorner)
{
    auto* w = new RecWindow(GuiRect(0, 0, 199, 199));
    w->SetScrollMode(GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO);
    pm->Add(w, 1);
    EXPECT_EQ(w->mpHScroll, nullptr);   // no children: nothing to scroll
    // Wide but not tall: only the horizontal bar ...
    auto* wide = new RecThing(GuiRect(0, 0, 399, 189), 1);
    w->Add(wide, 1);
    ASSERT_NE(w->mpHScroll, nullptr);
    // ... whose strip then hides the child's bottom: the vertical one follows.
    ASSERT_NE(w->mpVScroll, nullptr);
    EXPECT_EQ(w->mClient, GuiRect(0, 0, 183, 183));
    EXPECT_EQ(w->mpHScroll->mOuter, GuiRect(0, 184, 183, 199));
    EXPECT_EQ(w->mpVScroll->mOuter, GuiRect(184, 0, 199, 183));
    EXPECT_EQ(CountColour(GuiRect(184, 184, 199, 199), 0xC0C0C0), 256);
    // The right arrow scrolls the contents left.
    Click(mq, 175, 190);
    Pump();
    EXPECT_EQ(wide->mOuter.left, -18);
}

TEST_F(GuiScrollTest, TrackPressPagesAndThumbDragScrollsOnRelease)
{
    auto* w = new RecWindow(GuiRect(0, 0, 199, 199));
    w->SetScrollMode(GUI_SCROLL_V);
    auto* child = new RecThing(GuiRect(10, 0, 50, 999), 1);
    w->Add(child, 0);
    pm->Add(w, 1);
    GuiVScroll* bar = w->mpVScroll;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->mpThumb->mOuter.bottom - bar->mpThumb->mOuter.top, 168 * 200 / 1000);

    // A press on the track below the thumb moves down by the visible size.
    Post(PointerAt(GM_POINTER_PRESS, 190, 150));
    Pump();
    EXPECT_EQ(bar->mInfo.current, 200);
    EXPECT_EQ(child->mOuter.top, -200);

    // Without live scrolling the contents move only on the release.
    GuiScrollButton* thumb = bar->mpThumb;
    const int grab = thumb->mOuter.top + 2;
    Post(PointerAt(GM_POINTER_PRESS, 190, grab));
    Post(PointerAt(GM_POINTER_MOVE, 190, grab + 40));
    Pump();
    EXPECT_EQ(child->mOuter.top, -200);
    EXPECT_EQ(thumb->mOuter.top, grab - 2 + 40);
    Post(PointerAt(GM_POINTER_RELEASE, 190, grab + 40));
    Pump();
    EXPECT_LT(child->mOuter.top, -200);
    EXPECT_EQ(-child->mOuter.top, bar->mInfo.current);

    // Dragged past the end, the thumb stops at the track's end.
    Post(PointerAt(GM_POINTER_PRESS, 190, thumb->mOuter.top + 1));
    Post(PointerAt(GM_POINTER_MOVE, 190, 400));
    Post(PointerAt(GM_POINTER_RELEASE, 190, 400));
    Pump();
    EXPECT_EQ(thumb->mOuter.bottom, bar->mClient.bottom);

    // Fixed mode off: the bar goes.
    w->SetScrollMode(0);
    EXPECT_EQ(w->mpVScroll, nullptr);
    EXPECT_EQ(w->mClient.right, 199);
}

TEST_F(GuiScrollTest, ThumbGeometryOfBothDirections)
{
    auto* w = new RecWindow(GuiRect(0, 0, 299, 299));
    pm->Add(w, 1);
    GuiScrollInfo info{0, 99, 0, 1, 50};
    auto* v = new GuiVScroll(GuiRect(10, 10, 25, 141), &info, 3);   // track 100
    auto* h = new GuiHScroll(GuiRect(40, 10, 171, 25), &info, 4);   // track 100
    w->Add(v, 1);
    w->Add(h, 1);
    EXPECT_EQ(v->mpThumb->mOuter.bottom - v->mpThumb->mOuter.top, 50);
    // The horizontal thumb leaves out one visible unit's share.
    EXPECT_EQ(h->mpThumb->mOuter.right - h->mpThumb->mOuter.left, 49);

    // The whole range visible: the thumb fills the track.
    GuiScrollInfo all{0, 10, 0, 1, 50};
    v->Reset(&all);
    EXPECT_EQ(v->mpThumb->mOuter.top, v->mClient.top);
    EXPECT_EQ(v->mpThumb->mOuter.bottom, v->mClient.bottom);
    // Never shorter than 16 pixels.
    GuiScrollInfo huge{0, 100000, 0, 1, 10};
    v->Reset(&huge);
    EXPECT_EQ(v->mpThumb->mOuter.bottom - v->mpThumb->mOuter.top, 16);

    // A free-standing bar reports its position as signal 8.
    v->Reset(&info);
    Click(mq, 15, 137);   // the down arrow
    Pump();
    ASSERT_EQ(w->Count(GuiSignalType(3, GUI_SIG_CHANGED)), 1);
    for (const auto& m : w->seen)
        if (m.type == GuiSignalType(3, GUI_SIG_CHANGED)) {
            EXPECT_EQ(m.Word(0), 1);
        }
}

TEST_F(GuiScrollTest, ShrinkingPastTheEndPullsTheViewBack)
{
    auto* w = new RecWindow(GuiRect(0, 0, 199, 199));
    w->SetScrollMode(GUI_SCROLL_V);
    auto* child = new RecThing(GuiRect(10, 0, 50, 399), 1);
    w->Add(child, 0);
    pm->Add(w, 1);
    GuiVScroll* bar = w->mpVScroll;
    Post(PointerAt(GM_POINTER_PRESS, 190, 150));   // page down: the last 200 shown
    Pump();
    EXPECT_EQ(child->mOuter.top, -200);
    // Taller window: the view would pass the end, so the contents follow.
    GuiMessage grow(GM_RESIZE, 0, w, nullptr);
    grow.SetRect(GuiRect(0, 0, 199, 249));
    Post(grow);
    Pump();
    EXPECT_EQ(bar->mOuter.bottom, 249);
    EXPECT_EQ(child->mOuter.bottom, 249);
}

}  // namespace
