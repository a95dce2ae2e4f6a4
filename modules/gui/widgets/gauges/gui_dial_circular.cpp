// GuiCircularDial: an endless dial whose needle wraps every "values per
// turn" values, like a clock hand.
#include "gui/widgets/gauges/gui_dial.h"

#include <algorithm>

#include "gui/widgets/gauges/gui_gauge_support.h"
#include "gui/widgets/gauges/gui_gauge_ticks.h"

using namespace gui_gauges;

GuiCircularDial::GuiCircularDial(const GuiRect& rect, int originAngle, long valuesPerTurn, long min, long max,
                                 unsigned int style)
    : GuiDial(rect, style)
{
    mType = GT_CIRCULAR_DIAL;
    SetLimits(originAngle, valuesPerTurn, min, max);
}

GuiCircularDial::GuiCircularDial(int x, int y, int originAngle, long valuesPerTurn, long min, long max,
                                 unsigned int style)
    : GuiDial(x, y, style)
{
    mType = GT_CIRCULAR_DIAL;
    SetLimits(originAngle, valuesPerTurn, min, max);
}

GuiCircularDial::~GuiCircularDial() = default;

void GuiCircularDial::SetLimits(int originAngle, long valuesPerTurn, long min, long max)
{
    miOriginAngle = originAngle;
    miValuesPerTurn = int32_t(std::clamp<long>(valuesPerTurn, 2, INT32_MAX));
    miMin = Saturate32(min);
    miMax = Saturate32(max);
    miValue = miMin;
    CalcNeedlePos();
}

long long GuiCircularDial::Period() const { return std::max<long long>(miValuesPerTurn, 2); }

int GuiCircularDial::ValToAngle(long value)
{
    // The step per value spreads 360 degrees (x 256) over period - 1 steps.
    const long long step = 92160 / (Period() - 1);
    const long long offset = std::clamp<long long>(value, INT32_MIN, INT32_MAX) - miMin;
    return int(miOriginAngle - ((offset * step) >> 8));
}

int GuiCircularDial::CurrentAngle()
{
    long long v = miValue;
    const long long period = Period();
    if (v >= miMin + period) v = miMin + (v - miMin) % period;
    return ValToAngle(long(v));
}

void GuiCircularDial::CalcNeedlePos()
{
    PlaceNeedle(CurrentAngle(), ClientCentre(), std::min(HalfWidth(), HalfHeight()));
}

void GuiCircularDial::DrawTicMarks()
{
    if (miTickInterval <= 0) return;
    GuiPoint outer = mCor, inner = mCor;
    DrawTick(miMin, outer, inner, 3);
    // Ticks past the maximum would repeat the last one: the walk ends there.
    // The others, at minimum + k x interval, are drawn one per angle.
    const long long last = std::min<long long>(miMax, miMin + Period());
    if (last < miMin) return;
    auto value = [&](int64_t k) { return long(miMin + k * miTickInterval); };
    ForEachPlacedTick(
        1, (last - miMin) / miTickInterval, [&](int64_t k) { return ValToAngle(value(k)); },
        [&](int64_t k) { DrawTick(value(k), outer, inner, 1); });
}

void GuiCircularDial::Draw() { DrawFace((mStyle & GST_FRAME_NONE) == 0); }
