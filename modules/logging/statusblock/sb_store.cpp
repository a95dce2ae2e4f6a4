// Records of the status-block sources: the logging raster hands each record
// of a lap block or an SB-Lap block in; it waits in the block's buffer until
// the closing status block of the file takes it. A periodic record also has
// the current status block written into the open file (sb_write.cpp).
#include <cstdlib>
#include <cstring>

#include "logging/app/meas_runtime.h"
#include "logging/statusblock/sb_internal.h"
#include "logging/store/file_info.h"
#include "measurement/calparams.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

constexpr uint32_t kBufferSlack = 132;
uint8_t floodTestbench = 0, floodLocked = 0, floodAlloc = 0;

// Moves the source's bit from requested to delivered.
void delivered(uint64_t& req, uint64_t& ok, uint64_t bit) {
    req &= ~bit;
    ok |= bit;
}

}  // namespace

void* sb_per_buffer_request(uint32_t size) {
    void* p = std::calloc(1, size_t(size) + kBufferSlack);
    if (!p) SYSLOGX_FLOOD(floodAlloc, 147, "sb_per_buffer_request malloc %u failed %u", size + kBufferSlack, size);
    return p;
}

// The status block reads a buffer only while its block is in a raster list,
// under the list lock; blocks leave the list before their buffer goes.
void sb_per_buffer_release(void* p) { std::free(p); }

// Puts an accepted record into the block's buffer; false when refused.
static bool storeRecord(MeasBlock* block, uint8_t* record, uint32_t ts) {
    auto* buf = static_cast<uint8_t*>(block->sbBuffer);
    MeasAppStoreBlockData* d = block->storeData;
    const BlkInfo& c = *block->config;
    const bool sbLap = c.raster == MEAS_RASTER_SBLAP;
    const uint64_t bit = sb_pid_bit(block->pid);
    std::lock_guard<std::mutex> lk(sb_lock());
    SbState& s = sb_state();
    if (ts != 0) {
        if (OUTINGCTR_MODE() == 1) {
            SYSLOGX_FLOOD(floodTestbench, 159,
                          "sb_store_block_dyn(): Got laptriggered data in testbenchmode: %s PID: 0x%X, BLK #%d, Ch #%d",
                          c.name, unsigned(block->pid), int(c.blockNumber), int(c.channelCount));
            if (sbLap) delivered(s.perReq, s.perOk, bit);
            return false;
        }
        if (sbLap) delivered(s.lapReq, s.lapOk, bit);
    } else {
        if (sbLap) delivered(s.perReq, s.perOk, bit);
        if (d->mode & MEAS_STORE_MODE_LAPDATA) {
            SYSLOGX_FLOOD(floodLocked, 151,
                          "sb_store_block_dyn(): prevent overwrite of locked data: %s PID: 0x%X, BLK #%d, Ch #%d, TS %d",
                          c.name, unsigned(block->pid), int(c.blockNumber), int(c.channelCount), int(ts));
            return false;
        }
        be_put32(record, time_getTimestamp());
    }
    buf[0] = uint8_t(c.blockNumber);
    buf[1] = 1;
    std::memcpy(buf + MEAS_SB_BUFFER_HEAD, record, c.recordSize);
    d->mode = uint8_t((d->mode & ~(MEAS_STORE_MODE_LAPDATA | MEAS_STORE_MODE_PERDATA)) |
                      (ts != 0 ? MEAS_STORE_MODE_LAPDATA : MEAS_STORE_MODE_PERDATA));
    return true;
}

int sb_store_block_dyn(MeasBlock* block, uint8_t* record) {
    if (!block || !record || !block->config) return 0;
    if (!block->sbBuffer || !block->storeData) return 0;
    const uint32_t ts = be_get32(record);
    if (!storeRecord(block, record, ts)) return 0;
    // periodic data: the file gets a fresh snapshot (outside the lock: the
    // file store takes its queue lock before this one)
    if (ts == 0) sb_store_periodic(block);
    return 1;
}
