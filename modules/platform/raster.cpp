#include "platform/raster.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/kernel/kernel.h"
#include "platform/raster_bodies.h"
#include "platform/syslogx.h"

namespace {

constexpr int kMaxRasters = 32;
constexpr size_t kRasterStack = 65536;
constexpr int kNotifyPriority = 21;
// Due stamps kept per raster: a run finds the stamp of the tick that made it
// due here as long as it lags fewer gives behind (a second of the 1 ms
// raster). A periodic raster further behind drops the runs it is behind and
// names them: a stamp counted back along the grid would be wrong across
// ticks skipped meanwhile.
constexpr uint32_t kDueRing = 1024;

enum class Kind { Body, Watchdog, Hook };

struct Raster {
    char name[40] = {};
    int priority = 0;
    int cycle = 0;            // ms, or the negative event id
    int limit = 0;            // watchdog limit in pending cycles, 0 = none
    Kind kind = Kind::Body;
    int body = 0;             // RasterBody for Kind::Body
    void (*hook)() = nullptr; // for Kind::Hook
    SEM_ID sem = nullptr;
    TASK_ID task = nullptr;
    int count = 0;            // ms since the last give (base-tick task only)
    std::atomic<int> pending{0};
    std::atomic<uint64_t> ticks{0};
    std::atomic<uint64_t> skippedRuns{0};   // runs lost to base ticks skipped after lags
    // The gives, each with the stamp (0.1 ms) of the tick that made it due:
    // slot n % kDueRing holds (n << 32) | stamp for give n.
    std::atomic<uint32_t> gives{0};
    std::mutex giveMx;        // numbers and stores each give as one step
    uint32_t firstStamp = 0;  // of give 0 (giveMx)
    uint32_t runs = 0;        // gives taken by runs or dropped (giveMx)
    // Gives before namedTo were named lost at a stop while not done, the
    // newest of them due at namedStamp (giveMx): a later drop names only
    // the runs after them. Forgotten once the runs pass them, so that the
    // counts compared stay within half their range.
    bool named = false;
    uint32_t namedTo = 0;
    uint32_t namedStamp = 0;
    std::atomic<uint32_t> done{0};        // gives whose run has completed or was dropped
    std::atomic<uint32_t> doneStamp{0};   // due stamp of the latest of them
    std::atomic<uint64_t> due[kDueRing] = {};
    std::atomic<bool> overLimit{false};
};

struct Fixed {
    const char* name;
    int priority;
    int cycle;
    int limit;
    Kind kind;
    int body;
};

// The rasters of the process: name, task priority, cycle (ms; negative: event
// id), watchdog limit in pending cycles.
constexpr Fixed kFixed[] = {
    {"r1ms", 29, 1, 30, Kind::Body, RB_1MS},
    {"r2ms", 65, 2, 30, Kind::Body, RB_2MS},
    {"r5ms", 66, 5, 30, Kind::Body, RB_5MS},
    {"r10ms", 67, 10, 30, Kind::Body, RB_10MS},
    {"r20ms", 70, 20, 30, Kind::Body, RB_20MS},
    {"r50ms", 71, 50, 30, Kind::Body, RB_50MS},
    {"r100ms", 72, 100, 30, Kind::Body, RB_100MS},
    {"r200ms", 87, 200, 30, Kind::Body, RB_200MS},
    {"r500ms", 88, 500, 30, Kind::Body, RB_500MS},
    {"r1000ms", 89, 1000, 30, Kind::Body, RB_1000MS},
    {"rEthSend_online", 83, 10, 5000, Kind::Body, RB_ETHSEND_ONLINE},
    {"rEthSend_offline", 84, 10, 5000, Kind::Body, RB_ETHSEND_OFFLINE},
    {"rMeas", 132, 1, 6000, Kind::Body, RB_MEAS},
    {"sbLapPer", 82, RASTER_EVENT_SBLAPPER, 0, Kind::Body, RB_SBLAPPER},
    {"Lap", 85, RASTER_EVENT_LAP, 0, Kind::Body, RB_LAP},
    {"WATCHDOG", 34, 10, 3, Kind::Watchdog, 0},
};

Raster g_rasters[kMaxRasters];
std::atomic<int> g_count{0};          // rasters published to the base-tick task
std::mutex g_mutex;                   // init, hooks, start and stop
TASK_ID g_notifyTask = nullptr;
std::atomic<bool> g_running{false};   // between init and stop
std::atomic<uint64_t> g_baseTicks{0};
std::atomic<bool> g_syncRequest{false};
std::atomic<uint32_t> g_syncStamp{0};
std::atomic<uint32_t (*)()> g_now{nullptr};
uint64_t g_skipSeen = 0;   // base ticks skipped that the notify task accounted for (set before it runs)

uint32_t nowStamp() {
    uint32_t (*f)() = g_now.load();
    return f ? f() : host::timeStamp();
}

// Stamp of the tick that made the calling raster task's current run due.
thread_local bool tlsInRun = false;
thread_local uint32_t tlsDueStamp = 0;

// An event raster is given from several tasks: each give's slot is written
// before the next give is numbered, so whichever give wakes a run, every slot
// up to that give's number is written when the run reads its own.
void give(Raster& r, uint32_t stamp) {
    {
        std::lock_guard<std::mutex> lock(r.giveMx);
        const uint32_t n = r.gives.fetch_add(1, std::memory_order_relaxed);
        if (n == 0) r.firstStamp = stamp;
        r.due[n % kDueRing].store(uint64_t(n) << 32 | stamp, std::memory_order_relaxed);
    }
    r.pending.fetch_add(1, std::memory_order_relaxed);
    semGive(r.sem);   // publishes the slots to the run that takes this give
}

// A raster whose runs sample the values that are recorded.
bool samples(const Raster& r) { return r.kind == Kind::Body && r.body >= RB_1MS && r.body <= RB_1000MS; }

uint32_t slotStamp(const Raster& r, uint32_t n) { return uint32_t(r.due[n % kDueRing].load(std::memory_order_relaxed)); }

// The first stamp a give not done may carry: just after the latest done, or
// the first give's when none is done. giveMx held.
uint32_t firstNotDone(const Raster& r) {
    return r.done.load(std::memory_order_acquire) ? r.doneStamp.load(std::memory_order_relaxed) + 1u : r.firstStamp;
}

// The due stamp of the raster's next run. A periodic raster that lags more
// than the ring behind drops every run given before the newest (their
// semaphore counts too) and goes on with the newest; the runs dropped are
// named with the stamps they lie between (those of the rasters that sample;
// the others' are counted). An event raster that far behind takes a later
// give's stamp.
uint32_t takeDueStamp(Raster& r) {
    uint32_t dropped = 0, unnamed = 0, lo = 0, stamp;   // unnamed: of those dropped, the ones no stop named
    {
        std::lock_guard<std::mutex> lock(r.giveMx);
        const uint32_t n = r.runs;
        const uint64_t slot = r.due[n % kDueRing].load(std::memory_order_relaxed);
        stamp = uint32_t(slot);
        if (r.named && int32_t(r.namedTo - n) <= 0) r.named = false;
        if (uint32_t(slot >> 32) == n || r.cycle <= 0) {
            r.runs = n + 1;
            return stamp;
        }
        // back to the present at once: dropping only what the ring lost
        // would leave it as far behind, to drop again at every run
        const uint32_t newest = r.gives.load(std::memory_order_relaxed) - 1u;
        dropped = newest - n;
        unnamed = dropped;
        lo = firstNotDone(r);
        stamp = slotStamp(r, newest);
        r.runs = newest + 1;
        if (r.named) {   // some of them named at a stop already
            unnamed = int32_t(newest - r.namedTo) > 0 ? newest - r.namedTo : 0;
            lo = r.namedStamp + 1u;
        }
    }
    // every give numbered is given right after: the counts are there or coming
    for (uint32_t i = 0; i < dropped; ++i) semTake(r.sem, WAIT_FOREVER);
    r.pending.fetch_sub(int(dropped), std::memory_order_relaxed);
    r.skippedRuns.fetch_add(dropped, std::memory_order_relaxed);
    r.done.fetch_add(dropped, std::memory_order_release);
    if (samples(r) && unnamed)   // the others' runs are counted only
        syslogx(148 | SYSLOGX_LOSS,
                "raster %s: the runs of time stamps %u to %u lost: its task lagged %u runs behind its ticks", r.name,
                unsigned(lo), unsigned(stamp - 1u), unsigned(unnamed));
    return stamp;
}

// The WATCHDOG raster's body: feed only while every raster is within its limit.
void watchdogCheck() {
    bool feed = true;
    const int n = g_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (r.limit <= 0) continue;
        const int p = r.pending.load(std::memory_order_relaxed);
        if (p > r.limit) {
            feed = false;
            if (!r.overLimit.exchange(true))
                syslogx(147, "raster %s exceeds its watchdog limit: %d pending cycles (limit %d) at tick %llu",
                        r.name, p, r.limit, static_cast<unsigned long long>(g_baseTicks.load()));
        } else if (p <= r.limit / 2) {
            r.overLimit.store(false);   // re-armed: a new overrun is reported again
        }
    }
    if (feed) host::watchdogFeed();
}

void runRaster(Raster* r) {
    for (;;) {
        semTake(r->sem, WAIT_FOREVER);   // a delete unwinds the task here
        tlsDueStamp = takeDueStamp(*r);
        tlsInRun = true;
        switch (r->kind) {
        case Kind::Body: rasterBodies_run(r->body); break;
        case Kind::Watchdog: watchdogCheck(); break;
        case Kind::Hook: r->hook(); break;
        }
        tlsInRun = false;
        r->ticks.fetch_add(1, std::memory_order_relaxed);
        r->doneStamp.store(tlsDueStamp, std::memory_order_relaxed);
        r->done.fetch_add(1, std::memory_order_release);
        r->pending.fetch_sub(1, std::memory_order_relaxed);
    }
}

// The base ticks skipped after a lag since the last tick: each periodic
// raster counts the runs it lost, and its counter moves on by the ticks
// skipped so that it keeps its phase. Named in the log with the lag's length.
// Notify task only.
void accountSkippedTicks(uint32_t stamp) {
    const uint64_t total = host::baseTickSkipped();
    const uint64_t skipped = total > g_skipSeen ? total - g_skipSeen : 0;
    g_skipSeen = total;
    if (!skipped) return;
    char lost[512];
    size_t len = 0;
    lost[0] = 0;
    const int n = g_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (r.cycle <= 0 || !r.task) continue;
        const uint64_t counted = uint64_t(r.count) + skipped;
        const uint64_t runs = counted / uint64_t(r.cycle);
        r.count = int(counted % uint64_t(r.cycle));
        if (!runs) continue;
        r.skippedRuns.fetch_add(runs, std::memory_order_relaxed);
        if (len < sizeof lost) {
            const int w = snprintf(lost + len, sizeof lost - len, "%s%s %llu", len ? ", " : "", r.name,
                                   static_cast<unsigned long long>(runs));
            if (w > 0) len += size_t(w);
        }
    }
    syslogx(148 | SYSLOGX_LOSS, "raster: the base tick lagged %llu ms behind its clock at time stamp %u and skipped as many "
                                "ticks; runs lost: %s",
            static_cast<unsigned long long>(skipped), unsigned(stamp), lost);
    const std::string starved = host::baseTickStarved();   // once a spell of lags, not at each
    if (!starved.empty()) syslogx(148, "raster: %s", starved.c_str());
}

// One base tick: count every periodic raster and give those that are due.
// Runs on "r_notifyRasterTask", which the clock itself wakes.
void notifyTick(uint32_t stamp) {
    accountSkippedTicks(stamp);
    const bool resync = g_syncRequest.exchange(false);
    // ms since the 100 ms boundary the time service handed over
    const uint32_t elapsed = resync ? (nowStamp() - g_syncStamp.load()) / 10 : 0;
    const int n = g_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (r.cycle <= 0 || !r.task) continue;
        bool due;
        if (resync) {
            r.count = static_cast<int>(elapsed % static_cast<uint32_t>(r.cycle));
            due = r.count == 0;
        } else {
            due = ++r.count >= r.cycle;
            if (due) r.count = 0;
        }
        if (due) give(r, stamp);
    }
    // counted last: whoever sees the count also sees this tick's gives
    g_baseTicks.fetch_add(1, std::memory_order_release);
}

// The base-tick task: each tick of "/BASETICK0" dispatches the rasters. On
// the host the task sleeps to the tick's deadlines itself, the kernel's clock
// interrupt and the task in one; manual ticks (tests) come through the
// semaphore.
void notifyTask(bool manualTick) { host::runBaseTick(notifyTick, manualTick); }

// Adds a raster and its task; g_mutex held.
bool addRaster(const char* name, int priority, int cycle, int limit, Kind kind, int body, void (*hook)(),
               size_t stack, int processor) {
    const int i = g_count.load(std::memory_order_relaxed);
    if (i >= kMaxRasters) return false;
    Raster& r = g_rasters[i];
    snprintf(r.name, sizeof r.name, "%s", name);
    r.priority = priority;
    r.cycle = cycle;
    r.limit = limit;
    r.kind = kind;
    r.body = body;
    r.hook = hook;
    r.count = 0;
    r.pending.store(0);
    r.ticks.store(0);
    r.skippedRuns.store(0);
    r.overLimit.store(false);
    r.gives.store(0);
    r.runs = 0;
    r.named = false;
    r.namedTo = 0;
    r.namedStamp = 0;
    r.done.store(0);
    r.doneStamp.store(0);
    r.task = nullptr;
    if (r.sem) semDelete(r.sem);   // left by an earlier stop (see stopLocked)
    r.sem = semCCreate(SEM_Q_PRIORITY, 0);
    if (!r.sem) return false;
    char taskName[48];
    snprintf(taskName, sizeof taskName, "r_%s", name);
    r.task = taskSpawn(taskName, priority, VX_FP_TASK, stack ? stack : kRasterStack, [&r] { runRaster(&r); });
    if (!r.task) {
        semDelete(r.sem);
        r.sem = nullptr;
        return false;
    }
    if (processor >= 0) taskCpuAffinitySet(r.task, 1u << processor);
    g_count.store(i + 1, std::memory_order_release);
    return true;
}

void stopLocked() {
    if (g_notifyTask) {
        taskDelete(g_notifyTask);
        g_notifyTask = nullptr;
        host::stopBaseTick();
    }
    if (g_running.exchange(false)) host::watchdogShutdown();
    const int n = g_count.load();
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (r.task) taskDelete(r.task);
        r.task = nullptr;
    }
    // The semaphores stay until the next raster_init: a late lap trigger may
    // still give one. The counts stay readable for the shutdown log.
}

}  // namespace

int raster2rate(int rasterIndex) {
    static constexpr int kRate[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 1, 0, 6000};
    if (rasterIndex < 0 || rasterIndex >= static_cast<int>(sizeof kRate / sizeof kRate[0])) return 0;
    return kRate[rasterIndex];
}

int raster_init() {
    std::lock_guard<std::mutex> lock(g_mutex);
    stopLocked();
    g_count.store(0);
    g_baseTicks.store(0);
    g_syncRequest.store(false);
    rasterBodies_reset();
    for (const Fixed& f : kFixed) {
        if (!addRaster(f.name, f.priority, f.cycle, f.limit, f.kind, f.body, nullptr, 0, -1)) {
            syslogx(3, "raster_init: cannot create raster %s", f.name);
            stopLocked();
            return 0;
        }
    }
    g_running.store(true);
    return 1;
}

int raster_start(bool manualTick) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_running.load() || g_notifyTask) return 0;
    if (manualTick) host::startBaseTick(true);   // only opens "/BASETICK0"
    g_skipSeen = host::baseTickSkipped();        // lags of an earlier run are not this one's
    g_notifyTask = taskSpawn("r_notifyRasterTask", kNotifyPriority, VX_FP_TASK, kRasterStack,
                             [manualTick] { notifyTask(manualTick); });
    if (!g_notifyTask) {
        syslogx(3, "raster_start: cannot spawn r_notifyRasterTask");
        host::stopBaseTick();
        return 0;
    }
    return 1;
}

void raster_stopAll() {
    std::lock_guard<std::mutex> lock(g_mutex);
    stopLocked();
}

int raster_hookFunction(const char* name, int priority, int cycleMs, void (*fn)(), size_t stackSize,
                        int processor, int watchdogLimit) {
    if (!name || !*name || !fn || cycleMs <= 0) {
        syslogx(147, "raster_hookFunction: invalid request for %s", name ? name : "(null)");
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_running.load() ||
        !addRaster(name, priority, cycleMs, watchdogLimit > 0 ? watchdogLimit : 0, Kind::Hook, 0, fn, stackSize,
                   processor)) {
        syslogx(147, "raster_hookFunction: cannot create raster %s", name);
        return 0;
    }
    return 1;
}

STATUS raster_taskDelay(SEM_ID sem, int ms) {
    int ticks = ms <= 0 ? 0 : static_cast<int>((static_cast<long long>(ms) * sysClkRateGet() + 999) / 1000);
    if (!sem) return taskDelay(ticks);
    return semTake(sem, ticks);
}

void rasterTaskSyncTo100ms(uint32_t timeStamp) {
    g_syncStamp.store(timeStamp);
    g_syncRequest.store(true);
}

int raster_fireEvent(int eventId) {
    if (eventId >= 0 || !g_running.load()) return 0;
    const int n = g_count.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (r.cycle == eventId && r.sem) {
            give(r, nowStamp());
            return 1;
        }
    }
    return 0;
}

int raster_count() { return g_count.load(std::memory_order_acquire); }

bool raster_info(int i, RasterInfo* out) {
    if (!out || i < 0 || i >= raster_count()) return false;
    const Raster& r = g_rasters[i];
    out->name = r.name;
    out->priority = r.priority;
    out->cycle = r.cycle;
    out->watchdogLimit = r.limit;
    out->ticks = r.ticks.load();
    out->skippedRuns = r.skippedRuns.load();
    out->pending = r.pending.load();
    out->overLimit = r.overLimit.load();
    return true;
}

int raster_find(const char* name) {
    if (!name) return -1;
    const int n = raster_count();
    for (int i = 0; i < n; ++i)
        if (strcmp(g_rasters[i].name, name) == 0) return i;
    return -1;
}

uint64_t raster_baseTicks() { return g_baseTicks.load(); }

uint32_t raster_dueStamp() { return tlsInRun ? tlsDueStamp : nowStamp(); }

namespace {
// The gives of the raster due at or before the stamp: they are given in the
// order of their stamps, so those after it are the newest. giveMx held.
uint32_t givesDueBy(const Raster& r, uint32_t until) {
    uint32_t n = r.gives.load(std::memory_order_relaxed);
    const uint32_t done = r.done.load(std::memory_order_acquire);
    for (uint32_t k = 0; k < kDueRing && int32_t(n - done) > 0 && int32_t(slotStamp(r, n - 1) - until) > 0; ++k) --n;
    return n;
}
}  // namespace

void raster_nameRunsNotDone(const char* when, unsigned waitMs, uint32_t until) {
    const int n = g_count.load(std::memory_order_acquire);
    // the runs due by the stop's stamp, of each raster that samples: also
    // those given only while this waits (a stop that reads its stamp first
    // takes their records)
    auto dueBy = [&](Raster& r) {
        std::lock_guard<std::mutex> lock(r.giveMx);
        return givesDueBy(r, until);
    };
    auto allDone = [&] {
        for (int i = 0; i < n; ++i) {
            Raster& r = g_rasters[i];
            if (samples(r) && r.cycle > 0 && int32_t(dueBy(r) - r.done.load(std::memory_order_acquire)) > 0)
                return false;
        }
        return true;
    };
    // the runs under way finish within a tick or two where the host keeps up
    for (unsigned waited = 0; !allDone() && waited < waitMs; ++waited) raster_taskDelay(nullptr, 1);
    for (int i = 0; i < n; ++i) {
        Raster& r = g_rasters[i];
        if (!samples(r) || r.cycle <= 0) continue;
        uint32_t lo, hi, left;
        {
            std::lock_guard<std::mutex> lock(r.giveMx);
            const uint32_t due = givesDueBy(r, until);
            const uint32_t done = r.done.load(std::memory_order_acquire);
            // (a second stop step names only the runs the first did not)
            const bool named = r.named && int32_t(r.namedTo - done) > 0;
            left = due - (named ? r.namedTo : done);
            if (int32_t(left) <= 0) continue;
            lo = named ? r.namedStamp + 1u : firstNotDone(r);
            hi = slotStamp(r, due - 1);
            r.named = true;
            r.namedTo = due;
            r.namedStamp = hi;
        }
        syslogx(148 | SYSLOGX_LOSS, "raster %s: the runs of time stamps %u to %u lost: %u runs not done %s", r.name,
                unsigned(lo), unsigned(hi), unsigned(left), when);
    }
}

void raster_setTimeSource(uint32_t (*now)()) { g_now.store(now); }
