// The saving loop of the logging raster: drains the data FIFOs of a raster
// into the file store and finishes the stop of drained blocks.
#include "logging/app/meas_app_internal.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/counters/lapoutfra.h"
#include "logging/statusblock/statusblock.h"
#include "logging/store/file_info.h"
#include "logging/store/meas_app_store.h"
#include "measurement/calparams.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

constexpr unsigned kFetchBuffer = 4100;
static_assert(kFetchBuffer >= MEAS_RECORD_MAX + 4, "every record fits the fetch buffer");

// Records of lap blocks and status-block controllers wait in the status
// block until the file they belong to closes.
void meas_app_store_block_sb(MeasBlock* b, uint8_t* record) { sb_store_block_dyn(b, record); }

unsigned snapshot(unsigned raster, MeasBlock** out, unsigned cap) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    unsigned n = 0;
    for (MeasBlock* b = meas_app_measlist[raster]; b && n < cap; b = b->next) out[n++] = b;
    return n;
}

// Saves the block's due records; the last fetch result, or 1 when a fast
// stop interrupted.
int saveRecords(MeasBlock* b, int applyDelay, bool stopOnFastStop) {
    static uint8_t buf[kFetchBuffer];   // "rMeas" only
    meas_t& m = *b->owner;
    const bool sb = b->typeFlags & MEAS_BLK_SB;
    for (;;) {
        // asked before the fetch: a record taken from the FIFO is stored
        if (stopOnFastStop && flag(sp().meas_app_faststopreq).load()) return 1;
        uint32_t ts = 0;
        int r = fifo_data_get(b->dataFifo, buf, applyDelay, &ts);
        if (r < 1) return r;
        b->latestTimeStamp = ts;
        if (!m.firstDataTimeStamp && ts) {
            m.firstDataTimeStamp = ts;
            syslogx(150, "meas_app_saveblock(): starting measurement m0%d with timestamp: %d", b->measIdx + 1, int(ts));
        }
        if (sb) {
            meas_app_store_block_sb(b, buf);
        } else {
            // said taken before the store hands it to a writer: a stop's
            // line is never older than a record its files hold
            meas_app_noteRecorded(m, ts);
            meas_app_store_block(b, buf);
            ++m.savedRecords;
        }
    }
}

}  // namespace

void meas_app_saveblock(unsigned raster) {
    if (flag(sp().meas_app_faststopreq).load()) {
        meas_app_fastmeasstop();
        return;
    }
    if (!LapOutFra_isValid() || gApp.powerdown.load() || raster >= MEAS_RASTER_CODES) return;
    static MeasBlock* blocks[256];
    const unsigned n = snapshot(raster, blocks, 256);
    const int applyDelay = raster == MEAS_RASTER_LAP || raster == MEAS_RASTER_SBLAP ? 0 : 1;
    for (unsigned i = 0; i < n; ++i) {
        MeasBlock* b = blocks[i];
        if (b->dataFifo == 0xFFFF) continue;
        int r = saveRecords(b, applyDelay, true);
        if (r == 1) return;   // fast stop requested
        if (r == MF_NOT_YET) {
            if (b->startCondNumber) meas_app_store_block_close_check_only(b);
        } else if (b->owner->runFlags & 2u) {
            if (!(b->typeFlags & MEAS_BLK_SB) || !(b->sbFlags & 2)) meas_app_blockstop(b);
        }
    }
}

void meas_app_drainRaster(unsigned raster) {
    if (!LapOutFra_isValid() || gApp.powerdown.load()) return;
    static MeasBlock* blocks[256];
    const unsigned n = snapshot(raster, blocks, 256);
    for (unsigned i = 0; i < n; ++i)
        if (blocks[i]->dataFifo != 0xFFFF) saveRecords(blocks[i], 0, false);
}

void meas_app_timeout_close(unsigned raster) {
    constexpr uint32_t kHold = MEAS_FLAG_STARTREQ | MEAS_FLAG_STOPREQ | MEAS_FLAG_REINITREQ | MEAS_FLAG_HSTINITREQ |
                               MEAS_FLAG_DESTROYREQ | MEAS_FLAG_BLKSTOPREQ;
    if (raster >= MEAS_RASTER_CODES || (meas_app_get_flags() & kHold)) return;
    const uint32_t lapTs = LapOutFra_getTimeStamp();
    if (int32_t(time_getTimestamp() - lapTs) <= 10000) return;
    static MeasBlock* blocks[256];
    const unsigned n = snapshot(raster, blocks, 256);
    for (unsigned i = 0; i < n; ++i) {
        MeasBlock* b = blocks[i];
        const MeasAppStoreBlockData* d = b->storeData;
        if (!d || d->lapTs == MEAS_TS_UNSET || d->lapTs == lapTs) continue;
        if (MEAS_APP_DEBUG() == 1) syslogx(159, "meas_app_timeout_close pMblk #%d time %u", b->config->blockNumber, unsigned(lapTs));
        meas_app_close_file(b, 0);
    }
}
