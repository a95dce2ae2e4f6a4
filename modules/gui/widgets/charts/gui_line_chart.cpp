// GuiLineChart and GuiMultiLineChart: messages, layout and drawing, and the
// lines of the multi-line chart by id.
#include "gui/widgets/charts/gui_line_chart.h"

#include <algorithm>
#include <new>

#include "gui/draw/gui_screen.h"

// ---- one line -------------------------------------------------------------------------------

GuiLineChart::GuiLineChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY,
                           unsigned int xInterval, unsigned int yInterval)
    : GuiChart(rect, minX, maxX, minY, maxY, xInterval, yInterval)
{
    mType = GT_LINE_CHART;
}

int GuiLineChart::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE:
    case GM_SIZE_CHANGE:
        RecalcLayout(1);
        return 0;
    default:   // 8 and 22 as the frame: shown, or following the parent
        return GuiChart::Message(msg);
    }
}

void GuiLineChart::Draw()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    GuiChart::Draw();
    mPoints.Draw(GuiColor{mLineColor, mLineColor, 0}, nullptr);
    mpScreen->EndDraw();
}

void GuiLineChart::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    RecalcLayout(0);
    mPoints.Recalc();
}

void GuiLineChart::RecalcSize(const GuiRect& rect, int redraw)
{
    Resize(rect);
    RedrawOuter(redraw);
}

// ---- several lines -------------------------------------------------------------------------------

GuiMultiLineChart::GuiMultiLineChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY,
                                     unsigned int xInterval, unsigned int yInterval)
    : GuiChart(rect, minX, maxX, minY, maxY, xInterval, yInterval)
{
    mType = GT_MULTI_LINE_CHART;
}

GuiMultiLineChart::~GuiMultiLineChart()
{
    DeleteChartLines(&mpFirstLine);
}

int GuiMultiLineChart::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE:
    case GM_SIZE_CHANGE:
        RecalcLayout(1);
        return 0;
    case GM_SHOW:
    case GM_PARENT_SIZED:
        if (!ShowOrFollowParent(msg))
            for (GuiChartLine* l = mpFirstLine; l; l = l->mpNext) l->RecalcLine();
        return 0;
    case GM_HSCROLL:
        return 0;
    default:
        return GuiChart::Message(msg);
    }
}

void GuiMultiLineChart::Draw()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    GuiChart::Draw();
    for (GuiChartLine* l = mpFirstLine; l; l = l->mpNext) l->Draw();
    mpScreen->EndDraw();
}

void GuiMultiLineChart::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    RecalcLayout(0);
    for (GuiChartLine* l = mpFirstLine; l; l = l->mpNext) l->RecalcLine();
}

void GuiMultiLineChart::RecalcSize(const GuiRect& rect, int redraw)
{
    Resize(rect);
    RedrawOuter(redraw);
}

unsigned char GuiMultiLineChart::AddLine(unsigned long colour)
{
    return AddChartLine(&mpFirstLine, mIds, [&](unsigned id) { return new GuiChartLine(this, uint8_t(id), colour); });
}

int GuiMultiLineChart::RemoveLine(unsigned char id)
{
    return DeleteChartLine(&mpFirstLine, mIds, id);
}

GuiChartLine* GuiMultiLineChart::GetLineFromID(unsigned char id)
{
    return FindChartLine(mpFirstLine, id);
}

GuiChartPoint* GuiMultiLineChart::AddPoint(unsigned char id, long x, long y, int redraw)
{
    GuiChartLine* line = GetLineFromID(id);
    if (!line) return nullptr;
    GuiChartPoint* point = line->AddPoint(x, y);
    if (redraw && point) DrawNewLineData(line, point, nullptr);
    return point;
}

GuiChartPoint* GuiMultiLineChart::InsertPoint(unsigned char id, GuiChartPoint* after, long x, long y, int redraw)
{
    GuiChartLine* line = GetLineFromID(id);
    if (!line) return nullptr;
    GuiChartPoint* point = line->InsertPoint(after, x, y);
    // The point it went behind, which is `after` only when that was found.
    if (redraw && point) DrawNewLineData(line, point, line->mPoints.Before(point));
    return point;
}

void GuiMultiLineChart::RedrawData()
{
    if (!mpScreen) return;
    mpScreen->Invalidate(mData);
    Draw();
}

void GuiMultiLineChart::RecalcLine(unsigned char id, int redraw)
{
    GuiChartLine* line = GetLineFromID(id);
    if (!line) return;
    line->RecalcLine();
    if (redraw) RedrawData();
}

void GuiMultiLineChart::ResetLine(unsigned char id, int redraw)
{
    GuiChartLine* line = GetLineFromID(id);
    if (!line) return;
    line->ResetLine();
    if (redraw) RedrawData();
}

void GuiMultiLineChart::ResetAllLines(int redraw)
{
    for (GuiChartLine* l = mpFirstLine; l; l = l->mpNext) l->ResetLine();
    if (redraw) RedrawData();
}

void GuiMultiLineChart::DrawNewLineData(GuiChartLine* line, GuiChartPoint* point, GuiChartPoint* before)
{
    if (!mpScreen || !line || !point) return;
    if (!before) before = line->mPoints.Before(point);
    GuiRect area(point->mScreen.x, point->mScreen.y, point->mScreen.x, point->mScreen.y);
    for (GuiChartPoint* p : {before, point->mpNext})
        if (p) area |= GuiRect(p->mScreen.x, p->mScreen.y, p->mScreen.x, p->mScreen.y);
    mpScreen->Invalidate(area);
    Draw();
}
