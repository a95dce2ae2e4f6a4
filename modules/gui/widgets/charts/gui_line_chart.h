// Line charts: polylines of data points over the chart frame.
// - GuiLineChart holds one line of its own in one colour;
// - GuiMultiLineChart holds any number of GuiChartLine objects, each with
//   its own colour and a numeric id from 1 to 255.
// Points keep their screen position, mapped by the chart when a point is
// added and again whenever the chart's layout changes.
#pragma once

#include <cstdint>

#include "gui/widgets/charts/gui_chart.h"
#include "gui/widgets/charts/gui_chart_ids.h"

constexpr uint8_t GT_LINE_CHART = 40;
constexpr uint8_t GT_MULTI_LINE_CHART = 42;

// A singly linked list of points in the order given, owned by a line and
// mapped by its chart.
class GuiChartPointList {
public:
    explicit GuiChartPointList(GuiChart* chart) : mpChart(chart) {}
    GuiChartPointList(const GuiChartPointList&) = delete;
    GuiChartPointList& operator=(const GuiChartPointList&) = delete;
    ~GuiChartPointList() { Reset(); }

    // Appends a mapped point; null when memory runs out.
    GuiChartPoint* Add(long x, long y);
    // Behind `after`, or behind the last point when `after` is not in the list.
    GuiChartPoint* Insert(GuiChartPoint* after, long x, long y);
    // Deletes the point when it is in the list; returns the point before it
    // (null when it was the first or not found).
    GuiChartPoint* Remove(GuiChartPoint* point);
    void Recalc();
    void Reset();
    // The point whose successor is `point`, null for none.
    GuiChartPoint* Before(const GuiChartPoint* point) const;
    // A line between each pair of consecutive points, each first filled down
    // to Y = 0 when `fill` is given.
    void Draw(const GuiColor& line, const GuiColor* fill) const;

    GuiChartPoint* mpFirst = nullptr;
    GuiChart* mpChart;
};

class GuiChartLine {
public:
    GuiChartLine(GuiChart* chart, unsigned char id, unsigned long colour);
    GuiChartLine(const GuiChartLine&) = delete;
    GuiChartLine& operator=(const GuiChartLine&) = delete;
    virtual ~GuiChartLine() = default;
    // Drawn on its chart, filled under the line with chart style 0x2000.
    virtual void Draw();

    GuiChartPoint* AddPoint(long x, long y) { return mPoints.Add(x, y); }
    GuiChartPoint* InsertPoint(GuiChartPoint* after, long x, long y) { return mPoints.Insert(after, x, y); }
    GuiChartPoint* RemovePoint(GuiChartPoint* point) { return mPoints.Remove(point); }
    void RecalcLine() { mPoints.Recalc(); }
    void ResetLine() { mPoints.Reset(); }
    GuiChartPoint* FirstPoint() const { return mPoints.mpFirst; }

    GuiChartPointList mPoints;
    GuiChart* mpChart;
    uint8_t mId;
    GuiColor mLineColor;
    GuiColor mFillColor;
    GuiChartLine* mpNext = nullptr;
};

class GuiLineChart : public GuiChart {
public:
    GuiLineChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY, unsigned int xInterval,
                 unsigned int yInterval);

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void RecalcSize(const GuiRect& rect, int redraw) override;

    GuiChartPoint* AddPoint(long x, long y) { return mPoints.Add(x, y); }
    GuiChartPoint* InsertPoint(GuiChartPoint* after, long x, long y) { return mPoints.Insert(after, x, y); }
    GuiChartPoint* RemovePoint(GuiChartPoint* point) { return mPoints.Remove(point); }
    void RecalcLine() { mPoints.Recalc(); }
    void ResetLine() { mPoints.Reset(); }

    GuiChartPointList mPoints{this};
    uint32_t mLineColor = 0x00FF00;
};

class GuiMultiLineChart : public GuiChart {
public:
    GuiMultiLineChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY, unsigned int xInterval,
                      unsigned int yInterval);
    ~GuiMultiLineChart() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void RecalcSize(const GuiRect& rect, int redraw) override;
    // A new line of the colour; its id (1 to 255), 0 when all are taken.
    virtual unsigned char AddLine(unsigned long colour);

    // 1 when the line of that id (1 to 255) was removed, 0 when none has it.
    int RemoveLine(unsigned char id);
    GuiChartLine* GetLineFromID(unsigned char id);
    // The new point, null when no line has the id; redraw draws the stretch
    // around the new point.
    GuiChartPoint* AddPoint(unsigned char id, long x, long y, int redraw);
    GuiChartPoint* InsertPoint(unsigned char id, GuiChartPoint* after, long x, long y, int redraw);
    void RecalcLine(unsigned char id, int redraw);
    void ResetLine(unsigned char id, int redraw);
    void ResetAllLines(int redraw);
    // Redraws the area from the point before `point` (before, or the
    // point's predecessor when null) to the one after it.
    void DrawNewLineData(GuiChartLine* line, GuiChartPoint* point, GuiChartPoint* before);

    GuiChartLine* mpFirstLine = nullptr;
    GuiChartIdMap mIds;

private:
    void RedrawData();
};
