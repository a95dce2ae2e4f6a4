// The listener "r_rCtrlLisQ": takes the kernel-side service's commands from
// "/MeasAppRCTRL_RX", turns them into requests and answers those that want
// a reply on "/MeasAppRCTRL_TX" once the request has been carried out.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <atomic>

#include "host/os/os.h"
#include "logging/remote/meas_app_remote.h"
#include "logging/remote/remote_state.h"
#include "measurement/signalpage.h"
#include "platform/error_mgr.h"
#include "platform/io.h"
#include "platform/syslogx.h"

namespace {

constexpr int kAttempts = 100;
// A request not carried out within this is answered with an error: the tool
// waits for the reply (measrctrl: 30 s) and must not wait for good.
constexpr int kReplyLimitS = 20;
// A reply waits at most this long for room in the one-deep reply queue. The
// client that asked takes its reply at once; a reply nobody takes (its client
// went away) must not keep the listener from the commands that follow.
constexpr int kReplySendLimitS = 2;
constexpr uint32_t kStatusFlash = 0x3000000;
constexpr uint32_t kStatusClear = 0x2000000;
constexpr uint32_t kStatusSet = 0x4000000;

// Closes the queue however the task ends (a delete unwinds it).
struct Queue {
    MSG_Q_ID q = nullptr;
    ~Queue() {
        if (q) msgQClose(q);
    }
};

uint32_t addressOf(const uint8_t* cmd) {
    uint32_t a;
    std::memcpy(&a, cmd + 1, 4);   // kept in network order
    return a;
}

// Makes the request until it is accepted (at most 100 times, a tick apart),
// then waits until it is carried out, at most kReplyLimitS. The reply byte.
int request(uint8_t code, uint32_t address) {
    int attempts = 0;
    bool accepted = false;
    while (!accepted && attempts < kAttempts) {
        if (attempts) taskDelay(1);
        ++attempts;
        switch (code) {
        case RCTRL_VELMARIX_CONNECT: accepted = meas_app_remotestop(address) != 0; break;
        case RCTRL_TRANSFER_CONNECT: accepted = meas_app_remoteTransfer(address) != 0; break;
        default:
            accepted = meas_app_remotedestroy(address) != 0;
            if (!accepted) syslogx(151, "remotectrl_listenQueue() meas_app_remotedestroy failed #%d", attempts);
            break;
        }
    }
    if (!accepted) {
        // refusals that end in an accepted request are no failure: only the last try's is
        if (code == RCTRL_VELMARIX_CONNECT)
            syslogx(151, "remotectrl_listenQueue() meas_app_remotestop failed #%d", attempts);
        else if (code == RCTRL_TRANSFER_CONNECT)
            syslogx(151, "remotectrl_listenQueue() meas_app_remoteTransferBegin failed #%d", attempts);
        return MEAS_REPLY_ERROR;
    }
    // by the clock: a loaded system takes longer than a tick per pass
    const uint64_t begin = tickGet();
    const uint64_t limit = uint64_t(kReplyLimitS) * uint64_t(sysClkRateGet());
    for (;;) {
        int busy = code == RCTRL_VELMARIX_CONNECT   ? meas_app_remotestop_busy()
                   : code == RCTRL_TRANSFER_CONNECT ? meas_app_remoteTransferBusy()
                                                    : meas_app_remotedestroy_busy();
        if (!busy) return MEAS_REPLY_OK;
        if (tickGet() - begin >= limit) {
            syslogx(147, "remotectrl_listenQueue() request 0x%02X not done after %d s: replying MEAS_REPLY_ERROR",
                    code, kReplyLimitS);
            return MEAS_REPLY_ERROR;
        }
        taskDelay(1);
    }
}

}  // namespace

int remotectrl_serveCommand(const uint8_t* cmd, size_t length) {
    if (!cmd || length < RCTRL_MSG_SIZE) {
        syslogx(147, "remotectrl_listenQueue() error receiving command line: %s", "short command");
        return -1;
    }
    const uint8_t code = cmd[0];
    const uint32_t address = addressOf(cmd);
    switch (code) {
    case RCTRL_FLASH:
        syslogx(150, "remotectrl_listenQueue() Flash request");
        meas_led_set_status(kStatusFlash);
        error_mgr_clear_all();
        return request(RCTRL_PELVAR_CONNECT, address);
    case RCTRL_STATUS_CLR: meas_led_clr_status(kStatusClear); return -1;
    case RCTRL_STATUS_SET: meas_led_set_status(kStatusSet); return -1;
    case RCTRL_PELVAR_CONNECT:
        syslogx(150, "remotectrl_listenQueue() Pelvar connected");
        return request(code, address);
    case RCTRL_VELMARIX_CONNECT:
        syslogx(150, "remotectrl_listenQueue() Velmarix connected");
        return request(code, address);
    case RCTRL_TRANSFER_CONNECT:
        syslogx(150, "remotectrl_listenQueue() RaziDereravuZiri connected");
        return request(code, address);
    case RCTRL_PELVAR_DISCONNECT: {
        syslogx(150, "remotectrl_listenQueue() Pelvar disconnected");
        const char* why = nullptr;
        if (!meas_app_remoteinit(&why)) syslogx(150, "remotectrl_listenQueue() Pelvar disconnect: %s", why);
        return -1;
    }
    case RCTRL_VELMARIX_DISCONNECT: {
        syslogx(150, "remotectrl_listenQueue() Velmarix disconnected");
        const char* why = nullptr;
        if (!meas_app_remotestart(&why)) syslogx(150, "remotectrl_listenQueue() Velmarix disconnect: %s", why);
        return -1;
    }
    case RCTRL_TRANSFER_DISCONNECT:
        syslogx(150, "remotectrl_listenQueue() RaziDereravuZiri disconnected");
        std::atomic_ref<uint8_t>(signalPage()->meas_app_remoteread).store(0);
        return -1;
    default:
        syslogx(147, "remotectrl_listenQueue() received unknown command 0x%02X", code);
        return -1;
    }
}

void remotectrl_listenQueue() {
    Queue rx{msgQOpen("/MeasAppRCTRL_RX", 1, RCTRL_MSG_SIZE, MSG_Q_FIFO, OM_CREATE)};
    if (!rx.q) {
        syslogx(155, "remotectrl_listenQueue() queue(RX) open failed: %s", std::strerror(errno));
        return;
    }
    Queue tx{msgQOpen("/MeasAppRCTRL_TX", 1, RCTRL_MSG_SIZE, MSG_Q_FIFO, OM_CREATE)};
    if (!tx.q) {
        syslogx(155, "remotectrl_listenQueue() queue(TX) open failed: %s", std::strerror(errno));
        return;
    }
    for (;;) {
        uint8_t cmd[RCTRL_MSG_SIZE] = {};
        errno = 0;
        long n = msgQReceive(rx.q, cmd, sizeof cmd, WAIT_FOREVER);
        if (n < 0) {
            syslogx(147, "remotectrl_listenQueue() error receiving command line: %s", std::strerror(errno));
            taskDelay(1);
            continue;
        }
        int reply = remotectrl_serveCommand(cmd, size_t(n));
        if (reply < 0) continue;
        const uint8_t msg[RCTRL_MSG_SIZE] = {uint8_t(reply), 0, 0, 0, 0};
        if (msgQSend(tx.q, msg, sizeof msg, kReplySendLimitS * sysClkRateGet(), MSG_PRI_NORMAL) != OK) {
            if (reply == MEAS_REPLY_ERROR)
                syslogx(147, "remotectrl_listenQueue(): sending reply MEAS_REPLY_ERROR error (%s)", std::strerror(errno));
            else
                syslogx(147, "remotectrl_listenQueue(): sending reply error (%s)", std::strerror(errno));
        }
    }
}
