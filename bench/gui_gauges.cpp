// Full draws of dials and a linear scale with ticks every value over the
// whole 32-bit range: a draw should stay well under a millisecond, the
// ticks costing one line per place they can land on, not one per value.
// The 0 to 100 gauges with ten ticks are the everyday reference.
#include <benchmark/benchmark.h>

#include <climits>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_dial.h"
#include "gui/widgets/gauges/gui_scale.h"

namespace {

constexpr unsigned kDialStyle = GDS_THIN_NEEDLE | GDS_TICKS | GST_FRAME_THIN;
constexpr unsigned kScaleStyle = GSS_VERTICAL | GSS_MIN_LOW | GSS_TICKS | GSS_THIN_NEEDLE;

struct Scene {
    GuiWindow* page = nullptr;
    Scene()
    {
        GuiStartUp(nullptr, nullptr);
        page = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
        GuiThing::mpPresentation->Add(page, 1);
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

// Shows the gauge and times its full draws over its whole area.
void drawLoop(benchmark::State& state, GuiThing* gauge)
{
    Scene& s = scene();
    s.page->Add(gauge, 1);
    for (auto _ : state) {
        GuiThing::mpScreen->Invalidate(gauge->mOuter);
        gauge->Draw();
    }
    s.page->Destroy(gauge);
}

GuiFiniteDial* finiteDial(long min, long max, int interval)
{
    auto* dial = new GuiFiniteDial(GuiRect(20, 20, 259, 259), 225, -45, min, max, kDialStyle);
    dial->miTickInterval = interval;
    return dial;
}

GuiCircularDial* circularDial(long perTurn, long min, long max, int interval)
{
    auto* dial = new GuiCircularDial(GuiRect(20, 20, 259, 259), 90, perTurn, min, max, kDialStyle);
    dial->miTickInterval = interval;
    return dial;
}

void BM_FiniteDialTenTicks(benchmark::State& state) { drawLoop(state, finiteDial(0, 100, 10)); }
void BM_FiniteDialEveryValueOf32Bits(benchmark::State& state) { drawLoop(state, finiteDial(INT32_MIN, INT32_MAX, 1)); }
// 60000 values over 270 degrees: the ticks reach 236 distinct angles.
void BM_FiniteDialEveryValueOf60000(benchmark::State& state) { drawLoop(state, finiteDial(0, 60000, 1)); }

void BM_CircularDialTenTicks(benchmark::State& state) { drawLoop(state, circularDial(100, 0, 100, 10)); }
void BM_CircularDialEveryValueOf32Bits(benchmark::State& state)
{
    // One turn per 2^31 - 1 values: a billion ticks before the turn ends.
    drawLoop(state, circularDial(INT32_MAX, INT32_MIN, INT32_MAX, 1));
}
void BM_CircularDialEveryValueOfATurn(benchmark::State& state)
{
    // 9000 values per turn: every degree gets ticks.
    drawLoop(state, circularDial(9000, 0, 9000, 1));
}

void BM_LinearScaleTenTicks(benchmark::State& state)
{
    drawLoop(state, new GuiLinearScale(GuiRect(300, 20, 339, 419), 0, 100, 10, kScaleStyle));
}
void BM_LinearScaleEveryValueOf32Bits(benchmark::State& state)
{
    drawLoop(state, new GuiLinearScale(GuiRect(300, 20, 339, 419), INT32_MIN, INT32_MAX, 1, kScaleStyle));
}
// 20000 values along a 350-pixel track: a tick on every pixel.
void BM_LinearScaleEveryValueOf20000(benchmark::State& state)
{
    drawLoop(state, new GuiLinearScale(GuiRect(300, 20, 339, 419), 0, 20000, 1, kScaleStyle));
}

}  // namespace

BENCHMARK(BM_FiniteDialTenTicks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FiniteDialEveryValueOf32Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FiniteDialEveryValueOf60000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CircularDialTenTicks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CircularDialEveryValueOf32Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CircularDialEveryValueOfATurn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LinearScaleTenTicks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LinearScaleEveryValueOf32Bits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LinearScaleEveryValueOf20000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
