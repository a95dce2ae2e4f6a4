// The instance task "r_ccpmr%d": runs the command state machine on answers
// of the slave and on requests of the supervisor, and supervises each sent
// command with a time-out.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"

namespace {
constexpr int kAnswerSlack = 10;   // ticks added to the state machine's wait

// Runs the state machine until it waits or idles; the deadline of the
// command it sent, or 0 when it idles.
uint64_t run(CcpMaster* m) {
    int r;
    while ((r = ccpmr_statemachine_send(m)) == 0) {}
    return r > 0 ? tickGet() + uint64_t(r + kAnswerSlack) : 0;
}

// A sent command went unanswered (or was refused) for its whole wait.
uint64_t timedOut(CcpMaster* m) {
    if (m->waitDisconnect) {
        // the slave need not answer a DISCONNECT
        m->waitDisconnect = false;
        m->state = m->next.load();
        if (m->state == 3 && m->status == CCPMR_ST_STOPPING) {
            ccpmr_setStatus(m, CCPMR_ST_STOPPED);
            return 0;
        }
        return run(m);
    }
    if (++m->errCount > 2) {
        m->state = 2;
        ccpmr_setStatus(m, CCPMR_ST_ERROR);
    } else {
        m->state = 1;   // disconnect if used, then a new start
        ccpmr_setStatus(m, CCPMR_ST_STARTING);
    }
    return run(m);
}

void ccpmrTask(CcpMaster* m) {
    if (semGive(m->startSem) != OK)
        syslogx(147, "ccpmrTask: instance %d: failed to give semaphore", int(m->instance));
    uint64_t deadline = 0;   // of the command waiting for its answer, 0 = none
    for (;;) {
        int wait = WAIT_FOREVER;
        if (deadline) {
            uint64_t now = tickGet();
            wait = now >= deadline ? NO_WAIT : int(deadline - now);
        }
        CcpQueueMsg msg;
        long n = msgQReceive(m->queue, &msg, sizeof msg, wait);
        if (n != long(sizeof msg)) {
            if (deadline) {
                deadline = timedOut(m);
            } else {
                SYSLOGX_FLOOD(m->floodTask, 147, "ccpmrTask: _msgq_receive() result: %#x", unsigned(errno));
                taskDelay(1);
            }
            continue;
        }
        switch (msg.type) {
        case CCPMR_MSG_ANSWER:
            // a refused or unexpected answer leaves the deadline as it is
            if (ccpmr_statemachine_receive(m, msg.data)) deadline = run(m);
            break;
        case CCPMR_MSG_START:
            if (m->status != CCPMR_ST_ACQUIRING) {
                m->state = 0;
                ccpmr_setStatus(m, CCPMR_ST_STARTING);
                m->errCount = 0;
                deadline = run(m);
            }
            break;
        case CCPMR_MSG_KEEPALIVE:
            if (m->status == CCPMR_ST_ACQUIRING) {
                m->state = 12;
                deadline = run(m);
            }
            break;
        case CCPMR_MSG_STOP:
            if (m->status == CCPMR_ST_ACQUIRING) {
                m->state = 2;
                ccpmr_setStatus(m, CCPMR_ST_STOPPING);
                deadline = run(m);
            }
            break;
        default:
            SYSLOGX_FLOOD(m->floodTask, 147, "ccpmrTask: reception of wrong message tag");
            break;
        }
    }
}
}  // namespace

void ccpmr_RxHandler(void* user, uint32_t, uint8_t, uint32_t lenFlags, const uint8_t* data) {
    static uint8_t floodNull = 0;
    auto* m = static_cast<CcpMaster*>(user);
    if (!m) {
        SYSLOGX_FLOOD(floodNull, 147, "ccpmr_RxHandler(): received NULL-handle");
        return;
    }
    const uint8_t st = m->status;
    if (st != CCPMR_ST_STOPPING && st != CCPMR_ST_STOPPED && st != CCPMR_ST_STARTING && st != CCPMR_ST_ACQUIRING)
        return;
    if (!m->queue || !data || (lenFlags & 0xFF) < 1 || data[0] < CCP_EVENT) return;
    CcpQueueMsg q{CCPMR_MSG_ANSWER, {}};
    // a short frame is padded with zeros, as unused bytes are
    std::memcpy(q.data, data, std::min<size_t>(lenFlags & 0xFF, sizeof q.data));
    // the 1 ms raster must never wait: a full queue drops the answer
    if (msgQSend(m->queue, &q, sizeof q, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        ++m->lost;
        SYSLOGX_FLOOD(m->floodRx, 147, "ccpmr_RxHandler(): _msgq_send() error: %s", std::strerror(errno));
        return;
    }
    ++m->queued;
}

int ccpmrTaskCreate(CcpMaster* m) {
    if (!m || m->instance >= CCPMR_INSTANCES) {
        syslogx(147, "ccpmrTaskCreate(): invalid instance");
        return 0;
    }
    const int i = int(m->instance);
    char name[16];
    std::snprintf(name, sizeof name, "r_ccpmr%d", i);
    m->queue = msgQCreate(CCPMR_QUEUE_DEPTH, sizeof(CcpQueueMsg), MSG_Q_FIFO);
    if (!m->queue) {
        syslogx(147, "ccpmrTaskCreate(): instance %d: failed to create msgPool", i);
        return 0;
    }
    m->startSem = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    if (!m->startSem) {
        syslogx(147, "ccpmrTaskCreate(): instance %d: failed to create sem Error!", i);
        return 0;
    }
    m->task = taskSpawn(name, 112, VX_FP_TASK, 20000, [m] { ccpmrTask(m); });
    if (!m->task) {
        syslogx(147, "ccpmrTaskCreate(): instance %d: create %s failed", i, name);
        return 0;
    }
    if (semTake(m->startSem, WAIT_FOREVER) != OK) {
        syslogx(147, "ccpmrTaskCreate(): instance %d: failed to create sem Error: %x", i, unsigned(errno));
        return 0;
    }
    if (semDelete(m->startSem) != OK)
        syslogx(147, "ccpmrTaskCreate(): instance %d: failed to destroy lem Error: %x", i, unsigned(errno));
    m->startSem = nullptr;
    return 1;
}

bool ccpmrTaskDelete(CcpMaster* m) {
    const bool ended = task_stop(m->task, "ccpmrTaskDelete()", "its instance with queue and DAQ lists");
    m->task = nullptr;
    if (!ended) return false;   // the task may use them when its call returns
    if (m->queue) msgQDelete(m->queue);
    m->queue = nullptr;
    if (m->startSem) semDelete(m->startSem);
    m->startSem = nullptr;
    return true;
}
