// CDispBox: construction, one tick of the look, drawing.
#include "display/views/cdispbox.h"

#include <cstring>

#include "display/fonts/korva_fonts.h"
#include "display/views/view_paint.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr uint16_t kPromptStyle = GST_TRANSPARENT | GST_FRAME_NONE;   // 0x4001
constexpr uint16_t kCentred = 0x0080;
}  // namespace

CDispBox::CDispBox(GuiRect area, display_elem_s* elem, GuiWindow* par, unsigned int style)
    : CDataView(elem, style), parent(par)
{
    titleFont = Korva_getFont(FONT_TINY);
    textFont = titleFont;
    if (!elem || elem->type != DISP_ELEM_ALPHANUM) return;
    const alphanum_s& a = elem->alphanum;
    placeOn(area);
    title = a.title;
    textFont = Korva_getFont(a.font_size);
    bands.hasLower = a.has_lower;
    bands.hasUpper = a.has_upper;
    bands.lowerLimit = a.limit_low;
    bands.upperLimit = a.limit_up;
    bands.lowerHyst = a.hyst_low;
    bands.upperHyst = a.hyst_up;
    takeBandColours(BAND_STALE);
    SetColor(0, borderBg);
    titles.make(this, title, mClient, a.deco_lower, a.deco_middle, a.deco_upper, bands);
    // The reset letter in the title colours swapped, black on white when
    // they are the same.
    uint32_t letterFg = dispElem_Color(&a.deco_middle.TitleBGCol), letterBg = dispElem_Color(&a.deco_middle.TitleFGCol);
    if (letterFg == letterBg) letterFg = 0x000000, letterBg = 0xFFFFFF;
    resetLetter = disp_text_bitmap(this, "R", titleFont, letterFg, letterBg);
    placePrompt();
}

CDispBox::~CDispBox()
{
    // The prompt is a child: the window base deletes it with the box (and
    // unlinking it here would reach a presentation manager being torn down).
    prompt = nullptr;
    titles.release();
    disp_free_bitmap(resetLetter);
}

void CDispBox::placePrompt()
{
    const alphanum_s& a = element->alphanum;
    const bool doubled = KorvaFonts_isDouble(a.font_size);
    int h = mpScreen ? mpScreen->TextHeight("0", textFont) : 16;
    if (doubled) h *= 2;
    const GuiRect& c = mClient;
    const int T = c.top + int(titles.height), B = c.bottom - 16;
    int top = T, bottom = B;
    // Rows and columns of the nine alignments; any other is middle right.
    const uint32_t row = a.align <= ALIGN_BR ? a.align / 3 : 1;
    const uint32_t col = a.align <= ALIGN_BR ? a.align % 3 : 2;
    if (row == 0) bottom = T + h < B ? T + h : B;
    if (row == 2) top = T + h < B ? B - h : T;
    const uint16_t just = col == 0 ? uint16_t(GST_TEXT_LEFT) : col == 1 ? kCentred : uint16_t(GST_TEXT_RIGHT);
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
    const alphanum_deco_s& d = bands.deco(a.deco_lower, a.deco_middle, a.deco_upper, b);
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
        if (!bands.validShown) {
            bands.band = BAND_MIDDLE;
            bands.validShown = 1;
            prompt->DataSet(element->alphanum.format_str);
            changed = true;
        }
    } else {
        changed = bands.step(valueSource);
        valueSource->getDataStr(element->alphanum.format_str, text);
        if (forceText || std::strncmp(text, previousText, sizeof text) != 0) {
            prompt->DataSet(text);
            result = 1;
        }
        forceText = 0;
        std::memcpy(previousText, text, sizeof text);
    }
    if (changed) {
        takeBandColours(bands.band);
        titles.select(bands.band);
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
    disp_draw_background(this, frameStyle, borderFg, borderBg);
    const GuiRect& c = mClient;
    GuiRect area = c;
    area -= 16;
    s->Rectangle(this, area, GuiColor{textFg, textBg, GUI_COLOR_FILL}, 0);
    if (bands.band != BAND_STALE) {
        if (titles.current) s->Bitmap(this, titles.pos, titles.current, 0);
        if (prompt) prompt->Draw();
    } else {
        disp_draw_stale(this, titles.ghost, titles.pos);
    }
    if (resettable && resetLetter && elemResetFlag) s->Bitmap(this, GuiPoint{c.left, c.top}, resetLetter, 0);
    s->EndDraw();
}
