#include "platform/stop_priority.h"

#include <sched.h>

#include <algorithm>

#include "host/kernel/kernel.h"

bool stopPriority_raiseSelf(const char* name) {
    if (name) pthread_setname_np(pthread_self(), name);
    // without real-time tasks an ordinary thread is not starved by them
    if (!host::realtimeSchedulingEnabled()) return true;
    sched_param sp{};
    sp.sched_priority = std::min(host::realtimeBaseTickPriority() + 1, sched_get_priority_max(SCHED_FIFO));
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0;
}
