// Start-up, raster and shutdown wiring of the gui component.
//
// The GUI task and the timer task are started here the way the display
// application's start-up starts them, so the device shows the runtime's
// own test window (written to screen.png by the frame-buffer driver's
// flush). Once the display application starts the tasks itself, this start
// moves there.
#include "gui/core/gui_message.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "host/os.h"
#include "platform/syslogx.h"
#include "wiring.h"

namespace {

constexpr int kGuiPriority = 121;
constexpr int kTimerPriority = 120;
constexpr size_t kGuiStack = 500000;
constexpr cpuset_t kFirstCore = 1;
constexpr int kStartWaitTicks = 5000;
constexpr int kStopWaitTicks = 5000;

TASK_ID gGuiTask = nullptr;
TASK_ID gTimerTask = nullptr;

}  // namespace

void wire_gui_init()
{
    SEM_ID done = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    gGuiTask = taskSpawn("r_GuiMn", kGuiPriority, VX_FP_TASK, kGuiStack, GuiTaskMain,
                         reinterpret_cast<intptr_t>(done));
    if (!gGuiTask) syslogx(147, "displayInit(): create GuiMain failed");
    else if (taskCpuAffinitySet(gGuiTask, kFirstCore) != OK)
        syslogx(147, "displayInit(): set affinity of GuiMain failed");
    gTimerTask = taskSpawn("r_t_GuiTmr", kTimerPriority, VX_FP_TASK, kGuiStack, GuiTimerTask, 0);
    if (!gTimerTask) syslogx(147, "displayInit(): create GuiTimer failed");
    else if (taskCpuAffinitySet(gTimerTask, kFirstCore) != OK)
        syslogx(147, "displayInit(): set affinity of GuiTimer failed");
    // Wait until the first frame is drawn, so the start goes on with a
    // running GUI.
    if (gGuiTask && done && semTake(done, kStartWaitTicks) != OK) {
        syslogx(147, "wire_gui_init: GUI not initialised in time");
        // The GUI task may still give the semaphore when it gets there:
        // it stays allocated rather than be given after its deletion.
        return;
    }
    if (done) semDelete(done);
}

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
