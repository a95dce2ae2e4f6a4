// Timers with a connected routine, each served by a thread of its own.
#include "host/os/os_internal.h"

struct HostTimer {
    std::mutex mx;
    std::condition_variable cv;
    TimerRoutine routine = nullptr;
    intptr_t arg = 0;
    bool armed = false;
    hostos::Clock::time_point due{};
    std::chrono::milliseconds interval{0};
    bool quit = false;
    bool selfDeleted = false;   // deleted from its own routine: the thread frees it
    std::thread thread;
};

namespace {

void timerLoop(HostTimer* t) {
    std::unique_lock<std::mutex> lk(t->mx);
    while (!t->quit) {
        if (!t->armed) {
            t->cv.wait(lk);
            continue;
        }
        t->cv.wait_until(lk, t->due);
        if (t->quit || !t->armed || hostos::Clock::now() < t->due) continue;
        if (t->interval.count() > 0) t->due += t->interval;
        else t->armed = false;
        TimerRoutine r = t->routine;
        intptr_t a = t->arg;
        lk.unlock();
        if (r) r(t, a);
        lk.lock();
    }
    bool free = t->selfDeleted;
    lk.unlock();
    if (free) delete t;
}

}  // namespace

TIMER_ID timerCreate() {
    auto* t = new HostTimer;
    try {
        t->thread = std::thread(timerLoop, t);
    } catch (const std::system_error&) {
        delete t;
        return nullptr;
    }
    return t;
}

STATUS timerConnect(TIMER_ID t, TimerRoutine routine, intptr_t arg) {
    if (!t || !routine) return ERROR;
    std::lock_guard<std::mutex> lk(t->mx);
    t->routine = routine;
    t->arg = arg;
    return OK;
}

STATUS timerArm(TIMER_ID t, int firstMs, int intervalMs) {
    if (!t || firstMs < 0 || intervalMs < 0) return ERROR;
    {
        std::lock_guard<std::mutex> lk(t->mx);
        t->armed = firstMs > 0;
        t->due = hostos::Clock::now() + std::chrono::milliseconds(firstMs);
        t->interval = std::chrono::milliseconds(intervalMs);
    }
    t->cv.notify_all();
    return OK;
}

STATUS timerCancel(TIMER_ID t) { return timerArm(t, 0, 0); }

STATUS timerDelete(TIMER_ID t) {
    if (!t) return ERROR;
    bool self = t->thread.get_id() == std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lk(t->mx);
        t->quit = true;
        t->selfDeleted = self;
    }
    t->cv.notify_all();
    if (self) {
        t->thread.detach();
        return OK;
    }
    t->thread.join();
    delete t;
    return OK;
}
