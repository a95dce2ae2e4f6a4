// Start-up, raster and shutdown wiring of the display component.
//
// The display starts its own GUI tasks (displayInit), the page and
// brightness task (displayCtrl_ini) before it, registers the shell command
// "display" and serves the page-set command 0x1600. The start request is
// polled at the end of the start-up until the GUI task takes it.
#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/app/pageset.h"
#include "display/control/display_ctrl.h"
#include "measurement/comint.h"
#include "platform/shell.h"
#include "wiring.h"

namespace {
int pagesetCommand(ci_msg_t* msg) { return display_pageset_cmd(reinterpret_cast<unsigned char*>(msg)); }
}  // namespace

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
    displayJoin();
    // Not on the car, where the display lasts until the process ends: here
    // the page and brightness task ends before the GUI task tears the pages
    // down with their channel sources.
    displayCtrl_exit();
}
