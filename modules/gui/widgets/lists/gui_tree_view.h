// Tree view: a window showing a hierarchy of GuiTreeNode records, each an
// optional icon and a text, with connecting lines, expander boxes that open
// and close branches, one selected node and pixel scrolling.
//
// The nodes are not windows: a node is a text thing used as a tree record
// whose child links hold its sub-nodes; the view computes the nodes'
// rectangles and draws them itself. The view owns the root node (always
// open) and with it the whole tree.
//
// Signals to the parent while the view has an id, each with the node in
// payload word 0: 8 a node was selected by a press, 12 the second pointer
// button was released over the selection, 10 a branch opened, 11 a branch
// closed.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

class GuiTreeView;

constexpr uint8_t GT_TREE_VIEW = 159;
constexpr int GUI_FONT_SLOT_TREE_NODE = 15;

enum : uint8_t {
    GUI_SIG_TREE_SELECT = 8,
    GUI_SIG_TREE_OPENED = 10,
    GUI_SIG_TREE_CLOSED = 11,
    GUI_SIG_TREE_CONTEXT = 12,
};

class GuiTreeNode : public GuiTextThing {
public:
    // The text is copied; the icon is not owned.
    GuiTreeNode(const char* text, GuiBitmap* icon);
    ~GuiTreeNode() override;

    // Appends a tree node as the last sub-node (anything else is ignored).
    void Add(GuiThing* child, int draw) override;

    // Puts `node` in front of this node among its parent's sub-nodes.
    void Insert(GuiTreeNode* node);
    int NodeHeight() const;
    int NodeWidth() const;
    // The node with its sub-nodes while open.
    int BranchHeight() const;
    int BranchWidth(const GuiTreeView* view) const;
    // The last node shown in this branch.
    GuiTreeNode* NodeBottom();
    // The node shown just above or below this one, null at the ends.
    GuiTreeNode* NodeAbove();
    GuiTreeNode* NodeBelow();
    int Count() const;
    void MoveToTop(GuiTreeNode* node);

    GuiTreeNode* Parent() const;
    GuiTreeNode* FirstSub() const;
    GuiTreeNode* Next() const;
    GuiTreeNode* Prev() const;

    GuiBitmap* mpIcon;   // not owned; null for none
    int32_t mOpen;       // 1: the branch is expanded
    int32_t mSelected;   // 1: shown as the selection of a focused view
};

class GuiTreeView : public GuiWindow {
public:
    GuiTreeView(const GuiRect& rect, unsigned int style, const char* text, GuiBitmap* icon);
    ~GuiTreeView() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void GetVScrollInfo(GuiScrollInfo* info) override;
    void GetHScrollInfo(GuiScrollInfo* info) override;
    // Opens a closed node that has sub-nodes, closes an open one.
    virtual void ToggleBranch(GuiTreeNode* node);

    void Select(GuiTreeNode* node, int redraw);
    // Depth-first search for the text; level 0: every level, else only that
    // level (1: the root's sub-nodes).
    GuiTreeNode* FindNode(int level, const char* text);
    GuiTreeNode* FindSubNode(GuiTreeNode* node, int depth, int level, const char* text);
    // Destroys every sub-node of the root and gives the root the text.
    void Reset(const char* text);
    // Takes the node and its branch out of the tree (the caller owns it);
    // a selection inside the branch moves to the node below the branch, else
    // to the node above it. Null for a node without a parent.
    GuiTreeNode* RemoveNode(GuiTreeNode* node);
    void DestroyNode(GuiTreeNode* node);

    // Layout of a node and its open branch with its top-left at `at`.
    void CalcNodePositions(GuiTreeNode* node, GuiPoint at, int iconColumn);
    void DrawNode(GuiTreeNode* node, GuiPoint at, int iconColumn);
    // 1 when the point selected a node (an expander hit toggles, giving 0).
    int CheckNodeClick(GuiPoint point, GuiTreeNode* first);

    GuiTreeNode* mpRoot;       // owned
    GuiTreeNode* mpSelected;   // not owned
    int32_t mVOffset;          // pixels scrolled down
    int32_t mHOffset;          // pixels scrolled right
    int32_t mIndent;           // from a node to its sub-nodes

private:
    enum class Hit { None, Selected, Toggled };
    Hit ClickSearch(GuiPoint point, GuiTreeNode* first);
    GuiPoint RootOrigin() const;
    int RootIconColumn() const;
    static int SubIconColumn(const GuiTreeNode* node);
    void Layout();
    void InvalidateIfShown(const GuiRect& r);
    // After the tree changed: bars, and a redraw of a shown view.
    void Refresh();
    void DrawConnectors(const GuiTreeNode* sub, int x0, int y);
};
