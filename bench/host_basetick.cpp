// Jitter of the 1 ms base tick as a raster task sees it: the period between
// successive takes of "/BASETICK0" by a task of the 1 ms raster's priority,
// over 10 s (TAV9_BENCH_SECONDS to change), with every core kept busy by
// ordinary threads. Run with the tasks under real-time scheduling (where the
// host permits it) and without. Counters in microseconds: p50, p99 and max of
// |period - 1 ms|, and the ticks that came late by more than a whole period.
#include "host/kernel.h"
#include "host/os.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr int kRasterPriority = 29;   // r1ms

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Busy threads on every core while the measurement runs.
class CoreLoad {
public:
    CoreLoad() {
        unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                volatile uint64_t x = 0;
                while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
            });
    }
    ~CoreLoad() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

void BM_BaseTickJitterLoaded(benchmark::State& state) {
    const bool realtime = state.range(0) != 0;
    if (realtime && !host::enableRealtimeScheduling()) {
        state.SkipWithError("real-time scheduling not permitted");
        return;
    }
    if (!realtime) host::disableRealtimeScheduling();
    const char* env = std::getenv("TAV9_BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 10;
    const size_t ticks = static_cast<size_t>(seconds) * 1000;
    std::vector<double> devUs;
    size_t late = 0;
    for (auto _ : state) {
        CoreLoad load;
        host::startBaseTick();
        std::vector<int64_t> at;
        at.reserve(ticks + 1);
        SEM_ID done = semBCreate(0, SEM_EMPTY);
        taskSpawn("r_bench1ms", kRasterPriority, 0, 65536, [&] {
            SEM_ID s = semOpen("/BASETICK0", SEM_TYPE_COUNTING, 0, 0, 0);
            semTake(s, WAIT_FOREVER);   // align to the first tick
            at.push_back(nowNs());
            for (size_t i = 0; i < ticks; ++i) {
                semTake(s, WAIT_FOREVER);
                at.push_back(nowNs());
            }
            semClose(s);
            semGive(done);
        });
        semTake(done, WAIT_FOREVER);
        semDelete(done);
        host::stopBaseTick();
        devUs.clear();
        for (size_t i = 1; i < at.size(); ++i) {
            double period = static_cast<double>(at[i] - at[i - 1]);
            devUs.push_back(std::abs(period - 1e6) / 1000.0);
            late += period > 2e6;
        }
    }
    host::disableRealtimeScheduling();
    std::sort(devUs.begin(), devUs.end());
    auto pct = [&](double p) { return devUs[std::min(devUs.size() - 1, static_cast<size_t>(p * devUs.size()))]; };
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
    state.counters["max_us"] = devUs.back();
    state.counters["late_ticks"] = static_cast<double>(late);
    state.counters["ticks"] = static_cast<double>(devUs.size());
}
BENCHMARK(BM_BaseTickJitterLoaded)->ArgName("realtime")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
BENCHMARK_MAIN();
