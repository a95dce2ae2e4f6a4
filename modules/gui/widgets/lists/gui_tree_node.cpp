// GuiTreeNode: a tree record with an icon and a text; its sizes, its
// neighbours in the shown order and the order of its sub-nodes.
#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/lists/gui_tree_view.h"

namespace {
GuiTreeNode* asNode(GuiThing* t) { return dynamic_cast<GuiTreeNode*>(t); }
constexpr int kDefaultIndent = 14;
}  // namespace

GuiTreeNode::GuiTreeNode(const char* text, GuiBitmap* icon)
    : GuiTextThing(0, GST_COPY_TEXT, text, GUI_FONT_SLOT_TREE_NODE), mpIcon(icon), mOpen(0), mSelected(0)
{
}

GuiTreeNode::~GuiTreeNode() = default;

GuiTreeNode* GuiTreeNode::Parent() const { return asNode(mpParent); }
GuiTreeNode* GuiTreeNode::FirstSub() const { return asNode(mpFirstChild); }
GuiTreeNode* GuiTreeNode::Next() const { return asNode(mpNext); }
GuiTreeNode* GuiTreeNode::Prev() const { return asNode(mpPrev); }

void GuiTreeNode::Add(GuiThing* child, int)
{
    GuiTreeNode* node = asNode(child);
    // A node cannot hold its own ancestor.
    if (!node || IsInside(node)) return;
    GuiThing::AddToEnd(node, 0);
}

void GuiTreeNode::Insert(GuiTreeNode* node)
{
    GuiTreeNode* parent = Parent();
    if (!node || !parent || IsInside(node)) return;
    if (node->mpParent) node->mpParent->Remove(node, 0);
    parent->LinkBefore(node, this);
}

int GuiTreeNode::Count() const
{
    int n = 0;
    for (GuiTreeNode* s = FirstSub(); s; s = s->Next()) ++n;
    return n;
}

void GuiTreeNode::MoveToTop(GuiTreeNode* node)
{
    if (node && node->mpParent == this) MoveToFront(node, 1);
}

int GuiTreeNode::NodeHeight() const
{
    int text = 0;
    if (mpFont) text = mpScreen ? mpScreen->TextHeight(mpText, mpFont) : mpFont->height;
    const int icon = mpIcon ? mpIcon->height : 0;
    return std::max(text, icon) + 2;
}

int GuiTreeNode::NodeWidth() const
{
    int w = 0;
    if (mpFont) w = (mpScreen ? mpScreen->TextWidth(mpText, mpFont, -1) : 0) + 4;
    if (mpIcon) w += mpIcon->width + 2;
    return w;
}

int GuiTreeNode::BranchHeight() const
{
    int h = NodeHeight();
    if (mOpen)
        for (GuiTreeNode* s = FirstSub(); s; s = s->Next()) h += s->BranchHeight();
    return h;
}

int GuiTreeNode::BranchWidth(const GuiTreeView* view) const
{
    const int indent = view ? view->mIndent : kDefaultIndent;
    int w = NodeWidth() + indent;
    if (mOpen)
        for (GuiTreeNode* s = FirstSub(); s; s = s->Next()) w = std::max(w, indent + s->BranchWidth(view));
    return w;
}

GuiTreeNode* GuiTreeNode::NodeBottom()
{
    GuiTreeNode* n = this;
    while (n->mOpen && n->FirstSub()) {
        GuiTreeNode* last = n->FirstSub();
        while (last->Next()) last = last->Next();
        n = last;
    }
    return n;
}

GuiTreeNode* GuiTreeNode::NodeAbove()
{
    GuiTreeNode* parent = Parent();
    if (!parent) return nullptr;
    if (GuiTreeNode* prev = Prev()) return prev->NodeBottom();
    return parent;
}

GuiTreeNode* GuiTreeNode::NodeBelow()
{
    if (mOpen && FirstSub()) return FirstSub();
    for (const GuiTreeNode* n = this; n; n = n->Parent())
        if (GuiTreeNode* next = n->Next()) return next;
    return nullptr;
}
