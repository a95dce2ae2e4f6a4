// Loading the configurations, creating the run-time blocks of a measurement
// and destroying them again.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "logging/app/meas_app_internal.h"
#include "logging/events/event_logger.h"
#include "logging/statusblock/statusblock.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/config/meas_app_load.h"
#include "logging/store/meas_app_store.h"
#include "measurement/gateway.h"
#include "platform/syslogx.h"

namespace {

const callback_list meas_app_callbacks = {{
    {meas_app_gw_cbData, 0},
    {nullptr, 0},
    {meas_app_gw_cbStart, 100},
    {nullptr, 0},
    {meas_app_gw_cbTout, 0},
    {nullptr, 0},
}};

constexpr uint8_t kCondOffsetM03 = 62;

// Condition number offset of a measurement: m03's conditions use the upper
// half of the condition FIFOs.
uint8_t condOffset(unsigned idx) { return idx == MEAS_IDX_M03 ? kCondOffsetM03 : 0; }

void enterTeleSlot(MeasBlock* b) {
    const BlkInfo& c = *b->config;
    unsigned id = c.teleBlockId == 0xFFFF ? c.blockNumber / 100u : c.teleBlockId;
    b->teleSlot = uint16_t(id + 1);
    if (id >= TELE_SLOTS) {
        syslogx(147, "meas_app_blockinit(): telemetry block id %u out of range, BLK #%d", id, c.blockNumber);
        return;
    }
    // the blocks of one id follow each other
    if (!tele[id].first) tele[id] = {b, 1};
    else if (tele[id].first + tele[id].count == b) ++tele[id].count;
}

// A block about to be freed leaves every list and gives back its FIFOs (a
// status-block controller may still wait for its closing block).
void forgetBlock(MeasBlock* b) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    const unsigned idx = b->measIdx;
    if (b->config && b->config->raster < MEAS_RASTER_CODES) meas_list_unlink(&meas_app_measlist[b->config->raster], b);
    meas_list_unlink(&meas_app_condlist[idx], b);
    meas_list_unlink(&meas_app_blkcondlist[idx], b);
    if (b->dataFifo != 0xFFFF) fifo_data_release(b->dataFifo);
    if ((b->typeFlags & MEAS_BLK_FIFOCOND) && b->condSlot != 0xFF) fifo_condition_release(b->condSlot);
    b->dataFifo = 0xFFFF;
    b->condSlot = 0xFF;
    for (ext_pidnode* n = ext_pidlist; n; n = n->next)
        if (n->block == b) n->block = nullptr;
}

}  // namespace

int meas_app_blockinit(MeasBlock* b) {
    meas_t& m = *b->owner;
    const BlkInfo& c = *b->config;
    if (c.pid == 0 || c.pid >= 64) {
        syslogx(147, "meas_app_blockinit(): found illegal pid: %d, block ignored", c.pid);
        b->pid = 0;
        return 0;
    }
    b->pid = c.pid;
    if (m.config->protocol) b->typeFlags |= MEAS_BLK_TELE;
    if (!(b->typeFlags & (MEAS_BLK_TELE | MEAS_BLK_COND | MEAS_BLK_FIFOCOND))) b->typeFlags |= MEAS_BLK_DATA;
    if (c.pid < 20) {
        ++m.engineBlockCount;
        if (b->typeFlags & (MEAS_BLK_COND | MEAS_BLK_FIFOCOND)) ++m.engineBlocksWithCond;
    }
    if (b->typeFlags & MEAS_BLK_TELE) enterTeleSlot(b);
    b->startCondNumber = c.startMask ? uint8_t(std::countr_zero(c.startMask) + 1) : 0;
    b->prev = b->next = nullptr;
    lstStore(b, uint16_t(lst(b) & 0xFF80));
    b->framesPerRecord = meas_app_samplesPerRecord(c.raster);
    MeasAppStore_initData(b, 64, 4096);
    return 0xFFFF;
}

void meas_clearKeepingLocks(meas_t& m) {
    meas_t fresh{};
    fresh.dataLock = SEM_ID(m.dataLock);
    fresh.condLock = SEM_ID(m.condLock);
    m = fresh;
}

int meas_app_meascreate(unsigned idx, MEASConfiguration* cfg, uint32_t size) {
    if (idx >= MEAS_COUNT || !cfg) return 0;
    meas_t& m = meas[idx];
    if (m.stateFlags & 1) {   // configured already: the new one is not used
        meas_app_free_MEASConfiguration(cfg);
        return 0;
    }
    const unsigned total = unsigned(cfg->numBlocks) + cfg->numConditions;
    auto* blocks = static_cast<MeasBlock*>(std::calloc(total ? total : 1, sizeof(MeasBlock)));
    if (!blocks) {
        syslogx(147, "buffer_request malloc failed");
        meas_app_free_MEASConfiguration(cfg);
        return 0;
    }
    m.config = cfg;
    m.configSize = size;
    m.channelTotal = 0;
    m.fastestRaster = MEAS_RASTER_1S;
    m.blocks = blocks;
    m.firstCondBlock = cfg->numConditions ? blocks + cfg->numBlocks : nullptr;
    const uint8_t offset = condOffset(idx);

    if (cfg->protocol) std::memset(tele, 0, sizeof tele);
    m.blockCount = m.engineBlockCount = m.engineBlocksWithCond = 0;
    m.runFlags &= ~1u;
    m.qovBlob = meas_app_get_QOVConfiguration(idx, &m.qovSize);

    if (!m.condLock) m.condLock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (m.condLock && !m.dataLock) m.dataLock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!m.condLock || !m.dataLock) {
        syslogx(147, m.condLock ? "meas_app_meascreate():could not create lockDataSem (%s)"
                                : "meas_app_meascreate():could not create lockCondSem (%s)",
                "out of resources");
        std::free(m.qovBlob);
        std::free(blocks);
        meas_app_free_MEASConfiguration(cfg);
        meas_clearKeepingLocks(m);
        return 0;
    }

    unsigned dataBlocks = 0;
    for (unsigned i = 0; i < cfg->numBlocks; ++i) {
        MeasBlock* b = &blocks[i];
        b->owner = &m;
        b->measIdx = uint8_t(idx);
        b->config = &cfg->blocks[i];
        b->dataFifo = 0xFFFF;
        b->condSlot = 0xFF;
        b->globalBlockNumber = gApp.globalblockid++;
        const uint32_t raster = b->config->raster;
        if (raster == MEAS_RASTER_SBLAP || raster == MEAS_RASTER_LAP) b->typeFlags |= MEAS_BLK_SB;
        if (meas_app_blockinit(b) == 0) continue;   // ignored
        if (raster == MEAS_RASTER_SBLAP) {
            std::atomic_ref<uint64_t>(gApp.sbControllers[idx]).fetch_or(uint64_t(1) << (b->pid - 1));
            b->sbBuffer = nullptr;
            b->sbFlags = 0;
        } else if (raster == MEAS_RASTER_LAP) {
            b->sbBuffer = nullptr;
            b->sbFlags = 0;
        } else {
            ++dataBlocks;
            if (idx != MEAS_IDX_M02) {
                m.channelTotal += b->config->channelCount;
                uint32_t r = raster == MEAS_RASTER_SYNC ? 0 : raster;
                if (r < m.fastestRaster) m.fastestRaster = r;
            }
        }
        if (b->startCondNumber) b->startCondNumber = uint8_t(b->startCondNumber + offset);
        ++m.blockCount;
    }
    if (dataBlocks == 0) {
        syslogx(150, "meas_app_meascreate(): measurement contains only metadata(statusblock, lap), config ignored (M0%d)",
                int(idx + 1));
        for (unsigned i = 0; i < total; ++i) MeasAppStore_deinitData(&blocks[i]);
        std::free(m.qovBlob);
        std::free(blocks);
        meas_app_free_MEASConfiguration(cfg);
        meas_clearKeepingLocks(m);
        return 0;
    }

    for (unsigned c = 0; c < cfg->numConditions; ++c) {
        MeasBlock* b = &blocks[cfg->numBlocks + c];
        BlkInfo* bc = &cfg->conditions[c];
        b->owner = &m;
        b->measIdx = uint8_t(idx);
        b->config = bc;
        b->dataFifo = 0xFFFF;
        const uint64_t bit = uint64_t(1) << c;
        if (!(cfg->globalStartMask & bit)) {
            b->typeFlags = MEAS_BLK_FIFOCOND;
            bc->raster = MEAS_RASTER_5MS;
            b->condFifo = uint8_t(c + offset);
            b->condSlot = 0xFF;
        } else {
            b->typeFlags = MEAS_BLK_COND;
            bc->raster = MEAS_RASTER_10MS;
            b->condSlot = 0xFF;
        }
        b->ownCondBit = bit;
        b->globalBlockNumber = gApp.globalblockid++;
        meas_app_blockinit(b);
        b->startCondNumber = 0;   // a condition gates others, not itself
    }

    m.globalCondBit = 0;
    for (int bit = 62; bit >= 0; --bit) {
        if (cfg->globalStartMask & (uint64_t(1) << bit)) {
            m.globalCondBit = uint64_t(1) << bit;
            break;
        }
    }
    if (!m.globalCondBit) cfg->pretriggerTime = 0;

    if (idx != MEAS_IDX_M02) m.store = meas_app_PreTrigInit(idx, cfg->pretriggerTime);
    if (m.store) m.eventLogger = eventLoggerInit(idx, m.store);
    m.gwConnection = gw_connect(&meas_app_callbacks);
    // configured only now, with its locks and blocks in place: the raster
    // tasks look at a measurement once this bit is set, and the shell reads
    // it under the condition lock once it sees the bit there
    semTake(m.condLock, WAIT_FOREVER);
    m.stateFlags = uint16_t((m.stateFlags & ~4u) | 1u);
    semGive(m.condLock);
    return 1;
}

void meas_app_measinit() {
    gApp.measfifoid = 0;
    gApp.globalblockid = 0;
    for (unsigned i = 0; i < MEAS_COUNT; ++i) std::atomic_ref<uint64_t>(gApp.sbControllers[i]).store(0);
    for (unsigned idx : {MEAS_IDX_M02, MEAS_IDX_M01, MEAS_IDX_M03}) {
        uint32_t size = 0;
        MEASConfiguration* cfg = meas_app_get_MEASConfiguration(idx, &size);
        // one whose drive is not ready waits for it, the others go on;
        // the creation frees what it refuses
        if (!meas_app_driveWaitBegin(idx, cfg, size) && cfg) meas_app_meascreate(idx, cfg, size);
    }
}

int meas_app_measdestroy() {
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (!(m.stateFlags & 1)) continue;
        // the files are closed and written while the blocks still exist,
        // and before the locks are taken: the condition raster waits for
        // condLock, and a slow drive may take the drain's whole 3 s
        meas_app_PreTrigDrain(m.store);
        // the gateway waits for deliveries in progress, which may need the locks
        gw_disconnect(static_cast<gw_conn_t>(m.gwConnection));
        semTake(m.condLock, WAIT_FOREVER);
        semTake(m.dataLock, WAIT_FOREVER);
        m.gwConnection = nullptr;
        const unsigned total = blockCountOf(m);
        if (m.config && m.config->protocol) std::memset(tele, 0, sizeof tele);
        for (unsigned i = 0; i < total; ++i) forgetBlock(&m.blocks[i]);
        for (unsigned i = 0; i < total; ++i) {
            MeasAppStore_deinitData(&m.blocks[i]);
            buffer_release(m.blocks[i].condBuffer);
            buffer_release(m.blocks[i].teleBuffer);
            sb_per_buffer_release(m.blocks[i].sbBuffer);
        }
        std::free(m.blocks);
        m.blocks = m.firstCondBlock = nullptr;
        meas_app_free_MEASConfiguration(m.config);
        m.config = nullptr;
        std::free(m.qovBlob);
        m.qovBlob = nullptr;
        m.qovSize = 0;
        m.savedRecords = 0;
        m.stateFlags &= uint16_t(~1u);
        // the logger writes into the store: it goes first
        eventLoggerDelete(m.eventLogger);
        m.eventLogger = nullptr;
        // out of reach of the status-block task before it goes
        meas_app_PreTrigDelete(MeasAppStore_takeStore(idx));
        std::atomic_ref<uint64_t>(gApp.sbControllers[idx]).store(0);
        {
            // the reply counters go too, which the shell reads under this lock
            std::lock_guard<std::mutex> lk(meas_app_listLock());
            meas_clearKeepingLocks(m);
        }
        semGive(m.dataLock);
        semGive(m.condLock);
    }
    flag(sp().meas_app_destroyreq).store(0);
    gApp.teleInitialized = 0;
    return 1;
}
