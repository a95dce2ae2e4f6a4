#include "platform/task_stop.h"

#include <string>

#include "platform/syslogx.h"

bool task_stop(TASK_ID task, const char* owner, const char* kept) {
    if (!task) return true;
    const std::string name = taskName(task);   // while it is registered
    if (taskDelete(task) == OK) return true;
    // an id no longer registered ended before (taskWait: OK), as has one
    // that ended just now
    if (taskWait(task, NO_WAIT) == OK) return true;
    syslogx(147, "%s: task %s stuck in a system call, given up: %s kept", owner, name.c_str(), kept);
    return false;
}
