// GuiStripChart: continuously arriving samples of one or more signals. Each
// signal is a GuiStripChartLine holding a ring of the last N samples, N the
// chart's sample count (its maximum X; the minimum X is 0). A new sample is
// drawn incrementally: only the strip around it is invalidated and redrawn.
// - Sweep (GCS_SWEEP): the newest sample moves from left to right over the
//   old trace, which stays visible in an aged colour right of a leader line.
// - Scroll (GCS_SCROLL): the oldest sample is always at the left.
#pragma once

#include <cstdint>

#include "gui/widgets/charts/gui_chart.h"
#include "gui/widgets/charts/gui_chart_ids.h"

constexpr uint8_t GT_STRIP_CHART = 41;
constexpr unsigned long GUI_STRIP_NO_LINE = 0xFFFFFFFFul;   // colour getters for an unknown id

class GuiStripChart;

class GuiStripChartLine {
public:
    // leaderColour 0 means the line colour.
    GuiStripChartLine(GuiStripChart* chart, unsigned char id, unsigned long lineColour, unsigned long agedColour,
                      unsigned long fillColour, unsigned long leaderColour);
    GuiStripChartLine(const GuiStripChartLine&) = delete;
    GuiStripChartLine& operator=(const GuiStripChartLine&) = delete;
    virtual ~GuiStripChartLine();

    // Stores the sample behind the newest, wrapping to slot 0 at the end
    // of the ring (the first sample lands in slot 1). 1 when stored, 0 for a
    // line without samples.
    int AddData(long value);
    // The sample of a slot; 0 for a slot outside the ring.
    long GetData(unsigned int index) const;

    uint8_t mId;
    uint32_t mNewest = 0;
    uint32_t mOldest = 0;
    uint32_t mCapacity = 0;
    int32_t* mpSamples = nullptr;
    uint32_t mLineColor;
    uint32_t mAgedColor;
    uint32_t mFillColor;
    uint32_t mLeaderColor;
    int32_t mWrapped = 0;
    GuiStripChartLine* mpNext = nullptr;
    GuiStripChart* mpChart;
};

class GuiStripChart : public GuiChart {
public:
    GuiStripChart(const GuiRect& rect, unsigned int samples, long minY, long maxY, unsigned int xInterval,
                  unsigned int yInterval);
    ~GuiStripChart() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void RecalcSize(const GuiRect& rect, int redraw) override;

    virtual void DrawLine(GuiStripChartLine* line);
    // The aged trace behind the leader of a wrapped line in sweep mode.
    virtual void DrawLineHistory(GuiStripChartLine* line);
    virtual void DrawNewLineData(GuiStripChartLine* line);
    // Repaints the screen's invalid rectangle: background, axes, grid, lines.
    virtual void DrawInvalidChartRegion();

    // A new line; its id (1 to 255), 0 when all are taken.
    unsigned char AddLine(unsigned long lineColour, unsigned long agedColour, unsigned long fillColour);
    // 1 when the line of that id (1 to 255) was removed, 0 when none has it.
    int RemoveLine(unsigned char id);
    // 1 when the sample was stored (and drawn when the chart is visible and
    // redraw is set), 0 when no line has the id or the line holds no samples.
    int AddData(unsigned char id, long value, int redraw);
    GuiStripChartLine* GetLineByID(unsigned char id);

    unsigned long GetLineColor(unsigned char id);
    unsigned long GetLineAgedColor(unsigned char id);
    unsigned long GetLineFillColor(unsigned char id);
    unsigned long GetLineLeaderColor(unsigned char id);
    GuiStripChartLine* SetLineColor(unsigned char id, unsigned long colour);
    GuiStripChartLine* SetLineAgedColor(unsigned char id, unsigned long colour);
    GuiStripChartLine* SetLineFillColor(unsigned char id, unsigned long colour);
    GuiStripChartLine* SetLineLeaderColor(unsigned char id, unsigned long colour);

    int IndexToPointX(unsigned int index);
    int ValToPointY(long value);

    GuiStripChartLine* mpFirstLine = nullptr;
    GuiChartIdMap mIds;

private:
    unsigned long LineColour(unsigned char id, uint32_t GuiStripChartLine::*field);
    GuiStripChartLine* SetLineColour(unsigned char id, uint32_t GuiStripChartLine::*field, unsigned long colour);
    // A segment from (x1, y1) to (x2, y2), first filled down to Y = 0 with
    // chart style 0x2000.
    void Segment(GuiPoint a, GuiPoint b, uint32_t colour, uint32_t fill);
    GuiPoint SamplePoint(const GuiStripChartLine* line, unsigned int slot, unsigned int position);
    // Invalidates D between the columns of two positions and repaints it.
    void RedrawColumns(int fromX, int toX);
    int LineCount() const;
};
