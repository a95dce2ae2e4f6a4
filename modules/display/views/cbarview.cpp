// CBarView: construction with scale, limits and tick labels, one tick of the
// bar, drawing by orientation.
#include "display/views/cbarview.h"

#include <algorithm>

#include "awm/awm.h"
#include "display/fonts/korva_fonts.h"
#include "display/views/view_paint.h"
#include "gui/draw/gui_screen.h"

namespace {
// Round half away from zero of a coordinate already within 16 bits.
int16_t roundCoord(double p) { return int16_t(awm_round(p)); }
}  // namespace

CBarView::CBarView(GuiRect area, display_elem_s* elem, GuiWindow* par, unsigned int style)
    : CDataView(elem, style), parent(par)
{
    if (!elem || elem->type != DISP_ELEM_BARGRAPH) return;
    const bargraph_s& g = elem->bargraph;
    placeOn(area);
    title = g.title;
    bands.hasLower = g.has_lower;
    bands.hasUpper = g.has_upper;
    bands.lowerLimit = g.limit_low;
    bands.upperLimit = g.limit_up;
    bands.lowerHyst = g.hyst_low;
    bands.upperHyst = g.hyst_up;
    min = g.min;
    max = g.max;
    horizontal = g.orientation == BARGR_HORI_LR || g.orientation == BARGR_HORI_RL;
    reverse = g.orientation == BARGR_HORI_RL || g.orientation == BARGR_VERT_BT;
    // Zones of the middle band; a stacked bar keeps them for good.
    zoneMiddle = dispElem_Color(&g.deco_middle.BarFGCol);
    zoneLower = zoneUpper = zoneMiddle;
    if (g.style == BARGR_STACKED) {
        if (bands.hasLower) zoneLower = dispElem_Color(&g.deco_lower.BarFGCol);
        if (bands.hasUpper) zoneUpper = dispElem_Color(&g.deco_upper.BarFGCol);
    }
    takeBandColours(BAND_STALE);
    SetColor(0, borderBg);
    titles.make(this, title, mClient, g.deco_lower, g.deco_middle, g.deco_upper, bands);

    GuiScreen* s = mpScreen;
    const GuiFont* tiny = Korva_getFont(FONT_TINY);
    const GuiRect& c = mClient;
    const int zeroHeight = s ? s->TextHeight("0", tiny) : 16, zeroWidth = s ? s->TextWidth("0", tiny, -1) : 8;
    barRect.left = int16_t(c.left + 16);
    barRect.top = int16_t(c.top + int(titles.height) + (horizontal && g.ticks ? zeroHeight : 0));
    barRect.right = int16_t(!horizontal && g.ticks ? c.right - (zeroWidth + 17) : c.right - 16);
    barRect.bottom = int16_t(c.bottom - 16);

    if (min < max) {
        const float l = barRect.left, t = barRect.top, r = barRect.right, b = barRect.bottom;
        switch (g.orientation) {
        case BARGR_HORI_LR: scale = (r - l) / (max - min), offset = l - scale * min; break;
        case BARGR_HORI_RL: scale = (r - l) / (min - max), offset = r - scale * min; break;
        case BARGR_VERT_BT: scale = (b - t) / (min - max), offset = b - scale * min; break;
        case BARGR_VERT_TB: scale = (b - t) / (max - min), offset = t - scale * min; break;
        }
    }
    lowerPixel = pixelOf(double(offset + scale * bands.lowerLimit));
    upperPixel = pixelOf(double(offset + scale * bands.upperLimit));
    makeTicks();
}

CBarView::~CBarView()
{
    titles.release();
    for (int i = 0; i < DISPLAY_MAX_TICKS; ++i) {
        disp_free_bitmap(labelsLower[i]);
        disp_free_bitmap(labelsMiddle[i]);
        disp_free_bitmap(labelsUpper[i]);
    }
}

int CBarView::tickCount() const
{
    const bargraph_s& g = element->bargraph;
    if (!g.ticks) return 0;
    return std::min<int>(g.tick_count, DISPLAY_MAX_TICKS);
}

int16_t CBarView::pixelOf(double p) const
{
    const int lo = horizontal ? barRect.left : barRect.top, hi = horizontal ? barRect.right : barRect.bottom;
    if (p != p) return int16_t(reverse ? hi : lo);
    if (p < lo) return int16_t(lo);
    if (p > hi) return int16_t(hi);
    return roundCoord(p);
}

void CBarView::makeTicks()
{
    GuiScreen* s = mpScreen;
    const int n = tickCount();
    if (!s || n == 0) return;
    const bargraph_s& g = element->bargraph;
    const GuiFont* tiny = Korva_getFont(FONT_TINY);
    const int zeroWidth = s->TextWidth("0", tiny, -1);
    for (int i = 0; i < n; ++i) {
        const tick_s& t = g.tick_list[i];
        const int16_t p = pixelOf(double(offset) + double(scale) * double(t.value));
        const int h = s->TextHeight(t.name, tiny);
        const int w = horizontal ? s->TextWidth(t.name, tiny, -1) : zeroWidth;
        if (horizontal)
            labelPos[i] = GuiPoint{int16_t(p - w / 2), int16_t(mOuter.top + int(titles.height))};
        else
            labelPos[i] = GuiPoint{int16_t(mOuter.right - w - 16), int16_t(p - h / 2)};
        tickPixel[i] = p;
        auto make = [&](const bargraph_deco_s& d) {
            return disp_text_bitmap(this, t.name, tiny, dispElem_Color(&d.TicksCol), dispElem_Color(&d.BorderBGCol),
                                    std::max(w, 1), std::max(h, 1));
        };
        labelsMiddle[i] = make(g.deco_middle);
        if (bands.hasLower) labelsLower[i] = make(g.deco_lower);
        if (bands.hasUpper) labelsUpper[i] = make(g.deco_upper);
    }
}

void CBarView::takeBandColours(uint32_t b)
{
    const bargraph_s& g = element->bargraph;
    const bargraph_deco_s& d = bands.deco(g.deco_lower, g.deco_middle, g.deco_upper, b);
    const auto col = b == BAND_STALE ? dispElem_GhostColor : dispElem_Color;
    borderFg = col(&d.BorderFGCol);
    borderBg = col(&d.BorderBGCol);
    titleFg = col(&d.TitleFGCol);
    titleBg = col(&d.TitleBGCol);
    barBg = col(&d.BarBGCol);
    ticksColour = col(&d.TicksCol);
    frameStyle = d.style;
}

int CBarView::updateDisp(int)
{
    if (!element || element->type != DISP_ELEM_BARGRAPH) return 0;
    bool changed = false;
    int result = 0;
    if (valueSource) {
        changed = bands.step(valueSource);
        const uint32_t band = bands.band;
        if (changed) {
            takeBandColours(band);
            if (band != BAND_STALE) {
                titles.select(band);
                labelsCurrent = band == BAND_LOWER ? labelsLower : band == BAND_UPPER ? labelsUpper : labelsMiddle;
                if (element->bargraph.style == BARGR_SOLID) {
                    const bargraph_s& g = element->bargraph;
                    zoneLower = zoneMiddle = zoneUpper =
                        dispElem_Color(&bands.deco(g.deco_lower, g.deco_middle, g.deco_upper, band).BarFGCol);
                }
            }
            SetColor(0, borderBg);
        }
        double v = 0;
        valueSource->getQuantData(v);
        barEnd = pixelOf(double(offset) + double(scale) * v);
        if ((forceRedraw || barEnd != previousBarEnd) && !changed) {
            if (mpScreen) mpScreen->Invalidate(barRect);
            result = 1;
        }
        forceRedraw = 0;
        previousBarEnd = barEnd;
    }
    if (followVisibility(parent)) {
        result = 2;
        changed = false;
    }
    if (changed) {
        if (mpScreen) mpScreen->Invalidate(mClient);
        result = 2;
    }
    return result;
}

int CBarView::forceUpdate()
{
    CDataView::forceUpdate();
    forceRedraw = 1;
    return 1;
}

void CBarView::fillSpan(int d1, int d2, uint32_t colour)
{
    if (d1 > d2) return;
    const int dir = reverse ? -1 : 1;
    const int start = horizontal ? (reverse ? barRect.right : barRect.left) : (reverse ? barRect.bottom : barRect.top);
    const int p1 = start + dir * d1, p2 = start + dir * d2;
    const int a = std::min(p1, p2), b = std::max(p1, p2);
    const GuiRect r = horizontal ? GuiRect(a, barRect.top, b, barRect.bottom) : GuiRect(barRect.left, a, barRect.right, b);
    mpScreen->Rectangle(this, r, GuiColor{colour, colour, GUI_COLOR_FILL}, 0);
}

void CBarView::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    disp_draw_background(this, frameStyle, borderFg, borderBg);
    if (bands.band == BAND_STALE) {
        disp_draw_stale(this, titles.ghost, titles.pos);
        s->EndDraw();
        return;
    }
    // Distances from the start edge along the bar's direction.
    const int start = horizontal ? (reverse ? barRect.right : barRect.left) : (reverse ? barRect.bottom : barRect.top);
    const int dir = reverse ? -1 : 1;
    const int len = (horizontal ? barRect.right - barRect.left : barRect.bottom - barRect.top);
    const int dL = (lowerPixel - start) * dir, dU = (upperPixel - start) * dir, de = (barEnd - start) * dir;
    if (dL < de && dU < de) {
        fillSpan(0, dL, zoneLower);
        fillSpan(dL + 1, dU, zoneMiddle);
        fillSpan(dU + 1, de, zoneUpper);
    } else if (dL < de) {
        fillSpan(0, dL, zoneLower);
        fillSpan(dL + 1, de, zoneMiddle);
    } else if (de > 0) {
        fillSpan(0, de, zoneLower);
    }
    if (de <= 0)
        fillSpan(0, len, barBg);
    else if (de < len)
        fillSpan(de + 1, len, barBg);

    const int n = tickCount();
    const GuiColor tick{ticksColour, borderBg, 0};
    for (int i = 0; i < n; ++i) {
        if (labelsCurrent[i]) s->Bitmap(this, labelPos[i], labelsCurrent[i], 0);
        if (horizontal)
            s->Line(this, tickPixel[i], barRect.top, tickPixel[i], barRect.bottom, tick, 2);
        else
            s->Line(this, barRect.left, tickPixel[i], barRect.right, tickPixel[i], tick, 2);
    }
    if (titles.current) s->Bitmap(this, titles.pos, titles.current, 0);
    s->EndDraw();
}
