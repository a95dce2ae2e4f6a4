// How long a lap, outing or fragment trigger holds the logging raster up.
//
// When the raster closes a file it takes the counters and the lap stack (for
// the file's status block); a trigger changes both, and the lap stack and
// counters are kept in NVRAM. A thread standing in for the raster takes them
// over and over while the trigger runs on the benchmark's thread; the
// longest wait it sees is reported (raster_wait_max_ms), with the time the
// trigger took (its iteration time, trigger_max_ms). Each runs with the
// disk's syncs as they are and with every sync 30 ms slower, as on a flash
// card: this program's own fsync and fdatasync stand in front of the C
// library's. Between two triggers the NVRAM is written out, not timed.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "host/kernel/kernel.h"
#include "logging/counters/lapoutfra.h"
#include "logging/statusblock/sb_lapstack.h"
#include "logging/statusblock/statusblock.h"
#include "platform/nvram.h"

namespace {

std::atomic<int> gSlowSyncMs{0};

void slowSync() {
    const int ms = gSlowSyncMs.load();
    if (ms <= 0) return;
    struct timespec t = {0, long(ms) * 1000 * 1000};
    while (nanosleep(&t, &t) != 0) {
    }
}

}  // namespace

extern "C" int fsync(int fd) {
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
    slowSync();
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fdatasync"));
    slowSync();
    return real(fd);
}

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// A device folder with the counters and the lap stack started in it.
struct Device {
    std::string dir;
    Device() {
        char tmpl[] = "/tmp/tav9_bench_trigger_XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        host::setDeviceFolder(dir);
        host::resetForTest();
        nvram_resetForTest();
        nvram_dbs_init();
        LapOutFra_resetForTest();
        LapOutFra_init();
        LapOutFra_setHooks({sb_lapstack_reset_history, nullptr, nullptr});
        sb_lapstack_resetForTest();
        sb_lapstack_check_read();
        LapOutFra_initLapOutCnt(1, 1);
        nvram_dbs_flush();
    }
    ~Device() {
        LapOutFra_resetForTest();
        sb_lapstack_resetForTest();
        host::resetForTest();
        nvram_resetForTest();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// The raster's side: takes the lap stack and the counters until stopped;
// the longest single pass in ms. It runs before the trigger starts and until
// a pass begun after the trigger's end is through, so that a pass the
// trigger held counts whole.
struct RasterProbe {
    std::atomic<bool> stop{false};
    std::atomic<unsigned> passes{0};
    double longest = 0;
    std::thread t;
    RasterProbe() {
        t = std::thread([this] {
            uint8_t block[2 + 256 * 6];
            LapOutFraState s{};
            while (!stop.load()) {
                const auto t0 = Clock::now();
                sb_lapstack_get(block, sizeof block);
                LapOutFra_getState(&s);
                longest = std::max(longest, msSince(t0));
                ++passes;
            }
        });
        while (passes.load() == 0) std::this_thread::yield();
    }
    double end() {
        const unsigned seen = passes.load();
        while (passes.load() <= seen + 1) std::this_thread::yield();
        stop = true;
        t.join();
        return longest;
    }
};

enum Trigger { Outing, Lap, Fragment };

void trigger(Trigger which) {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    switch (which) {
    case Outing: LapOutFra_setLapOutCnt(s.lap, uint16_t(s.outing + 1), 0); break;
    case Lap:
        LapOutFra_setLapOutCnt(uint16_t(s.lap + 1), s.outing, 0);
        sb_lapstack_add_entry(s.lap, 9000, 1.5f);
        break;
    case Fragment: LapOutFra_setFragmentTrig(0); break;
    }
}

void BM_TriggerHoldsTheRaster(benchmark::State& state) {
    const auto which = Trigger(state.range(0));
    gSlowSyncMs = int(state.range(1));
    Device device;
    double rasterWaitMax = 0, triggerMax = 0;
    for (auto _ : state) {
        RasterProbe probe;
        const auto t0 = Clock::now();
        trigger(which);
        const double took = msSince(t0);
        rasterWaitMax = std::max(rasterWaitMax, probe.end());
        triggerMax = std::max(triggerMax, took);
        state.SetIterationTime(took / 1000.0);
        nvram_dbs_flush();
    }
    gSlowSyncMs = 0;
    state.counters["raster_wait_max_ms"] = rasterWaitMax;
    state.counters["trigger_max_ms"] = triggerMax;
    static const char* const names[] = {"outing", "lap", "fragment"};
    state.SetLabel(std::string(names[which]) + (state.range(1) ? ", syncs +30 ms" : ", syncs as they are"));
}

BENCHMARK(BM_TriggerHoldsTheRaster)
    ->ArgsProduct({{Outing, Lap, Fragment}, {0, 30}})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
