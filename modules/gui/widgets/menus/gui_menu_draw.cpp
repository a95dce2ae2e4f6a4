// Drawing of the menu family: the raised pop-up menu, the flat bar, and
// entries as separators, bar entries (raised while hovered, sunken in
// fly-over mode) and pop-up entries with their tick, dot or submenu arrow.
#include "gui/core/gui_bitmaps.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/menus/gui_menu.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kBlack = 0x000000;

void line(GuiScreen* s, GuiThing* t, int x1, int y1, int x2, int y2, uint32_t c)
{
    s->Line(t, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
}

void fill(GuiScreen* s, GuiThing* t, const GuiRect& r, uint32_t c)
{
    s->Rectangle(t, r, GuiColor{c, c, GUI_COLOR_FILL}, 0);
}

bool canDraw(const GuiThing* t)
{
    return GuiThing::mpScreen && (t->IsVisible() || GuiThing::mpScreen->DrawingIntoBitmap());
}

}  // namespace

void GuiMenu::Draw()
{
    if (!canDraw(this)) return;
    GuiScreen* s = mpScreen;
    s->BeginDraw(this);
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    fill(s, this, mOuter, mColor[0]);
    line(s, this, l + 1, t + 1, l + 1, b, kWhite);
    line(s, this, l + 1, t + 1, r - 1, t + 1, kWhite);
    line(s, this, l + 1, b - 1, r - 1, b - 1, kGrey);
    line(s, this, r - 1, t + 1, r - 1, b - 1, kGrey);
    line(s, this, l, b, r, b, kBlack);
    line(s, this, r, t, r, b, kBlack);
    DrawChildren();
    s->EndDraw();
}

void GuiMenuBar::Draw()
{
    if (!canDraw(this)) return;
    mpScreen->BeginDraw(this);
    fill(mpScreen, this, mOuter, mColor[0]);
    DrawChildren();
    mpScreen->EndDraw();
}

void GuiMenuButton::Draw()
{
    if (!canDraw(this)) return;
    GuiScreen* s = mpScreen;
    s->BeginDraw(this);
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    if (IsSeparator()) {
        const int mid = (t + b) / 2;
        line(s, this, l, mid, r, mid, kGrey);
        line(s, this, l, mid + 1, r, mid + 1, kWhite);
        s->EndDraw();
        return;
    }
    const bool bar = ParentIsBar();
    const bool enabled = (mStyle & GST_ENABLED) != 0;
    int x = bar ? l : l + 16;
    uint32_t ink;
    if (bar) {
        fill(s, this, mOuter, mColor[0]);
        if ((mHighlighted && enabled) || mSubMenuOpen) {
            const bool sunken = static_cast<GuiMenuBar*>(mpParent)->InFlyoverMode() != 0;
            const uint32_t topLeft = sunken ? kGrey : kWhite, bottomRight = sunken ? kWhite : kGrey;
            line(s, this, l, t, r, t, topLeft);
            line(s, this, l, t, l, b, topLeft);
            line(s, this, l + 1, b, r, b, bottomRight);
            line(s, this, r, t, r, b, bottomRight);
        }
        ink = enabled ? mColor[2] : kGrey;
        x += ((r - l + 1) - s->TextWidth(mpText, mpFont, -1)) / 2;
    } else if (enabled && mHighlighted) {
        fill(s, this, mOuter, mColor[1]);
        ink = mColor[3];
    } else {
        fill(s, this, mOuter, mColor[0]);
        ink = enabled ? mColor[2] : kGrey;
    }
    if (mpText) {
        GuiColor c{ink, ink, 0};
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(t + 1)}, mpText, c, mpFont, -1, 0);
    }
    const int h = b - t + 1;
    if (!bar && mpSubMenu)
        s->Bitmap(this, GuiPoint{int16_t(r - 8), int16_t(t + (h - 7) / 2)}, &gbMoreBitmap, 0);
    else if (IsChecked())
        s->Bitmap(this, GuiPoint{int16_t(l + 4), int16_t(t + (h - 7) / 2)}, &gbCheckBitmap, 0);
    else if (IsDotted())
        s->Bitmap(this, GuiPoint{int16_t(l + 4), int16_t(t + (h - 6) / 2)}, &gbDotBitmap, 0);
    s->EndDraw();
}
