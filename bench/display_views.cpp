// Cost of the display's per-tick work: one text box and one bar graph
// converting, formatting and drawing a changing value (a page spends a
// budget of 21 such units per 50 ms refresh), and the raster task decoding
// a full measurement list into its holders.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/fonts/korva_fonts.h"
#include "display/values/cdata.h"
#include "display/values/value_text.h"
#include "display/views/cbarview.h"
#include "display/views/cdispbox.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "host/kernel/kernel.h"
#include "platform/byteorder.h"

namespace {

rgb_s Rgb(uint32_t c) { return rgb_s{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)}; }

awm_meas_in Float(uint32_t adr) {
    awm_meas_in in{};
    XmlInitChInput(&in);
    in.adr = adr;
    in.type = TE_FLOAT;
    in.quant_b = in.quant_f = 1;
    return in;
}

struct Scene {
    GuiWindow* page = nullptr;
    Scene() {
        char tmpl[] = "/tmp/display_bench_XXXXXX";
        if (mkdtemp(tmpl)) host::setDeviceFolder(tmpl);
        KorvaFonts_ini();
        GuiStartUp(nullptr, nullptr);
        page = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
        GuiThing::mpPresentation->Add(page, 1);
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

// A holder source fed by hand: the view converts and formats what it holds.
struct Fed {
    CData source;
    explicit Fed(display_elem_s* e) : source(e, CDATA_VALUE) { source.newMeas(); }
    ~Fed() { delete source.getMeas(); }
    void Put(float v) {
        uint8_t b[4];
        be_putf(b, v);
        source.getMeas()->putData(b);
    }
};

void BM_TextBoxTick(benchmark::State& state) {
    Scene& s = scene();
    display_elem_s e{};
    XmlInitAlphaNumeric(&e);
    e.pos_x = 20, e.pos_y = 60, e.size_x = 300, e.size_y = 120;
    e.alphanum.font_size = FONT_XXLARGE;
    e.alphanum.align = ALIGN_MM;
    e.alphanum.dispmode = DISP_NORMAL;
    std::strcpy(e.alphanum.format_str, "%.0f");
    std::strcpy(e.alphanum.title, "rpm");
    e.alphanum.ch_in = Float(0x05000010);
    e.alphanum.deco_middle.TextFGCol = Rgb(0xFFFFFF);
    e.alphanum.deco_middle.style = STYLE_SINGLE_LINE;
    Fed fed(&e);
    auto* box = new CDispBox(s.page->mOuter, &e, s.page, GST_FRAME_NONE);
    box->setData(&fed.source, CDATA_VALUE);
    s.page->Add(box, 1);
    float v = 1000;
    for (auto _ : state) {
        fed.Put(v += 7);
        benchmark::DoNotOptimize(box->update());
    }
    s.page->Remove(box, 0);
    delete box;
}
BENCHMARK(BM_TextBoxTick);

void BM_BarGraphTick(benchmark::State& state) {
    Scene& s = scene();
    display_elem_s e{};
    XmlInitBarGraph(&e);
    e.pos_x = 20, e.pos_y = 200, e.size_x = 600, e.size_y = 80;
    e.bargraph.min = 0, e.bargraph.max = 10000;
    e.bargraph.ch_in = Float(0x05000010);
    e.bargraph.deco_middle.BarFGCol = Rgb(0x00C000);
    Fed fed(&e);
    auto* bar = new CBarView(s.page->mOuter, &e, s.page, GST_FRAME_NONE);
    bar->setData(&fed.source, CDATA_VALUE);
    s.page->Add(bar, 1);
    float v = 0;
    for (auto _ : state) {
        v = v >= 10000 ? 0 : v + 37;
        fed.Put(v);
        benchmark::DoNotOptimize(bar->update());
    }
    s.page->Remove(bar, 0);
    delete bar;
}
BENCHMARK(BM_BarGraphTick);

void BM_ValueText(benchmark::State& state) {
    char out[DISP_VALUE_TEXT_LEN];
    double v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sprintf_w0x81(out, "%.1f\x81%.0f km/h", v += 0.37));
    }
}
BENCHMARK(BM_ValueText);

// A full list (113 floats) decoded on the raster task, per slot.
void BM_DecodeFullList(benchmark::State& state) {
    CDataManager m;
    std::vector<display_elem_s> elems(113);
    for (uint32_t i = 0; i < elems.size(); ++i) {
        XmlInitAlphaNumeric(&elems[i]);
        elems[i].alphanum.dispmode = DISP_NORMAL;
        elems[i].alphanum.ch_in = Float(0x05000000 + 4 * i);
        m.addData(&elems[i], 4, CDATA_VALUE);
    }
    CDataList* l = m.firstList();
    l->state = CDL_RUNNING;
    std::vector<uint8_t> slot(4 + 4 * elems.size());
    for (size_t i = 4; i < slot.size(); i += 4) be_putf(&slot[i], float(i));
    for (auto _ : state) m.readCyclic(0, slot.data(), l);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(elems.size()));
}
BENCHMARK(BM_DecodeFullList);

}  // namespace

BENCHMARK_MAIN();
