// Band steps with hysteresis and the per-band titles.
#include "display/views/view_band.h"

#include "display/fonts/korva_fonts.h"
#include "display/views/cdataview.h"
#include "display/views/view_paint.h"
#include "gui/draw/gui_screen.h"

bool DispBands::step(CData* source)
{
    if (!source) return false;
    bool changed = false;
    const bool valid = source->getMeasUpdateState();
    double v = 0;
    source->getQuantData(v);
    if (validShown && !valid) {
        band = BAND_STALE;
        validShown = 0;
        changed = true;
    } else if (!validShown && valid) {
        band = BAND_MIDDLE;
        validShown = 1;
        changed = true;
    }
    // The sums and differences in single precision, as the limits are.
    if (band == BAND_LOWER && v >= double(lowerLimit + lowerHyst)) {
        band = BAND_MIDDLE;
        changed = true;
    }
    if (hasUpper && band == BAND_MIDDLE && v > double(upperLimit)) {
        band = BAND_UPPER;
        changed = true;
    }
    if (band == BAND_UPPER && v <= double(upperLimit - upperHyst)) {
        band = BAND_MIDDLE;
        changed = true;
    }
    if (hasLower && band == BAND_MIDDLE && v < double(lowerLimit)) {
        band = BAND_LOWER;
        changed = true;
    }
    return changed;
}

void DispTitles::measure(const char* title, const GuiRect& c)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!title || !title[0] || !s) {
        height = 16;
        return;
    }
    const GuiFont* tiny = Korva_getFont(FONT_TINY);
    width = uint32_t(s->TextWidth(title, tiny, -1));
    height = uint32_t(s->TextHeight(title, tiny));
    pos = GuiPoint{int16_t(c.left + (c.right - c.left) / 2 - int(width) / 2), c.top};
}

GuiBitmap* DispTitles::render(GuiThing* owner, const char* title, const rgb_s& fg, const rgb_s& bg, bool ghostly) const
{
    const auto col = ghostly ? CDataView::dispElem_GhostColor : CDataView::dispElem_Color;
    return disp_text_bitmap(owner, title, Korva_getFont(FONT_TINY), col(&fg), col(&bg), int(width), int(height));
}

void DispTitles::select(uint32_t band)
{
    if (band == BAND_LOWER) current = lower;
    else if (band == BAND_MIDDLE) current = middle;
    else if (band == BAND_UPPER) current = upper;
}

void DispTitles::release()
{
    for (GuiBitmap** b : {&lower, &middle, &upper, &ghost}) disp_free_bitmap(*b);
    current = nullptr;
}
