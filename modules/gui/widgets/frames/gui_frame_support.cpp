// Helpers shared by the window frames, and the library's own texts.
#include "gui/widgets/frames/gui_frame_support.h"

#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"

const char GUISC_CLOSE[] = "Close";
const char GUISC_MINIMIZE[] = "Minimize";
const char GUISC_MAXIMIZE[] = "Maximize";
const char GUISC_RESTORE[] = "Restore";
const char GUISC_OK[] = "OK";
const char GUISC_YES[] = "Yes";
const char GUISC_NO[] = "No";
const char GUISC_ABORT[] = "Abort";
const char GUISC_RETRY[] = "Retry";
const char GUISC_CANCEL[] = "Cancel";

bool GuiIsChildOf(const GuiThing* parent, const GuiThing* child)
{
    if (!parent || !child) return false;
    for (const GuiThing* c = parent->mpFirstChild; c; c = c->mpNext)
        if (c == child) return true;
    return false;
}

int GuiFontHeight(const GuiFont* font)
{
    if (!font) return 0;
    return GuiThing::mpScreen ? GuiThing::mpScreen->TextHeight(nullptr, font) : font->height;
}

int GuiTextWidth(const char* text, const GuiFont* font)
{
    if (!text || !font || !GuiThing::mpScreen) return 0;
    return GuiThing::mpScreen->TextWidth(text, font, -1);
}

bool GuiIsMaximized(const GuiThing* t)
{
    return t && t->IsWindow() && static_cast<const GuiWindow*>(t)->mMaximized != 0;
}
