// Ready-made message boxes: GuiMessageWindow shows an optional icon and one
// line of text above a centred row of standard command buttons chosen by
// style bits (GMW_*); GuiMLMessageWindow wraps a long text over several
// lines and grows downwards until it fits. Built without a rectangle they
// size themselves from their content and centre on their owner or on the
// screen. A click on one of their buttons notifies the owner (message 36
// with the click's type) and closes the window, or ends its modal Execute
// with the button's id.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"
#include "gui/widgets/frames/gui_message_parts.h"

class GuiTitle;
class GuiTextBox;

class GuiMessageWindow : public GuiWindow {
public:
    GuiMessageWindow(const GuiRect& rect, const char* title, const char* message, unsigned short style,
                     GuiBitmap* icon, GuiThing* owner);
    GuiMessageWindow(const char* title, const char* message, unsigned short style, GuiBitmap* icon,
                     GuiThing* owner);
    ~GuiMessageWindow() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    void CalcButtonWidth();
    void AddButtons();

    GuiTitle* mpTitle;      // caption bar (child) or null
    GuiThing* mpOwner;      // not owned
    GuiBitmap* mpIcon;      // not owned
    int32_t mButtonRowWidth;
    int32_t mButtonWidth;
    int32_t mMessageWidth;

private:
    void InitMessageWindow(const char* message);
};

class GuiMLMessageWindow : public GuiWindow {
public:
    GuiMLMessageWindow(const GuiRect& rect, const char* title, const char* message, unsigned short style,
                       GuiBitmap* icon, GuiThing* owner);
    GuiMLMessageWindow(const char* title, const char* message, unsigned short style, GuiBitmap* icon,
                       GuiThing* owner);
    ~GuiMLMessageWindow() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    void CalcButtonWidth();
    void CalcButtonTop();
    // The text box over the client area above the buttons; grows the
    // window until every line fits.
    void AddTextBox(const char* text);
    void AddButtons();

    GuiTitle* mpTitle;
    GuiThing* mpOwner;
    GuiBitmap* mpIcon;
    GuiTextBox* mpTextBox;   // child, null without a message
    int32_t mButtonRowWidth;
    int32_t mButtonTop;
    int32_t mButtonWidth;

private:
    void InitMLMessageWindow(GuiBitmap* icon, GuiThing* owner);
};
