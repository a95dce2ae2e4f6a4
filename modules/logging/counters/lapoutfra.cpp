// Lap, outing, absolute-lap and fragment counters.
#include "logging/counters/lapoutfra.h"

#include <atomic>

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
    return state.absLap;
}

// Writes the counters into both NVRAM elements (outside the mutex).
void lapOutFra_update() {
    if (!takeMutex()) {
        syslogx(147, "lapOutFra_update() semTake failed errno 0x%X", lastErrno());
        return;
    }
    putLe16(LapOutFra + 0, state.fragment);
    putLe16(LapOutFra + 2, state.outing);
    putLe16(LapOutFra + 4, state.lap);
    LapOutFraAbsLapCnt = state.absLap;
    uint8_t elem[6], abs[2];
    std::memcpy(elem, LapOutFra, 6);
    putLe16(abs, LapOutFraAbsLapCnt);
    semGive(LapOutFraSem);
    NvramBatch together;
    noteStore(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 0, elem, 6), 6);
    noteStore(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 1, elem, 6), 6);
    noteStore(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, abs, 2), 2);
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

// Moves the fragment on from the current one until the name is free on every
// logging drive (LapOutFra_findFreeName). Called with the mutex held. Each
// name skipped is logged at level (the first few by name), so that a lap
// that lands on an earlier recording's name says so; the start-up passes the
// last run's own file, which is no news. The name the counters now give is
// left in name.
void skipNamesInUse(const char* who, int level, char (&name)[64]) {
    constexpr unsigned kNamedMax = 8;
    unsigned skipped = 0;
    uint16_t absLap = state.absLap, fragment = state.fragment;
    LapOutFra_findFreeName(0, state.outing, state.lap, &absLap, &fragment, name, sizeof name, [&](const char* tried) {
        const LapOutFraNameUse use = nameInUse(tried);
        if (use.path.empty()) return false;
        if (++skipped <= kNamedMax)
            syslogx(level, "%s: '%s' is in use (%s), its name is skipped", who, use.path.c_str(), use.what);
        return true;
    });
    while (state.absLap != absLap) lapOutFra_incAbsLapCounter();   // stored at once, as each lap
    state.fragment = fragment;
    if (!name[0]) {
        syslogx(147, "%s: Error LapOutFra_genFilename()", who);
        return;
    }
    if (skipped) syslogx(level, "%s: %u file names in use skipped, the next file is %s", who, skipped, name);
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
    if (!takeMutex()) {
        syslogx(147, "LapOutFra_initLapOutCnt() semTake errors errno 0x%X", lastErrno());
        return;
    }
    const bool newPair = lap != state.lap || outing != state.outing;
    if (newPair) {
        lapOutFra_incAbsLapCounter();
        state.fragment = 1;
    }
    state.lap = lap;
    state.outing = outing;

    char name[64];
    skipNamesInUse("LapOutFra_initLapOutCnt()", 151, name);
    std::atomic_ref<uint8_t>(state.valid).store(1, std::memory_order_release);
    syslogx(151, "LapOutFra_initLapOutCnt(): Starting with file: %s", name);
    publishAll();
    semGive(LapOutFraSem);
    if (newPair) resetLapstackHistory();
    lapOutFra_update();
}

void LapOutFra_setLapOutCnt(uint16_t lap, uint16_t outing, uint32_t timeStamp) {
    tlStoreOk = true;
    if (!takeMutex()) {
        if (!LapOutFraSem || lastErrno() == kErrInvalidSemId)
            SYSLOGX_FLOOD(floodSetInvalid, 148,
                          "LapOutFra_setLapOutCnt() semTake error: semID invalid (comint before init?)");
        else
            SYSLOGX_FLOOD(floodSetOther, 147, "LapOutFra_setLapOutCnt() semTake errors errno 0x%X", lastErrno());
        return;
    }
    lapOutFra_incAbsLapCounter();
    const bool newOuting = outing != state.outing;
    state.lap = lap;
    state.outing = outing;
    state.fragment = 1;
    char name[64];
    skipNamesInUse("LapOutFra_setLapOutCnt()", 148, name);
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    publishAll();
    semGive(LapOutFraSem);
    if (newOuting) resetLapstackHistory();
    lapOutFra_update();
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

void LapOutFra_setFragmentTrig(uint32_t timeStamp) {
    tlStoreOk = true;
    if (!takeMutex()) {
        SYSLOGX_FLOOD(floodFragTrig, 147, "LapOutFra_setFragmentTrig() semTake failed errno 0x%X", lastErrno());
        return;
    }
    if (state.fragment >= 255) {
        lapOutFra_incAbsLapCounter();
        state.fragment = 1;
    } else {
        state.fragment++;
    }
    char name[64];
    skipNamesInUse("LapOutFra_setFragmentTrig()", 148, name);
    std::atomic_ref<uint32_t>(state.timeStamp).store(timeStamp, std::memory_order_relaxed);
    *signals.fractr = state.fragment & 0xFF;
    *signals.abslap = state.absLap;
    semGive(LapOutFraSem);
    lapOutFra_update();
}

bool LapOutFra_nextFileName(const char* name, char* out, uint32_t size) {
    if (!name || !out || size < 13 || !meas_isMeasFileName(name)) return false;
    char in[13];   // out may be name itself
    std::memcpy(in, name, sizeof in);
    name = in;
    // letter, outing and lap stay; the absolute lap is "%03x" before the dot
    // and "%1x" after it, the fragment the last two digits
    const unsigned long absHigh = std::strtoul(std::string(name + 5, 3).c_str(), nullptr, 16);
    const unsigned long absLow = std::strtoul(std::string(name + 9, 1).c_str(), nullptr, 16);
    uint16_t absLap = uint16_t(absHigh << 4 | absLow);
    uint16_t fragment = uint16_t(std::strtoul(name + 10, nullptr, 16));
    nextCounters(&absLap, &fragment);
    std::snprintf(out, size, "%.5s%03x.%1x%02x", name, (absLap >> 4) & 0xFFF, absLap & 0xF, fragment & 0xFF);
    return true;
}

void LapOutFra_skipNamesInUse() {
    if (!takeMutex()) {
        syslogx(147, "LapOutFra_skipNamesInUse() semTake errors errno 0x%X", lastErrno());
        return;
    }
    const uint16_t fragment = state.fragment, absLap = state.absLap;
    char name[64];
    skipNamesInUse("LapOutFra_skipNamesInUse()", 148, name);
    const bool moved = fragment != state.fragment || absLap != state.absLap;
    if (moved) {
        *signals.fractr = state.fragment & 0xFF;
        *signals.abslap = state.absLap;
    }
    semGive(LapOutFraSem);
    if (moved) lapOutFra_update();
}

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

bool LapOutFra_lastStoreOk() { return tlStoreOk; }

// Read by the logging task and the rasters while the shell or the command
// task changes the counters: single words, read atomically.
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
    hooks = {};
    floodSetInvalid = floodSetOther = floodFragTrig = 0;
}
