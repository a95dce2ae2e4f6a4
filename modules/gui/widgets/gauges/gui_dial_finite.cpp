// GuiFiniteDial: the needle sweeps clockwise from a start angle (the
// minimum) to an end angle (the maximum).
#include "gui/widgets/gauges/gui_dial.h"

#include <algorithm>

#include "gui/widgets/gauges/gui_gauge_support.h"
#include "gui/widgets/gauges/gui_gauge_ticks.h"

using namespace gui_gauges;

GuiFiniteDial::GuiFiniteDial(const GuiRect& rect, int startAngle, int endAngle, long min, long max,
                             unsigned int style)
    : GuiDial(rect, style)
{
    mType = GT_FINITE_DIAL;
    SetLimits(startAngle, endAngle, min, max);
}

GuiFiniteDial::GuiFiniteDial(int x, int y, int startAngle, int endAngle, long min, long max, unsigned int style)
    : GuiDial(x, y, style)
{
    mType = GT_FINITE_DIAL;
    SetLimits(startAngle, endAngle, min, max);
}

GuiFiniteDial::~GuiFiniteDial() = default;

void GuiFiniteDial::SetLimits(int startAngle, int endAngle, long min, long max)
{
    miMin = Saturate32(min);
    miMax = Saturate32(max);
    miValue = miMin;
    miStartAngle = startAngle;
    // Clockwise sweep: the end lies at or below the start.
    miEndAngle = endAngle > startAngle ? endAngle - 360 : endAngle;
    CalcNeedlePos();
}

int GuiFiniteDial::ValToAngle(long value)
{
    if (value <= miMin) return miStartAngle;
    if (value >= miMax) return miEndAngle;
    // Only reached with min < value < max, so the divisor is at least 1.
    const long long step = ((long long)miStartAngle - miEndAngle) * 256 / ((long long)miMax - miMin - 1);
    return int(miStartAngle - (((value - (long long)miMin) * step) >> 8));
}

void GuiFiniteDial::CalcNeedlePos()
{
    PlaceNeedle(ValToAngle(miValue), ClientCentre(), std::min(HalfWidth(), HalfHeight()));
}

void GuiFiniteDial::DrawTicMarks()
{
    if (miTickInterval <= 0 || miMin > miMax) return;
    GuiPoint outer = mCor, inner = mCor;
    // Ticks at minimum + k x interval up to the maximum, one per angle.
    auto value = [&](int64_t k) { return long(miMin + k * miTickInterval); };
    ForEachPlacedTick(
        0, ((long long)miMax - miMin) / miTickInterval, [&](int64_t k) { return ValToAngle(value(k)); },
        [&](int64_t k) { DrawTick(value(k), outer, inner, 1); });
}

void GuiFiniteDial::Draw() { DrawFace(true); }
