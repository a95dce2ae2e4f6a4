// Point lists of the line charts and the chart line that holds one.
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/charts/gui_line_chart.h"

GuiChartPoint* GuiChartPointList::Add(long x, long y)
{
    return Insert(nullptr, x, y);
}

GuiChartPoint* GuiChartPointList::Insert(GuiChartPoint* after, long x, long y)
{
    auto* point = new (std::nothrow) GuiChartPoint(x, y, nullptr);
    if (!point) return nullptr;
    if (!mpFirst) {
        mpFirst = point;
    } else {
        // Behind `after` when it belongs to this list, else at the end.
        GuiChartPoint* at = mpFirst;
        while (at != after && at->mpNext) at = at->mpNext;
        point->mpNext = at->mpNext;
        at->mpNext = point;
    }
    if (mpChart) mpChart->MapDataToPoint(point);
    return point;
}

GuiChartPoint* GuiChartPointList::Before(const GuiChartPoint* point) const
{
    for (GuiChartPoint* p = mpFirst; p; p = p->mpNext)
        if (p->mpNext == point) return p;
    return nullptr;
}

GuiChartPoint* GuiChartPointList::Remove(GuiChartPoint* point)
{
    if (!point || !mpFirst) return nullptr;
    if (point == mpFirst) {
        mpFirst = point->mpNext;
        delete point;
        return nullptr;
    }
    GuiChartPoint* before = Before(point);
    if (!before) return nullptr;   // not ours: left alone
    before->mpNext = point->mpNext;
    delete point;
    return before;
}

void GuiChartPointList::Recalc()
{
    if (!mpChart) return;
    for (GuiChartPoint* p = mpFirst; p; p = p->mpNext) mpChart->MapDataToPoint(p);
}

void GuiChartPointList::Reset()
{
    while (GuiChartPoint* p = mpFirst) {
        mpFirst = p->mpNext;
        delete p;
    }
}

void GuiChartPointList::Draw(const GuiColor& line, const GuiColor* fill) const
{
    GuiScreen* s = GuiThing::mpScreen;
    if (!s || !mpChart) return;
    for (GuiChartPoint* p = mpFirst; p && p->mpNext; p = p->mpNext) {
        const GuiChartPoint* q = p->mpNext;
        if (fill) {
            // Filled first, so that the line stays on top of its fill.
            GuiPoint area[5] = {p->mScreen, q->mScreen, mpChart->Map(q->mX, 0), mpChart->Map(p->mX, 0),
                                p->mScreen};
            s->Polygon(mpChart, area, 5, *fill, 1);
        }
        s->Line(mpChart, p->mScreen.x, p->mScreen.y, q->mScreen.x, q->mScreen.y, line, 1);
    }
}

// ---- one line of a multi-line chart ------------------------------------------------------------

GuiChartLine::GuiChartLine(GuiChart* chart, unsigned char id, unsigned long colour)
    : mPoints(chart),
      mpChart(chart),
      mId(id),
      mLineColor{uint32_t(colour), 0, 0},
      mFillColor{uint32_t(colour), uint32_t(colour), GUI_COLOR_FILL}
{
}

void GuiChartLine::Draw()
{
    const bool fill = mpChart && (mpChart->mChartStyle & GCS_FILL);
    mPoints.Draw(mLineColor, fill ? &mFillColor : nullptr);
}
