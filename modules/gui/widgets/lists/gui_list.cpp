// GuiList: construction, adding, inserting and removing items, item access
// by index, and the list's message handling.
#include "gui/widgets/lists/gui_list.h"

#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/lists/gui_list_support.h"

GuiList::GuiList(const GuiRect& rect, unsigned short id, unsigned short style)
    : GuiWindow(rect, style), mpSelected(nullptr), mSeparation(1), mReserved(0)
{
    mType = GT_LIST;
    mId = id;
    mStatus |= GS_KEEPS_FOCUS | GS_ACTIVE;
    mSignalMask = 1u << GUI_SIG_LIST_SELECT;
}

GuiList::~GuiList() = default;

// ---- items ---------------------------------------------------------------------------

bool GuiList::IsItem(const GuiThing* t) const { return t && t->mpParent == this && !t->IsNonClient(); }

GuiThing* GuiList::NextItem(GuiThing* t)
{
    for (t = t ? t->mpNext : nullptr; t && t->IsNonClient(); t = t->mpNext) {}
    return t;
}

GuiThing* GuiList::PreviousItem(GuiThing* t)
{
    for (t = t ? t->mpPrev : nullptr; t && t->IsNonClient(); t = t->mpPrev) {}
    return t;
}

GuiThing* GuiList::FirstItem() const
{
    GuiThing* t = mpFirstChild;
    while (t && t->IsNonClient()) t = t->mpNext;
    return t;
}

GuiThing* GuiList::LastItem() const
{
    GuiThing* last = nullptr;
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext)
        if (!t->IsNonClient()) last = t;
    return last;
}

int GuiList::GetNumItems()
{
    int n = 0;
    for (GuiThing* t = FirstItem(); t; t = NextItem(t)) ++n;
    return n;
}

int GuiList::GetIndex(GuiThing* item)
{
    if (!item) return -1;
    int i = 0;
    for (GuiThing* t = FirstItem(); t; t = NextItem(t), ++i)
        if (t == item) return i;
    return -1;
}

GuiThing* GuiList::GetThing(int index)
{
    if (index < 0) return nullptr;
    GuiThing* t = FirstItem();
    while (t && index-- > 0) t = NextItem(t);
    return t;
}

GuiThing* GuiList::GetSelected() { return mpSelected; }
int GuiList::GetSelectedIndex() { return GetIndex(mpSelected); }
GuiThing* GuiList::SetSelected(int index) { return SetSelected(GetThing(index)); }

void GuiList::AdoptItem(GuiThing* item) const
{
    // The item's click goes to the list, which selects it.
    item->mSignalMask |= 1u << GUI_SIG_CLICKED;
    if (!(mStatus & GS_ACCEPTS_FOCUS)) item->mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
}

void GuiList::Repaint(GuiThing* t)
{
    if (!t || !IsVisible() || !mpScreen) return;
    mpScreen->Invalidate(t->mClip);
    t->Draw();
}

void GuiList::ItemsChanged(int redraw)
{
    PositionChildren();
    CheckAutoScroll();
    if (redraw && IsVisible() && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

// ---- adding and removing --------------------------------------------------------------

void GuiList::AddItem(GuiThing* item, int redraw, bool atEnd)
{
    if (!item || item == this) return;
    if (item->IsNonClient()) {
        if (atEnd) GuiThing::AddToEnd(item, redraw);
        else GuiWindow::Add(item, redraw);
        return;
    }
    if (IsVisible() && item->mpParent == this && item->IsVisible()) return;
    if (atEnd) GuiThing::AddToEnd(item, 0);
    else GuiThing::Add(item, 0);
    if (IsVisible()) ItemsChanged(redraw);
}

void GuiList::Add(GuiThing* item, int redraw) { AddItem(item, redraw, false); }
void GuiList::AddToEnd(GuiThing* item, int redraw) { AddItem(item, redraw, true); }

void GuiList::Insert(GuiThing* item, int index, int select, int redraw)
{
    if (!item || item == this || IsInside(item)) return;
    if (item->IsNonClient()) {
        GuiThing::AddToEnd(item, redraw);
        return;
    }
    if (index < 0 || index > GetNumItems()) {
        if (index < 0) Add(item, redraw);
        else AddToEnd(item, redraw);
        if (select && IsVisible()) SetSelected(item);
        return;
    }
    if (IsVisible() && item->mpParent == this && item->IsVisible()) return;
    if (item->mpParent == this) {
        // Reordered within the list: it leaves its old place first.
        Unlink(item);
        item->mpParent = nullptr;
    } else if (item->mpParent) {
        item->mpParent->Remove(item, 1);
    }
    // The items from the index on move behind the new one.
    LinkBefore(item, GetThing(index));
    if (!IsVisible()) return;
    ShowLinkedChild(item, 0, true);
    ItemsChanged(0);
    if (select) SetSelected(item);
    if (redraw && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

GuiThing* GuiList::Remove(GuiThing* item, int redraw)
{
    if (!item) return nullptr;
    if (!IsItem(item)) return GuiWindow::Remove(item, redraw);
    if (item == mpSelected) {
        mpSelected = nullptr;
        item->mStyle &= uint16_t(~GST_SELECTED);
    }
    GuiThing* removed = GuiThing::Remove(item, 0);
    if (IsVisible()) ItemsChanged(redraw);
    return removed;
}

void GuiList::Clear()
{
    mpSelected = nullptr;
    for (GuiThing* t = mpFirstChild; t;) {
        GuiThing* next = t->mpNext;
        if (!t->IsNonClient()) {
            GuiThing::Remove(t, 0);
            Destroy(t);
        }
        t = next;
    }
    CheckAutoScroll();
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

// ---- messages ---------------------------------------------------------------------------

int GuiList::Message(const GuiMessage& msg)
{
    if (GuiIsClickSignal(msg.type)) {
        // A click of an item selects it, then goes on to the list's parent.
        if (msg.source != mpSelected && IsItem(msg.source)) SetSelected(msg.source);
        return mpParent ? mpParent->Message(msg) : 0;
    }
    switch (msg.type) {
    case GM_SHOW:
        PositionChildren();
        if (!mpSelected) {
            SetSelected(0);
        } else {
            ScrollCurrentIntoView(IsVisible() ? 1 : 0);
            mpSelected->mStyle |= GST_SELECTED;
        }
        return GuiWindow::Message(msg);
    case GM_FOCUS_GAINED: {
        int r = GuiThing::Message(msg);
        if (mpSelected) {
            mpSelected->mStyle |= GST_SELECTED;
            if (mpPresentation) mpPresentation->MoveFocusTree(mpSelected);
        }
        return r;
    }
    default:
        return GuiWindow::Message(msg);
    }
}
