// GuiStripChart: sample rings of its lines, lines by id, colours, messages
// and layout. Drawing lives in gui_strip_chart_draw.cpp.
#include "gui/widgets/charts/gui_strip_chart.h"

#include <new>

#include "gui/draw/gui_screen.h"

// ---- one line ---------------------------------------------------------------------------------

GuiStripChartLine::GuiStripChartLine(GuiStripChart* chart, unsigned char id, unsigned long lineColour,
                                     unsigned long agedColour, unsigned long fillColour,
                                     unsigned long leaderColour)
    : mId(id),
      mLineColor(uint32_t(lineColour)),
      mAgedColor(uint32_t(agedColour)),
      mFillColor(uint32_t(fillColour)),
      mLeaderColor(uint32_t(leaderColour ? leaderColour : lineColour)),
      mpChart(chart)
{
    const int32_t samples = chart ? chart->mMaxX : 0;
    if (samples > 0) {
        // A ring that cannot be had leaves a line without samples.
        mpSamples = new (std::nothrow) int32_t[uint32_t(samples)]();
        if (mpSamples) mCapacity = uint32_t(samples);
    }
}

GuiStripChartLine::~GuiStripChartLine() { delete[] mpSamples; }

int GuiStripChartLine::AddData(long value)
{
    if (mCapacity == 0 || !mpSamples) return 0;
    mNewest = mNewest + 1;
    if (mNewest >= mCapacity) {
        mNewest = 0;
        mWrapped = 1;
    }
    mpSamples[mNewest] = int32_t(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
    mOldest = mNewest + 1 >= mCapacity ? 0 : mNewest + 1;
    return 1;
}

long GuiStripChartLine::GetData(unsigned int index) const
{
    return index < mCapacity && mpSamples ? mpSamples[index] : 0;
}

// ---- the chart ----------------------------------------------------------------------------------

GuiStripChart::GuiStripChart(const GuiRect& rect, unsigned int samples, long minY, long maxY,
                             unsigned int xInterval, unsigned int yInterval)
    : GuiChart(rect, 0, long(samples), minY, maxY, xInterval, yInterval)
{
    mType = GT_STRIP_CHART;
    mColor[GUI_CHART_BACKGROUND] = 0;
    mChartStyle = 0x83C8;
    RecalcLayout(0);
}

GuiStripChart::~GuiStripChart()
{
    DeleteChartLines(&mpFirstLine);
}

int GuiStripChart::LineCount() const
{
    int n = 0;
    for (GuiStripChartLine* l = mpFirstLine; l; l = l->mpNext) ++n;
    return n;
}

unsigned char GuiStripChart::AddLine(unsigned long lineColour, unsigned long agedColour, unsigned long fillColour)
{
    return AddChartLine(&mpFirstLine, mIds, [&](unsigned id) {
        return new GuiStripChartLine(this, uint8_t(id), lineColour, agedColour, fillColour, 0);
    });
}

int GuiStripChart::RemoveLine(unsigned char id)
{
    return DeleteChartLine(&mpFirstLine, mIds, id);
}

GuiStripChartLine* GuiStripChart::GetLineByID(unsigned char id)
{
    return FindChartLine(mpFirstLine, id);
}

int GuiStripChart::AddData(unsigned char id, long value, int redraw)
{
    GuiStripChartLine* line = GetLineByID(id);
    if (!line || !line->AddData(value)) return 0;
    if (IsVisible() && redraw) DrawNewLineData(line);
    return 1;
}

// ---- colours ---------------------------------------------------------------------------------------

unsigned long GuiStripChart::LineColour(unsigned char id, uint32_t GuiStripChartLine::*field)
{
    GuiStripChartLine* l = GetLineByID(id);
    return l ? l->*field : GUI_STRIP_NO_LINE;
}

GuiStripChartLine* GuiStripChart::SetLineColour(unsigned char id, uint32_t GuiStripChartLine::*field,
                                                unsigned long colour)
{
    GuiStripChartLine* l = GetLineByID(id);
    if (l) l->*field = uint32_t(colour);
    return l;
}

unsigned long GuiStripChart::GetLineColor(unsigned char id) { return LineColour(id, &GuiStripChartLine::mLineColor); }
unsigned long GuiStripChart::GetLineAgedColor(unsigned char id) { return LineColour(id, &GuiStripChartLine::mAgedColor); }
unsigned long GuiStripChart::GetLineFillColor(unsigned char id) { return LineColour(id, &GuiStripChartLine::mFillColor); }
unsigned long GuiStripChart::GetLineLeaderColor(unsigned char id) { return LineColour(id, &GuiStripChartLine::mLeaderColor); }

GuiStripChartLine* GuiStripChart::SetLineColor(unsigned char id, unsigned long colour)
{
    return SetLineColour(id, &GuiStripChartLine::mLineColor, colour);
}

GuiStripChartLine* GuiStripChart::SetLineAgedColor(unsigned char id, unsigned long colour)
{
    return SetLineColour(id, &GuiStripChartLine::mAgedColor, colour);
}

GuiStripChartLine* GuiStripChart::SetLineFillColor(unsigned char id, unsigned long colour)
{
    return SetLineColour(id, &GuiStripChartLine::mFillColor, colour);
}

GuiStripChartLine* GuiStripChart::SetLineLeaderColor(unsigned char id, unsigned long colour)
{
    return SetLineColour(id, &GuiStripChartLine::mLeaderColor, colour);
}

// ---- mapping, messages, layout ---------------------------------------------------------------------

int GuiStripChart::IndexToPointX(unsigned int index) { return Map(long(index), 0).x; }

int GuiStripChart::ValToPointY(long value) { return Map(mMinX, value).y; }

int GuiStripChart::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE:
    case GM_SIZE_CHANGE:
        RecalcLayout(1);
        return GuiChart::Message(msg);
    default:   // 8 and 22 as the frame: shown, or following the parent
        return GuiChart::Message(msg);
    }
}

void GuiStripChart::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    RecalcLayout(0);
}

void GuiStripChart::RecalcSize(const GuiRect& rect, int redraw)
{
    Resize(rect);
    RedrawOuter(redraw);
}
