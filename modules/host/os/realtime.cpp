// Real-time scheduling of the tasks where the host permits it: each task
// runs under SCHED_FIFO at a priority that keeps the order of the device's
// priorities (a lower number is more urgent there, a higher one here), and
// the base tick above them all. Without permission every task stays an
// ordinary thread, as before.
//
// A process may also forbid it: then no thread of it, the base tick's
// included, leaves normal scheduling. A sanitizer's runtime needs that (see
// the device's start-up): its internal locks spin with sched_yield, and under
// SCHED_FIFO a yield never lets a holder of lower priority on the same CPU run.
#include "host/kernel/kernel.h"
#include "host/os/os_internal.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>

namespace host {

namespace {
std::atomic<bool> enabled{false};
std::atomic<bool> forbidden{false};

// The tasks share the range below the base tick's.
constexpr int kTaskTop = 97;
constexpr int kTaskBottom = 2;
constexpr int kDevicePriorities = 256;
}  // namespace

int realtimePriorityOf(int devicePriority) {
    if (devicePriority < 0) devicePriority = 0;
    if (devicePriority >= kDevicePriorities) devicePriority = kDevicePriorities - 1;
    return kTaskTop - devicePriority * (kTaskTop - kTaskBottom) / (kDevicePriorities - 1);
}

int realtimeBaseTickPriority() { return kTaskTop + 1; }

bool enableRealtimeScheduling() {
    if (forbidden) return false;
    // Probe on the calling thread and give it back its own policy.
    int policy = 0;
    sched_param old{};
    pthread_getschedparam(pthread_self(), &policy, &old);
    sched_param sp{};
    sp.sched_priority = kTaskBottom;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) != 0) return false;
    pthread_setschedparam(pthread_self(), policy, &old);
    enabled = true;
    return true;
}

void disableRealtimeScheduling() { enabled = false; }

bool realtimeSchedulingEnabled() { return enabled; }

void forbidRealtimeScheduling() {
    forbidden = true;
    enabled = false;
}

bool realtimeSchedulingForbidden() { return forbidden; }

void applyRealtimePriority(int devicePriority) {
    if (!enabled) return;
    sched_param sp{};
    sp.sched_priority = realtimePriorityOf(devicePriority);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
}

void becomeBackgroundThread(const char* name) {
    sched_param sp{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &sp);
    pthread_setname_np(pthread_self(), name);
}

}  // namespace host
