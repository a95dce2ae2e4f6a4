// GuiMenuButton: an entry of a menu bar or a pop-up menu. Construction,
// messages, selection and its signals, and opening and closing the submenu.
#include <cstring>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/menus/gui_menu.h"

namespace {
constexpr int kMenuFontSlot = 2;
}  // namespace

GuiMenuButton::GuiMenuButton(GuiMenuDescription* desc)
    : GuiTextThing(GuiRect(0, 0, 100, 18), desc ? desc->id : 0, desc ? desc->style : 0,
                   desc ? desc->text : nullptr, kMenuFontSlot),
      mpSubMenu(nullptr),
      mpOwner(nullptr),
      mSubMenuOpen(0),
      mHighlighted(0)
{
    mColor[0] = 0xC0C0C0;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    mType = GT_MENU_BUTTON;
    mStatus = uint16_t((mStatus | GS_NONCLIENT | GS_SIZABLE) & ~GS_ACCEPTS_FOCUS);
    if (desc && desc->submenu) {
        mpSubMenu = new GuiMenu(desc->submenu, 0);
        mpSubMenu->mpOpener = this;
    } else if (mStyle & GMS_DOTABLE) {
        mSignalMask = 1u << GUI_SIG_MENU_DOT_ON;
    } else if (mStyle & GMS_CHECKABLE) {
        mSignalMask = (1u << GUI_SIG_MENU_CHECK_ON) | (1u << GUI_SIG_MENU_CHECK_OFF);
    } else if (mStyle & GST_ENABLED) {
        mSignalMask = 1u << GUI_SIG_CLICKED;
    } else {
        mStatus &= uint16_t(~GS_SELECTABLE);
    }
}

GuiMenuButton::~GuiMenuButton()
{
    GuiMenu* sub = mpSubMenu;
    mpSubMenu = nullptr;
    if (!sub) return;
    // A submenu this entry opened goes with it: its entries would otherwise
    // stay on the screen pointing at an owner that may be gone too. One put
    // on the screen by someone else belongs to the screen tree.
    if (sub->IsVisible() && mSubMenuOpen && sub->mpParent) sub->mpParent->Remove(sub, 1);
    sub->mpOpener = nullptr;
    if (!sub->IsVisible()) Destroy(sub);
}

bool GuiMenuButton::ParentIsBar() const { return mpParent && mpParent->mType == GT_MENU_BAR; }

void GuiMenuButton::Repaint()
{
    if (!IsVisible()) return;
    if (mpScreen) mpScreen->Invalidate(mOuter);
    Draw();
}

// ---- queries ---------------------------------------------------------------------------------

GuiRect GuiMenuButton::GetMinSize(uint8_t parentType)
{
    const int w = mpScreen ? mpScreen->TextWidth(mpText, mpFont, -1) : 0;
    const int h = IsSeparator() ? 6 : (mpScreen ? mpScreen->TextHeight(mpText, mpFont) : 0) + 2;
    return GuiRect(0, 0, w + 8 + (parentType == GT_MENU ? 32 : 0), h);
}

int GuiMenuButton::IsSeparator() { return (mStyle & GMS_SEPARATOR) ? 1 : 0; }
int GuiMenuButton::IsChecked() { return (mStyle & GMS_CHECKED) ? 1 : 0; }
int GuiMenuButton::IsDotted() { return (mStyle & GMS_DOTTED) ? 1 : 0; }

GuiThing* GuiMenuButton::Find(unsigned short id, int recursive)
{
    return mpSubMenu ? mpSubMenu->Find(id, recursive) : nullptr;
}

GuiMenuButton* GuiMenuButton::FindButton(const char* text)
{
    return mpSubMenu ? mpSubMenu->FindButton(text) : nullptr;
}

// ---- state and signals -------------------------------------------------------------------------

void GuiMenuButton::NotifyOwner(uint8_t signal)
{
    // Without an owner the message would go to whatever has the focus.
    if (!mpOwner || !mpMessageQueue) return;
    GuiMessage m(GuiSignalType(mId, signal), int16_t(mId), mpOwner, this);
    mpMessageQueue->Push(&m);
}

void GuiMenuButton::SetChecked(int on)
{
    if (on) mStyle |= GMS_CHECKED;
    else mStyle &= uint16_t(~GMS_CHECKED);
    if (mId == 0) return;
    if (on && (mSignalMask & (1u << GUI_SIG_MENU_CHECK_ON))) NotifyOwner(GUI_SIG_MENU_CHECK_ON);
    if (!on && (mSignalMask & (1u << GUI_SIG_MENU_CHECK_OFF))) NotifyOwner(GUI_SIG_MENU_CHECK_OFF);
}

void GuiMenuButton::SetDotted(int on)
{
    if (on) {
        RemoveSiblingDots();
        mStyle |= GMS_DOTTED;
    } else {
        mStyle &= uint16_t(~GMS_DOTTED);
    }
    if (mId == 0) return;
    if (on && (mSignalMask & (1u << GUI_SIG_MENU_DOT_ON))) NotifyOwner(GUI_SIG_MENU_DOT_ON);
    if (!on && (mSignalMask & (1u << GUI_SIG_MENU_DOT_OFF))) NotifyOwner(GUI_SIG_MENU_DOT_OFF);
}

void GuiMenuButton::SetEnabled(int on)
{
    if (on) {
        mStyle |= GST_ENABLED;
        AddStatus(GS_SELECTABLE);
    } else {
        mStyle &= uint16_t(~GST_ENABLED);
        RemoveStatus(GS_SELECTABLE);
    }
}

void GuiMenuButton::RemoveSiblingDots()
{
    if (!mpParent) return;
    // The group runs from the last separator before this entry (or the
    // first child) up to the first separator after it.
    GuiThing* start = mpParent->mpFirstChild;
    for (GuiThing* t = mpPrev; t; t = t->mpPrev) {
        GuiMenuButton* b = AsMenuButton(t);
        if (b && b->IsSeparator()) {
            start = t;
            break;
        }
    }
    for (GuiThing* t = start; t; t = t->mpNext) {
        GuiMenuButton* b = AsMenuButton(t);
        if (t != start && t != this && b && b->IsSeparator()) break;
        if (b && b != this) b->SetDotted(0);
    }
}

void GuiMenuButton::SetOwner(GuiThing* owner)
{
    mpOwner = owner;
    if (mpSubMenu) mpSubMenu->SetOwner(owner);
}

void GuiMenuButton::SetSubMenu(GuiMenu* menu)
{
    if (!menu) return;
    if (mpSubMenu && mpSubMenu != menu) {
        CloseMenu();
        Destroy(mpSubMenu);
    }
    mpSubMenu = menu;
    menu->mpOpener = this;
    menu->SetOwner(mpOwner);
}

void GuiMenuButton::SendOwnerMessage()
{
    if (mpSubMenu || !mpOwner || !mpParent || ParentIsBar()) return;
    // Pop-up menus close themselves as the focus leaves them.
    if (mpPresentation) mpPresentation->MoveFocusTree(mpOwner);
    if (mStyle & GMS_CHECKABLE) {
        SetChecked(!IsChecked());
    } else if (mStyle & GMS_DOTABLE) {
        RemoveSiblingDots();
        SetDotted(1);
    } else if (mId != 0) {
        NotifyOwner(GUI_SIG_CLICKED);
    }
}

// ---- submenu -----------------------------------------------------------------------------------

void GuiMenuButton::AddSubMenu(int fromBar)
{
    if (!mpSubMenu || !mpPresentation || mpSubMenu->mpParent) return;
    GuiRect r = mpSubMenu->GetMinSize();
    if (fromBar) r.MoveTo(mOuter.left, mOuter.bottom + 2);
    else r.MoveTo(mOuter.right, mOuter.top - 4);
    const GuiRect screen = mpPresentation->mOuter;
    const int menuHeight = r.Height(), menuWidth = r.Width();
    if (r.bottom >= screen.bottom) {
        if (!fromBar) r.Shift(0, screen.bottom - 1 - r.bottom);
        else if (mOuter.top - 1 > menuHeight) r.Shift(0, -(mOuter.Height() + menuHeight + 2));
    }
    if (r.right > screen.right) {
        if (!fromBar) r.Shift(-(mOuter.Width() + menuWidth + 1), 0);
        else r.Shift(screen.right - r.right, 0);
    }
    GuiMessage resize(GM_RESIZE, 0, mpSubMenu, this);
    resize.SetRect(r);
    mpSubMenu->Message(resize);
    mpPresentation->Add(mpSubMenu, 1);
    mSubMenuOpen = 1;
}

void GuiMenuButton::CloseMenu()
{
    if (!mSubMenuOpen) return;
    mSubMenuOpen = 0;
    if (mpSubMenu && mpSubMenu->IsVisible() && mpSubMenu->mpParent) {
        mpSubMenu->mpParent->Remove(mpSubMenu, 1);
        Repaint();
    }
}

// ---- messages ------------------------------------------------------------------------------------

int GuiMenuButton::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE:
        GuiThing::Message(msg);
        mHighlighted = 0;
        mSelectedOnPress = false;
        CloseMenu();
        return 0;
    case GM_SHOW:
        GuiThing::Message(msg);
        return 0;
    case GM_POINTER_PRESS:
        if (ParentIsBar()) {
            auto* bar = static_cast<GuiMenuBar*>(mpParent);
            bar->SetFlyoverMode(!bar->InFlyoverMode());
            Repaint();
        }
        if (!mpSubMenu) {
            // Set first: a menu that closes on the selection clears it again.
            mSelectedOnPress = !ParentIsBar();
            SendOwnerMessage();
        } else if (!mSubMenuOpen) {
            AddSubMenu(ParentIsBar() ? 1 : 0);
        } else {
            CloseMenu();
        }
        return 0;
    case GM_POINTER_RELEASE:
        // A release after a press elsewhere (a drag from the bar into the
        // menu) selects; the release of a click that selected does not.
        if (!mpSubMenu && !mSelectedOnPress) SendOwnerMessage();
        mSelectedOnPress = false;
        return 0;
    case GM_POINTER_ENTER:
        mHighlighted = 1;
        Repaint();
        if (ParentIsBar()) {
            auto* bar = static_cast<GuiMenuBar*>(mpParent);
            if (bar->InFlyoverMode()) {
                bar->CloseSiblings(this);
                if (mpSubMenu && !mSubMenuOpen) AddSubMenu(1);
            }
        } else if (mpParent && mpParent->mType == GT_MENU) {
            static_cast<GuiMenu*>(mpParent)->CloseSiblings(this);
            if (mpSubMenu && !mSubMenuOpen) AddSubMenu(0);
        }
        return 0;
    case GM_POINTER_LEAVE:
        mHighlighted = 0;
        mSelectedOnPress = false;
        if (!mSubMenuOpen) Repaint();
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}
