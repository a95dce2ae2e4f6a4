// DTO throughput and latency of the XCP slave: four full DAQ lists (one ODT
// of 62 four-byte values each, 255-byte DTOs) fired once per simulated 1 ms
// tick, received by a master on 127.0.0.1.
//
// A channel carries one list, so the four lists sit on the four event
// channels and every tick fires all four: the load of four full lists on the
// 1 ms channel.
//   BM_DaqFourFullLists: DTOs per second through the transport and CPU per DTO
//     (slave side: the firing of the events and the transmit task; neither
//     the master's receive thread nor the pacing waits are counted), beside a
//     plain sendto loop of as many datagrams of the same size (259 bytes: one
//     full DTO each) in the same run, counted the same way; the ratio of the
//     two is printed.
//   BM_DaqEventToWireLatency: ticks paced at 1 ms; time from firing an event
//     to the datagram being read by the master, p50 and p99 in microseconds.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "xcp/xcp_codes.h"
#include "xcp/xcp_slave.h"
#include "xcp_test_master.h"

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

// CPU clock of another thread of this process (Linux: the thread's id
// encoded as a CPU clock id).
clockid_t threadClock(pid_t tid) { return clockid_t((~unsigned(tid) << 3) | 6); }

// Thread id of the thread of this process with that name, 0 if none.
pid_t threadNamed(const char* name) {
    DIR* d = opendir("/proc/self/task");
    if (!d) return 0;
    pid_t found = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string comm;
        std::getline(f, comm);
        if (comm == name) found = pid_t(std::atoi(e->d_name));
    }
    closedir(d);
    return found;
}

// Keeps at most 64 datagrams in flight: the sender sleeps (never spins) until
// the receiver has caught up.
void waitForReceiver(uint64_t sent, const std::atomic<uint64_t>& received) {
    while (sent - received.load(std::memory_order_relaxed) > 64)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
}

// CPU (us) per datagram of a plain sendto loop of count datagrams of size
// bytes to a receiving thread on 127.0.0.1, whose CPU is not counted.
double plainSendtoCpuUs(uint64_t count, size_t size) {
    const int rx = socket(AF_INET, SOCK_DGRAM, 0);
    const int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof to;
    timeval tv{0, 200000};
    setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (rx < 0 || tx < 0 || bind(rx, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        getsockname(rx, reinterpret_cast<sockaddr*>(&to), &len) != 0) {
        if (rx >= 0) close(rx);
        if (tx >= 0) close(tx);
        return 0;
    }
    std::atomic<uint64_t> received{0};
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        std::vector<uint8_t> buf(2048);
        while (!stop.load())
            if (recv(rx, buf.data(), buf.size(), 0) > 0) received.fetch_add(1, std::memory_order_relaxed);
    });
    std::vector<uint8_t> datagram(size, 0x5A);
    double cpu = 0;
    for (uint64_t sent = 1; sent <= count; ++sent) {
        const double c0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        sendto(tx, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        cpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - c0;
        waitForReceiver(sent, received);
    }
    const auto t0 = Clock::now();
    while (received.load() < count && Clock::now() - t0 < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    receiver.join();
    close(rx);
    close(tx);
    return received.load() ? cpu / double(received.load()) * 1e6 : 0;
}

// The test master on 127.0.0.1, counting DTOs as they arrive and, while
// latencies are wanted, taking the time from firing each tick to its arrival.
struct BenchMaster {
    explicit BenchMaster(uint16_t port) : master(port) {}

    void count() {
        master.onDtos([this](const XcpDtoDatagram& d) {
            const auto now = Clock::now();
            for (const XcpFrame& f : d.frames) {
                if (fired && f.packet.size() >= 7 && f.packet[0] == 0) {
                    uint32_t tick = rdLe32(f.packet, 3);
                    if (tick < fired->size())
                        latencyUs.push_back(std::chrono::duration<double, std::micro>(now - (*fired)[tick]).count());
                }
            }
            dtos.fetch_add(d.frames.size(), std::memory_order_relaxed);
        });
    }
    // Ends the counting; what was counted stays readable.
    void stop() { master.onDtos(nullptr); }
    bool command(const Bytes& pkt) {
        Bytes a = master.command(pkt);
        return !a.empty() && a[0] == 0xFF;
    }

    XcpTestMaster master;
    std::atomic<uint64_t> dtos{0};
    std::vector<Clock::time_point>* fired = nullptr;
    std::vector<double> latencyUs;
};

// A slave on 127.0.0.1 with the four lists configured and running.
struct Rig {
    uint16_t port = freeUdpPort();
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
        ok = master->master.connect().size() == 8 && configure();
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
        bool good = master->command({0xD5, 0, kLists, 0});
        for (uint8_t l = 0; l < kLists && good; ++l) {
            good = master->command({0xD4, 0, l, 0, 1}) && master->command({0xD3, 0, l, 0, 0, kEntries}) &&
                   master->command({0xE2, 0, l, 0, 0, 0});
            for (unsigned e = 0; e < kEntries && good; ++e) {
                Bytes w = {0xE1, 0xFF, 4, 0};
                putLe32(w, (1u << 24) | (SERAM_SIGNAL_ADDR + 4 * (l * kEntries + e)));
                good = master->command(w);
            }
            good = good && master->command({0xE0, 0x10, l, 0, l, 0, 1, 0}) && master->command({0xDE, 2, l, 0});
        }
        return good && master->command({0xDD, 1});
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
    BenchMaster& m = *rig.master;
    m.count();
    uint64_t fired = 0;
    const pid_t txTid = threadNamed("r_xcpEthDTO0");
    const double tx0 = txTid ? cpuSeconds(threadClock(txTid)) : 0;
    double fireCpu = 0;
    const auto t0 = Clock::now();
    for (auto _ : state) {
        gTick.fetch_add(1, std::memory_order_relaxed);
        const double c0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        rig.fireTick();
        fireCpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - c0;
        fired += kLists;
        // sending never waits on the queue: keep it from overflowing
        waitForReceiver(fired, m.dtos);
    }
    while (m.dtos.load() < fired && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    m.stop();
    const double cpu = fireCpu + (txTid ? cpuSeconds(threadClock(txTid)) - tx0 : 0);
    const double got = double(m.dtos.load());
    const double perDto = got ? cpu / got * 1e6 : 0;
    const double plain = plainSendtoCpuUs(fired, XCP_FRAME_HEADER + XCP_MAX_DTO);
    state.counters["dtos_per_s"] = got / wall;
    state.counters["cpu_us_per_dto"] = perDto;
    state.counters["sendto_cpu_us"] = plain;
    state.counters["ratio"] = plain > 0 ? perDto / plain : 0;
    state.counters["lost"] = double(fired) - got;   // dropped by a loaded host's socket buffers
    std::printf("CPU per DTO %.2f us, plain sendto %.2f us per datagram, ratio %.2f\n", perDto, plain,
                plain > 0 ? perDto / plain : 0);
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
        BenchMaster& m = *rig.master;
        std::vector<Clock::time_point> fired(kTicks);
        m.fired = &fired;
        m.count();
        auto next = Clock::now();
        for (uint32_t t = 0; t < kTicks; ++t) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            gTick.store(t, std::memory_order_relaxed);
            fired[t] = Clock::now();
            rig.fireTick();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m.stop();
        std::vector<double>& l = m.latencyUs;
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
