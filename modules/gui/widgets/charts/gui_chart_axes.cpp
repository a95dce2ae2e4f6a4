// GuiChart: grid lines, ticks, axes and numeric labels of both axes.
#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/charts/gui_chart.h"
#include "gui/widgets/charts/gui_chart_marks.h"
#include "gui/widgets/number/gui_ltoa.h"

namespace {

// Marks along an axis of `extent` pixels: more than one per pixel cannot be
// told apart.
int64_t MarkLimit(int extent) { return std::max<int64_t>(int64_t(extent) + 1, 1); }

}  // namespace

int GuiChart::XAxisRow()
{
    return (mChartStyle & GCS_X_AXIS_AT_ZERO) ? Map(mMinX, 0).y : mData.bottom;
}

int GuiChart::XTickMarks(uint32_t interval, int length, int y, int none)
{
    int last = none;
    const GuiColor c{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    ForEachChartMark(mMinX, mMaxX, interval, MarkLimit(mData.Width()), [&](int64_t v) {
        last = Map(long(v), 0).x;
        mpScreen->Line(this, last, y, last, y + length, c, 1);
    });
    return last;
}

int GuiChart::YTickMarks(uint32_t interval, int length, int none)
{
    int last = none;
    const GuiColor c{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    const bool right = mChartStyle & GCS_Y_TICKS_RIGHT;
    ForEachChartMark(mMinY, mMaxY, interval, MarkLimit(mData.Height()), [&](int64_t v) {
        last = Map(mMinX, long(v)).y;
        mpScreen->Line(this, mData.left, last, mData.left - length, last, c, 1);
        if (right) mpScreen->Line(this, mData.right, last, mData.right + length, last, c, 1);
    });
    return last;
}

void GuiChart::DrawXTics()
{
    if (!mpScreen) return;
    const int y = XAxisRow();
    int last = XTickMarks(mXMinor, mMinorTickLength, y, mData.left);
    last = XTickMarks(mXMajor, mMajorTickLength, y, last);
    const GuiColor c{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    mpScreen->Line(this, mData.left, y, last, y, c, 1);
}

void GuiChart::DrawYTics()
{
    if (!mpScreen) return;
    int last = YTickMarks(mYMinor, mMinorTickLength, mData.bottom);
    last = YTickMarks(mYMajor, mMajorTickLength, last);
    const GuiColor c{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    mpScreen->Line(this, mData.left, last, mData.left, mData.bottom, c, 1);
    if (mChartStyle & GCS_Y_TICKS_RIGHT) mpScreen->Line(this, mData.right, last, mData.right, mData.bottom, c, 1);
}

void GuiChart::DrawXGrid()
{
    if (!mpScreen) return;
    const GuiColor c{mColor[GUI_CHART_GRID], mColor[GUI_CHART_BACKGROUND], 0};
    const int top = Map(mMinX, mMaxY).y;
    // With horizontal marks the line at the minimum would cover the Y axis.
    const bool skipFirst = mYMajor != 0 || mYMinor != 0;
    for (uint32_t interval : {mXMinor, mXMajor}) {
        const int64_t first = int64_t(mMinX) + (skipFirst ? interval : 0);
        ForEachChartMark(first, mMaxX, interval, MarkLimit(mData.Width()), [&](int64_t v) {
            const int x = Map(long(v), 0).x;
            if (GuiRect(x, std::min(top, int(mData.bottom)), x, std::max(top, int(mData.bottom)))
                    .Overlap(mpScreen->InvalidRect()))
                mpScreen->Line(this, x, top, x, mData.bottom, c, 1);
        });
    }
}

void GuiChart::DrawYGrid()
{
    if (!mpScreen) return;
    const GuiColor c{mColor[GUI_CHART_GRID], mColor[GUI_CHART_BACKGROUND], 0};
    const int right = Map(mMaxX, mMinY).x;
    const bool skipFirst = mXMajor != 0 || (mXMinor != 0 && !(mChartStyle & GCS_X_AXIS_AT_ZERO));
    for (uint32_t interval : {mYMinor, mYMajor}) {
        const int64_t first = int64_t(mMinY) + (skipFirst ? interval : 0);
        ForEachChartMark(first, mMaxY, interval, MarkLimit(mData.Height()), [&](int64_t v) {
            const int y = Map(mMinX, long(v)).y;
            if (GuiRect(std::min(int(mData.left), right), y, std::max(int(mData.left), right), y)
                    .Overlap(mpScreen->InvalidRect()))
                mpScreen->Line(this, mData.left, y, right, y, c, 1);
        });
    }
}

void GuiChart::DrawXLabels()
{
    if (!mpScreen || mXLabelInterval == 0) return;
    const int y = XAxisRow();
    const int top = y + 2 + mMajorTickLength;
    const int th = LabelHeight();
    if (!GuiRect(mData.left + 1, top, mOuter.right, top + th).Overlap(mpScreen->InvalidRect())) return;
    // Counted signed: a maximum below the minimum gives no labels.
    if (mMaxX < mMinX) return;
    int64_t n = (int64_t(mMaxX) - mMinX) / mXLabelInterval + 1;
    if (n > MarkLimit(mData.Width())) return;
    const int64_t step = n > 1 ? ((int64_t(mData.right) - mData.left + 1) * 8) / (n - 1) : 0;
    int64_t position = int64_t(mData.left) * 8;
    int64_t value = mMinX;
    if ((mChartStyle & GCS_X_AXIS_AT_ZERO) && (mChartStyle & GCS_Y_TICKS)) {
        // The Y axis carries the label of the minimum already.
        position += step;
        value += mXLabelInterval;
        --n;
    }
    GuiColor colour{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    char text[12];
    for (; n > 0; --n, position += step, value += mXLabelInterval) {
        _ltoa(int32_t(value), text, 10);
        const int tw = (mpScreen->TextWidth(text, mpFont, -1) + 1) & ~1;
        int x = int(position >> 3) - tw / 2;
        if (x < mOuter.left) x = mOuter.left + 1;
        if (x + tw > mOuter.right) x = mOuter.right - tw - 1;
        if (GuiRect(x, top, x + tw, top + th).Overlap(mpScreen->InvalidRect()))
            mpScreen->DrawText(this, GuiPoint{int16_t(x), int16_t(top)}, text, colour, mpFont, -1, 0);
    }
}

void GuiChart::DrawYLabels()
{
    if (!mpScreen || mYLabelInterval == 0) return;
    const bool right = mChartStyle & GCS_Y_LABELS_RIGHT;
    const GuiRect leftBand(mClient.left, mClient.top, mData.left - mMajorTickLength - 1, mData.bottom);
    const GuiRect rightBand(mData.right + mMajorTickLength + 1, mClient.top, mClient.right, mClient.bottom);
    const GuiRect& invalid = mpScreen->InvalidRect();
    if (!leftBand.Overlap(invalid) && !(right && rightBand.Overlap(invalid))) return;
    const GuiColor fill{mColor[GUI_CHART_BACKGROUND], mColor[GUI_CHART_BACKGROUND], GUI_COLOR_FILL};
    mpScreen->Rectangle(this, leftBand, fill, 0);
    if (right) mpScreen->Rectangle(this, rightBand, fill, 0);

    // Counted signed: a maximum below the minimum gives no labels.
    if (mMaxY < mMinY) return;
    const int64_t n = (int64_t(mMaxY) - mMinY) / mYLabelInterval;
    if (n + 1 > MarkLimit(mData.Height())) return;
    const int64_t step = n > 0 ? ((int64_t(mData.bottom) - mData.top + 1) * 8) / n : 0;
    int64_t position = int64_t(mData.bottom) * 8;
    const int th = LabelHeight();
    GuiColor colour{mColor[GUI_CHART_AXES], mColor[GUI_CHART_BACKGROUND], 0};
    char text[12];
    for (int64_t k = 0; k <= n; ++k, position -= step) {
        _ltoa(int32_t(mMinY + k * mYLabelInterval), text, 10);
        const int tw = mpScreen->TextWidth(text, mpFont, -1);
        int y = int(position >> 3) - th / 2;
        y = std::max(y, mOuter.top + 1);
        y = std::min(y, mOuter.bottom - th - 1);
        const int x = mData.left - mMajorTickLength - tw - 2;
        if (GuiRect(x, y, x + tw, y + th).Overlap(invalid))
            mpScreen->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, text, colour, mpFont, -1, 0);
        if (right) {
            const int xr = mData.right + mMajorTickLength + 2;
            if (GuiRect(xr, y, xr + tw, y + th).Overlap(invalid))
                mpScreen->DrawText(this, GuiPoint{int16_t(xr), int16_t(y)}, text, colour, mpFont, -1, 0);
        }
    }
}
