// The GUI task, the timer task and the recursive GUI lock.
#include "gui/core/gui_task.h"

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_thing.h"
#include "platform/syslogx.h"

TASK_ID tBaseGuiTask = nullptr;
SEM_ID tGuiPresentationMutex = nullptr;
std::atomic<TASK_ID> tGuiLockTask{nullptr};
int giCriticalNesting = 0;
std::atomic<SEM_ID> tGuiTimerMutex{nullptr};
std::atomic<int> gbGuiInitialized{0};
std::atomic<int> gbGuiTimerEventPending{1};
std::atomic<unsigned> iDummy{0};

namespace {
// Set by GuiRequestQuit, cleared by the teardown.
std::atomic<bool> gQuitRequested{false};
}  // namespace

// ---- the GUI lock ---------------------------------------------------------------------

// tGuiLockTask is read by tasks that do not hold the lock; only the holder
// writes it, so a reader finds itself there only when it holds the lock.
void EnterCriticalSection()
{
    TASK_ID self = taskIdSelf();
    if (tGuiLockTask.load() != self) {
        if (tGuiPresentationMutex) semTake(tGuiPresentationMutex, WAIT_FOREVER);
        tGuiLockTask.store(self);
    }
    ++giCriticalNesting;
}

void ExitCriticalSection()
{
    // An exit by a task that does not hold the lock is ignored: giving the
    // mutex would break the holder's exclusion.
    if (tGuiLockTask.load() != taskIdSelf() || giCriticalNesting <= 0) return;
    if (--giCriticalNesting == 0) {
        tGuiLockTask.store(nullptr);
        if (tGuiPresentationMutex) semGive(tGuiPresentationMutex);
    }
}

// ---- timer task ------------------------------------------------------------------------

int GuiTimerPeriod()
{
    int ticks = sysClkRateGet() / 20;
    return ticks < 1 ? 1 : ticks;
}

void GuiTimerTaskStep()
{
    // Under the timer mutex, so that the teardown (which stops the ticks and
    // deletes the queue under the same mutex) never races a post. The GUI
    // task creates the mutex while this task may already run: it is read
    // once, so that a take and its give use the same one.
    SEM_ID mutex = tGuiTimerMutex.load();
    if (mutex) semTake(mutex, WAIT_FOREVER);
    if (gbGuiTimerEventPending.load() == 0 && gpGuiMesgQueue) {
        // The flag is raised before the post: the GUI task may consume the
        // tick (and clear the flag) before this task runs again.
        gbGuiTimerEventPending = 1;
        GuiMessage tick(GM_TIMER);
        // A dropped tick (full queue) must not leave the flag raised, or
        // the timers would stop for good.
        if (!GuiEnqueueMessage(&tick, gpGuiMesgQueue)) gbGuiTimerEventPending = 0;
    }
    if (mutex) semGive(mutex);
}

void GuiTimerTask(intptr_t)
{
    for (;;) {
        taskDelay(GuiTimerPeriod());
        // The GUI task makes the timer mutex and the queue during its
        // start-up; until it has finished there is nothing to tick.
        if (gbGuiInitialized.load() != 1) continue;
        GuiTimerTaskStep();
    }
}

// ---- GUI task ----------------------------------------------------------------------------

void GuiLoopForever()
{
    // Never returns; the delay keeps the parked task deletable and idle.
    for (;;) {
        ++iDummy;
        taskDelay(1000);
    }
}

bool GuiStartUp(SEM_ID initialised, GuiAppInit appInit)
{
    // published whole (atomic store) before the timer task can find it
    if (!tGuiTimerMutex.load()) tGuiTimerMutex.store(semMCreate(SEM_Q_PRIORITY));
    if (!tGuiPresentationMutex) tGuiPresentationMutex = semMCreate(SEM_Q_PRIORITY);
    if (!tGuiTimerMutex.load() || !tGuiPresentationMutex) return false;
    tGuiLockTask = nullptr;
    giCriticalNesting = 0;
    tBaseGuiTask = taskIdSelf();

    GuiThing::mpScreen = CreateGuiScreen();
    if (!GuiThing::mpScreen) {
        syslogx(147, "GuiTaskMain: no drawing surface");
        return false;
    }
    GuiThing::mpMessageQueue = new GuiMessageQueue;

    GuiScreen* screen = GuiThing::mpScreen;
    auto* pm = new GuiPresentationManager(GuiRect(0, 0, screen->Width() - 1, screen->Height() - 1));
    GuiThing::mpPresentation = pm;
    pm->SetColor(0, 0);

    screen->GenerateViewportList(pm);
    screen->Invalidate(pm->mClient);
    pm->Draw();

    ConfigureGuiInput();
    if (appInit) appInit(pm);

    gbGuiInitialized = 1;
    gbGuiTimerEventPending = 0;
    if (initialised) semGive(initialised);
    return true;
}

int GuiRunMessageLoop()
{
    // The request and gbGuiInitialized are each written before the other
    // is read (sequentially consistent): a request made while the start-up
    // ran is seen here, or it found the GUI initialised and posted the
    // loop-ending message.
    if (gQuitRequested.load()) return 0;
    GuiPresentationManager* pm = GuiThing::mpPresentation;
    return pm ? pm->Execute(1) : 0;
}

void GuiRequestQuit()
{
    gQuitRequested.store(true);
    // Message 19 addressed to the presentation manager ends its loop at once.
    if (gbGuiInitialized.load() == 1 && GuiThing::mpMessageQueue && GuiThing::mpPresentation) {
        GuiMessage quit(GM_CLOSE_LOOP, 0, GuiThing::mpPresentation, nullptr);
        GuiThing::mpMessageQueue->Push(&quit);
    }
}

void GuiTearDown()
{
    RestoreGuiInput();
    delete GuiThing::mpPresentation;
    GuiThing::mpPresentation = nullptr;

    // Ticks stop and the queue goes under the timer mutex, which the timer
    // task holds while it posts.
    if (tGuiTimerMutex) semTake(tGuiTimerMutex, WAIT_FOREVER);
    gbGuiTimerEventPending = 1;
    delete GuiThing::mpMessageQueue;   // frees the timers and gpGuiMesgQueue
    GuiThing::mpMessageQueue = nullptr;
    if (tGuiTimerMutex) semGive(tGuiTimerMutex);

    delete GuiThing::mpScreen;
    GuiThing::mpScreen = nullptr;
    gQuitRequested.store(false);
}

void GuiDeleteLocks()
{
    if (SEM_ID mutex = tGuiTimerMutex.exchange(nullptr)) semDelete(mutex);
    if (tGuiPresentationMutex) semDelete(tGuiPresentationMutex);
    tGuiPresentationMutex = nullptr;
    tGuiLockTask = nullptr;
    giCriticalNesting = 0;
    tBaseGuiTask = nullptr;
}

void GuiTaskMain(intptr_t semaphore)
{
    if (!GuiStartUp(reinterpret_cast<SEM_ID>(semaphore))) GuiLoopForever();
    GuiRunMessageLoop();
    GuiTearDown();
}

int GuiDispatchPending()
{
    GuiPresentationManager* pm = GuiThing::mpPresentation;
    GuiMessageQueue* mq = GuiThing::mpMessageQueue;
    if (!pm || !mq) return 0;
    int n = 0;
    GuiMessage msg;
    while (mq->TryPop(&msg)) {
        if (pm->RouteMessageToTask(&msg)) continue;
        ++n;
        if (pm->DispatchMessage(pm, &msg) == GUI_RESULT_QUIT) return GUI_RESULT_QUIT;
    }
    return n;
}
