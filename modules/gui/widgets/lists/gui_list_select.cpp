// GuiList: the selection, the keyboard-style moves (next, previous, page
// down, page up) and scrolling the selection into view.
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_scroll.h"
#include "gui/widgets/lists/gui_list.h"
#include "gui/widgets/lists/gui_list_support.h"

bool GuiList::IsMoveTarget(const GuiThing* t)
{
    return t && !t->IsNonClient() && (t->mStatus & GS_SELECTABLE);
}

int GuiList::Extent(const GuiThing* t) const { return IsHorizontal() ? t->mOuter.Width() : t->mOuter.Height(); }
int GuiList::ClientExtent() const { return IsHorizontal() ? mClient.Width() : mClient.Height(); }

GuiThing* GuiList::SetSelected(GuiThing* item)
{
    if (GuiThing* old = mpSelected) {
        old->mStyle &= uint16_t(~GST_SELECTED);
        Repaint(old);
    }
    if (!IsItem(item)) {
        mpSelected = nullptr;
        return nullptr;
    }
    mpSelected = item;
    item->mStyle |= GST_SELECTED;
    if (IsVisible()) {
        ScrollCurrentIntoView(1);
        Repaint(item);
        if ((mStatus & GS_FOCUS_BRANCH) && mpPresentation) mpPresentation->MoveFocusTree(item);
    }
    if (mSignalMask & (1u << GUI_SIG_LIST_SELECT)) GuiQueueSignal(this, GUI_SIG_LIST_SELECT, item->mId);
    return item;
}

void GuiList::ScrollCurrentIntoView(int redraw)
{
    if (!mpSelected) return;
    const GuiRect& r = mpSelected->mOuter;
    const bool horizontal = IsHorizontal();
    const int nearEdge = horizontal ? r.left : r.top, farEdge = horizontal ? r.right : r.bottom;
    const int clientNear = horizontal ? mClient.left : mClient.top;
    const int clientFar = horizontal ? mClient.right : mClient.bottom;
    // An item larger than the client area shows its start.
    int d = 0;
    if (nearEdge < clientNear) d = clientNear - nearEdge;
    else if (farEdge > clientFar) d = clientFar - farEdge;
    if (d == 0) return;
    const int paint = redraw && IsVisible();
    MoveClientObjects(horizontal ? d : 0, horizontal ? 0 : d, paint);
    GuiScroll* bar = horizontal ? static_cast<GuiScroll*>(mpHScroll) : mpVScroll;
    if (!bar) return;
    bar->Reset();
    if (paint) Repaint(bar);
}

GuiThing* GuiList::Step(bool forward)
{
    GuiThing* sel = mpSelected;
    auto step = [forward](GuiThing* t) { return forward ? NextItem(t) : PreviousItem(t); };
    GuiThing* const end = forward ? FirstItem() : LastItem();
    for (GuiThing* t = sel ? step(sel) : end; t; t = step(t))
        if (IsMoveTarget(t)) return SetSelected(t);
    if (mStyle & GLS_WRAP)
        for (GuiThing* t = end; t; t = step(t))
            if (t != sel && IsMoveTarget(t)) return SetSelected(t);
    if (sel) sel->mStyle |= GST_SELECTED;
    return nullptr;
}

GuiThing* GuiList::SelectNext() { return Step(true); }
GuiThing* GuiList::SelectPrevious() { return Step(false); }

GuiThing* GuiList::Page(bool forward)
{
    GuiThing* sel = mpSelected;
    if (!sel) return forward ? SelectNext() : SelectPrevious();
    // Walk on until the items passed fill the client area once.
    GuiThing* cur = sel;
    int filled = Extent(sel);
    const int page = ClientExtent();
    while (filled < page) {
        GuiThing* n = forward ? NextItem(cur) : PreviousItem(cur);
        if (!n) break;
        cur = n;
        filled += Extent(cur) + mSeparation;
    }
    // An item the moves may not select gives way to the one before it.
    while (cur != sel && !IsMoveTarget(cur)) cur = forward ? PreviousItem(cur) : NextItem(cur);
    return cur == sel ? nullptr : SetSelected(cur);
}

GuiThing* GuiList::PageDown() { return Page(true); }
GuiThing* GuiList::PageUp() { return Page(false); }
