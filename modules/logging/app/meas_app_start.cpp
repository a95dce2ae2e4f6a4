// Starting the measurements: gateway lists per block, the owners' start
// replies, the FIFOs of started blocks and the blocks' initial speed.
#include <cstring>

#include "logging/app/meas_app_internal.h"
#include "logging/statusblock/statusblock.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "platform/io.h"
#include "platform/syslogx.h"

namespace {

uint8_t floodCbStartLock, floodBlockStartLock;

gw_conn_t connOf(const MeasBlock* b) { return static_cast<gw_conn_t>(b->owner->gwConnection); }

void fifoConditionRequest(MeasBlock* b) {
    MeasFifoCondRequest r{};
    r.fifoNum = b->condFifo;
    r.elemSize = b->config->chanSizes[0];
    r.raster = uint16_t(b->config->raster);
    r.pid = b->pid;
    r.blockNum = b->globalBlockNumber;
    r.windowMs = b->config->pretriggerWord;
    fifo_condition_request(r);
}

void fifoDataRequest(MeasBlock* b) {
    MeasFifoDataRequest r{};
    const BlkInfo& c = *b->config;
    r.fifoNum = b->dataFifo;
    r.elemCount = uint16_t(c.channelCount);
    std::memcpy(r.elemSizes, c.chanSizes, sizeof r.elemSizes);
    r.raster = uint16_t(c.raster);
    r.mult[0] = c.falseDivider;
    r.mult[1] = c.trueDivider;
    r.pid = b->pid;
    r.blockNum = b->globalBlockNumber;
    r.condFifoPlus1 = b->startCondNumber;
    r.mode = c.modeWord;
    fifo_data_request(r);
}

// The block's count among the started types.
void countStarted(MeasBlock* b) {
    uint32_t* t = b->owner->typeCounts;
    if (b->typeFlags & MEAS_BLK_SB) ++t[b->config->raster == MEAS_RASTER_SBLAP ? MEAS_CNT_SBLAP_STARTED : MEAS_CNT_LAP_STARTED];
    else if (b->typeFlags & MEAS_BLK_TELE) ++t[MEAS_CNT_TELE_STARTED];
    else if (b->typeFlags & MEAS_BLK_COND) ++t[MEAS_CNT_COND_STARTED];
    else if (b->typeFlags & MEAS_BLK_FIFOCOND) ++t[MEAS_CNT_FIFOCOND_STARTED];
    else ++t[MEAS_CNT_DATA_STARTED];
}

// Bytes of the gateway list: a condition's recorded length (12) leaves out
// the closing 0, which the description needs.
uint16_t listBytes(const BlkInfo& c) {
    if (c.listLength == 12 && c.measList[3] == 0) return 16;
    return uint16_t(c.listLength);
}

// The condition evaluation reads the state under the condition lock.
void setCondState(MeasBlock* b, uint8_t state, bool resetErrors = true) {
    SEM_ID lock = b->owner->condLock;
    bool locked = lock && semTake(lock, WAIT_FOREVER) == OK;
    b->condState = state;
    if (resetErrors) b->condErrorCount = 0;
    if (locked) semGive(lock);
}

// What a started block needs before its first record. Takes the condition
// or data lock and, inside it, the list lock: the order of a destroy and a
// block's stop.
void provideStarted(MeasBlock* b) {
    meas_t& m = *b->owner;
    if (b->typeFlags & MEAS_BLK_TELE) {
        // the telemetry task reads the buffer from another task: publish it
        // filled with zeros before the pointer
        std::atomic_ref<void*>(b->teleBuffer).store(buffer_request(b->config->recordSize), std::memory_order_release);
        std::atomic_ref<uint8_t>(b->teleState).store(0);
    } else if (b->typeFlags & MEAS_BLK_COND) {
        setCondState(b, 0);
    } else if (semTake(m.dataLock, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(floodCbStartLock, 147, "meas_app_gw_cbStart() semTake failed errno %X, idx %u Blk #%u", 0u,
                      unsigned(b->measIdx), unsigned(b->config->blockNumber));
    } else {
        {
            // the lists and the FIFO numbers are shared by all measurements
            std::lock_guard<std::mutex> lk(meas_app_listLock());
            if ((m.runFlags & 2u) && !(b->typeFlags & MEAS_BLK_FIFOCOND)) {
                // The stop came before this reply: it took the lists as they
                // were, and nothing would stop a block joining them now. The
                // block's list ends with the stop.
            } else if (b->typeFlags & MEAS_BLK_FIFOCOND) {
                b->condSlot = b->condFifo;
                fifoConditionRequest(b);
                meas_list_push(&meas_app_blkcondlist[b->measIdx], b);
            } else {
                b->dataFifo = gApp.measfifoid++;
                fifoDataRequest(b);
                if (b->typeFlags & MEAS_BLK_SB) {
                    b->sbBuffer = sb_per_buffer_request(b->config->recordSize);
                    b->sbFlags = 0;
                }
                meas_list_push(&meas_app_measlist[b->config->raster], b);
            }
        }
        semGive(m.dataLock);
    }
}

void updateRepliedStatus() {
    bool pending = false;
    for (const meas_t& m : meas)
        if (m.startCount && m.startCount != m.replyCount) pending = true;
    if (pending) meas_led_clr_status(MEAS_STATUS_ALL_REPLIED);
    else meas_led_set_status(MEAS_STATUS_ALL_REPLIED);
}

}  // namespace

int meas_app_set_blockspeed(MeasBlock* b, unsigned speed) {
    if (speed == 0) lstSet(b, MEAS_LST_SLOW);
    else lstClr(b, MEAS_LST_SLOW);
    return gw_list_speed(connOf(b), b->gwList, speed);
}

// Caller holds the list lock.
static void initBlockspeedLocked() {
    for (int r = MEAS_RASTER_CODES - 1; r >= 0; --r) {
        unsigned n = 0;
        for (MeasBlock* b = meas_app_measlist[r]; b; b = b->next) {
            if (++n > 255) {
                syslogx(147, "meas_app_init_blockspeed(): detected endless loop!!, raster %d", r);
                break;
            }
            if (lst(b) & MEAS_LST_SPEEDINIT) continue;
            const meas_t& m = *b->owner;
            bool full = !m.config->globalStartMask || m.config->pretriggerTime > 0 || (m.stateFlags & 4);
            if (!meas_app_set_blockspeed(b, full ? 1 : 0))
                syslogx(156, "m0%d, BLK#%d failed to init block speed.", b->measIdx + 1, b->config->blockNumber);
            lstSet(b, MEAS_LST_SPEEDINIT);
        }
    }
}

void meas_app_init_blockspeed() {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    initBlockspeedLocked();
}

void meas_app_blockstart(MeasBlock* b) {
    const BlkInfo& c = *b->config;
    if (b->pid == 0 || c.listLength == 0 || c.listLength == 4 || c.raster == MEAS_RASTER_OFF) return;
    meas_t& m = *b->owner;
    lstStore(b, uint16_t(lst(b) & 0xFF80));
    uint16_t mode, buffered, slots;
    if (b->typeFlags & (MEAS_BLK_COND | MEAS_BLK_TELE)) {
        mode = 0;
        buffered = 1;
        slots = 4;
        if (b->typeFlags & MEAS_BLK_COND) {
            b->condState = 0x80;
            b->condErrorCount = 0;
            if (!b->condBuffer) b->condBuffer = buffer_request(c.recordSize);
            if (semTake(m.condLock, WAIT_FOREVER) != OK) {
                SYSLOGX_FLOOD(floodBlockStartLock, 147, "meas_app_blockstart() semTake failed errno %X, idx %u Blk #%u",
                              0u, unsigned(b->measIdx), unsigned(c.blockNumber));
            } else {
                meas_list_push(&meas_app_condlist[b->measIdx], b);
                semGive(m.condLock);
            }
        }
    } else {
        mode = 3;
        slots = uint16_t(meas_app_getslotnum(c.raster));
        buffered = (b->typeFlags & MEAS_BLK_FIFOCOND) ? 1 : 0;
        if ((b->typeFlags & MEAS_BLK_SB) && c.raster == MEAS_RASTER_SBLAP) {
            buffered = 1;
            mode |= 4;
            lstSet(b, MEAS_LST_SPEEDINIT);
        }
    }
    if (!buffered) lstSet(b, MEAS_LST_SLOW);
    b->gwList = gw_setup_list(connOf(b), reinterpret_cast<const uint32_t*>(c.measList), b, listBytes(c),
                              uint16_t(c.raster), b->pid, 1, mode, buffered, slots, uint16_t(c.recordSize),
                              uint16_t(meas_app_getdatatimeout(c.raster)));
    if (b->gwList) {
        lstSet(b, MEAS_LST_SETUP);
        // a slow list delivers nothing until its speed is known (start condition)
        if (!buffered) gw_list_speed(connOf(b), b->gwList, 0);
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        ++m.startCount;
    }
}

void meas_app_measstart(int onlyIdx) {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    syslogx(150, "Measstart with Outing %d (0x%X), Lap %d (0x%X), AbsLap %d (0x%X), Frag %d (0x%X)", s.outing, s.outing,
            s.lap, s.lap, s.absLap, s.absLap, s.fragment, s.fragment);
    fifo_condition_init();
    bool starting[MEAS_COUNT] = {};
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (onlyIdx >= 0 && idx != unsigned(onlyIdx)) continue;
        if (!(m.stateFlags & 1)) continue;
        if (idx == MEAS_IDX_M02 && gApp.teleInitialized) continue;
        if (m.runFlags & 1u) {
            // its blocks are in the lists already: starting them again would
            // link them into themselves
            syslogx(150, "meas_app_measstart(): m0%d already started, start ignored", int(idx + 1));
            continue;
        }
        starting[idx] = true;
        {
            std::lock_guard<std::mutex> lk(meas_app_listLock());
            m.runFlags &= ~2u;
            m.startCount = m.replyCount = m.replyErrorCount = 0;
            std::memset(m.typeCounts, 0, sizeof m.typeCounts);
            m.savedRecords = 0;
            std::atomic_ref<uint8_t>(m.fileWritten).store(0);
            std::atomic_ref<uint8_t>(m.fileMade).store(0);
        }
        if (semTake(m.condLock, WAIT_FOREVER) == OK) {
            // the conditions are evaluated afresh: none holds yet
            m.activeConditions = 0;
            m.stateFlags = uint16_t((m.stateFlags & ~6u) | (m.config->globalStartMask ? 2u : 0u));
            semGive(m.condLock);
        }
        if (!m.config->globalStartMask) {
            if (idx == MEAS_IDX_M01) flag(sp().meas_globcond_m01).store(1);
            if (idx == MEAS_IDX_M03) flag(sp().meas_globcond_m03).store(1);
        } else if (m.config->pretriggerTime > 0) {
            // A stop leaves the pretrigger as it was, passing through after
            // its last trigger: every start buffers again until the
            // condition rises, as the first one does.
            meas_app_PreTrigArm(m.store);
        }
        meas_app_recordingStarts(m);   // before any block of it delivers
        const unsigned total = blockCountOf(m);
        for (unsigned i = 0; i < total; ++i) {
            MeasBlock* b = &m.blocks[i];
            if (b->pid == 0) continue;   // ignored at creation
            if (MEAS_APP_DEBUG() == 1) meas_app_logBlock(159, "<meas_app_measstart> blockstart", b);
            meas_app_add2pidlist(b, b->pid);
            meas_app_blockstart(b);
        }
        if (idx == MEAS_IDX_M02 && gApp.tele.start) gApp.tele.start(&m);
        m.runFlags |= 1u;
        m.firstDataTimeStamp = 0;
    }
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (!m.gwConnection || !starting[idx]) continue;
        gw_start_all(static_cast<gw_conn_t>(m.gwConnection));
        meas_led_set_status(MEAS_STATUS_LISTS_STARTED);
    }
    // the telemetry runs on through stops, until a destroy; only a started
    // one is left out of the next start
    if (meas[MEAS_IDX_M02].runFlags & 1u) gApp.teleInitialized = 1;
}

int meas_app_gw_cbStart(unsigned long error, void*, void* user) {
    auto* b = static_cast<MeasBlock*>(user);
    if (!b) {
        syslogx(147, "meas_app_gw_cbStart: zero pointer for container!");
        return 0;
    }
    meas_t& m = *b->owner;
    // The reply's bookkeeping is done under the list lock, its block's
    // condition and data under their own locks after it: a destroy and a
    // block's stop take those first and the list lock inside them.
    bool provide = false, condError = false;
    std::unique_lock<std::mutex> lk(meas_app_listLock());
    const uint16_t f = lst(b);
    if (error == 0) {
        if ((f & (MEAS_LST_OFFLINE | MEAS_LST_STARTERR)) && m.replyErrorCount) --m.replyErrorCount;
        lstClr(b, MEAS_LST_OFFLINE | MEAS_LST_STARTERR);
        if (!(f & MEAS_LST_REPLY)) ++m.replyCount;
        lstSet(b, MEAS_LST_REPLY);
        if (f & MEAS_LST_STARTED) {
            if (MEAS_APP_DEBUG() == 1)
                syslogx(159, "meas_app_gw_cbStart ok repeated for m0%d, BLK #%d, PID 0x%X", b->measIdx + 1,
                        b->config->blockNumber, b->pid);
        } else {
            lstSet(b, MEAS_LST_STARTED);
            if (MEAS_APP_DEBUG() == 1)
                syslogx(159, "meas_app_gw_cbStart ok for m0%d, BLK #%d, PID 0x%X", b->measIdx + 1,
                        b->config->blockNumber, b->pid);
            countStarted(b);
            provide = true;
        }
    } else {
        char eb[24];
        if (!gw_pid_offline(b->pid))
            syslogx(155, "meas_app_gw_cbStart error %s for m0%d, BLK #%d, PID 0x%X",
                    conv_gwerrors2ascii(unsigned(error), eb), b->measIdx + 1, b->config->blockNumber, b->pid);
        if (f & MEAS_LST_REPLY) {
            lstClr(b, MEAS_LST_REPLY);
            if (m.replyCount) --m.replyCount;
        }
        if (!(f & (MEAS_LST_OFFLINE | MEAS_LST_STARTERR))) ++m.replyErrorCount;
        condError = (b->typeFlags & MEAS_BLK_COND) != 0;
        if (b->typeFlags & MEAS_BLK_TELE) std::atomic_ref<uint8_t>(b->teleState).store(0xFF);
        if (error == GW_TIMEOUT || error == GW_OFFLINE || error == GW_OFFLINE2) {
            lstClr(b, MEAS_LST_STARTERR | MEAS_LST_REPLY);
            lstSet(b, MEAS_LST_OFFLINE);
        } else {
            lstClr(b, MEAS_LST_OFFLINE | MEAS_LST_REPLY);
            lstSet(b, MEAS_LST_STARTERR);
        }
    }
    lk.unlock();
    if (provide) provideStarted(b);
    if (condError) setCondState(b, 0xFF, false);
    lk.lock();
    // the last reply: every started block is in its list now
    if (m.startCount && m.startCount == m.replyCount + m.replyErrorCount) initBlockspeedLocked();
    updateRepliedStatus();
    return 1;
}
