// Command sends that never wait on a peer. A message goes out at once when
// the connection takes it; what it cannot take now waits in the channel's
// transmit buffer, which the task "r_BC2_CI_send" writes as the peer reads.
// A full buffer drops the message (counted); a peer that reads nothing of it
// for a second is disconnected. So a raster or the command task that sends a
// command is never held up by a peer that stopped reading.
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"

namespace {
constexpr int kStallMs = 1000;
constexpr int kRetryTicks = 10;   // ms between tries while a peer lags

std::atomic<SEM_ID> gWake{nullptr};
std::mutex gWakeMx;

SEM_ID wakeSem() {
    if (SEM_ID s = gWake) return s;
    std::lock_guard<std::mutex> lk(gWakeMx);
    if (!gWake) gWake = semCCreate(SEM_Q_PRIORITY, 0);
    return gWake;
}

// Bytes the connection took now: 0 when it takes none, -1 on a failed connection.
ssize_t sendNow(int fd, const uint8_t* p, size_t n) {
    ssize_t r;
    do r = send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return r;
}

// Writes what waits; true when the peer took anything.
bool flush(bc2_txbuf* t, int fd) {
    if (!t->len) return false;
    ssize_t n = sendNow(fd, t->data + t->head, t->len);
    if (n <= 0) return false;
    t->head += size_t(n);
    t->len -= size_t(n);
    if (!t->len) bc2_ci_tx_reset_buffer(t);
    return true;
}

void append(bc2_txbuf* t, const uint8_t* p, size_t n, uint64_t now) {
    if (!t->len) {
        t->head = 0;
        t->lastProgress = now;
    } else if (t->head + t->len + n > sizeof t->data) {
        std::memmove(t->data, t->data + t->head, t->len);
        t->head = 0;
    }
    std::memcpy(t->data + t->head + t->len, p, n);
    t->len += n;
    if (SEM_ID s = wakeSem()) semGive(s);
}
}  // namespace

void bc2_ci_tx_reset_buffer(bc2_txbuf* t) {
    if (!t) return;
    t->head = t->len = 0;
    t->lastProgress = 0;
    t->dropReported = false;
}

int bc2_ci_send(bc2_channel* c, int fd, const void* msg, size_t size, bool* report) {
    *report = false;
    bc2_txbuf* t = c->tx;
    const auto* p = static_cast<const uint8_t*>(msg);
    if (!t) return sendNow(fd, p, size) == ssize_t(size) ? 1 : -1;
    const uint64_t now = bc2_now_ms();
    if (t->len && flush(t, fd)) t->lastProgress = now;
    size_t sent = 0;
    if (!t->len) {
        ssize_t n = sendNow(fd, p, size);
        if (n < 0) return -1;
        sent = size_t(n);
        if (sent == size) return 1;
    }
    // A message is never cut: what is left of it (all of it when others
    // wait before it) is kept whole or, when it does not fit, not at all.
    const size_t rest = size - sent;
    if (sent == 0 && t->len + rest > sizeof t->data) {
        *report = !t->dropReported;
        t->dropReported = true;
        return 0;
    }
    append(t, p + sent, rest, now);
    return 1;
}

void bc2_ci_send_wake() {
    if (SEM_ID s = gWake) semGive(s);   // none yet: the task has not started to wait
}

bool bc2_ci_tx_service(uint64_t now) {
    bool pending = false;
    for (unsigned pid = 0; pid < BC2_PIDS; ++pid) {
        bc2_channel* c = bc2().hosts[pid].ci;
        if (!c || !c->tx) continue;
        bool stalled = false;
        {
            std::lock_guard<std::mutex> lk(c->sockMx);
            bc2_txbuf* t = c->tx;
            if (!t->len) continue;
            const int fd = c->sock;
            if (fd < 0) {
                bc2_ci_tx_reset_buffer(t);
                continue;
            }
            if (flush(t, fd)) t->lastProgress = now;
            if (t->len) {
                // What waits belongs to the connection that is given up.
                stalled = now - t->lastProgress >= uint64_t(kStallMs);
                if (stalled) bc2_ci_tx_reset_buffer(t);
                else pending = true;
            }
        }
        if (stalled) {
            BC2_LOG_FROM(c->peer, FL_STALLED, 155, "Diradir2: CI channel to PID 0x%X takes no data for %d ms, disconnecting",
                         pid, kStallMs);
            ++c->cnt[CNT_TX_ERR];
            BC2_disconnect(c);
        }
    }
    return pending;
}

void BC2_CI_send() {
    bc2_state& s = bc2();
    SEM_ID wake = wakeSem();
    if (!wake) {
        syslogx(155, "BC2_CI_send(): semCCreate failed - errno %s", strerror(errno));
        return;
    }
    bool pending = false;
    while (!s.stop) {
        semTake(wake, pending ? kRetryTicks : WAIT_FOREVER);
        if (s.stop) return;
        pending = bc2_ci_tx_service(bc2_now_ms());
    }
}
