// Pieces shared by the gauges (dials, scales, lights): clamping a value
// request to the limits, rectangles of needles, the colour behind a gauge,
// the off-screen composite of the bitmap gauges and per-state tables.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>

#include "gui/core/gui_thing.h"

namespace gui_gauges {

// SetValue of a dial or scale: false when nothing changes (the value is the
// current one, or lies beyond a limit the current value already sits on);
// else the value clamped to [minimum, maximum] (minimum tested first).
bool ClampedSet(long value, int32_t current, int32_t minimum, int32_t maximum, int32_t& out);

// IncrementValue: the sum clamped at or beyond a limit; false when the
// clamped limit is the current value already (nothing to store or draw).
bool ClampedIncrement(long delta, int32_t current, int32_t minimum, int32_t maximum, int32_t& out);

// SetValue and IncrementValue of a dial or scale (any class with the value,
// the limits and CalcClipAndDraw): a visible gauge asked to redraw repaints
// the strip its needle sweeps.
template <class Gauge>
void SetGaugeValue(Gauge& gauge, long value, int redraw)
{
    if (!ClampedSet(value, gauge.miValue, gauge.miMin, gauge.miMax, gauge.miValue)) return;
    if (gauge.IsVisible() && redraw) gauge.CalcClipAndDraw();
}
template <class Gauge>
long IncrementGaugeValue(Gauge& gauge, long delta, int redraw)
{
    if (!ClampedIncrement(delta, gauge.miValue, gauge.miMin, gauge.miMax, gauge.miValue)) return gauge.miValue;
    if (gauge.IsVisible() && redraw) gauge.CalcClipAndDraw();
    return gauge.miValue;
}

// Repaints the strip a needle swept: the area cut to the gauge's own clip
// (so the parent's frame and siblings stay), with the clip narrowed to it
// and the placed flag raised while Draw runs.
void RedrawStrip(GuiThing& gauge, int32_t& needlePlaced, GuiRect area);

// A limit given as long, saturated to the 32 bits the gauges keep.
inline int32_t Saturate32(long v) { return int32_t(std::clamp<long>(v, INT32_MIN, INT32_MAX)); }

// A point with both coordinates saturated to the 16 bits of GuiPoint, so a
// far-out needle end stays far out instead of wrapping round.
GuiPoint SaturatedPoint(long long x, long long y);

// The rectangle spanned by two points, left <= right and top <= bottom.
GuiRect SpanOf(GuiPoint a, GuiPoint b);

// Union that ignores an empty side; empty when both are.
GuiRect UnionOf(const GuiRect& a, const GuiRect& b);

// An empty rectangle.
inline GuiRect EmptyRect() { return GuiRect(0, 0, -1, -1); }

// The fill behind a gauge: the parent's colour 0 with GST_TRANSPARENT and
// a parent, else the gauge's own colour 0.
uint32_t BackgroundOf(const GuiThing& gauge);

// The composite of a bitmap gauge: made on first use with the background's
// size (transparent where nothing is drawn); null when there is no
// background or memory runs out.
GuiBitmap* EnsureComposite(GuiBitmap*& composite, const GuiBitmap* background);

// A new background: drops the composite, makes one of the background's size
// and resizes the gauge to it when its outer size differs.
void ReplaceBackground(GuiThing& gauge, GuiBitmap*& composite, const GuiBitmap* background);

// Opens drawing into the composite; false (and nothing opened) when there
// is no composite or the screen already draws into a bitmap, so nothing
// meant for the composite can land elsewhere.
bool BeginComposite(GuiThing& gauge, GuiBitmap* composite);

// Reallocates a per-state table to `count` entries: the first entries kept,
// the rest zero. False (the table unchanged) when memory runs out.
template <class Entry>
bool ResizeTable(Entry*& table, unsigned oldCount, unsigned count)
{
    Entry* fresh = new (std::nothrow) Entry[count]();
    if (!fresh) return false;
    if (table) std::copy_n(table, std::min(oldCount, count), fresh);
    delete[] table;
    table = fresh;
    return true;
}

}  // namespace gui_gauges
