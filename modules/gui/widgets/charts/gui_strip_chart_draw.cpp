// GuiStripChart drawing: the whole chart, the traces of sweep and scroll
// mode, and the incremental repaint around a new sample.
#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/charts/gui_strip_chart.h"

namespace {

constexpr uint32_t kTraceBackground = 0xC0C0C0;

}  // namespace

GuiPoint GuiStripChart::SamplePoint(const GuiStripChartLine* line, unsigned int slot, unsigned int position)
{
    return GuiPoint{int16_t(IndexToPointX(position)), int16_t(ValToPointY(line->GetData(slot)))};
}

void GuiStripChart::Segment(GuiPoint a, GuiPoint b, uint32_t colour, uint32_t fill)
{
    if (mChartStyle & GCS_FILL) {
        const int16_t zero = int16_t(ValToPointY(0));
        GuiPoint area[5] = {a, b, GuiPoint{b.x, zero}, GuiPoint{a.x, zero}, a};
        mpScreen->Polygon(this, area, 5, GuiColor{fill, fill, GUI_COLOR_FILL}, 0);
    }
    mpScreen->Line(this, a.x, a.y, b.x, b.y, GuiColor{colour, kTraceBackground, 0}, 1);
}

void GuiStripChart::Draw()
{
    if (!mpScreen || !IsVisible()) return;
    mpScreen->BeginDraw(this);
    StandardBorder(mColor[GUI_CHART_BACKGROUND]);
    const uint16_t s = mChartStyle;
    if (s & GCS_X_GRID) DrawXGrid();
    if (s & GCS_Y_GRID) DrawYGrid();
    for (GuiStripChartLine* l = mpFirstLine; l; l = l->mpNext) {
        DrawLine(l);
        if ((s & GCS_SWEEP) && l->mWrapped) DrawLineHistory(l);
    }
    // Every mark loop tests its own interval: an interval of 0 draws no marks.
    if (s & GCS_X_TICKS) DrawXTics();
    if (s & GCS_Y_TICKS) DrawYTics();
    if (s & GCS_X_LABELS) DrawXLabels();
    if (s & GCS_Y_LABELS) DrawYLabels();
    DrawChildren();
    mpScreen->EndDraw();
}

void GuiStripChart::DrawLine(GuiStripChartLine* line)
{
    if (!mpScreen || !line || line->mCapacity == 0) return;
    const uint32_t colour = line->mLineColor, fill = line->mFillColor;
    const uint32_t n = line->mCapacity, newest = line->mNewest, oldest = line->mOldest;
    // Only the repainted part of the data rectangle, for the time of the call.
    const GuiRect saved = mClip;
    mClip = saved & mpScreen->InvalidRect() & mData;
    if (mChartStyle & GCS_SWEEP) {
        for (uint32_t i = 0; i < newest; ++i)
            Segment(SamplePoint(line, i, i), SamplePoint(line, i + 1, i + 1), colour, fill);
        if (mChartStyle & GCS_LEADER) {
            const int x = IndexToPointX(newest);
            mpScreen->Line(this, x, mData.top + 1, x, mData.bottom - 1,
                           GuiColor{line->mLeaderColor, kTraceBackground, 0}, 1);
        }
    } else if ((mChartStyle & GCS_SCROLL) && !line->mWrapped) {
        for (uint32_t i = 0; i < newest; ++i)
            Segment(SamplePoint(line, i, i), SamplePoint(line, i + 1, i + 1), colour, fill);
    } else if (mChartStyle & GCS_SCROLL) {
        // Oldest at the left: oldest .. N - 1, across the wrap, 0 .. newest.
        uint32_t k = 0;
        for (uint32_t i = oldest; i + 1 < n; ++i, ++k)
            Segment(SamplePoint(line, i, k), SamplePoint(line, i + 1, k + 1), colour, fill);
        if (newest != n - 1) {
            Segment(SamplePoint(line, n - 1, k), SamplePoint(line, 0, k + 1), colour, fill);
            ++k;
        }
        for (uint32_t i = 0; i < newest && k + 1 < n; ++i, ++k)
            Segment(SamplePoint(line, i, k), SamplePoint(line, i + 1, k + 1), colour, fill);
    }
    mClip = saved;
}

void GuiStripChart::DrawLineHistory(GuiStripChartLine* line)
{
    if (!mpScreen || !line) return;
    mpScreen->BeginDraw(this);
    // With the oldest sample in the last slot there is nothing behind it.
    const uint32_t n = line->mCapacity;
    if (line->mOldest + 1 < n) {
        const GuiRect& invalid = mpScreen->InvalidRect();
        GuiPoint p = SamplePoint(line, line->mOldest + 1, line->mOldest + 1);
        for (uint32_t i = line->mOldest + 1; i + 1 < n; ++i) {
            const GuiPoint q = SamplePoint(line, i + 1, i + 1);
            if (invalid.Contains(p) || invalid.Contains(q)) Segment(p, q, line->mAgedColor, line->mFillColor);
            p = q;
        }
    }
    mpScreen->EndDraw();
}

void GuiStripChart::RedrawColumns(int fromX, int toX)
{
    mpScreen->Invalidate(GuiRect(std::min(fromX, toX), mData.top, std::max(fromX, toX), mData.bottom));
    mpScreen->BeginDraw(this);
    DrawInvalidChartRegion();
    mpScreen->EndDraw();
}

void GuiStripChart::DrawNewLineData(GuiStripChartLine* line)
{
    // A hidden chart draws nothing, and so must not invalidate either.
    if (!mpScreen || !line || !IsVisible() || line->mCapacity == 0) return;
    const long n = long(line->mCapacity);
    if (mChartStyle & GCS_SWEEP) {
        if (line->mNewest == 0) {
            // Just wrapped: the whole trace ages, the old leader goes.
            mpScreen->Invalidate(mData);
            DrawLineHistory(line);
            if (mChartStyle & GCS_LEADER) RedrawColumns(Map(n - 2, 0).x, Map(n, 0).x);
        } else {
            // From the last segment to the gap in front of the oldest sample;
            // at the end of the ring the oldest is slot 0, left of the newest.
            const int to = std::max(IndexToPointX(line->mOldest), IndexToPointX(line->mNewest));
            RedrawColumns(IndexToPointX(line->mNewest - 1), to);
        }
    } else if (mChartStyle & GCS_SCROLL) {
        if (!line->mWrapped && line->mNewest > 0) {
            mpScreen->Invalidate(GuiRect(IndexToPointX(line->mNewest - 1), mData.top,
                                         IndexToPointX(line->mNewest), mData.bottom));
            Draw();
        } else if (line->mWrapped) {
            mpScreen->Invalidate(mData);
            Draw();
        }
    }
}

void GuiStripChart::DrawInvalidChartRegion()
{
    if (!mpScreen) return;
    const GuiRect r = mpScreen->InvalidRect();
    const uint32_t back = mColor[GUI_CHART_BACKGROUND];
    mpScreen->Rectangle(this, r, GuiColor{back, back, GUI_COLOR_FILL}, 1);
    const uint16_t s = mChartStyle;
    const GuiColor axes{mColor[GUI_CHART_AXES], back, 0};
    const bool xMarks = mXMajor || mXMinor, yMarks = mYMajor || mYMinor;
    if (r.left == mData.left && (s & GCS_Y_TICKS) && yMarks)
        mpScreen->Line(this, mData.left, ValToPointY(mMaxY), mData.left, mData.bottom, axes, 1);
    if ((s & GCS_X_GRID) && xMarks) DrawXGrid();
    if ((s & GCS_Y_GRID) && yMarks) DrawYGrid();
    if ((s & GCS_X_TICKS) && xMarks) {
        if (!(s & GCS_X_AXIS_AT_ZERO)) {
            mpScreen->Line(this, r.left, mData.bottom, r.right, mData.bottom, axes, 1);
        } else {
            DrawXTics();
            if ((s & GCS_X_LABELS) && mXLabelInterval) DrawXLabels();
        }
    }
    if ((s & GCS_AGED_REDRAW) && LineCount() >= 2)
        for (GuiStripChartLine* l = mpFirstLine; l; l = l->mpNext)
            if (l->mWrapped) DrawLineHistory(l);
    for (GuiStripChartLine* l = mpFirstLine; l; l = l->mpNext) DrawLine(l);
}
