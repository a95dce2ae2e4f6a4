// The priority of the stop's own threads: the signal watcher, the main task
// once it waits for the stop, and the stop's guard.
#pragma once

#include <pthread.h>

// Where the device runs its tasks at real-time priority, puts the calling
// thread above all of them and above the base tick, so that neither a task
// of its own that loops nor a real-time loop of another process below them
// delays the stop; elsewhere the thread stays as it is. Names the thread
// (at most 15 characters). False when the priority could not be set.
bool stopPriority_raiseSelf(const char* name);
// That real-time priority.
int stopPriority_value();
