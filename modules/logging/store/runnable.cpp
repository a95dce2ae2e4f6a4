#include "logging/store/runnable.h"

#include <cerrno>

#include "platform/syslogx.h"

namespace measure::store {

Runnable::Runnable() : lock_(true), wake_(semBCreate(SEM_Q_FIFO, SEM_EMPTY)) {}

Runnable::~Runnable() {
    taskStop(WAIT_FOREVER);
    if (wake_) semDelete(wake_);
}

int Runnable::taskStart(const char* name, int priority, size_t stackSize, int options, int processor) {
    ScopeLock sl(&lock_, "Runnable::taskStart");
    if (active_.load()) {
        syslogx(147, "Runnable(): tried starting task (%s) twice!", name ? name : "");
        return 0;
    }
    if (wake_) semTake(wake_, NO_WAIT);   // the give of an earlier stop
    run_.store(true);
    active_.store(true);
    tid_ = taskSpawn(name, priority, options, stackSize, [this, processor] { taskLauncher(this, processor); });
    if (!tid_) {
        syslogx(147, "Runnable(): start of task (%s) failed! errno %d", name ? name : "", errno);
        run_.store(false);
        active_.store(false);
        return 0;
    }
    return 1;
}

void Runnable::taskLauncher(Runnable* self, int processor) {
    if (processor >= 0 && processor < 32) taskCpuAffinitySet(taskIdSelf(), cpuset_t(1u << processor));
    self->taskStartCallback();
    while (self->run_.load() && self->taskMain()) {
    }
    syslogx(151, "Runnable task is going to shutdown!");
    self->taskStopCallback();
    self->active_.store(false);
}

int Runnable::taskStop(int timeoutTicks) {
    TASK_ID tid;
    {
        ScopeLock sl(&lock_, "Runnable::taskStop");
        tid = tid_;
    }
    taskStopAsync();
    if (!tid) return 1;
    if (taskIdSelf() == tid) return 0;   // a task cannot wait for itself
    // taskWait joins the thread (at once for a task that has ended already);
    // a wait that times out while the loop has been left still counts.
    if (taskWait(tid, timeoutTicks) != OK && active_.load()) return 0;
    ScopeLock sl(&lock_, "Runnable::taskStop");
    if (tid_ == tid) tid_ = nullptr;
    return 1;
}

void Runnable::taskStopAsync() {
    run_.store(false);
    if (wake_) semGive(wake_);
}

void Runnable::sleepMs(int ms) {
    if (ms <= 0) return;
    if (!wake_) {   // no semaphore: a plain delay, a stop ends it late
        if (run_.load()) taskDelay(ms);
        return;
    }
    // A give left over from a stop of an earlier run does not end this
    // sleep: only a cleared run flag does.
    const uint64_t end = tickGet() + uint64_t(ms);
    while (run_.load()) {
        const uint64_t now = tickGet();
        if (now >= end) return;
        semTake(wake_, int(end - now));
    }
}

}  // namespace measure::store
