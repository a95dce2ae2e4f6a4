// Key codes, signals and the cursor colour shared by the text widgets.
#pragma once

#include <cstdint>

// Key codes handed to InsertKey.
enum : unsigned int {
    GUI_KEY_BACKSPACE = 8,
    GUI_KEY_ENTER = 13,
    GUI_KEY_FIRST_CHAR = 32,
    GUI_KEY_LAST_CHAR = 255,     // the texts hold 8-bit characters only
    GUI_KEY_DELETE = 600,
    GUI_KEY_HOME = 602,
    GUI_KEY_END = 603,
    GUI_KEY_UP = 606,
    GUI_KEY_DOWN = 607,
    GUI_KEY_LEFT = 608,
    GUI_KEY_RIGHT = 609,
};

// Whether a key inserts itself as a character. Codes from 256 up would not
// fit the 8-bit text and are refused.
inline bool GuiIsTextCharacter(long key) { return key >= long(GUI_KEY_FIRST_CHAR) && key <= long(GUI_KEY_LAST_CHAR); }

// Signals of the text widgets to their parent.
enum : uint8_t {
    GUI_SIG_MARKED = 8,        // editor: a pointer drag left a mark
    GUI_SIG_CUT_PASTE = 9,     // editor: text was cut or pasted
    GUI_SIG_EDIT_DONE = 10,    // editor: editing ended; field: changed text lost the focus
};

constexpr uint32_t GUI_CURSOR_COLOUR = 0x0000FF;
