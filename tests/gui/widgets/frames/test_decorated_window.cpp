// Decorated window and title bar: the client area follows the bars, the
// title's geometry and buttons, its system menu, and a title destroyed or
// given a new menu while its system menu is open.
#include <gtest/gtest.h>

#include "gui/core/gui_bitmaps.h"
#include "gui/widgets/frames/frames_fixture.h"
#include "gui/widgets/frames/gui_status_bar.h"
#include "gui/widgets/frames/gui_title.h"
#include "gui/widgets/frames/gui_tool_bar.h"
#include "gui/widgets/menus/gui_menu.h"

namespace {

GuiMenuDescription kBar[] = {
    {"File", 1, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

GuiMenuDescription kOther[] = {
    {"Reset", 7, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

using DecoratedWindowTest = FramesTest;
using TitleTest = FramesTest;

TEST_F(DecoratedWindowTest, BarsMoveTheClientEdgesByTheirRows)
{
    auto* w = new GuiDecoratedWindow(GuiRect(100, 50, 499, 399), GST_FRAME_THICK);
    pm->Add(w, 1);
    const GuiRect start = w->mClient;

    auto* title = new GuiTitle("Lap data", GTS_CLOSE);
    const int titleRows = GuiRows(title);
    w->Add(title, 1);
    auto* menu = new GuiMenuBar(kBar);
    const int menuRows = GuiRows(menu);
    w->Add(menu, 1);
    auto* panel = new GuiToolBarPanel(1);
    panel->Add(new GuiButton(GuiRect(0, 0, 15, 15), 2, GST_ENABLED, nullptr, 0), 0);
    auto* tools = new GuiToolBar(3);
    tools->AddPanel(panel, 0);
    const int toolRows = GuiRows(tools);
    EXPECT_EQ(toolRows, GuiRows(panel));   // the bar takes its tallest panel's height
    w->Add(tools, 1);
    auto* status = new GuiStatusBar();
    const int statusRows = GuiRows(status);
    w->Add(status, 1);
    Pump();

    EXPECT_EQ(w->mpTitle, title);
    EXPECT_EQ(w->mpMenuBar, menu);
    EXPECT_EQ(w->mpToolBar, tools);
    EXPECT_EQ(w->mpStatusBar, status);
    EXPECT_EQ(w->mClient.top, start.top + titleRows + menuRows + toolRows);
    EXPECT_EQ(w->mClient.bottom, start.bottom - statusRows);
    // The bars stack under each other inside the thick frame.
    EXPECT_EQ(title->mOuter.top, 54);
    EXPECT_EQ(menu->mOuter.top, title->mOuter.bottom + 1);
    EXPECT_EQ(tools->mOuter.top, menu->mOuter.bottom + 1);
    EXPECT_EQ(status->mOuter.bottom, 399 - 3);

    // Adding a bar it already holds changes nothing.
    w->Add(title, 1);
    EXPECT_EQ(w->mClient.top, start.top + titleRows + menuRows + toolRows);
    // The client area is computed afresh from the bars too.
    const GuiRect kept = w->mClient;
    w->InitClient();
    EXPECT_EQ(w->mClient, kept);

    // Removing the status bar gives back all but two of its rows.
    w->Remove(status, 1);
    EXPECT_EQ(w->mpStatusBar, nullptr);
    EXPECT_EQ(w->mClient.bottom, start.bottom - 2);
    delete status;
    w->Remove(title, 1);
    EXPECT_EQ(w->mpTitle, nullptr);
    EXPECT_EQ(w->mClient.top, start.top + menuRows + toolRows);
    delete title;
}

TEST_F(TitleTest, BareTitleIsNineteenRowsAndKeepsItsCaptionClearOfTheRightEdge)
{
    auto* w = new GuiDecoratedWindow(GuiRect(100, 100, 399, 299), GST_FRAME_NONE);
    auto* title = new GuiTitle("Engine", 0);
    title->SetFont(&MenuFont);   // 13 pixels: still 18 + 1 rows
    w->Add(title, 1);
    pm->Add(w, 1);
    Pump();
    EXPECT_EQ(title->mpFirstChild, nullptr);
    EXPECT_EQ(title->mpSysMenu, nullptr);
    EXPECT_EQ(GuiRows(title), 19);
    // Without a frame the bar spans the window.
    EXPECT_EQ(title->mOuter, GuiRect(100, 100, 399, 118));
    EXPECT_EQ(title->mClient.right, title->mOuter.right - 4);
    EXPECT_EQ(w->mClient.top, 119);
    // The caption starts 4 pixels in, white on blue once the window has
    // the focus.
    pm->MoveFocusTree(title);
    Pump();
    EXPECT_TRUE(ShowsText("Engine", &MenuFont, 104, 102, 0xFFFFFF));
    EXPECT_EQ(Pixel(101, 101), 0x0000BFu);
}

TEST_F(TitleTest, ButtonsLineUpFromTheRightAndTurnIntoWindowMessages)
{
    bool deleted = false;
    auto* w = new RecDecorated(GuiRect(100, 100, 399, 299), GST_FRAME_THICK, &deleted);
    auto* title = new GuiTitle("Setup", GTS_SYSTEM_MENU | GTS_MIN_MAX | GTS_CLOSE);
    w->Add(title, 1);
    pm->Add(w, 1);
    Pump();
    const GuiRect t = title->mOuter;
    EXPECT_EQ(t, GuiRect(104, 104, 396, 122));
    EXPECT_EQ(title->mpCloseButton->mOuter, GuiRect(t.right - 17, t.top + 2, t.right - 2, t.top + 17));
    EXPECT_EQ(title->mpMaxButton->mOuter.right, title->mpCloseButton->mOuter.left - 2);
    EXPECT_EQ(title->mpMinButton->mOuter.right, title->mpMaxButton->mOuter.left - 1);
    EXPECT_EQ(title->mClient.right, title->mpMinButton->mOuter.left - 4);

    // Maximise: the button and the menu entry turn into restore.
    ClickOn(title->mpMaxButton);
    EXPECT_EQ(w->mMaximized, 1);
    EXPECT_EQ(title->mpMaxButton->mId, GUI_ID_RESTORE);
    EXPECT_EQ(title->mpMaxButton->mpBitmap, &gbRestoreButtonBitmap);
    EXPECT_NE(title->mpSysMenu->FindButton("Restore"), nullptr);
    EXPECT_EQ(title->mpSysMenu->FindButton("Maximize"), nullptr);
    // A press on a maximised window's bar does not move it.
    ClickOn(title);
    EXPECT_EQ(w->Count(GM_START_MOVE), 0);
    ClickOn(title->mpMaxButton);
    EXPECT_EQ(w->mMaximized, 0);
    EXPECT_EQ(title->mpMaxButton->mId, GUI_ID_MAXIMIZE);
    ASSERT_NE(title->mpSysMenu->FindButton("Maximize"), nullptr);
    EXPECT_EQ(title->mpSysMenu->FindButton("Maximize")->mId, GUI_ID_MAXIMIZE);

    // A press on the bar starts a move of the window from that point.
    ClickOn(title);
    ASSERT_EQ(w->Count(GM_START_MOVE), 1);
    for (const auto& m : w->seen) {
        if (m.type == GM_START_MOVE) {
            EXPECT_EQ(m.data, GUI_MOVE_WINDOW);
        }
    }

    // The close click destroys the window.
    Post(GuiMessage(GuiSignalType(GUI_ID_CLOSE, GUI_SIG_CLICKED), GUI_ID_CLOSE, title, title->mpCloseButton));
    Pump();
    EXPECT_TRUE(deleted);
}

TEST_F(TitleTest, SystemMenuOpensUnderTheBarAndItsEntriesReachTheWindow)
{
    bool deleted = false;
    auto* w = new RecDecorated(GuiRect(100, 100, 399, 299), GST_FRAME_THIN, &deleted);
    auto* title = new GuiTitle("Setup", GTS_SYSTEM_MENU);
    w->Add(title, 1);
    pm->Add(w, 1);
    Pump();
    GuiMenu* menu = title->mpSysMenu;
    ASSERT_NE(menu, nullptr);
    // Without those buttons the entries are disabled.
    EXPECT_FALSE(menu->Find(GUI_ID_CLOSE, 0)->mStyle & GST_ENABLED);
    EXPECT_FALSE(menu->Find(GUI_ID_MINIMIZE, 0)->mStyle & GST_ENABLED);

    ClickOn(title->mpSysButton);
    ASSERT_EQ(menu->mpParent, pm);
    EXPECT_EQ(menu->mOuter.left, title->mOuter.left);
    EXPECT_EQ(menu->mOuter.top, title->mOuter.bottom + 2);
    // A press on the bar closes it.
    ClickOn(title);
    EXPECT_EQ(menu->mpParent, nullptr);

    // "Close" in the menu closes the window like the button.
    ClickOn(title->mpSysButton);
    AsMenuButton(menu->Find(GUI_ID_CLOSE, 0))->SetEnabled(1);
    ClickOn(menu->Find(GUI_ID_CLOSE, 0));
    EXPECT_TRUE(deleted);   // and its menu with it
    for (GuiThing* c = pm->mpFirstChild; c; c = c->mpNext) EXPECT_NE(c->mType, GT_MENU);
}

TEST_F(TitleTest, TitleDestroyedOrGivenANewMenuWhileItsMenuIsOpen)
{
    auto* w = new GuiDecoratedWindow(GuiRect(100, 100, 399, 299), GST_FRAME_THIN);
    auto* title = new GuiTitle("Setup", GTS_SYSTEM_MENU | GTS_CLOSE);
    w->Add(title, 1);
    pm->Add(w, 1);
    Pump();

    // A new menu replaces an open one, which leaves the screen first.
    ClickOn(title->mpSysButton);
    ASSERT_EQ(title->mpSysMenu->mpParent, pm);
    title->AssignMenu(kOther);
    for (GuiThing* c = pm->mpFirstChild; c; c = c->mpNext) EXPECT_NE(c->mType, GT_MENU);
    ASSERT_NE(title->mpSysMenu->FindButton("Reset"), nullptr);
    title->AssignMenu(nullptr);   // ignored
    EXPECT_NE(title->mpSysMenu, nullptr);

    // The window goes while the new menu is open: the menu goes with it.
    ClickOn(title->mpSysButton);
    ASSERT_EQ(title->mpSysMenu->mpParent, pm);
    pm->Destroy(w);
    Pump();
    for (GuiThing* c = pm->mpFirstChild; c; c = c->mpNext) EXPECT_NE(c->mType, GT_MENU);
    pm->Draw();   // walks the screen tree

    // A title without a system menu never gets one.
    GuiTitle bare("Bare", 0);
    bare.AssignMenu(kOther);
    EXPECT_EQ(bare.mpSysMenu, nullptr);
}

TEST_F(TitleTest, OpenSystemMenuAtTheEndOfTheGuiIsFreedOnce)
{
    auto* w = new GuiDecoratedWindow(GuiRect(100, 100, 399, 299), GST_FRAME_THIN);
    auto* title = new GuiTitle("Setup", GTS_SYSTEM_MENU);
    w->Add(title, 1);
    pm->Add(w, 1);
    Pump();
    ClickOn(title->mpSysButton);
    ASSERT_EQ(title->mpSysMenu->mpParent, pm);
    // The presentation manager deletes the menu before the window.
}

}  // namespace
