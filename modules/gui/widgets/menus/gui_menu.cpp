// GuiMenu, the pop-up menu, and GuiMenuBar, the bar across a window; the
// table walk and the text search they share.
#include <cstring>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/menus/gui_menu.h"

namespace {
constexpr uint32_t kFace = 0xC0C0C0;
}  // namespace

void AddMenuEntries(GuiThing* parent, GuiMenuDescription* table)
{
    if (!table) return;
    for (GuiMenuDescription* d = table; d->id != 0 || d->style != 0; ++d)
        parent->AddToEnd(new GuiMenuButton(d), 1);   // table order, top to bottom
}

GuiMenuButton* FindMenuButtonAmong(GuiThing* first, const char* text)
{
    if (!text) return nullptr;
    for (GuiThing* t = first; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (!b || !b->mpText) continue;
        if (std::strcmp(b->mpText, text) == 0) return b;
        if (GuiMenuButton* hit = b->FindButton(text)) return hit;
    }
    return nullptr;
}

// ---- pop-up menu ----------------------------------------------------------------------------

GuiMenu::GuiMenu(GuiMenuDescription* table, int flag) : GuiThing(GuiRect(0, 0, 100, 20), 0, GST_FRAME_NONE)
{
    mClient -= 2;
    mColor[0] = kFace;
    mType = GT_MENU;
    mStatus |= GS_VIEWPORT_OWNER | GS_ON_TOP | GS_NONCLIENT | GS_MOVABLE | GS_SIZABLE;
    if (flag == 0) mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
    AddMenuEntries(this, table);
}

GuiMenu::~GuiMenu()
{
    if (mpOpener && mpOpener->mpSubMenu == this) {
        mpOpener->mpSubMenu = nullptr;
        mpOpener->mSubMenuOpen = 0;
    }
}

GuiRect GuiMenu::GetMinSize()
{
    int w = 0, h = 0;
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (!b) continue;
        const GuiRect r = b->GetMinSize(GT_MENU);
        if (r.right - r.left > w) w = r.right - r.left;
        h += r.bottom - r.top + 1;
    }
    return GuiRect(0, 0, w + 6, h + 6);
}

void GuiMenu::PositionButtons()
{
    const int x1 = mOuter.left + 2, x2 = mOuter.right - 2;
    int y = mOuter.top + 1;
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (!b) continue;
        const GuiRect r = b->GetMinSize(GT_MENU);
        const int h = r.bottom - r.top + 1;
        GuiMessage resize(GM_RESIZE, 0, b, this);
        resize.SetRect(GuiRect(x1, y + 1, x2, y + h));
        b->Message(resize);
        y += h;
    }
}

void GuiMenu::CloseSiblings(GuiMenuButton* keep)
{
    for (GuiThing* t = mpFirstChild; t;) {
        GuiThing* next = t->mpNext;
        GuiMenuButton* b = AsMenuButton(t);
        if (b && b != keep) {
            b->CloseMenu();
            if (b->mHighlighted) b->Message(GuiMessage(GM_POINTER_LEAVE, 0, b, this));
        }
        t = next;
    }
}

GuiMenuButton* GuiMenu::FindButton(const char* text) { return FindMenuButtonAmong(mpFirstChild, text); }

void GuiMenu::SetOwner(GuiThing* owner)
{
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext)
        if (GuiMenuButton* b = AsMenuButton(t)) b->SetOwner(owner);
}

int GuiMenu::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        PositionButtons();
        GuiThing::Message(msg);
        return 0;
    case GM_FOCUS_GAINED:
        GuiThing::Message(msg);
        for (GuiThing* t = mpFirstChild; t; t = t->mpNext) {
            if ((t->mStyle & GST_ENABLED) && !(t->mStyle & GMS_SEPARATOR)) {
                t->Message(GuiMessage(GM_POINTER_ENTER, 0, t, this));
                break;
            }
        }
        return 0;
    case GM_FOCUS_LOST:
        GuiThing::Message(msg);
        for (GuiThing* t = mpFirstChild; t; t = t->mpNext)
            if (GuiMenuButton* b = AsMenuButton(t)) b->CloseMenu();
        if (mpParent) mpParent->Remove(this, 1);
        return 0;
    case GM_KEY:
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}

// ---- menu bar ------------------------------------------------------------------------------

GuiMenuBar::GuiMenuBar(GuiMenuDescription* table)
    : GuiThing(GuiRect(0, 0, 100, MenuFont.height + 6), 0, GST_FRAME_NONE), mFlyover(0)
{
    mColor[0] = kFace;
    mType = GT_MENU_BAR;
    mStatus |= GS_NONCLIENT | GS_MOVABLE | GS_SIZABLE;
    AddMenuEntries(this, table);
}

GuiMenuBar::~GuiMenuBar() = default;

void GuiMenuBar::SetFlyoverMode(int on) { mFlyover = on; }
int GuiMenuBar::InFlyoverMode() { return mFlyover; }

void GuiMenuBar::CloseSiblings(GuiMenuButton* keep)
{
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (b && b != keep) b->CloseMenu();
    }
}

GuiMenuButton* GuiMenuBar::FindButton(const char* text) { return FindMenuButtonAmong(mpFirstChild, text); }

void GuiMenuBar::SizeToParent()
{
    if (!mpParent) return;
    GuiRect r = mpParent->mOuter;
    if (mpParent->mStyle & GST_FRAME_THICK) {
        r.left = int16_t(r.left + 4);
        r.top = int16_t(r.top + 4);
        r.right = int16_t(r.right - 3);
    } else if (!(mpParent->mStyle & GST_FRAME_NONE)) {
        r.left = int16_t(r.left + 2);
        r.top = int16_t(r.top + 2);
        r.right = int16_t(r.right - 2);
    }
    for (GuiThing* t = mpParent->mpFirstChild; t; t = t->mpNext) {
        if (t->mType == GT_WINDOW_TITLE) {
            r.top = int16_t(r.top + t->mOuter.Height());
            break;
        }
    }
    r.bottom = int16_t(r.top + 6 + MenuFont.height);
    GuiMessage resize(GM_RESIZE, 0, this, this);
    resize.SetRect(r);
    Message(resize);
}

void GuiMenuBar::PositionButtons()
{
    const int y = mOuter.top + 2;
    int x = mOuter.left + 2;
    for (GuiThing* t = mpFirstChild; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (!b) continue;
        const GuiRect r = b->GetMinSize(GT_MENU_BAR);
        const int w = r.right - r.left + 1, h = r.bottom - r.top + 1;
        GuiMessage resize(GM_RESIZE, 0, b, this);
        resize.SetRect(GuiRect(x + 4, y, x + 4 + w, y + h - 1));
        b->Message(resize);
        x += 4 + w;
    }
}

int GuiMenuBar::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        for (GuiThing* t = mpFirstChild; t; t = t->mpNext)
            if (GuiMenuButton* b = AsMenuButton(t)) b->SetOwner(mpParent);
        SizeToParent();
        PositionButtons();
        GuiThing::Message(msg);
        return 0;
    case GM_PARENT_SIZED:
        SizeToParent();
        PositionButtons();
        GuiThing::Message(msg);
        return 0;
    case GM_FOCUS_LOST:
        GuiThing::Message(msg);
        CloseSiblings(nullptr);
        mFlyover = 0;
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}
