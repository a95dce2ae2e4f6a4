// Start-up, raster and shutdown wiring of the gui component.
//
// The GUI task and the timer task are started by the display application
// (displayInit, app/wiring_display.cpp); here they are ended at shutdown so
// that the last frame reaches screen.png and every screen object is freed.
#include "display/app/display_requests.h"
#include "gui/core/gui_message.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "host/os/os.h"
#include "platform/task_stop.h"
#include "wiring.h"

namespace {
constexpr int kStopWaitTicks = 5000;
}  // namespace

void wire_gui_init() {}      // the display application starts the GUI tasks
void wire_gui_rasters() {}   // the GUI has no raster entry points

void wire_gui_shutdown()
{
    bool ended = true;
    if (gGuiTask) {
        // Message 19 addressed to the presentation manager ends its loop at
        // once; the GUI task then deletes every screen object and returns.
        if (gbGuiInitialized == 1 && GuiThing::mpMessageQueue && GuiThing::mpPresentation) {
            GuiMessage quit(GM_CLOSE_LOOP, 0, GuiThing::mpPresentation, nullptr);
            GuiThing::mpMessageQueue->Push(&quit);
        }
        if (taskWait(gGuiTask, kStopWaitTicks) != OK &&
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
