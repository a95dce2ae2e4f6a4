// Device network between two namespaces (this process is device A, the device
// process tav9 in the other namespace is device B): the round-trip time of a
// command bounced by B, and the throughput of offline data from B's 1 ms
// lists into A's gateway. Needs root for the namespaces; says so otherwise.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "../tests/virari/two_devices.h"
#include "platform/byteorder.h"

namespace {
TwoDevices* gNet = nullptr;

struct Bounce {
    std::mutex mx;
    std::condition_variable cv;
    bool done = false;
};

void onBounce(void* ctx, ci_msg_t*) {
    auto* b = static_cast<Bounce*>(ctx);
    std::lock_guard<std::mutex> lk(b->mx);
    b->done = true;
    b->cv.notify_all();
}

void BM_CommandRoundTrip(benchmark::State& state) {
    ci_msg_t m;
    uint64_t lost = 0;
    for (auto _ : state) {
        Bounce b;
        ci_init_msg(&m, CI_CMD_BOUNCE, TwoDevices::kPidB, 8);
        ci_set_magic(&m, ci_completion_register(onBounce, &b));
        comint_put_cmd(&m, 0);
        std::unique_lock<std::mutex> lk(b.mx);
        if (!b.cv.wait_for(lk, std::chrono::seconds(1), [&] { return b.done; })) ++lost;
    }
    state.counters["lost"] = double(lost);
}
BENCHMARK(BM_CommandRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

struct Sink {
    std::atomic<uint64_t> slots{0};
    std::atomic<int> started{0};
};

int onRead(unsigned long st, void* data, void* user) {
    if (st == 0 && data) ++static_cast<Sink*>(user)->slots;
    return 1;
}
int onStart(unsigned long, void*, void* user) {
    ++static_cast<Sink*>(user)->started;
    return 1;
}

// Offline list of n 32-bit values of device B on its 1 ms raster; each
// iteration receives 1000 slots (one second of data).
void BM_OfflineThroughput(benchmark::State& state) {
    const unsigned n = unsigned(state.range(0));
    static const callback_list cb = {{{onRead, 0}, {nullptr, 0}, {onStart, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
    gw_conn_t conn = gw_connect(&cb);
    std::vector<uint32_t> desc{uint32_t(GW_SIZE4)};
    const measaddr_t base = catalogue_addr("memory_canin");
    for (unsigned i = 0; i < n; ++i) desc.push_back(base + 4 * i);
    desc.push_back(0);
    desc.push_back(0);
    Sink sink;
    uint32_t list = gw_setup_list(conn, desc.data(), &sink, uint16_t(4 * desc.size()), RASTER_1MS,
                                  TwoDevices::kPidB, 0, DYNKOMM_MODE_QUEUE, 0, 0, 0, 0);
    gw_start_list(list);
    for (int i = 0; i < 3000 && !sink.started; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t lossBefore = meas_man_get_data_loss_cnt();
    uint64_t got = 0;
    for (auto _ : state) {
        const uint64_t want = sink.slots + 1000;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sink.slots < want && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        got += 1000;
    }
    const unsigned slotBytes = 4 + 4 * n;
    state.SetBytesProcessed(int64_t(got * slotBytes));
    state.SetItemsProcessed(int64_t(got));
    state.counters["slot_bytes"] = slotBytes;
    state.counters["lost"] = double(meas_man_get_data_loss_cnt() - lossBefore);
    gw_kill_list(list);
    gw_disconnect(conn);
}
BENCHMARK(BM_OfflineThroughput)->Arg(1)->Arg(100)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TwoDevices net;
    if (!net.up()) {
        std::printf("virari network benchmark skipped: %s\n", net.reason().c_str());
        return 0;
    }
    net.startB();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!BC2_connected(TwoDevices::kPidB) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!BC2_connected(TwoDevices::kPidB)) {
        std::printf("virari network benchmark: device B did not connect\n");
        return 1;
    }
    gNet = &net;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
