// Drawing steps shared by the element views: pre-rendered text bitmaps, the
// decoration frames and the red cross of a view without valid value.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

// A bitmap of width x height with the text drawn at (0, 0) in fg on bg
// (filled); null when the size is empty or the bitmap cannot be made.
GuiBitmap* disp_text_bitmap(GuiThing* owner, const char* text, const GuiFont* font, uint32_t fg, uint32_t bg,
                            int width, int height, int transparent = 0);
// The same, as large as the text.
GuiBitmap* disp_text_bitmap(GuiThing* owner, const char* text, const GuiFont* font, uint32_t fg, uint32_t bg);
// Destroys a bitmap made by the screen and clears the pointer.
void disp_free_bitmap(GuiBitmap*& bitmap);

// The frame of a decoration style (0 none, 1 single line, 2 double line,
// 3 single top, 4 single side) inside area: an outline of width 2 inset by
// 5, and for styles 2 to 4 a second one inset by 9 on all sides, on the
// left and right, or on the top and bottom.
void disp_draw_frame(GuiThing* thing, const GuiRect& area, uint32_t style, uint32_t fg, uint32_t bg);
// Two red lines of width 2 across area, inset by margin (one pixel more
// vertically).
void disp_draw_cross(GuiThing* thing, const GuiRect& area, int margin);

class GuiWindow;
// The background (the window's colour 0) and the decoration frame of a box
// or bar graph view, inside an open draw bracket.
void disp_draw_background(GuiWindow* view, uint32_t style, uint32_t fg, uint32_t bg);
// The stale look over a view's client area: the red cross inset by 16 and
// the title in ghost colours (when there is one).
void disp_draw_stale(GuiWindow* view, GuiBitmap* ghostTitle, GuiPoint titlePos);
