// Start-up, raster and shutdown wiring of the display component.
//
// The display starts its own GUI tasks (displayInit), the page and
// brightness task (displayCtrl_ini) before it, registers the shell command
// "display" and serves the page-set command 0x1600. The start request is
// polled at the end of the start-up until the GUI task takes it.
#include <atomic>

#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/app/pageset.h"
#include "display/control/display_ctrl.h"
#include "measurement/comint.h"
#include "host/os/os.h"
#include "platform/shell.h"
#include "platform/syslogx.h"
#include "wiring.h"

namespace {
int pagesetCommand(ci_msg_t* msg) { return display_pageset_cmd(reinterpret_cast<unsigned char*>(msg)); }

// A GUI that is not ready within the start-up's polls (a slow host, a
// sanitizer build) still gets its start request: a task keeps asking, one
// tick apart, for at most this long.
constexpr int kLateStartTicks = 20000;
std::atomic<TASK_ID> gLateStart{nullptr};
std::atomic<bool> gLateStop{false};

void lateStartBody() {
    for (int t = 0; t < kLateStartTicks && !gLateStop.load(); ++t) {
        if (wire_display_start() == 1) {
            syslogx(150, "startup: display started late");
            return;
        }
        taskDelay(1);
    }
    if (!gLateStop.load()) syslogx(147, "startup: display start failed");
}
}  // namespace

void wire_display_start_late()
{
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

int wire_display_start() { return displayStart() == 0 ? 1 : 0; }

void wire_display_shutdown()
{
    gLateStop.store(true);
    if (TASK_ID t = gLateStart.exchange(nullptr)) taskWait(t, WAIT_FOREVER);
    displayJoin();
    // Not on the car, where the display lasts until the process ends: here
    // the page and brightness task ends before the GUI task tears the pages
    // down with their channel sources.
    displayCtrl_exit();
}
