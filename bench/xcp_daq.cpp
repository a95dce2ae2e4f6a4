// DTO throughput and latency of the XCP slave: four full DAQ lists (one ODT
// of 62 four-byte values each, 255-byte DTOs) fired once per simulated 1 ms
// tick, received by a master on 127.0.0.1.
//
// A channel carries one list, so the four lists sit on the four event
// channels and every tick fires all four: the load of four full lists on the
// 1 ms channel.
//   BM_DaqFourFullLists: DTOs per second through the transport and CPU per DTO
//     (slave side: the firing thread and the transmit task; the master's
//     receive thread is not counted).
//   BM_DaqEventToWireLatency: ticks paced at 1 ms; time from firing an event
//     to the datagram being read by the master, p50 and p99 in microseconds.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "xcp/xcp_slave.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kLists = 4;
constexpr unsigned kEntries = 62;   // 7 + 62 * 4 = 255 bytes

std::atomic<uint32_t> gTick{0};
uint32_t tickSource() { return gTick.load(std::memory_order_relaxed); }

double cpuSeconds(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

class BenchMaster {
public:
    explicit BenchMaster(uint16_t slavePort) {
        sock_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in me{};
        me.sin_family = AF_INET;
        me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(sock_, reinterpret_cast<sockaddr*>(&me), sizeof me);
        int big = 8 << 20;
        setsockopt(sock_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        slave_.sin_family = AF_INET;
        slave_.sin_port = htons(slavePort);
        slave_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~BenchMaster() {
        stopReceiver();
        close(sock_);
    }

    // One command and its answer (synchronous, before the receiver runs).
    bool command(std::vector<uint8_t> pkt, int timeoutMs = 200) {
        std::vector<uint8_t> f = {uint8_t(pkt.size()), uint8_t(pkt.size() >> 8), uint8_t(ctr_), uint8_t(ctr_ >> 8)};
        ++ctr_;
        f.insert(f.end(), pkt.begin(), pkt.end());
        sendto(sock_, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&slave_), sizeof slave_);
        pollfd p{sock_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        uint8_t buf[300];
        ssize_t n = recv(sock_, buf, sizeof buf, 0);
        return n >= 5 && buf[4] == 0xFF;
    }

    void startReceiver() {
        stop_ = false;
        rx_ = std::thread([this] { receive(); });
    }
    void stopReceiver() {
        stop_ = true;
        if (rx_.joinable()) rx_.join();
    }

    std::atomic<uint64_t> dtos{0};
    double receiverCpu = 0;
    // latency bookkeeping: fire time per tick, latency per received first ODT
    std::vector<Clock::time_point>* fired = nullptr;
    std::vector<double> latencyUs;

private:
    void receive() {
        uint8_t buf[70000];
        while (!stop_) {
            pollfd p{sock_, POLLIN, 0};
            if (poll(&p, 1, 5) <= 0) continue;
            ssize_t n;
            while ((n = recv(sock_, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
                auto now = Clock::now();
                for (ssize_t at = 0; at + 4 <= n;) {
                    unsigned len = unsigned(buf[at] | (buf[at + 1] << 8));
                    const uint8_t* pkt = buf + at + 4;
                    if (len && pkt[0] >= 0xFC) {   // an event or answer, not a DTO
                        at += 4 + len;
                        continue;
                    }
                    if (len >= 7 && pkt[0] == 0 && fired) {
                        uint32_t tick;
                        std::memcpy(&tick, pkt + 3, 4);
                        if (tick < fired->size())
                            latencyUs.push_back(std::chrono::duration<double, std::micro>(now - (*fired)[tick]).count());
                    }
                    dtos.fetch_add(1, std::memory_order_relaxed);
                    at += 4 + len;
                }
            }
        }
        receiverCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    }

    int sock_ = -1;
    sockaddr_in slave_{};
    uint16_t ctr_ = 0;
    std::atomic<bool> stop_{false};
    std::thread rx_;
};

uint16_t freePort() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t l = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &l);
    close(s);
    return ntohs(a.sin_port);
}

// A slave on 127.0.0.1 with the four lists configured and running.
struct Rig {
    uint16_t port = freePort();
    std::string folder;
    BenchMaster* master = nullptr;
    bool ok = false;

    Rig() {
        char tmpl[] = "/tmp/tav9_bench_xcp_XXXXXX";
        folder = mkdtemp(tmpl) ? tmpl : "/tmp";
        std::ofstream(folder + "/start.cfg") << "pid = 1\nxcp_port = " << port << "\n";
        host::setDeviceFolder(folder);
        AppMan_init(1);
        seram_init();
        xcp_setTimeSource(tickSource);
        if (xcpInitializeOn(INADDR_LOOPBACK) != 0) return;
        master = new BenchMaster(port);
        bool up = false;
        for (int i = 0; i < 50 && !up; ++i) up = master->command({0xFF, 0x00}, 100);
        ok = up && configure();
        if (ok) master->startReceiver();
    }
    ~Rig() {
        delete master;
        xcpTerminate();
        xcp_setTimeSource(nullptr);
        seram_shutdown();
        std::remove((folder + "/start.cfg").c_str());
        rmdir(folder.c_str());
    }

    bool configure() {
        bool ok = master->command({0xD5, 0, kLists, 0});
        for (uint8_t l = 0; l < kLists && ok; ++l) {
            ok = master->command({0xD4, 0, l, 0, 1}) && master->command({0xD3, 0, l, 0, 0, kEntries}) &&
                 master->command({0xE2, 0, l, 0, 0, 0});
            for (unsigned e = 0; e < kEntries && ok; ++e) {
                uint32_t a = (1u << 24) | (SERAM_SIGNAL_ADDR + 4 * (l * kEntries + e));
                ok = master->command({0xE1, 0xFF, 4, 0, uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24)});
            }
            ok = ok && master->command({0xE0, 0x10, l, 0, l, 0, 1, 0}) && master->command({0xDE, 2, l, 0});
        }
        return ok && master->command({0xDD, 1});
    }

    void fireTick() {
        for (int ev = 0; ev < int(kLists); ++ev) xcpSendDAQ(ev);
    }
};

void BM_DaqFourFullLists(benchmark::State& state) {
    Rig rig;
    if (!rig.ok) {
        state.SkipWithError("slave not configured");
        return;
    }
    uint64_t fired = 0;
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto t0 = Clock::now();
    for (auto _ : state) {
        gTick.fetch_add(1, std::memory_order_relaxed);
        rig.fireTick();
        fired += kLists;
        // sending never waits on the queue: keep it from overflowing
        while (fired - rig.master->dtos.load(std::memory_order_relaxed) > 64) std::this_thread::yield();
    }
    while (rig.master->dtos.load() < fired && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    rig.master->stopReceiver();
    const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0 - rig.master->receiverCpu;
    const double got = double(rig.master->dtos.load());
    state.counters["dtos_per_s"] = got / wall;
    state.counters["cpu_us_per_dto"] = got ? cpu / got * 1e6 : 0;
    state.counters["lost"] = double(fired) - got;
}
BENCHMARK(BM_DaqFourFullLists)->Iterations(50000)->UseRealTime();

void BM_DaqEventToWireLatency(benchmark::State& state) {
    constexpr uint32_t kTicks = 2000;
    for (auto _ : state) {
        Rig rig;
        if (!rig.ok) {
            state.SkipWithError("slave not configured");
            return;
        }
        rig.master->stopReceiver();
        std::vector<Clock::time_point> fired(kTicks);
        rig.master->fired = &fired;
        rig.master->startReceiver();
        auto next = Clock::now();
        for (uint32_t t = 0; t < kTicks; ++t) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            gTick.store(t, std::memory_order_relaxed);
            fired[t] = Clock::now();
            rig.fireTick();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rig.master->stopReceiver();
        std::vector<double>& l = rig.master->latencyUs;
        std::sort(l.begin(), l.end());
        if (l.empty()) {
            state.SkipWithError("no DTO received");
            return;
        }
        state.counters["p50_us"] = l[l.size() / 2];
        state.counters["p99_us"] = l[l.size() * 99 / 100];
        state.counters["samples"] = double(l.size());
    }
}
BENCHMARK(BM_DaqEventToWireLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
