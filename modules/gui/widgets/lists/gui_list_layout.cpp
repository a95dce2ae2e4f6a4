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

void GuiList::StackItems()
{
    // Each item keeps its extent along the list and takes the client
    // area's across it; the next starts at its far edge + separation.
    const bool horizontal = IsHorizontal();
    int at = horizontal ? mClient.left : mClient.top;
    for (GuiThing* t = FirstItem(); t; t = NextItem(t)) {
        const int extent = Extent(t) - 1;
        if (horizontal) t->Resize(GuiRect(at, mClient.top, at + extent, mClient.bottom));
        else t->Resize(GuiRect(mClient.left, at, mClient.right, at + extent));
        AdoptItem(t);
        at += extent + mSeparation;
    }
}

GuiVertList::GuiVertList(const GuiRect& rect, unsigned short id, unsigned short style) : GuiList(rect, id, style)
{
    mType = GT_VERT_LIST;
}

GuiVertList::~GuiVertList() = default;

void GuiVertList::PositionChildren() { StackItems(); }

GuiHorzList::GuiHorzList(const GuiRect& rect, unsigned short id, unsigned short style) : GuiList(rect, id, style)
{
    mType = GT_HORZ_LIST;
}

GuiHorzList::~GuiHorzList() = default;

void GuiHorzList::PositionChildren() { StackItems(); }
