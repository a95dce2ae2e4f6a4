// Combo box with the real queue: the arrow opens and closes the list, a
// changed selection is reported once, losing the focus closes the list,
// and a combo box destroyed with its list open leaves nothing behind.
#include <gtest/gtest.h>

#include "gui/core/gui_button.h"
#include "gui/widgets/lists/gui_combo_box.h"
#include "gui/widgets/lists/test_lists_fixture.h"

namespace {

class ComboBoxTest : public ListWidgetTest {
protected:
    // A shown combo box (id 5) with three items of ids 1 to 3.
    GuiComboBox* Combo() {
        auto* combo = new GuiComboBox(GuiRect(20, 20, 169, 119), 5, GST_FRAME_THIN);
        for (int i = 1; i <= 3; ++i) combo->AddToEnd(Item(i == 1 ? "first" : i == 2 ? "second" : "third", uint16_t(i)), 0);
        host->Add(combo, 1);
        Pump();
        host->seen.clear();
        return combo;
    }
    void ClickArrow(GuiComboBox* combo) {
        const GuiRect& a = combo->mpButton->mOuter;
        Click(mq, (a.left + a.right) / 2, (a.top + a.bottom) / 2);
        Pump();
    }
    bool ListOnScreen(GuiComboBox* combo) {
        for (GuiThing* t = pm->mpFirstChild; t; t = t->mpNext)
            if (t == combo->mpList) return true;
        return false;
    }
    // Any ComboList among the presentation manager's children.
    bool AnyListOnScreen() {
        for (GuiThing* t = pm->mpFirstChild; t; t = t->mpNext)
            if (t->mType == GT_VERT_LIST) return true;
        return false;
    }
    size_t Selections() { return Seen(GuiSignalType(5, GUI_SIG_LIST_SELECT)).size(); }
};

TEST_F(ComboBoxTest, ShowingSelectsAndShowsTheFirstItem)
{
    GuiComboBox* combo = Combo();
    EXPECT_EQ(combo->mType, GT_COMBO_BOX);
    EXPECT_EQ(combo->GetSelectedIndex(), 0);
    EXPECT_EQ(combo->mpShown, combo->GetThing(0));
    ASSERT_NE(combo->mpImage, nullptr);
    // Closed to the item's height and a thin frame; the arrow at the right.
    EXPECT_EQ(combo->mOuter.bottom - combo->mOuter.top + 1, 20 + 2);
    EXPECT_EQ(combo->mpButton->mOuter.right, combo->mOuter.right - 1);
    EXPECT_EQ(combo->mpButton->mOuter.left, combo->mOuter.right - 16);
    EXPECT_EQ(combo->mClient.right, combo->mpButton->mOuter.left - 1);
    // Added to a focused window it took the focus: the item shows in the
    // selected look, white on blue; without the focus black on white.
    ASSERT_TRUE(combo->mStatus & GS_FOCUS_BRANCH);
    EXPECT_GT(CountColour(combo->mClient, 0xFFFFFF), 10);
    EXPECT_EQ(CountColour(combo->mClient, 0x000000), 0);
    combo->Message(GuiMessage(GM_FOCUS_LOST, 0, combo, pm));
    EXPECT_GT(CountColour(combo->mClient, 0x000000), 10);
    EXPECT_EQ(CountColour(combo->mClient, 0x0000BF), 0);
}

TEST_F(ComboBoxTest, ArrowOpensAndClosesAndAChangedSelectionIsReportedOnce)
{
    GuiComboBox* combo = Combo();
    ClickArrow(combo);
    EXPECT_EQ(combo->mOpen, 1);
    EXPECT_TRUE(ListOnScreen(combo));
    EXPECT_EQ(combo->mpList->mOuter.top, combo->mOuter.bottom + 2);
    EXPECT_EQ(combo->mpList->mOuter.bottom, 119);
    combo->mpList->SetSelected(2);
    ClickArrow(combo);
    EXPECT_EQ(combo->mOpen, 0);
    EXPECT_FALSE(ListOnScreen(combo));
    EXPECT_EQ(combo->mpList->mpParent, nullptr);
    auto signals = Seen(GuiSignalType(5, GUI_SIG_LIST_SELECT));
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals[0].data, 3);
    EXPECT_EQ(signals[0].source, combo);
    EXPECT_EQ(combo->mpShown, combo->GetThing(2));

    // Open and closed again without a change: nothing.
    ClickArrow(combo);
    ClickArrow(combo);
    EXPECT_EQ(Selections(), 1u);

    // A click on an item selects it and closes the list; the shown item
    // again gives no signal.
    ClickArrow(combo);
    GuiThing* second = combo->GetThing(1);
    Click(mq, second->mOuter.left + 4, second->mOuter.top + 4);
    Pump();
    EXPECT_FALSE(ListOnScreen(combo));
    EXPECT_EQ(combo->GetSelected(), second);
    EXPECT_EQ(Selections(), 2u);
    ClickArrow(combo);
    Click(mq, second->mOuter.left + 4, second->mOuter.top + 4);
    Pump();
    EXPECT_FALSE(ListOnScreen(combo));
    EXPECT_EQ(Selections(), 2u);
}

TEST_F(ComboBoxTest, LosingTheFocusClosesTheList)
{
    GuiComboBox* combo = Combo();
    auto* other = Item("other", 40);
    other->Resize(GuiRect(250, 20, 309, 39));
    host->Add(other, 1);
    Click(mq, combo->mClient.left + 3, combo->mClient.top + 3);   // the field takes the focus
    Pump();
    EXPECT_TRUE(combo->mStatus & GS_FOCUS_BRANCH);
    ClickArrow(combo);
    ASSERT_TRUE(ListOnScreen(combo));
    Click(mq, 260, 25);
    Pump();
    EXPECT_FALSE(combo->mStatus & GS_FOCUS_BRANCH);
    EXPECT_EQ(combo->mOpen, 0);
    EXPECT_FALSE(ListOnScreen(combo));
}

TEST_F(ComboBoxTest, DestroyedOrHiddenWhileOpenLeavesNoListOnScreen)
{
    GuiComboBox* combo = Combo();
    ClickArrow(combo);
    ASSERT_TRUE(ListOnScreen(combo));
    host->Destroy(combo);
    EXPECT_FALSE(AnyListOnScreen());
    Pump();
    // The area the list covered is painted again (the host is white).
    EXPECT_EQ(Pixel(60, 80), 0xFFFFFFu);

    // A hidden field takes its open list along.
    GuiComboBox* second = Combo();
    ClickArrow(second);
    ASSERT_TRUE(ListOnScreen(second));
    host->Remove(second, 1);
    EXPECT_FALSE(AnyListOnScreen());
    delete second;

    // Still open when the runtime is torn down: each is deleted once.
    GuiComboBox* third = Combo();
    ClickArrow(third);
    ASSERT_TRUE(ListOnScreen(third));
}

TEST_F(ComboBoxTest, RemovingOrClearingTheShownItemEmptiesTheField)
{
    GuiComboBox* combo = Combo();
    GuiThing* first = combo->GetThing(0);
    delete combo->Remove(first, 1);
    EXPECT_EQ(combo->mpShown, nullptr);
    EXPECT_EQ(combo->mpImage, nullptr);
    combo->SetSelected(1);
    EXPECT_EQ(combo->mpShown, combo->GetThing(1));
    combo->Clear();
    EXPECT_EQ(combo->mpShown, nullptr);
    EXPECT_EQ(combo->GetSelected(), nullptr);
    EXPECT_EQ(combo->Find(2, 0), nullptr);
}

}  // namespace
