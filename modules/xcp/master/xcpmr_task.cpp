// Instance task of the XCP master ("r_xcpmr%d") and its UDP receive task
// ("r_xcpmrt%d").
//
// The instance task owns the send and receive machines: the 10 ms control
// and the receive paths reach it only through its queue. After a command it
// waits at most XCPMR_ANSWER_TICKS for the answer; a missing answer or an
// error answer repeats the step, and the third failure of a session stops the
// instance as failed (retried by the 10 ms control after 1 s).
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "xcp/xcp_errno.h"

namespace {
std::atomic<uint8_t> gFloodRecv{0}, gFloodTag{0}, gFloodRxErr{0};

class InstanceTask {
public:
    explicit InstanceTask(XcpmrInstance* h) : h_(h) {}

    void run() {
        XcpmrTaskMsg m;
        for (;;) {
            int timeout = WAIT_FOREVER;
            if (waiting_) {
                const int64_t left = int64_t(deadline_) - int64_t(tickGet());
                timeout = left > 0 ? int(left) : 0;
            }
            const long n = msgQReceive(h_->queue, &m, sizeof m, timeout);
            if (h_->ending) return;
            if (n == ERROR) {
                if (waiting_) missed();
                else SYSLOGX_FLOOD(gFloodRecv, 147, "xcpmrTask: _msgq_receive() result: %#x", unsigned(errno));
                continue;
            }
            handle(m, unsigned(n));
        }
    }

private:
    uint8_t status() const { return xcpmr_get_status(h_->instance); }

    void handle(const XcpmrTaskMsg& m, unsigned n) {
        switch (m.tag) {
        case XT_ANSWER: {
            const unsigned len = n > 8 ? std::min<unsigned>(m.len, n - 8) : 0;
            switch (xcpmr_statemachine_receive(h_, m.packet, len)) {
            case XRM_GO_ON: drive(); break;
            case XRM_DONE: idle(); break;
            case XRM_ERROR:
                // the slave refused the command: like no answer at all
                if (waiting_) missed();
                break;
            default: break;   // keep waiting for the answer
            }
            break;
        }
        case XT_START:
            if (status() == XCPMR_CONFIGURING || status() == XCPMR_RUNNING) break;
            h_->sendState = XS_INIT;
            xcpmr_set_status(h_->instance, XCPMR_CONFIGURING);
            h_->timeoutCount = 0;
            drive();
            break;
        case XT_KEEPALIVE:
        case XT_RESYNC:
            if (status() != XCPMR_RUNNING || waiting_ || h_->sendState != XS_IDLE) break;
            h_->sendState = m.tag == XT_KEEPALIVE ? XS_KEEPALIVE : XS_CLOCK_RESYNC;
            drive();
            break;
        case XT_STOP:
            if (status() != XCPMR_RUNNING) break;
            waiting_ = false;
            h_->sendState = XS_STOP;
            xcpmr_set_status(h_->instance, XCPMR_STOPPING);
            drive();
            break;
        default:
            SYSLOGX_FLOOD(gFloodTag, 147, "xcpmrTask: receiption of wrong message tag");
            if (waiting_) missed();
            break;
        }
    }

    // Runs the send machine until it waits for an answer or has nothing to do.
    void drive() {
        for (int steps = 0; steps < 64; ++steps) {
            const int r = xcpmr_statemachine_send(h_);
            if (r == XSM_GO_ON) continue;
            if (r == XSM_WAIT) {
                waiting_ = true;
                deadline_ = tickGet() + XCPMR_ANSWER_TICKS;
                return;
            }
            break;
        }
        idle();
    }

    void idle() {
        waiting_ = false;
        if (status() == XCPMR_STOPPING) xcpmr_set_status(h_->instance, XCPMR_READY);
    }

    // No (usable) answer in time.
    void missed() {
        waiting_ = false;
        if (h_->ignoreTimeout) {   // DISCONNECT: go on without its answer
            h_->ignoreTimeout = 0;
            h_->sendState = h_->nextState;
            h_->daqCursor = h_->nextDaq;
            h_->odtCursor = h_->nextOdt;
            h_->entryCursor = h_->nextEntry;
        } else if (++h_->timeoutCount >= XCPMR_MAX_TIMEOUTS) {
            h_->sendState = XS_STOP;
            xcpmr_set_status(h_->instance, XCPMR_FAILED);
        }
        drive();   // the same step again, or the disconnect
    }

    XcpmrInstance* h_;
    bool waiting_ = false;
    uint64_t deadline_ = 0;
};

void xcpmrTask(XcpmrInstance* h) { InstanceTask(h).run(); }

void xcpmrTplRxTask(XcpmrInstance* h) {
    uint8_t buf[XCPMR_PACKET_MAX];
    while (!h->ending) {
        if (h->rxPos >= h->rxLen) {
            pollfd p{h->sock, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;   // looks at the end flag now and then
        }
        const int n = xcpmr_UdpReceivePacket(h, buf);
        if (n < 0) {
            SYSLOGX_FLOOD(gFloodRxErr, 147, "xcpmr_handler_ini; xcpmr_UdpReceivePacket ERROR");
            taskDelay(10);
            continue;
        }
        if (n > 0) xcpmr_packet(h, buf, unsigned(n), false);
    }
}

// Spawns a task and waits for its start handshake.
TASK_ID spawnWithHandshake(const std::string& name, int prio, std::function<void()> body, unsigned inst,
                           const char* site) {
    SEM_ID sem = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    if (!sem) {
        syslogx(147, "%s: instance %u: failed to create sem Error!", site, inst);
        return nullptr;
    }
    TASK_ID t = taskSpawn(name.c_str(), prio, VX_FP_TASK, 500000, [sem, body]() {
        semGive(sem);
        body();
    });
    if (!t) {
        syslogx(147, "%s: instance %u: create %s failed", site, inst, name.c_str());
    } else if (semTake(sem, 5000) != OK) {
        syslogx(147, "%s: instance %u: failed to create sem Error: %x", site, inst, unsigned(errno));
    }
    semDelete(sem);
    return t;
}
}  // namespace

bool xcpmr_post(XcpmrInstance* h, uint32_t tag, const uint8_t* packet, unsigned len, const char* failText,
                std::atomic<uint8_t>& flood) {
    XcpmrTaskMsg m;
    m.tag = tag;
    m.len = std::min<unsigned>(len, XCPMR_PACKET_MAX);
    if (packet && m.len) std::memcpy(m.packet, packet, m.len);
    // never waits: the senders run on the rasters and the receive paths
    if (msgQSend(h->queue, &m, 8 + m.len, NO_WAIT, MSG_PRI_NORMAL) == OK) return true;
    ++xcpmr_dropCount;
    const int err = errno;
    SYSLOGX_FLOOD(flood, 147, failText, xcpErrnoText(err ? err : EAGAIN).c_str());
    return false;
}

int xcpmrTaskCreate(XcpmrInstance* h) {
    if (!h || h->instance >= XCPMR_INSTANCES) {
        syslogx(147, "xcpmrTaskCreate(): invalid instance");
        return -1;
    }
    h->queue = msgQCreate(XCPMR_QUEUE_MSGS, sizeof(XcpmrTaskMsg), MSG_Q_FIFO);
    if (!h->queue) {
        syslogx(147, "xcpmrTaskCreate(): instance %d: failed to create msgPool", h->instance);
        return -1;
    }
    char name[16];
    std::snprintf(name, sizeof name, "r_xcpmr%u", unsigned(h->instance));
    h->task = spawnWithHandshake(name, 125, [h] { xcpmrTask(h); }, h->instance, "xcpmrTaskCreate()");
    return h->task ? 0 : -1;
}

int xcpmrTplRxTaskCreate(XcpmrInstance* h) {
    if (!h || h->instance >= XCPMR_INSTANCES) {
        syslogx(147, "xcpmrTplRxTaskCreate(): invalid instance");
        return -1;
    }
    char name[16];
    std::snprintf(name, sizeof name, "r_xcpmrt%u", unsigned(h->instance));
    h->rxTask = spawnWithHandshake(name, 125, [h] { xcpmrTplRxTask(h); }, h->instance, "xcpmrTplRxTaskCreate()");
    return h->rxTask ? 0 : -1;
}
