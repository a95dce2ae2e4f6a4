// What the two message windows share: the row of standard command buttons
// chosen by style bits, the caption bar, the sizing steps and the handling
// of their messages.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

class GuiTitle;

// Style bits of the buttons, left to right: OK, Yes, No, Abort, Retry,
// Cancel.
constexpr uint16_t GMW_OK = 0x0020;
constexpr uint16_t GMW_YES = 0x0040;
constexpr uint16_t GMW_NO = 0x0080;
constexpr uint16_t GMW_ABORT = 0x0100;
constexpr uint16_t GMW_RETRY = 0x0200;
constexpr uint16_t GMW_CANCEL = 0x0400;
constexpr uint16_t GMW_BUTTONS = 0x07E0;

constexpr int GUI_FONT_SLOT_MESSAGE = 14;

struct GuiMessageButtonRow {
    int buttonWidth;   // every button is as wide as "Cancel" needs
    int rowWidth;      // all buttons with 8 pixels between them, 0 for none
};

GuiMessageButtonRow GuiMessageButtonRowFor(unsigned short style);
// Height of the button font, the height of the button row.
int GuiMessageButtonHeight();
inline bool GuiHasMessageButtons(unsigned short style) { return (style & GMW_BUTTONS) != 0; }
// One text button per style bit, the first over `first`, each next one
// buttonWidth + 8 further right, appended to the window.
void GuiAddMessageButtons(GuiWindow* window, unsigned short style, GuiRect first, int buttonWidth);

// A caption bar without buttons attached to the window, which becomes
// movable; its client top (and with growOuter its outer bottom) moves down
// by the bar's rows. Returns the bar, null without a caption.
GuiTitle* GuiAttachMessageTitle(GuiWindow* window, const char* caption, bool growOuter);
// Width a caption needs: its text width + 16.
int GuiMessageTitleWidth(const GuiTitle* title);
// Client right and bottom from the outer rectangle by the frame style.
void GuiSetMessageClientEdges(GuiWindow* window);
// Centred over the owner, or on the screen without one.
void GuiCenterMessageWindow(GuiWindow* window, GuiThing* owner);

// Message handling of both message windows; `owner` may be set on show.
int GuiMessageWindowMessage(GuiWindow* window, GuiTitle* title, GuiThing*& owner, const GuiMessage& msg);
