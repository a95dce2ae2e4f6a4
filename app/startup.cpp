// The start-up sequence of the device process and its end.
//
// Steps run in a fixed order; a failed fatal step is logged and ends the
// process, other failures are logged and the start goes on. Afterwards the
// main task blocks on the post-run semaphore and then runs the ordered
// shutdown.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "logging/app/meas_app.h"
#include "platform/appman.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/raster.h"
#include "platform/shell.h"
#include "platform/startup.h"
#include "platform/stop_budget.h"
#include "platform/stop_starvation.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "folder_watch.h"
#include "signals.h"
#include "wiring.h"

namespace {

constexpr int kStartCore = 1;               // the second processor core
// A sanitizer's runtime guards its own tables (stack depot, deadlock
// detector, allocator) with spin locks that give way by sched_yield. Under
// real-time scheduling a yield lets only tasks of the same priority run: with
// the tick and the rasters on one CPU, a raster that finds such a lock held by
// a task of lower priority spins for ever (the device stalled in its start-up
// on a loaded host, two rasters yielding to each other at 100 % of the CPU).
// A sanitizer build runs them all at normal priority. Its instrumented code
// runs many times slower: the 1 ms rasters and the tasks with them no longer
// fit the one CPU of the first core, so its tasks run on any host CPU.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
// The longest a stop may take from its request to the end of the process
// (10 s, with a margin for a loaded host and its own end of the process):
// every wait of the stop takes its share, and past its tail the guard ends
// the process without the steps still waiting.
constexpr unsigned kStopLimitMs = 9000;
// How long the kernel side's services may take to stop (the NVRAM's last
// write), and what they leave of the budget for the end itself: the process
// ends by itself well before the guard's last resort.
constexpr unsigned kServicesStopMs = 1000;
constexpr unsigned kServicesReserveMs = 300;
long msSince(const timespec& t0) {
    timespec t1;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    return (t1.tv_sec - t0.tv_sec) * 1000L + (t1.tv_nsec - t0.tv_nsec) / 1000000L;
}

bool parseAppNumber(int argc, char** argv, int* out) {
    if (argc != 2 || !argv[1] || !*argv[1]) return false;
    errno = 0;
    char* end;
    long v = strtol(argv[1], &end, 10);
    if (errno || *end || v < 0 || v > 255) return false;
    *out = static_cast<int>(v);
    return true;
}

constexpr const char* kUsage =
    "usage: %s APPLICATION_NUMBER\n"
    "Runs the device in the current folder (start.cfg, cfg/, the drives meas/,\n"
    "meas2/, usb_meas/, c/, log.txt, nvram.bin) until SIGINT, SIGTERM, SIGHUP,\n"
    "SIGQUIT or the shell command reset_voz.\n"
    "APPLICATION_NUMBER (0 to 255) is the number the process is started under,\n"
    "as the board's application manager numbers its processes: it selects the\n"
    "start parameters and names the post-run semaphore (\"/SemPostDrive\" and the\n"
    "number) and the CAN receive queue. The device's main application is 1\n"
    "(scripts/run starts it so).\n";

// -1 when the one argument is an application number (in *out); else the
// usage is said and the exit status returned: 0 for --help, 2 otherwise.
int checkArguments(int argc, char** argv, int* out) {
    const char* self = argc > 0 && argv[0] ? argv[0] : "tav9";
    // asked for, the usage is the answer: on stdout, as the tools print theirs
    if (argc == 2 && argv[1] && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        fprintf(stdout, kUsage, self);
        return 0;
    }
    if (parseAppNumber(argc, argv, out)) return -1;
    if (argc < 2)
        fprintf(stderr, "%s: the application number is missing\n", self);
    else if (argc > 2)
        fprintf(stderr, "%s: one argument only, the application number\n", self);
    else
        fprintf(stderr, "%s: '%s' is no application number (a whole number from 0 to 255)\n", self, argv[1]);
    fprintf(stderr, kUsage, self);
    return 2;
}

int resetVozCommand(int argc, char**) {
    // extra words may be a typo: the usage, and the device keeps running
    if (argc > 1) {
        std::printf("usage: reset_voz\n");
        return -1;
    }
    startPostrun();
    return 0;
}

void registerPlatformRasters() {
    // the CAN front end drains the receive queue early in every 1 ms tick
    startup_step("canPoll_1ms entry",
                 raster_addEntry(RB_1MS, "canPoll_1ms", [](intptr_t) { canPoll_1ms(); }, 0) == 1);
}

// The shells' first lines should find the inputs moving: the 1 ms raster,
// which steps the stimulus, has run once. Its first tick comes within a
// millisecond of raster step 1; a raster that does not run within a second
// is named and the shells take lines all the same.
void awaitFirstRasterRun() {
    constexpr int kLimitTicks = 1000;
    const int r1ms = raster_find("r1ms");
    RasterInfo info{};
    for (int waited = 0; r1ms >= 0 && raster_info(r1ms, &info) && info.ticks == 0; ++waited) {
        if (waited == kLimitTicks) {
            syslogx(148, "startup: raster r1ms has not run after %d ms", kLimitTicks);
            return;
        }
        taskDelay(1);
    }
}

void stopComponents() {
    wire_logging_shutdown();
    wire_can_shutdown();
    wire_display_shutdown();
    wire_gui_shutdown();
    wire_virari_stop_time();   // its master task sends through the command interface
    wire_virari_stop_network();
    wire_logging_sourcesEnd();
    wire_measurement_shutdown();
    wire_xcp_shutdown();
    wire_virari_shutdown();
}

}  // namespace

bool startup_step(const char* name, bool ok, bool fatal) {
    if (ok) return true;
    syslogx(fatal ? 3 : 147, "startup: %s failed%s", name, fatal ? ", process ends" : "");
    if (fatal) {
        // the end skips the NVRAM's writer: what it holds back (the boot
        // counter, the lap counters) goes to the disk now, a failure said
        nvram_dbs_flush();
        syslogx_readerStop();
        _exit(1);
    }
    return false;
}

int appStart(int argc, char** argv) {
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    // A wrong call makes nothing in the folder it was made in: the usage
    // is said before the folder is locked or the log begins.
    int appNumber = 0;
    if (const int rc = checkArguments(argc, argv, &appNumber); rc >= 0) return rc;
    // the termination signals are blocked by main; the two host CPUs that
    // stand for the board's two cores are set before any thread exists
    std::string coresProblem;
    if (!kSanitizedBuild) host::bindBoardCores(&coresProblem);
    if (kSanitizedBuild) host::forbidRealtimeScheduling();
    // One device process per folder: a second one would share the shell
    // socket, the CAN ports and nvram.bin. Checked before anything is
    // written there.
    if (std::string why; !host::lockDeviceFolder(&why)) {
        fprintf(stderr, "tav9: the device folder %s %s: not started\n", host::deviceFolder().c_str(), why.c_str());
        _exit(1);
    }
    taskCpuAffinitySet(taskIdSelf(), 1u << kStartCore);

    if (!syslogx_queue() || syslogx_readerStart() != 1) fprintf(stderr, "startup: log queue not available\n");
    // Every task spawned from here on runs in the order of its priority.
    if (kSanitizedBuild)
        syslogx(150, "startup: sanitizer build, tasks run at normal priority");
    else if (!host::enableRealtimeScheduling())
        syslogx(150, "startup: real-time scheduling not permitted, tasks run at normal priority");
    if (!coresProblem.empty()) syslogx(148, "startup: %s", coresProblem.c_str());
    if (host::boardCoreHostCpu(0) >= 0)
        syslogx(150, "startup: processor cores 0 and 1 on host CPUs %d and %d", host::boardCoreHostCpu(0),
                host::boardCoreHostCpu(1));
    else
        syslogx(150, "startup: tasks run on any host CPU");

    startup_step("start parameters", AppMan_init(appNumber) == 1);
    syslogx(150, "startup: application %d, PID %u, %s", appNumber, static_cast<unsigned>(app_pid),
            device_ip_addr);
    startup_step("post-run semaphore", startup_postrunInit(appNumber) == 1, true);
    // a stop ends the process within 10 s of its request, whatever the disk
    // does (a sanitizer build runs many times slower)
    startup_setStopLimit(kSanitizedBuild ? kStopLimitMs * 5 : kStopLimitMs);
    signals_startWatcher(startPostrun);
    folderWatch_start();

    startup_step("NVRAM database", nvram_dbs_init() == 1, true);
    if (startup_step("boot counter", base_boot_count_init() == 1))
        syslogx(150, "startup: boot counter %u", static_cast<unsigned>(base_boot_count_get()));
    // Before anything names this unit to others (the time service, the
    // device network, the list requests, the file headers).
    if (std::string why; host::loadUnitId(&why) == host::UnitIdLoad::Failed)
        syslogx(147, "startup: %s: this unit has no id of its own", why.c_str());
    else
        syslogx(150, "startup: unit id 0x%08X", static_cast<unsigned>(unit_id_get()));
    wire_measurement_init();

    char part[17] = {}, serial[17] = {};
    nvramst_get_partNumber(part);
    nvramst_get_serialNumber(serial);
    syslogx(150, "startup: device %s serial %s", part, serial);
    startup_step("sibling page",
                 host::applCommPage() != nullptr &&
                     semOpen("/ApplComSem", SEM_TYPE_BINARY, SEM_FULL, SEM_Q_FIFO, OM_CREATE) != nullptr);
    time_initTimeModule();
    startup_step("raster step 0", raster_init() == 1, true);
    startup_step("NVRAM objects", nvramst_init() == 1);
    if (startup_step("error memory", error_mgr_init() == 1))
        startup_step("error memory storage raster",
                     raster_hookFunction("ErrorMgr_Storage", 89, 1000, error_mgr_storage_1s, 0, -1, 0) != 0);
    host::canOpen(appNumber);
    wire_logging_init();

    startup_step("shell command reset_voz", msd_shellAddCommand("reset_voz", resetVozCommand) != 0);
    if (!startup_step("shell bridge", shell_start(true) == 1)) startPostrun();   // no way to reach us: end

    wire_virari_init();
    wire_can_init();
    wire_xcp_init();
    wire_gui_init();
    wire_display_init();
    wire_telemetry_init();

    registerPlatformRasters();
    wire_measurement_rasters();
    wire_logging_rasters();
    wire_can_rasters();
    wire_xcp_rasters();
    wire_virari_rasters();
    wire_gui_rasters();
    wire_display_rasters();

    ShutdownHooks hooks;
    hooks.stopComponents = stopComponents;
    hooks.loggerFlushed = wire_logging_flushed;
    hooks.haltLogger = wire_logging_haltWriters;
    hooks.endCopies = wire_logging_endCopies;
    hooks.noteRecordingStops = meas_app_noteRecordingStops;
    rtpShutdown_setHooks(hooks);

    startup_step("raster step 1", raster_start() == 1, true);
    wire_virari_start();
    startup_step("XCP slave", wire_xcp_start() == 1, true);
    wire_display_start();

    awaitFirstRasterRun();
    syslogx(150, "startup: done after %ld ms", msSince(t0));
    // Only now is every shell command registered and what they act on
    // running: the lines that came during the start (a command file on
    // standard input) run from here, in their order.
    shell_acceptLines();
    startup_waitPostrun();
    // The shells stop taking commands first, before the shutdown's first
    // line: a command run during the shutdown would act on components being
    // stopped, and a flood of them would crowd the shutdown's lines out of
    // the log.
    stopBudget_noteStep("the shell's stop");
    shell_stop();
    const int exitCode = rtpShutdown();
    // the kernel side's threads: the last frame still goes to screen.png; in
    // what is left of the stop
    stopBudget_noteStep("the stop of the kernel side's services");
    host::shutdownServices(stopBudget_waitMs(kServicesStopMs, kServicesReserveMs));
    stopBudget_noteStep("the flush of standard output");
    fflush(stdout);
    // other modules' tasks may still run: end without static destructors
    stopStarvation_endPromptly();
    _exit(exitCode);
}
