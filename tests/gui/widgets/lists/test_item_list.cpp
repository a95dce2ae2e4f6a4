// Item lists with the real queue: order of inserted items, the moves and
// wrapping, the selection signal, clicks, automatic bars and paging.
#include <gtest/gtest.h>

#include "gui/core/gui_scroll.h"
#include "gui/widgets/lists/gui_list.h"
#include "gui/widgets/lists/test_lists_fixture.h"

namespace {

class ItemListTest : public ListWidgetTest {
protected:
    // A shown vertical list with `n` items of ids 1..n, 20 pixels high.
    GuiVertList* List(int n, const GuiRect& rect = GuiRect(10, 10, 109, 109), unsigned short id = 7) {
        auto* list = new GuiVertList(rect, id, GST_FRAME_THIN);
        for (int i = 0; i < n; ++i) list->AddToEnd(Item(names[i % 10], uint16_t(i + 1)), 0);
        host->Add(list, 1);
        Pump();
        host->seen.clear();
        return list;
    }
    std::vector<int> Ids(GuiList* list) {
        std::vector<int> ids;
        for (int i = 0; i < list->GetNumItems(); ++i) ids.push_back(list->GetThing(i)->mId);
        return ids;
    }
    const char* names[10] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"};
};

TEST_F(ItemListTest, InsertAtIndexKeepsTheOrderBehindTheNewItem)
{
    GuiVertList* list = List(3);
    auto* item = Item("new", 9);
    list->Insert(item, 0, 1, 1);
    EXPECT_EQ(Ids(list), (std::vector<int>{9, 1, 2, 3}));
    EXPECT_EQ(list->GetSelected(), item);
    EXPECT_TRUE(item->IsVisible());
    // Laid out from the client top, touching.
    EXPECT_EQ(item->mOuter.top, list->mClient.top);
    EXPECT_EQ(list->GetThing(1)->mOuter.top, item->mOuter.bottom + 1);
    EXPECT_EQ(item->mOuter.right, list->mClient.right);

    list->Insert(Item("mid", 8), 2, 0, 1);
    list->Insert(Item("end", 10), 99, 0, 1);
    list->Insert(Item("front", 11), -1, 0, 1);
    EXPECT_EQ(Ids(list), (std::vector<int>{11, 9, 1, 8, 2, 3, 10}));
    // An item of the list moved to another place.
    list->Insert(list->GetThing(6), 0, 0, 0);   // visible already: stays
    EXPECT_EQ(Ids(list), (std::vector<int>{11, 9, 1, 8, 2, 3, 10}));

    // A hidden list only reorders.
    auto* hidden = new GuiVertList(GuiRect(0, 0, 50, 50), 3, 0);
    for (int i = 1; i <= 3; ++i) hidden->AddToEnd(Item("x", uint16_t(i)), 0);
    hidden->Insert(Item("y", 4), 1, 1, 1);
    hidden->Insert(hidden->GetThing(3), 0, 0, 0);
    EXPECT_EQ(Ids(hidden), (std::vector<int>{3, 1, 4, 2}));
    EXPECT_EQ(hidden->GetSelected(), nullptr);
    delete hidden;

    EXPECT_EQ(list->GetThing(-1), nullptr);
    EXPECT_EQ(list->GetThing(7), nullptr);
    EXPECT_EQ(list->GetIndex(nullptr), -1);
    EXPECT_EQ(list->GetIndex(host), -1);
}

TEST_F(ItemListTest, MovesStopAtTheEndsUnlessTheListWraps)
{
    GuiVertList* list = List(3);
    EXPECT_EQ(list->GetSelectedIndex(), 0);   // shown without a selection: the first
    list->GetThing(1)->mStatus &= uint16_t(~GS_SELECTABLE);
    EXPECT_EQ(list->SelectNext(), list->GetThing(2));   // skips the unselectable item
    EXPECT_EQ(list->SelectNext(), nullptr);
    EXPECT_EQ(list->GetSelectedIndex(), 2);
    EXPECT_TRUE(list->GetThing(2)->mStyle & GST_SELECTED);
    EXPECT_EQ(list->SelectPrevious(), list->GetThing(0));
    EXPECT_FALSE(list->GetThing(2)->mStyle & GST_SELECTED);
    EXPECT_EQ(list->SelectPrevious(), nullptr);

    list->mStyle |= GLS_WRAP;
    EXPECT_EQ(list->SelectPrevious(), list->GetThing(2));
    EXPECT_EQ(list->SelectNext(), list->GetThing(0));

    // Only one selectable item: wrapping finds no other.
    list->GetThing(2)->mStatus &= uint16_t(~GS_SELECTABLE);
    EXPECT_EQ(list->SelectNext(), nullptr);
    EXPECT_EQ(list->GetSelectedIndex(), 0);
}

TEST_F(ItemListTest, EachSelectionQueuesOneSignalWithTheItemsId)
{
    GuiVertList* list = List(3);
    const uint16_t selected = GuiSignalType(7, GUI_SIG_LIST_SELECT);
    list->SetSelected(2);
    list->SetSelected(list->GetThing(1));
    Pump();
    auto signals = Seen(selected);
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_EQ(signals[0].data, 3);
    EXPECT_EQ(signals[1].data, 2);
    EXPECT_EQ(signals[1].source, list);

    // A click on an item selects it and its click goes on to the parent; a
    // click on the selection selects nothing anew.
    host->seen.clear();
    GuiThing* first = list->GetThing(0);
    Click(mq, first->mOuter.left + 5, first->mOuter.top + 5);
    Pump();
    EXPECT_EQ(list->GetSelected(), first);
    EXPECT_EQ(Seen(selected).size(), 1u);
    EXPECT_EQ(Seen(GuiSignalType(1, GUI_SIG_CLICKED)).size(), 1u);
    Click(mq, first->mOuter.left + 5, first->mOuter.top + 5);
    Pump();
    EXPECT_EQ(Seen(selected).size(), 1u);

    // Without the mask bit, or an id, nothing is sent.
    host->seen.clear();
    list->mSignalMask = 0;
    list->SetSelected(1);
    list->mSignalMask = 1u << GUI_SIG_LIST_SELECT;
    list->mId = 0;
    list->SetSelected(2);
    Pump();
    EXPECT_TRUE(Seen(selected).empty());

    // A thing that is no item clears the selection; so does removing it.
    list->SetSelected(host);
    EXPECT_EQ(list->GetSelected(), nullptr);
    list->SetSelected(1);
    GuiThing* gone = list->Remove(list->GetThing(1), 1);
    EXPECT_EQ(list->GetSelected(), nullptr);
    EXPECT_FALSE(gone->mStyle & GST_SELECTED);
    delete gone;
}

TEST_F(ItemListTest, OverflowingItemsBringAVerticalBarThatGoesWhenTheyFit)
{
    GuiVertList* list = List(4);   // 4 x 20 in a client area 98 high
    list->SetScrollMode(GUI_SCROLL_V_AUTO);
    EXPECT_EQ(list->mpVScroll, nullptr);
    const int fullRight = list->mClient.right;
    list->AddToEnd(Item("five", 5), 1);
    list->AddToEnd(Item("six", 6), 1);
    Pump();
    ASSERT_NE(list->mpVScroll, nullptr);
    EXPECT_EQ(list->mClient.right, fullRight - GUI_SCROLL_BAR);
    EXPECT_EQ(list->GetThing(0)->mOuter.right, fullRight - GUI_SCROLL_BAR);
    EXPECT_EQ(list->GetNumItems(), 6);   // the bar is no item
    EXPECT_EQ(list->GetThing(6), nullptr);

    // Moving down to the last item scrolls it into view.
    list->SetSelected(0);
    for (int i = 0; i < 5; ++i) list->SelectNext();
    GuiThing* last = list->GetThing(5);
    EXPECT_EQ(list->GetSelected(), last);
    EXPECT_EQ(last->mOuter.bottom, list->mClient.bottom);
    EXPECT_LT(list->GetThing(0)->mOuter.top, list->mClient.top);

    delete list->Remove(list->GetThing(5), 1);
    delete list->Remove(list->GetThing(4), 1);
    Pump();
    EXPECT_EQ(list->mpVScroll, nullptr);
    EXPECT_EQ(list->mClient.right, fullRight);
    EXPECT_EQ(list->GetThing(0)->mOuter.right, fullRight);
    EXPECT_EQ(list->GetThing(0)->mOuter.top, list->mClient.top);

    list->Clear();
    EXPECT_EQ(list->GetNumItems(), 0);
    EXPECT_EQ(list->GetSelected(), nullptr);
}

TEST_F(ItemListTest, PagesMoveByAClientAreaOfItems)
{
    GuiVertList* list = List(10);   // 98 pixels: a page is about five items
    EXPECT_EQ(list->PageDown(), list->GetThing(4));
    EXPECT_EQ(list->PageDown(), list->GetThing(8));
    EXPECT_EQ(list->PageDown(), list->GetThing(9));
    EXPECT_EQ(list->PageDown(), nullptr);
    EXPECT_EQ(list->PageUp(), list->GetThing(5));
    list->GetThing(1)->mStatus &= uint16_t(~GS_SELECTABLE);
    EXPECT_EQ(list->PageUp(), list->GetThing(2));
    EXPECT_EQ(list->PageUp(), list->GetThing(0));   // item 1 cannot be selected
}

TEST_F(ItemListTest, HorizontalListLaysItemsOutLeftToRight)
{
    auto* list = new GuiHorzList(GuiRect(10, 200, 209, 239), 4, GST_FRAME_NONE);
    list->mSeparation = 3;
    for (int i = 0; i < 3; ++i) list->AddToEnd(Item("h", uint16_t(i + 1)), 0);
    host->Add(list, 1);
    EXPECT_EQ(list->mType, GT_HORZ_LIST);
    for (int i = 0; i < 3; ++i) {
        GuiThing* t = list->GetThing(i);
        EXPECT_EQ(t->mOuter.left, 10 + i * (59 + 3));   // right edge + separation
        EXPECT_EQ(t->mOuter.top, list->mClient.top);
        EXPECT_EQ(t->mOuter.bottom, list->mClient.bottom);
        EXPECT_TRUE(t->mSignalMask & (1u << GUI_SIG_CLICKED));
    }
    EXPECT_EQ(list->GetSelectedIndex(), 0);
}

}  // namespace
