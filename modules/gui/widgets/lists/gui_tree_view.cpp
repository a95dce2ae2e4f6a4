// GuiTreeView: construction, messages, selection, opening and closing
// branches, searching, and removing nodes.
#include "gui/widgets/lists/gui_tree_view.h"

#include <algorithm>
#include <cstring>

#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/lists/gui_list_support.h"

GuiTreeView::GuiTreeView(const GuiRect& rect, unsigned int style, const char* text, GuiBitmap* icon)
    : GuiWindow(rect, style),
      mpRoot(new GuiTreeNode(text, icon)),
      mpSelected(nullptr),
      mVOffset(0),
      mHOffset(0),
      mIndent(14)
{
    mType = GT_TREE_VIEW;
    mStatus &= uint16_t(~GS_SIZABLE);
    mScrollMode = GUI_SCROLL_V_AUTO;
    mSignalMask = 0x0300;
    mpRoot->mOpen = 1;
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
}

GuiTreeView::~GuiTreeView() { delete mpRoot; }

void GuiTreeView::InvalidateIfShown(const GuiRect& r)
{
    if (IsVisible() && mpScreen) mpScreen->Invalidate(r);
}

void GuiTreeView::Refresh()
{
    if (!IsVisible() || !mpScreen) return;
    CheckAutoScroll();
    mpScreen->Invalidate(mClient);
    Draw();
}

void GuiTreeView::GetVScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    const int h = mClient.Height();
    *info = GuiScrollInfo{0, mpRoot->BranchHeight() + 4, mVOffset, h / 10, h};
}

void GuiTreeView::GetHScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    const int w = mClient.Width();
    *info = GuiScrollInfo{0, mpRoot->BranchWidth(this), mHOffset, w / 10, w};
}

// ---- messages ----------------------------------------------------------------------------

int GuiTreeView::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        if (mpSelected) {
            Layout();
            const GuiRect& r = mpSelected->mOuter;
            if (!mpVScroll) {
                CheckAutoScroll();
            } else if (r.top < mClient.top && mVOffset != 0) {
                mVOffset = std::max(0, mVOffset - (mClient.top - r.top));
                mpVScroll->Reset();
            } else if (r.bottom > mClient.bottom) {
                mVOffset += r.bottom - mClient.bottom;
                mpVScroll->Reset();
            }
        }
        return GuiWindow::Message(msg);
    case GM_POINTER_PRESS: {
        const int r = GuiWindow::Message(msg);
        const GuiPoint p = msg.Point();
        if (mClient.Contains(p) && CheckNodeClick(p, mpRoot) && mId)
            GuiQueueSignal(this, GUI_SIG_TREE_SELECT, mId, mpSelected);
        return r;
    }
    case GM_POINTER2_RELEASE:
        if (mpSelected && mpSelected->mOuter.Contains(msg.Point()) && mId)
            GuiQueueSignal(this, GUI_SIG_TREE_CONTEXT, mId, mpSelected);
        return 0;
    case GM_VSCROLL:
        mVOffset = std::max<int32_t>(0, int32_t(msg.Word(0)));
        InvalidateIfShown(mClient);
        if (IsVisible()) Draw();
        return 0;
    case GM_HSCROLL:
        mHOffset = std::max<int32_t>(0, int32_t(msg.Word(0)));
        InvalidateIfShown(mClient);
        if (IsVisible()) Draw();
        return 0;
    default:
        return GuiWindow::Message(msg);
    }
}

// ---- selection and branches -----------------------------------------------------------------

void GuiTreeView::Select(GuiTreeNode* node, int redraw)
{
    if (GuiTreeNode* old = mpSelected) {
        old->mSelected = 0;
        InvalidateIfShown(old->mOuter);
    }
    mpSelected = node;
    if (node) {
        const bool focused = mStatus & GS_FOCUS_BRANCH;
        node->mSelected = focused ? 1 : 0;
        InvalidateIfShown(node->mOuter);
        if (mpVScroll && focused) {
            // A node outside the client area is scrolled into it.
            const GuiRect& r = node->mOuter;
            if (r.top < mClient.top && mVOffset != 0) {
                mVOffset = std::max(0, mVOffset - (mClient.top - r.top));
                mpVScroll->Reset();
                InvalidateIfShown(mClient);
                if (redraw && IsVisible()) {
                    Draw();
                    return;
                }
            } else if (r.bottom > mClient.bottom) {
                mVOffset += r.bottom - mClient.bottom;
                mpVScroll->Reset();
                InvalidateIfShown(mClient);
            }
        }
    }
    if (redraw && IsVisible()) Draw();
}

void GuiTreeView::ToggleBranch(GuiTreeNode* node)
{
    // The root stays open; a node without sub-nodes has nothing to open.
    if (!node || node == mpRoot || (!node->mOpen && !node->FirstSub())) return;
    const int roomW = mClient.right - mClient.left - 15, roomH = mClient.bottom - mClient.top - 15;
    if (node->mOpen) {
        node->mOpen = 0;
        if (mpRoot->BranchWidth(this) > roomW) {
            if (mpHScroll) mpHScroll->Reset();
        } else {
            CheckAutoScroll();
            mHOffset = 0;
        }
        if (mpRoot->BranchHeight() > roomH) {
            if (mpVScroll) mpVScroll->Reset();
        } else {
            CheckAutoScroll();
            mVOffset = 0;
        }
    } else {
        node->mOpen = 1;
        if (mpRoot->BranchWidth(this) > roomW) {
            if (!mpHScroll) CheckAutoScroll();
            else mpHScroll->Reset();
        }
        if (mpRoot->BranchHeight() > roomH) {
            if (!mpVScroll) CheckAutoScroll();
            else mpVScroll->Reset();
        }
    }
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mClient);
        Draw();
    } else {
        Layout();
    }
    if (mId && mpParent)
        GuiQueueSignal(this, node->mOpen ? GUI_SIG_TREE_OPENED : GUI_SIG_TREE_CLOSED, mId, node);
}

// ---- search, reset, removal -------------------------------------------------------------------

GuiTreeNode* GuiTreeView::FindNode(int level, const char* text)
{
    return text ? FindSubNode(mpRoot->FirstSub(), 1, level, text) : nullptr;
}

GuiTreeNode* GuiTreeView::FindSubNode(GuiTreeNode* node, int depth, int level, const char* text)
{
    if (!text) return nullptr;
    for (GuiTreeNode* n = node; n; n = n->Next()) {
        if ((level == 0 || depth == level) && n->mpText && std::strcmp(n->mpText, text) == 0) return n;
        if (level == 0 || depth < level)
            if (GuiTreeNode* found = FindSubNode(n->FirstSub(), depth + 1, level, text)) return found;
    }
    return nullptr;
}

void GuiTreeView::Reset(const char* text)
{
    mpSelected = nullptr;
    while (GuiThing* sub = mpRoot->mpFirstChild) {
        mpRoot->Remove(sub, 0);
        delete sub;
    }
    mpRoot->DataSet(text);
    Refresh();
}

GuiTreeNode* GuiTreeView::RemoveNode(GuiTreeNode* node)
{
    if (!node || !node->mpParent) return nullptr;
    // A selection inside the branch leaves with it: the first node below
    // the whole branch takes over, else the node above it.
    GuiTreeNode* next = mpSelected;
    if (next && next->IsInside(node)) {
        next = node->NodeBottom()->NodeBelow();
        if (!next) next = node->NodeAbove();
    }
    if (mpSelected) mpSelected->mSelected = 0;
    mpSelected = nullptr;
    node->mpParent->Remove(node, 1);
    Select(next, 0);
    InvalidateIfShown(mClient);
    return node;
}

void GuiTreeView::DestroyNode(GuiTreeNode* node)
{
    GuiTreeNode* removed = RemoveNode(node);
    if (!removed) return;
    delete removed;
    Refresh();
}
