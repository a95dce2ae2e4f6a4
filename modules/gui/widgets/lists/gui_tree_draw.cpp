// GuiTreeView: layout of the nodes, drawing of icons, texts, connecting
// lines and expander boxes, and hit tests of pointer presses.
#include <cstdlib>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/lists/gui_tree_view.h"

namespace {
constexpr uint32_t kLineColour = 0xC0C0C0;
constexpr uint32_t kExpanderColour = 0xBF0000;
constexpr uint32_t kUnfocusedSelection = 0x808080;
constexpr int kBox = 4;   // half the expander box, without its middle

// Offset that centres a part of size `part` in `whole`, at least 0.
int centred(int whole, int part) { return whole - part < 2 ? 0 : (whole - part) / 2; }
}  // namespace

GuiPoint GuiTreeView::RootOrigin() const
{
    return GuiPoint{int16_t(mClient.left - mHOffset + 2), int16_t(mClient.top - mVOffset + 2)};
}

int GuiTreeView::RootIconColumn() const { return (mpRoot->mpIcon ? mpRoot->mpIcon->width : 0) + 2; }

int GuiTreeView::SubIconColumn(const GuiTreeNode* node)
{
    int widest = 0;
    for (GuiTreeNode* s = node->FirstSub(); s; s = s->Next())
        if (s->mpIcon && s->mpIcon->width > widest) widest = s->mpIcon->width;
    return widest + 2;
}

void GuiTreeView::Layout() { CalcNodePositions(mpRoot, RootOrigin(), RootIconColumn()); }

void GuiTreeView::CalcNodePositions(GuiTreeNode* node, GuiPoint at, int iconColumn)
{
    if (!node) return;
    const int iconWidth = node->mpIcon ? node->mpIcon->width : 0;
    const int pad = iconColumn > iconWidth ? iconColumn - iconWidth : 0;
    const int height = node->NodeHeight();
    node->mOuter = GuiRect(at.x, at.y, at.x + node->NodeWidth() + pad, at.y + height);
    node->mClient = node->mClip = node->mOuter;
    if (!node->mOpen) return;
    const int column = SubIconColumn(node);
    int y = at.y + height;
    for (GuiTreeNode* s = node->FirstSub(); s; s = s->Next()) {
        CalcNodePositions(s, GuiPoint{int16_t(at.x + 5 + mIndent), int16_t(y)}, column);
        y += s->BranchHeight();
    }
}

void GuiTreeView::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiWindow::Draw();
    const GuiRect saved = mClip;
    mClip &= mClient;
    Layout();
    DrawNode(mpRoot, RootOrigin(), RootIconColumn());
    mClip = saved;
    s->EndDraw();
}

void GuiTreeView::DrawNode(GuiTreeNode* node, GuiPoint at, int iconColumn)
{
    GuiScreen* s = mpScreen;
    if (!s || !node) return;
    const int height = node->NodeHeight();
    if (GuiBitmap* icon = node->mpIcon) {
        GuiPoint p{int16_t(at.x + (iconColumn - icon->width) / 2), int16_t(at.y + 1 + centred(height, icon->height))};
        s->Bitmap(this, p, icon, 0);
    }
    if (node->mpText && node->mpFont) {
        const int th = s->TextHeight(node->mpText, node->mpFont);
        GuiPoint p{int16_t(at.x + 2 + iconColumn), int16_t(at.y + 1 + centred(height, th))};
        GuiColor c{mColor[2], mColor[0], 0};
        if (node->mSelected) c = GuiColor{mColor[3], mColor[1], GUI_COLOR_FILL};
        else if (node == mpSelected) c = GuiColor{mColor[3], kUnfocusedSelection, GUI_COLOR_FILL};
        s->DrawText(this, p, node->mpText, c, node->mpFont, -1, 0);
    }
    if (!node->mOpen) return;
    const int x0 = at.x + 5;
    const int column = SubIconColumn(node);
    int y = at.y + height;
    for (GuiTreeNode* sub = node->FirstSub(); sub; sub = sub->Next()) {
        DrawConnectors(sub, x0, y);
        DrawNode(sub, GuiPoint{int16_t(x0 + mIndent), int16_t(y)}, column);
        y += sub->BranchHeight();
        if (y > mClip.bottom) break;   // the rest lies below the visible part
    }
}

// The lines from the parent's column at x0 to a sub-node whose top is y,
// and its expander box when it has sub-nodes.
void GuiTreeView::DrawConnectors(const GuiTreeNode* sub, int x0, int y)
{
    GuiScreen* s = mpScreen;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t colour) {
        s->Line(this, x1, y1, x2, y2, GuiColor{colour, colour, 0}, 1);
    };
    const int m = y + sub->NodeHeight() / 2;
    const int branchEnd = y + sub->BranchHeight();
    const bool siblingFollows = sub->Next() != nullptr;
    if (!sub->FirstSub()) {
        line(x0, y, x0, siblingFollows ? branchEnd : m, kLineColour);
        line(x0, m, x0 + mIndent, m, kLineColour);
        return;
    }
    const GuiRect box(x0 - kBox, m - kBox, x0 + kBox, m + kBox);
    s->Rectangle(this, box, GuiColor{kLineColour, kLineColour, 0}, 1);
    line(x0, y, x0, box.top - 1, kLineColour);
    line(box.right + 1, m + 1, x0 + mIndent, m + 1, kLineColour);
    if (siblingFollows) line(x0, box.bottom + 1, x0, branchEnd, kLineColour);
    line(box.left + 2, m, box.right - 2, m, kExpanderColour);
    if (!sub->mOpen) line(x0, box.top + 2, x0, box.bottom - 2, kExpanderColour);
}

GuiTreeView::Hit GuiTreeView::ClickSearch(GuiPoint p, GuiTreeNode* first)
{
    for (GuiTreeNode* n = first; n; n = n->Next()) {
        if (n->mOuter.Contains(p)) {
            Select(n, 1);
            return Hit::Selected;
        }
        if (n->FirstSub() && n->Parent()) {
            const int mid = (n->mOuter.top + n->mOuter.bottom) / 2, column = n->mOuter.left - mIndent;
            if (std::abs(p.x - column) <= kBox && std::abs(p.y - mid) <= kBox) {
                // The layout changes: the search ends here.
                ToggleBranch(n);
                return Hit::Toggled;
            }
        }
        if (n->mOpen)
            if (Hit h = ClickSearch(p, n->FirstSub()); h != Hit::None) return h;
    }
    return Hit::None;
}

int GuiTreeView::CheckNodeClick(GuiPoint point, GuiTreeNode* first)
{
    return ClickSearch(point, first) == Hit::Selected ? 1 : 0;
}
