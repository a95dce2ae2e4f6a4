// Class codes, command ids and library strings of the window frames: the
// decorated window with its title, menu, tool and status bars, dialogs,
// message windows and the progress bar.
#pragma once

#include <cstdint>

#include "gui/widgets/menus/gui_menu.h"   // GT_WINDOW_TITLE, GT_MENU_BAR

// Class codes (GuiThing::mType).
enum : uint8_t {
    GT_STATUS_BAR = 16,
    GT_PROGRESS_BAR = 19,
    GT_TOOL_BAR_PANEL = 27,
    GT_TOOL_BAR = 28,
    GT_DIALOG = 151,
    GT_MESSAGE_WINDOW = 155,
    GT_DECORATED_WINDOW = 156,
    GT_ML_MESSAGE_WINDOW = 166,
};

// Ids of the title buttons and the standard command buttons; a click of one
// arrives as GuiSignalType (id, GUI_SIG_CLICKED).
enum : uint16_t {
    GUI_ID_CLOSE = 1000,
    GUI_ID_SYSTEM = 1001,
    GUI_ID_OK = 1002,
    GUI_ID_CANCEL = 1003,
    GUI_ID_NOTIFY = 1004,     // tells a dialog's owner without closing the dialog
    GUI_ID_ABORT = 1005,
    GUI_ID_YES = 1006,
    GUI_ID_NO = 1007,
    GUI_ID_MAXIMIZE = 1008,   // in a title bar
    GUI_ID_RETRY = 1008,      // in a message window
    GUI_ID_MINIMIZE = 1009,
    GUI_ID_RESTORE = 1010,
};

// The library's own texts.
extern const char GUISC_CLOSE[];
extern const char GUISC_MINIMIZE[];
extern const char GUISC_MAXIMIZE[];
extern const char GUISC_RESTORE[];
extern const char GUISC_OK[];
extern const char GUISC_YES[];
extern const char GUISC_NO[];
extern const char GUISC_ABORT[];
extern const char GUISC_RETRY[];
extern const char GUISC_CANCEL[];
