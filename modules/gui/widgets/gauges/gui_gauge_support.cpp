// Shared pieces of the gauges: value clamping, needle rectangles, the
// background colour and the composite bitmap.
#include "gui/widgets/gauges/gui_gauge_support.h"

#include <cstdint>

#include "gui/draw/gui_screen.h"

namespace gui_gauges {

bool ClampedSet(long value, int32_t current, int32_t minimum, int32_t maximum, int32_t& out)
{
    if (value == current) return false;
    if (value < minimum && current == minimum) return false;
    if (value > maximum && current == maximum) return false;
    if (value < minimum) out = minimum;
    else if (value > maximum) out = maximum;
    else out = int32_t(value);
    return true;
}

bool ClampedIncrement(long delta, int32_t current, int32_t minimum, int32_t maximum, int32_t& out)
{
    // Any delta beyond 2^33 clamps to a limit all the same; cutting it there
    // keeps the sum clear of overflow.
    constexpr long long kFar = 1LL << 33;
    const long long sum = (long long)current + std::clamp<long long>(delta, -kFar, kFar);
    if (sum <= minimum) {
        out = minimum;
        return minimum != current;
    }
    if (sum >= maximum) {
        out = maximum;
        return maximum != current;
    }
    out = int32_t(sum);
    return true;
}

void RedrawStrip(GuiThing& gauge, int32_t& needlePlaced, GuiRect area)
{
    const GuiRect saved = gauge.mClip;
    area &= saved;
    if (area.IsEmpty() || !GuiThing::mpScreen) return;
    gauge.mClip = area;
    needlePlaced = 1;
    GuiThing::mpScreen->Invalidate(area);
    gauge.Draw();
    needlePlaced = 0;
    gauge.mClip = saved;
}

GuiPoint SaturatedPoint(long long x, long long y)
{
    return GuiPoint{int16_t(std::clamp<long long>(x, INT16_MIN, INT16_MAX)),
                    int16_t(std::clamp<long long>(y, INT16_MIN, INT16_MAX))};
}

GuiRect SpanOf(GuiPoint a, GuiPoint b)
{
    return GuiRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
}

GuiRect UnionOf(const GuiRect& a, const GuiRect& b)
{
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    GuiRect r = a;
    r |= b;
    return r;
}

uint32_t BackgroundOf(const GuiThing& gauge)
{
    if ((gauge.mStyle & GST_TRANSPARENT) && gauge.mpParent) return gauge.mpParent->mColor[0];
    return gauge.mColor[0];
}

GuiBitmap* EnsureComposite(GuiBitmap*& composite, const GuiBitmap* background)
{
    if (!composite && background && GuiThing::mpScreen)
        composite = GuiThing::mpScreen->CreateBitmap(background->width, background->height, 1);
    return composite;
}

void ReplaceBackground(GuiThing& gauge, GuiBitmap*& composite, const GuiBitmap* background)
{
    if (composite && GuiThing::mpScreen) GuiThing::mpScreen->DestroyBitmap(composite);
    composite = nullptr;
    if (!background) return;
    EnsureComposite(composite, background);
    const GuiRect& o = gauge.mOuter;
    if (o.Width() != background->width || o.Height() != background->height)
        gauge.Resize(GuiRect(o.left, o.top, o.left + background->width - 1, o.top + background->height - 1));
}

bool BeginComposite(GuiThing& gauge, GuiBitmap* composite)
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s || !composite || s->DrawingIntoBitmap()) return false;
    s->BeginDraw(&gauge, composite);
    // A composite the driver cannot draw into leaves the screen as target.
    return s->DrawingIntoBitmap();
}

}  // namespace gui_gauges
