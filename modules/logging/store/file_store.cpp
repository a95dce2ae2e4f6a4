// The file store: which file each record belongs to, the queue of open files,
// frame hand-over, closing and the time-out check.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "logging/counters/lapoutfra.h"
#include "logging/format/meas_file.h"
#include "logging/format/meas_frame.h"
#include "logging/app/meas_runtime.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/virtual_file_unmade.h"
#include "platform/byteorder.h"
#include "platform/crc.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {

constexpr uint32_t kCloseDelay = 30000;     // 3 s in 0.1 ms
constexpr uint32_t kFrameMaxAge = 10000;    // 1 s
constexpr uint8_t kModeKeepFile = 0x17;     // mode bits 0, 1, 2 and 4

MeasAppStore_FileInfo_s* gQueueHead = nullptr;
MeasAppStore_FileInfo_s* gQueueTail = nullptr;
SEM_ID gFileQueueSem = nullptr;
uint32_t loggerId = 0;
MeasAppStoreHooks hooks{};
uint8_t floodLock = 0;
uint8_t floodOpenVf = 0;
uint8_t floodClosed = 0;

// The counters and trigger stamp of each measurement's file that closed
// last. A record that arrives after that file closed has no file any more:
// another file made under the same counters would carry a name the drive
// already holds, and a header that is not its name's.
// Its close time stamp bounds the time whose files are gone, while the
// device's time has not stepped since it was made; a run's first file
// forgets the runs before.
struct ClosedFile {
    bool set;
    uint16_t outing, lap, absLap, fragment;
    uint32_t lapTs, closeTs, timeSteps;
};
ClosedFile gClosed[MEAS_COUNT];

void noteClosed(const MeasAppStore_FileInfo_s* f) {
    if (f->measIdx < MEAS_COUNT)
        gClosed[f->measIdx] = {true, f->outing, f->lap, f->absLap, f->fragment, f->lapTs, f->closeTs, f->timeSteps};
}

bool closedBefore(unsigned m, uint32_t ts) {
    const ClosedFile& c = gClosed[m];
    return c.set && c.closeTs != MEAS_TS_UNSET && int32_t(c.closeTs - ts) > 0 && c.timeSteps == time_stepCount();
}

bool closedAlready(unsigned m, const LapOutFraState* lof, uint32_t lapTs) {
    const ClosedFile& c = gClosed[m];
    return c.set && c.outing == lof->outing && c.lap == lof->lap && c.absLap == lof->absLap &&
           c.fragment == lof->fragment && c.lapTs == lapTs;
}

// The records a block could not store because no file took them (the file
// of their counters could not be made, was closed already, or the counters
// were not valid), one stretch a block: named with its stamps and the files
// that were to take them once the stretch ends (the block stores again, the
// stop, the block goes), so that the hole they leave is accounted for, on
// one line however many triggers pass meanwhile. Under the queue mutex.
struct UnstoredStretch {
    const MeasAppStoreBlockData* data;   // null: free
    unsigned measIdx;
    int blockNumber;
    uint32_t first, last, count;
    char name[16];       // the file the first was for, "" when none could be named
    char lastName[16];   // the file the last was for
};
constexpr unsigned kUnstoredStretches = 64;
UnstoredStretch gUnstored[kUnstoredStretches];
unsigned gUnstoredOpen = 0;   // stretches under way: none to look for on the usual path

// goesOn: the file the block stores in again, null when it does not (a
// stop, the block goes).
void tellUnstored(UnstoredStretch& u, const char* goesOn = nullptr) {
    if (!u.data) return;
    char was[64] = "the lap counters were not valid";
    if (u.name[0] && std::strcmp(u.name, u.lastName) != 0)
        std::snprintf(was, sizeof was, "'%s' to '%s' were to", u.name, u.lastName[0] ? u.lastName : "?");
    else if (u.name[0])
        std::snprintf(was, sizeof was, "'%s' was to", u.name);
    char then[80] = "";
    if (goesOn) std::snprintf(then, sizeof then, "; the block goes on in '%.39s'", goesOn);
    syslogx(147 | SYSLOGX_LOSS,
            "logging: m%02u block #%d: %u records of time stamps %u to %u lost: no file took them (%s%s)",
            u.measIdx + 1, u.blockNumber, unsigned(u.count), unsigned(u.first), unsigned(u.last), was, then);
    u.data = nullptr;
    --gUnstoredOpen;
}

// The block's stretch ends: named (nothing without one).
void tellUnstoredOf(const MeasAppStoreBlockData* d, const char* goesOn = nullptr) {
    if (!gUnstoredOpen) return;
    for (UnstoredStretch& u : gUnstored)
        if (u.data == d) tellUnstored(u, goesOn);
}

void noteUnstored(const MeasBlock* block, uint32_t ts, const LapOutFraState& lof) {
    const MeasAppStoreBlockData* d = block->storeData;
    char name[sizeof gUnstored[0].name] = "";
    if (lof.valid &&
        LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(block->measIdx), lof.outing, lof.lap, lof.fragment,
                                    lof.absLap) < 0)
        name[0] = 0;
    UnstoredStretch* slot = nullptr;
    for (UnstoredStretch& u : gUnstored) {
        if (u.data == d) {
            u.last = ts;
            ++u.count;
            if (name[0]) std::memcpy(u.lastName, name, sizeof name);
            if (!u.name[0]) std::memcpy(u.name, name, sizeof name);
            return;
        }
        if (!u.data && !slot) slot = &u;
    }
    if (!slot) {   // more blocks than stretches at once: the oldest is named now
        slot = &gUnstored[0];
        tellUnstored(*slot);
    }
    *slot = UnstoredStretch{d, block->measIdx, block->config ? int(block->config->blockNumber) : 0, ts, ts, 1, {}, {}};
    std::memcpy(slot->name, name, sizeof name);
    std::memcpy(slot->lastName, name, sizeof name);
    ++gUnstoredOpen;
}

// Takes the queue mutex; a failed take is logged and the caller does not go on.
// The mutex also guards the blocks' frames: the logging raster fills them
// while the pretrigger task (arming) and the shutdown hand them over, so a
// frame is only ever touched with the mutex held.
bool queueLock(const char* who) {
    if (gFileQueueSem && semTake(gFileQueueSem, WAIT_FOREVER) == OK) return true;
    SYSLOGX_FLOOD(floodLock, 147, "%s: could not take gFileQueueSem", who);
    return false;
}
void queueUnlock() { semGive(gFileQueueSem); }

void queueAdd(MeasAppStore_FileInfo_s* f) {
    f->qNext = nullptr;
    f->qPrev = gQueueTail;
    if (gQueueTail) gQueueTail->qNext = f;
    else gQueueHead = f;
    gQueueTail = f;
}

bool queueRemove(MeasAppStore_FileInfo_s* f) {
    MeasAppStore_FileInfo_s* p = gQueueHead;
    while (p && p != f) p = p->qNext;
    if (!p) return false;
    if (f->qPrev) f->qPrev->qNext = f->qNext;
    else gQueueHead = f->qNext;
    if (f->qNext) f->qNext->qPrev = f->qPrev;
    else gQueueTail = f->qPrev;
    f->qPrev = f->qNext = nullptr;
    return true;
}

// The statistics are added to from the logging raster, the pretrigger task
// (arming) and the shutdown, and read by the logging raster.
void addStat(uint32_t& counter, uint32_t n) { std::atomic_ref<uint32_t>(counter).fetch_add(n, std::memory_order_relaxed); }

void blockLink(MeasAppStore_FileInfo_s* f, MeasAppStoreBlockData* d) {
    d->prev = nullptr;
    d->next = f->blocks;
    if (f->blocks) f->blocks->prev = d;
    f->blocks = d;
    ++f->blockCount;
    d->file = f;
}

void blockUnlink(MeasAppStoreBlockData* d) {
    MeasAppStore_FileInfo_s* f = d->file;
    if (!f) return;
    if (d->prev) d->prev->next = d->next;
    else f->blocks = d->next;
    if (d->next) d->next->prev = d->prev;
    d->prev = d->next = nullptr;
    if (f->blockCount) --f->blockCount;
    d->file = nullptr;
}

// Called with the queue held: a destroy takes the store away under it.
void* storeOf(unsigned measIdx) { return measIdx < MEAS_COUNT ? meas[measIdx].store : nullptr; }

// The event logger's task matches events against the close time stamp
// (VirtualFiles::find) while the logging raster sets it.
void setCloseTs(MeasAppStore_FileInfo_s* f, uint32_t ts) {
    std::atomic_ref<uint32_t>(f->closeTs).store(ts, std::memory_order_relaxed);
}

// Where a file's time ends when its first block leaves it: at the lap or
// fragment trigger that ended it, else (a stop) at its newest record, never
// before its start.
uint32_t closeStamp(const MeasAppStore_FileInfo_s* f) {
    const uint32_t lofTs = LapOutFra_getTimeStamp();
    if (lofTs != f->lapTs && int32_t(lofTs - f->initTs) >= 0) return lofTs;
    uint32_t last = f->initTs;
    for (const MeasAppStoreBlockData* d = f->blocks; d; d = d->next)
        if (d->owner && int32_t(d->owner->latestTimeStamp - last) > 0) last = d->owner->latestTimeStamp;
    return last;
}

bool frameHolds(const MeasAppStoreBlockData* d) {
    return d->frame && (d->frame->recordsHeld != 0 || d->frame->bytesHeld != 0);
}

bool deadlinePassed(uint32_t deadline, uint32_t now) {
    return deadline != MEAS_TS_UNSET && int32_t(now - deadline) >= 0;
}

}  // namespace

MeasAppStoreQueueHold::MeasAppStoreQueueHold(const char* who) : held_(queueLock(who)) {}

MeasAppStoreQueueHold::~MeasAppStoreQueueHold() {
    if (held_) queueUnlock();
}

void MeasAppStore_setHooks(const MeasAppStoreHooks& h) { hooks = h; }

int MeasAppStore_init() {
    gQueueHead = gQueueTail = nullptr;
    floodOpenVf = floodClosed = 0;
    for (ClosedFile& c : gClosed) c = ClosedFile{};
    for (UnstoredStretch& u : gUnstored) u = UnstoredStretch{};
    gUnstoredOpen = 0;
    if (!gFileQueueSem) gFileQueueSem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!gFileQueueSem) {
        syslogx(147, "MeasAppStore_init(): failed to create semaphore, errno %s", std::strerror(errno));
        return 1;
    }
    uint8_t rom[8] = {};
    ow_readRomID(rom);
    loggerId = crc32_bsd(rom, sizeof rom);
    return 0;
}

void MeasAppStore_dropFiles(unsigned measIdx) {
    if (!queueLock("MeasAppStore_dropFiles()")) return;
    MeasAppStore_FileInfo_s* next = nullptr;
    for (auto* f = gQueueHead; f; f = next) {
        next = f->qNext;
        if (f->measIdx != measIdx) continue;
        while (MeasAppStoreBlockData* d = f->blocks) blockUnlink(d);
        queueRemove(f);
        f->vfIdx = -1;
    }
    queueUnlock();
}

void* MeasAppStore_takeStore(unsigned measIdx) {
    if (measIdx >= MEAS_COUNT) return nullptr;
    MeasAppStoreQueueHold lock("MeasAppStore_takeStore()");
    void* store = meas[measIdx].store;
    meas[measIdx].store = nullptr;
    return store;
}

void MeasAppStore_deinit() {
    // queued files belong to their virtual files
    gQueueHead = gQueueTail = nullptr;
    if (gFileQueueSem) semDelete(gFileQueueSem);
    gFileQueueSem = nullptr;
}

uint32_t meas_app_getLoggerId() { return loggerId; }

void MeasAppStore_flushEventsUntil(unsigned measIdx, uint32_t ts) {
    if (hooks.eventFlushUntil) hooks.eventFlushUntil(measIdx, ts);
}

unsigned MeasAppStore_queuedFiles(unsigned measIdx) {
    unsigned n = 0;
    if (!queueLock("MeasAppStore_queuedFiles")) return 0;
    for (auto* f = gQueueHead; f; f = f->qNext) n += f->measIdx == measIdx;
    queueUnlock();
    return n;
}

void MeasAppStore_nameOpenFilesAtHalt() {
    if (!queueLock("MeasAppStore_nameOpenFilesAtHalt")) return;
    for (auto* f = gQueueHead; f; f = f->qNext)
        syslogx(147 | SYSLOGX_LOSS,
                "logging: m%02u: '%s' (from time stamp %u) not closed at the stop: the fast stop had not run when "
                "the writers halted, its last records and its closing status block are not written",
                unsigned(f->measIdx) + 1, f->name, unsigned(f->initTs));
    queueUnlock();
}

int MeasAppStore_initData(MeasBlock* block, uint32_t recordsPerFrame, uint32_t maxBytes) {
    if (!block || !block->config) return 1;
    auto* d = static_cast<MeasAppStoreBlockData*>(std::calloc(1, sizeof(MeasAppStoreBlockData)));
    const BlkInfo& b = *block->config;
    const uint32_t divider = b.divider > 1 ? b.divider : 1;
    MeasFrame* f = d ? MeasFrame_alloc(recordsPerFrame, maxBytes, b.recordSize, divider) : nullptr;
    if (!f || (divider > 1 && MeasFrame_HSL_calc_IndexTranslation(f, b.align4Count, b.align2Count, b.align1Count))) {
        syslogx(147, "MeasAppStore_initData():Error: MeasFrame_alloc()");
        MeasFrame_free(f);
        std::free(d);
        return 1;
    }
    d->frame = f;
    d->recordLength = b.recordSize;
    d->fileInitTs = MEAS_TS_UNSET;
    d->lapTs = MEAS_TS_UNSET;
    d->owner = block;
    block->storeData = d;
    return 0;
}

int MeasAppStore_deinitData(MeasBlock* block) {
    MeasAppStoreBlockData* d = block ? block->storeData : nullptr;
    if (!d || !d->frame) {
        syslogx(147, "MeasAppStore_deinitData():Error: no valid Frame_ptr");
        return 1;
    }
    MeasAppStoreQueueHold lock("MeasAppStore_deinitData");
    if (MeasFrame_free(d->frame) != 0) {
        syslogx(147, "MeasAppStore_deinitData():Error: MeasFrame_free()");
        return 1;
    }
    if (lock.held()) {
        if (d->file) blockUnlink(d);
        tellUnstoredOf(d);
    }
    std::free(d);
    block->storeData = nullptr;
    return 0;
}

void meas_app_store_frame(MeasBlock* block) {
    if (!block) {
        syslogx(147, "meas_app_store_frame(): Error: pMblk NULL");
        return;
    }
    MeasAppStoreQueueHold lock("meas_app_store_frame()");
    if (!lock.held()) return;
    MeasAppStoreBlockData* d = block->storeData;
    if (!d || !d->file) {
        syslogx(147, "meas_app_store_frame(): Error: aFileInfoPtr NULL");
        return;
    }
    if (!block->config) {
        syslogx(147, "meas_app_store_frame(): Error: pMblk->blkinfo NULL");
        return;
    }
    uint32_t firstTs = 0, lastTs = 0;
    if (MeasFrame_recode_for_V5_V6(d->frame, d->recordLength, &firstTs, &lastTs) != 0) {
        syslogx(147, "meas_app_store_frame(): Error: MeasFrame_recode_V5_V6()");
        return;
    }
    uint8_t* buf = nullptr;
    uint32_t len = 0, plain = 0, packed = 0;
    if (MeasFrame_get(d->frame, uint8_t(block->config->blockNumber), &buf, &len, &plain, &packed) != 0) {
        syslogx(147, "meas_app_store_frame():Error: MeasFrame_get()");
        return;
    }
    MeasStoreStats& s = meas_store_stats();
    if (block->measIdx == MEAS_IDX_M01) {
        addStat(s.meas_data_size_m01_uncompressed, plain);
        addStat(s.meas_data_size_m01_compressed, packed);
    } else if (block->measIdx == MEAS_IDX_M03) {
        addStat(s.meas_data_size_m03_uncompressed, plain);
        addStat(s.meas_data_size_m03_compressed, packed);
    }
    if (!buf) return;
    void* store = storeOf(block->measIdx);
    if (d->file->vfIdx < 0 || !store) {
        // nowhere to go: freed, counted and named, never leaked
        std::free(buf);
        meas_store_countLost(block->measIdx);
        syslogx(147 | SYSLOGX_LOSS,
                "meas_app_store_frame(): m%02u block #%d: records of time stamps %u to %u lost: their file '%s' is "
                "closed already",
                unsigned(block->measIdx) + 1, int(block->config->blockNumber), unsigned(firstTs), unsigned(lastTs),
                d->file->name);
        return;
    }
    meas_app_PreTrigPutMeasFrame(store, d->file->vfIdx, buf, len, firstTs, lastTs);
    d->file->fileSize += len;
}

void meas_app_store_block_close_check_only(MeasBlock* block) {
    MeasAppStoreBlockData* d = block ? block->storeData : nullptr;
    if (!d) return;
    MeasAppStoreQueueHold lock("meas_app_store_block_close_check_only()");
    if (!lock.held() || !d->file) return;
    const uint32_t lofTs = LapOutFra_getTimeStamp();
    if (lofTs == d->fileInitTs) return;
    const uint32_t ts = block->latestTimeStamp;
    const uint32_t closeTs = d->file->closeTs;
    if (int32_t(ts - lofTs) <= 0 && (closeTs == MEAS_TS_UNSET || int32_t(ts - closeTs) <= 0)) return;
    const uint32_t trigger = d->file->trigger;
    char name[sizeof d->leftName];
    static_assert(sizeof name == sizeof d->file->name);
    std::memcpy(name, d->file->name, sizeof name);
    meas_app_close_file(block, SB_LAPTRIG);
    if (d->file) return;   // the block keeps its file
    // the file the block opens next follows this one (which may leave the queue before)
    d->leftTrigger = trigger;
    std::memcpy(d->leftName, name, sizeof name);
}

void meas_app_store_block(MeasBlock* block, const uint8_t* record) {
    MeasAppStoreBlockData* d = block ? block->storeData : nullptr;
    if (!d || !record) return;
    MeasAppStoreQueueHold lock("meas_app_store_block()");
    if (!lock.held()) {
        meas_store_countLost(block->measIdx);
        return;
    }
    block->latestTimeStamp = be_get32(record);
    meas_app_store_block_close_check_only(block);
    if (!d->file) {
        LapOutFraState lof{};
        LapOutFra_getState(&lof);
        if (!lof.valid || meas_app_open_file(block, block->latestTimeStamp, &lof) == 1) {
            meas_store_countLost(block->measIdx);
            noteUnstored(block, block->latestTimeStamp, lof);
            return;
        }
    }
    tellUnstoredOf(d, d->file->name);
    // a record after the arm begins a frame of its own: the records before
    // it (drained late from the FIFOs) are handed on from the ring (compared
    // by their signed difference: the 0.1 ms counter wraps at 2^32)
    const uint32_t arm = meas_app_PreTrigArmTime(storeOf(block->measIdx));
    if (arm && int32_t(block->latestTimeStamp - arm) >= 0 && frameHolds(d) &&
        int32_t(d->frame->lastTimeStamp - arm) < 0)
        meas_app_store_frame(block);
    int r = MeasFrame_put(d->frame, record, d->recordLength);
    if (r == 1) syslogx(147, "meas_app_store_block(): Error: MeasFrame_put()");
    else if (r == 2) meas_app_store_frame(block);
}

namespace {
uint8_t floodNoFile;

// The triggers between the file before and the new one made no file of
// this measurement: the next came before any of its records after them was
// stored (the logging raster stores them a while after they were taken),
// so the records of their time went on in the file before. For the
// measurement's first file those are the triggers whose time ends after its
// first record, which the new file holds. Each is named.
// (Told once the file is made: the counters' lock is taken for the names.)
struct TriggersPassed {
    bool before = false;   // there is a file before
    uint32_t beforeTrigger = 0, made = 0, madeLapTs = 0, firstTs = 0;
    char beforeName[40], madeName[40];
};
constexpr uint32_t kTriggersNamed = 16;   // as many as the counters keep

void nameTriggersWithoutFile(unsigned m, const TriggersPassed& p) {
    if (!p.made) return;
    uint32_t from = p.beforeTrigger + 1;
    if (!p.before) {
        from = p.made;
        for (uint32_t end = p.madeLapTs; from > 1 && p.made - from < kTriggersNamed;) {
            LapOutFraState s{};
            if (!end || int32_t(end - p.firstTs) <= 0 || !LapOutFra_stateOfTrigger(from - 1, &s)) break;
            --from;
            end = s.timeStamp;
        }
    } else if (!p.beforeTrigger || p.made - p.beforeTrigger > kTriggersNamed) {
        return;
    }
    const char* into = p.before ? p.beforeName : p.madeName;
    for (uint32_t t = from; int32_t(p.made - t) > 0; ++t) {
        LapOutFraState s{};
        char name[16] = "";
        uint32_t next = p.madeLapTs;
        LapOutFraState n{};
        if (LapOutFra_stateOfTrigger(t + 1, &n)) next = n.timeStamp;
        if (!LapOutFra_stateOfTrigger(t, &s) ||
            LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(m), s.outing, s.lap, s.fragment, s.absLap) < 0) {
            SYSLOGX_FLOOD(floodNoFile, 148, "meas_app_open_file(): m0%u has no file of a trigger before '%s': the "
                                            "next came before a record of m0%u after it was stored",
                          m + 1, p.madeName, m + 1);
            continue;
        }
        // (at most one a trigger: no flood limit)
        syslogx(148, "meas_app_open_file(): m0%u has no file '%s' of the trigger at %u: the next came at %u, before a "
                     "record of m0%u after it was stored; the records of that time are in '%s'",
                m + 1, name, unsigned(s.timeStamp), unsigned(next), m + 1, into);
    }
}
}  // namespace

int meas_app_open_file(MeasBlock* block, uint32_t ts, const LapOutFraState* lof) {
    MeasAppStoreBlockData* d = block ? block->storeData : nullptr;
    if (!d || !lof) return 1;
    const unsigned m = block->measIdx;
    if (!queueLock("meas_app_open_file()")) return 1;
    MeasAppStore_FileInfo_s *match = nullptr, *pred = nullptr, *file = nullptr;
    TriggersPassed passed;
    bool first = true, anyQueued = false;
    for (auto* f = gQueueHead; f; f = f->qNext) {
        if (f->measIdx != m) continue;
        anyQueued = true;
        if (first) {
            f->closeable = 1;
            first = false;
        }
        if (int32_t(ts - f->initTs) >= 0) pred = f;
        if (!match && f->outing == lof->outing && f->lap == lof->lap && f->absLap == lof->absLap &&
            f->fragment == lof->fragment)
            match = f;
    }
    // lap stamp: 0 when no lap or fragment trigger came since the start
    const uint32_t lapTs = lof->timeStamp >= 0xFFFFFFFEu ? 0 : lof->timeStamp;
    // before the trigger that began the match: the file before it (a file
    // begun by its first record takes the other blocks' records too)
    if (match) file = (match->lapTs && int32_t(match->initTs - ts) > 0 && pred) ? pred : match;
    else if (lapTs && int32_t(lapTs - ts) >= 0) file = pred;

    if (file && file->vfIdx < 0) {
        syslogx(148, "meas_app_open_file(): Cancel writing block #%d to file %s, mode.kill 0x%X, file was closed already!!",
                block->config ? int(block->config->blockNumber) : 0, file->name, unsigned(d->mode));
        queueUnlock();
        return 1;
    }
    // A record before every queued file's time and before the close of this
    // run's file that closed last: the file of its time is gone (a slow
    // block's first record, stored after the trigger closed that file). The
    // queued file it would join, or a new one, begins after it.
    if (!pred && closedBefore(m, ts)) {
        SYSLOGX_FLOOD(floodClosed, 147 | SYSLOGX_LOSS,
                      "meas_app_open_file(): record of block #%d at %u dropped: the file of its time is closed already",
                      block->config ? int(block->config->blockNumber) : 0, unsigned(ts));
        queueUnlock();
        return 1;
    }
    // A record before the first record of a start, whose file begins there
    // (a slower block's record, another device's values delivered late):
    // that file's time does not hold it, and none before it is this start's.
    if (file == match && match && !match->lapTs && !pred && int32_t(match->initTs - ts) > 0) {
        SYSLOGX_FLOOD(floodClosed, 147 | SYSLOGX_LOSS,
                      "meas_app_open_file(): record of block #%d at %u dropped: it lies before the first record "
                      "of its start, at %u",
                      block->config ? int(block->config->blockNumber) : 0, unsigned(ts), unsigned(match->initTs));
        queueUnlock();
        return 1;
    }
    if (!file && closedAlready(m, lof, lapTs)) {
        SYSLOGX_FLOOD(floodClosed, 147 | SYSLOGX_LOSS,
                      "meas_app_open_file(): record of block #%d at %u dropped: the file of its counters (outing %u, "
                      "lap %u, fragment %u) is closed already",
                      block->config ? int(block->config->blockNumber) : 0, unsigned(ts), unsigned(lof->outing),
                      unsigned(lof->lap), unsigned(lof->fragment));
        queueUnlock();
        return 1;
    }
    if (!file) {
        auto* f = static_cast<MeasAppStore_FileInfo_s*>(std::calloc(1, sizeof(MeasAppStore_FileInfo_s)));
        if (!f) {
            queueUnlock();
            return 1;
        }
        get_bcd_time(f->created);
        // name and header from the same snapshot: a lap trigger since then
        // must not give the file another absolute lap in its name
        if (LapOutFra_genFilenameAbsLap(f->name, sizeof f->name, uint8_t(m), lof->outing, lof->lap, lof->fragment,
                                        lof->absLap) < 0)
            syslogx(147, "meas_app_open_file(): Error LapOutFra_genFilename()");
        f->meas = &meas[m];
        f->measIdx = uint8_t(m);
        f->outing = lof->outing;
        f->lap = lof->lap;
        f->absLap = lof->absLap;
        f->fragment = lof->fragment;
        f->countersStamp = LapOutFra_storedStamp();   // read after lof: holds its counters
        f->timeSteps = time_stepCount();
        f->closeType = MEAS_FCLOSE_OPEN;
        // Without a trigger the file begins with the record that opens it:
        // its time holds no event from before its first record (of a time
        // before a step, or before the start).
        f->initTs = lapTs ? lapTs : ts;
        f->lapTs = lapTs;
        f->trigger = lof->trigger;
        // the file before: the newest queued one, or the one a trigger
        // just closed for this block (it may have left the queue already)
        passed.before = pred != nullptr || d->leftTrigger != 0;
        passed.beforeTrigger = pred ? pred->trigger : d->leftTrigger;
        passed.made = f->trigger;
        passed.madeLapTs = f->lapTs;
        passed.firstTs = ts;
        std::snprintf(passed.beforeName, sizeof passed.beforeName, "%s", pred ? pred->name : d->leftName);
        std::memcpy(passed.madeName, f->name, sizeof passed.madeName);
        f->closeTs = MEAS_TS_UNSET;
        f->closeDeadline = MEAS_TS_UNSET;
        f->vfIdx = -1;
        f->closeable = anyQueued ? 0 : 1;
        if (measure::store::unmadeFiles.worthTrying(m, f->name)) meas_app_PreTrigOpenFile(storeOf(m), f);
        if (f->vfIdx < 0) {
            // said once a file: the records lost with it are named by their stretch
            if (measure::store::unmadeFiles.refused(m, f->name, ts))
                SYSLOGX_FLOOD(floodOpenVf, 147 | SYSLOGX_LOSS, "meas_app_open_file(): failed to open virtual file %s",
                              f->name);
            std::free(f);
            queueUnlock();
            return 1;
        }
        queueAdd(f);
        measure::store::unmadeFiles.name(m);   // the records lost before this file
        // the stop moves the counters past its name, also before a writer has made the file
        if (!std::atomic_ref<uint8_t>(meas[m].fileMade).exchange(1, std::memory_order_relaxed)) gClosed[m] = {};
        if (pred && pred->closeTs == MEAS_TS_UNSET) {
            setCloseTs(pred, f->initTs);
            pred->closeDeadline = meas_dueStamp(time_getTimestamp() + kCloseDelay);
            syslogx(151, "meas_app_open_file(): close_timestamp set late %s", pred->name);
        } else if (pred && pred->closeTs != f->initTs) {
            syslogx(151, "meas_app_open_file(): close_timestamp > init_timestamp [%u > %u] [%s, %s]", pred->closeTs,
                    f->initTs, pred->name, f->name);
        }
        if (hooks.eventFlushUntil) hooks.eventFlushUntil(m, f->initTs);
        file = f;
    }
    blockLink(file, d);
    d->leftTrigger = 0;
    d->fileInitTs = file->lapTs;
    d->lapTs = file->lapTs;
    if (lof->timeStamp != file->lapTs)
        syslogx(151, "meas_app_open_file(): file %s, lof and file init timestamp differ %u / %u", file->name,
                lof->timeStamp, file->lapTs);
    queueUnlock();
    nameTriggersWithoutFile(m, passed);
    return 0;
}

namespace {

// The block leaves its file, its frame handed over; the file asks for its
// closing status block once no block writes into it, unless the caller
// closes it later (a stop while other blocks may still bring records of it).
void leaveFile(MeasBlock* block, unsigned sbType, bool closeWhenLast) {
    MeasAppStoreBlockData* d = block ? block->storeData : nullptr;
    if (!d) return;
    if (d->mode & kModeKeepFile) return;
    d->leftTrigger = 0;   // (set again after a trigger's close)
    MeasAppStore_FileInfo_s* f = d->file;
    if (!f || f->vfIdx < 0) {
        syslogx(147, "meas_app_close_file(): InfoPtr 0x%X, FileInfo_ptr 0x%X, #%d, '%s'", d ? 1u : 0u, f ? 1u : 0u,
                block->config ? int(block->config->blockNumber) : 0, f ? f->name : "");
        if (f && queueLock("meas_app_close_file()")) {
            blockUnlink(d);
            queueUnlock();
        }
        return;
    }
    if (!queueLock("meas_app_close_file()")) return;
    if (f->closeType == MEAS_FCLOSE_OPEN) {
        f->closeType = hooks.takeLapCloseRequest && hooks.takeLapCloseRequest(f->measIdx) ? MEAS_FCLOSE_LAPREQ
                                                                                            : MEAS_FCLOSE_OTHER;
        if (f->closeTs == MEAS_TS_UNSET) {
            setCloseTs(f, closeStamp(f));
            f->closeDeadline = meas_dueStamp(time_getTimestamp() + kCloseDelay);
        }
    }
    meas_app_store_frame(block);
    blockUnlink(d);
    d->lapTs = MEAS_TS_UNSET;
    if (f->blockCount == 0 && closeWhenLast) meas_app_req_sb_and_unlink_file(f, sbType);
    queueUnlock();
}

}  // namespace

void meas_app_close_file(MeasBlock* block, unsigned sbType) { leaveFile(block, sbType, true); }

void meas_app_leave_file(MeasBlock* block) { leaveFile(block, SB_PERIOD, false); }

void meas_app_req_sb_and_unlink_file(MeasAppStore_FileInfo_s* f, unsigned sbType) {
    if (!f) {
        syslogx(147, "meas_app_req_sb_and_unlink_file(): Error NULL file handle");
        return;
    }
    if (f->closeType == MEAS_FCLOSE_SBREQ) {
        syslogx(147, "meas_app_req_sb_and_unlink_file(): Error - requesting close file SB second time");
        return;
    }
    if (!f->closeable) {
        syslogx(148, "meas_app_req_sb_and_unlink_file(): Error - cannot close yet, not oldest (%s)", f->name);
        return;
    }
    if (sbType == SB_LAPTRIG && f->closeType == MEAS_FCLOSE_OTHER) {
        uint8_t ts[4];
        be_put32(ts, f->closeTs);
        meas_app_PreTrigPutMetaDataVfCopy(storeOf(f->measIdx), f->vfIdx, ts, 4, MEAS_META_CLOSE_TS);
    }
    if (hooks.eventFlushUntil) hooks.eventFlushUntil(f->measIdx, f->closeTs);
    if (f->closeType == MEAS_FCLOSE_LAPREQ) sbType = SB_PERIOD;
    syslogx(150, "meas_app_close_file(): collecting statusblock for %s, type %s", f->name,
            sbType == SB_LAPTRIG ? "SB_LAPTRIG" : sbType == SB_PERIOD ? "SB_PERIOD" : "SB_UNKNOWN");
    f->closeType = MEAS_FCLOSE_SBREQ;
    noteClosed(f);
    meas_app_store_statusblock_close(f, sbType);
}

namespace {
void fillSbRequest(MeasAppStore_FileInfo_s* f, MeasAppStore_SbRequest* r) {
    std::memset(r, 0, sizeof *r);
    r->vfIdx = f->vfIdx;
    r->pretrigger = storeOf(f->measIdx);
    std::memcpy(r->created, f->created, 6);
    get_bcd_time(r->now);
    std::snprintf(r->fileName, sizeof r->fileName, "%.39s", f->name);
    if (const MEASConfiguration* c = f->measIdx < MEAS_COUNT ? meas[f->measIdx].config : nullptr) {
        std::snprintf(r->cfgName, sizeof r->cfgName, "%.79s", c->projectFileName);
        std::snprintf(r->cfgText, sizeof r->cfgText, "%.79s", c->userInfo);
    }
}
}  // namespace

void meas_app_store_statusblock_close(MeasAppStore_FileInfo_s* f, unsigned sbType) {
    if (!f) return;
    const int vf = f->vfIdx;
    void* store = storeOf(f->measIdx);
    if (f->measIdx != MEAS_IDX_M01 && f->measIdx != MEAS_IDX_M03) {
        syslogx(147, "meas_app_store_statusblock_close(m0%d): invalid measurement", f->measIdx + 1);
        meas_app_PreTrigCloseFile(store, vf);
        return;
    }
    MeasAppStore_SbRequest r;
    fillSbRequest(f, &r);
    int answer = hooks.sbCreate ? hooks.sbCreate(&r, sbType, f->measIdx) : 3;
    if (answer == 3) {
        syslogx(151, "meas_app_store_statusblock_close() close file: '%s', 0x%X", r.fileName, unsigned(vf));
        meas_app_PreTrigCloseFile(store, vf);
    }
}

void meas_app_store_statusblock(MeasAppStore_FileInfo_s* f, unsigned sbType) {
    if (!f || !hooks.sbCreateWrite) return;
    // the file may have ended since it was looked up: read it only while it
    // is still queued and open
    if (!queueLock("meas_app_store_statusblock()")) return;
    bool queued = false;
    for (auto* q = gQueueHead; q && !queued; q = q->qNext) queued = q == f;
    MeasAppStore_SbRequest r;
    const unsigned measIdx = queued ? f->measIdx : 0;
    queued = queued && f->vfIdx >= 0 && f->closeType == MEAS_FCLOSE_OPEN;
    if (queued) fillSbRequest(f, &r);
    queueUnlock();
    if (queued) hooks.sbCreateWrite(&r, sbType, measIdx);
}

int meas_app_get_lof_file(MeasBlock* block, MeasAppStore_FileInfo_s** out, const LapOutFraState* lof) {
    if (!block || !out || !lof) return 0;
    if (!queueLock("meas_app_get_lof_file()")) return 0;
    *out = nullptr;
    for (auto* f = gQueueHead; f; f = f->qNext)
        if (f->measIdx == block->measIdx && f->outing == lof->outing && f->lap == lof->lap &&
            f->absLap == lof->absLap && f->fragment == lof->fragment) {
            *out = f;
            break;
        }
    queueUnlock();
    return *out ? 1 : 0;
}

void meas_app_file_queue_delete(MeasAppStore_FileInfo_s* f) {
    if (!f || !queueLock("meas_app_file_queue_delete()")) return;
    if (queueRemove(f))
        syslogx(151, "meas_app_file_queue_delete(): deleted file (%s) from gFileQueue", f->name);
    else
        syslogx(147, "meas_app_file_queue_delete(): error deleting file from gFileQueue (%s)", f->name);
    queueUnlock();
}

void meas_app_set_next_closeable_file(unsigned measIdx) {
    if (!queueLock("meas_app_set_next_closeable_file()")) return;
    for (auto* f = gQueueHead; f; f = f->qNext) {
        if (f->measIdx != measIdx) continue;
        if (!(f->closeable && f->vfIdx >= 0)) {
            f->closeable = 1;
            syslogx(151, "meas_app_set_next_closeable_file(): set to %s", f->name);
        }
        break;
    }
    queueUnlock();
}

void MeasAppStore_checkForFlush() { MeasAppStore_checkForFlushIdx(7); }

void MeasAppStore_checkForFlushIdx(unsigned mask) {
    if (!queueLock("MeasAppStore_checkForFlushIdx()")) return;
    const uint32_t now = time_getTimestamp();
    const uint32_t flags = hooks.getFlags ? hooks.getFlags() : 0;
    bool seen[MEAS_COUNT] = {}, flushDir[MEAS_COUNT] = {};
    MeasAppStore_FileInfo_s* next = nullptr;
    for (auto* f = gQueueHead; f; f = next) {
        next = f->qNext;
        const unsigned m = f->measIdx;
        if (m >= MEAS_COUNT || !(mask & (1u << m))) continue;
        for (MeasAppStoreBlockData *d = f->blocks, *dn = nullptr; d; d = dn) {
            dn = d->next;
            if (MeasFrame_getAgeTS(d->frame) >= kFrameMaxAge) {
                meas_app_store_frame(d->owner);
                flushDir[m] = true;
            }
        }
        if (!seen[m]) {
            seen[m] = true;
            if (!f->closeable) {
                f->closeable = 1;
                syslogx(148, "MeasAppStore_checkForFlushIdx(%d): closeable file not set %s", int(m), f->name);
            }
        }
        if (f->closeType != MEAS_FCLOSE_SBREQ && deadlinePassed(f->closeDeadline, now) && f->closeable &&
            (flags & 0x7F) == 0) {
            // closing takes only this file out of the queue: `next` stays valid
            if (f->blockCount) {
                syslogx(150, "MeasAppStore_checkForFlush(): request timeout close on file %s, %u blocks", f->name,
                        f->blockCount);
                for (MeasAppStoreBlockData *d = f->blocks, *dn = nullptr; d; d = dn) {
                    dn = d->next;
                    meas_app_close_file(d->owner, SB_LAPTRIG);
                }
            } else {
                syslogx(150, "MeasAppStore_checkForFlushIdx(%d): close unused dangling file %s", int(m), f->name);
                meas_app_req_sb_and_unlink_file(f, SB_PERIOD);
            }
            seen[m] = false;
        }
    }
    queueUnlock();
    for (unsigned m = 0; m < MEAS_COUNT; ++m)
        if (flushDir[m]) meas_app_fsflush(m);
}

void MeasAppStore_armFlushIdx(unsigned mask) {
    MeasAppStoreQueueHold lock("MeasAppStore_armFlushIdx()");
    if (!lock.held()) return;
    // every record stored so far goes out while the measurement still passes
    // through: a frame handed over later would only age out of the ring
    for (auto* f = gQueueHead; f; f = f->qNext) {
        if (f->measIdx >= MEAS_COUNT || !(mask & (1u << f->measIdx))) continue;
        for (MeasAppStoreBlockData* d = f->blocks; d; d = d->next)
            if (frameHolds(d)) meas_app_store_frame(d->owner);
    }
    MeasAppStore_checkForFlushIdx(mask);
}

namespace {

// The stop ends the recording of each measurement in the mask: its events
// up to the stop go into their files, and those still open close at the
// stop's stamp in its newest file (the close stamp its last block set).
// Caller holds the queue.
void endRecordings(unsigned mask) {
    if (!hooks.eventsEndRun) return;
    for (unsigned m = 0; m < MEAS_COUNT; ++m) {
        if (!(mask & (1u << m))) continue;
        MeasAppStore_FileInfo_s* newest = nullptr;
        for (auto* f = gQueueHead; f; f = f->qNext)
            if (f->measIdx == m && f->vfIdx >= 0 && f->closeType != MEAS_FCLOSE_SBREQ) newest = f;
        if (!newest) {
            hooks.eventsEndRun(m, -1, time_getTimestamp());
            continue;
        }
        if (newest->closeTs == MEAS_TS_UNSET) setCloseTs(newest, closeStamp(newest));
        hooks.eventsEndRun(m, newest->vfIdx, newest->closeTs);
    }
}

// Closes the files of the measurements in the mask as a stop does, in queue
// order: every block leaves its file (its frame handed over), the
// recordings end (endRecordings), and a file without blocks asks for its
// closing status block once it is the oldest of its measurement. A status
// block written at once closes its file, which makes the next one the
// oldest: one pass closes every file it can, the files that waited for
// their close delay first. A file behind one whose status block is still
// being made waits for the next pass. Caller holds the queue.
void closeQueued(unsigned mask) {
    for (unsigned m = 0; m < MEAS_COUNT; ++m)
        if (mask & (1u << m)) measure::store::unmadeFiles.name(m);   // no record of theirs comes any more
    for (auto* f = gQueueHead; f; f = f->qNext) {
        if (f->measIdx >= MEAS_COUNT || !(mask & (1u << f->measIdx))) continue;
        for (MeasAppStoreBlockData *d = f->blocks, *dn = nullptr; d; d = dn) {
            dn = d->next;
            leaveFile(d->owner, SB_PERIOD, false);
        }
    }
    endRecordings(mask);
    for (UnstoredStretch& u : gUnstored)
        if (u.data && u.measIdx < MEAS_COUNT && (mask & (1u << u.measIdx))) tellUnstored(u);
    MeasAppStore_FileInfo_s* next = nullptr;
    for (auto* f = gQueueHead; f; f = next) {
        // closing takes only this file out of the queue: `next` stays valid
        next = f->qNext;
        if (f->measIdx >= MEAS_COUNT || !(mask & (1u << f->measIdx))) continue;
        if (!f->blocks && f->closeType != MEAS_FCLOSE_SBREQ && f->closeable && f->vfIdx >= 0)
            meas_app_req_sb_and_unlink_file(f, SB_PERIOD);
    }
}

}  // namespace

void MeasAppStore_closeFiles(unsigned measIdx) {
    if (measIdx >= MEAS_COUNT) return;
    MeasAppStoreQueueHold lock("MeasAppStore_closeFiles()");
    if (lock.held()) closeQueued(1u << measIdx);
}

uint32_t MeasAppStore_endOpenFiles() {
    MeasAppStoreQueueHold lock("MeasAppStore_endOpenFiles()");
    bool any = false;
    uint32_t end = 0;
    if (lock.held()) {
        for (auto* f = gQueueHead; f; f = f->qNext) {
            if (f->closeTs != MEAS_TS_UNSET || f->closeType == MEAS_FCLOSE_SBREQ) continue;
            const uint32_t own = closeStamp(f);
            if (!any || int32_t(own - end) > 0) end = own;
            any = true;
        }
        for (auto* f = gQueueHead; f && any; f = f->qNext) {
            if (f->closeTs != MEAS_TS_UNSET || f->closeType == MEAS_FCLOSE_SBREQ) continue;
            setCloseTs(f, int32_t(end - f->initTs) >= 0 ? end : f->initTs);
            f->closeDeadline = meas_dueStamp(time_getTimestamp() + kCloseDelay);
        }
    }
    return any ? end : time_getTimestamp();
}

void MeasAppStore_closeAllFilesFast() {
    if (!queueLock("MeasAppStore_closeAllFilesFast()")) return;
    closeQueued((1u << MEAS_COUNT) - 1);
    queueUnlock();
    meas_app_fsflush(MEAS_IDX_M01);
    meas_app_fsflush(MEAS_IDX_M03);
}

void meas_app_fsflush(unsigned measIdx) {
    MeasAppStoreQueueHold lock("meas_app_fsflush()");
    meas_app_PreTrigFlushDir(storeOf(measIdx));
}

void meas_store_notifyDataChanged(const char* drive) {
    if (hooks.sdDataChanged) hooks.sdDataChanged(drive);
}

uint32_t MeasAppStore_getFCloseType(const MeasBlock* block) {
    return block && block->storeData && block->storeData->file ? block->storeData->file->closeType : 0;
}

uint32_t MeasAppStore_getFilesize(const MeasBlock* block) {
    return block && block->storeData && block->storeData->file ? block->storeData->file->fileSize : 0;
}
