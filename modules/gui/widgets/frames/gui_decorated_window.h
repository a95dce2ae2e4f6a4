// GuiDecoratedWindow: a window that knows its title bar, menu bar, tool bar
// and status bar and keeps its client area clear of them as they come and
// go. GuiDialog: a decorated window with a title whose standard command
// buttons notify an owner and close it, or end its modal Execute.
#pragma once

#include "gui/core/gui_window.h"

class GuiTitle;
class GuiMenuBar;
class GuiStatusBar;
class GuiToolBar;

class GuiDecoratedWindow : public GuiWindow {
public:
    GuiDecoratedWindow(const GuiRect& rect, unsigned int style);
    explicit GuiDecoratedWindow(unsigned int style);
    ~GuiDecoratedWindow() override;

    int Message(const GuiMessage& msg) override;
    void Add(GuiThing* child, int draw) override;
    GuiThing* Remove(GuiThing* child, int draw) override;
    void InitClient() override;

    // The bars, children of the window (deleted with it), or null.
    GuiTitle* mpTitle;
    GuiMenuBar* mpMenuBar;
    GuiStatusBar* mpStatusBar;
    GuiToolBar* mpToolBar;

private:
    static bool IsBar(const GuiThing* child);
    // Stores the child as the bar of its type, or forgets it.
    void RememberBar(GuiThing* child, bool remember);
};

class GuiDialog : public GuiDecoratedWindow {
public:
    GuiDialog(const GuiRect& rect, const char* title, GuiThing* owner, unsigned short style);
    GuiDialog(const char* title, GuiThing* owner, unsigned short style);
    ~GuiDialog() override;

    int Message(const GuiMessage& msg) override;

    GuiThing* mpOwner;   // receives the notifications; not owned

private:
    void InitDialog(const char* title, GuiThing* owner);
    void NotifyOwner(int id);
};
