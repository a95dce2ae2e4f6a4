// Jitter of the 1 ms base tick as the raster dispatcher sees it, beside
// `cyclictest` (Debian rt-tests) at the same priority and interval in the same
// run, with every core kept busy by ordinary threads, over 10 s
// (TAV9_BENCH_SECONDS to change). Run with the tasks under real-time
// scheduling (where the host permits it) and without.
//
// The tick runs as the device runs it: a task that sleeps to the deadlines
// itself (host::runBaseTick). Its latency is the wake time minus the deadline,
// taken relative to the smallest one seen (the deadlines lie on an exact 1 ms
// grid); cyclictest's histogram is read the same way (minus its minimum).
// Counters in microseconds: p50, p99 and max of the tick, p99 of cyclictest,
// and their ratio; ticks that came late by more than a whole period.
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

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

// Wake times of the tick task (written by the tick task only).
std::vector<int64_t> gAt;
size_t gWant = 0;
std::atomic<bool> gDone{false};

void onTick(uint32_t) {
    if (gAt.size() < gWant) gAt.push_back(nowNs());
    else gDone = true;
}

// cyclictest at the priority, one thread, 1 ms interval, loops ticks; reads
// its latency histogram (us) relative to its minimum. Empty when it fails.
std::vector<double> runCyclictest(int priority, size_t loops) {
    std::string cmd = "cyclictest -m -q -t1 -i1000 -h5000 -l" + std::to_string(loops) + " -p" +
                      std::to_string(priority) + " 2>/dev/null";
    std::vector<double> lat;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return lat;
    char line[256];
    std::vector<std::pair<int, long>> hist;
    while (fgets(line, sizeof line, p)) {
        int us = 0;
        long n = 0;
        if (line[0] >= '0' && line[0] <= '9' && sscanf(line, "%d %ld", &us, &n) == 2 && n > 0) hist.emplace_back(us, n);
    }
    pclose(p);
    if (hist.empty()) return lat;
    const int min = hist.front().first;
    for (const auto& [us, n] : hist) lat.insert(lat.end(), size_t(n), double(us - min));
    return lat;
}

double pct(const std::vector<double>& v, double p) {
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

void BM_BaseTickJitterLoaded(benchmark::State& state) {
    const bool realtime = state.range(0) != 0;
    if (realtime && !host::enableRealtimeScheduling()) {
        state.SkipWithError("real-time scheduling not permitted");
        return;
    }
    if (!realtime) host::disableRealtimeScheduling();
    // the tick's own priority: above every task, or the modest one it takes
    // without real-time scheduling of the tasks
    const int priority = realtime ? host::realtimeBaseTickPriority() : 10;
    const char* env = std::getenv("TAV9_BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 10;
    const size_t ticks = static_cast<size_t>(seconds) * 1000;
    std::vector<double> devUs, peerUs;
    size_t late = 0;
    for (auto _ : state) {
        CoreLoad load;
        gAt.clear();
        gAt.reserve(ticks);
        gWant = ticks;
        gDone = false;
        std::thread peer([&] { peerUs = runCyclictest(priority, ticks); });
        TASK_ID t = taskSpawn("r_benchTick", 21, 0, 65536, [] { host::runBaseTick(onTick, false); });
        while (!gDone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        taskDelete(t);
        peer.join();
        // latency relative to the smallest: the deadlines are 1 ms apart
        int64_t base = INT64_MAX;
        for (size_t i = 0; i < gAt.size(); ++i) base = std::min(base, gAt[i] - int64_t(i) * 1000000);
        devUs.clear();
        for (size_t i = 0; i < gAt.size(); ++i) devUs.push_back(double(gAt[i] - int64_t(i) * 1000000 - base) / 1000.0);
        for (size_t i = 1; i < gAt.size(); ++i) late += gAt[i] - gAt[i - 1] > 2000000;
    }
    host::disableRealtimeScheduling();
    std::sort(devUs.begin(), devUs.end());
    state.counters["p50_us"] = pct(devUs, 0.50);
    state.counters["p99_us"] = pct(devUs, 0.99);
    state.counters["max_us"] = devUs.back();
    state.counters["late_ticks"] = static_cast<double>(late);
    state.counters["ticks"] = static_cast<double>(devUs.size());
    if (peerUs.empty()) {
        std::printf("cyclictest did not run (rt-tests installed? scripts/deps)\n");
        return;
    }
    std::sort(peerUs.begin(), peerUs.end());
    const double ratio = pct(peerUs, 0.99) > 0 ? pct(devUs, 0.99) / pct(peerUs, 0.99) : 0;
    state.counters["cyclictest_p99_us"] = pct(peerUs, 0.99);
    state.counters["p99_ratio"] = ratio;
    std::printf("priority %d: base tick p99 %.1f us, cyclictest p99 %.1f us, ratio %.2f\n", priority,
                pct(devUs, 0.99), pct(peerUs, 0.99), ratio);
}
BENCHMARK(BM_BaseTickJitterLoaded)->ArgName("realtime")->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
BENCHMARK_MAIN();
