// Ending a task whose owner then frees what the task uses.
#pragma once

#include "host/os/os.h"

// Deletes the task; true once it has ended. A task stuck in a system call
// of its own (a read or write nobody answers) is given up by taskDelete and
// runs on once its call returns: false then, and the owner must keep what
// the task uses (a leak, named here in the log: "<owner>: task <name> stuck
// in a system call, given up: <kept> kept").
bool task_stop(TASK_ID task, const char* owner, const char* kept);
