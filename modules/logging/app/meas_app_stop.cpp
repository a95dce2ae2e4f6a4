// Stopping blocks and measurements: data blocks are slowed first and stopped
// by the saving loop once their FIFO is drained; the fast stop at shutdown
// closes every file it can at once, the others in queue order while the
// shutdown waits for the writers.
#include "logging/app/meas_app_internal.h"
#include "logging/statusblock/statusblock.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/events/event_logger.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "platform/io.h"
#include "platform/raster.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

uint8_t floodStopLock;

bool isSpecialList(unsigned r) { return r >= MEAS_RASTER_LAP && r <= 13; }

// Which raster lists still hold blocks: bit 0 ordinary lists, bit 1 the lap
// and status-block lists. Caller holds the list lock.
unsigned listsInUse() {
    unsigned u = 0;
    for (unsigned r = 0; r < MEAS_RASTER_CODES; ++r)
        if (meas_app_measlist[r]) u |= isSpecialList(r) ? 2u : 1u;
    return u;
}

// Only lap and status-block blocks are left: those of measurements that never
// wrote a file have no closing status block to wait for.
void releaseSbStopFlags(bool skipTele) {
    for (unsigned r = MEAS_RASTER_LAP; r <= 13; ++r)
        for (MeasBlock* b = meas_app_measlist[r]; b; b = b->next) {
            if (skipTele && b->measIdx == MEAS_IDX_M02) continue;
            if (std::atomic_ref<uint8_t>(b->owner->fileWritten).load() == 0) b->sbFlags &= uint8_t(~2u);
        }
}

// Whether a file was made (or written) since the start: the counters are
// then moved past its name, so that the next start never makes a file of
// the same name. A writer may make it only after the stop. The step looks at
// no drive (the stop runs on the logging raster): the next start moves past
// the names in use before it makes files.
bool takeFileMade() {
    bool any = false;
    for (meas_t& m : meas) {
        if (std::atomic_ref<uint8_t>(m.fileWritten).exchange(0)) any = true;
        if (std::atomic_ref<uint8_t>(m.fileMade).exchange(0)) any = true;
    }
    return any;
}

// Whether a data block of the measurement is still in an ordinary raster
// list, with records of the measurement's file still to drain.
bool dataBlocksLeft(const meas_t& m) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    for (unsigned r = 0; r < MEAS_RASTER_CODES; ++r) {
        if (isSpecialList(r)) continue;
        for (const MeasBlock* b = meas_app_measlist[r]; b; b = b->next)
            if (b->owner == &m && !(b->typeFlags & MEAS_BLK_SB)) return true;
    }
    return false;
}

// Blocks of the raster lists, newest list code first.
unsigned snapshotRasterLists(MeasBlock** out, unsigned cap) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    unsigned n = 0;
    for (int r = MEAS_RASTER_CODES - 1; r >= 0; --r)
        for (MeasBlock* b = meas_app_measlist[r]; b && n < cap; b = b->next) out[n++] = b;
    return n;
}

// Stops the measurement's set-up or started blocks of a type, counting them.
void stopBlocksOfType(meas_t& m, uint16_t type, MeasTypeCount counter) {
    if (!(m.stateFlags & 1)) return;
    for (unsigned i = 0; i < blockCountOf(m); ++i) {
        MeasBlock* b = &m.blocks[i];
        if ((b->typeFlags & type) && (lst(b) & (MEAS_LST_SETUP | MEAS_LST_STARTED))) {
            meas_app_blockstop(b);
            ++m.typeCounts[counter];
        }
    }
}

}  // namespace

void meas_app_stopFinished(bool skipTele) {
    // every stop (a stop asked for, a restart, a destroy) says where the
    // recording ended, once its blocks have drained into the files
    meas_app_noteRecordingStops();
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        if (skipTele && idx == MEAS_IDX_M02) continue;
        meas_t& m = meas[idx];
        if (m.gwConnection) gw_kill_all_lists(static_cast<gw_conn_t>(m.gwConnection));
        if (idx != MEAS_IDX_M02) m.runFlags &= ~3u;
    }
    meas_app_PreTrigMeasStop(skipTele ? 1 : 0);
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    gApp.measfifoid = 0;
    flag(sp().meas_app_blkstopreq).store(0);
    meas_led_clr_status(MEAS_STATUS_LISTS_STARTED);
}

void meas_app_blockstop(MeasBlock* b) {
    meas_t& m = *b->owner;
    if (lst(b) & MEAS_LST_SETUP) {
        gw_kill_list(b->gwList);   // waits for a delivery in progress
        b->gwList = 0;
    }
    lstClr(b, MEAS_LST_SETUP);
    if (!(lst(b) & MEAS_LST_STARTED) && !(b->typeFlags & MEAS_BLK_COND)) {
        char rn[16];
        syslogx(155, "<meas_app_blockstop> blockstop RETURNED!: m0%d PID: 0x%X, Type: %s, BLK #%d, Ch #%d, Raster: %s, blk_setup %d",
                b->measIdx + 1, b->pid, meas_app_typeName(b), b->config->blockNumber, int(b->config->channelCount),
                convraster2ascii(b->config->raster, rn), 0);
        return;
    }
    lstStore(b, uint16_t(lst(b) & 0xFF84));
    bool inRasterList = false;
    if (b->typeFlags & MEAS_BLK_COND) {
        if (semTake(m.condLock, WAIT_FOREVER) == OK) {
            meas_list_unlink(&meas_app_condlist[b->measIdx], b);
            b->condState = 0x80;
            b->condErrorCount = 0;
            buffer_release(b->condBuffer);
            b->condBuffer = nullptr;
            semGive(m.condLock);
        }
    } else if (b->typeFlags & MEAS_BLK_TELE) {
        std::atomic_ref<uint8_t>(b->teleState).store(0);
        buffer_release(std::atomic_ref<void*>(b->teleBuffer).exchange(nullptr, std::memory_order_acq_rel));
    } else if (semTake(m.dataLock, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(floodStopLock, 147, "meas_app_blockstop() semTake failed errno %X, idx %u Blk #%u", 0u,
                      unsigned(b->measIdx), unsigned(b->config->blockNumber));
    } else {
        if (b->typeFlags & MEAS_BLK_FIFOCOND) {
            meas_list_unlink(&meas_app_blkcondlist[b->measIdx], b);
            fifo_condition_release(b->condSlot);
            b->condSlot = 0xFF;
        } else {
            {
                std::lock_guard<std::mutex> lk(meas_app_listLock());
                meas_list_unlink(&meas_app_measlist[b->config->raster], b);
            }
            inRasterList = true;
            if (b->dataFifo != 0xFFFF) fifo_data_release(b->dataFifo);
            b->dataFifo = 0xFFFF;
            if (b->typeFlags & MEAS_BLK_SB) {
                sb_per_buffer_release(b->sbBuffer);
                b->sbBuffer = nullptr;
                uint32_t& cnt = m.typeCounts[b->config->raster == MEAS_RASTER_SBLAP ? MEAS_CNT_SBLAP_STARTED
                                                                                  : MEAS_CNT_LAP_STARTED];
                if (cnt) --cnt;
            }
        }
        semGive(m.dataLock);
    }
    if (MEAS_APP_DEBUG() == 1) meas_app_logBlock(159, "<meas_app_blockstop> blockstop", b);
    if (!inRasterList) return;   // only data and status-block blocks write files
    // A stop closes the measurement's files once its last data block has
    // stopped: a slower block may still hold records sampled before the stop
    // and due only later. They go into the file of their time, which is then
    // still open; closed, a record of it would make another file under the
    // same counters.
    // The last one leaves its file too: the stop's close of the files ends
    // the recording (the events it leaves open close in its newest file)
    // before any of them asks for its closing status block.
    const bool stopping = m.runFlags & 2u;
    if (stopping && !(b->typeFlags & MEAS_BLK_SB)) {
        meas_app_leave_file(b);
        if (!dataBlocksLeft(m)) MeasAppStore_closeFiles(b->measIdx);
    } else {
        meas_app_close_file(b, SB_PERIOD);
    }
    unsigned inUse;
    {
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        inUse = listsInUse();
        if (inUse == 2) releaseSbStopFlags(false);
    }
    if (inUse == 0) {
        if (takeFileMade()) LapOutFra_stepFragment(0);
        meas_app_stopFinished(true);
    }
}

namespace {
// The sampling runs due by the stop's stamp and not done when the records
// stop being taken give no records: those under way may finish (a tick or
// two), the others are named with their stamps, when a measurement runs.
void nameRunsNotDone(uint32_t stopTs, const char* when = "when the measurement stopped") {
    constexpr unsigned kRunsUnderWayMs = 100;
    for (const meas_t& m : meas)
        if (m.runFlags & 1u) {
            raster_nameRunsNotDone(when, kRunsUnderWayMs, stopTs);
            return;
        }
}
}  // namespace

void meas_app_nameRunsLeftBySources() {
    // (the fast stop, should it run later, finds these runs done)
    if (meas_app_fastStopPending())
        nameRunsNotDone(time_getTimestamp(), "when their lists ended before the stop took them");
}

void meas_app_measstop(bool keepTele) {
    // the lists are paused after the wait: the records of the runs given
    // meanwhile still come
    nameRunsNotDone(time_getTimestamp());
    meas_app_free_pidlist(keepTele);
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        if (keepTele && idx == MEAS_IDX_M02) continue;
        meas_t& m = meas[idx];
        {
            std::lock_guard<std::mutex> lk(meas_app_listLock());
            m.startCount = m.replyCount = m.replyErrorCount = 0;
        }
        stopBlocksOfType(m, MEAS_BLK_COND, MEAS_CNT_COND_STOPPED);
    }

    {
        // A start reply still on its way puts no block into the lists once
        // this is set (meas_app_gw_cbStart): the lists taken below are all
        // the blocks this stop has to drain.
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        for (unsigned idx = 0; idx < MEAS_COUNT; ++idx)
            if (!(keepTele && idx == MEAS_IDX_M02) && (meas[idx].runFlags & 1u)) meas[idx].runFlags |= 2u;
    }
    static MeasBlock* blocks[MEAS_RASTER_CODES * 256];
    const unsigned n = snapshotRasterLists(blocks, sizeof blocks / sizeof blocks[0]);
    for (unsigned i = 0; i < n; ++i) {
        MeasBlock* b = blocks[i];
        if (keepTele && (b->typeFlags & MEAS_BLK_TELE)) continue;
        meas_t& m = *b->owner;
        const bool sb = b->typeFlags & MEAS_BLK_SB;
        if (lst(b) & (MEAS_LST_OFFLINE | MEAS_LST_STARTERR)) {
            if (sb) b->sbFlags |= 2;
            else meas_app_blockstop(b);
        } else {
            if (!meas_app_set_blockspeed(b, 0))
                syslogx(156, "m0%d, BLK#%d failed to stop data blk, before killing. PID %X, Raster %d", b->measIdx + 1,
                        b->config->blockNumber, b->pid, int(b->config->raster));
            if (sb) b->sbFlags |= 2;
        }
        m.runFlags |= 2u;
    }

    for (meas_t& m : meas) stopBlocksOfType(m, MEAS_BLK_FIFOCOND, MEAS_CNT_FIFOCOND_STOPPED);
    flag(sp().meas_globcond_m01).store(0);
    flag(sp().meas_globcond_m03).store(0);

    meas_t& m2 = meas[MEAS_IDX_M02];
    if (!keepTele && (m2.stateFlags & 1)) {
        if (gApp.tele.stop) gApp.tele.stop();
        stopBlocksOfType(m2, MEAS_BLK_TELE, MEAS_CNT_TELE_STOPPED);
        m2.runFlags &= ~1u;
    }

    unsigned inUse;
    {
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        inUse = listsInUse();
        if (inUse & 1) {
            flag(sp().meas_app_blkstopreq).store(1);
        } else if (inUse == 2) {
            releaseSbStopFlags(keepTele);
            flag(sp().meas_app_blkstopreq).store(1);
            syslogx(3, "meas_app_measstop RETURN all_special_blk_stopped, blkstopreq!!");
        }
    }
    if (inUse == 0) meas_app_stopFinished(keepTele);
}

void meas_app_fastmeasstop() {
    // what the FIFOs still hold goes into the files before they are closed,
    // up to now: a late run of this raster finds records made since it read
    // the clock. The stop's stamp is read before the runs under way are
    // waited for: a slow host gives more runs during that wait, and those
    // due by then are waited for and named like the others, while those due
    // after it are not the recording's (their records stay in the FIFOs).
    // The event loggers write nothing until the files' end is set: an event
    // stamped after their newest record would land after it.
    eventLoggersHoldForStop();
    const uint32_t now = time_getTimestamp();
    nameRunsNotDone(now);
    fifo_data_set_curr_ts(now);
    fifo_cond_set_curr_ts(now);
    for (unsigned r = 0; r < MEAS_RASTER_CODES; ++r) meas_app_drainRaster(r);
    meas_app_noteRecordingStops();
    // the files end at the newest record; an event still open ends there
    // too, in them, before they take their events and close
    const uint32_t stopTs = MeasAppStore_endOpenFiles();
    if (void (*closeEvents)(uint32_t) = gApp.stopEvents.load()) closeEvents(stopTs);
    MeasAppStore_closeAllFilesFast();
    // the rings go on to the back ends with the closing status blocks; the
    // files that wait for an older one's status block close as the shutdown
    // waits for the writers (meas_app_flushPending)
    meas_app_PreTrigDrainStep();
    if (takeFileMade()) LapOutFra_stepFragment(0);
    gApp.powerdown.store(1);
    flag(sp().meas_app_faststopreq).store(0);
}
