// Cost of the gateway per delivered value on the 1 ms raster: one tick copies
// every value of the list into a FIFO slot (big-endian) and delivers the slot
// to the consumer's read callback.
#include <benchmark/benchmark.h>

#include "bench_measurement_core.h"

#include <vector>

#include "host/kernel/kernel.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/seram.h"
#include "measurement/signalpage.h"

namespace {
int onRead(unsigned long, void* data, void* user) {
    benchmark::DoNotOptimize(data);
    ++*static_cast<uint64_t*>(user);
    return 1;
}

void BM_GatewayPerValue1ms(benchmark::State& state) {
    benchMeasurementCoreOnce();
    const unsigned n = unsigned(state.range(0));
    const measaddr_t base = catalogue_addr("memory_canin");
    // a quarter 1-byte, a quarter 2-byte and half 4-byte values
    std::vector<uint32_t> desc;
    const unsigned n1 = n / 4, n2 = n / 4, n4 = n - n1 - n2;
    desc.push_back(uint32_t(GW_SIZE4));
    for (unsigned i = 0; i < n4; ++i) desc.push_back(base + 4 * i);
    desc.push_back(0);
    if (n2) {
        desc.push_back(uint32_t(GW_SIZE2));
        for (unsigned i = 0; i < n2; ++i) desc.push_back(base + 4 * (n4 + i));
        desc.push_back(0);
    }
    if (n1) {
        desc.push_back(uint32_t(GW_SIZE1));
        for (unsigned i = 0; i < n1; ++i) desc.push_back(base + 4 * (n4 + n2 + i));
        desc.push_back(0);
    }
    desc.push_back(0);
    uint64_t delivered = 0;
    callback_list cb = {{{onRead, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
    gw_conn_t conn = gw_connect(&cb);
    uint32_t h = gw_setup_list(conn, desc.data(), &delivered, uint16_t(desc.size() * 4), 0, 0, 1, 0, 1, 4, 0, 0);
    if (!h || !gw_start_list(h)) {
        state.SkipWithError("list not set up");
        gw_disconnect(conn);
        return;
    }
    uint32_t ts = 0;
    for (auto _ : state) {
        signalPage()->memory_canin[0] = ts;
        meas_man_copy_raster(0, ts += 10);
        gw_distribute(0);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    // seconds per value, printed with its SI prefix (e.g. "4.2n" = 4.2 ns)
    state.counters["time_per_value"] =
        benchmark::Counter(double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["slots"] = double(delivered);
    gw_disconnect(conn);
}
BENCHMARK(BM_GatewayPerValue1ms)->Arg(10)->Arg(100)->Arg(1000);
}  // namespace

BENCHMARK_MAIN();
