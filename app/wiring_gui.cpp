// Start-up, raster and shutdown wiring of the gui component.
//
// The GUI task and the timer task are started by the display application
// (displayInit, app/wiring_display.cpp); here they are ended at shutdown so
// that the last frame reaches screen.png and every screen object is freed.
#include "display/app/display_requests.h"
#include "gui/core/gui_task.h"
#include "host/os/os.h"
#include "platform/stop_budget.h"
#include "platform/task_stop.h"
#include "wiring.h"

namespace {
// How long the GUI task may take to tear its screen objects down, within
// what the stop leaves for its later steps (the logger's flush and halt,
// the end).
constexpr unsigned kStopWaitMs = 5000;
constexpr unsigned kStopReserveMs = 3000;
}  // namespace

void wire_gui_init() {}      // the display application starts the GUI tasks
void wire_gui_rasters() {}   // the GUI has no raster entry points

void wire_gui_shutdown()
{
    bool ended = true;
    if (gGuiTask) {
        // Also a GUI task still in its start-up (a shutdown right after the
        // device's start) ends without a loop; it then deletes every screen
        // object and returns.
        GuiRequestQuit();
        const unsigned waitMs = stopBudget_waitMs(kStopWaitMs, kStopReserveMs);
        if (taskWait(gGuiTask, static_cast<int>(waitMs * sysClkRateGet() / 1000)) != OK &&
            !task_stop(gGuiTask, "wire_gui_shutdown()", "the GUI locks"))
            ended = false;
        gGuiTask = nullptr;
    }
    if (gTimerTask) {
        // unwound from its delay
        if (!task_stop(gTimerTask, "wire_gui_shutdown()", "the GUI locks")) ended = false;
        gTimerTask = nullptr;
    }
    // a task given up in a system call may take them when its call returns
    if (ended) GuiDeleteLocks();
}
