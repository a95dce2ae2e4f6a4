// GuiTitle: the title bar across the top of a window. It shows a caption in
// the active or inactive colours of its window, may carry a system button
// that opens a system menu, a close button and minimise / maximise
// buttons, and starts a move of the window when pressed. Its buttons and
// the entries of its system menu turn into window messages to the parent.
#pragma once

#include <cstdint>

#include "gui/core/gui_button.h"
#include "gui/widgets/menus/gui_menu.h"

// Style bits of a title.
constexpr uint16_t GTS_SYSTEM_MENU = 0x0200;   // system button and system menu
constexpr uint16_t GTS_MIN_MAX = 0x0400;       // minimise and maximise buttons
constexpr uint16_t GTS_CLOSE = 0x0800;         // close button

// The stock system menu: Close, a separator, Minimize, Maximize.
extern GuiMenuDescription DefSystemMenu[5];

class GuiTitle;

// The system menu of a title. It lives on the screen (as a child of the
// presentation manager) only while open, so the screen tree may delete it
// before the title: it then tells the title.
class GuiTitleMenu : public GuiMenu {
public:
    GuiTitleMenu(GuiMenuDescription* table, GuiTitle* title);
    ~GuiTitleMenu() override;

    GuiTitle* mpTitle;
};

class GuiTitle : public GuiTextThing {
public:
    GuiTitle(const char* text, unsigned short style);
    ~GuiTitle() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void SetFont(const GuiFont* font) override;

    // Places the bar across the top of the parent, inside its frame.
    virtual void SizeToParent();

    // Replaces the system menu by one built from the table; nothing without
    // a table or when the title has no system menu.
    void AssignMenu(GuiMenuDescription* table);
    // Takes an open system menu off the screen.
    void CloseSystemMenu();
    bool SystemMenuOpen() const { return mpSysMenu && mpSysMenu->mpParent; }

    GuiSystemButton* mpSysButton;
    GuiBitmapButton* mpCloseButton;
    GuiBitmapButton* mpMinButton;
    GuiBitmapButton* mpMaxButton;   // doubles as the restore button
    GuiTitleMenu* mpSysMenu;        // owned; not a child of the title
    int32_t mHeight;                // font height + 2, at least 18

private:
    static int HeightFor(const GuiFont* font);
    // Lays the buttons out from the right edge and narrows the client area.
    void PlaceButtons();
    void OpenSystemMenu();
    // The maximise button and the menu entry show maximise or restore by
    // the parent's state.
    void ShowMaximizeState();
    // Hands a message of the given type straight to the parent.
    int TellParent(uint16_t type);
    void DropSystemMenu();
};
