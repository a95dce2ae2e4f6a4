// GuiSlider: the track, its scale and the hand-over of values between the
// application, the thumb and the parent.
#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/slider/gui_slider.h"

GuiSlider::GuiSlider(const GuiRect& rect, int min, int max, unsigned id, unsigned style, int scale)
    : GuiThing(rect, uint16_t(id), uint16_t(style)), mpThumb(nullptr), mMin(min), mMax(max), mScale(scale)
{
    mType = GT_SLIDER;
    mStatus |= GS_ACTIVE | GS_SIZABLE;
    mColor[0] = 0xC0C0C0;
    mColor[2] = 0x000000;
    mSignalMask = 1u << GUI_SIG_SLIDER_VALUE;
    InitClient();
}

GuiSlider::~GuiSlider() = default;   // the thumb is a child

GuiSlideButton* GuiSlider::Thumb()
{
    if (!mpThumb) {
        mpThumb = new GuiSlideButton(mMin, mMax, mScale, mStyle);
        Add(mpThumb, 1);
    }
    return mpThumb;
}

void GuiSlider::Repaint()
{
    if (!IsVisible()) return;
    if (mpScreen) mpScreen->Invalidate(mClient);
    Draw();
}

void GuiSlider::SetMinValue(int value)
{
    mMin = value;
    if (mpThumb) mpThumb->SetMinValue(value);
    Repaint();
}

void GuiSlider::SetMaxValue(int value)
{
    mMax = value;
    if (mpThumb) mpThumb->SetMaxValue(value);
    Repaint();
}

void GuiSlider::Reset(int min, int max, int current)
{
    mMin = min;
    mMax = max;
    if (mpThumb) mpThumb->Reset(min, max, current);
    Repaint();
}

void GuiSlider::SetScale(int scale) { mScale = scale; }
int GuiSlider::GetMinValue() { return mMin; }
int GuiSlider::GetMaxValue() { return mMax; }
int GuiSlider::GetScale() { return mScale; }

void GuiSlider::SetCurrentValue(int value, int redraw) { Thumb()->SetCurrentValue(value, redraw); }
int GuiSlider::GetCurrentValue() { return Thumb()->mCurrent; }

void GuiSlider::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    if (mpThumb) mpThumb->ParentShift(0, 0);
}

int GuiSlider::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        Thumb();
        return GuiThing::Message(msg);
    case GM_POINTER_PRESS: {
        if (!mpThumb) return 0;
        // The thumb starts a drag from its own corner, then follows the
        // pointer there: it jumps to the press along the track.
        GuiMessage start = msg;
        start.target = mpThumb;
        start.SetPoint(GuiPoint{mpThumb->mOuter.left, mpThumb->mOuter.top});
        mpThumb->Message(start);
        GuiMessage move = msg;
        move.type = GM_POINTER_MOVE;
        move.target = mpThumb;
        mpThumb->Message(move);
        return 0;
    }
    case GM_SLIDER_VALUE:
        if (mId != 0 && (mSignalMask & (1u << GUI_SIG_SLIDER_VALUE)) && mpParent) {
            GuiMessage sig(GuiSignalType(mId, GUI_SIG_SLIDER_VALUE), int16_t(mId), mpParent, this);
            sig.SetWord(0, msg.Word(0));
            mpParent->Message(sig);
        }
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}

void GuiSlider::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !(IsVisible() || s->DrawingIntoBitmap())) return;
    s->BeginDraw(this);
    StandardBorder(mColor[0]);
    if (mScale != GUI_SLIDER_NO_SCALE) DrawScale();
    DrawChildren();
    s->EndDraw();
}

void GuiSlider::DrawScale()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const GuiRect& c = mClient;
    const bool vertical = IsVertical();
    // Coordinates along the track, then across it for the ticks.
    const int len = vertical ? c.Height() : c.Width();
    const int start = vertical ? c.top : c.left;
    const int end = vertical ? c.bottom : c.right;
    const int64_t range = int64_t(mMax) - mMin;
    int64_t n = mScale != 0 ? (range < 0 ? -range : range) / mScale + 1 : 0;
    // Positions are in eighths of a pixel; more ticks than eighths would all
    // fall on one place (and a tiny scale on a wide range would never end).
    const int64_t span = int64_t(len) * 8 - (len & ~1);
    if (n - 1 > span) n = span + 1;
    int64_t p = int64_t(start) * 8 + (len >> 1);
    const int first = int(p >> 3);
    int last = end - (len >> 4);
    auto line = [&](int a1, int b1, int a2, int b2, uint32_t colour) {
        const GuiColor col{colour, colour, 0};
        if (vertical) s->Line(this, b1, a1, b2, a2, col, 1);
        else s->Line(this, a1, b1, a2, b2, col, 1);
    };
    const int tickFrom = vertical ? c.left : c.bottom - c.Height() / 6;
    const int tickTo = vertical ? c.left + c.Width() / 6 : c.bottom;
    if (n >= 2) {
        const int64_t step = span / (n - 1);
        for (int64_t i = 0; i < n; ++i, p += step) {
            last = int(p >> 3);
            line(last, tickFrom, last, tickTo, mColor[2]);
        }
    }
    // The groove runs along the middle of what the ticks leave free.
    const int mid = vertical ? ((c.left + c.Width() / 6) + c.right) >> 1 : ((c.bottom - c.Height() / 6) + c.top) >> 1;
    line(first - 3, mid - 1, last + 3, mid - 1, 0x808080);
    line(first - 3, mid, last + 3, mid, 0x000000);
    line(first - 3, mid + 1, last + 3, mid + 1, 0xFFFFFF);
}
