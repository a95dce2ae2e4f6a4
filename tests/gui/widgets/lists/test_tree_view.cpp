// Tree view with the real queue: expander clicks and their signals, the
// expander's look by pixels, searching by level, removing the selection
// with its branch, and a view without an id.
#include <gtest/gtest.h>

#include "gui/widgets/lists/gui_tree_view.h"
#include "gui/widgets/lists/test_lists_fixture.h"

namespace {

class TreeViewTest : public ListWidgetTest {
protected:
    // Root
    //   A        (closed: A1, A2)
    //   B        (open: B1 (closed: B1a), B2)
    //   C
    void SetUp() override {
        ListWidgetTest::SetUp();
        view = new GuiTreeView(GuiRect(10, 10, 209, 209), GST_FRAME_THIN, "Root", nullptr);
        view->mId = 9;
        a = Node(view->mpRoot, "A");
        Node(a, "A1");
        Node(a, "A2");
        b = Node(view->mpRoot, "B");
        b1 = Node(b, "B1");
        Node(b1, "B1a");
        b2 = Node(b, "B2");
        c = Node(view->mpRoot, "C");
        b->mOpen = 1;
        host->Add(view, 1);
        Pump();
        host->seen.clear();
    }
    static GuiTreeNode* Node(GuiTreeNode* parent, const char* text) {
        auto* n = new GuiTreeNode(text, nullptr);
        parent->Add(n, 1);
        return n;
    }
    // Centre of the node's expander box.
    static GuiPoint Expander(GuiTreeView* v, GuiTreeNode* n) {
        return GuiPoint{int16_t(n->mOuter.left - v->mIndent), int16_t((n->mOuter.top + n->mOuter.bottom) / 2)};
    }
    void ClickAt(GuiPoint p) {
        Click(mq, p.x, p.y);
        Pump();
    }

    GuiTreeView* view = nullptr;
    GuiTreeNode *a = nullptr, *b = nullptr, *b1 = nullptr, *b2 = nullptr, *c = nullptr;
};

TEST_F(TreeViewTest, ExpanderClicksOpenAndCloseWithSignalsAndTheirLook)
{
    const GuiPoint box = Expander(view, a);
    // A closed branch: red horizontal and vertical strokes in the box.
    EXPECT_EQ(Pixel(box.x - 2, box.y), 0xBF0000u);
    EXPECT_EQ(Pixel(box.x, box.y - 2), 0xBF0000u);
    EXPECT_EQ(Pixel(box.x - 4, box.y - 4), 0xC0C0C0u);   // the 9 x 9 outline
    EXPECT_EQ(Pixel(box.x + 4, box.y + 4), 0xC0C0C0u);
    EXPECT_EQ(CountColour(GuiRect(box.x - 4, box.y - 4, box.x + 4, box.y + 4), 0xBF0000), 5 + 4);

    ClickAt(box);
    EXPECT_EQ(a->mOpen, 1);
    auto opened = Seen(GuiSignalType(9, GUI_SIG_TREE_OPENED));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Pointer(0), a);
    EXPECT_EQ(opened[0].data, 9);
    // Open: only the horizontal stroke.
    EXPECT_EQ(Pixel(box.x - 2, box.y), 0xBF0000u);
    EXPECT_EQ(Pixel(box.x, box.y - 2), 0xFFFFFFu);
    EXPECT_EQ(CountColour(GuiRect(box.x - 4, box.y - 4, box.x + 4, box.y + 4), 0xBF0000), 5);
    // The sub-nodes now come between A and B.
    EXPECT_EQ(b->mOuter.top, a->mOuter.top + 3 * a->NodeHeight());
    EXPECT_EQ(view->mpSelected, nullptr);   // the expander selects nothing

    ClickAt(box);
    EXPECT_EQ(a->mOpen, 0);
    auto closed = Seen(GuiSignalType(9, GUI_SIG_TREE_CLOSED));
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].Pointer(0), a);
    EXPECT_EQ(Pixel(box.x, box.y - 2), 0xBF0000u);

    // A press on a node's text selects it (signal 8); the second button's
    // release over it sends signal 12.
    ClickAt(GuiPoint{int16_t(c->mOuter.left + 4), int16_t(c->mOuter.top + 4)});
    EXPECT_EQ(view->mpSelected, c);
    auto selected = Seen(GuiSignalType(9, GUI_SIG_TREE_SELECT));
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].Pointer(0), c);
    EXPECT_EQ(c->mSelected, 1);   // the view has the focus
    EXPECT_GT(CountColour(c->mOuter, 0x0000BF), 10);
    Post(PointerAt(GM_POINTER2_PRESS, c->mOuter.left + 4, c->mOuter.top + 4));
    Post(PointerAt(GM_POINTER2_RELEASE, c->mOuter.left + 4, c->mOuter.top + 4));
    Pump();
    EXPECT_EQ(Seen(GuiSignalType(9, GUI_SIG_TREE_CONTEXT)).size(), 1u);
}

TEST_F(TreeViewTest, ViewWithoutIdSendsNoSignals)
{
    view->mId = 0;
    ClickAt(Expander(view, a));
    EXPECT_EQ(a->mOpen, 1);
    ClickAt(GuiPoint{int16_t(c->mOuter.left + 4), int16_t(c->mOuter.top + 4)});
    EXPECT_EQ(view->mpSelected, c);
    for (const auto& m : host->seen) EXPECT_LT(m.type, GM_SIGNAL_BASE);
}

TEST_F(TreeViewTest, FindNodeSearchesOneLevelOrAll)
{
    Node(b2, "A");   // "A" also on the third level
    EXPECT_EQ(view->FindNode(2, "B1"), b1);
    EXPECT_EQ(view->FindNode(1, "B1"), nullptr);
    EXPECT_EQ(view->FindNode(2, "A"), nullptr);
    EXPECT_EQ(view->FindNode(1, "A"), a);
    EXPECT_EQ(view->FindNode(0, "A"), a);
    EXPECT_EQ(view->FindNode(3, "A")->Parent(), b2);
    EXPECT_EQ(view->FindNode(0, "B1a")->Parent(), b1);   // inside a closed branch too
    EXPECT_EQ(view->FindNode(0, "Root"), nullptr);       // the root is not searched
    EXPECT_EQ(view->FindNode(0, nullptr), nullptr);
    EXPECT_EQ(view->FindNode(0, "missing"), nullptr);
}

TEST_F(TreeViewTest, RemovingTheSelectionWithItsBranchSelectsTheNodeBelowTheBranch)
{
    // The selected open node with sub-nodes: the node below the branch.
    view->Select(b, 1);
    view->DestroyNode(b);
    EXPECT_EQ(view->mpSelected, c);
    EXPECT_EQ(view->mpRoot->Count(), 2);

    // A selection inside a removed branch moves the same way.
    a->mOpen = 1;
    view->Select(view->FindNode(2, "A2"), 1);
    view->DestroyNode(a);
    EXPECT_EQ(view->mpSelected, c);

    // The last node: the node above it.
    GuiTreeNode* d = Node(view->mpRoot, "D");
    Node(d, "D1");
    d->mOpen = 1;
    view->Select(d, 1);
    view->DestroyNode(d);
    EXPECT_EQ(view->mpSelected, c);
    view->DestroyNode(c);
    EXPECT_EQ(view->mpSelected, view->mpRoot);

    // A node outside the selection leaves it alone; the root cannot go.
    GuiTreeNode* e = Node(view->mpRoot, "E");
    GuiTreeNode* f = Node(view->mpRoot, "F");
    view->Select(f, 0);
    delete view->RemoveNode(e);
    EXPECT_EQ(view->mpSelected, f);
    EXPECT_EQ(view->RemoveNode(view->mpRoot), nullptr);
    EXPECT_EQ(view->RemoveNode(nullptr), nullptr);

    view->Reset("Fresh");
    EXPECT_EQ(view->mpRoot->Count(), 0);
    EXPECT_EQ(view->mpSelected, nullptr);
    EXPECT_STREQ(view->mpRoot->mpText, "Fresh");
}

TEST_F(TreeViewTest, NeighboursInsertAndBars)
{
    EXPECT_EQ(b1->NodeAbove(), b);
    EXPECT_EQ(b2->NodeAbove(), b1);           // B1 is closed
    EXPECT_EQ(c->NodeAbove(), b2);            // the bottom of B's branch
    EXPECT_EQ(a->NodeBelow(), b);             // A is closed
    EXPECT_EQ(b2->NodeBelow(), c);
    EXPECT_EQ(c->NodeBelow(), nullptr);
    EXPECT_EQ(view->mpRoot->NodeAbove(), nullptr);
    EXPECT_EQ(b->NodeBottom(), b2);

    // Inserting in front of the first sub-node makes the new node the first.
    auto* z = new GuiTreeNode("Z", nullptr);
    a->Insert(z);
    EXPECT_EQ(view->mpRoot->FirstSub(), z);
    EXPECT_EQ(z->Next(), a);
    auto* y = new GuiTreeNode("Y", nullptr);
    c->Insert(y);
    EXPECT_EQ(y->Next(), c);
    EXPECT_EQ(b->Next(), y);
    // A node does not take its own ancestor.
    b1->Add(b, 1);
    EXPECT_EQ(b->Parent(), view->mpRoot);

    // Opening more than fits brings the vertical bar; closing takes it away.
    EXPECT_EQ(view->mpVScroll, nullptr);
    for (int i = 0; i < 12; ++i) Node(b2, "more");
    view->ToggleBranch(b2);
    Pump();
    ASSERT_NE(view->mpVScroll, nullptr);
    view->ToggleBranch(b2);
    Pump();
    EXPECT_EQ(view->mpVScroll, nullptr);
    EXPECT_EQ(view->mVOffset, 0);
}

}  // namespace
