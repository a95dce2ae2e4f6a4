// The device's tasks during a stop on CPUs that real-time threads of other
// processes hold.
//
// Where the device runs its tasks at real-time priority, a real-time thread
// of another process above them (a loop amid their priorities or beside the
// base tick) takes every moment of its CPU that the kernel leaves to
// real-time threads; the kernel's throttling leaves the rest of each second
// (5 % by default) to threads of normal priority only. Tasks below such a
// thread get no CPU at all: the stop waits for them in vain, and the process
// cannot even end, since each of its threads has to run to end.
//
// The device's ordinary threads (the log reader, the writers, the NVRAM's
// writer) get only that share wherever any real-time thread holds their
// CPU, even one below every task; the stop waits for them: from the stop's
// request on they run at the least urgent task's priority, below the tasks.
//
// From the stop's request on, a watcher at the stop's priority looks again
// and again whether a thread at the priority of the device's least urgent
// task gets to run on each CPU of the pair. Once one does not, every thread
// of the device below the stop's priority runs at normal priority for the
// rest of the stop (and so do tasks started after it): they then get the
// share the kernel leaves them, and the stop ends in order or by its guard.
// A loop below the device's tasks, or of normal priority, changes nothing:
// the tasks keep their order.
#pragma once

// Starts the watcher, once; nothing where the tasks run at normal priority.
void stopStarvation_watch();
// True once the device's threads were put to normal priority.
bool stopStarvation_tasksLowered();

// The watcher's steps.
// True when a thread at the least urgent task's real-time priority runs on
// host CPU `cpu` (-1: any of the process's) within waitMs, or when that
// cannot be tried.
bool stopStarvation_lowestTaskRuns(int cpu, unsigned waitMs);
// Puts every real-time thread of the process below the stop's priority to
// normal priority, and the tasks started from now on; the number it moved.
unsigned stopStarvation_lowerTasks();
// Puts every thread of normal priority at the least urgent task's priority
// (none once the tasks were lowered); the number it moved.
unsigned stopStarvation_raiseOrdinaryThreads();

// Right before the end of the process: each thread has to run to end, and
// the threads lowered get their turn only in the share the kernel leaves
// them; they are put at the stop's priority, so that the process ends at
// once. Touches no file and takes no lock.
void stopStarvation_endPromptly();
