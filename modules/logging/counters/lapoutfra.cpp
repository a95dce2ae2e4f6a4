// Lap, outing, absolute-lap and fragment counters.
#include "logging/counters/lapoutfra.h"

#include <atomic>
#include <utility>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/os/os.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/drives/drive_entry.h"
#include "measurement/calparams.h"
#include "measurement/laptrigger.h"
#include "platform/error_mgr.h"
#include "platform/files.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"

namespace {

constexpr unsigned kErrInvalidSemId = 0x3D0001;   // the OS's "invalid object id"

SEM_ID LapOutFraSem = nullptr;
LapOutFraState state{};
LapOutFraHooks hooks{};

// NVRAM mirrors
uint8_t LapOutFra[6];               // fragment, outing, lap: u16 little-endian each
uint16_t LapOutFraAbsLapCnt = 0;

uint16_t privateSignals[4];
LapOutFraSignals signals{&privateSignals[0], &privateSignals[1], &privateSignals[2], &privateSignals[3]};

uint8_t floodSetInvalid, floodSetOther, floodFragTrig;

// The NVRAM's change stamp of the counters' last store: a file they name is
// made on a drive only once the NVRAM's disk holds it.
std::atomic<uint64_t> storedStamp{0};

// Notes that the NVRAM holds the counters as they are now (mutex held, or
// the start-up before the mutex exists).
void noteStamp() { storedStamp.store(nvram_dbs_changeStamp(), std::memory_order_release); }

// Whether the NVRAM took every store of the calling task's last change
// (the shell reports it; the raster's triggers have no one to tell).
thread_local bool tlStoreOk = true;

void noteStore(long written, long expected) {
    if (written != expected) tlStoreOk = false;
}

unsigned lastErrno() { return errno ? unsigned(errno) : kErrInvalidSemId; }

bool takeMutex() { return LapOutFraSem && semTake(LapOutFraSem, WAIT_FOREVER) == OK; }

void putLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
uint16_t getLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void publishAll() {
    *signals.fractr = state.fragment & 0xFF;
    *signals.outctr = state.outing & 0xFF;
    *signals.lapctr = state.lap & 0xFF;
    *signals.abslap = state.absLap;
}

// Adds one to the absolute lap counter and stores it at once. Called with the
// mutex held (or from start-up before the mutex exists).
uint16_t lapOutFra_incAbsLapCounter() {
    // file names are formed from it on the logging task without the mutex
    std::atomic_ref<uint16_t>(state.absLap).store(uint16_t(state.absLap + 1), std::memory_order_relaxed);
    LapOutFraAbsLapCnt = state.absLap;
    uint8_t b[2];
    putLe16(b, LapOutFraAbsLapCnt);
    noteStore(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, b, 2), 2);
    noteStamp();
    return state.absLap;
}

// Writes the counters into both NVRAM elements. Called with the mutex held:
// the NVRAM takes them in memory at once (its disk write comes behind), and
// the stamp noted with them is there for whoever reads the counters next.
void lapOutFra_update() {
    putLe16(LapOutFra + 0, state.fragment);
    putLe16(LapOutFra + 2, state.outing);
    putLe16(LapOutFra + 4, state.lap);
    LapOutFraAbsLapCnt = state.absLap;
    uint8_t abs[2];
    putLe16(abs, LapOutFraAbsLapCnt);
    NvramBatch together;
    noteStore(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 0, LapOutFra, 6), 6);
    noteStore(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 1, LapOutFra, 6), 6);
    noteStore(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, abs, 2), 2);
    noteStamp();
}

// The splits' order of names: the next fragment, or after fragment 255 the
// next absolute lap with fragment 1. True when it wrapped to the next lap.
bool nextCounters(uint16_t* absLap, uint16_t* fragment) {
    if ((*fragment & 0xFF) >= 255) {
        *absLap = uint16_t(*absLap + 1);
        *fragment = 1;
        return true;
    }
    ++*fragment;
    return false;
}

// Something already stands at this name on one of the logging drives (after
// an NVRAM loss the counters may point at names of earlier recordings).
// Gives the device path of the first entry found and what it is; an empty
// path when the name is free on every drive.
LapOutFraNameUse nameInUse(const char* name) {
    static const char* const drives[] = {"meas:", "meas2:", "usb_meas:"};
    for (const char* drive : drives) {
        LapOutFraNameUse use = LapOutFra_nameUse(drive, name);
        if (!use.path.empty()) return use;
    }
    return {};
}

// The counters that name a file.
struct Counters {
    uint16_t outing, lap, absLap, fragment;
    bool operator==(const Counters&) const = default;
};
Counters countersLocked() { return {state.outing, state.lap, state.absLap, state.fragment}; }

// The first name free on every logging drive from some counters on
// (LapOutFra_findFreeName): the counters that give it, the name, how many
// were skipped and the first few of them by what stands there.
struct NameSearch {
    uint16_t absLap = 0, fragment = 0;
    char name[64] = {};
    unsigned skipped = 0;
    std::vector<LapOutFraNameUse> named;
};

// Looks at the drives; called with no lock held.
NameSearch searchFreeName(const Counters& from) {
    constexpr unsigned kNamedMax = 8;
    NameSearch s;
    s.absLap = from.absLap;
    s.fragment = from.fragment;
    LapOutFra_findFreeName(0, from.outing, from.lap, &s.absLap, &s.fragment, s.name, sizeof s.name,
                           [&](const char* tried) {
                               LapOutFraNameUse use = nameInUse(tried);
                               if (use.path.empty()) return false;
                               if (++s.skipped <= kNamedMax) s.named.push_back(std::move(use));
                               return true;
                           });
    return s;
}

// Takes the mutex at a free name: `step` makes the counters wanted of the
// current ones, and the search moves them past every name in use. The drives
// are looked at without the mutex (a slow USB drive must not hold the
// rasters that read or change the counters); when the counters changed
// meanwhile the search runs again from the new ones, and after kRounds such
// changes under the mutex. True with the mutex held, `from` the counters the
// step was made of and `found` what the search gave; false when the mutex
// could not be taken.
template <class Step>
bool lockAtFreeName(Step step, Counters* from, NameSearch* found) {
    constexpr int kRounds = 4;
    for (int round = 0;; ++round) {
        if (!takeMutex()) return false;
        const Counters before = countersLocked();
        if (round == kRounds) {
            *from = before;
            *found = searchFreeName(step(before));
            return true;
        }
        semGive(LapOutFraSem);
        NameSearch s = searchFreeName(step(before));
        if (!takeMutex()) return false;
        if (countersLocked() == before) {
            *from = before;
            *found = std::move(s);
            return true;
        }
        semGive(LapOutFraSem);
    }
}

// Sets the counters to the free name found (mutex held); each absolute lap
// passed is stored at once, as a lap's. Each name skipped is logged at level
// (the first few by name), so that a lap that lands on an earlier
// recording's name says so; the start-up passes the last run's own file,
// which is no news.
void moveToFreeName(const char* who, int level, const NameSearch& s) {
    while (state.absLap != s.absLap) lapOutFra_incAbsLapCounter();
    state.fragment = s.fragment;
    for (const LapOutFraNameUse& use : s.named)
        syslogx(level, "%s: '%s' is in use (%s), its name is skipped", who, use.path.c_str(), use.what);
    if (!s.name[0]) {
        syslogx(147, "%s: Error LapOutFra_genFilename()", who);
        return;
    }
    if (s.skipped) syslogx(level, "%s: %u file names in use skipped, the next file is %s", who, s.skipped, s.name);
}

// The newest triggers' counters: a measurement whose records of a short
// lap came only after the next trigger names the file it did not make.
constexpr uint32_t kTriggersKept = 16;
LapOutFraState triggers[kTriggersKept];

// With the mutex held, after a trigger set the counters and its stamp.
void noteTrigger() {
    ++state.trigger;
    if (state.trigger == 0) state.trigger = 1;   // 0 stays "none"
    triggers[state.trigger % kTriggersKept] = state;
}

// The lap-stack reset rewrites hundreds of NVRAM elements (in memory; the
// disk gets them behind us, in one write): it runs after the mutex is given,
// so that the logging raster, which reads the counters for every record,
// sees the new lap or outing at once and does not go on filing the new
// outing's records into the old file meanwhile.
void resetLapstackHistory() {
    if (hooks.lapstackResetHistory) hooks.lapstackResetHistory();
}

}  // namespace

void LapOutFra_setHooks(const LapOutFraHooks& h) { hooks = h; }

const LapOutFraSignals& LapOutFra_signals() { return signals; }

void LapOutFra_publishSignalsAt(uint16_t* base) {
    signals = {base, base + 1, base + 2, base + 3};
    publishAll();
}

LapOutFraNameUse LapOutFra_nameUse(const char* drive, const char* name) {
    if (!drive || !name || !*name) return {};
    for (char letter : {'A', 'B'}) {
        char path[CFG_MEAS_STRLEN + 80];
        std::snprintf(path, sizeof path, "%s/%c%s", drive, letter, name + 1);
        if (const char* what = meas_driveEntryKind(dev_path(path))) return {path, what};
    }
    return {};
}

int LapOutFra_findFreeName(uint8_t measIdx, uint16_t outing, uint16_t lap, uint16_t* absLap, uint16_t* fragment,
                           char* name, uint32_t size, const std::function<bool(const char*)>& inUse) {
    int wrapBudget = 3;
    int skipped = 0;
    for (;;) {
        if (LapOutFra_genFilenameAbsLap(name, size, measIdx, outing, lap, *fragment, *absLap) < 0) {
            if (name && size) name[0] = 0;
            return -1;
        }
        if (!inUse(name)) return skipped;
        ++skipped;
        if (nextCounters(absLap, fragment) && --wrapBudget == 0) {
            LapOutFra_genFilenameAbsLap(name, size, measIdx, outing, lap, *fragment, *absLap);
            return -1;
        }
    }
}

int LapOutFra_genFilenameAbsLap(char* buf, uint32_t size, uint8_t idx, uint16_t outing, uint16_t lap,
                                uint16_t fragment, uint16_t absLap) {
    if (!buf || size == 0 || idx >= 3) {
        syslogx(147, "LapOutFra_genFilename() illegal argument: buffer %d, size %d, idx %d", buf ? 1 : 0,
                int(size), int(idx));
        return -1;
    }
    if (idx == 1) {
        buf[0] = 0;
        return -1;
    }
    char letter = idx == 0 ? 'A' : char(idx + 64);
    int n = std::snprintf(buf, size, "%c%02x%02x%03x.%1x%02x", letter, outing & 0xFF, lap & 0xFF,
                          (absLap >> 4) & 0xFFF, absLap & 0xF, fragment & 0xFF);
    if (n < 0 || uint32_t(n) >= size) {
        syslogx(147, "LapOutFra_genFilename() insufficient space in filename output buffer - filename corrupt");
        return int(size - 1);
    }
    return n;
}

int LapOutFra_genFilename(char* buf, uint32_t size, uint8_t idx, uint16_t outing, uint16_t lap,
                          uint16_t fragment) {
    return LapOutFra_genFilenameAbsLap(buf, size, idx, outing, lap, fragment,
                                       std::atomic_ref<uint16_t>(state.absLap).load(std::memory_order_relaxed));
}

int LapOutFra_init() {
    uint8_t elem[6];
    long n = nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 0, elem, 6);
    if (n != 6) n = nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 1, elem, 6);
    if (n != 6) {
        state.lap = state.outing = state.fragment = 1;
        syslogx(147, "intLapOutFra_init() calling nvram_dbs_read failed ");
    } else {
        std::memcpy(LapOutFra, elem, 6);
        state.fragment = getLe16(elem);
        state.outing = getLe16(elem + 2);
        state.lap = getLe16(elem + 4);
    }
    uint8_t abs[2];
    if (nvram_dbs_read(NVRAM_ID_ABS_LAP, 0, abs, 2) != 2) {
        state.absLap = 0;
        LapOutFraAbsLapCnt = 0;
        putLe16(abs, 0);
        nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, abs, 2);
        noteStamp();
        syslogx(147, "intLapOutFra_init() calling nvram_dbs_read LapOutFraAbsLapCnt failed ");
    } else {
        // every start of the process counts one absolute lap
        state.absLap = getLe16(abs);
        lapOutFra_incAbsLapCounter();
    }
    std::atomic_ref<uint32_t>(state.timeStamp).store(0, std::memory_order_relaxed);
    std::atomic_ref<uint8_t>(state.valid).store(0, std::memory_order_release);
    if (!LapOutFraSem) LapOutFraSem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!LapOutFraSem) {
        syslogx(147, "LapOutFra_init() semaphore create failed");
        syslogx(147, "LapOutFra_init() failed %u", 1u);
        return 1;
    }
    publishAll();
    return 0;
}

void LapOutFra_initLapOutCnt(uint16_t lap, uint16_t outing) {
    tlStoreOk = true;
    Counters from{};
    NameSearch found;
    const bool locked = lockAtFreeName(
        [&](Counters c) {
            if (c.lap != lap || c.outing != outing) {
                c.absLap = uint16_t(c.absLap + 1);
                c.fragment = 1;
            }
            c.lap = lap;
            c.outing = outing;
            return c;
        },
        &from, &found);
    if (!locked) {
        syslogx(147, "LapOutFra_initLapOutCnt() semTake errors errno 0x%X", lastErrno());
        return;
    }
    const bool newPair = lap != from.lap || outing != from.outing;
    state.lap = lap;
    state.outing = outing;
    moveToFreeName("LapOutFra_initLapOutCnt()", 151, found);
    std::atomic_ref<uint8_t>(state.valid).store(1, std::memory_order_release);
    noteTrigger();   // the counters files begin under, as a trigger's
    syslogx(151, "LapOutFra_initLapOutCnt(): Starting with file: %s", found.name);
    publishAll();
    lapOutFra_update();
    semGive(LapOutFraSem);
    if (newPair) resetLapstackHistory();
}

void LapOutFra_setLapOutCnt(uint16_t lap, uint16_t outing, uint32_t timeStamp) {
    tlStoreOk = true;
    Counters from{};
    NameSearch found;
    const bool locked = lockAtFreeName(
        [&](Counters c) {
            c.absLap = uint16_t(c.absLap + 1);   // every lap event counts one
            c.lap = lap;
            c.outing = outing;
            c.fragment = 1;
            return c;
        },
        &from, &found);
    if (!locked) {
        if (!LapOutFraSem || lastErrno() == kErrInvalidSemId)
            SYSLOGX_FLOOD(floodSetInvalid, 148,
                          "LapOutFra_setLapOutCnt() semTake error: semID invalid (comint before init?)");
        else
            SYSLOGX_FLOOD(floodSetOther, 147, "LapOutFra_setLapOutCnt() semTake errors errno 0x%X", lastErrno());
        return;
    }
    const bool newOuting = outing != from.outing;
    state.lap = lap;
    state.outing = outing;
    moveToFreeName("LapOutFra_setLapOutCnt()", 148, found);
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    noteTrigger();
    publishAll();
    lapOutFra_update();
    semGive(LapOutFraSem);
    if (newOuting) resetLapstackHistory();
    if (hooks.clearSegmentation) hooks.clearSegmentation();
}

void LapOutFra_chngLapOutCnt(uint16_t lap, uint16_t outing) {
    if (!takeMutex()) {
        syslogx(147, "LapOutFra_chngLapOutCnt() semTake errors errno 0x%X", lastErrno());
        return;
    }
    if (lap == state.lap && outing == state.outing) {
        semGive(LapOutFraSem);
        return;
    }
    lapOutFra_incAbsLapCounter();
    *signals.abslap = state.absLap;
    semGive(LapOutFraSem);
    if (hooks.laptriggerUpdate) hooks.laptriggerUpdate(lap, outing);
}

void LapOutFra_setFragmentTrig(uint32_t timeStamp, LapOutFraState* stepped) {
    tlStoreOk = true;
    Counters from{};
    NameSearch found;
    const bool locked = lockAtFreeName(
        [](Counters c) {
            nextCounters(&c.absLap, &c.fragment);
            return c;
        },
        &from, &found);
    if (!locked) {
        SYSLOGX_FLOOD(floodFragTrig, 147, "LapOutFra_setFragmentTrig() semTake failed errno 0x%X", lastErrno());
        if (stepped) *stepped = LapOutFraState{};
        return;
    }
    if (stepped) *stepped = state;   // mutex held: the counters the step is made of
    moveToFreeName("LapOutFra_setFragmentTrig()", 148, found);
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    noteTrigger();
    *signals.fractr = state.fragment & 0xFF;
    *signals.abslap = state.absLap;
    lapOutFra_update();
    semGive(LapOutFraSem);
}

void LapOutFra_stepFragment(uint32_t timeStamp) {
    tlStoreOk = true;
    if (!takeMutex()) {
        SYSLOGX_FLOOD(floodFragTrig, 147, "LapOutFra_stepFragment() semTake failed errno 0x%X", lastErrno());
        return;
    }
    uint16_t absLap = state.absLap, fragment = state.fragment;
    nextCounters(&absLap, &fragment);
    while (state.absLap != absLap) lapOutFra_incAbsLapCounter();   // as a split's name skip does
    state.fragment = fragment;
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    noteTrigger();
    *signals.fractr = state.fragment & 0xFF;
    *signals.abslap = state.absLap;
    lapOutFra_update();
    semGive(LapOutFraSem);
}

bool LapOutFra_nextFileName(const char* name, char* out, uint32_t size) {
    MeasNameCounters c{};
    if (!name || !out || size < 13 || !meas_countersOfName(name, &c)) return false;
    char in[13];   // out may be name itself
    std::memcpy(in, name, sizeof in);
    name = in;
    // letter, outing and lap stay
    uint16_t absLap = c.absLap;
    uint16_t fragment = c.fragment;
    nextCounters(&absLap, &fragment);
    std::snprintf(out, size, "%.5s%03x.%1x%02x", name, (absLap >> 4) & 0xFFF, absLap & 0xF, fragment & 0xFF);
    return true;
}

void LapOutFra_skipNamesInUse() {
    Counters from{};
    NameSearch found;
    if (!lockAtFreeName([](Counters c) { return c; }, &from, &found)) {
        syslogx(147, "LapOutFra_skipNamesInUse() semTake errors errno 0x%X", lastErrno());
        return;
    }
    moveToFreeName("LapOutFra_skipNamesInUse()", 148, found);
    if (from.fragment != state.fragment || from.absLap != state.absLap) {
        *signals.fractr = state.fragment & 0xFF;
        *signals.abslap = state.absLap;
        lapOutFra_update();
    }
    semGive(LapOutFraSem);
}

bool LapOutFra_takeCopyName(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment) {
    if (!takeMutex()) {
        // the copy is not lost for it
        syslogx(147, "LapOutFra_takeCopyName() semTake errors errno 0x%X", lastErrno());
        return true;
    }
    const bool current = ((outing ^ state.outing) & 0xFF) == 0 && ((lap ^ state.lap) & 0xFF) == 0 &&
                         absLap == state.absLap && ((fragment ^ state.fragment) & 0xFF) == 0;
    // ahead in the splits' order (the absolute lap compared wrap-safe)
    const int16_t lapsAhead = int16_t(uint16_t(absLap - state.absLap));
    if (!current && (lapsAhead > 0 || (lapsAhead == 0 && (fragment & 0xFF) > (state.fragment & 0xFF)))) {
        nextCounters(&absLap, &fragment);
        while (state.absLap != absLap) lapOutFra_incAbsLapCounter();
        state.fragment = fragment;
        *signals.fractr = state.fragment & 0xFF;
        *signals.abslap = state.absLap;
        lapOutFra_update();
        char name[64];
        LapOutFra_genFilenameAbsLap(name, sizeof name, 0, state.outing, state.lap, state.fragment, state.absLap);
        syslogx(150, "LapOutFra_takeCopyName(): the counters pass a copy's name, the next file is %s", name);
    }
    semGive(LapOutFraSem);
    return !current;
}

uint64_t LapOutFra_storedStamp() { return storedStamp.load(std::memory_order_acquire); }

void LapOutFra_getState(LapOutFraState* out) {
    if (!out) return;
    if (!takeMutex()) {
        syslogx(147, "LapOutFra_getState() semTake errors errno %X", lastErrno());
        out->valid = 0;
        return;
    }
    *out = state;
    semGive(LapOutFraSem);
}

bool LapOutFra_stateOfTrigger(uint32_t trigger, LapOutFraState* out) {
    if (!out || trigger == 0 || !takeMutex()) return false;
    const LapOutFraState& t = triggers[trigger % kTriggersKept];
    const bool kept = t.trigger == trigger;
    if (kept) *out = t;
    semGive(LapOutFraSem);
    return kept;
}

bool LapOutFra_lastStoreOk() { return tlStoreOk; }

// Read by the logging task and the rasters while the shell or the command
// task changes the counters: single words, read atomically.
void LapOutFra_beginAt(uint32_t timeStamp) {
    if (!takeMutex()) {
        syslogx(147, "LapOutFra_beginAt() semTake failed errno 0x%X", lastErrno());
        return;
    }
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    semGive(LapOutFraSem);
}

uint32_t LapOutFra_getTimeStamp() { return std::atomic_ref<uint32_t>(state.timeStamp).load(std::memory_order_relaxed); }
uint8_t LapOutFra_isValid() { return std::atomic_ref<uint8_t>(state.valid).load(std::memory_order_acquire); }

void LapOutFra_checkExtLaptrgInit() {
    if (cfg_system.extLaptrigMaster && cfg_system.loggingActive && !LapOutFra_isValid())
        laptrigger_get_info_req(uint8_t(cfg_system.laptrigPid));
}

void LapOutFra_queryLapOutCntTask() {
    LapOutFra_checkExtLaptrgInit();
    taskDelay(30 * sysClkRateGet());
    if (!LapOutFra_isValid()) {
        error_mgr_set(ERRMGR_PATH_SYSTEM, ERRMGR_TYPE_LAPTRIGGER_MASTER, 0);
        syslogx(147, "LapOutFra_queryLapOutCntTask() no laptrigger master found via comint");
    }
}

void LapOutFra_resetForTest() {
    if (LapOutFraSem) semDelete(LapOutFraSem);
    LapOutFraSem = nullptr;
    state = {};
    for (auto& t : triggers) t = {};
    hooks = {};
    floodSetInvalid = floodSetOther = floodFragTrig = 0;
    storedStamp.store(0);
}
