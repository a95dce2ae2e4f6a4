// Jitter of the 1 ms base tick as a raster task sees it: the period between
// successive takes of "/BASETICK0", over 10 s (TAV9_BENCH_SECONDS to change).
// Counters in microseconds: p50, p99 and max of |period - 1 ms|, and the ticks
// that came late by more than a whole period.
#include "host/kernel.h"
#include "host/os.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void BM_BaseTickJitter(benchmark::State& state) {
    const char* env = std::getenv("TAV9_BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 10;
    const size_t ticks = static_cast<size_t>(seconds) * 1000;
    std::vector<double> devUs;
    size_t late = 0;
    for (auto _ : state) {
        host::startBaseTick();
        SEM_ID s = semOpen("/BASETICK0", SEM_TYPE_COUNTING, 0, 0, 0);
        semTake(s, WAIT_FOREVER);   // align to the first tick
        std::vector<int64_t> at;
        at.reserve(ticks + 1);
        at.push_back(nowNs());
        for (size_t i = 0; i < ticks; ++i) {
            semTake(s, WAIT_FOREVER);
            at.push_back(nowNs());
        }
        host::stopBaseTick();
        semClose(s);
        devUs.clear();
        for (size_t i = 1; i < at.size(); ++i) {
            double period = static_cast<double>(at[i] - at[i - 1]);
            devUs.push_back(std::abs(period - 1e6) / 1000.0);
            late += period > 2e6;
        }
    }
    std::sort(devUs.begin(), devUs.end());
    auto pct = [&](double p) { return devUs[std::min(devUs.size() - 1, static_cast<size_t>(p * devUs.size()))]; };
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
    state.counters["max_us"] = devUs.back();
    state.counters["late_ticks"] = static_cast<double>(late);
    state.counters["ticks"] = static_cast<double>(devUs.size());
}
BENCHMARK(BM_BaseTickJitter)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
