// Notebook driven through the real queue and drawn by the frame-buffer
// driver: the spin button of a crowded tab row, selecting tabs by pointer
// with the signal to the parent, tab clients, page ownership and a notebook
// without tabs.
#include <gtest/gtest.h>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/notebook/gui_notebook.h"
#include "gui/widgets/spin/gui_spin_button.h"

namespace {

constexpr uint16_t kStrings = GNB_TABS_ON_TOP | GNB_TAB_STRINGS | GST_FRAME_RAISED;
const char* const kLabels[] = {"Lap", "Fuel", "Tyres", "Brakes", "Gear"};

// A page: a frameless window filled with its own colour.
GuiWindow* Page(uint32_t colour)
{
    auto* w = new GuiWindow(GuiRect(0, 0, 9, 9), GST_FRAME_NONE);
    w->mColor[0] = colour;
    return w;
}

class NotebookTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 499, 399));
        pm->Add(host, 1);
    }

    // A notebook with the five labels and a page of its own colour per tab.
    GuiNotebook* Labelled(const GuiRect& r, unsigned short id) {
        auto* nb = new GuiNotebook(r, kStrings, 5);
        nb->mId = id;
        for (uint8_t i = 0; i < 5; ++i) {
            nb->SetTabString(i, kLabels[i]);
            nb->SetPageClient(i, Page(0x000010u * (i + 1)));
        }
        host->Add(nb, 1);
        Pump();
        return nb;
    }

    int LabelWidth() const {
        int w = 0;
        for (const char* s : kLabels) w = std::max(w, GuiThing::mpScreen->TextWidth(s, &MenuFont, -1));
        return w + 12;
    }

    void Press(int x, int y) {
        Click(mq, x, y);
        Pump();
    }
    void PressCentre(GuiThing* t) { Press((t->mOuter.left + t->mOuter.right) / 2, (t->mOuter.top + t->mOuter.bottom) / 2); }
    void ResizeTo(GuiNotebook* nb, const GuiRect& r) {
        GuiMessage m(GM_RESIZE, 0, nb, host);
        m.SetRect(r);
        Post(m);
        Pump();
    }

    RecWindow* host = nullptr;
};

TEST_F(NotebookTest, TabsThatNoLongerFitBringASpinButtonThatScrollsTheRow)
{
    GuiNotebook* nb = Labelled(GuiRect(10, 10, 479, 200), 7);
    const int w = LabelWidth();
    EXPECT_EQ(nb->mTabWidth, w);
    EXPECT_EQ(nb->mTabHeight, GuiThing::mpScreen->TextHeight(nullptr, &MenuFont) + 6);
    EXPECT_EQ(nb->mClient.top, 10 + nb->mTabHeight + 2);
    ASSERT_EQ(nb->mpSpin, nullptr) << "all five tabs fit";

    // Narrowed to three and a half tabs: the spin button takes the end of
    // the row and 32 pixels of it.
    const int right = 10 + 4 + 3 * w + w / 2;
    ResizeTo(nb, GuiRect(10, 10, right, 200));
    ASSERT_NE(nb->mpSpin, nullptr);
    const int ct = nb->mClient.top;
    EXPECT_TRUE(nb->mpSpin->mOuter == GuiRect(right - 34, ct - 19, right - 2, ct - 3));
    EXPECT_EQ(nb->mVisibleTabs, (nb->mClient.right - nb->mClient.left - 35) / w);
    EXPECT_TRUE(nb->mpSpin->IsVisible());
    EXPECT_TRUE(nb->GetPageClient(0)->mOuter == GuiRect(nb->mClient.left + 4, ct + 4, nb->mClient.right - 4,
                                                        nb->mClient.bottom - 4));

    // More scrolls one tab at a time until the last tab is in the row.
    GuiThing* more = nb->mpSpin->Find(GUI_ID_SPIN_RIGHT, 0);
    GuiThing* less = nb->mpSpin->Find(GUI_ID_SPIN_LEFT, 0);
    for (int i = 0; i < 6; ++i) PressCentre(more);
    EXPECT_EQ(nb->mFirstVisibleTab, 5 - nb->mVisibleTabs);
    for (int i = 0; i < 6; ++i) PressCentre(less);
    EXPECT_EQ(nb->mFirstVisibleTab, 0);

    // Scrolled, then wide again: the spin button goes and the row starts
    // at the first tab, which could not be reached otherwise.
    PressCentre(more);
    ASSERT_EQ(nb->mFirstVisibleTab, 1);
    ResizeTo(nb, GuiRect(10, 10, 479, 200));
    EXPECT_EQ(nb->mpSpin, nullptr);
    EXPECT_EQ(nb->mFirstVisibleTab, 0);
    EXPECT_EQ(nb->Find(GUI_ID_NOTEBOOK_SPIN, 0), nullptr);
}

TEST_F(NotebookTest, PressOnAnotherTabSwapsThePageAndSignalsTheIndex)
{
    GuiNotebook* nb = Labelled(GuiRect(10, 10, 479, 200), 7);
    nb->SetColor(1, 0xFFFF00);
    GuiThing::mpScreen->Invalidate(nb->mOuter);
    nb->Draw();
    const int w = nb->mTabWidth;
    const uint16_t selected = GuiSignalType(7, GUI_SIG_TAB_SELECTED);
    ASSERT_EQ(nb->GetPageClient(0)->mpParent, nb);
    EXPECT_EQ(Pixel(300, 150), 0x000010u);
    EXPECT_EQ(Pixel(10 + w / 2, 14), 0xFFFF00u) << "the current tab's own fill";

    Press(10 + 2 * w + w / 2, 14);
    EXPECT_EQ(nb->mCurrentTab, 2);
    EXPECT_EQ(nb->GetPageClient(0)->mpParent, nullptr);
    EXPECT_EQ(nb->GetPageClient(2)->mpParent, nb);
    EXPECT_EQ(Pixel(300, 150), 0x000030u);
    EXPECT_EQ(Pixel(10 + 2 * w + w / 2, 14), 0xFFFF00u);
    EXPECT_EQ(Pixel(10 + w / 2, 14), 0xC0C0C0u);
    ASSERT_EQ(host->Count(selected), 1);
    for (const GuiMessage& m : host->seen) {
        if (m.type != selected) continue;
        EXPECT_EQ(m.Word(0), 2);
        EXPECT_EQ(m.data, 7);
        EXPECT_EQ(m.source, nb);
    }

    // The current tab, the page area, and the band right of the last tab
    // select nothing, and the press does not reach the parent.
    const int presses = host->Count(GM_POINTER_PRESS);
    Press(10 + 2 * w + w / 2, 14);
    Press(nb->mClient.left + 1, nb->mClient.top + 1);
    Press(10 + 5 * w + 5, 14);
    EXPECT_EQ(nb->mCurrentTab, 2);
    EXPECT_EQ(host->Count(selected), 1);
    EXPECT_EQ(host->Count(GM_POINTER_PRESS), presses);

    // Without an id the page still changes, silently.
    nb->mId = 0;
    Press(10 + w / 2, 14);
    EXPECT_EQ(nb->mCurrentTab, 0);
    EXPECT_EQ(nb->GetPageClient(0)->mpParent, nb);
    for (const GuiMessage& m : host->seen) EXPECT_NE(m.type, GuiSignalType(0, GUI_SIG_TAB_SELECTED));
}

TEST_F(NotebookTest, SelectingBeyondTheRowScrollsTheTabIntoIt)
{
    GuiNotebook* nb = Labelled(GuiRect(10, 10, 10 + 4 + LabelWidth() * 5 / 2, 200), 7);
    ASSERT_NE(nb->mpSpin, nullptr);
    const int w = nb->mTabWidth, spinLeft = nb->mpSpin->mOuter.left;
    const uint8_t last = uint8_t(nb->mFirstVisibleTab + nb->mVisibleTabs);
    nb->SelectTab(last);
    EXPECT_EQ(nb->mFirstVisibleTab, last - (spinLeft - 10) / w + 1);
    EXPECT_LE(10 + (last - nb->mFirstVisibleTab + 1) * w, spinLeft) << "the tab ends before the spin button";
    nb->SelectTab(4);
    nb->SelectTab(0);
    EXPECT_EQ(nb->mFirstVisibleTab, 0) << "a tab left of the row becomes its first";

    // Tabs at the bottom: the band lies below the client area.
    auto* low = new GuiNotebook(GuiRect(10, 220, 300, 380), GNB_TAB_STRINGS | GST_FRAME_THICK, 2);
    low->SetTabString(0, "A");
    low->SetTabString(1, "B");
    host->Add(low, 1);
    Pump();
    EXPECT_EQ(low->mClient.bottom, 380 - low->mTabHeight - 5);
    Press(10 + low->mTabWidth + 4, 376);
    EXPECT_EQ(low->mCurrentTab, 1);
    Press(10 + 4, low->mClient.bottom - 2);
    EXPECT_EQ(low->mCurrentTab, 1) << "above the band";
}

TEST_F(NotebookTest, TabClientsSitOnTheirOwnTabs)
{
    auto* nb = new GuiNotebook(GuiRect(10, 10, 400, 200), GNB_TABS_ON_TOP | GST_FRAME_RAISED, 3);
    host->Add(nb, 1);
    Pump();
    EXPECT_EQ(nb->mTabWidth, 11) << "no labels yet";
    EXPECT_EQ(nb->mTabHeight, 5);
    nb->SetTabString(0, "ignored");   // no string table for tab clients

    auto* first = new GuiThing(GuiRect(0, 0, 29, 9), 0, GST_FRAME_NONE);
    auto* third = new GuiThing(GuiRect(0, 0, 19, 11), 0, GST_FRAME_NONE);
    nb->SetTabClient(0, first);
    nb->SetTabClient(2, third);
    nb->SetTabClient(1, nullptr);
    nb->RedrawTabs();
    EXPECT_EQ(nb->mTabWidth, 42);
    EXPECT_EQ(nb->mTabHeight, 18);
    EXPECT_EQ(first->mId, 1);
    EXPECT_EQ(third->mId, 3);
    EXPECT_TRUE(first->IsNonClient());
    EXPECT_FALSE(first->mStatus & GS_SELECTABLE);
    EXPECT_EQ(first->mOuter.left, 10 + 6);
    EXPECT_EQ(third->mOuter.left, 10 + 6 + 2 * 42) << "the empty middle tab still takes its step";
    EXPECT_EQ(third->mOuter.top, 13);
    EXPECT_EQ(third->mOuter.bottom, 10 + 18 - 4);

    // A press on a label reaches the notebook and selects its tab.
    Press(third->mOuter.left + 2, third->mOuter.top + 2);
    EXPECT_EQ(nb->mCurrentTab, 2);

    // Set again, or moved to another tab: stored once, never freed twice.
    nb->SetTabClient(0, first);
    nb->SetTabClient(1, first);
    EXPECT_EQ(nb->GetTabClient(0), nullptr);
    EXPECT_EQ(nb->GetTabClient(1), first);
    EXPECT_EQ(first->mId, 2);

    nb->ResetTabStyle(GNB_TAB_STRINGS);
    EXPECT_EQ(nb->mppTabClients, nullptr);
    ASSERT_NE(nb->mppTabStrings, nullptr);
    EXPECT_EQ(nb->Find(2, 0), nullptr) << "the tab clients are gone";
    nb->SetTabString(1, "Now text");
    EXPECT_STREQ(nb->mppTabStrings[1], "Now text");
}

TEST_F(NotebookTest, PagesAreOwnedUntilHandedBack)
{
    GuiNotebook* nb = Labelled(GuiRect(10, 10, 479, 200), 7);
    GuiThing* shown = nb->GetPageClient(0);

    // The same page again is kept, not destroyed; a new one replaces it.
    nb->SetPageClient(0, shown);
    EXPECT_EQ(nb->GetPageClient(0), shown);
    EXPECT_EQ(shown->mpParent, nb);
    GuiWindow* fresh = Page(0xABCDEF);
    nb->SetPageClient(0, fresh);
    EXPECT_EQ(fresh->mpParent, nb);
    EXPECT_EQ(Pixel(300, 150), 0xABCDEFu);
    // A page moved to another tab leaves its old entry.
    GuiThing* fourth = nb->GetPageClient(3);
    nb->SetPageClient(1, fourth);
    EXPECT_EQ(nb->GetPageClient(3), nullptr);

    GuiThing* back = nb->RemovePageClient(0);
    EXPECT_EQ(back, fresh);
    EXPECT_EQ(back->mpParent, nullptr);
    EXPECT_EQ(nb->RemovePageClient(0), nullptr);
    EXPECT_EQ(nb->RemovePageClient(200), nullptr);
    delete back;

    // Fewer tabs: pages and labels beyond the count go, the rest stay.
    nb->SelectTab(2);
    nb->ResetNumTabs(2);
    EXPECT_EQ(nb->mTabCount, 2);
    EXPECT_EQ(nb->mCurrentTab, 0);
    EXPECT_EQ(nb->GetPageClient(1), fourth);
    EXPECT_EQ(nb->GetPageClient(2), nullptr);
    EXPECT_STREQ(nb->mppTabStrings[1], "Fuel");
    nb->ResetNumTabs(4);
    EXPECT_EQ(nb->mppTabStrings[3], nullptr);
    EXPECT_EQ(nb->GetPageClient(1), fourth);
}

TEST_F(NotebookTest, WithoutTabsThereIsNoCurrentPage)
{
    auto* nb = new GuiNotebook(GuiRect(10, 10, 300, 200), kStrings, 0);
    nb->mId = 9;
    host->Add(nb, 1);
    Pump();
    GuiThing::mpScreen->Invalidate(nb->mOuter);
    nb->Draw();
    Press(20, 14);
    Press(100, 100);
    Post(GuiMessage(GuiSignalType(GUI_ID_NOTEBOOK_SPIN, GUI_SIG_SPIN_MORE), 0, nb, nullptr));
    Post(GuiMessage(GuiSignalType(GUI_ID_NOTEBOOK_SPIN, GUI_SIG_SPIN_LESS), 0, nb, nullptr));
    Pump();
    ResizeTo(nb, GuiRect(10, 10, 200, 150));
    EXPECT_EQ(nb->mpSpin, nullptr);

    GuiWindow* page = Page(0x123456);
    nb->SetPageClient(0, page);
    EXPECT_EQ(nb->GetPageClient(0), nullptr);
    delete page;   // refused, so still the caller's
    nb->SelectTab(0);
    EXPECT_EQ(nb->RemovePageClient(0), nullptr);
    nb->ResetNumTabs(0);
    EXPECT_EQ(host->Count(GuiSignalType(9, GUI_SIG_TAB_SELECTED)), 0);

    // Tabs come and go again, with their pages.
    nb->ResetNumTabs(2);
    nb->SetPageClient(0, Page(0x111111));
    nb->SetPageClient(1, Page(0x222222));
    EXPECT_NE(nb->GetPageClient(0)->mpParent, nullptr);
    nb->ResetNumTabs(0);
    EXPECT_EQ(nb->GetPageClient(0), nullptr);
    Press(20, 14);

    // Tab clients: a null thing is refused.
    auto* clients = new GuiNotebook(GuiRect(10, 210, 300, 380), GNB_TABS_ON_TOP, 0);
    host->Add(clients, 1);
    clients->SetTabClient(0, nullptr);
    clients->ResetNumTabs(1);
    clients->SetTabClient(0, nullptr);
    EXPECT_EQ(clients->GetTabClient(0), nullptr);
    Press(20, 214);
    Pump();
}

}  // namespace
