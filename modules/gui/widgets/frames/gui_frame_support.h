// Small helpers shared by the window frames.
#pragma once

#include "gui/core/gui_thing.h"

// Whether `child` is linked as a child of `parent`. Used before touching a
// remembered child, which the application may have taken away meanwhile.
bool GuiIsChildOf(const GuiThing* parent, const GuiThing* child);

// Number of pixel rows of the thing's outer rectangle.
inline int GuiRows(const GuiThing* t) { return t->mOuter.bottom - t->mOuter.top + 1; }

// Height of a font as the drawing surface measures it, 0 for none.
int GuiFontHeight(const GuiFont* font);

// Width of a whole text in a font, 0 without text, font or screen.
int GuiTextWidth(const char* text, const GuiFont* font);

// Whether the thing is a window that is maximised.
bool GuiIsMaximized(const GuiThing* t);
