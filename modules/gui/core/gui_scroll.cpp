// Scroll bars: the common range handling, the vertical and horizontal bar
// (one body for both, the axis picked by a flag) and the thumb.
#include "gui/core/gui_scroll.h"

#include <algorithm>
#include <cstdint>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_window.h"
#include "gui/draw/gui_screen.h"

namespace {

constexpr int kArrow = 16;             // arrow squares and the bar's width
constexpr int kMinThumb = 16;
constexpr uint16_t kArrowStyle = 0x801A;   // enabled, bevel in, signal on press, auto-repeat
constexpr GuiScrollInfo kDefaultInfo{0, 1, 0, 1, 1};

// Extent of a rectangle along the bar, and its start.
int lengthOf(const GuiRect& r, bool vertical) { return vertical ? r.bottom - r.top + 1 : r.right - r.left + 1; }
int startOf(const GuiRect& r, bool vertical) { return vertical ? r.top : r.left; }

GuiBitmapButton* makeArrow(const GuiRect& r, GuiBitmap* bitmap, unsigned short id)
{
    auto* b = new GuiBitmapButton(r, bitmap, id, kArrowStyle);
    b->mStatus |= GS_NONCLIENT;
    b->mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
    return b;
}

}  // namespace

// ---- GuiScroll -----------------------------------------------------------------------------

GuiScroll::GuiScroll()
    : GuiThing(GuiRect(0, 0, kArrow - 1, kArrow - 1), 0, GST_FRAME_NONE),
      mInfo(kDefaultInfo),
      mpArrow1(nullptr),
      mpArrow2(nullptr),
      mpThumb(nullptr)
{
    mStatus |= GS_NONCLIENT | GS_SIZABLE;
    mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
}

GuiScroll::GuiScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id)
    : GuiThing(rect, uint16_t(id), GST_FRAME_NONE),
      mInfo(info ? *info : kDefaultInfo),
      mpArrow1(nullptr),
      mpArrow2(nullptr),
      mpThumb(nullptr)
{
    mStatus |= GS_SIZABLE;
    mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
}

GuiScroll::~GuiScroll() = default;

void GuiScroll::Reset()
{
    mInfo = GuiScrollInfo{0, 0, 0, 1, 0};
    ReadParentScrollInfo();
    SetScrollButtonPos();
}

void GuiScroll::Reset(GuiScrollInfo* info)
{
    if (info) mInfo = *info;
    SetScrollButtonPos();
}

void GuiScroll::CheckScrollLimits()
{
    if (mInfo.current < mInfo.minimum) mInfo.current = mInfo.minimum;
    if (mInfo.current > mInfo.maximum) mInfo.current = std::max(mInfo.maximum, mInfo.minimum);
}

void GuiScroll::SetScrollButtonPos() {}
void GuiScroll::ReadParentScrollInfo() {}

void GuiScroll::Notify(int32_t old, bool vertical)
{
    if (!mpParent) return;
    if (IsNonClient()) {
        // A window's own bar: the window moves its children by old - new.
        GuiMessage m(vertical ? GM_VSCROLL : GM_HSCROLL, old, mpParent, this);
        m.SetWord(0, mInfo.current);
        mpParent->Message(m);
    } else if (mId != 0 && mpMessageQueue) {
        GuiMessage m(GuiSignalType(mId, GUI_SIG_CHANGED), mId, mpParent, this);
        m.SetWord(0, mInfo.current);
        mpMessageQueue->Push(&m);
    }
}

void GuiScroll::PlaceThumb(bool vertical)
{
    if (!mpThumb) return;
    const int64_t range = int64_t(mInfo.maximum) - mInfo.minimum;
    const int track = lengthOf(mClient, vertical);
    GuiRect r = mClient;
    if (range >= mInfo.visible && range >= 0) {
        // The horizontal thumb leaves one visible unit out of its share.
        const int64_t shown = vertical ? mInfo.visible : int64_t(mInfo.visible) - 1;
        int64_t len = std::max<int64_t>(shown * track / (range + 1), kMinThumb);
        const int64_t span = range + 1 - mInfo.visible;
        int64_t at = startOf(mClient, vertical);
        if (span > 0) at += (int64_t(mInfo.current) - mInfo.minimum) * (track - len) / span;
        if (vertical) {
            r.top = int16_t(at);
            r.bottom = int16_t(at + len);
        } else {
            r.left = int16_t(at);
            r.right = int16_t(at + len);
        }
    }
    mpThumb->Resize(r);
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiScroll::ReadWindowInfo(bool vertical)
{
    if (!mpParent || !mpParent->IsWindow()) return;
    auto* w = static_cast<GuiWindow*>(mpParent);
    if (vertical) w->GetVScrollInfo(&mInfo);
    else w->GetHScrollInfo(&mInfo);
    // The view reaching past the end is pulled back, and the contents follow.
    if (mInfo.current != mInfo.minimum && int64_t(mInfo.current) - 1 + mInfo.visible > mInfo.maximum) {
        const int32_t old = mInfo.current;
        mInfo.current = std::max(mInfo.maximum - mInfo.visible + 1, mInfo.minimum);
        if (mInfo.current != old) Notify(old, vertical);
    }
}

void GuiScroll::DrawBar()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    s->BitmapFill(this, mClient, &gbMixPatternBitmap);
    DrawChildren();
    s->EndDraw();
}

int GuiScroll::ScrollMessage(const GuiMessage& msg, bool vertical)
{
    const int32_t old = mInfo.current;
    auto redraw = [&] {
        SetScrollButtonPos();
        if (IsVisible() && mpScreen) {
            mpScreen->Invalidate(mClip);
            Draw();
        }
    };
    if (msg.type == (vertical ? GM_VSCROLL : GM_HSCROLL)) {
        // The thumb was dragged: data = its length, payload = its start.
        const int track = lengthOf(mClient, vertical);
        const int64_t d = int64_t(msg.Word(0)) - startOf(mClient, vertical);
        int64_t pos = mInfo.minimum;
        if (track != msg.data)
            pos += d * (int64_t(mInfo.maximum) - mInfo.minimum - mInfo.visible + 1) / (track - msg.data);
        if (pos == mInfo.current) return 0;
        mInfo.current = int32_t(pos);
        CheckScrollLimits();
        if (mInfo.current != old) Notify(old, vertical);
        return 0;
    }
    if (msg.type == GM_POINTER_PRESS && !msg.source) {
        // A press on the track pages towards the pointer.
        if (!mpThumb) return 0;
        const int at = vertical ? msg.Point().y : msg.Point().x;
        if (at < startOf(mpThumb->mOuter, vertical)) mInfo.current -= mInfo.visible;
        else if (at > (vertical ? mpThumb->mOuter.bottom : mpThumb->mOuter.right)) mInfo.current += mInfo.visible;
        CheckScrollLimits();
        if (mInfo.current != old) Notify(old, vertical);
        redraw();
        return 0;
    }
    if (msg.type == GuiSignalType(GUI_ID_ARROW_BACK, GUI_SIG_CLICKED) ||
        msg.type == GuiSignalType(GUI_ID_ARROW_FORWARD, GUI_SIG_CLICKED)) {
        if (msg.type == GuiSignalType(GUI_ID_ARROW_BACK, GUI_SIG_CLICKED)) mInfo.current -= mInfo.step;
        else mInfo.current += mInfo.step;
        CheckScrollLimits();
        if (mInfo.current == old) return 0;
        Notify(old, vertical);
        redraw();
        return 0;
    }
    if (msg.type == GM_SHOW || msg.type == GM_PARENT_SIZED) {
        int r = GuiThing::Message(msg);
        if (!IsNonClient()) {
            SetScrollButtonPos();
            return r;
        }
        ReadParentScrollInfo();
        if (!mpParent) return r;
        const GuiRect& c = mpParent->mClient;
        GuiRect strip = vertical ? GuiRect(c.right + 1, c.top, c.right + kArrow, c.bottom)
                                 : GuiRect(c.left, c.bottom + 1, c.right, c.bottom + kArrow);
        GuiMessage resize(GM_RESIZE, 0, this, mpParent);
        resize.SetRect(strip);
        Message(resize);
        return r;
    }
    return GuiThing::Message(msg);
}

// ---- the two directions -------------------------------------------------------------------

GuiVScroll::GuiVScroll() : GuiScroll() { Build(); }

GuiVScroll::GuiVScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id) : GuiScroll(rect, info, id)
{
    Build();
}

GuiVScroll::~GuiVScroll() = default;

void GuiVScroll::Build()
{
    mType = GT_VSCROLL;
    const int l = mOuter.left, t = mOuter.top, b = mOuter.bottom;
    mpArrow1 = makeArrow(GuiRect(l, t, l + kArrow - 1, t + kArrow - 1), &gbUpArrowBitmap, GUI_ID_ARROW_BACK);
    mpArrow2 = makeArrow(GuiRect(l, b - kArrow + 1, l + kArrow - 1, b), &gbDownArrowBitmap, GUI_ID_ARROW_FORWARD);
    mpThumb = new GuiScrollButton(1);
    Add(mpArrow1, 0);
    Add(mpArrow2, 0);
    Add(mpThumb, 0);
    mClient.top = int16_t(mClient.top + kArrow);
    mClient.bottom = int16_t(mClient.bottom - kArrow);
}

int GuiVScroll::Message(const GuiMessage& msg) { return ScrollMessage(msg, true); }
void GuiVScroll::Draw() { DrawBar(); }
void GuiVScroll::SetScrollButtonPos() { PlaceThumb(true); }
void GuiVScroll::ReadParentScrollInfo() { ReadWindowInfo(true); }

void GuiVScroll::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    if (mpArrow2) mpArrow2->Resize(GuiRect(mOuter.left, mOuter.bottom - kArrow + 1, mOuter.right, mOuter.bottom));
    SetScrollButtonPos();
}

GuiHScroll::GuiHScroll() : GuiScroll() { Build(); }

GuiHScroll::GuiHScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id) : GuiScroll(rect, info, id)
{
    Build();
}

GuiHScroll::~GuiHScroll() = default;

void GuiHScroll::Build()
{
    mType = GT_HSCROLL;
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right;
    mpArrow1 = makeArrow(GuiRect(l, t, l + kArrow - 1, t + kArrow - 1), &gbLeftArrowBitmap, GUI_ID_ARROW_BACK);
    mpArrow2 = makeArrow(GuiRect(r - kArrow + 1, t, r, t + kArrow - 1), &gbMoreBitmap, GUI_ID_ARROW_FORWARD);
    mpThumb = new GuiScrollButton(0);
    Add(mpArrow1, 0);
    Add(mpArrow2, 0);
    Add(mpThumb, 0);
    mClient.left = int16_t(mClient.left + kArrow);
    mClient.right = int16_t(mClient.right - kArrow);
}

int GuiHScroll::Message(const GuiMessage& msg) { return ScrollMessage(msg, false); }
void GuiHScroll::Draw() { DrawBar(); }
void GuiHScroll::SetScrollButtonPos() { PlaceThumb(false); }
void GuiHScroll::ReadParentScrollInfo() { ReadWindowInfo(false); }

void GuiHScroll::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    if (mpArrow2) mpArrow2->Resize(GuiRect(mOuter.right - kArrow + 1, mOuter.top, mOuter.right, mOuter.bottom));
    SetScrollButtonPos();
}

// ---- the thumb ------------------------------------------------------------------------------

GuiScrollButton::GuiScrollButton(int vertical)
    : GuiThing(0, GST_FRAME_RAISED), mVertical(vertical), mDragging(0), mLast(0), mStart(0), mStartRect{}
{
    mColor[0] = mColor[1] = 0xC0C0C0;
    mStatus &= uint16_t(~GS_ACCEPTS_FOCUS);
}

GuiScrollButton::~GuiScrollButton() = default;

void GuiScrollButton::Draw()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    StandardBorder(mColor[0]);
    mpScreen->EndDraw();
}

void GuiScrollButton::ReportPlace()
{
    if (!mpParent) return;
    GuiMessage m(mVertical ? GM_VSCROLL : GM_HSCROLL, 0, mpParent, this);
    m.data = int16_t(mVertical ? mOuter.bottom - mOuter.top : mOuter.right - mOuter.left);
    m.SetWord(0, mVertical ? mOuter.top : mOuter.left);
    mpParent->Message(m);
}

int GuiScrollButton::Message(const GuiMessage& msg)
{
    const int at = mVertical ? msg.Point().y : msg.Point().x;
    switch (msg.type) {
    case GM_POINTER_PRESS:
        if (!IsVisible() || !mpParent || !mpParent->IsVisible()) break;
        if (mpPresentation) mpPresentation->CapturePointer(this);
        mStartRect = mOuter;
        mDragging = 1;
        mStart = mLast = at;
        return 0;
    case GM_POINTER_MOVE:
        if (!mDragging) return 0;
        if (at != mLast) {
            mLast = at;
            // Live scrolling moves the contents with the thumb.
            if (MoveDraw(at) && mpParent && mpParent->mpParent && (mpParent->mpParent->mStatus & GS_LIVE_SCROLL))
                ReportPlace();
        }
        return 0;
    case GM_POINTER_RELEASE:
        if (!mDragging) return 0;
        mDragging = 0;
        ReleasePointer();
        ReportPlace();
        return 0;
    default:
        break;
    }
    return GuiThing::Message(msg);
}

int GuiScrollButton::MoveDraw(int coordinate)
{
    if (!mpParent) return 0;
    const bool v = mVertical != 0;
    const GuiRect& track = mpParent->mClient;
    GuiRect r = mStartRect;
    const int len = v ? r.bottom - r.top : r.right - r.left;
    int at = startOf(r, v) + (coordinate - mStart);
    const int last = (v ? track.bottom : track.right) - len;
    at = std::max(std::min(at, last), int(startOf(track, v)));
    if (v) r.Shift(0, at - r.top);
    else r.Shift(at - r.left, 0);
    if (r == mOuter) return 0;
    const GuiRect old = mOuter;
    Resize(r);
    GuiScreen* s = mpScreen;
    if (!s || !IsVisible()) return 1;
    // Repaint the track where the thumb was and is no more.
    GuiRect uncovered = old;
    if (v) {
        if (r.top > old.top) uncovered.bottom = int16_t(std::min<int>(old.bottom, r.top - 1));
        else uncovered.top = int16_t(std::max<int>(old.top, r.bottom + 1));
    } else {
        if (r.left > old.left) uncovered.right = int16_t(std::min<int>(old.right, r.left - 1));
        else uncovered.left = int16_t(std::max<int>(old.left, r.right + 1));
    }
    const GuiRect saved = mClip;
    mClip = mpParent->mClip & uncovered;
    s->BeginDraw(this);
    s->Invalidate(uncovered);
    s->BitmapFill(this, track, &gbMixPatternBitmap);
    s->EndDraw();
    mClip = saved;
    s->Invalidate(mClip);
    Draw();
    return 1;
}
