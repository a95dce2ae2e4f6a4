// GuiTitle: construction, buttons, system menu and message handling of the
// title bar; its drawing and sizing are in gui_title_draw.cpp.
#include "gui/widgets/frames/gui_title.h"

#include <new>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_presentation.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"

GuiMenuDescription DefSystemMenu[5] = {
    {GUISC_CLOSE, GUI_ID_CLOSE, GST_ENABLED, nullptr},
    {nullptr, 0, GMS_SEPARATOR, nullptr},
    {GUISC_MINIMIZE, GUI_ID_MINIMIZE, GST_ENABLED, nullptr},
    {GUISC_MAXIMIZE, GUI_ID_MAXIMIZE, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

namespace {
constexpr int kTitleFontSlot = 1;
constexpr int kMinHeight = 18;

void disableEntry(GuiMenu* menu, uint16_t id)
{
    if (GuiMenuButton* b = menu ? AsMenuButton(menu->Find(id, 0)) : nullptr) b->SetEnabled(0);
}

// A title button: outside the client area and never taking the focus.
template <class B>
B* titleButton(B* button)
{
    if (button) {
        button->AddStatus(GS_NONCLIENT);
        button->RemoveStatus(GS_ACCEPTS_FOCUS);
    }
    return button;
}
}  // namespace

// ---- system menu --------------------------------------------------------------------------

GuiTitleMenu::GuiTitleMenu(GuiMenuDescription* table, GuiTitle* title) : GuiMenu(table, 0), mpTitle(title)
{
    SetOwner(title);
}

GuiTitleMenu::~GuiTitleMenu()
{
    if (mpTitle && mpTitle->mpSysMenu == this) mpTitle->mpSysMenu = nullptr;
}

// ---- title ----------------------------------------------------------------------------------

int GuiTitle::HeightFor(const GuiFont* font)
{
    const int h = GuiFontHeight(font) + 2;
    return h < kMinHeight ? kMinHeight : h;
}

GuiTitle::GuiTitle(const char* text, unsigned short style)
    : GuiTextThing(0, style, text, kTitleFontSlot),
      mpSysButton(nullptr),
      mpCloseButton(nullptr),
      mpMinButton(nullptr),
      mpMaxButton(nullptr),
      mpSysMenu(nullptr),
      mHeight(HeightFor(mpFont))
{
    mOuter = mClient = mClip = GuiRect(0, 0, 100, mHeight);
    mColor[0] = 0x808080;   // bar while the window is inactive
    mColor[1] = 0x0000BF;   // bar while it has the focus
    mColor[2] = 0x000000;   // caption while inactive
    mColor[3] = 0xFFFFFF;   // caption while active
    mType = GT_WINDOW_TITLE;
    mStatus |= GS_SIZABLE | GS_NONCLIENT;

    // A button or menu that cannot be made is left out; the bar works
    // without it.
    if (style & GTS_SYSTEM_MENU) {
        mpSysMenu = new (std::nothrow) GuiTitleMenu(DefSystemMenu, this);
        GuiRect r(2, 2, 15, 15);
        mpSysButton = titleButton(new (std::nothrow) GuiSystemButton(r, &gbSysButtonBitmap, GUI_ID_SYSTEM));
    }
    if (style & GTS_CLOSE) {
        mpCloseButton = titleButton(new (std::nothrow) GuiBitmapButton(GuiRect(2, 2, 15, 15), &gbCloseButtonBitmap,
                                                                       GUI_ID_CLOSE, GST_ENABLED));
    } else {
        disableEntry(mpSysMenu, GUI_ID_CLOSE);
    }
    if (style & GTS_MIN_MAX) {
        mpMaxButton = titleButton(new (std::nothrow) GuiBitmapButton(GuiRect(0, 0, 16, 16), &gbMaxButtonBitmap,
                                                                     GUI_ID_MAXIMIZE, GST_ENABLED));
        mpMinButton = titleButton(new (std::nothrow) GuiBitmapButton(GuiRect(0, 0, 16, 16), &gbMinButtonBitmap,
                                                                     GUI_ID_MINIMIZE, GST_ENABLED));
    } else {
        disableEntry(mpSysMenu, GUI_ID_MINIMIZE);
        disableEntry(mpSysMenu, GUI_ID_MAXIMIZE);
    }
    if (mpSysButton) GuiThing::Add(mpSysButton, 1);
    if (mpCloseButton) GuiThing::Add(mpCloseButton, 1);
    if (mpMaxButton) GuiThing::Add(mpMaxButton, 1);
    if (mpMinButton) GuiThing::Add(mpMinButton, 1);
}

GuiTitle::~GuiTitle() { DropSystemMenu(); }

void GuiTitle::DropSystemMenu()
{
    GuiTitleMenu* menu = mpSysMenu;
    mpSysMenu = nullptr;
    if (!menu) return;
    // An open menu is a child of the presentation manager: it leaves the
    // screen before it is deleted, or the screen tree would keep a freed
    // child.
    menu->mpTitle = nullptr;
    if (menu->mpParent) menu->mpParent->Remove(menu, 1);
    Destroy(menu);
}

void GuiTitle::AssignMenu(GuiMenuDescription* table)
{
    if (!table || !mpSysMenu) return;
    GuiTitleMenu* fresh = new (std::nothrow) GuiTitleMenu(table, this);
    if (!fresh) return;
    DropSystemMenu();
    mpSysMenu = fresh;
}

void GuiTitle::CloseSystemMenu()
{
    if (SystemMenuOpen()) mpSysMenu->mpParent->Remove(mpSysMenu, 1);
}

void GuiTitle::OpenSystemMenu()
{
    if (!mpSysMenu || !mpPresentation) return;
    GuiRect r = mpSysMenu->GetMinSize();
    r.MoveTo(mOuter.left, mOuter.bottom + 2);
    GuiMessage resize(GM_RESIZE, 0, mpSysMenu, this);
    resize.SetRect(r);
    mpSysMenu->Message(resize);
    mpPresentation->Add(mpSysMenu, 1);
}

int GuiTitle::TellParent(uint16_t type)
{
    if (!mpParent) return 0;
    return mpParent->Message(GuiMessage(type, 0, mpParent, this));
}

int GuiTitle::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE: {
        int r = GuiTextThing::Message(msg);
        PlaceButtons();
        return r;
    }
    case GM_SHOW:
    case GM_PARENT_SIZED:
        SizeToParent();
        return GuiTextThing::Message(msg);
    case GM_POINTER_PRESS:
        CloseSystemMenu();
        if (mpParent && !GuiIsMaximized(mpParent)) {
            GuiMessage move(GM_START_MOVE, GUI_MOVE_WINDOW, mpParent, this);
            move.SetPoint(msg.Point());
            mpParent->Message(move);
        }
        return 0;
    case GM_FOCUS_LOST:
        CloseSystemMenu();
        return GuiTextThing::Message(msg);
    default:
        break;
    }
    if (msg.type == GuiSignalType(GUI_ID_CLOSE, GUI_SIG_CLICKED)) return TellParent(GM_CLOSE);
    if (msg.type == GuiSignalType(GUI_ID_SYSTEM, GUI_SIG_CLICKED)) {
        OpenSystemMenu();
        return 0;
    }
    const uint16_t windowMessage = msg.type == GuiSignalType(GUI_ID_MAXIMIZE, GUI_SIG_CLICKED)   ? GM_MAXIMIZE
                                   : msg.type == GuiSignalType(GUI_ID_MINIMIZE, GUI_SIG_CLICKED) ? GM_MINIMIZE
                                   : msg.type == GuiSignalType(GUI_ID_RESTORE, GUI_SIG_CLICKED)  ? GM_RESTORE
                                                                                                  : 0;
    if (windowMessage) {
        CloseSystemMenu();
        return TellParent(windowMessage);
    }
    return GuiTextThing::Message(msg);
}
