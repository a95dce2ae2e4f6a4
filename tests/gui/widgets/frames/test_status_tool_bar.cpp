// Status bar fields, its grip on a sizeable window, and the layout of tool
// bar panels.
#include <gtest/gtest.h>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/widgets/frames/frames_fixture.h"
#include "gui/widgets/frames/gui_status_bar.h"
#include "gui/widgets/frames/gui_tool_bar.h"

namespace {

using StatusBarTest = FramesTest;
using ToolBarTest = FramesTest;

TEST_F(StatusBarTest, FieldsSitSideBySideAndTheLastStretchesToTheGrip)
{
    auto* w = new RecDecorated(GuiRect(100, 100, 499, 399), GST_FRAME_THICK);
    auto* bar = new GuiStatusBar();
    w->Add(bar, 1);
    GuiPrompt* lap = bar->AddTextField(60, 1, "Lap 3");
    GuiPrompt* volts = bar->AddTextField(80, 2, "12.4 V");
    EXPECT_EQ(lap->mOuter.left, bar->mOuter.left);
    EXPECT_EQ(volts->mOuter.left, lap->mOuter.right + 3);
    EXPECT_EQ(volts->mOuter.Width(), 80);
    pm->Add(w, 1);
    Pump();
    // Inside the thick frame, along the bottom.
    EXPECT_EQ(bar->mOuter.left, 103);
    EXPECT_EQ(bar->mOuter.right, 496);
    EXPECT_EQ(bar->mOuter.bottom, 396);
    EXPECT_EQ(volts->mOuter.right, bar->mOuter.right - 17);
    EXPECT_EQ(bar->mClient.right, bar->mOuter.right - 16);
    // The grip's white and grey dots are drawn in the corner.
    const GuiRect grip(bar->mOuter.right - 12, bar->mOuter.bottom - 13, bar->mOuter.right, bar->mOuter.bottom);
    EXPECT_GT(CountColour(grip, 0x808080), 0);

    char text[] = "Lap 4";
    bar->SetTextField(1, text);
    EXPECT_STREQ(bar->GetPrompt(1)->mpText, "Lap 4");
    bar->SetTextField(9, text);   // no such field

    // Over the grip the pointer turns into the sizing one, and a press
    // hands the sizing to the window (the first move only enters the bar).
    Post(PointerAt(GM_POINTER_MOVE, bar->mOuter.right - 3, bar->mOuter.bottom - 3));
    Post(PointerAt(GM_POINTER_MOVE, bar->mOuter.right - 2, bar->mOuter.bottom - 3));
    Pump();
    EXPECT_EQ(bar->mSizing, 1);
    Post(PointerAt(GM_POINTER_PRESS, bar->mOuter.right - 3, bar->mOuter.bottom - 3));
    Pump();
    EXPECT_EQ(bar->mSizing, 0);
    bool sizing = false;
    for (const auto& m : w->seen)
        sizing |= m.type == GM_START_MOVE && m.data == (GUI_BORDER_BOTTOM | GUI_BORDER_RIGHT);
    EXPECT_TRUE(sizing);
}

TEST_F(StatusBarTest, OnAFixedWindowThereIsNoGripAndPressesGoToTheWindow)
{
    auto* w = new RecDecorated(GuiRect(100, 100, 499, 399), GST_FRAME_THIN);
    auto* bar = new GuiStatusBar();
    w->Add(bar, 1);
    GuiPrompt* only = bar->AddTextField(60, 1, "Ready");
    pm->Add(w, 1);
    Pump();
    EXPECT_EQ(only->mOuter.right, bar->mOuter.right - 1);
    Post(PointerAt(GM_POINTER_MOVE, bar->mOuter.right - 3, bar->mOuter.bottom - 3));
    Post(PointerAt(GM_POINTER_MOVE, bar->mOuter.right - 2, bar->mOuter.bottom - 3));
    Pump();
    EXPECT_EQ(bar->mSizing, 0);
    const int before = w->Count(GM_POINTER_PRESS);
    Post(PointerAt(GM_POINTER_PRESS, bar->mOuter.right - 3, bar->mOuter.bottom - 3));
    Pump();
    EXPECT_EQ(w->Count(GM_POINTER_PRESS), before + 1);
}

TEST_F(ToolBarTest, PanelSettlesOnItsChildrenAndPanelsSitEdgeToEdge)
{
    auto* panel = new GuiToolBarPanel(1);
    panel->Add(new GuiButton(GuiRect(0, 0, 15, 15), 2, GST_ENABLED, nullptr, 0), 0);
    GuiThing* button = panel->mpFirstChild;
    EXPECT_EQ(button->mOuter, GuiRect(10, 2, 25, 17));
    EXPECT_EQ(panel->mOuter.bottom, 21);
    panel->PositionChildren();
    EXPECT_EQ(panel->mOuter.bottom, 18);
    panel->PositionChildren();
    EXPECT_EQ(panel->mOuter.bottom, 18);
    EXPECT_EQ(panel->mOuter.right, 28);

    auto* second = new GuiToolBarPanel(3);
    auto* bar = new GuiToolBar(4);
    bar->AddPanel(panel, 0);
    bar->AddPanel(second, 0);
    bar->AddPanel(panel, 0);   // already there: nothing changes
    EXPECT_EQ(panel->mpNext, second);
    EXPECT_EQ(second->mpNext, nullptr);
    EXPECT_EQ(second->mOuter.left, panel->mOuter.right + 1);
    EXPECT_EQ(bar->mPanelHeight, 25);   // the taller, still unlaid-out panel
    bar->RemovePanel(second, 0);
    delete second;
    EXPECT_EQ(bar->mPanelHeight, 25);   // never shrinks
    delete bar;

    // A panel without children stops shrinking at one row.
    GuiToolBarPanel empty(5);
    for (int i = 0; i < 20; ++i) empty.PositionChildren();
    EXPECT_EQ(empty.mOuter.bottom, empty.mOuter.top);
}

}  // namespace
