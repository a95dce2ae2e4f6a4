// GuiVertList and GuiHorzList: laying the items out one after another, and
// the automatic bars of a list, which narrow or widen the items with them.
#include "gui/widgets/lists/gui_list.h"

int GuiList::CheckAutoScroll()
{
    // A bar that comes or goes changes the client area, so the items are
    // laid out again and the check repeats with their new extent.
    int changed = 0;
    for (int round = 0; round < 4 && GuiWindow::CheckAutoScroll(); ++round) {
        changed = 1;
        PositionChildren();
    }
    return changed;
}

GuiVertList::GuiVertList(const GuiRect& rect, unsigned short id, unsigned short style) : GuiList(rect, id, style)
{
    mType = GT_VERT_LIST;
}

GuiVertList::~GuiVertList() = default;

void GuiVertList::PositionChildren()
{
    int y = mClient.top;
    for (GuiThing* t = FirstItem(); t; t = NextItem(t)) {
        const int h = t->mOuter.bottom - t->mOuter.top;
        t->Resize(GuiRect(mClient.left, y, mClient.right, y + h));
        AdoptItem(t);
        y += h + mSeparation;
    }
}

GuiHorzList::GuiHorzList(const GuiRect& rect, unsigned short id, unsigned short style) : GuiList(rect, id, style)
{
    mType = GT_HORZ_LIST;
}

GuiHorzList::~GuiHorzList() = default;

void GuiHorzList::PositionChildren()
{
    int x = mClient.left;
    for (GuiThing* t = FirstItem(); t; t = NextItem(t)) {
        const int w = t->mOuter.right - t->mOuter.left;
        t->Resize(GuiRect(x, mClient.top, x + w, mClient.bottom));
        AdoptItem(t);
        x += w + mSeparation;
    }
}
