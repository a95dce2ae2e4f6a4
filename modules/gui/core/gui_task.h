// The GUI's two tasks, the recursive GUI lock and the hooks of the display
// application.
//
// The GUI task "r_GuiMn" owns the screen objects, draws and dispatches every
// message; the timer task "r_t_GuiTmr" posts one tick every 50 ms at most.
// Other tasks only post, and only once gbGuiInitialized is 1.
//
// Lock order: the GUI lock may be held while a queue mutex or the timer mutex
// is taken, never the other way round.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"

class GuiPresentationManager;

extern TASK_ID tBaseGuiTask;                     // the GUI task
extern SEM_ID tGuiPresentationMutex;             // mutex of the GUI lock
extern std::atomic<TASK_ID> tGuiLockTask;        // holder of the GUI lock, null = none
extern int giCriticalNesting;                    // nesting depth of the GUI lock
extern std::atomic<SEM_ID> tGuiTimerMutex;       // guards the timer list (made by the GUI task, read by the timer task)
extern std::atomic<int> gbGuiInitialized;        // 1 once the GUI task has started (never reset)
extern std::atomic<int> gbGuiTimerEventPending;  // 1 while a tick waits (starts at 1)
extern std::atomic<unsigned> iDummy;             // counter of the endless stop loop

// The recursive GUI lock: nested calls by the holder only count. Both work
// before the GUI task made the mutex (then there is nothing to exclude).
void EnterCriticalSection();
void ExitCriticalSection();

// Holds the GUI lock for a scope.
struct GuiLock {
    GuiLock() { EnterCriticalSection(); }
    ~GuiLock() { ExitCriticalSection(); }
    GuiLock(const GuiLock&) = delete;
    GuiLock& operator=(const GuiLock&) = delete;
};

// Timer period in system clock ticks: 50 ms.
int GuiTimerPeriod();

// Task bodies. GuiTaskMain's argument is the binary semaphore (SEM_ID) to
// give once the GUI is initialised, 0 for none.
void GuiTaskMain(intptr_t semaphore);
void GuiTimerTask(intptr_t);
// Endless stop loop of a GUI task that could not start.
void GuiLoopForever();

// Hooks of the display application called by the GUI task.
void ConfigureGuiInput();
void GuiAppInitialize(GuiPresentationManager* presentation);
void RestoreGuiInput();
// The runtime's start window (a framed window with a title, a note and a
// button), shown by the stand-in GuiAppInitialize until the display
// application supplies its own.
void GuiShowStartWindow(GuiPresentationManager* presentation);

// ---- the GUI task's life in three steps (GuiTaskMain runs them in order) ----
using GuiAppInit = void (*)(GuiPresentationManager*);
// Start-up: locks, drawing surface, message queue, presentation manager,
// the application hook `appInit`, then gbGuiInitialized = 1 and the
// semaphore given. False when a lock cannot be made (the GUI stays down).
bool GuiStartUp(SEM_ID initialised, GuiAppInit appInit = GuiAppInitialize);
// The message loop of the presentation manager; returns when it ends, at
// once when the end was asked for (GuiRequestQuit) before it began.
int GuiRunMessageLoop();
// Asks the GUI task to end its loop, whether or not its start-up is done:
// a GUI still starting skips its loop and tears down; one that runs gets the
// loop-ending message. Any task may call it; it holds until the teardown.
void GuiRequestQuit();
// Teardown after the loop: every screen object, the timers, the queue and
// the drawing surface are deleted and the statics cleared.
void GuiTearDown();
// Deletes the two mutexes once neither GUI task runs any more.
void GuiDeleteLocks();

// ---- deterministic driving (tests, single-task use) -----------------------------
// Dispatches every message waiting for the GUI task without blocking;
// returns the number dispatched, or -19 when the loop-ending message came.
int GuiDispatchPending();
// One period of the timer task without its delay.
void GuiTimerTaskStep();
