// The raster scheduler: all cyclic work of the process.
//
// One task per raster ("r_" + raster name) waits on its own counting
// semaphore. The base-tick task "r_notifyRasterTask" takes "/BASETICK0" every
// 1 ms, counts each periodic raster's ticks and gives its semaphore when the
// count reaches the raster's cycle. Event rasters ("Lap", "sbLapPer") run only
// when fired. The WATCHDOG raster feeds the kernel's watchdog only while no
// raster has more pending cycles than its limit.
//
// Start-up: raster_init() (step 0: tables, semaphores and tasks, nothing
// dispatched), registrations, raster_start() (step 1: dispatching starts);
// shutdown: raster_stopAll().
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/os/os.h"

// ---- raster indexes (argument of entry points, gateway chains) -------------------
enum RasterIndex : int {
    RASTER_1MS = 0,
    RASTER_2MS = 1,
    RASTER_5MS = 2,
    RASTER_10MS = 3,
    RASTER_20MS = 4,
    RASTER_50MS = 5,
    RASTER_100MS = 6,
    RASTER_200MS = 7,
    RASTER_500MS = 8,
    RASTER_1000MS = 9,
    RASTER_1MS_2 = 10,     // the second 1 ms raster
    RASTER_LAP = 11,       // lap event
    RASTER_6000MS = 12,
    RASTER_INDEX_COUNT = 20,   // chains of measurement lists in the gateway
};

// Period of a raster index in ms; 0 for the lap event and unknown indexes.
int raster2rate(int rasterIndex);

// ---- raster bodies that take registered entry points ---------------------------------
// The first ten are the bodies r1ms ... r1000ms (same numbers as the raster
// index); then the two Ethernet send rasters, the logging raster and the two
// event rasters.
enum RasterBody : int {
    RB_1MS = 0, RB_2MS, RB_5MS, RB_10MS, RB_20MS, RB_50MS, RB_100MS, RB_200MS, RB_500MS, RB_1000MS,
    RB_ETHSEND_ONLINE,
    RB_ETHSEND_OFFLINE,
    RB_MEAS,
    RB_LAP,
    RB_SBLAPPER,
    RB_COUNT,
};

using RasterFn = void (*)(intptr_t arg);

// Registers an entry point of a raster body under its name.
// The bodies call their known entry points in a fixed order: in r1ms ...
// r1000ms an entry is identified by name and argument (e.g.
// "CanOut_send_message" with 3 in r10ms) and called with that argument; in
// rMeas and rEthSend_* by name only, and the body supplies the raster
// argument in its tick pattern. Entries with other names run before the known
// ones, in the order of registration (up to 16 per body); the event rasters
// have only such entries. Registering the same slot again replaces it.
// Returns 1, or 0 for an unknown body, a missing name or function, or a full
// table.
int raster_addEntry(int body, const char* name, RasterFn fn, intptr_t arg);

// ---- scheduler life cycle ---------------------------------------------------------------
// Step 0: builds the raster table, semaphores and tasks (nothing runs yet).
// Clears earlier registrations. 1 on success.
int raster_init();
// Step 1: starts the base tick (manual: tests give ticks with host::baseTick())
// and the task "r_notifyRasterTask". 1 on success.
int raster_start(bool manualTick = false);
// Stops dispatching and all raster tasks; the watchdog enters its shutdown
// mode. Safe to call twice.
void raster_stopAll();

// ---- services for modules ------------------------------------------------------------------
// Creates the raster task "r_" + name calling fn every cycleMs; watchdogLimit
// 0 = not supervised. Non-zero on success, 0 on failure.
int raster_hookFunction(const char* name, int priority, int cycleMs, void (*fn)(), size_t stackSize,
                        int processor, int watchdogLimit);
// Waits ms milliseconds on the semaphore (earlier when it is given).
STATUS raster_taskDelay(SEM_ID sem, int ms);
// Stores a time stamp (0.1 ms) of a 100 ms boundary; at the next tick every
// periodic raster's counter is re-phased to it.
void rasterTaskSyncTo100ms(uint32_t timeStamp);

// Event rasters, fired by the lap trigger.
constexpr int RASTER_EVENT_LAP = -1;
constexpr int RASTER_EVENT_SBLAPPER = -2;
// Gives the event raster with that id; 1 when it exists, else 0.
int raster_fireEvent(int eventId);

// ---- read-out (start-up log, shutdown log, tests) ------------------------------------------
struct RasterInfo {
    const char* name;
    int priority;
    int cycle;              // ms, or the negative event id
    int watchdogLimit;      // pending cycles, 0 = not supervised
    uint64_t ticks;         // body runs completed
    uint64_t skippedRuns;   // runs lost to base ticks skipped after lags (the process stalled)
    int pending;            // cycles given and not yet completed
    bool overLimit;         // reported over its limit and not yet re-armed
};
int raster_count();
// False for an index out of range.
bool raster_info(int i, RasterInfo* out);
// Index of the raster with that name, -1 if none.
int raster_find(const char* name);
// Base ticks the notify task has handled.
uint64_t raster_baseTicks();
// Time stamp (0.1 ms) of the base tick that made the calling raster task's
// current run due: the raster's own grid (its period apart, re-phased only by
// rasterTaskSyncTo100ms), however late the task runs. Outside a raster run,
// the current time stamp.
uint32_t raster_dueStamp();

// Names, for each raster that samples values, the runs due at or before the
// stop's stamp `until` and not done within waitMs, with the stamps they were
// due at ("... not done " + when): a stop takes no records of them. A run
// given while it waits counts too when it is due by then: the stop takes
// the records up to its stamp, whenever their run was given.
void raster_nameRunsNotDone(const char* when, unsigned waitMs, uint32_t until);

// Tests: time-stamp source for the re-phasing (default host::timeStamp).
void raster_setTimeSource(uint32_t (*now)());
