// Task wrapper from which the back end, the pretrigger and the writers derive.
//
// taskStart spawns a task that calls taskStartCallback() once, taskMain()
// while the run flag is set and taskMain() asks to go on, and then
// taskStopCallback(). A derived class stops the task in its own destructor,
// before its part of the object is gone.
#pragma once

#include <atomic>
#include <cstddef>

#include "host/os/os.h"
#include "logging/store/lock.h"

namespace measure::store {

class Runnable {
public:
    Runnable();
    virtual ~Runnable();
    Runnable(const Runnable&) = delete;
    Runnable& operator=(const Runnable&) = delete;

    // 1 when the task was spawned; 0 (logged) for a second start or a failed spawn.
    // processor 0..31 binds the task to that core, -1 leaves it free.
    int taskStart(const char* name, int priority, size_t stackSize, int options, int processor);
    // Clears the run flag and waits up to timeoutTicks (WAIT_FOREVER) for the
    // task to end; 1 when no task runs any more.
    int taskStop(int timeoutTicks);
    // Clears the run flag and ends a sleep in progress; does not wait.
    void taskStopAsync();
    bool isRunning() const { return run_.load(); }
    bool taskActive() const { return active_.load(); }

protected:
    virtual void taskStartCallback() {}
    virtual bool taskMain() = 0;
    virtual void taskStopCallback() {}
    // Sleeps ms milliseconds in one wait, which a stop ends at once.
    void sleepMs(int ms);

private:
    static void taskLauncher(Runnable* self, int processor);

    std::atomic<bool> run_{false};
    std::atomic<bool> active_{false};   // the task body has not ended yet
    Lock lock_;
    TASK_ID tid_ = nullptr;
    SEM_ID wake_;   // given by a stop: ends the sleep
};

}  // namespace measure::store
