// Binary, counting and recursive-mutex semaphores with time-outs in ticks.
#include "host/os/os_internal.h"

namespace {

// Counts the caller as a waiter for the time it may block, so that semDelete
// can release it and wait until it has left.
struct WaiterGuard {
    HostSem& s;
    explicit WaiterGuard(HostSem& sem) : s(sem) { ++s.waiters; }
    ~WaiterGuard() {
        if (--s.waiters == 0 && s.deleted) s.cv.notify_all();
    }
};

}  // namespace

namespace hostos {

SEM_ID semCreateTyped(SEM_TYPE type, int initial) {
    auto* s = new HostSem;
    s->type = type;
    if (type == SEM_TYPE_BINARY) s->count = initial ? 1 : 0;
    else if (type == SEM_TYPE_COUNTING) s->count = initial < 0 ? 0 : initial;
    return s;
}

void semDestroy(SEM_ID sem) {
    {
        std::unique_lock<std::mutex> lk(sem->mx);
        sem->deleted = true;
        sem->cv.notify_all();
        sem->cv.wait(lk, [&] { return sem->waiters == 0; });
    }
    delete sem;
}

}  // namespace hostos

SEM_ID semBCreate(int, SEM_B_STATE initial) {
    return hostos::semCreateTyped(SEM_TYPE_BINARY, initial == SEM_FULL ? 1 : 0);
}

SEM_ID semCCreate(int, int initialCount) {
    return hostos::semCreateTyped(SEM_TYPE_COUNTING, initialCount);
}

SEM_ID semMCreate(int) { return hostos::semCreateTyped(SEM_TYPE_MUTEX, 0); }

STATUS semTake(SEM_ID sem, int timeoutTicks) {
    if (!sem) return ERROR;
    HostTask* self = taskIdSelf();
    std::unique_lock<std::mutex> lk(sem->mx);
    if (sem->deleted) return ERROR;
    WaiterGuard guard(*sem);
    auto d = hostos::deadlineFromTicks(timeoutTicks);
    if (sem->type == SEM_TYPE_MUTEX) {
        if (sem->owner == self) {
            ++sem->depth;
            return OK;
        }
        bool got = hostos::blockUntil(sem->cv, lk, d, [&] { return sem->deleted || !sem->owner; });
        if (!got || sem->deleted) return ERROR;
        sem->owner = self;
        sem->depth = 1;
        return OK;
    }
    bool got = hostos::blockUntil(sem->cv, lk, d, [&] { return sem->deleted || sem->count > 0; });
    if (!got || sem->deleted) return ERROR;
    --sem->count;
    return OK;
}

STATUS semGive(SEM_ID sem) {
    if (!sem) return ERROR;
    std::lock_guard<std::mutex> lk(sem->mx);
    if (sem->deleted) return ERROR;
    switch (sem->type) {
    case SEM_TYPE_MUTEX:
        if (sem->owner != taskIdSelf()) return ERROR;
        if (--sem->depth > 0) return OK;
        sem->owner = nullptr;
        break;
    case SEM_TYPE_BINARY:
        sem->count = 1;
        break;
    case SEM_TYPE_COUNTING:
        ++sem->count;
        break;
    }
    // notify_all: a woken waiter may be a task that is being deleted
    sem->cv.notify_all();
    return OK;
}

STATUS semDelete(SEM_ID sem) {
    if (!sem) return ERROR;
    hostos::namedForgetSem(sem);
    hostos::semDestroy(sem);
    return OK;
}

int semCount(SEM_ID sem) {
    if (!sem) return -1;
    std::lock_guard<std::mutex> lk(sem->mx);
    return sem->type == SEM_TYPE_MUTEX ? -1 : sem->count;
}
