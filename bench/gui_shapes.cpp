// Shape primitives in ns per pixel set: solid fills should stay close to a
// plain rectangle fill of the same area, since all of them end in the
// driver's row fills.
#include <benchmark/benchmark.h>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/l24logi.h"

namespace {

struct Scene {
    GuiScreen* screen;
    GuiPresentationManager* root;
    Scene() {
        screen = CreateGuiScreen();
        GuiThing::mpScreen = screen;
        root = new GuiPresentationManager(GuiRect(0, 0, 1023, 479));
        GuiThing::mpPresentation = root;
        screen->GenerateViewportList(root);
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

// Runs draw in a repaint bracket of the visible screen per iteration and
// reports the time per pixel that one drawing sets.
template <class Draw>
void perPixel(benchmark::State& state, double pixels, Draw&& draw)
{
    Scene& s = scene();
    const GuiRect all(0, 0, 639, 479);
    for (auto _ : state) {
        s.screen->BeginDraw(s.root);
        s.screen->Invalidate(all);
        draw(s);
        s.screen->EndDraw();
    }
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_RectangleFill(benchmark::State& state)
{
    const GuiColor c{0, 0x336699, GUI_COLOR_FILL};
    perPixel(state, 440.0 * 440.0, [&](Scene& s) { s.screen->Rectangle(s.root, GuiRect(0, 0, 439, 439), c, 0); });
}

void BM_PolygonFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    GuiPoint diamond[] = {{320, 10}, {630, 240}, {320, 470}, {10, 240}};
    perPixel(state, 310.0 * 460.0, [&](Scene& s) { s.screen->Polygon(s.root, diamond, 4, c, 1); });
}

void BM_DiscFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    perPixel(state, 3.14159 * 220 * 220, [&](Scene& s) { s.screen->Circle(s.root, 320, 240, 220, c, 0); });
}

void BM_EllipseFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    perPixel(state, 3.14159 * 300 * 220,
             [&](Scene& s) { s.screen->Ellipse(s.root, GuiRect(20, 20, 620, 460), c, 1); });
}

void BM_DashedLine(benchmark::State& state)
{
    GuiColor c{0x336699, 0, 0};
    perPixel(state, 640.0 * 3 / 2, [&](Scene& s) {
        s.screen->PatternLine(s.root, 0, 100, 639, 300, c, 3, 0xF0F0F0F0, 1);
    });
}

// Three quarters of a disc: two passes over the row span table.
void BM_ArcSliceFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    perPixel(state, 3.14159 * 220 * 220 * 3 / 4,
             [&](Scene& s) { s.screen->Arc(s.root, 320, 240, 220, 45, 315, c, 0); });
}

// Half an ellipse cut along a diagonal, filled as one polygon.
void BM_ChordFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    GuiRect r(20, 20, 620, 460);
    perPixel(state, 3.14159 * 300 * 220 / 2, [&](Scene& s) {
        s.screen->Chord(s.root, r, GuiPoint{0, 470}, GuiPoint{640, 10}, c, 1);
    });
}

// A quarter of an ellipse.
void BM_PieFill(benchmark::State& state)
{
    GuiColor c{0x336699, 0x336699, GUI_COLOR_FILL};
    GuiRect r(20, 20, 620, 460);
    perPixel(state, 3.14159 * 300 * 220 / 4, [&](Scene& s) {
        s.screen->Pie(s.root, r, GuiPoint{630, 240}, GuiPoint{320, 0}, c, 1);
    });
}

}  // namespace

BENCHMARK(BM_RectangleFill);
BENCHMARK(BM_PolygonFill);
BENCHMARK(BM_DiscFill);
BENCHMARK(BM_EllipseFill);
BENCHMARK(BM_DashedLine);
BENCHMARK(BM_ArcSliceFill);
BENCHMARK(BM_ChordFill);
BENCHMARK(BM_PieFill);

BENCHMARK_MAIN();
