#include "platform/stop_priority.h"

#include <sched.h>

#include <algorithm>

#include "host/kernel/kernel.h"
#include "platform/stop_starvation.h"

int stopPriority_value() { return std::min(host::realtimeBaseTickPriority() + 1, sched_get_priority_max(SCHED_FIFO)); }

bool stopPriority_raiseSelf(const char* name) {
    if (name) pthread_setname_np(pthread_self(), name);
    // without real-time tasks an ordinary thread is not starved by them (the
    // tasks lowered for a stop were real-time before: the stop's threads
    // still stand above whatever starved them)
    if (!host::realtimeSchedulingEnabled() && !stopStarvation_tasksLowered()) return true;
    sched_param sp{};
    sp.sched_priority = stopPriority_value();
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0;
}
