// The menu family: a menu bar across the top of a window, pop-up menus that
// open under a bar entry or beside a menu entry, and the entries, built from
// static description tables.
//
// A leaf entry, when selected, gives its owner (normally the window that
// carries the bar) the focus and then toggles its tick, moves the dot of its
// group to itself, or queues the clicked signal to the owner. A pop-up menu
// is a stay-in-front child of the presentation manager while it is open; it
// takes itself off the screen when it loses the focus, and closes with the
// bar when the bar loses it.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

// One record of an application's menu table; a record with id 0 and style 0
// ends the table.
struct GuiMenuDescription {
    const char* text;
    uint16_t id;
    uint16_t style;
    GuiMenuDescription* submenu;   // the submenu's table, null for a leaf
};

// Class codes of the family; 2 is a window title, which a bar sits under.
enum : uint8_t {
    GT_WINDOW_TITLE = 2,
    GT_MENU = 3,
    GT_MENU_BAR = 9,
    GT_MENU_BUTTON = 10,
};

// Style bits of an entry.
enum : uint16_t {
    GMS_SEPARATOR = 0x0100,
    GMS_CHECKABLE = 0x0200,
    GMS_CHECKED = 0x0400,
    GMS_DOTABLE = 0x0800,
    GMS_DOTTED = 0x1000,
};

// Signals an entry queues to its owner.
enum : uint8_t {
    GUI_SIG_MENU_CHECK_ON = 8,
    GUI_SIG_MENU_CHECK_OFF = 9,
    GUI_SIG_MENU_DOT_ON = 10,
    GUI_SIG_MENU_DOT_OFF = 11,
};

// Glyphs of the entries (the submenu arrow is gbMoreBitmap).
extern GuiBitmap gbCheckBitmap;   // 7 x 7 tick
extern GuiBitmap gbDotBitmap;     // 6 x 6 dot

class GuiMenu;

class GuiMenuButton : public GuiTextThing {
public:
    explicit GuiMenuButton(GuiMenuDescription* desc);
    ~GuiMenuButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    GuiThing* Find(unsigned short id, int recursive) override;

    // Size the entry needs in a parent of the given type (3: pop-up menu,
    // which adds room for the tick and the submenu arrow).
    virtual GuiRect GetMinSize(uint8_t parentType);
    virtual void CloseMenu();
    virtual void SetDotted(int on);
    virtual void SetChecked(int on);
    virtual void SetEnabled(int on);
    virtual void SetOwner(GuiThing* owner);
    virtual int IsSeparator();
    virtual int IsChecked();
    virtual int IsDotted();

    // Replaces the submenu (the old one is destroyed); null is ignored.
    void SetSubMenu(GuiMenu* menu);
    GuiMenuButton* FindButton(const char* text);
    // Opens the submenu under a bar entry (fromBar 1) or beside a menu entry.
    void AddSubMenu(int fromBar);
    // Selection of a leaf entry.
    void SendOwnerMessage();
    // Clears the dots of the other entries between the surrounding separators.
    void RemoveSiblingDots();

    GuiMenu* mpSubMenu;       // owned unless on the screen when the entry dies
    GuiThing* mpOwner;        // receives the signals; not owned
    int32_t mSubMenuOpen;     // 1 while this entry has the submenu on the screen
    int32_t mHighlighted;

private:
    bool ParentIsBar() const;
    void Repaint();
    // Queues signal `signal` to the owner, type 128 + 16 x id + signal.
    void NotifyOwner(uint8_t signal);
    // Set by a press that selected the entry, so that its release does not
    // select it a second time.
    bool mSelectedOnPress = false;
};

class GuiMenu : public GuiThing {
public:
    // flag 0: the menu takes no focus of its own (a submenu).
    GuiMenu(GuiMenuDescription* table, int flag);
    ~GuiMenu() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Stacks the entries from the top, each as high as it needs.
    void PositionButtons();
    GuiRect GetMinSize();
    void CloseSiblings(GuiMenuButton* keep);
    GuiMenuButton* FindButton(const char* text);
    void SetOwner(GuiThing* owner);

    // The entry whose submenu this is, or null. A shown submenu is a child
    // of the presentation manager, which may delete it first (at the end of
    // the GUI): the entry must then forget it.
    GuiMenuButton* mpOpener = nullptr;
};

class GuiMenuBar : public GuiThing {
public:
    explicit GuiMenuBar(GuiMenuDescription* table);
    ~GuiMenuBar() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    virtual void SetFlyoverMode(int on);
    virtual int InFlyoverMode();
    // Closes the submenus of every entry but `keep` (null: all).
    virtual void CloseSiblings(GuiMenuButton* keep);
    // Spans the parent's width inside its frame, under a title if any.
    virtual void SizeToParent();
    virtual void PositionButtons();

    GuiMenuButton* FindButton(const char* text);

    int32_t mFlyover;   // 1: hovering over a bar entry opens its submenu
};

// The entry `t` when it is one, else null.
inline GuiMenuButton* AsMenuButton(GuiThing* t)
{
    return t && t->mType == GT_MENU_BUTTON ? static_cast<GuiMenuButton*>(t) : nullptr;
}

// Depth-first search of the entries among `first` and its siblings and of
// their submenus for the text; entries without a text are skipped.
GuiMenuButton* FindMenuButtonAmong(GuiThing* first, const char* text);
// Builds one entry per record of `table` up to its end record and appends
// each to `parent` in table order.
void AddMenuEntries(GuiThing* parent, GuiMenuDescription* table);
