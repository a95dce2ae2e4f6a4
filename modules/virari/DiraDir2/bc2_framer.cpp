// Send framers: DK records packed per destination into blocks of at most
// 1472 bytes, sent when the next record does not fit or at the flush that
// ends each tick of the Ethernet send rasters.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "measurement/routing.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"

namespace {
uint8_t gFloodTake = 0, gFloodGive = 0, gFloodErr = 0, gFloodOverrun = 0, gFloodBig = 0, gFloodFlush = 0;

enum SendResult { SENT_ALL, SENT_ERROR, SENT_PART };

bc2_channel* dkChannel(unsigned pid) { return pid < BC2_PIDS ? bc2().hosts[pid].dk.load() : nullptr; }

// Sends the unsent bytes of the current half: one TCP send, or one datagram.
SendResult sendHalf(bc2_framer* f, int fd, const sockaddr_in* udpTo, long* sent) {
    const uint8_t* p = f->data + f->half + f->sentPos;
    const size_t want = size_t(f->fill - f->sentPos);
    ssize_t n = udpTo ? sendto(fd, p, want, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(udpTo), sizeof *udpTo)
                      : send(fd, p, want, MSG_NOSIGNAL);
    *sent = long(n);
    if (n == ssize_t(want)) return SENT_ALL;
    return n < 0 ? SENT_ERROR : SENT_PART;
}

// The half went out: the other half becomes current.
void switchHalves(bc2_framer* f) {
    f->errState = 0;
    f->fill = 0;
    f->sentPos = 0;
    f->half = f->half ? 0 : uint16_t(DK_BLOCK_SIZE);
}

void append(bc2_framer* f, const uint8_t* hdr, const uint8_t* data, unsigned n) {
    uint8_t* w = f->data + f->half + f->fill;
    std::memcpy(w, hdr, DK_RECORD_HEADER);
    if (n) std::memcpy(w + DK_RECORD_HEADER, data, n);
    f->fill = uint16_t(f->fill + DK_RECORD_HEADER + n);
}

// A record that no half can hold is refused, never written past the block.
bool fitsAHalf(bc2_channel* c, unsigned pid, unsigned n, const char* who) {
    if (DK_RECORD_HEADER + n <= DK_BLOCK_SIZE) return true;
    ++c->cnt[CNT_TX_ERR];
    SYSLOGX_FLOOD(gFloodBig, 147 | SYSLOGX_LOSS, "%s:[0x%02x] record of %u bytes exceeds a send block, dropped", who, pid, n);
    return false;
}

// Socket the framer sends on: the DK connection, or the UDP socket for online
// data routed over DiraDir2. The caller holds the channel's socket lock.
int sendSocket(bc2_channel* c, bool udp) { return udp ? bc2().udpTx.load() : c->sock.load(); }

// Appends one record; a full half goes out first. 1 when a half was sent.
int sendRecord(const uint8_t* hdr, const uint8_t* data, bool online) {
    const char* who = online ? "dyncom_send_eth_online()" : "dyncom_send_eth()";
    const unsigned pid = be_get16(hdr), n = be_get16(hdr + 2);
    std::shared_lock<std::shared_mutex> inUse(bc2_channels_lock());
    bc2_channel* c = dkChannel(pid);
    bc2_framer* f = c ? (online ? c->online : c->offline) : nullptr;
    if (!f || !fitsAHalf(c, pid, n, who)) return 0;
    const bool udp = online && routing_get_next(pid).kind == ROUTING_DIRADIR2;
    if (semTake(f->mutex, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(gFloodTake, 147, "%s:[0x%02x] semTake failed - errno %s", who, pid, strerror(errno));
        return 0;
    }
    int result = 0;
    {
        std::lock_guard<std::mutex> lk(c->sockMx);
        const int fd = sendSocket(c, udp);
        if (fd >= 0) {
            bool appendIt = true;
            if (f->fill + DK_RECORD_HEADER + n > DK_BLOCK_SIZE) {
                long sent = 0;
                const uint16_t before = f->sentPos;
                switch (sendHalf(f, fd, udp ? &c->udpAddr : nullptr, &sent)) {
                case SENT_ALL:
                    ++c->cnt[online ? CNT_TX_ONLINE : CNT_TX_OFFLINE];
                    switchHalves(f);
                    result = 1;
                    break;
                case SENT_ERROR:
                    ++c->cnt[CNT_TX_ERR];
                    if (f->errState != 1)
                        SYSLOGX_FLOOD(gFloodErr, 147, "%s:[0x%02x] socket send error - errno %s", who, pid, strerror(errno));
                    f->errState = 1;
                    appendIt = false;
                    break;
                case SENT_PART:
                    if (f->errState != 2)
                        SYSLOGX_FLOOD(gFloodOverrun, 147 | SYSLOGX_LOSS,
                                      "%s:[0x%02x] send buffer overrun, req %d only %d error_snd_pos %d bytes of dynkom data sent",
                                      who, pid, int(f->fill - before), int(sent), int(before));
                    f->errState = 2;
                    f->sentPos = uint16_t(f->sentPos + sent);
                    ++c->cnt[CNT_TX_ERR];
                    appendIt = false;
                    break;
                }
            }
            if (appendIt) append(f, hdr, data, n);
        }
    }
    if (semGive(f->mutex) != OK)
        SYSLOGX_FLOOD(gFloodGive, 155, "%s: semGive failed - errno %s", online ? "dyncom_send_eth_online()" : "dyncom_send_eth()",
                      strerror(errno));
    return result;
}
}  // namespace

void BC2_snd_framer_ini(bc2_framer* f, int type) {
    if (!f) return;
    if (!f->mutex) {
        f->mutex = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        if (!f->mutex) {
            syslogx(155, "BC2_snd_framer_ini(): semMCreate failed - errno %s", strerror(errno));
            return;
        }
    }
    if (semTake(f->mutex, WAIT_FOREVER) != OK) {
        syslogx(155, "BC2_snd_framer_ini(): semTake failed - errno %s", strerror(errno));
        return;
    }
    f->errState = 0;
    f->fill = 0;
    f->sentPos = 0;
    f->type = type;
    f->half = 0;
    if (semGive(f->mutex) != OK) syslogx(155, "BC2_snd_framer_ini(): semGive failed - errno %s", strerror(errno));
}

void bc2_framer_free(bc2_framer* f) {
    if (!f) return;
    if (f->mutex) semDelete(f->mutex);
    delete f;
}

int dyncom_send_eth(const uint8_t* header, const uint8_t* data) {
    return header ? sendRecord(header, data, false) : 0;
}

int dyncom_send_eth_online(const uint8_t* header, const uint8_t* data) {
    if (!header) return 0;
    // Peers before 0x0201 take online data only on the data connection.
    if (bc2_host_version(be_get16(header)) < 0x0201) return dyncom_send_eth(header, data);
    return sendRecord(header, data, true);
}

void Dynkom_flush_eth(int mode) {
    const bool online = mode != 1;
    const unsigned own = bc2().ownPid;
    std::shared_lock<std::shared_mutex> inUse(bc2_channels_lock());
    for (unsigned pid = 0; pid < BC2_PIDS; ++pid) {
        bc2_channel* c = dkChannel(pid);
        if (pid == own || !c) continue;
        bc2_framer* f = online ? c->online : c->offline;
        if (!f) continue;
        const bool udp = online && routing_get_next(pid).kind == ROUTING_DIRADIR2;
        if (semTake(f->mutex, WAIT_FOREVER) != OK) {
            SYSLOGX_FLOOD(gFloodTake, 147, "Dynkom_flush_eth(): pid: 0x%02x, semTake failed - errno %s", pid, strerror(errno));
            continue;
        }
        {
            std::lock_guard<std::mutex> lk(c->sockMx);
            const int fd = sendSocket(c, udp);
            if (fd >= 0 && f->fill > f->sentPos) {
                long sent = 0;
                const uint16_t before = f->sentPos;
                switch (sendHalf(f, fd, udp ? &c->udpAddr : nullptr, &sent)) {
                case SENT_ALL:
                    switchHalves(f);
                    ++c->cnt[online ? CNT_TX_ONLINE : CNT_TX_OFFLINE];
                    break;
                case SENT_ERROR:
                    if (f->errState != 1)
                        SYSLOGX_FLOOD(gFloodFlush, 158, "Dynkom_flush_eth(): pid: 0x%02x, send error during flush: %s", pid,
                                      strerror(errno));
                    f->errState = 1;
                    ++c->cnt[CNT_TX_ERR];
                    break;
                case SENT_PART:
                    if (f->errState != 2)
                        SYSLOGX_FLOOD(gFloodFlush, 158,
                                      "Dynkom_flush_eth(): pid: 0x%02x, send buffer overrun, req %d only %d error_snd_pos %d bytes of dynkom data sent",
                                      pid, int(f->fill - before), int(sent), int(before));
                    f->errState = 2;
                    f->sentPos = uint16_t(f->sentPos + sent);
                    ++c->cnt[CNT_TX_ERR];
                    break;
                }
            }
        }
        if (semGive(f->mutex) != OK)
            SYSLOGX_FLOOD(gFloodGive, 155, "Dynkom_flush_eth_offline(): semGive failed - errno %s", strerror(errno));
    }
}
