// Data acquisition: the CAN callback of the DAQ messages queues them for the
// task "T_cmrDaq", which stores their bytes into the value slots through the
// precomputed byte addresses of each ODT and, once per DAQ cycle, fills the
// measurement lists linked to the DAQ list.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "platform/task_stop.h"

namespace {
MSG_Q_ID gQueue = nullptr;
TASK_ID gTask = nullptr;
std::atomic<uint32_t> gMsgCount{0};   // messages queued
std::atomic<uint32_t> gLost{0};       // messages dropped on a full queue
uint8_t gFloodQueue = 0, gFloodNull = 0, gFloodRecv = 0, gFloodDaq = 0;

void ccpmrDaqTask(SEM_ID started) {
    if (semGive(started) != OK) syslogx(147, "ccpmrDaqTask: failed to post sem Error!");
    for (;;) {
        CcpDaqMsg msg;
        if (msgQReceive(gQueue, &msg, sizeof msg, WAIT_FOREVER) != long(sizeof msg)) {
            SYSLOGX_FLOOD(gFloodRecv, 147, "ccpmrDaqTask: _msgq_receive()");
            taskDelay(1);
            continue;
        }
        CcpDaqList* d = msg.daq < CCPMR_DAQS ? ccpmr_daqByIndex[msg.daq] : nullptr;
        if (!d) {
            SYSLOGX_FLOOD(gFloodDaq, 147 | SYSLOGX_LOSS, "CCPMR: received ODT with NULL handle");
            continue;
        }
        ccpmr_daq_store(d, msg);
    }
}
}  // namespace

void ccpmr_daq_store(CcpDaqList* d, const CcpDaqMsg& msg) {
    // The PID was checked by the CAN callback against the session's ODTs;
    // the session may have been configured again since, so check once more.
    const unsigned used = d->odtUsed.load(std::memory_order_relaxed);
    const unsigned idx = uint8_t(msg.data[0] - d->firstPid.load(std::memory_order_relaxed));
    if (idx >= used || idx >= d->odtReserved) return;
    const CcpOdt& odt = d->odt[idx];
    if (idx == 0) d->cycleStamp = msg.timeStamp;
    // a short message fills only the bytes it carries
    const unsigned n = std::min<unsigned>(odt.used, msg.len > 0 ? msg.len - 1u : 0u);
    for (unsigned b = 0; b < n; ++b) __atomic_store_n(odt.dest[b], msg.data[1 + b], __ATOMIC_RELAXED);
    for (unsigned c = 0; c < odt.nchan; ++c) ccpmr_reset_timeout(odt.chan[c]);
    if (idx + 1 == used) ccpmr_serve_lists(d);
}

void ccpmr_DaqHandler(void* user, uint32_t, uint8_t, uint32_t lenFlags, const uint8_t* data) {
    auto* d = static_cast<CcpDaqList*>(user);
    if (!d || !d->master) {
        SYSLOGX_FLOOD(gFloodNull, 147 | SYSLOGX_LOSS, "CCPMR: received ODT with NULL handle");
        return;
    }
    CcpMaster* m = d->master;
    const unsigned len = std::min<unsigned>(lenFlags & 0xFF, 8);
    if (!data || len < 1) return;
    if (m->status != CCPMR_ST_ACQUIRING || !d->started) return;
    const uint8_t first = d->firstPid;
    const unsigned used = d->odtUsed;
    if (data[0] < first || unsigned(data[0] - first) >= used) return;
    m->daqWatchdog = 0;
    CcpDaqMsg q{d->cfgIndex, uint8_t(len), 0, 0, {}};
    if (data[0] == first) q.timeStamp = time_getTimestamp();
    std::memcpy(q.data, data, len);
    // the 1 ms raster must never wait: a full queue drops the message
    if (!gQueue || msgQSend(gQueue, &q, sizeof q, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        ++gLost;
        SYSLOGX_FLOOD(gFloodQueue, 147 | SYSLOGX_LOSS, "ccpmr_DaqHandler(): _msgq_send()!");
        return;
    }
    ++gMsgCount;
}

uint32_t ccpmr_daqLost() { return gLost; }

int ccpmrDaqTaskCreate() {
    gQueue = msgQCreate(CCPMR_QUEUE_DEPTH, sizeof(CcpDaqMsg), MSG_Q_FIFO);
    if (!gQueue) {
        syslogx(147, "ccpmrDaqTask: _msgq_open()!");
        return 0;
    }
    SEM_ID sem = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    if (!sem) {
        syslogx(147, "ccpmrDaqTask: failed to create sem");
        return 0;
    }
    gTask = taskSpawn("T_cmrDaq", 112, VX_FP_TASK, 20000, [sem] { ccpmrDaqTask(sem); });
    if (!gTask) {
        syslogx(147, "ccpmrDaqTaskCreate(): create failed");
        semDelete(sem);
        return 0;
    }
    if (semTake(sem, WAIT_FOREVER) != OK) syslogx(147, "ccpmrDaqTaskCreate: failed to create sem");
    if (semDelete(sem) != OK) syslogx(147, "ccpmrDaqTaskCreate: failed to destroy sem");
    return 1;
}

bool ccpmrDaqTaskDelete() {
    const bool ended = task_stop(gTask, "ccpmrDaqTaskDelete()", "its queue and the DAQ lists");
    gTask = nullptr;
    if (!ended) {   // the task may use them when its call returns
        gQueue = nullptr;
        return false;
    }
    if (gQueue) msgQDelete(gQueue);
    gQueue = nullptr;
    gMsgCount = 0;
    gLost = 0;
    gFloodQueue = gFloodNull = gFloodRecv = gFloodDaq = 0;
    return true;
}
