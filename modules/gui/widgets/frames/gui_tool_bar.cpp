// GuiToolBar and GuiToolBarPanel: layout and drawing.
#include "gui/widgets/frames/gui_tool_bar.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"

namespace {
constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x808080;

// The first child of `parent` of the given type, or null.
GuiThing* firstOfType(GuiThing* parent, uint8_t type)
{
    for (GuiThing* c = parent->mpFirstChild; c; c = c->mpNext)
        if (c->mType == type) return c;
    return nullptr;
}
}  // namespace

// ---- panel -------------------------------------------------------------------------------------

GuiToolBarPanel::GuiToolBarPanel(unsigned short id) : GuiThing(id, GST_FRAME_NONE)
{
    mType = GT_TOOL_BAR_PANEL;
    mOuter = mClient = mClip = GuiRect(0, 0, 100, 24);
    mColor[0] = kFace;
}

GuiToolBarPanel::~GuiToolBarPanel() = default;

void GuiToolBarPanel::Add(GuiThing* child, int draw)
{
    GuiThing::Add(child, draw);
    PositionChildren();
}

void GuiToolBarPanel::AddToEnd(GuiThing* child, int draw)
{
    GuiThing::AddToEnd(child, draw);
    PositionChildren();
}

GuiThing* GuiToolBarPanel::Remove(GuiThing* child, int draw)
{
    GuiThing* removed = GuiThing::Remove(child, draw);
    PositionChildren();
    return removed;
}

void GuiToolBarPanel::PositionChildren()
{
    const int left = mOuter.left, top = mOuter.top;
    int bottom = mOuter.bottom;
    int x = left + 10;
    const int y = top + 2;
    int right = left + 9;
    // Never below zero, so that a panel without children stops shrinking.
    int needed = std::max(0, bottom - top - 3);
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        const int w = c->mOuter.right - c->mOuter.left + 1;
        const int h = c->mOuter.bottom - c->mOuter.top + 1;
        c->Resize(GuiRect(x, y, x + w - 1, y + h - 1));
        needed = std::max(needed, h + 2);
        if (right < x + w - 1) right = x + w + 2;
        x += w;   // children touch
    }
    if (bottom - top + 1 != needed) bottom = top + needed;
    Resize(GuiRect(left, top, right, bottom));
}

void GuiToolBarPanel::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    s->Rectangle(this, mOuter, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 1);
    line(l, t, r, t, kWhite);
    line(l, t, l, b - 1, kWhite);
    line(l + 3, t + 2, l + 3, b - 3, kWhite);   // the grip
    line(l + 6, t + 2, l + 6, b - 3, kWhite);
    line(l, b, r, b, kGrey);
    line(r, b, r, t + 1, kGrey);
    line(l + 4, t + 3, l + 4, b - 2, kGrey);
    line(l + 7, t + 3, l + 7, b - 2, kGrey);
    DrawChildren();
    s->EndDraw();
}

// ---- bar -----------------------------------------------------------------------------------------

GuiToolBar::GuiToolBar(unsigned short id) : GuiThing(id, GST_FRAME_NONE), mPanelHeight(0)
{
    mType = GT_TOOL_BAR;
    mOuter = mClient = mClip = GuiRect(0, 0, 100, 4);
    mColor[0] = kFace;
    mStatus |= GS_SIZABLE | GS_NONCLIENT;
}

GuiToolBar::~GuiToolBar() = default;

void GuiToolBar::Repaint(int redraw)
{
    if (!redraw || !IsVisible() || !mpScreen) return;
    mpScreen->Invalidate(mClip);
    Draw();
}

void GuiToolBar::AddPanel(GuiToolBarPanel* panel, int redraw)
{
    if (!panel || panel->mpParent == this) return;
    AddToEnd(panel, 0);
    PositionPanels();
    Repaint(redraw);
}

void GuiToolBar::RemovePanel(GuiThing* panel, int redraw)
{
    GuiThing::Remove(panel, 1);
    PositionPanels();
    Repaint(redraw);
}

void GuiToolBar::SizeToTallestPanel()
{
    if (mpParent && mpParent->IsVisible()) return;
    int height = mPanelHeight;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) height = std::max(height, GuiRows(c));
    if (height == mPanelHeight) return;
    mPanelHeight = height;
    Resize(GuiRect(mOuter.left, mOuter.top, mOuter.right, mOuter.top + mPanelHeight - 1));
}

void GuiToolBar::PositionPanels()
{
    SizeToTallestPanel();
    int x = mClient.left;
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        const int w = c->mOuter.right - c->mOuter.left + 1;
        c->Resize(GuiRect(x, mClient.top, x + w - 1, mClient.bottom));
        x += w;   // edge to edge
    }
}

void GuiToolBar::SizeToParent()
{
    GuiThing* p = mpParent;
    if (!p) return;
    int left = p->mOuter.left, top = p->mOuter.top, right = p->mOuter.right;
    const unsigned short style = p->Style();
    if (style & GST_FRAME_THICK) {
        left += 4;
        top += 4;
        right -= 3;
    } else if (!(style & GST_FRAME_NONE)) {
        left += 1;
        top += 1;
        right -= 1;
    }
    if (GuiThing* title = firstOfType(p, GT_WINDOW_TITLE)) top += GuiRows(title);
    if (GuiThing* menu = firstOfType(p, GT_MENU_BAR)) top += GuiRows(menu);
    Resize(GuiRect(left, top, right, top + mPanelHeight - 1));
}

int GuiToolBar::Message(const GuiMessage& msg)
{
    if (msg.type == GM_SHOW || msg.type == GM_PARENT_SIZED) {
        SizeToParent();
        GuiThing::Message(msg);
        return 0;
    }
    return GuiThing::Message(msg);
}

void GuiToolBar::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    s->BeginDraw(this);
    s->Rectangle(this, mOuter, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 1);
    DrawChildren();
    s->EndDraw();
}
