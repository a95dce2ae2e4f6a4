// CPU share and thread wake-ups of the running device with the sample
// configuration (idle recording: rasters, logging, display), over 30 s
// (TAV9_BENCH_SECONDS to change) after 5 s of start-up.
//
// TAV9_PEER_DEVICE names another build of the device process (e.g. one of
// today's main) and TAV9_PEER_SAMPLE its sample folder (default: ours); it
// runs at the same time as ours, so both see the same load on the machine,
// and the ratios ours / peer are printed. Each device runs in a network
// namespace of its own (root: unshare), so neither meets the other or any
// other device on the machine.
//
// CPU share: user + system time of the process over the window, in % of one
// core. Wake-ups: voluntary context switches of all its threads per second
// (every sleep of a thread ends in a wake-up).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

struct Usage {
    double cpuSeconds = 0;
    double wakeups = 0;
};

// utime + stime of the process (fields 14 and 15 of /proc/PID/stat).
double cpuSecondsOf(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long ut = 0, st = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) ut = std::stoull(field);
        if (i == 15) st = std::stoull(field);
    }
    return double(ut + st) / double(sysconf(_SC_CLK_TCK));
}

double wakeupsOf(pid_t pid) {
    double sum = 0;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& t : fs::directory_iterator(dir, ec)) {
        std::ifstream f(t.path() / "status");
        std::string line;
        while (std::getline(f, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) sum += std::atof(line.c_str() + 24);
    }
    return sum;
}

Usage usageOf(pid_t pid) { return {cpuSecondsOf(pid), wakeupsOf(pid)}; }

// A device in a copy of its sample folder, in a network namespace of its own.
class Device {
public:
    Device(const std::string& binary, const std::string& sample) {
        char tmpl[] = "/tmp/tav9_bench_device_XXXXXX";
        if (!mkdtemp(tmpl)) return;
        folder_ = tmpl;
        std::error_code ec;
        fs::copy(sample, folder_, fs::copy_options::recursive, ec);
        if (ec) return;
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder_.c_str()) != 0) _exit(127);
            const std::string script = "ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec \"" + binary +
                                       "\" 1 </dev/null >/dev/null 2>&1";
            execlp("unshare", "unshare", "--net", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Device() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        std::error_code ec;
        if (!folder_.empty()) fs::remove_all(folder_, ec);
    }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    pid_t pid() const { return pid_; }

private:
    std::string folder_;
    pid_t pid_ = -1;
};

void BM_DeviceIdle(benchmark::State& state) {
    const char* env = std::getenv("TAV9_BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 30;
    const char* peerBinary = std::getenv("TAV9_PEER_DEVICE");
    const char* peerSample = std::getenv("TAV9_PEER_SAMPLE");
    for (auto _ : state) {
        Device ours(TAV9_DEVICE_BINARY, TAV9_SAMPLE_DIR);
        Device* peer = peerBinary ? new Device(peerBinary, peerSample ? peerSample : TAV9_SAMPLE_DIR) : nullptr;
        std::this_thread::sleep_for(std::chrono::seconds(5));   // start-up
        if (!ours.running() || (peer && !peer->running())) {
            delete peer;
            state.SkipWithError("a device did not start (root and unshare needed)");
            return;
        }
        const Usage o0 = usageOf(ours.pid());
        const Usage p0 = peer ? usageOf(peer->pid()) : Usage{};
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const Usage o1 = usageOf(ours.pid());
        const Usage p1 = peer ? usageOf(peer->pid()) : Usage{};
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = (o1.cpuSeconds - o0.cpuSeconds) / wall * 100;
        const double wakes = (o1.wakeups - o0.wakeups) / wall;
        state.counters["cpu_pct"] = cpu;
        state.counters["wakeups_per_s"] = wakes;
        if (peer) {
            const double peerCpu = (p1.cpuSeconds - p0.cpuSeconds) / wall * 100;
            const double peerWakes = (p1.wakeups - p0.wakeups) / wall;
            state.counters["peer_cpu_pct"] = peerCpu;
            state.counters["peer_wakeups_per_s"] = peerWakes;
            state.counters["cpu_ratio"] = peerCpu > 0 ? cpu / peerCpu : 0;
            state.counters["wakeup_ratio"] = peerWakes > 0 ? wakes / peerWakes : 0;
            std::printf("device CPU %.1f %% of a core, %.0f wake-ups/s; peer %.1f %%, %.0f/s; ratio CPU %.2f, "
                        "wake-ups %.2f\n",
                        cpu, wakes, peerCpu, peerWakes, peerCpu > 0 ? cpu / peerCpu : 0,
                        peerWakes > 0 ? wakes / peerWakes : 0);
        }
        delete peer;
    }
}
BENCHMARK(BM_DeviceIdle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
