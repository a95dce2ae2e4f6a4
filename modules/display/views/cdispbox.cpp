// CDispBox: construction, one tick of the look, drawing.
#include "display/views/cdispbox.h"

#include <cstring>

#include "display/fonts/korva_fonts.h"
#include "display/views/view_paint.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr uint16_t kPromptStyle = GST_TRANSPARENT | GST_FRAME_NONE;   // 0x4001
}  // namespace

CDispBox::CDispBox(GuiRect area, display_elem_s* elem, GuiWindow* par, unsigned int style)
    : CDataView(elem, style), parent(par)
{
    titleFont = Korva_getFont(FONT_TINY);
    textFont = titleFont;
    if (!elem || elem->type != DISP_ELEM_ALPHANUM) return;
    const alphanum_s& a = elem->alphanum;
    const int left = area.left + int(elem->pos_x), top = area.top + int(elem->pos_y);
    mOuter = GuiRect(left, top, left + int(elem->size_x) - 1, top + int(elem->size_y) - 1);
    mClip = mOuter;
    GuiWindow::InitClient();

    title = a.title;
    textFont = Korva_getFont(a.font_size);
    hasLower = a.has_lower;
    hasUpper = a.has_upper;
    lowerLimit = a.limit_low;
    upperLimit = a.limit_up;
    lowerHyst = a.hyst_low;
    upperHyst = a.hyst_up;
    takeBandColours(BAND_STALE);
    SetColor(0, borderBg);

    GuiScreen* s = mpScreen;
    const GuiRect& c = mClient;
    if (!title[0] || !s) {
        titleHeight = 16;
    } else {
        titleWidth = uint32_t(s->TextWidth(title, titleFont, -1));
        titleHeight = uint32_t(s->TextHeight(title, titleFont));
        titlePos = GuiPoint{int16_t(c.left + (c.right - c.left) / 2 - int(titleWidth) / 2), c.top};
        auto make = [&](const alphanum_deco_s& d, bool ghost) {
            const auto col = ghost ? dispElem_GhostColor : dispElem_Color;
            return disp_text_bitmap(this, title, titleFont, col(&d.TitleFGCol), col(&d.TitleBGCol), int(titleWidth),
                                    int(titleHeight));
        };
        titleGhost = make(a.deco_middle, true);
        titleMiddle = make(a.deco_middle, false);
        titleCurrent = titleMiddle;
        if (hasLower) titleLower = make(a.deco_lower, false);
        if (hasUpper) titleUpper = make(a.deco_upper, false);
    }
    uint32_t letterFg = dispElem_Color(&a.deco_middle.TitleBGCol), letterBg = dispElem_Color(&a.deco_middle.TitleFGCol);
    if (letterFg == letterBg) letterFg = 0x000000, letterBg = 0xFFFFFF;
    resetLetter = disp_text_bitmap(this, "R", titleFont, letterFg, letterBg);
    placePrompt();
}

CDispBox::~CDispBox()
{
    if (prompt) {
        Remove(prompt, 0);
        delete prompt;
        prompt = nullptr;
    }
    for (GuiBitmap** b : {&titleLower, &titleMiddle, &titleUpper, &titleGhost, &resetLetter}) disp_free_bitmap(*b);
    titleCurrent = nullptr;
}

void CDispBox::placePrompt()
{
    const alphanum_s& a = element->alphanum;
    const bool doubled = KorvaFonts_isDouble(a.font_size);
    int h = mpScreen ? mpScreen->TextHeight("0", textFont) : 16;
    if (doubled) h *= 2;
    const GuiRect& c = mClient;
    const int T = c.top + int(titleHeight), B = c.bottom - 16;
    int top = T, bottom = B;
    const uint32_t row = a.align <= ALIGN_BR ? a.align / 3 : 1;
    if (row == 0) {
        bottom = T + h < B ? T + h : B;
    } else if (row == 2) {
        top = T + h < B ? B - h : T;
    }
    uint16_t just = GST_TEXT_RIGHT;
    if (a.align <= ALIGN_BR) {
        const uint32_t col = a.align % 3;
        just = col == 0 ? GST_TEXT_LEFT : col == 1 ? 0x0080 : GST_TEXT_RIGHT;
    }
    prompt = new GuiPrompt(GuiRect(c.left + 16, top, c.right - 16, bottom), initialText, 0,
                           uint16_t(just | kPromptStyle), doubled ? 1 : 0);
    prompt->SetFont(textFont);
    prompt->SetColor(2, textFg);
    prompt->SetColor(0, textBg);
    Add(prompt, 1);
}

void CDispBox::takeBandColours(uint32_t b)
{
    const alphanum_s& a = element->alphanum;
    const alphanum_deco_s& d = b == BAND_LOWER ? a.deco_lower : b == BAND_UPPER ? a.deco_upper : a.deco_middle;
    const auto col = b == BAND_STALE ? dispElem_GhostColor : dispElem_Color;
    textFg = col(&d.TextFGCol);
    textBg = col(&d.TextBGCol);
    borderFg = col(&d.BorderFGCol);
    borderBg = col(&d.BorderBGCol);
    titleFg = col(&d.TitleFGCol);
    titleBg = col(&d.TitleBGCol);
    frameStyle = d.style;
}

int CDispBox::updateDisp(int)
{
    if (!element || element->type != DISP_ELEM_ALPHANUM || !prompt) return 0;
    bool changed = false;
    int result = 0;
    if (!valueSource) {
        // A label: the format text in the middle colours, set once.
        forceText = 0;
        if (band != BAND_MIDDLE || !validShown) {
            band = BAND_MIDDLE;
            prompt->DataSet(element->alphanum.format_str);
            changed = true;
            validShown = 1;
        }
    } else {
        const bool valid = valueSource->getMeasUpdateState();
        double v = 0;
        valueSource->getQuantData(v);
        const DispBandLimits lim{lowerLimit, upperLimit, lowerHyst, upperHyst, hasLower != 0, hasUpper != 0};
        band = disp_next_band(band, valid, validShown, v, lim, &changed);
        valueSource->getDataStr(element->alphanum.format_str, text);
        if (forceText || std::strncmp(text, previousText, sizeof text) != 0) {
            prompt->DataSet(text);
            result = 1;
        }
        forceText = 0;
        std::memcpy(previousText, text, sizeof text);
    }
    if (changed) {
        takeBandColours(band);
        if (band == BAND_LOWER) titleCurrent = titleLower;
        else if (band == BAND_MIDDLE) titleCurrent = titleMiddle;
        else if (band == BAND_UPPER) titleCurrent = titleUpper;
        SetColor(0, borderBg);
        prompt->SetColor(2, textFg);
        prompt->SetColor(0, textBg);
        if (mpScreen) mpScreen->Invalidate(mClient);
        result = 2;
    }
    const int vis = followVisibility(parent);
    return vis ? vis : result;
}

int CDispBox::forceUpdate()
{
    CDataView::forceUpdate();
    forceText = 1;
    elemResetFlag = 0;
    return 1;
}

void CDispBox::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiWindow::DrawFrame(1);
    const GuiRect c = mClient;
    disp_draw_frame(this, c, frameStyle, borderFg, borderBg);
    GuiRect area = c;
    area -= 16;
    s->Rectangle(this, area, GuiColor{textFg, textBg, GUI_COLOR_FILL}, 0);
    if (band != BAND_STALE) {
        if (titleCurrent) s->Bitmap(this, titlePos, titleCurrent, 0);
        if (prompt) prompt->Draw();
    } else {
        disp_draw_cross(this, c, 16);
        if (titleGhost) s->Bitmap(this, titlePos, titleGhost, 0);
    }
    if (resettable && resetLetter && elemResetFlag) s->Bitmap(this, GuiPoint{c.left, c.top}, resetLetter, 0);
    s->EndDraw();
}
