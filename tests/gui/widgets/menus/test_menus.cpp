// Menus driven through the real queue: the signals of plain, tick and dot
// entries, fly-over mode, placement of submenus, and entry pixels.
#include <gtest/gtest.h>

#include "gui/core/gui_bitmaps.h"
#include "gui/widgets/menus/test_menus_fixture.h"

namespace {

using namespace menus_test;

TEST_F(MenuTest, PlainTickAndDotEntriesSignalTheOwner)
{
    GuiMenu* menu = OpenFile();
    ASSERT_TRUE(menu->IsVisible());
    ClickOn(bar->FindButton("Open"));
    EXPECT_FALSE(menu->IsVisible()) << "the selection closes the menu";
    auto s = Signals();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].type, 212);
    EXPECT_EQ(s[0].data, 5);
    EXPECT_EQ(s[0].source, bar->FindButton("Open"));

    // The tick toggles once per click: off (9), on (8), off (9).
    host->seen.clear();
    for (int i = 0; i < 3; ++i) {
        OpenFile();
        ClickOn(bar->FindButton("Logging"));
    }
    s = Signals();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].type, GuiSignalType(6, 9));
    EXPECT_EQ(s[1].type, GuiSignalType(6, 8));
    EXPECT_EQ(s[2].type, GuiSignalType(6, 9));
    EXPECT_FALSE(bar->FindButton("Logging")->IsChecked());

    // A dot moves within its group; the group beyond the separator keeps its dot.
    host->seen.clear();
    OpenFile();
    ClickOn(bar->FindButton("Page 2"));
    s = Signals();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].type, GuiSignalType(8, 10));
    EXPECT_EQ(s[0].data, 8);
    EXPECT_TRUE(bar->FindButton("Page 2")->IsDotted());
    EXPECT_FALSE(bar->FindButton("Page 1")->IsDotted());
    EXPECT_TRUE(bar->FindButton("Metric")->IsDotted());
}

TEST_F(MenuTest, BarEntriesWithoutSubmenuAndEntriesWithoutIdSendNothing)
{
    ClickOn(Entry("Help"));
    EXPECT_TRUE(Signals().empty());

    GuiMenuDescription table[] = {{"Quiet", 0, GST_ENABLED, nullptr}, {nullptr, 0, 0, nullptr}};
    auto* menu = new GuiMenu(table, 1);
    auto* quiet = static_cast<GuiMenuButton*>(menu->mpFirstChild);
    menu->SetOwner(host);
    pm->Add(menu, 1);
    Pump();
    ClickOn(quiet);
    EXPECT_TRUE(Signals().empty());
    // A menu that took the focus closes itself when the selection moves it.
    EXPECT_FALSE(menu->IsVisible());
    delete menu;
}

TEST_F(MenuTest, TablesAndSizes)
{
    GuiMenuDescription empty[] = {{"ignored", 0, 0, kMore}};
    GuiMenu menu(empty, 0);
    EXPECT_EQ(menu.mpFirstChild, nullptr);
    EXPECT_TRUE(menu.GetMinSize() == GuiRect(0, 0, 6, 6));
    GuiMenuBar emptyBar(empty);
    EXPECT_EQ(emptyBar.mpFirstChild, nullptr);

    // Entries keep table order; a separator with id 0 is an entry.
    int n = 0;
    const char* order[] = {"Open", "Logging", nullptr, "Page 1", "Page 2", nullptr, "Metric", "More"};
    for (GuiThing* t = Entry("File")->mpSubMenu->mpFirstChild; t; t = t->mpNext, ++n) {
        auto* b = AsMenuButton(t);
        ASSERT_NE(b, nullptr);
        if (order[n]) EXPECT_STREQ(b->mpText, order[n]);
        else EXPECT_TRUE(b->IsSeparator());
    }
    EXPECT_EQ(n, 8);
    EXPECT_EQ(bar->Find(31, 1), bar->FindButton("Sectors")) << "search reaches nested submenus";
    EXPECT_EQ(bar->FindButton("none"), nullptr);
}

TEST_F(MenuTest, BarEntriesAreLaidOutFromTheLeft)
{
    EXPECT_TRUE(bar->mOuter == GuiRect(0, 0, 399, 19));
    int expectedLeft = bar->mOuter.left + 6;
    for (GuiThing* t = bar->mpFirstChild; t; t = t->mpNext) {
        EXPECT_EQ(t->mOuter.left, expectedLeft);
        EXPECT_EQ(t->mOuter.top, 2);
        expectedLeft = t->mOuter.right + 4;
    }
    // The text is centred in the entry, black on the face.
    GuiMenuButton* file = Entry("File");
    const GuiRect ink = InkBox(file->mOuter, 0x000000);
    ASSERT_FALSE(ink.IsEmpty());
    EXPECT_LE(std::abs((ink.left - file->mOuter.left) - (file->mOuter.right - ink.right)), 2);
}

TEST_F(MenuTest, FlyoverModeOpensSubmenusOnHover)
{
    GuiMenuButton* file = Entry("File");
    GuiMenuButton* edit = Entry("Edit");
    HoverOn(edit);
    EXPECT_FALSE(edit->mpSubMenu->IsVisible()) << "no fly-over before a click";
    ClickOn(file);
    EXPECT_TRUE(bar->InFlyoverMode());
    EXPECT_TRUE(file->mpSubMenu->IsVisible());
    EXPECT_TRUE(file->mpSubMenu->mOuter.left == file->mOuter.left);
    EXPECT_EQ(file->mpSubMenu->mOuter.top, file->mOuter.bottom + 2);
    HoverOn(edit);
    EXPECT_FALSE(file->mpSubMenu->IsVisible());
    EXPECT_TRUE(edit->mpSubMenu->IsVisible());
    ClickOn(edit);
    EXPECT_FALSE(bar->InFlyoverMode());
    EXPECT_FALSE(edit->mpSubMenu->IsVisible());
}

TEST_F(MenuTest, PopupSubmenuOpensOnHoverAndFlipsAtTheRightEdge)
{
    // Near the right edge of the screen the submenu opens on the left.
    host->Resize(GuiRect(pm->mOuter.right - 119, 0, pm->mOuter.right, 299));
    GuiMessage sized(GM_PARENT_SIZED, 0, bar, host);
    bar->Message(sized);
    Pump();
    OpenFile();
    GuiMenuButton* more = bar->FindButton("More");
    HoverOn(more);
    GuiMenu* sub = more->mpSubMenu;
    ASSERT_TRUE(sub->IsVisible());
    EXPECT_EQ(sub->mOuter.right, more->mOuter.left - 3);
    EXPECT_EQ(Pixel(sub->mOuter.right, sub->mOuter.top + 5), 0x000000u) << "the menu's black right edge";
    // Hovering a sibling closes it again.
    HoverOn(bar->FindButton("Open"));
    EXPECT_FALSE(sub->IsVisible());

    // The same entry with room on the right opens beside its right edge.
    bar->CloseSiblings(nullptr);
    bar->SetFlyoverMode(0);
    host->Resize(GuiRect(0, 0, 399, 299));
    bar->Message(sized);
    Pump();
    OpenFile();
    HoverOn(more);
    EXPECT_EQ(sub->mOuter.left, more->mOuter.right);
    EXPECT_EQ(sub->mOuter.top, more->mOuter.top - 4);
}

TEST_F(MenuTest, BarSubmenuOpensAboveOnlyWithRoomAbove)
{
    // A bar near the bottom: the menu does not fit below its entry.
    host->Resize(GuiRect(0, pm->mOuter.bottom - 79, 399, pm->mOuter.bottom));
    GuiMessage sized(GM_PARENT_SIZED, 0, bar, host);
    bar->Message(sized);
    Pump();
    GuiMenu* menu = OpenFile();
    GuiMenuButton* file = Entry("File");
    ASSERT_TRUE(menu->IsVisible());
    EXPECT_EQ(menu->mOuter.bottom, file->mOuter.top - 2);
}

TEST_F(MenuTest, TickAndDotGlyphsSitAtTheLeftOfTheEntry)
{
    OpenFile();
    GuiMenuButton* tick = bar->FindButton("Logging");
    const GuiRect o = tick->mOuter;
    const int x0 = o.left + 4, y0 = o.top + ((o.bottom - o.top + 1) - 7) / 2;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool ink = gbCheckBitmap.data[y * 7 + x] == 0x00;
            EXPECT_EQ(Pixel(x0 + x, y0 + y) == 0x000000u, ink) << x << "," << y;
        }
    GuiMenuButton* dot = bar->FindButton("Page 1");
    const GuiRect d = dot->mOuter;
    EXPECT_EQ(CountColour(GuiRect(d.left + 4, d.top + ((d.bottom - d.top + 1) - 6) / 2, d.left + 9,
                                  d.top + ((d.bottom - d.top + 1) - 6) / 2 + 5),
                          0x000000),
              32);
    // The submenu arrow at the right end of "More".
    GuiMenuButton* more = bar->FindButton("More");
    EXPECT_EQ(CountColour(GuiRect(more->mOuter.right - 8, more->mOuter.top, more->mOuter.right - 5,
                                  more->mOuter.bottom),
                          0x000000),
              16);
}

TEST_F(MenuTest, HoveredPopupEntryIsDrawnSelected)
{
    OpenFile();
    GuiMenuButton* open = bar->FindButton("Open");
    HoverOn(open);
    EXPECT_TRUE(open->mHighlighted);
    EXPECT_GT(CountColour(open->mOuter, 0x0000BF), 0);
    EXPECT_GT(CountColour(open->mOuter, 0xFFFFFF), 0) << "white text";
    HoverOn(bar->FindButton("Page 2"));
    EXPECT_EQ(CountColour(open->mOuter, 0x0000BF), 0);
}

TEST_F(MenuTest, DeletedWindowTakesItsOpenMenusAlong)
{
    GuiMenu* menu = OpenFile();
    HoverOn(bar->FindButton("More"));
    ASSERT_TRUE(menu->IsVisible());
    delete host;   // still shown, menus open
    host = nullptr;
    for (GuiThing* t = pm->mpFirstChild; t; t = t->mpNext) EXPECT_NE(t->mType, GT_MENU);
    Pump();
}

TEST_F(MenuTest, SubmenuShownByTheApplicationOutlivesItsEntry)
{
    auto* entry = new GuiMenuButton(&kFile[7]);   // "More"
    GuiMenu* sub = entry->mpSubMenu;
    pm->Add(sub, 1);
    delete entry;
    EXPECT_TRUE(sub->IsVisible());
    pm->Remove(sub, 1);
    delete sub;
}

}  // namespace

namespace {

// The presentation manager deletes shown menus before the windows whose
// entries opened them; the entries must not reach back into them.
TEST_F(MenuTest, TheGuiEndsCleanlyWithNestedMenusOpen)
{
    OpenFile();
    HoverOn(bar->FindButton("More"));
    EXPECT_TRUE(bar->FindButton("More")->mSubMenuOpen);
}

}  // namespace
