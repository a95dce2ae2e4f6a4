// Time of one page refresh of the display application, from the GUI timer
// tick to the finished flush, on the GUI task's path: an unchanged page, a
// page of 12 text boxes, 6 bar graphs and 2 pictures whose values all
// change, and the first refresh after a page switch (every view without
// budget). The refresh rate is one per 50 ms: "refresh_per_s" is what one
// core could reach, against the 20 the display needs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench_measurement_core.h"
#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/app/main_container.h"
#include "display/fonts/korva_fonts.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "host/kernel/kernel.h"
#include "measurement/catalogue.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/signalpage.h"
#include "platform/nvram.h"

namespace {

constexpr uint16_t kPid = 1;   // the PID of the shared measurement-core set-up
constexpr uint16_t kRaster = 4;

std::string input(const char* tag, const char* channel, const char* type = "FLOAT") {
    char b[400];
    std::snprintf(b, sizeof b,
                  "<%s adr=\"%08X\" type=\"%s\" mask=\"FFFFFFFF\" quant_a=\"0\" quant_b=\"1\" quant_c=\"0\" "
                  "quant_d=\"0\" quant_e=\"0\" quant_f=\"1\"/>",
                  tag, (uint32_t(kPid) << 24) | catalogue_addr(channel), type);
    return b;
}

std::string colours(const char* deco, const char* extra) {
    return std::string("<DecoMiddle><") + deco + " style=\"single_line\"><BGCol red=\"0\" green=\"0\" blue=\"0\"/>"
           "<TitleBGCol red=\"0\" green=\"0\" blue=\"0\"/><TitleFGCol red=\"c0\" green=\"c0\" blue=\"c0\"/>"
           "<BorderBGCol red=\"0\" green=\"0\" blue=\"0\"/><BorderFGCol red=\"80\" green=\"80\" blue=\"80\"/>" +
           extra + "</" + deco + "></DecoMiddle>";
}

std::string box(int x, int y, int prio, const char* channel) {
    char b[400];
    std::snprintf(b, sizeof b,
                  "<AlphaNumeric version=\"1.0\" title=\"v%d\" vis_mode=\"always\" always_on_top=\"false\" "
                  "prio=\"%d\" pos_x=\"%d\" pos_y=\"%d\" size_x=\"150\" size_y=\"70\" font_size=\"small\" "
                  "align=\"MM\" dispmode=\"normal\" vtab=\"\" format_str=\"%%.1f\">",
                  prio, prio, x, y);
    return b + input("ChInput", channel) +
           colours("AlphaNumDeco", "<TextBGCol red=\"0\" green=\"0\" blue=\"0\"/>"
                                   "<TextFGCol red=\"ff\" green=\"ff\" blue=\"ff\"/>") +
           "</AlphaNumeric>";
}

std::string bar(int x, int y, int prio, const char* channel) {
    char b[400];
    std::snprintf(b, sizeof b,
                  "<BarGraph version=\"1.0\" title=\"b%d\" vis_mode=\"always\" always_on_top=\"false\" prio=\"%d\" "
                  "pos_x=\"%d\" pos_y=\"%d\" size_x=\"300\" size_y=\"40\" style=\"solid\" orientation=\"hori_lr\" "
                  "min=\"0\" max=\"10000\" ticks=\"false\">",
                  prio, prio, x, y);
    return b + input("ChInput", channel) +
           colours("BarGraphDeco", "<BarBGCol red=\"20\" green=\"20\" blue=\"20\"/>"
                                   "<BarFGCol red=\"0\" green=\"c0\" blue=\"0\"/>"
                                   "<TicksCol red=\"ff\" green=\"ff\" blue=\"ff\"/>") +
           "</BarGraph>";
}

std::string picture(int x, int y, int prio, long size) {
    char b[600];
    // display.xml gives a picture's offset and length in hexadecimal
    std::snprintf(b, sizeof b,
                  "<Picture version=\"1.0\" title=\"\" vis_mode=\"limit\" always_on_top=\"false\" prio=\"%d\" "
                  "pos_x=\"%d\" pos_y=\"%d\" size_x=\"64\" size_y=\"32\" filename=\"cfg:/flag.png\" ofs=\"0\" "
                  "len=\"%lX\"><TransparentCol red=\"ff\" green=\"0\" blue=\"ff\"/>",
                  prio, x, y, size);
    // shown while the square wave of the stimulus is high
    return b + input("VisInput", "stim_tick", "UINT32") + colours("PictureDeco", "") + "</Picture>";
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Display {
    std::string folder;
    CMainContainer* container = nullptr;
    float t = 0;

    Display() {
        char tmpl[] = "/tmp/display_pages_bench_XXXXXX";
        folder = mkdtemp(tmpl) ? tmpl : "/tmp";
        benchMeasurementCoreOnce();
        host::setDeviceFolder(folder);   // the display reads its files from here
        routing_init(kPid);
        meas_man_init();
        nvram_dbs_init();
        KorvaFonts_ini();
        GuiStartUp(nullptr, GuiAppInitialize);
        container = dynamic_cast<CMainContainer*>(GuiThing::mpPresentation->mpFirstChild);

        const char* src = std::getenv("TAV9_SOURCE_DIR");
        const std::string flag = readFile(std::string(src ? src : ".") + "/sample/cfg/flag.png");
        std::system(("mkdir -p " + folder + "/cfg").c_str());
        std::ofstream(folder + "/cfg/flag.png", std::ios::binary) << flag;

        const char* names[] = {"n_engine", "v_vehicle", "throttle", "t_water", "t_oil", "p_oil"};
        std::string busy;
        for (int i = 0; i < 12; ++i) busy += box(5 + (i % 4) * 158, 5 + (i / 4) * 75, i + 1, names[i % 6]);
        for (int i = 0; i < 6; ++i) busy += bar(5 + (i % 2) * 320, 235 + (i / 2) * 45, 13 + i, "n_engine");
        busy += picture(500, 400, 19, long(flag.size())) + picture(560, 400, 20, long(flag.size()));
        std::string quiet = box(20, 20, 1, "t_air");
        std::string xml = "<?xml version=\"1.0\"?>\n<Display version=\"1.0\" x_res=\"640\" y_res=\"480\">"
                          "<Brightness><perc value=\"100\"/></Brightness><Pages>"
                          "<Page><BGCol red=\"0\" green=\"0\" blue=\"0\"/><DisplayElements>" + quiet +
                          "</DisplayElements></Page>"
                          "<Page><BGCol red=\"0\" green=\"0\" blue=\"0\"/><DisplayElements>" + busy +
                          "</DisplayElements></Page></Pages></Display>\n";
        std::ofstream(folder + "/cfg/display.xml") << xml;
        displayStart();
        GuiDispatchPending();
        if (!container || !container->pages[0] || !container->pages[1]) {
            std::fprintf(stderr, "display pages bench: display.xml did not load\n");
            std::exit(1);
        }
    }

    // New values of every changing channel, delivered to the display.
    void Change() {
        t += 1.0f;
        SignalPage* sp = signalPage();
        sp->n_engine = 1000.0f + 37.0f * t;
        sp->v_vehicle = 0.5f * t;
        sp->throttle = float(int(t) % 100);
        sp->t_water = 80.0f + 0.1f * t;
        sp->t_oil = 100.0f + 0.1f * t;
        sp->p_oil = 3.0f + 0.01f * t;
        sp->stim_tick = uint32_t(t) & 1;
        static uint32_t ts = 1000;
        ts += 200;
        meas_man_copy_raster(kRaster, ts);
        gw_distribute(kRaster);
    }
    void Switch(int index) {
        displaySwitchPage(unsigned(index));
        GuiDispatchPending();
    }
    void Refresh() {
        GuiTimerTaskStep();
        GuiDispatchPending();
    }
};

Display& display() {
    static Display d;
    return d;
}

void rate(benchmark::State& state) {
    state.counters["refresh_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["needed_per_s"] = 20;
    // views that drew in the last refresh, and those left for the next
    state.counters["updated"] = dispSignals().display_elements_updated;
    state.counters["skipped"] = dispSignals().display_elements_skipped;
}

void BM_RefreshUnchangedPage(benchmark::State& state) {
    Display& d = display();
    d.Switch(0);
    d.Refresh();
    for (auto _ : state) d.Refresh();
    rate(state);
}
BENCHMARK(BM_RefreshUnchangedPage)->Unit(benchmark::kMicrosecond);

void BM_RefreshBusyPageAllChanging(benchmark::State& state) {
    Display& d = display();
    d.Switch(1);
    d.Refresh();
    for (auto _ : state) {
        state.PauseTiming();
        d.Change();
        state.ResumeTiming();
        d.Refresh();
    }
    rate(state);
}
BENCHMARK(BM_RefreshBusyPageAllChanging)->Unit(benchmark::kMicrosecond);

void BM_FirstRefreshAfterPageSwitch(benchmark::State& state) {
    Display& d = display();
    for (auto _ : state) {
        state.PauseTiming();
        d.Change();
        d.Switch(0);
        d.Switch(1);   // the busy page again: every view without budget
        state.ResumeTiming();
        d.Refresh();
    }
    rate(state);
}
BENCHMARK(BM_FirstRefreshAfterPageSwitch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
