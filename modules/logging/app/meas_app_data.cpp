// Gateway read and time-out callbacks: values go into the FIFOs and buffers
// only; everything else happens in the logging raster.
#include <cstring>

#include "logging/app/meas_app_internal.h"
#include "logging/fifo/meas_fifo.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

namespace {
uint8_t floodNoBlock, floodNoData, floodIllegal, floodUnhandled, floodToutArgs;

void logUnhandled(const MeasBlock* b) {
    char rn[16];
    SYSLOGX_FLOOD(floodUnhandled, 147 | SYSLOGX_LOSS,
                  "<meas_app_gw_cbData> unhandled data type: m0%d PID: 0x%X, Type: %s, BLK #%d, Ch #%d, Raster: %s",
                  b->measIdx + 1, b->pid, meas_app_typeName(b), b->config->blockNumber, int(b->config->channelCount),
                  convraster2ascii(b->config->raster, rn));
}

// The telemetry task copies the buffer byte by byte while a new record arrives.
void copyTele(MeasBlock* b, uint8_t* dst, const uint8_t* data) {
    for (uint32_t i = 0; i < b->config->recordSize; ++i)
        std::atomic_ref<uint8_t>(dst[i]).store(data[i], std::memory_order_relaxed);
    std::atomic_ref<uint8_t>(b->teleState).store(1, std::memory_order_release);
}

void setCondError(MeasBlock* b) {
    SEM_ID lock = b->owner->condLock;
    if (lock && semTake(lock, WAIT_FOREVER) == OK) {
        b->condState = 0xFF;
        semGive(lock);
    }
}
}  // namespace

int meas_app_gw_cbData(unsigned long error, void* data, void* user) {
    auto* b = static_cast<MeasBlock*>(user);
    if (!b) {
        SYSLOGX_FLOOD(floodNoBlock, 147 | SYSLOGX_LOSS, "meas_app_gw_cbData: zero pointer for container!");
        return 0;
    }
    const uint16_t f = lst(b);
    if (error != 0) {
        if (b->typeFlags & MEAS_BLK_COND) setCondError(b);
        else if (b->typeFlags & MEAS_BLK_TELE) std::atomic_ref<uint8_t>(b->teleState).store(0xFF);
        else if ((f & MEAS_LST_STARTED) && !(f & MEAS_LST_SLOW)) gApp.datatimeout.store(1);
        return 1;
    }
    if (!data) {
        SYSLOGX_FLOOD(floodNoData, 147 | SYSLOGX_LOSS, "meas_app_gw_cbData: zero pointer for databuffer! %d for m0%d, BLK #%d, PID 0x%X",
                      0, b->measIdx + 1, b->config->blockNumber, b->pid);
        return 0;
    }
    if (!(f & MEAS_LST_STARTED) || !(f & MEAS_LST_REPLY)) {
        SYSLOGX_FLOOD(floodIllegal, 147 | SYSLOGX_LOSS, "meas_app_gw_cbData(): oh mist, illegal databuffer 0x%x",
                      unsigned(reinterpret_cast<uintptr_t>(data)));
        logUnhandled(b);
        return 0;
    }
    const auto* rec = static_cast<const uint8_t*>(data);
    if (b->typeFlags & MEAS_BLK_COND) {
        SEM_ID lock = b->owner->condLock;
        if (b->condBuffer && lock && semTake(lock, WAIT_FOREVER) == OK) {
            std::memcpy(b->condBuffer, rec, b->config->recordSize);
            b->condState = 1;
            b->condErrorCount = 0;
            semGive(lock);
        }
    } else if (b->typeFlags & MEAS_BLK_TELE) {
        if (auto* buf = static_cast<uint8_t*>(std::atomic_ref<void*>(b->teleBuffer).load(std::memory_order_acquire)))
            copyTele(b, buf, rec);
    } else if (b->typeFlags & MEAS_BLK_FIFOCOND) {
        fifo_condition_put(b->condSlot, rec);
    } else if (b->typeFlags & (MEAS_BLK_DATA | MEAS_BLK_SB)) {
        // A requested fast stop waits for the logging raster, which may run
        // late: what is taken meanwhile lies before the stop's stamp and goes
        // into the files with the stop. Once it has run, nothing more is.
        if (!gApp.powerdown.load()) {
            const int r = fifo_data_put(b->dataFifo, rec);
            if (r == MF_ERR_TS_FOREIGN) meas_app_noteRefusedStamp(b->pid, be_get32(rec));
            else if (r == 0) meas_app_noteStampInTime(b->pid);
        }
    } else {
        logUnhandled(b);
    }
    return 1;
}

int meas_app_gw_cbTout(unsigned long state, void* pid, void* user) {
    auto* b = static_cast<MeasBlock*>(user);
    if (!b || !pid) {
        SYSLOGX_FLOOD(floodToutArgs, 147, "meas_app_gw_cbTout: invalid arguments, errorstate %d  ", int(state));
        return 1;
    }
    if (!(b->typeFlags & (MEAS_BLK_COND | MEAS_BLK_FIFOCOND))) return 1;
    const uint16_t t = b->typeFlags;
    const int sb = (t & MEAS_BLK_SB) ? 1 : 0, data = (t & MEAS_BLK_DATA) ? 1 : 0,
              fifocond = (t & MEAS_BLK_FIFOCOND) ? 1 : 0, cond = (t & MEAS_BLK_COND) ? 1 : 0,
              tele = (t & MEAS_BLK_TELE) ? 1 : 0;
    const unsigned p = *static_cast<const uint16_t*>(pid);
    if (state == 6)
        syslogx(147, "meas_app_gw_cbTout: PID:0x%X timeout, type(sb%d meas%d fifocond%d cond%d tele%d) ", p, sb, data,
                fifocond, cond, tele);
    else if (state == 0)
        syslogx(148, "meas_app_gw_cbTout: PID:0x%X back online, type(sb%d meas%d fifocond%d cond%d tele%d) ", p, sb,
                data, fifocond, cond, tele);
    else
        syslogx(147, "meas_app_gw_cbTout: PID:0x%X errorstate %d, type(sb%d meas%d fifocond%d cond%d tele%d) ", p,
                int(state), sb, data, fifocond, cond, tele);
    return 1;
}
