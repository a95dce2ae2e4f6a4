// The logging raster under load: 20 blocks of 1 ms records (15 four-byte
// values, 64 bytes a record), a global start condition and a per-block
// condition on half of the blocks, for 60 s of simulated time. Each tick
// copies the values (producer), delivers them to the logging application's
// callbacks (into the logger FIFOs), evaluates the conditions every 10 ms
// and runs the logging raster "rMeas" (FIFOs into the file store). The clock
// is simulated, so the run takes what the ticks cost; the file writers run
// in their own tasks as on the device.
//
// Reported: per-tick cost (p50, p99, max) of the whole tick and of rMeas
// alone, the share of one core, the bytes per second the writers wrote
// (simulated seconds), and the FIFO full counter (must stay 0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/app/meas_app.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/seram.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"
#include "platform/nvram.h"
#include "platform/raster_bodies.h"
#include "platform/timebase.h"

namespace {

constexpr unsigned kBlocks = 20;
constexpr unsigned kValues = 15;   // 4 + 15 x 4 = 64 bytes a record
constexpr unsigned kSeconds = 60;

std::string hexAddr(measaddr_t a) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", unsigned(a & 0xFFFFFF) | (1u << 24));
    return b;
}

std::string config() {
    const measaddr_t base = catalogue_addr("memory_canin");
    std::string x = "<AcqInfo ident=\"bench\" num_blocks=\"" + std::to_string(kBlocks) +
                    "\" num_conditions=\"2\" version=\"1\" protocol=\"0\">\n<GlobStartCond idx=\"0\"/>\n";
    for (unsigned b = 0; b < kBlocks; ++b) {
        x += "<Block name=\"b" + std::to_string(b) + "\" idx=\"" + std::to_string(b) +
             "\" num_seqs=\"1\" true_div=\"1\" false_div=\"10\" Raster=\"R1ms\"" +
             (b % 2 ? " cond_id=\"1\"" : "") + "><CopySeq align=\"4\" size=\"4\" num=\"" + std::to_string(kValues) +
             "\" idx=\"0\">";
        for (unsigned v = 0; v < kValues; ++v)
            x += "<adr adr=\"" + hexAddr(base + 4 * (b * kValues + v)) + "\" idx=\"" + std::to_string(v) + "\"/>";
        x += "</CopySeq></Block>\n";
    }
    x += "<Condition adr=\"" + hexAddr(catalogue_addr("stim_active")) + "\" idx=\"0\" size=\"1\" pretrigger=\"0\"/>\n";
    x += "<Condition adr=\"" + hexAddr(catalogue_addr("stim_active")) + "\" idx=\"1\" size=\"1\" pretrigger=\"0\"/>\n";
    return x + "</AcqInfo>\n";
}

// The device clock follows the simulated time; between two settings it runs
// on, so a slow tick moves the simulated time on rather than back.
uint32_t gOffset = 0;
void setClock(uint32_t& simulated) {
    if (int32_t(host::timeStamp() - simulated) > 0) simulated = host::timeStamp();
    const uint32_t raw = host::timeStamp() - gOffset;
    gOffset = simulated - raw;
    host::setTimeStampOffset(gOffset);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void BM_LoggingRaster20Blocks1ms(benchmark::State& state) {
    char tmpl[] = "/tmp/tav9_bench_logging_XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = tmpl;
    host::setDeviceFolder(dir);
    host::resetForTest();
    for (const char* d : {"cfg", "meas", "meas2"}) std::filesystem::create_directories(dir + "/" + d);
    app_pid = 1;
    nvram_dbs_init();
    dynkomm_init(1);
    seram_init();
    catalogue_init();
    comint_set_own_pid(1);
    routing_init(1);
    gw_init(1);
    meas_man_init();
    std::ofstream(dir + "/cfg/m01.xml") << config();
    cfg_system.loggingActive = 1;
    cfg_system.ecuClass = 5;
    LapOutFra_init();
    LapOutFra_initLapOutCnt(1, 1);
    host::setTimeSyncState(1);
    rasterBodies_reset();
    meas_app_addRasterEntries();
    meas_app_ini();
    SignalPage& sp = *signalPage();
    sp.stim_active = 1;
    meas_fifo_signals().fifo_full_ctr = 0;

    std::vector<double> tickUs, measUs;
    tickUs.reserve(kSeconds * 1000);
    measUs.reserve(kSeconds * 1000);
    uint32_t sim = time_getTimestamp();
    const uint32_t simStart = sim;
    double totalUs = 0;
    for (auto _ : state) {
        for (unsigned ms = 0; ms < kSeconds * 1000; ++ms, sim += 10) {
            setClock(sim);
            for (unsigned i = 0; i < kBlocks * kValues; ++i) sp.memory_canin[i] = ms * 31 + i;
            auto t0 = std::chrono::steady_clock::now();
            for (int r : {0, 2, 3}) {
                if (ms % unsigned(raster2rate(r)) != 0) continue;
                meas_man_copy_raster(unsigned(r), sim);
                gw_distribute(unsigned(r));
            }
            if (ms % 10 == 0) rasterBodies_run(RB_10MS);
            auto t1 = std::chrono::steady_clock::now();
            rasterBodies_run(RB_MEAS);
            auto t2 = std::chrono::steady_clock::now();
            measUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
            tickUs.push_back(std::chrono::duration<double, std::micro>(t2 - t0).count());
            totalUs += tickUs.back();
        }
    }
    // stop logging and let the writers finish
    sp.meas_app_stopreq = 1;
    for (unsigned i = 0; i < 20000 && (sp.meas_app_stopreq || sp.meas_app_blkstopreq ||
                                       !meas_app_PreTrigIsOfflineDataFlushed());
         ++i, sim += 10) {
        setClock(sim);
        rasterBodies_run(RB_MEAS);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double seconds = double(sim - simStart) / 10000.0;
    const MeasStoreWriteCounters& w = meas_store_writeCounters(MEAS_IDX_M01, 0);
    state.counters["tick_p50_us"] = percentile(tickUs, 0.50);
    state.counters["tick_p99_us"] = percentile(tickUs, 0.99);
    state.counters["tick_max_us"] = percentile(tickUs, 1.0);
    state.counters["rMeas_p50_us"] = percentile(measUs, 0.50);
    state.counters["rMeas_p99_us"] = percentile(measUs, 0.99);
    state.counters["rMeas_max_us"] = percentile(measUs, 1.0);
    state.counters["core_percent"] = totalUs / (kSeconds * 1e6) * 100.0;
    state.counters["written_bytes_per_s"] = double(w.bytes) / seconds;
    state.counters["records_saved"] = double(sp.meas_cnt_ecu);
    state.counters["fifo_full_ctr"] = double(meas_fifo_signals().fifo_full_ctr);

    sp.meas_app_destroyreq = 1;
    for (unsigned i = 0; i < 5000 && (meas[0].stateFlags & 1); ++i, sim += 10) {
        setClock(sim);
        rasterBodies_run(RB_MEAS);
    }
    meas_app_resetForTest();
    MeasAppStore_deinit();
    rasterBodies_reset();
    gw_shutdown();
    meas_man_shutdown();
    host::setTimeStampOffset(0);
    host::resetForTest();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoggingRaster20Blocks1ms)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
