// GuiScale: construction, value and limit changes, the value-to-track
// mapping, the drawn needles and the partial redraw after a change.
#include "gui/widgets/gauges/gui_scale.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"

using namespace gui_gauges;

namespace {
constexpr uint32_t kBlack = 0x000000;
}

GuiScale::GuiScale(const GuiRect& rect, long min, long max, unsigned int style) : GuiThing(rect, 0, uint16_t(style))
{
    InitScale(min, max);
}

GuiScale::GuiScale(int x, int y, long min, long max, unsigned int style)
    : GuiThing(GuiRect(x, y, x + 100, y + 150), 0, uint16_t(style))
{
    InitScale(min, max);
}

GuiScale::~GuiScale() = default;

void GuiScale::InitScale(long min, long max)
{
    mStatus |= GS_VIEWPORT_OWNER;
    miMin = Saturate32(min);
    miMax = Saturate32(max);
    miValue = miMin;
    mColor[0] = 0xC0C0C0;
    if ((mStyle & GST_FRAME_MASK) == 0) mStyle |= GST_FRAME_NONE;
    InitClient();
    ValToPoint(miValue, mNeedlePoint);
}

// ---- value and limits ------------------------------------------------------------------

void GuiScale::SetValue(long value, int redraw) { SetGaugeValue(*this, value, redraw); }

long GuiScale::IncrementValue(long delta, int redraw) { return IncrementGaugeValue(*this, delta, redraw); }

void GuiScale::SetMinValue(long value, int redraw)
{
    if (Saturate32(value) == miMin) return;
    miMin = Saturate32(value);
    if (IsVisible() && redraw) CalcClipAndDraw();
}

void GuiScale::SetMaxValue(long value, int redraw)
{
    if (Saturate32(value) == miMax) return;
    miMax = Saturate32(value);
    if (IsVisible() && redraw) CalcClipAndDraw();
}

// ---- geometry ----------------------------------------------------------------------------

void GuiScale::SetTravelPoints()
{
    const GuiRect& c = mClient;
    if (Vertical()) {
        const int h = c.Height();
        miTrackStart = c.bottom - (h >> 4);
        miTrackEnd = c.top + (h >> 4);
    } else {
        const int w = c.Width();
        miTrackStart = c.left + (w >> 4);
        miTrackEnd = c.right - (w >> 4);
    }
}

void GuiScale::ValToPoint(long value, GuiPoint& point)
{
    SetTravelPoints();
    // One step fewer than the range, as the track was always laid out; a
    // range of one value or none still gets a step of its own.
    const long long n = std::max(1LL, (long long)miMax - miMin - 1);
    const long long offset = std::clamp<long long>(value, INT32_MIN, INT32_MAX) - miMin;
    const bool minLow = mStyle & GSS_MIN_LOW;
    if (Vertical()) {
        const long long step = ((long long)miTrackStart - miTrackEnd) * 256 / n;
        const long long d = (offset * step) >> 8;
        point = SaturatedPoint(0, minLow ? miTrackStart - d : miTrackEnd + d);
    } else {
        const long long step = ((long long)miTrackEnd - miTrackStart) * 256 / n;
        const long long d = (offset * step) >> 8;
        point = SaturatedPoint(minLow ? miTrackStart + d : miTrackEnd - d, 0);
    }
}

int GuiScale::NeedleBase() const
{
    const int across = Across();
    if (Vertical()) return (mStyle & GSS_FROM_LEFT_TOP) ? mClient.left + (across >> 2) : mClient.right - (across >> 2);
    return (mStyle & GSS_FROM_LEFT_TOP) ? mClient.top + (across >> 2) : mClient.bottom - (across >> 2);
}

int GuiScale::NeedleLength() const
{
    const int across = Across();
    return (across >> 1) + (across >> 2) - (across >> 3);   // five eighths
}

void GuiScale::PlaceNeedle()
{
    if (!mbNeedlePlaced) ValToPoint(miValue, mNeedlePoint);
}

void GuiScale::CalcNeedleRect(const GuiPoint& point, GuiRect& rect)
{
    const int b = NeedleBase(), far = b + Toward() * NeedleLength();
    const int at = Vertical() ? point.y : point.x;
    int half;
    if (mStyle & GSS_ARROW_NEEDLE) half = (Along() >> 4) + 2;
    else if (mStyle & (GSS_THIN_NEEDLE | GSS_THICK_NEEDLE)) half = 3;
    else {
        rect = EmptyRect();
        return;
    }
    const int lo = std::min(b, far), hi = std::max(b, far);
    rect = Vertical() ? GuiRect(lo, at - half, hi, at + half) : GuiRect(at - half, lo, at + half, hi);
}

// ---- drawing --------------------------------------------------------------------------------

void GuiScale::CrossLine(int at, int from, int to, uint32_t colour)
{
    const GuiColor c{colour, colour, 0};
    if (Vertical()) mpScreen->Line(this, from, at, to, at, c, 1);
    else mpScreen->Line(this, at, from, at, to, c, 1);
}

void GuiScale::DrawNeedle()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    GuiPoint p = mNeedlePoint;
    if (!mbNeedlePlaced) ValToPoint(miValue, p);
    const int at = Vertical() ? p.y : p.x;
    const int b = NeedleBase(), dir = Toward(), across = Across(), along = Along();
    if (mStyle & GSS_ARROW_NEEDLE) {
        const int apex = b + dir * (across >> 3);
        const int c = b + dir * ((across >> 1) + (across >> 3));
        const int a1 = at - (along >> 4) + (along >> 3), a2 = at - (along >> 4);
        CrossLine(at, b, apex, kBlack);
        auto pt = [&](int alongPos, int acrossPos) {
            return Vertical() ? GuiPoint{int16_t(acrossPos), int16_t(alongPos)}
                              : GuiPoint{int16_t(alongPos), int16_t(acrossPos)};
        };
        GuiPoint arrow[4] = {pt(a1, c), pt(a2, c), pt(at, apex), pt(a1, c)};
        s->Polygon(this, arrow, 4, GuiColor{kBlack, mNeedleColor, GUI_COLOR_FILL}, 1);
    } else if (mStyle & (GSS_THIN_NEEDLE | GSS_THICK_NEEDLE)) {
        const int far = b + dir * NeedleLength();
        CrossLine(at, b, far, mNeedleColor);
        if (mStyle & GSS_THICK_NEEDLE) {
            CrossLine(at - 1, b, far, mNeedleColor);
            CrossLine(at + 1, b, far, mNeedleColor);
            // The outer two lines start a little further in: a rounded end.
            const int inset = b + dir * (across >> 4);
            CrossLine(at - 2, inset, far, mNeedleColor);
            CrossLine(at + 2, inset, far, mNeedleColor);
        }
    }
}

int GuiScale::CalcClipAndDraw()
{
    GuiRect before;
    CalcNeedleRect(mNeedlePoint, before);
    GuiPoint p;
    ValToPoint(miValue, p);
    if (p == mNeedlePoint) return 1;
    GuiRect after;
    CalcNeedleRect(p, after);
    mNeedlePoint = p;

    RedrawStrip(*this, mbNeedlePlaced, UnionOf(before, after));
    return 0;
}
