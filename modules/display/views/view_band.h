// What the text box and the bar graph share: the limit bands (lower, middle
// and upper by the value against two limits with hysteresis, and the stale
// band while the value is not valid) and the title pre-rendered once per
// band in that band's colours.
#pragma once

#include <cstdint>

#include "display/values/cdata.h"
#include "gui/core/gui_thing.h"

enum : uint32_t {
    BAND_LOWER = 0,
    BAND_MIDDLE = 1,
    BAND_UPPER = 2,
    BAND_STALE = 3,
};

struct DispBands {
    uint32_t band = BAND_STALE;
    float lowerLimit = 0, upperLimit = 0, lowerHyst = 0, upperHyst = 0;
    uint8_t hasLower = 0, hasUpper = 0;
    uint8_t validShown = 0;   // the value was valid at the last tick

    // One tick on the source's value; true when the band or the validity
    // changed. A NaN value takes no limit step.
    bool step(CData* source);
    // The band's decoration of the element (the middle one for stale).
    template <class Deco>
    const Deco& deco(const Deco& lower, const Deco& middle, const Deco& upper, uint32_t b) const {
        return b == BAND_LOWER ? lower : b == BAND_UPPER ? upper : middle;
    }
};

// The title in the colours of each band: ghost (stale) and middle always,
// lower and upper when the element has those bands.
struct DispTitles {
    GuiBitmap* lower = nullptr;
    GuiBitmap* middle = nullptr;
    GuiBitmap* upper = nullptr;
    GuiBitmap* ghost = nullptr;
    GuiBitmap* current = nullptr;   // of the band shown; the stale band keeps it
    uint32_t width = 0, height = 0;
    GuiPoint pos{0, 0};

    // Centred on the top of the client rectangle; an empty title only takes
    // 16 pixels of height.
    template <class Deco>
    void make(GuiThing* owner, const char* title, const GuiRect& client, const Deco& lowerDeco,
              const Deco& middleDeco, const Deco& upperDeco, const DispBands& bands);
    void select(uint32_t band);
    void release();

private:
    void measure(const char* title, const GuiRect& client);
    GuiBitmap* render(GuiThing* owner, const char* title, const rgb_s& fg, const rgb_s& bg, bool ghost) const;
};

template <class Deco>
void DispTitles::make(GuiThing* owner, const char* title, const GuiRect& client, const Deco& lowerDeco,
                      const Deco& middleDeco, const Deco& upperDeco, const DispBands& bands)
{
    measure(title, client);
    if (!title || !title[0] || !width) return;
    ghost = render(owner, title, middleDeco.TitleFGCol, middleDeco.TitleBGCol, true);
    middle = render(owner, title, middleDeco.TitleFGCol, middleDeco.TitleBGCol, false);
    current = middle;
    if (bands.hasLower) lower = render(owner, title, lowerDeco.TitleFGCol, lowerDeco.TitleBGCol, false);
    if (bands.hasUpper) upper = render(owner, title, upperDeco.TitleFGCol, upperDeco.TitleBGCol, false);
}
