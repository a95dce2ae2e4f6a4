// Tasks on std::thread: a registry of task records, the thread trampoline that
// catches the unwinding of a deleted task, and the blocking-wait registration
// through which taskDelete wakes a task that sleeps in a semaphore, a queue or
// taskDelay.
#include "host/kernel/kernel.h"
#include "host/os/os_internal.h"

#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <unordered_set>

struct HostTask {
    TASK_ID id = nullptr;   // the handle callers hold (never an address, never reused)
    const char* name = "";  // kept in the name table, readable after the task is gone
    int priority = 0;
    int options = 0;
    size_t stackSize = 0;
    bool adopted = false;   // a thread not made by taskSpawn (main, test runner)

    std::mutex joinMx;      // guards thread (assignment and join) and coreSet
    std::thread thread;
    unsigned coreSet = 0;   // processor cores it is bound to, 0 = none named

    std::atomic<bool> deletePending{false};

    std::mutex stateMx;
    std::condition_variable stateCv;
    bool finished = false;

    // Where the task blocks right now (set by WaitScope).
    std::mutex regMx;
    std::condition_variable* waitCv = nullptr;
    std::mutex* waitMx = nullptr;

    std::mutex delayMx;
    std::condition_variable delayCv;

    ~HostTask() {
        if (thread.joinable()) thread.detach();
    }
};

namespace {

using hostos::Clock;

// Task names live as long as the process: taskName hands out the pointer, and
// its callers read it after the task may have ended and its record been freed
// (a stop that logs the name of the task it gave up on). The names are few
// and repeat, so the table stays small.
const char* keptName(const char* name) {
    static std::mutex mx;
    static auto* names = new std::unordered_set<std::string>;   // never destroyed, as the registry
    if (!name || !*name) return "";
    std::lock_guard<std::mutex> lk(mx);
    return names->emplace(name).first->c_str();
}

// Task ids are serial numbers, not the records' addresses: a record is freed
// once its task has ended and been joined, and its memory is soon reused by
// the next task's record. An id kept by a waiter must never name that task.
std::atomic<uintptr_t> lastId{0};
TASK_ID newTaskId() { return reinterpret_cast<TASK_ID>(++lastId); }
bool idWasIssued(TASK_ID tid) {
    uintptr_t n = reinterpret_cast<uintptr_t>(tid);
    return n != 0 && n <= lastId.load();
}

struct Registry {
    std::mutex mx;
    std::map<TASK_ID, std::shared_ptr<HostTask>> tasks;
};
// Never destroyed: threads may still use it while static objects go away.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

const Clock::time_point processStart = Clock::now();

thread_local HostTask* tlsSelf = nullptr;
// Set once the adopted record of this thread is gone (thread exit): later
// calls from other thread-local destructors get a shared record that is never
// freed, instead of the freed one.
thread_local bool tlsAdoptedGone = false;

HostTask* exitingThreadRecord() {
    static HostTask* record = [] {
        auto* t = new HostTask();
        t->id = newTaskId();
        t->adopted = true;
        return t;
    }();
    return record;
}

// Keeps the record of an adopted thread and drops it when the thread ends.
struct AdoptedHolder {
    std::shared_ptr<HostTask> task;
    ~AdoptedHolder() {
        tlsAdoptedGone = true;
        tlsSelf = nullptr;
        if (!task) return;
        Registry& r = registry();
        std::lock_guard<std::mutex> lk(r.mx);
        r.tasks.erase(task->id);
    }
};
thread_local AdoptedHolder adoptedHolder;

HostTask* current() {
    if (tlsSelf) return tlsSelf;
    if (tlsAdoptedGone) return exitingThreadRecord();
    auto t = std::make_shared<HostTask>();
    t->id = newTaskId();
    t->adopted = true;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lk(r.mx);
        r.tasks[t->id] = t;
    }
    adoptedHolder.task = t;
    tlsSelf = t.get();
    return tlsSelf;
}

std::shared_ptr<HostTask> lookup(TASK_ID tid) {
    if (!tid) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mx);
    auto it = r.tasks.find(tid);
    return it == r.tasks.end() ? nullptr : it->second;
}

// The thread object is taken out under the lock and joined outside it: the
// new thread's trampoline takes the same lock first, so joining under it
// would deadlock with a task deleted before it got that far.
void joinTask(HostTask& t) {
    std::thread th;
    {
        std::lock_guard<std::mutex> lk(t.joinMx);
        th = std::move(t.thread);
    }
    if (th.joinable()) {
        th.join();
        return;
    }
    // someone else is joining: wait for the body to have ended
    std::unique_lock<std::mutex> lk(t.stateMx);
    t.stateCv.wait(lk, [&] { return t.finished; });
}

void forget(TASK_ID tid) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mx);
    r.tasks.erase(tid);
}

// Joins and drops tasks that have returned by themselves.
void reapFinished() {
    std::vector<std::shared_ptr<HostTask>> done;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lk(r.mx);
        for (auto it = r.tasks.begin(); it != r.tasks.end();) {
            HostTask& t = *it->second;
            bool fin;
            {
                std::lock_guard<std::mutex> sl(t.stateMx);
                fin = t.finished;
            }
            if (fin && !t.adopted) {
                done.push_back(it->second);
                it = r.tasks.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& t : done) joinTask(*t);
}

// A wake that finds the primitive's mutex held tries again. Its holder is in
// the short critical section of a semaphore, queue or delay operation (a few
// microseconds). The first kWakeYields tries only yield: enough when the
// holder runs on another CPU or at our priority, and cheap. Past them the
// holder may be a task of lower priority on this CPU: under real-time
// scheduling a yield never lets it run, a sleep does. kWakeSleep outlasts
// such a critical section and keeps a delete well within one 1 ms tick.
constexpr int kWakeYields = 8;
constexpr auto kWakeSleep = std::chrono::microseconds(50);

// Wakes the task from the wait it is blocked in, if any. The primitive's mutex
// is only tried while the registration is held, so the lock order of the
// waiter (primitive, then registration) cannot deadlock with us.
void wake(HostTask& t) {
    for (int tries = 0;; ++tries) {
        {
            std::lock_guard<std::mutex> lk(t.regMx);
            if (!t.waitCv) return;
            if (t.waitMx->try_lock()) {
                t.waitCv->notify_all();
                t.waitMx->unlock();
                return;
            }
        }
        if (tries < kWakeYields)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(kWakeSleep);
    }
}

// How long taskDelete waits for a task that uses no processor time to reach
// its next wait and end.
constexpr auto kDeleteIdleWait = std::chrono::seconds(2);

// The processor time the task's thread has used, -1 when it cannot be read
// (the thread is being joined).
int64_t cpuTimeNs(HostTask& t) {
    clockid_t clock;
    {
        std::lock_guard<std::mutex> lk(t.joinMx);
        if (!t.thread.joinable() || pthread_getcpuclockid(t.thread.native_handle(), &clock) != 0) return -1;
    }
    timespec ts;
    if (clock_gettime(clock, &ts) != 0) return -1;
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// True once the task has ended; false when it stays blocked outside this
// layer's waits, using no processor time for kDeleteIdleWait.
bool waitForEnd(HostTask& t) {
    int64_t used = cpuTimeNs(t);
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(t.stateMx);
            if (t.stateCv.wait_for(lk, kDeleteIdleWait, [&] { return t.finished; })) return true;
        }
        const int64_t now = cpuTimeNs(t);
        if (now < 0 || now == used) break;
        used = now;
    }
    std::lock_guard<std::mutex> lk(t.stateMx);
    return t.finished;
}

void trampoline(HostTask* t, std::function<void()> body) {
    tlsSelf = t;
    {
        // wait until the spawner has stored the thread object. A task does
        // not inherit the binding of the task that spawned it: until it is
        // bound to a core of its own it runs on the first core (see
        // board_cores.cpp for why).
        std::lock_guard<std::mutex> lk(t->joinMx);
        hostos::applyBoardCores(pthread_self(), t->coreSet ? t->coreSet : hostos::kUnboundTaskCores);
    }
    pthread_setname_np(pthread_self(), std::string(t->name).substr(0, 15).c_str());
    host::applyRealtimePriority(t->priority);
    try {
        if (!t->deletePending) body();
    } catch (const hostos::TaskDeleted&) {
        // deleted while blocked: the stack is unwound, the task ends
    } catch (const std::exception& e) {
        std::fprintf(stderr, "task %s ended by exception: %s\n", t->name, e.what());
    }
    {
        std::lock_guard<std::mutex> lk(t->stateMx);
        t->finished = true;
    }
    t->stateCv.notify_all();
}

}  // namespace

namespace hostos {

Deadline deadlineFromTicks(int ticks) {
    Deadline d;
    if (ticks < 0) {
        d.forever = true;
    } else if (ticks == 0) {
        d.noWait = true;
    } else {
        d.at = Clock::now() + std::chrono::milliseconds(ticks);
    }
    return d;
}

WaitScope::WaitScope(std::condition_variable& cv, std::mutex& mx) : self_(current()) {
    {
        std::lock_guard<std::mutex> lk(self_->regMx);
        self_->waitCv = &cv;
        self_->waitMx = &mx;
    }
    if (self_->deletePending) {
        std::lock_guard<std::mutex> lk(self_->regMx);
        self_->waitCv = nullptr;
        self_->waitMx = nullptr;
        throw TaskDeleted{};
    }
}

WaitScope::~WaitScope() {
    std::lock_guard<std::mutex> lk(self_->regMx);
    self_->waitCv = nullptr;
    self_->waitMx = nullptr;
}

bool WaitScope::deletePending() const { return self_->deletePending; }

size_t liveTaskCount() {
    reapFinished();
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mx);
    size_t n = 0;
    for (auto& [k, t] : r.tasks) n += t->adopted ? 0 : 1;
    return n;
}

}  // namespace hostos

TASK_ID taskSpawn(const char* name, int priority, int options, size_t stackSize,
                  TaskEntry entry, intptr_t arg) {
    if (!entry) return TASK_ID_ERROR;
    return taskSpawn(name, priority, options, stackSize, [entry, arg] { entry(arg); });
}

TASK_ID taskSpawn(const char* name, int priority, int options, size_t stackSize,
                  std::function<void()> body) {
    if (!body) return TASK_ID_ERROR;
    // Tasks that returned by themselves are joined at the next spawn, and the
    // last of them when the process exits normally (tests), so that none is
    // left unjoined.
    static const bool reapAtExit = std::atexit([] { reapFinished(); }) == 0;
    (void)reapAtExit;
    reapFinished();
    auto t = std::make_shared<HostTask>();
    t->id = newTaskId();
    t->name = keptName(name);
    t->priority = priority;
    t->options = options;
    t->stackSize = stackSize;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lk(r.mx);
        r.tasks[t->id] = t;
    }
    {
        std::lock_guard<std::mutex> lk(t->joinMx);
        try {
            t->thread = std::thread(trampoline, t.get(), std::move(body));
        } catch (const std::system_error&) {
            forget(t->id);
            return TASK_ID_ERROR;
        }
    }
    return t->id;
}

STATUS taskDelete(TASK_ID tid) {
    HostTask* self = current();
    if (!tid) tid = self->id;
    auto t = lookup(tid);
    if (!t || t->adopted) return ERROR;
    t->deletePending = true;
    if (t.get() == self) throw hostos::TaskDeleted{};
    wake(*t);
    // A task is unwound at its next wait of this layer. One that computes
    // gets there in time and is waited for; one blocked in a system call of
    // its own (a write to a pipe nobody reads) gets there only once the call
    // is back, which may be never: once it has used no processor time for a
    // while, the deleter leaves it to end by itself (it stays registered and
    // is joined once it has).
    // Nothing is printed: the call it is stuck in may be a write to stderr.
    if (!waitForEnd(*t)) return ERROR;
    joinTask(*t);
    forget(t->id);
    return OK;
}

STATUS taskDeleteForce(TASK_ID tid) { return taskDelete(tid); }

// Waits up to timeoutTicks for task t to finish, then joins and forgets it.
template <class TaskPtr>
STATUS joinOnceFinished(const TaskPtr& t, int timeoutTicks) {
    std::unique_lock<std::mutex> lk(t->stateMx);
    const bool fin = hostos::blockUntil(t->stateCv, lk, hostos::deadlineFromTicks(timeoutTicks),
                                        [&] { return t->finished; });
    lk.unlock();
    if (!fin) return ERROR;
    joinTask(*t);
    forget(t->id);
    return OK;
}

STATUS taskDeleteWithin(TASK_ID tid, int timeoutTicks) {
    HostTask* self = current();
    auto t = lookup(tid);
    if (!t || t->adopted || t.get() == self) return ERROR;
    t->deletePending = true;
    wake(*t);
    // one still in a system call of its own ends at its next blocking call
    // and is joined then, as after taskDelete
    return joinOnceFinished(t, timeoutTicks);
}

STATUS taskWait(TASK_ID tid, int timeoutTicks) {
    // make the caller's own record before any lock: the registry lock must not
    // be taken under a task's state lock (reapFinished takes them the other way)
    HostTask* self = current();
    auto t = lookup(tid);
    // an id that was issued but is no longer registered: that task has ended
    // and been joined already, so there is nothing left to wait for
    if (!t) return idWasIssued(tid) ? OK : ERROR;
    if (t->adopted || t.get() == self) return ERROR;
    return joinOnceFinished(t, timeoutTicks);
}

STATUS taskDelay(int ticks) {
    HostTask* self = current();
    if (ticks <= 0) {
        if (self->deletePending) throw hostos::TaskDeleted{};
        std::this_thread::yield();
        return OK;
    }
    std::unique_lock<std::mutex> lk(self->delayMx);
    hostos::blockUntil(self->delayCv, lk, hostos::deadlineFromTicks(ticks), [] { return false; });
    return OK;
}

TASK_ID taskIdSelf() { return current()->id; }

const char* taskName(TASK_ID tid) {
    if (!tid) return current()->name;
    auto t = lookup(tid);
    return t ? t->name : "";
}

int taskPriorityGet(TASK_ID tid, int* priority) {
    auto t = lookup(tid ? tid : current()->id);
    if (!t || !priority) return ERROR;
    *priority = t->priority;
    return OK;
}

STATUS taskCpuAffinitySet(TASK_ID tid, cpuset_t set) {
    HostTask* self = current();
    auto t = lookup(tid ? tid : self->id);
    if (!t || !hostos::boardCoreSetValid(set)) return ERROR;
    if (t.get() == self) return hostos::applyBoardCores(pthread_self(), set) ? OK : ERROR;
    // Under the lock the new task's trampoline binds itself with: whichever
    // of the two comes second applies the set stored here.
    std::lock_guard<std::mutex> lk(t->joinMx);
    t->coreSet = set;
    // a thread being joined has ended: nothing left to bind
    if (!t->thread.joinable()) return OK;
    return hostos::applyBoardCores(t->thread.native_handle(), set) ? OK : ERROR;
}

bool taskDeletePending() { return tlsSelf && tlsSelf->deletePending; }

int sysClkRateGet() { return 1000; }

uint64_t tickGet() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - processStart).count();
}

namespace host {
void joinEndedTasks() { reapFinished(); }
}  // namespace host
