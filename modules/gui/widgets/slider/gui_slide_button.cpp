// GuiSlideButton: the thumb of a slider. It keeps the value, maps it to a
// place on the track and back, follows the pointer while dragged, and snaps
// to the scale's steps when the slider asks for it.
//
// Positions are fixed point in 64 bits: a range of millions times a track
// of hundreds of pixels would overflow 32. A scale or step of 0 means no
// snapping and a track too short for the thumb keeps the minimum, so no
// computation divides by 0.
#include <algorithm>
#include <cstdlib>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/slider/gui_slider.h"

namespace {

int64_t absolute(int64_t v) { return v < 0 ? -v : v; }

// The snap step for a range and a scale: about the scale, with the sign of
// the range; 0 when there is nothing to snap to.
int64_t snapStep(int64_t range, int64_t scale)
{
    if (scale == 0 || range == 0) return 0;
    const int64_t n = absolute(range) / scale;
    return n != 0 ? range / n : range;
}

}  // namespace

GuiSlideButton::GuiSlideButton(int min, int max, int scale, unsigned style)
    : GuiThing(0, uint16_t(style)),
      mDragging(0),
      mMin(min),
      mMax(max),
      mScale(scale),
      mCurrent(min),
      mLowLimit(0),
      mHighLimit(0),
      mDragX(0),
      mDragY(0)
{
    mStatus |= GS_SELECTABLE;
}

GuiSlideButton::~GuiSlideButton() = default;

bool GuiSlideButton::Vertical() const
{
    return mpParent && mpParent->mClient.Width() < mpParent->mClient.Height();
}

int64_t GuiSlideButton::Travel() const
{
    return std::max<int64_t>(0, int64_t(mHighLimit) - mLowLimit - (GUI_THUMB_LENGTH - 1));
}

int32_t GuiSlideButton::ValueAt(int leading) const
{
    const int64_t travel = Travel();
    if (travel == 0) return mMin;
    return int32_t(mMin + ((int64_t(leading) - mLowLimit) * (int64_t(mMax) - mMin)) / travel);
}

// ---- geometry -------------------------------------------------------------------------------

void GuiSlideButton::SetDragLimits()
{
    if (!mpParent) return;
    const GuiRect& c = mpParent->mClient;
    if (Vertical()) {
        const int h = c.Height();
        mLowLimit = c.top - 3 + (h >> 4);
        mHighLimit = c.bottom + 3 - (h >> 4);
    } else {
        const int w = c.Width();
        mLowLimit = c.left - 3 + (w >> 4);
        mHighLimit = c.right + 3 - (w >> 4);
    }
}

void GuiSlideButton::SetSize()
{
    if (!mpParent) return;
    SetDragLimits();
    const GuiRect& c = mpParent->mClient;
    const int len = GUI_THUMB_LENGTH - 1;
    if (Vertical())
        mOuter = GuiRect(c.left + c.Width() / 6 + 3, mLowLimit, c.right - 2, mLowLimit + len);
    else
        mOuter = GuiRect(mLowLimit, c.top + 2, mLowLimit + len, c.bottom - c.Height() / 6 - 2);
    mClient = mOuter;
    mClip = mOuter & mpParent->mClip;
    RecalcCurrentPos(0);
}

void GuiSlideButton::ParentShift(int, int) { SetSize(); }

void GuiSlideButton::RecalcCurrentPos(int redraw)
{
    int64_t f = (int64_t(mCurrent) - mMin) * 256;
    if (mMax != mMin) f /= int64_t(mMax) - mMin;
    const int64_t target = mLowLimit + ((Travel() * f) >> 8);
    const int64_t delta = target - Leading();
    // Far outside the track still ends at a limit; keep the step in range.
    const int step = int(std::clamp<int64_t>(delta, -65536, 65536));
    if (step == 0) return;
    if (Vertical()) UpdateVertPos(step, redraw);
    else UpdateHorzPos(step, redraw);
}

void GuiSlideButton::MoveBy(int delta, int redraw)
{
    const int lead = Leading();
    int to = lead + delta;
    if (delta <= 0) to = std::max(to, int(mLowLimit));
    else to = std::min(to, std::max(int(mLowLimit), int(mHighLimit) - (GUI_THUMB_LENGTH - 1)));
    delta = to - lead;
    if (delta == 0) return;
    const bool vertical = Vertical();
    const int dx = vertical ? 0 : delta, dy = vertical ? delta : 0;
    if (redraw) {
        GuiRect r = mOuter;
        r.Shift(dx, dy);
        Resize(r);
        if (!mpParent) return;
        GuiThing* repaint = (mpParent->mStyle & GST_TRANSPARENT) && mpParent->mpParent ? mpParent->mpParent : mpParent;
        repaint->Draw();
    } else {
        mOuter.Shift(dx, dy);
        mClient.Shift(dx, dy);
        mClip = mpParent ? mOuter & mpParent->mClip : mOuter;
    }
}

void GuiSlideButton::UpdateVertPos(int delta, int redraw) { MoveBy(delta, redraw); }
void GuiSlideButton::UpdateHorzPos(int delta, int redraw) { MoveBy(delta, redraw); }

// ---- value ------------------------------------------------------------------------------------

void GuiSlideButton::SetMinValue(int value)
{
    mMin = value;
    RecalcCurrentPos(0);
}

void GuiSlideButton::SetMaxValue(int value)
{
    mMax = value;
    RecalcCurrentPos(0);
}

void GuiSlideButton::SetCurrentValue(int value, int redraw)
{
    mCurrent = value;
    RecalcCurrentPos(redraw);
}

void GuiSlideButton::Reset(int min, int max, int current)
{
    mMin = min;
    mMax = max;
    mCurrent = current;
    RecalcCurrentPos(0);
}

void GuiSlideButton::UpdatePosition(GuiPoint point)
{
    const bool vertical = Vertical();
    const bool snap = mpParent && (mpParent->mStyle & GSS_SNAP) &&
                      snapStep(int64_t(mMax) - mMin, mScale) != 0;
    if (snap) {
        CheckSnap(point, vertical ? 1 : 0);
    } else {
        const int d = vertical ? point.y - mDragY : point.x - mDragX;
        if (d != 0) {
            MoveBy(d, 1);
            mCurrent = ValueAt(Leading());
        }
    }
    mDragX = point.x;
    mDragY = point.y;
}

void GuiSlideButton::CheckSnap(GuiPoint point, int vertical)
{
    const int64_t range = int64_t(mMax) - mMin;
    const int64_t step = snapStep(range, mScale);
    if (step == 0) return;
    // The thumb's leading edge with its centre under the pointer.
    const int lead = vertical ? point.y - (mOuter.top + mOuter.bottom) / 2 + mOuter.top
                              : point.x - (mOuter.left + mOuter.right) / 2 + mOuter.left;
    const int64_t travel = Travel();
    const int64_t v = travel ? ((int64_t(lead) - mLowLimit) * range) / travel : 0;
    int64_t snapped = ((v + mMin + absolute(step / 2)) / step) * step;
    snapped = std::clamp<int64_t>(snapped, std::min(mMin, mMax), std::max(mMin, mMax));
    if (snapped == mCurrent) return;
    mCurrent = int32_t(snapped);
    RecalcCurrentPos(1);
}

// ---- messages and drawing ----------------------------------------------------------------------

int GuiSlideButton::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE:
        GuiThing::Message(msg);
        mDragging = 0;
        return 0;
    case GM_SHOW:
        SetSize();
        GuiThing::Message(msg);
        mDragging = 0;
        return 0;
    case GM_POINTER_MOVE: {
        if (!mDragging) return 0;
        const int32_t old = mCurrent;
        UpdatePosition(msg.Point());
        if (mCurrent != old && mpParent) {
            GuiMessage changed(GM_SLIDER_VALUE, 0, mpParent, this);
            changed.SetWord(0, mCurrent);
            mpParent->Message(changed);
        }
        return 0;
    }
    case GM_POINTER_PRESS:
        if (mDragging) return 0;
        CapturePointer();
        SetDragLimits();
        mDragging = 1;
        mDragX = msg.Point().x;
        mDragY = msg.Point().y;
        return 0;
    case GM_POINTER_RELEASE:
        if (mDragging) {
            ReleasePointer();
            mDragging = 0;
        }
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}

void GuiSlideButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !(IsVisible() || s->DrawingIntoBitmap())) return;
    s->BeginDraw(this);
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    s->Rectangle(this, mOuter, GuiColor{0x000000, 0x000000, 0}, 1);
    auto across = [&](int at, uint32_t c) {
        if (Vertical()) s->Line(this, l + 1, at, r - 1, at, GuiColor{c, c, 0}, 1);
        else s->Line(this, at, t + 1, at, b - 1, GuiColor{c, c, 0}, 1);
    };
    const int lo = Vertical() ? t : l, hi = Vertical() ? b : r;
    across(lo + 1, 0x808080);
    across(hi - 1, 0x808080);
    across(lo + 2, 0xC0C0C0);
    across(hi - 2, 0xC0C0C0);
    across(lo + 3, 0xFFFFFF);   // the white ridge, two pixels wide
    across(lo + 4, 0xFFFFFF);
    s->EndDraw();
}
