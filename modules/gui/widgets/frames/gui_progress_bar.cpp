// GuiProgressBar: the filled part, the face or segments, and the number.
#include "gui/widgets/frames/gui_progress_bar.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/number/gui_ltoa.h"

namespace {
constexpr int kFontSlot = 16;
constexpr uint16_t kFaceRaised = 0x0004;

// Where the fill ends along one axis: from `start` towards `end`, a share
// (value - min) / (max - min) of `length` pixels. A value out of range
// stops one pixel beyond the client edge, where drawing is clipped anyway,
// so the 16-bit rectangle never wraps.
int fillEdge(int start, int length, int sign, int32_t value, int32_t min, int32_t max)
{
    const long long share = (static_cast<long long>(value) - min) * length / (static_cast<long long>(max) - min);
    const long long edge = start + sign * share;
    const long long lo = sign > 0 ? start - 1 : start - length;
    const long long hi = sign > 0 ? start + length : start + 1;
    return int(std::clamp(edge, lo, hi));
}
}  // namespace

GuiProgressBar::GuiProgressBar(const GuiRect& rect, unsigned short style, int min, int max, int value)
    : GuiTextThing(rect, 0, style, nullptr, 0), mpFace(nullptr), mBarRect(rect), mMin(min), mMax(max), mValue(value)
{
    mColor[0] = 0x808080;   // background and border
    mColor[1] = 0x0000BF;   // filled part
    mColor[2] = 0xFFFFFF;   // number over the empty part
    mColor[3] = 0xFFFFFF;   // number over the filled part
    mType = GT_PROGRESS_BAR;
    GuiThing::InitClient();
    GetButtonRect();
    MakeFace();
    SetFont(mFontTable[kFontSlot]);
}

GuiProgressBar::~GuiProgressBar() = default;

void GuiProgressBar::MakeFace()
{
    mpFace = nullptr;
    if (mStyle & GPS_SEGMENTS) return;
    // Without a face the bar shows no fill; it still works otherwise.
    mpFace = new (std::nothrow) GuiButton(mBarRect, 0, (mStyle & GPS_RAISED) ? kFaceRaised : 0, nullptr, 0);
    if (mpFace) GuiThing::Add(mpFace, 1);
}

void GuiProgressBar::FitFace()
{
    if (mpFace && GuiIsChildOf(this, mpFace)) mpFace->Resize(mBarRect);
}

void GuiProgressBar::GetButtonRect()
{
    mBarRect = mClient;
    if (mMax <= mMin) return;   // full
    // A bar squeezed to nothing has no fill to place.
    if (mClient.right < mClient.left || mClient.bottom < mClient.top) return;
    if (mStyle & GPS_VERTICAL) {
        mBarRect.top = int16_t(fillEdge(mClient.bottom, mClient.bottom - mClient.top + 1, -1, mValue, mMin, mMax));
    } else {
        mBarRect.right = int16_t(fillEdge(mClient.left, mClient.right - mClient.left + 1, 1, mValue, mMin, mMax));
    }
}

void GuiProgressBar::Update(int value, int redraw)
{
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
    mValue = value;
    GetButtonRect();
    FitFace();
    if (redraw) Draw();
}

void GuiProgressBar::Reconfig(unsigned short style, int min, int max)
{
    Style(style);
    mMin = min;
    mMax = max;
    InitClient();
    GetButtonRect();
    if (mpFace && GuiIsChildOf(this, mpFace)) Destroy(mpFace);
    MakeFace();
}

void GuiProgressBar::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    GetButtonRect();
    FitFace();
}

int32_t GuiProgressBar::ShownNumber() const
{
    if (!(mStyle & GPS_PERCENT)) return mValue;
    // A bar without a range is drawn full, and so reads 100 %.
    if (mMax <= mMin) return 100;
    const long long percent = (static_cast<long long>(mValue) - mMin) * 100 / (static_cast<long long>(mMax) - mMin);
    return int32_t(std::clamp<long long>(percent, INT32_MIN, INT32_MAX));
}

void GuiProgressBar::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (!(mStyle & GPS_NO_BORDER)) StandardBorder(mColor[0]);
    if (mpFace && GuiIsChildOf(this, mpFace)) {
        mpFace->SetColor(0, mColor[1]);
        mpFace->Draw();
    } else if (mStyle & GPS_SEGMENTS) {
        DrawSegments();
    }
    if (mStyle & GPS_SHOW_VALUE) DrawNumber();
    s->EndDraw();
}

void GuiProgressBar::DrawSegments()
{
    const bool vertical = mStyle & GPS_VERTICAL;
    const int length = vertical ? mClient.bottom - mClient.top + 1 : mClient.right - mClient.left + 1;
    const int step = std::max(3, length / 20);
    const GuiColor fill{mColor[1], mColor[1], GUI_COLOR_FILL};
    // Only whole segments, step - 1 pixels long with one-pixel gaps.
    if (vertical) {
        GuiRect seg(mClient.left, mClient.bottom - step + 2, mClient.right, mClient.bottom);
        while (mBarRect.top < seg.top) {
            mpScreen->Rectangle(this, seg, fill, 0);
            seg.Shift(0, -step);
        }
    } else {
        GuiRect seg(mClient.left, mClient.top, mClient.left + step - 2, mClient.bottom);
        while (seg.right < mBarRect.right) {
            mpScreen->Rectangle(this, seg, fill, 0);
            seg.Shift(step, 0);
        }
    }
}

void GuiProgressBar::DrawNumber()
{
    GuiScreen* s = mpScreen;
    if (!mpFont) return;
    char text[16];
    _ltoa(ShownNumber(), text, 10);
    if (mStyle & GPS_PERCENT) std::strcat(text, "%");
    const int tw = s->TextWidth(text, mpFont, -1), th = s->TextHeight(text, mpFont);
    const int x = (mClient.left + mClient.right) / 2 - tw / 2;
    const int y = (mClient.top + mClient.bottom) / 2 - th / 2;
    const GuiPoint at{int16_t(x), int16_t(y)};
    auto draw = [&](uint32_t colour) {
        GuiColor ink{colour, colour, 0};
        s->DrawText(this, at, text, ink, mpFont, -1, 0);
    };
    if (mColor[2] == mColor[3]) {
        draw(mColor[2]);
        return;
    }
    const GuiRect saved = mClip;
    // Each colour is drawn with the clip narrowed to its side of the edge.
    auto drawBetween = [&](int from, int to, bool horizontal, uint32_t colour) {
        if (horizontal) {
            mClip.left = int16_t(std::max<int>(saved.left, from));
            mClip.right = int16_t(std::min<int>(saved.right, to));
        } else {
            mClip.top = int16_t(std::max<int>(saved.top, from));
            mClip.bottom = int16_t(std::min<int>(saved.bottom, to));
        }
        draw(colour);
        mClip = saved;
    };
    if (mStyle & GPS_VERTICAL) {
        if (mBarRect.top > y + th) draw(mColor[2]);
        else if (mBarRect.top < y) draw(mColor[3]);
        else {
            drawBetween(mBarRect.top, y + th, false, mColor[3]);
            drawBetween(y, mBarRect.top, false, mColor[2]);
        }
    } else {
        if (mBarRect.right < x) draw(mColor[2]);
        else if (x + tw < mBarRect.right) draw(mColor[3]);
        else {
            drawBetween(x, mBarRect.right, true, mColor[3]);
            drawBetween(mBarRect.right, x + tw, true, mColor[2]);
        }
    }
}
