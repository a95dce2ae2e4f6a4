// Single records of the lap blocks and the status-block sources, written
// into a file when its closing status block is built.
#include <cstring>

#include "logging/app/meas_app_internal.h"
#include "logging/format/meas_file.h"
#include "logging/format/meas_frame.h"
#include "logging/app/meas_runtime.h"
#include "logging/store/file_info.h"
#include "logging/store/meas_app_store.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

namespace {

enum class Dyn { LR, SB };

uint8_t floodMissing = 0, floodDiscard = 0, floodWrote = 0;

void logMissing(Dyn kind, bool periodic, const MeasBlock* b, uint32_t expectedTs) {
    const BlkInfo& c = *b->config;
    if (kind == Dyn::LR)
        SYSLOGX_FLOOD(floodMissing, 151 | SYSLOGX_LOSS,
                      periodic ? "Missing periodic LR Data: m0%d PID: 0x%X, BLK #%d, Ch #%d"
                               : "Missing LR Data: m0%d PID: 0x%X, BLK #%d, Ch #%d",
                      b->measIdx + 1, unsigned(b->pid), int(c.blockNumber), int(c.channelCount));
    else if (periodic)
        SYSLOGX_FLOOD(floodMissing, 151 | SYSLOGX_LOSS, "Missing periodic SB Data: m0%d PID: 0x%X, BLK #%d, Ch #%d",
                      b->measIdx + 1, unsigned(b->pid), int(c.blockNumber), int(c.channelCount));
    else
        SYSLOGX_FLOOD(floodMissing, 151 | SYSLOGX_LOSS, "Missing SB Data: m0%d PID: 0x%X, BLK #%d, Ch #%d, ts:%d", b->measIdx + 1,
                      unsigned(b->pid), int(c.blockNumber), int(c.channelCount), int(expectedTs));
}

int storeDyn(Dyn kind, int vfIdx, unsigned measIdx, uint32_t expectedTs) {
    if (vfIdx < 0 || measIdx >= MEAS_COUNT) return 0;
    const unsigned raster = kind == Dyn::LR ? MEAS_RASTER_LAP : MEAS_RASTER_SBLAP;
    int written = 0;
    // a block leaves the list (and frees its buffer) only under this lock
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    void* store = meas[measIdx].store;
    for (MeasBlock* b = meas_app_measlist[raster]; b; b = b->next) {
        auto* buf = static_cast<uint8_t*>(b->sbBuffer);
        MeasAppStoreBlockData* d = b->storeData;
        if (b->measIdx != measIdx || !buf || !d || !b->config) continue;
        const BlkInfo& c = *b->config;
        const bool periodic = d->mode & MEAS_STORE_MODE_PERDATA;
        if (!buf[1]) {
            // nothing new from this source; only a lap wait misses it
            if (expectedTs != 0) logMissing(kind, false, b, expectedTs);
        } else if ((expectedTs != 0) == periodic) {
            // lap data wanted but periodic data held, or the other way round
            logMissing(kind, periodic, b, expectedTs);
        } else {
            const uint32_t recTs = be_get32(buf + MEAS_SB_BUFFER_HEAD);
            if (expectedTs == 0 || recTs == expectedTs) {
                uint8_t out[MEAS_SB_BUFFER_HEAD + MeasFrame_packBound(MEAS_RECORD_MAX)];
                const uint32_t len = c.recordSize <= MEAS_RECORD_MAX ? c.recordSize : MEAS_RECORD_MAX;
                const uint16_t packed = MeasFrame_packBits(buf + MEAS_SB_BUFFER_HEAD, out + MEAS_SB_BUFFER_HEAD, len);
                out[0] = buf[0];
                out[1] = 1;
                be_put16(out + 2, packed);
                be_put16(buf + 2, packed);
                if (kind == Dyn::LR) {
                    meas_app_PreTrigPutMeasFrameCopy(store, vfIdx, out, MEAS_SB_BUFFER_HEAD + packed, recTs, recTs);
                    SYSLOGX_FLOOD(floodWrote, 159, "Wrote LR Data: m0%d PID: 0x%X, BLK #%d, Ch #%d, TS %d",
                                  b->measIdx + 1, unsigned(b->pid), int(c.blockNumber), int(c.channelCount),
                                  int(recTs));
                } else {
                    meas_app_PreTrigPutMetaDataVfCopy(store, vfIdx, out, MEAS_SB_BUFFER_HEAD + packed,
                                                      MEAS_META_DYNAMIC);
                }
                ++written;
            } else if (kind == Dyn::LR) {
                SYSLOGX_FLOOD(floodDiscard, 151 | SYSLOGX_LOSS,
                              "Discard invalid LR data: m0%d PID: 0x%X, BLK #%d, Ch #%d, LT-TS: %d, Data-TS: %d",
                              b->measIdx + 1, unsigned(b->pid), int(c.blockNumber), int(c.channelCount),
                              int(expectedTs), int(recTs));
            } else {
                SYSLOGX_FLOOD(floodDiscard, 151 | SYSLOGX_LOSS,
                              "Discard invalid SB Data: m0%d PID: 0x%X, BLK #%d, Ch #%d, LT-TS: %d, Data-TS: %u",
                              b->measIdx + 1, unsigned(b->pid), int(c.blockNumber), int(c.channelCount),
                              int(expectedTs), recTs);
            }
        }
        buf[1] = 0;
        d->mode &= uint8_t(~(MEAS_STORE_MODE_LAPDATA | MEAS_STORE_MODE_PERDATA));
    }
    return written;
}

}  // namespace

int meas_app_store_frame_lr_dyn(int vfIdx, unsigned measIdx, uint32_t expectedTs) {
    return storeDyn(Dyn::LR, vfIdx, measIdx, expectedTs);
}

int meas_app_store_frame_sb_dyn(int vfIdx, unsigned measIdx, uint32_t expectedTs) {
    return storeDyn(Dyn::SB, vfIdx, measIdx, expectedTs);
}
