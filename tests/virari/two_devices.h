// Two devices in two network namespaces (the device network turns multicast
// loop-back off, so two devices hear each other only from separate
// namespaces). This process becomes device A, PID 3 at 10.213.0.1, in its
// namespace; device B, PID 7 at 10.213.0.2, is the device process tav9 in the
// other. Everything made here (namespaces, device B, folders, tasks) is ended
// by down(), which the users call on every path.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/kernel/kernel.h"
#include "measurement/calparams.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "platform/raster.h"
#include "platform/timebase.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/netdebug/netdebug.h"
#include "virari/sernet_man.h"
#include "virari/timeserv/timeserv.h"
#include "virari/virari.h"

class TwoDevices {
public:
    static constexpr uint16_t kPidA = 3, kPidB = 7;

    ~TwoDevices() { down(); }

    // Namespaces, device A in this process and its tasks; false with reason()
    // when the namespaces cannot be made here.
    bool up() {
        if (geteuid() != 0) return fail("namespaces need root");
        buildDir_ = buildDir();
        srcDir_ = sourceDir();
        tav9_ = buildDir_ + "/app/tav9";
        if (srcDir_.empty() || !std::filesystem::exists(srcDir_ + "/scripts/netns-pair"))
            return fail("source tree not found");
        if (!std::filesystem::exists(tav9_)) return fail("device process " + tav9_ + " not built");
        const std::string tag = std::to_string(getpid());
        nsA_ = "tv9n" + tag + "a";
        nsB_ = "tv9n" + tag + "b";
        if (run(srcDir_ + "/scripts/netns-pair up " + nsA_ + " " + nsB_ + " >/dev/null 2>&1") != 0)
            return fail("scripts/netns-pair up failed (no network namespaces here)");
        nsUp_ = true;
        char tmpl[] = "/tmp/tav9_net_XXXXXX";
        if (!mkdtemp(tmpl)) return fail("no temporary folder");
        root_ = tmpl;
        dirA_ = root_ + "/a";
        dirB_ = root_ + "/b";
        std::filesystem::create_directories(dirA_);
        std::filesystem::copy(srcDir_ + "/sample", dirB_, std::filesystem::copy_options::recursive);
        writeStartCfg(dirA_, kPidA, "10.213.0.1");
        writeStartCfg(dirB_, kPidB, "10.213.0.2");
        if (!writeFollowerCalPage(dirB_)) return fail("cannot write device B's calibration page");
        savedNs_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int nsFd = open(("/var/run/netns/" + nsA_).c_str(), O_RDONLY | O_CLOEXEC);
        // Tasks are threads started from here on: they inherit the namespace.
        bool entered = savedNs_ >= 0 && nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0;
        if (nsFd >= 0) close(nsFd);
        if (!entered) return fail("cannot enter the namespace");
        inNs_ = true;
        return startDeviceA();
    }

    const std::string& reason() const { return reason_; }
    const std::string& dirB() const { return dirB_; }

    bool startB() {
        if (devB_ > 0) return true;
        devB_ = fork();
        if (devB_ < 0) return false;
        if (devB_ == 0) {
            if (chdir(dirB_.c_str()) != 0) _exit(126);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execlp("ip", "ip", "netns", "exec", nsB_.c_str(), tav9_.c_str(), "1", static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }

    void killB() {
        if (devB_ <= 0) return;
        kill(devB_, SIGKILL);
        waitpid(devB_, nullptr, 0);
        devB_ = -1;
    }

    // Runs a program (argv) in device B's namespace, outside both devices;
    // it is ended by down() unless it ended before.
    // The arguments are put together before the fork: the child of a process
    // with threads may call nothing but async-signal-safe functions before it
    // execs (an allocation can wait for good on a lock another thread held
    // at the fork, as under ThreadSanitizer on a busy host).
    bool runInB(const std::vector<std::string>& argv) {
        if (helperB_ > 0 || argv.empty()) return false;
        std::vector<const char*> args = {"ip", "netns", "exec", nsB_.c_str()};
        for (const auto& a : argv) args.push_back(a.c_str());
        args.push_back(nullptr);
        helperB_ = fork();
        if (helperB_ < 0) return false;
        if (helperB_ == 0) {
            execvp("ip", const_cast<char* const*>(args.data()));
            _exit(127);
        }
        return true;
    }
    const std::string& root() const { return root_; }

    std::string logB() const {
        std::ifstream in(dirB_ + "/log.txt");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    void down() {
        killB();
        if (helperB_ > 0) {
            kill(helperB_, SIGKILL);
            waitpid(helperB_, nullptr, 0);
            helperB_ = -1;
        }
        if (aRunning_) {
            // nothing sends any more, and what was queued has gone out
            // before the sockets close
            raster_stopAll();
            timeserv_stop();
            drainCommands();
            BC2_shutdown();
            gw_shutdown();
            meas_man_shutdown();
            SerNet_man_shutdown();
            comint_shutdown();
            timeserv_shutdown();
            netdebug_reset();
            seram_shutdown();
            host::resetForTest();
            aRunning_ = false;
        }
        if (inNs_) {
            if (setns(savedNs_, CLONE_NEWNET) != 0) perror("setns back");
            inNs_ = false;
        }
        if (savedNs_ >= 0) close(savedNs_);
        savedNs_ = -1;
        if (nsUp_) run(srcDir_ + "/scripts/netns-pair down " + nsA_ + " " + nsB_ + " >/dev/null 2>&1");
        nsUp_ = false;
        if (!root_.empty()) std::filesystem::remove_all(root_);
        root_.clear();
    }

private:
    bool fail(const std::string& why) {
        reason_ = why;
        down();
        return false;
    }

    static int run(const std::string& cmd) { return std::system(cmd.c_str()); }

    // Waits until the command task has served everything queued before now.
    static void drainCommands() {
        static std::atomic<bool> served{false};
        constexpr uint16_t kBarrier = 0x7FF0;
        served = false;
        ci_register_command(kBarrier, [](ci_msg_t*) {
            served.store(true, std::memory_order_release);
            return 1;
        });
        ci_msg_t m;
        ci_init_msg(&m, kBarrier, comint_own_pid(), 0);
        if (!comint_put_cmd(&m, 1)) return;
        for (int i = 0; i < 2000 && !served.load(std::memory_order_acquire); ++i) taskDelay(1);
    }

    static void writeStartCfg(const std::string& dir, uint16_t pid, const char* ip) {
        std::ofstream(dir + "/start.cfg") << "pid = " << pid << "\nip = " << ip
                                          << "\nxcp_port = 5555\nport_offset = 0\ncan_bus = loopback\n";
    }

    // The build folder this program belongs to: the nearest one above it
    // with a CMake cache.
    static std::string buildDir() {
        if (const char* b = std::getenv("TAV9_BINARY_DIR")) return b;
        std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe").parent_path();
        for (; !p.empty() && p != p.root_path(); p = p.parent_path())
            if (std::filesystem::exists(p / "CMakeCache.txt")) return p.string();
        return "";
    }

    // The tree this build came from, as CMake recorded it.
    std::string sourceDir() const {
        if (const char* s = std::getenv("TAV9_SOURCE_DIR")) return s;
        std::ifstream in(buildDir_ + "/CMakeCache.txt");
        std::string line;
        const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
        while (std::getline(in, line))
            if (line.rfind(key, 0) == 0) return line.substr(key.size());
        return "";
    }

    template <int Raster>
    static void measTick(intptr_t) {
        meas_man_copy_raster(Raster, time_getTimestamp());
        gw_distribute(Raster);
    }

    // Device B runs with the calibration defaults but without an ECU type, so
    // that it follows the time master instead of being one itself.
    static bool writeFollowerCalPage(const std::string& dir) {
        std::vector<uint8_t> page(SERAM_PAGE_SIZE, 0);
        CalPage* cal = reinterpret_cast<CalPage*>(page.data());
        calPageDefaults(cal);
        cal->ECU_TYPE = 0;
        std::ofstream out(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary);
        out.write(reinterpret_cast<const char*>(page.data()), std::streamsize(page.size()));
        return bool(out);
    }

    bool startDeviceA() {
        host::setDeviceFolder(dirA_);
        host::resetForTest();
        if (AppMan_init(1) != 1 || app_pid != kPidA) return fail("start parameters of device A not read");
        dynkomm_init(1);
        seram_init();
        catalogue_init();
        routing_init(app_pid);
        comint_set_own_pid(app_pid);
        comint_init();
        meas_man_init();
        gw_init(app_pid);
        SerNet_man_ini();
        virari_attach_measurement();
        aRunning_ = true;
        raster_init();
        raster_addEntry(RB_1MS, "meas_gw_1ms", measTick<RASTER_1MS>, 0);
        raster_addEntry(RB_10MS, "meas_gw_10ms", measTick<RASTER_10MS>, 0);
        virari_register_rasters();
        // as in the device: the network is set up before the rasters run
        if (BC2_init() != 1) return fail("DiraDir2 of device A does not start");
        if (raster_start() != 1) return fail("rasters of device A do not start");
        return true;
    }

    std::string buildDir_, srcDir_, tav9_, nsA_, nsB_, root_, dirA_, dirB_, reason_;
    int savedNs_ = -1;
    pid_t devB_ = -1;
    pid_t helperB_ = -1;
    bool nsUp_ = false, inNs_ = false, aRunning_ = false;
};
