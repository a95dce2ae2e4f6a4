// CBarView: the view of a BarGraph element. A framed box with an optional
// title and a bar that grows from one edge in one of four directions between
// the element's min and max, with optional tick lines and labels. Like the
// text box it has a lower, middle and upper band by the value against two
// limits with hysteresis, and a stale look while its value is not valid. A
// solid bar takes the bar colour of the current band; a stacked bar is drawn
// in three fixed zones (up to the lower limit, up to the upper, beyond).
#pragma once

#include <cstdint>

#include "display/views/cdataview.h"
#include "display/views/view_band.h"

class CBarView : public CDataView {
public:
    CBarView(GuiRect area, display_elem_s* elem, GuiWindow* parent, unsigned int style);
    ~CBarView() override;

    void Draw() override;
    int updateDisp(int) override;
    int forceUpdate() override;

    // The pixel of a position along the bar's axis: offset + scale x v,
    // rounded and clamped into the bar; a NaN gives the start edge.
    int16_t pixelOf(double v) const;

    int16_t barEnd = 0, previousBarEnd = 0;
    uint32_t forceRedraw = 1;
    GuiRect barRect{0, 0, -1, -1};
    GuiPoint labelPos[DISPLAY_MAX_TICKS] = {};
    int16_t tickPixel[DISPLAY_MAX_TICKS] = {};
    GuiBitmap* labelsLower[DISPLAY_MAX_TICKS] = {};
    GuiBitmap* labelsMiddle[DISPLAY_MAX_TICKS] = {};
    GuiBitmap* labelsUpper[DISPLAY_MAX_TICKS] = {};
    GuiBitmap** labelsCurrent = labelsMiddle;
    GuiWindow* parent = nullptr;
    const char* title = "";
    DispTitles titles;
    uint32_t borderFg = 0, borderBg = 0, titleFg = 0, titleBg = 0;
    uint32_t zoneLower = 0, zoneMiddle = 0, zoneUpper = 0, barBg = 0, ticksColour = 0;
    DispBands bands;   // band, limits, hysteresis, validity shown
    uint32_t frameStyle = 0;
    float min = 0, max = 0, scale = 0, offset = 0;
    uint8_t reverse = 0, horizontal = 0;
    int16_t lowerPixel = 0, upperPixel = 0;

private:
    void takeBandColours(uint32_t b);
    void makeTicks();
    int tickCount() const;
    // Fills the part of the bar from distance d1 to d2 from its start edge.
    void fillSpan(int d1, int d2, uint32_t colour);
};
