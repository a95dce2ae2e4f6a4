// Drawing steps shared by the element views.
#include "display/views/view_paint.h"

#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"

GuiBitmap* disp_text_bitmap(GuiThing* owner, const char* text, const GuiFont* font, uint32_t fg, uint32_t bg,
                            int width, int height, int transparent)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s || !text || !font) return nullptr;
    GuiBitmap* b = s->CreateBitmap(width, height, transparent);
    if (!b) return nullptr;
    s->BeginDraw(owner, b);
    if (s->DrawingIntoBitmap()) {
        GuiColor c{fg, bg, GUI_COLOR_FILL};
        s->DrawText(owner, GuiPoint{0, 0}, text, c, font, -1, 0);
        s->EndDraw(b);
    }
    return b;
}

GuiBitmap* disp_text_bitmap(GuiThing* owner, const char* text, const GuiFont* font, uint32_t fg, uint32_t bg)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s) return nullptr;
    return disp_text_bitmap(owner, text, font, fg, bg, s->TextWidth(text, font, -1), s->TextHeight(text, font));
}

void disp_free_bitmap(GuiBitmap*& bitmap)
{
    if (bitmap && GuiThing::mpScreen) GuiThing::mpScreen->DestroyBitmap(bitmap);
    bitmap = nullptr;
}

void disp_draw_frame(GuiThing* thing, const GuiRect& c, uint32_t style, uint32_t fg, uint32_t bg)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s || style == 0) return;
    const GuiColor colour{fg, bg, 0};
    s->Rectangle(thing, GuiRect(c.left + 5, c.top + 5, c.right - 5, c.bottom - 5), colour, 2);
    int dx = 0, dy = 0;
    switch (style) {
    case 2: dx = dy = 9; break;   // double line
    case 3: dx = 9, dy = 5; break;   // single top: sides doubled
    case 4: dx = 5, dy = 9; break;   // single side: top and bottom doubled
    default: return;
    }
    s->Rectangle(thing, GuiRect(c.left + dx, c.top + dy, c.right - dx, c.bottom - dy), colour, 2);
}

void disp_draw_cross(GuiThing* thing, const GuiRect& c, int m)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s) return;
    const GuiColor red{0xFF0000, 0xC0C0C0, 0};
    s->Line(thing, c.left + m, c.top + m + 1, c.right - m, c.bottom - m - 1, red, 2);
    s->Line(thing, c.left + m, c.bottom - m - 1, c.right - m, c.top + m + 1, red, 2);
}

void disp_draw_background(GuiWindow* view, uint32_t style, uint32_t fg, uint32_t bg)
{
    view->DrawFrame(1);
    disp_draw_frame(view, view->mClient, style, fg, bg);
}

void disp_draw_stale(GuiWindow* view, GuiBitmap* ghostTitle, GuiPoint titlePos)
{
    disp_draw_cross(view, view->mClient, 16);
    if (ghostTitle && GuiThing::mpScreen) GuiThing::mpScreen->Bitmap(view, titlePos, ghostTitle, 0);
}
