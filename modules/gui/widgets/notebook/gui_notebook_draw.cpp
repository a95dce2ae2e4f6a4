// GuiNotebook: the bevelled page frame, the tab band and the tabs; the
// current tab is drawn last and larger, over its neighbours.
#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/notebook/gui_notebook.h"

namespace {

constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kShade = 0x808080;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

}  // namespace

void GuiNotebook::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    DrawFrame(1);
    DrawTabs(0);
    DrawTabs(1);
    DrawChildren();
    s->EndDraw();
}

void GuiNotebook::DrawFrame(int)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    const int f = Thick() ? 5 : 2;
    const int d = Thick() ? 4 : 2;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    const GuiColor fill{kFace, mColor[0], GUI_COLOR_FILL};

    GuiRect page = mOuter;
    GuiRect band = mOuter;
    if (TabsOnTop()) {
        page.top = int16_t(mClient.top - f);
        band.bottom = int16_t(mClient.top - f - 1);
    } else {
        page.bottom = int16_t(mClient.bottom + f);
        band.top = int16_t(mClient.bottom + f + 1);
    }
    s->Rectangle(this, page, fill, f);
    if (!band.IsEmpty()) s->Rectangle(this, band, fill, 0);

    if (TabsOnTop()) {
        const int y = mClient.top - d;
        line(l + 1, y, l + 1, b, kWhite);
        line(l + 1, y, r - 1, y, kWhite);
        line(r - 1, y + 1, r - 1, b - 1, kShade);
        line(l + 1, b - 1, r - 1, b - 1, kShade);
        line(r, y, r, b, kBlack);
        line(l, b, r, b, kBlack);
    } else {
        const int y = mClient.bottom + d;
        line(l + 1, t + 1, l + 1, y, kWhite);
        line(l + 1, t + 1, r - 1, t + 1, kWhite);
        line(r - 1, t + 1, r - 1, y, kShade);
        line(l + 1, y - 1, r - 1, y - 1, kShade);
        line(r, t, r, y, kBlack);
        line(l + 1, y, r, y, kBlack);
    }
    if (Thick()) {
        const int cl = mClient.left, ct = mClient.top, cr = mClient.right, cb = mClient.bottom;
        line(cl - 1, ct - 1, cr + 1, ct - 1, kShade);
        line(cl - 1, ct, cl - 1, cb + 1, kShade);
        line(cl - 1, cb + 2, cr + 1, cb + 2, kWhite);
        line(cr + 2, ct, cr + 2, cb + 1, kWhite);
    }
}

void GuiNotebook::DrawTab(const GuiRect& tab, uint8_t index, bool current)
{
    GuiScreen* s = mpScreen;
    const int l = tab.left, t = tab.top, r = tab.right, b = tab.bottom;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    s->Rectangle(this, tab, GuiColor{mColor[0], current ? mColor[1] : mColor[0], GUI_COLOR_FILL}, 0);
    if (TabsOnTop()) {
        line(l + 1, t - 1, r + 1, t - 1, kWhite);
        line(l - 1, t + 1, l - 1, b, kWhite);
        line(l, t, l, t, kWhite);
        line(r + 1, t - 1, r + 1, b, kShade);
        line(r + 2, t, r + 2, b, kBlack);
    } else {
        line(l - 1, t, l - 1, b, kWhite);
        line(r + 1, t, r + 1, b, kShade);
        line(l, b + 1, r + 1, b + 1, kShade);
        line(r + 2, current ? t + 1 : t, r + 2, b + 1, kBlack);
        line(l + 1, b + 2, r + 2, b + 2, kBlack);
    }
    if (mppTabStrings && mppTabStrings[index] && mpFont) {
        const char* text = mppTabStrings[index];
        const int x = ((l + r) >> 1) - (s->TextWidth(text, mpFont, -1) >> 1);
        const int y = t + 1 + (TabsOnTop() ? 1 : 0);
        GuiColor ink{current ? mColor[3] : mColor[2], mColor[0], 0};
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, text, ink, mpFont, -1, 0);
    }
    if (current && mpPresentation && mpPresentation->mpFocus == this) {
        GuiRect outline = tab;
        outline -= 1;
        s->Rectangle(this, outline, GuiColor{kShade, mColor[0], 0}, 1);
    }
}

void GuiNotebook::DrawTabs(int current)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    GuiRect tab;
    tab.left = int16_t(mOuter.left + 2);
    tab.right = int16_t(mOuter.left + 1 + mTabWidth);
    if (TabsOnTop()) {
        tab.top = int16_t(mOuter.top + 1);
        tab.bottom = int16_t(mOuter.top + mTabHeight);
    } else {
        tab.bottom = int16_t(mOuter.bottom - 3);
        tab.top = int16_t(tab.bottom - mTabHeight + 1);
    }
    GuiRect band = tab;
    band += 1;
    band.right = int16_t(mOuter.right - (mpSpin ? 36 : 2));
    const GuiRect saved = mClip;
    mClip &= band;
    // The other tabs are drawn 2 pixels smaller on every side.
    if (!current) tab -= 2;
    for (int i = mFirstVisibleTab; i < mTabCount && tab.left < mClip.right; ++i) {
        if ((i == mCurrentTab) == (current != 0)) DrawTab(tab, uint8_t(i), current != 0);
        tab.Shift(mTabWidth, 0);
    }
    mClip = saved;
}
