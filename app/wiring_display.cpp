// Start-up, raster and shutdown wiring of the display component.
//
// The display starts its own GUI tasks (displayInit), the page and
// brightness task (displayCtrl_ini) before it, registers the shell command
// "display" and serves the page-set command 0x1600. The start request is
// asked for at the end of the start-up until the GUI task takes it.
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/app/pageset.h"
#include "display/control/display_ctrl.h"
#include "measurement/comint.h"
#include "host/os/os.h"
#include "platform/shell.h"
#include "platform/stop_budget.h"
#include "platform/syslogx.h"
#include "wiring.h"

namespace {
int pagesetCommand(ci_msg_t* msg) { return display_pageset_cmd(reinterpret_cast<unsigned char*>(msg)); }

// The start-up asks the GUI task to start the display this many times, one
// tick apart; a GUI not ready by then (a slow host, a sanitizer build) gets
// its request from a task that keeps asking for at most kLateStartTicks.
// TAV9_DISPLAY_START_POLLS=N (0 to 50, in the README) asks fewer times; 0 leaves
// the asking to that task from the first.
constexpr int kStartPolls = 50;
constexpr int kLateStartTicks = 20000;
// The asking task sees the stop within a tick; one held up longer (no CPU
// for it, a start request that does not return) is not waited for past
// this, nor past what the stop leaves for its later steps.
constexpr unsigned kLateStopWaitMs = 500;
constexpr unsigned kLateStopReserveMs = 3000;
std::atomic<TASK_ID> gLateStart{nullptr};
std::atomic<bool> gLateStop{false};

int startPolls() {
    const char* v = std::getenv("TAV9_DISPLAY_START_POLLS");
    if (!v || !*v) return kStartPolls;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v, &end, 10);
    if (std::isdigit(static_cast<unsigned char>(*v)) && *end == '\0' && errno == 0 && n >= 0 && n <= kStartPolls)
        return int(n);
    syslogx(148, "startup: TAV9_DISPLAY_START_POLLS=%s is no number from 0 to %d: the display is asked %d times",
            v, kStartPolls, kStartPolls);
    return kStartPolls;
}

// Asks, one tick apart, until the GUI task takes the request, `ticks` have
// passed or the shutdown ends the asking.
bool askToStart(int ticks) {
    for (int t = 0; t < ticks && !gLateStop.load(); ++t) {
        if (displayStart() == 0) return true;
        taskDelay(1);
    }
    return false;
}

void lateStartBody() {
    if (askToStart(kLateStartTicks))
        syslogx(150, "startup: display started late");
    else if (!gLateStop.load())
        syslogx(147, "startup: display start failed");
}
}  // namespace

void wire_display_start()
{
    if (askToStart(startPolls())) return;
    TASK_ID t = taskSpawn("r_dispStart", 200, 0, 16384, [] { lateStartBody(); });
    if (!t) syslogx(147, "startup: display start failed");
    gLateStart.store(t);
}

void wire_display_init()
{
    startup_step("display signals", disp_publishSignals() == 1);
    displayCtrl_ini();
    displayInit();
    pageSetName_ini();
    startup_step("shell command display", msd_shellAddCommand("display", displayCommandFunc) != 0);
    startup_step("page-set command", ci_register_command(CI_CMD_DISPLAY_PAGESET, pagesetCommand) == 1);
}

void wire_display_rasters() {}   // the display runs on tasks of its own

void wire_display_shutdown()
{
    gLateStop.store(true);
    if (TASK_ID t = gLateStart.exchange(nullptr)) {
        const unsigned waitMs = stopBudget_waitMs(kLateStopWaitMs, kLateStopReserveMs);
        if (taskWait(t, static_cast<int>(waitMs * sysClkRateGet() / 1000)) != OK &&
            taskDeleteWithin(t, static_cast<int>(waitMs * sysClkRateGet() / 1000)) != OK)
            syslogx(147, "wire_display_shutdown(): task r_dispStart has not ended after %u ms, left behind", 2 * waitMs);
    }
    displayJoin();
    // Not on the car, where the display lasts until the process ends: here
    // the page and brightness task ends before the GUI task tears the pages
    // down with their channel sources.
    displayCtrl_exit();
}
