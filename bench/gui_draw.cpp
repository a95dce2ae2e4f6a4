// Drawing throughput of the frame-buffer driver in ns per pixel, each beside
// memset / memcpy of the same bytes as the physical limit; the ratios to
// those peers are printed at the end. Every benchmark sets up what it uses,
// so any order (--benchmark_enable_random_interleaving) works.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_thing.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/l24logi.h"
#include "gui/draw/scrndrv.h"
#include "host/kernel/kernel.h"

namespace {

constexpr int kW = 640, kH = 480;
constexpr int kPixels = kW * kH;

std::string gFolder;

struct Scene {
    GuiScreen* screen;
    GuiPresentationManager* root;
    GuiBitmap* picture;
    Scene() {
        char tmpl[] = "/tmp/gui_draw_bench_XXXXXX";
        if (mkdtemp(tmpl)) {   // screen.png of the flushes goes there
            gFolder = tmpl;
            host::setDeviceFolder(gFolder);
        }
        screen = CreateGuiScreen();
        GuiThing::mpScreen = screen;
        root = new GuiPresentationManager(GuiRect(0, 0, 1023, 479));
        GuiThing::mpPresentation = root;
        screen->GenerateViewportList(root);
        picture = screen->CreateBitmap(kW, kH, 0);
        auto* px = reinterpret_cast<uint32_t*>(picture->data);
        for (int i = 0; i < kPixels; ++i) px[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

void perPixel(benchmark::State& state, double pixels)
{
    // Rate of pixels inverted: seconds per pixel; the counter prints it with
    // an SI prefix (e.g. "1.2n" = 1.2 ns per pixel).
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void BM_FillScreen(benchmark::State& state)
{
    Scene& s = scene();
    const GuiColor c{0, 0x336699, GUI_COLOR_FILL};
    const GuiRect all(0, 0, kW - 1, kH - 1);
    for (auto _ : state) {
        s.screen->BeginDraw(s.root);
        s.screen->Invalidate(all);
        s.screen->Rectangle(s.root, all, c, 0);
        s.screen->EndDraw();
    }
    perPixel(state, kPixels);
}

void BM_MemsetScreen(benchmark::State& state)
{
    scene();   // the frame buffer's rows are set up with the screen
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y) std::memset(gbVMemory + y * 1024, 0x33, kW * 4);
        benchmark::ClobberMemory();
    }
    perPixel(state, kPixels);
}

void BM_BlitTrueColour(benchmark::State& state)
{
    Scene& s = scene();
    const GuiRect all(0, 0, kW - 1, kH - 1);
    for (auto _ : state) {
        s.screen->BeginDraw(s.root);
        s.screen->Invalidate(all);
        s.screen->Bitmap(s.root, GuiPoint{0, 0}, s.picture, 0);
        s.screen->EndDraw();
    }
    perPixel(state, kPixels);
}

void BM_MemcpyScreen(benchmark::State& state)
{
    Scene& s = scene();
    const auto* src = reinterpret_cast<const uint32_t*>(s.picture->data);
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y) std::memcpy(gbVMemory + y * 1024, src + y * kW, kW * 4);
        benchmark::ClobberMemory();
    }
    perPixel(state, kPixels);
}

void BM_DrawText(benchmark::State& state)
{
    Scene& s = scene();
    GuiColor c{0xFFFFFF, 0x000000, uint8_t(state.range(0))};
    const char* text = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    const int w = s.screen->TextWidth(text, &SysFont, -1);
    const int h = s.screen->TextHeight(text, &SysFont);
    const GuiRect all(0, 0, kW - 1, kH - 1);
    const int lines = kH / h;
    for (auto _ : state) {
        s.screen->BeginDraw(s.root);
        s.screen->Invalidate(all);
        for (int l = 0; l < lines; ++l)
            s.screen->DrawText(s.root, GuiPoint{0, int16_t(l * h)}, text, c, &SysFont, -1, 0);
        s.screen->EndDraw();
    }
    perPixel(state, double(w) * h * lines);
}

void BM_MemsetText(benchmark::State& state)
{
    Scene& s = scene();
    const char* text = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    const int w = s.screen->TextWidth(text, &SysFont, -1);
    const int h = s.screen->TextHeight(text, &SysFont);
    const int lines = kH / h;
    for (auto _ : state) {
        for (int y = 0; y < lines * h; ++y) std::memset(gbVMemory + y * 1024, 0, size_t(w) * 4);
        benchmark::ClobberMemory();
    }
    perPixel(state, double(w) * h * lines);
}

void BM_FlushCopy(benchmark::State& state)
{
    scene();
    for (auto _ : state) {
        scrndrvFlush();
        scrndrvWaitFlush();
    }
    perPixel(state, kPixels);
}

void BM_MemcpyFlush(benchmark::State& state)
{
    scene();
    std::vector<uint32_t> back(kPixels);
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y) std::memcpy(&back[size_t(y) * kW], gbVMemory + y * 1024, kW * 4);
        benchmark::ClobberMemory();
    }
    perPixel(state, kPixels);
}

}  // namespace

BENCHMARK(BM_FillScreen);
BENCHMARK(BM_MemsetScreen);
BENCHMARK(BM_BlitTrueColour);
BENCHMARK(BM_MemcpyScreen);
BENCHMARK(BM_DrawText)->Arg(0)->Arg(GUI_COLOR_FILL);
BENCHMARK(BM_MemsetText);
BENCHMARK(BM_FlushCopy);
BENCHMARK(BM_MemcpyFlush);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter({{"BM_FillScreen", "BM_MemsetScreen"},
                            {"BM_BlitTrueColour", "BM_MemcpyScreen"},
                            {"BM_DrawText/0", "BM_MemsetText"},
                            {"BM_FlushCopy", "BM_MemcpyFlush"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    host::screenStop();
    if (!gFolder.empty()) std::filesystem::remove_all(gFolder);
    return 0;
}
