// GuiLinearScale: a grooved track with ticks and a drawn needle.
#include "gui/widgets/gauges/gui_scale.h"

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"
#include "gui/widgets/gauges/gui_gauge_ticks.h"

using namespace gui_gauges;

GuiLinearScale::GuiLinearScale(const GuiRect& rect, long min, long max, long tickInterval, unsigned int style)
    : GuiScale(rect, min, max, style), miTickInterval(Saturate32(tickInterval))
{
    mType = GT_LINEAR_SCALE;
}

GuiLinearScale::GuiLinearScale(int x, int y, long min, long max, long tickInterval, unsigned int style)
    : GuiScale(x, y, min, max, style), miTickInterval(Saturate32(tickInterval))
{
    mType = GT_LINEAR_SCALE;
}

GuiLinearScale::~GuiLinearScale() = default;

void GuiLinearScale::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    PlaceNeedle();
    DrawScale();
    if (mStyle & GSS_TICKS) DrawTicMarks();
    DrawChildren();
    DrawNeedle();
    s->EndDraw();
}

void GuiLinearScale::DrawScale()
{
    if (!mpScreen) return;
    StandardBorder(BackgroundOf(*this));
    SetTravelPoints();
    // The groove: shade, black and white lines beside each other.
    const bool second = mStyle & GSS_FROM_LEFT_TOP;
    const int across = Across();
    const int first = (Vertical() ? mClient.left : mClient.top) + (second ? across >> 1 : 0) - 1 + (across >> 2);
    const uint32_t colours[3] = {0x808080, 0x000000, 0xFFFFFF};
    for (int i = 0; i < 3; ++i) {
        const GuiColor c{colours[i], colours[i], 0};
        if (Vertical()) mpScreen->Line(this, first + i, miTrackStart, first + i, miTrackEnd, c, 1);
        else mpScreen->Line(this, miTrackStart, first + i, miTrackEnd, first + i, c, 1);
    }
}

void GuiLinearScale::DrawTicMarks()
{
    if (miTickInterval == 0 || !mpScreen) return;
    const long long count = ((long long)miMax - miMin) / miTickInterval + 1;
    const int edge = Vertical() ? ((mStyle & GSS_FROM_LEFT_TOP) ? mClient.left : mClient.right)
                                : ((mStyle & GSS_FROM_LEFT_TOP) ? mClient.top : mClient.bottom);
    const int to = edge + Toward() * (Across() >> 2);
    // One tick per pixel along the track.
    auto along = [&](int64_t k) {
        GuiPoint p;
        ValToPoint(long(miMin + k * miTickInterval), p);
        return Vertical() ? p.y : p.x;
    };
    ForEachPlacedTick(0, count - 1, along, [&](int64_t k) { CrossLine(along(k), edge, to, 0x000000); });
}
