// GuiChart: construction, messages, layout of the data rectangle and the
// mapping between data values and screen points.
#include "gui/widgets/charts/gui_chart.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/number/gui_ltoa.h"

namespace {

// Screen coordinates are 16 bits; values far outside the data range end
// at the edge of what a point can hold instead of wrapping around.
int16_t ToCoordinate(int64_t v)
{
    return int16_t(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

int32_t ToValue(int64_t v)
{
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t ToLong32(long v)
{
    return ToValue(int64_t(v));
}

}  // namespace

GuiChartPoint::GuiChartPoint(long x, long y, GuiChartPoint* next)
    : mScreen{0, 0}, mX(ToLong32(x)), mY(ToLong32(y)), mpNext(next)
{
}

GuiChart::GuiChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY, unsigned int xInterval,
                   unsigned int yInterval)
    : GuiThing(rect, 0, GST_FRAME_NONE),
      mMinX(ToLong32(minX)),
      mMaxX(ToLong32(maxX)),
      mMinY(ToLong32(minY)),
      mMaxY(ToLong32(maxY)),
      mXMajor(xInterval),
      mYMajor(yInterval),
      mXLabelInterval(xInterval),
      mYLabelInterval(yInterval),
      mpFont(&MenuFont)
{
    InitClient();
    mData = mClient;
    mColor[GUI_CHART_BACKGROUND] = 0x000000;
    mColor[GUI_CHART_GRID] = 0x808080;
    mColor[GUI_CHART_AXES] = 0xFFFFFF;
    mStatus |= GS_VIEWPORT_OWNER;
}

// ---- messages -------------------------------------------------------------------------------

int GuiChart::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE:
    case GM_SIZE_CHANGE:
        GuiThing::Message(msg);
        RecalcLayout(1);
        return 0;
    case GM_SHOW:
    case GM_PARENT_SIZED:
        ShowOrFollowParent(msg);
        return 0;
    case GM_VSCROLL:
    case GM_HSCROLL:
        if (!(mChartStyle & GCS_FOLLOW_PARENT) && mpParent) RecalcSize(mpParent->mClient, 0);
        GuiThing::Message(msg);
        return 0;
    default:
        GuiThing::Message(msg);
        return 0;
    }
}

bool GuiChart::ShowOrFollowParent(const GuiMessage& msg)
{
    GuiThing::Message(msg);
    if (!(mChartStyle & GCS_FOLLOW_PARENT) || !mpParent) return false;
    RecalcSize(mpParent->mClient, 0);
    return true;
}

void GuiChart::RedrawOuter(int redraw)
{
    if (!redraw || !mpScreen || !IsVisible()) return;
    mpScreen->Invalidate(mOuter);
    Draw();
}

void GuiChart::ParentShift(int dx, int dy)
{
    mData.Shift(dx, dy);
    GuiThing::ParentShift(dx, dy);
}

void GuiChart::RecalcSize(const GuiRect& rect, int redraw)
{
    GuiThing::Resize(rect);
    RecalcLayout(redraw);
}

// ---- layout ------------------------------------------------------------------------------------

int GuiChart::LabelWidth(long value)
{
    char text[12];
    return mpScreen ? mpScreen->TextWidth(_ltoa(ToLong32(value), text, 10), mpFont, -1) : 0;
}

int GuiChart::LabelHeight()
{
    return mpScreen ? mpScreen->TextHeight("0", mpFont) : 0;
}

void GuiChart::RecalcLayout(int redraw)
{
    GuiRect d = mClient;
    int left = d.left, top = d.top, right = d.right, bottom = d.bottom;
    if (mChartStyle & GCS_X_TICKS) bottom -= mMajorTickLength;
    if (mChartStyle & GCS_Y_TICKS) {
        left += mMajorTickLength;
        if (mChartStyle & GCS_Y_TICKS_RIGHT) right -= mMajorTickLength;
    }
    const int th = LabelHeight();
    if (mChartStyle & GCS_Y_LABELS) {
        const int hh = (th + 1) >> 1;
        top += hh;
        if (!(mChartStyle & GCS_X_LABELS)) bottom -= hh;
        if (mYLabelWidth != 0) {
            left += mYLabelWidth;
        } else {
            const int m = std::max(LabelWidth(mMinY), LabelWidth(mMaxY));
            left += m + 2;
            if (mChartStyle & GCS_Y_LABELS_RIGHT) right -= m + 2;
        }
    }
    if (mChartStyle & GCS_X_LABELS) {
        right -= (LabelWidth(mMaxX) + 1) >> 1;
        if (!(mChartStyle & GCS_Y_LABELS)) left += (LabelWidth(mMinX) + 1) >> 1;
        if (!(mChartStyle & GCS_X_AXIS_AT_ZERO)) bottom -= mXLabelHeight != 0 ? mXLabelHeight : th;
    }
    mData = GuiRect(ToCoordinate(left), ToCoordinate(top), ToCoordinate(right), ToCoordinate(bottom));
    // A hidden chart draws nothing, so it must not take the invalidation
    // (and the GUI lock that comes with it) either.
    if (redraw && mpScreen && IsVisible()) {
        mpScreen->Invalidate(mClient);
        Draw();
    }
}

// ---- mapping ------------------------------------------------------------------------------------

void GuiChart::MapDataToPoint(GuiChartPoint* p)
{
    if (!p) return;
    p->mScreen = Map(p->mX, p->mY);
}

GuiPoint GuiChart::Map(long x, long y)
{
    // Differences, products and quotients all in 64 bits: a range of the
    // whole 32-bit span times 256 times a screen width stays far below 2^63.
    int64_t fx = (int64_t(ToLong32(x)) - mMinX) * 256;
    const int64_t rangeX = int64_t(mMaxX) - mMinX;
    if (rangeX != 0) fx /= rangeX;
    int64_t fy = (int64_t(ToLong32(y)) - mMinY) * 256;
    const int64_t rangeY = int64_t(mMaxY) - mMinY;
    if (rangeY > 0) fy /= rangeY;
    const int64_t py = (int64_t(mData.bottom) - mData.top - 1) * fy;
    const int64_t sy = mData.bottom - (py >> 8);
    const int64_t px = (int64_t(mData.right) - mData.left - 1) * fx;
    return GuiPoint{ToCoordinate(mData.left + (px >> 8)), ToCoordinate(sy)};
}

void GuiChart::MapPointToData(GuiChartPoint* p)
{
    if (!p) return;
    int64_t fx = (int64_t(p->mScreen.x) - mData.left) * 256;
    if (mData.right - mData.left + 1 != 0) fx /= int64_t(mData.right) - mData.left + 1;
    int64_t fy = (int64_t(mData.bottom) - p->mScreen.y) * 256;
    if (mData.bottom - mData.top + 1 != 0) fy /= int64_t(mData.bottom) - mData.top + 1;
    p->mX = ToValue(mMinX + (((int64_t(mMaxX) - mMinX) * fx) >> 8));
    p->mY = ToValue(mMinY + (((int64_t(mMaxY) - mMinY) * fy) >> 8));
}

// ---- drawing ------------------------------------------------------------------------------------

void GuiChart::Draw()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    StandardBorder(mColor[GUI_CHART_BACKGROUND]);
    const uint16_t s = mChartStyle;
    if ((s & GCS_X_GRID) && (mXMajor || mXMinor)) DrawXGrid();
    if ((s & GCS_Y_GRID) && (mYMajor || mYMinor)) DrawYGrid();
    if ((s & GCS_X_TICKS) && (mXMajor || mXMinor)) DrawXTics();
    if ((s & GCS_Y_TICKS) && (mYMajor || mYMinor)) DrawYTics();
    if ((s & GCS_X_LABELS) && mXLabelInterval) DrawXLabels();
    if ((s & GCS_Y_LABELS) && mYLabelInterval) DrawYLabels();
    DrawChildren();
    mpScreen->EndDraw();
}
