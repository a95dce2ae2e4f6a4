// GuiChart: the frame of every chart. It keeps the data ranges of both axes,
// lays out a data rectangle inside its client area that leaves room for
// ticks and numeric labels, maps data values to screen points and draws
// grid lines, ticks, axes and labels. The line charts and the strip chart
// derive from it and draw their data over it.
//
// Mapping is integer fixed point: the offset from the minimum, times 256,
// divided by the range, then scaled to the rectangle and shifted back by 8.
// It runs in 64 bits, so ranges of the whole 32-bit span map without
// overflow.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

// Chart style bits (GuiChart::mChartStyle).
enum : uint16_t {
    GCS_X_GRID = 0x0001,          // vertical grid lines
    GCS_Y_GRID = 0x0002,          // horizontal grid lines
    GCS_X_TICKS = 0x0004,         // X ticks and X axis
    GCS_Y_TICKS = 0x0008,         // Y ticks and Y axis
    GCS_FOLLOW_PARENT = 0x0010,   // sized to the parent's client area
    GCS_SCROLL = 0x0020,          // strip chart: oldest sample at the left
    GCS_SWEEP = 0x0040,           // strip chart: newest sample sweeps over the old trace
    GCS_AGED_REDRAW = 0x0100,     // strip chart: aged traces of all lines after an update
    GCS_LEADER = 0x0200,          // strip chart: leader line at the newest sample
    GCS_Y_TICKS_RIGHT = 0x0400,   // Y ticks and axis also on the right
    GCS_Y_LABELS_RIGHT = 0x0800,  // Y labels also on the right
    GCS_X_AXIS_AT_ZERO = 0x1000,  // the X axis runs through Y = 0
    GCS_FILL = 0x2000,            // fill under chart lines
    GCS_X_LABELS = 0x4000,
    GCS_Y_LABELS = 0x8000,
};

// Colour slots of a chart.
enum : uint8_t {
    GUI_CHART_BACKGROUND = 0,
    GUI_CHART_GRID = 2,
    GUI_CHART_AXES = 3,   // ticks, axes and label text
};

// One data point of a chart line in a singly linked list.
struct GuiChartPoint {
    GuiChartPoint(long x, long y, GuiChartPoint* next);

    GuiPoint mScreen;   // (0, 0) until mapped
    int32_t mX;
    int32_t mY;
    GuiChartPoint* mpNext;
};

class GuiChart : public GuiThing {
public:
    GuiChart(const GuiRect& rect, long minX, long maxX, long minY, long maxY, unsigned int xInterval,
             unsigned int yInterval);

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void ParentShift(int dx, int dy) override;

    virtual void RecalcLayout(int redraw);
    virtual void RecalcSize(const GuiRect& rect, int redraw);
    virtual void MapDataToPoint(GuiChartPoint* point);
    // The data values of a screen point (the inverse of MapDataToPoint, the
    // minima added).
    virtual void MapPointToData(GuiChartPoint* point);
    virtual void DrawXTics();
    virtual void DrawYTics();
    virtual void DrawXGrid();
    virtual void DrawYGrid();
    virtual void DrawXLabels();
    virtual void DrawYLabels();

    // The screen point of a data pair.
    GuiPoint Map(long x, long y);

    int32_t mMinX;
    int32_t mMaxX;
    int32_t mMinY;
    int32_t mMaxY;
    uint32_t mXMajor;
    uint32_t mXMinor = 0;
    uint32_t mYMajor;
    uint32_t mYMinor = 0;
    int32_t mMajorTickLength = 12;
    int32_t mMinorTickLength = 8;
    uint32_t mXLabelInterval;
    uint32_t mYLabelInterval;
    int32_t mXLabelHeight = 0;   // 0: the font's text height
    int32_t mYLabelWidth = 0;    // 0: measured from the labels of the Y minimum and maximum
    uint16_t mChartStyle = 0;    // nothing drawn but the background until set
    const GuiFont* mpFont;
    GuiRect mData;               // the data rectangle

protected:
    // Messages 8 (show) and 22 (parent sized): the default handling, then
    // with GCS_FOLLOW_PARENT the size of the parent's client area. True when
    // the chart followed its parent.
    bool ShowOrFollowParent(const GuiMessage& msg);
    // With redraw non-zero: the outer rectangle invalidated and drawn.
    void RedrawOuter(int redraw);
    // The base line of the X ticks and labels: Y = 0 or the bottom.
    int XAxisRow();
    int LabelWidth(long value);
    int LabelHeight();
    // Tick marks of one interval along an axis; returns the screen
    // coordinate of the last mark, or `none` when there was none.
    int XTickMarks(uint32_t interval, int length, int y, int none);
    int YTickMarks(uint32_t interval, int length, int none);
};
