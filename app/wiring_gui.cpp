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
#include "wiring.h"

namespace {
constexpr int kStopWaitTicks = 5000;
}  // namespace

void wire_gui_init() {}      // the display application starts the GUI tasks
void wire_gui_rasters() {}   // the GUI has no raster entry points

void wire_gui_shutdown()
{
    if (gGuiTask) {
        // Message 19 addressed to the presentation manager ends its loop at
        // once; the GUI task then deletes every screen object and returns.
        if (gbGuiInitialized == 1 && GuiThing::mpMessageQueue && GuiThing::mpPresentation) {
            GuiMessage quit(GM_CLOSE_LOOP, 0, GuiThing::mpPresentation, nullptr);
            GuiThing::mpMessageQueue->Push(&quit);
        }
        if (taskWait(gGuiTask, kStopWaitTicks) != OK) taskDelete(gGuiTask);
        gGuiTask = nullptr;
    }
    if (gTimerTask) {
        taskDelete(gTimerTask);   // unwound from its delay
        gTimerTask = nullptr;
    }
    GuiDeleteLocks();
}
