// A started runtime with a host window for the chart tests, and helpers to
// show a chart in it and repaint it whole.
#pragma once

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/charts/gui_chart.h"

class ChartTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 639, 479));
        pm->Add(host, 1);
    }

    // Shows the chart in the host with the style set before the first draw.
    template <class Chart>
    Chart* Show(Chart* chart, uint16_t style) {
        chart->mChartStyle = style;
        chart->RecalcLayout(0);
        host->Add(chart, 1);
        return chart;
    }
    // Repaints the whole chart.
    static void Repaint(GuiChart* chart) {
        GuiThing::mpScreen->Invalidate(chart->mOuter);
        chart->Draw();
    }
    // Nothing of the screen's invalidation is left open.
    static void ExpectNoOpenInvalidation() {
        EXPECT_EQ(GuiThing::mpScreen->InvalidCount(), 0);
        EXPECT_EQ(GuiThing::mpScreen->DrawNesting(), 0);
    }

    RecWindow* host = nullptr;
};
