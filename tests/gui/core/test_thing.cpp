// The screen-object tree: child order, showing and hiding, clipping,
// signals, focus messages, destruction and text things.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gui/draw/gui_screen.h"
#include "gui/core/test_thing_fixture.h"

namespace {

using GuiThingTree = GuiRuntimeTest;

std::string Order(const GuiThing& parent)
{
    std::string s;
    for (GuiThing* c = parent.mpFirstChild; c; c = c->mpNext) s += char('A' + c->mId - 1);
    return s;
}

// Checks the back links of a child list against the forward links.
void ExpectLinked(const GuiThing& parent)
{
    GuiThing* prev = nullptr;
    for (GuiThing* c = parent.mpFirstChild; c; c = c->mpNext) {
        EXPECT_EQ(c->mpPrev, prev);
        EXPECT_EQ(c->mpParent, &parent);
        prev = c;
    }
}

TEST_F(GuiThingTree, AddOrdersChildrenAndMoveToFrontRotatesTheGroup)
{
    GuiThing root(GuiRect(0, 0, 99, 99), 0, GST_FRAME_NONE);
    GuiThing* t[4];
    for (int i = 0; i < 4; ++i) t[i] = new GuiThing(GuiRect(0, 0, 9, 9), uint16_t(i + 1), GST_FRAME_NONE);
    for (int i = 3; i >= 0; --i) root.Add(t[i], 0);
    EXPECT_EQ(Order(root), "ABCD");
    root.Add(t[0], 0);   // already the first child: nothing changes
    EXPECT_EQ(Order(root), "ABCD");
    root.MoveToFront(t[2], 0);
    EXPECT_EQ(Order(root), "CDAB");
    ExpectLinked(root);
    root.Add(t[1], 0);   // an existing later child moves to the front
    EXPECT_EQ(Order(root), "BCDA");
    ExpectLinked(root);

    // Window-level children stay in front of plain ones.
    auto* w1 = new GuiThing(GuiRect(0, 0, 9, 9), 5, GST_FRAME_NONE);   // 'E'
    w1->mStatus |= GS_VIEWPORT_OWNER;
    root.Add(w1, 0);
    EXPECT_EQ(Order(root), "EBCDA");
    auto* plain = new GuiThing(GuiRect(0, 0, 9, 9), 6, GST_FRAME_NONE);   // 'F'
    root.Add(plain, 0);
    EXPECT_EQ(Order(root), "EFBCDA");
    auto* w2 = new GuiThing(GuiRect(0, 0, 9, 9), 7, GST_FRAME_NONE);   // 'G'
    w2->mStatus |= GS_VIEWPORT_OWNER;
    root.AddToEnd(w2, 0);   // appended behind the other window-level child only
    EXPECT_EQ(Order(root), "EGFBCDA");
    root.MoveToFront(t[0], 0);   // a plain child cannot pass the window-level ones
    EXPECT_EQ(Order(root), "EGAFBCD");
    root.MoveToFront(w2, 0);   // the window-level group rotates on its own
    EXPECT_EQ(Order(root), "GEAFBCD");
    ExpectLinked(root);
}

TEST_F(GuiThingTree, StayInFrontChildrenKeepTheirPlace)
{
    GuiThing root(GuiRect(0, 0, 99, 99), 0, GST_FRAME_NONE);
    auto* top = new GuiThing(GuiRect(0, 0, 9, 9), 1, GST_FRAME_NONE);
    top->mStatus |= GS_ON_TOP;
    root.Add(top, 0);
    root.Add(new GuiThing(GuiRect(0, 0, 9, 9), 2, GST_FRAME_NONE), 0);
    root.Add(new GuiThing(GuiRect(0, 0, 9, 9), 3, GST_FRAME_NONE), 0);
    EXPECT_EQ(Order(root), "ACB");
}

TEST_F(GuiThingTree, RemoveGoesToTheRealParentAndHidesTheSubtree)
{
    auto* parent = new RecThing(GuiRect(10, 10, 109, 109), 1);
    auto* child = new RecThing(GuiRect(20, 20, 49, 49), 2);
    auto* grandchild = new RecThing(GuiRect(25, 25, 30, 30), 3);
    child->Add(grandchild, 0);
    parent->Add(child, 0);
    EXPECT_FALSE(child->IsVisible());
    pm->Add(parent, 0);
    EXPECT_TRUE(grandchild->IsVisible());
    EXPECT_EQ(grandchild->Count(GM_SHOW), 1);

    GuiThing stranger(GuiRect(0, 0, 1, 1), 9, GST_FRAME_NONE);
    EXPECT_EQ(stranger.Remove(child, 0), child);   // forwarded to the real parent
    EXPECT_EQ(parent->mpFirstChild, nullptr);
    EXPECT_EQ(child->mpParent, nullptr);
    EXPECT_FALSE(grandchild->IsVisible());
    EXPECT_EQ(grandchild->Count(GM_HIDE), 1);
    EXPECT_EQ(stranger.Remove(child, 0), nullptr);   // no parent any more
    delete child;
}

TEST_F(GuiThingTree, ClipsFollowParentClientAndNonClientChildren)
{
    auto* win = new GuiWindow(GuiRect(100, 100, 199, 149), GST_FRAME_THIN);
    EXPECT_EQ(win->mClient, GuiRect(101, 101, 198, 148));
    auto* inner = new GuiThing(GuiRect(90, 120, 150, 160), 1, GST_FRAME_NONE);
    auto* frame = new GuiThing(GuiRect(90, 120, 150, 160), 2, GST_FRAME_NONE);
    frame->mStatus |= GS_NONCLIENT;
    win->Add(inner, 0);
    win->Add(frame, 0);
    pm->Add(win, 0);
    EXPECT_EQ(inner->mClip, GuiRect(101, 120, 150, 148));
    EXPECT_EQ(frame->mClip, GuiRect(100, 120, 150, 149));

    // Moving the window shifts every rectangle of the subtree.
    GuiMessage resize(GM_RESIZE, 0, win);
    resize.SetRect(GuiRect(110, 100, 229, 179));
    win->Message(resize);
    EXPECT_EQ(win->mClient, GuiRect(111, 101, 228, 178));
    EXPECT_EQ(inner->mOuter, GuiRect(100, 120, 160, 160));
    EXPECT_EQ(inner->mClip, GuiRect(111, 120, 160, 160));

    // Centring on the window's client area.
    GuiThing* box = new GuiThing(GuiRect(0, 0, 9, 19), 3, GST_FRAME_NONE);
    win->Add(box, 0);
    win->Center(box);
    EXPECT_EQ(box->mOuter, GuiRect(165, 130, 174, 149));
    EXPECT_EQ(win->CenterOf(box).x, 169);
}

TEST_F(GuiThingTree, SignalsNeedIdMaskAndAVisibleParent)
{
    auto* parent = new RecWindow(GuiRect(0, 0, 99, 99), 1);
    pm->Add(parent, 0);
    auto* kid = new RecThing(GuiRect(10, 10, 19, 19), 5);
    parent->Add(kid, 0);
    GuiMessage press(GM_POINTER_PRESS, 0, kid);
    press.SetPoint(GuiPoint{12, 12});

    // Without the mask bit the press goes to the parent.
    kid->Message(press);
    EXPECT_EQ(parent->Count(GM_POINTER_PRESS), 1);
    Pump();
    EXPECT_EQ(parent->Count(GuiSignalType(5, GUI_SIG_CLICKED)), 0);

    kid->mSignalMask = 1u << GUI_SIG_CLICKED;
    kid->Message(press);
    EXPECT_EQ(parent->Count(GM_POINTER_PRESS), 1);
    Pump();
    ASSERT_EQ(parent->Count(GuiSignalType(5, GUI_SIG_CLICKED)), 1);
    const GuiMessage& sig = parent->seen.back();
    EXPECT_EQ(sig.source, kid);
    EXPECT_EQ(sig.data, 5);

    kid->mId = 0;   // no id: no signal
    kid->Message(press);
    EXPECT_EQ(parent->Count(GM_POINTER_PRESS), 2);

    // A hidden parent takes no signals either.
    kid->mId = 5;
    pm->Remove(parent, 0);
    kid->Message(press);
    Pump();
    EXPECT_EQ(parent->Count(GuiSignalType(5, GUI_SIG_CLICKED)), 1);
    delete parent;
}

TEST_F(GuiThingTree, FocusMessagesSetTheBranchUpAndClearItDown)
{
    auto* win = new RecWindow(GuiRect(0, 0, 99, 99));
    auto* a = new RecThing(GuiRect(1, 1, 9, 9), 1);
    auto* b = new RecThing(GuiRect(11, 1, 19, 9), 2);
    auto* deep = new RecThing(GuiRect(2, 2, 3, 3), 3);
    a->Add(deep, 0);
    win->Add(a, 0);
    win->Add(b, 0);
    GuiThing loner(GuiRect(0, 0, 1, 1), 0, GST_FRAME_NONE);
    loner.Message(GuiMessage(GM_FOCUS_LOST, 0, &loner));   // outside the branch: nothing
    EXPECT_EQ(loner.mStatus, GS_NEW_THING);

    deep->Message(GuiMessage(GM_FOCUS_GAINED, 0, deep));
    EXPECT_TRUE(deep->mStatus & GS_FOCUS_BRANCH);
    EXPECT_TRUE(a->mStatus & GS_FOCUS_BRANCH);
    EXPECT_TRUE(win->mStatus & GS_FOCUS_BRANCH);
    EXPECT_TRUE(a->mStatus & GS_CURRENT_CHILD);
    b->Message(GuiMessage(GM_FOCUS_GAINED, 0, b));   // the parent already has the branch
    EXPECT_TRUE(b->mStatus & GS_CURRENT_CHILD);
    EXPECT_FALSE(a->mStatus & GS_CURRENT_CHILD);

    win->Message(GuiMessage(GM_FOCUS_LOST, 0, win));   // clears down the first branch child only
    EXPECT_FALSE(win->mStatus & GS_FOCUS_BRANCH);
    EXPECT_FALSE(b->mStatus & GS_FOCUS_BRANCH);
    EXPECT_TRUE(a->mStatus & GS_FOCUS_BRANCH);
    delete win;
}

TEST_F(GuiThingTree, ColoursStatusAndFind)
{
    GuiThing t(GuiRect(0, 0, 9, 9), 4, GST_FRAME_NONE);
    t.SetColor(2, 0x123456);
    t.SetColor(4, 0xFFFFFF);   // ignored
    EXPECT_EQ(t.GetColor(2), 0x123456u);
    EXPECT_EQ(t.GetColor(4), 255u);
    EXPECT_EQ(t.GetColor(200), 255u);
    auto* c = new GuiThing(GuiRect(0, 0, 1, 1), 7, GST_FRAME_NONE);
    auto* gc = new GuiThing(GuiRect(0, 0, 1, 1), 8, GST_FRAME_NONE);
    c->Add(gc, 0);
    t.Add(c, 0);
    EXPECT_EQ(t.Find(8, 0), nullptr);
    EXPECT_EQ(t.Find(8, 1), gc);
    EXPECT_EQ(t.Find(7, 0), c);
    EXPECT_STREQ(GuiThing::Version(), "GUI Library Version 1.98.c");

    GuiRect r(5, 5, 5, 9);
    r--;
    EXPECT_EQ(r.Width(), 1);
}

TEST_F(GuiThingTree, DestroyOfItselfIsDeferredUntilItsHandlerReturned)
{
    struct SelfDestroyer : RecThing {
        using RecThing::RecThing;
        int Message(const GuiMessage& m) override {
            if (m.type == (GM_APPLICATION | 5)) {
                Destroy(this);
                alive = mpParent == nullptr;   // still a valid object here
                return 0;
            }
            return RecThing::Message(m);
        }
        bool alive = false;
    };
    auto* win = new RecWindow(GuiRect(0, 0, 99, 99));
    pm->Add(win, 0);
    auto* s = new SelfDestroyer(GuiRect(1, 1, 9, 9), 3);
    win->Add(s, 0);
    mq->SetTimer(s, 1, 5, 5);
    Post(GuiMessage(GM_APPLICATION | 5, 3));
    Post(GuiMessage(GM_APPLICATION | 6, 0, s));   // purged with the thing
    EXPECT_EQ(Pump(), 2);   // the request and the deferred delete
    EXPECT_EQ(win->mpFirstChild, nullptr);
    EXPECT_EQ(mq->FindTimer(s, 1), nullptr);

    // Another thing is deleted at once.
    auto* other = new RecThing(GuiRect(1, 1, 9, 9), 4);
    win->Add(other, 0);
    win->Destroy(other);
    EXPECT_EQ(win->mpFirstChild, nullptr);
    EXPECT_EQ(Pump(), 0);
}

TEST(GuiTextThing, OwnedTextGrowsReusesAndFrees)
{
    GuiTextThing t(GuiRect(0, 0, 9, 9), 1, GST_COPY_TEXT, "abc", 3);
    EXPECT_EQ(t.mpFont, &MenuFont);
    EXPECT_EQ(t.mBufferSize, 3 + 17);
    EXPECT_EQ(t.mLength, 4);
    const char* longer = "0123456789abcdefghijklmnop";   // 26 characters
    t.DataSet(longer);
    EXPECT_EQ(t.mBufferSize, 27 + 32);
    EXPECT_STREQ(t.mpText, longer);
    EXPECT_NE(t.mpText, longer);
    char* buffer = t.mpText;
    t.DataSet("xy");
    EXPECT_EQ(t.mpText, buffer);
    EXPECT_EQ(t.mLength, 3);
    t.DataSet("");
    EXPECT_EQ(t.mpText, nullptr);
    EXPECT_EQ(t.mBufferSize, 0);

    char borrowed[8] = "hello";
    GuiTextThing b(2, 0, borrowed, 99);   // a slot outside the table: no font
    EXPECT_EQ(b.mpFont, nullptr);
    EXPECT_EQ(b.mpText, borrowed);
    b.SetCopyMode();
    EXPECT_NE(b.mpText, borrowed);
    std::strcpy(borrowed, "bye");
    EXPECT_STREQ(b.mpText, "hello");

    EXPECT_EQ(GuiTextThing::AssignFontTablePointer(32, nullptr, 0), 0);
    const GuiFont* saved = GuiTextThing::mFontTable[20];
    EXPECT_EQ(GuiTextThing::AssignFontTablePointer(20, const_cast<GuiFont*>(&SysFont), 1), 1);
    EXPECT_EQ(GuiTextThing::mFontTable[20], &SysFont);
    GuiTextThing::AssignFontTablePointer(20, const_cast<GuiFont*>(saved), 0);
}

}  // namespace
