// DK records received over the data channel (TCP) and by UDP, into the sink
// FIFOs named by their magic numbers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <shared_mutex>

#include "measurement/dynkomm.h"
#include "measurement/measman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/DiraDir2/bc_socket.h"
#include "virari/sernet_man.h"

namespace {
uint8_t gFloodUdpRx = 0;

// from: the address (network order) the record came from.
void tooLong(uint32_t from, uint16_t len, unsigned room, uint32_t magic) {
    ++bc2().dkDropped;
    BC2_LOG_FROM(from, FL_TOO_LONG, 147, "Diradir2: DK record of %u bytes for magic 0x%08x dropped, room %u",
                 unsigned(len), magic, room);
}
}  // namespace

int bc_dk_receive(bc2_channel* c, int fd) {
    bc2_state& s = bc2();
    if (fd < 0) {
        syslogx(155, "NULL pointer file %s line %d, socket %X", __FILE__, __LINE__, unsigned(fd));
        return 0;
    }
    uint8_t hdr[DK_RECORD_HEADER];
    long n = bc2_recv_packet(fd, hdr, sizeof hdr, 0);
    if (n < 0) {
        const int err = errno;   // the limiter may log
        if (!bcSocket_isShutdown())
            BC2_LOG_FROM(c->peer, FL_RX_HEADER, 155,
                         "Diradir2: DK channel - Error PID 0x%X receiving serial network header, '%s'", c->pid,
                         strerror(err));
        ++c->cnt[CNT_RX_ERR];
        return 0;
    }
    if (n == 0) {
        BC2_LOG_FROM(c->peer, FL_RX_CLOSED, 158, "Diradir2: DK channel - socket closed");
        return 0;
    }
    const uint16_t dst = be_get16(hdr), len = be_get16(hdr + 2);
    const uint32_t magic = be_get32(hdr + 4);
    if (dst != s.ownPid) {
        BC2_LOG_FROM(c->peer, FL_RX_NO_ROUTE, 155, "Diradir2: DK channel - received data for PID 0x%X - no routing available",
                     unsigned(dst));
        ++c->cnt[CNT_RX_ERR];
        if (c->stray || len > 512) {
            c->stray = 0;
            return 0;
        }
        if (!bc2_recv_discard(fd, len)) {
            BC2_LOG_FROM(c->peer, FL_RX_DATA, 155, "Diradir2: DK channel - Error receiving dynkom data (4)");
            return 0;
        }
        c->stray = 1;
        return 1;
    }
    c->stray = 0;
    bc2_peer_signed(c->pid);
    // The sink stays allocated while its slot is written (its release takes
    // this lock exclusively).
    std::shared_lock<std::shared_mutex> lk(sernet_sink_lock());
    dynkomm_fifo_t* f = nullptr;
    if (dynkomm_get_fifo(magic, &f) != 1 || !f) {
        lk.unlock();
        if (!bc2_recv_discard(fd, len)) {
            BC2_LOG_FROM(c->peer, FL_RX_DATA, 155, "Diradir2: DK channel - Error receiving dynkom data");
            return 0;
        }
        return 1;
    }
    ++c->cnt[CNT_RX];
    if (len > f->slotsize) {
        lk.unlock();
        ++c->cnt[CNT_RX_ERR];
        tooLong(c->peer, len, f->slotsize, magic);
        return bc2_recv_discard(fd, len) ? 1 : 0;
    }
    uint8_t* slot = dynkomm_write(f);
    if (!slot) {
        lk.unlock();
        meas_man_count_loss();
        BC2_LOG_FROM(c->peer, FL_FIFO_FULL, 150, "Diradir2: DK channel - FIFO of magic 0x%08x full, record dropped", magic);
        if (!bc2_recv_discard(fd, len)) {
            BC2_LOG_FROM(c->peer, FL_RX_DATA, 155, "Diradir2: DK channel - Error receiving dynkom data (2)");
            return 0;
        }
        return 1;
    }
    if (len && bc2_recv_packet(fd, slot, len, 0) != long(len)) {
        BC2_LOG_FROM(c->peer, FL_RX_DATA, 155, "Diradir2: DK channel - Error receiving dynkom data");
        return 0;
    }
    if (len < f->slotsize) std::memset(slot + len, 0, f->slotsize - len);
    dynkomm_writedone(f);
    return 1;
}

void bc2_dk_datagram(const uint8_t* buf, size_t len, uint32_t fromNet) {
    bc2_state& s = bc2();
    size_t pos = 0;
    unsigned lastSrc = BC2_PIDS;
    while (pos < len) {
        if (len - pos < DK_RECORD_HEADER) {
            tooLong(fromNet, uint16_t(len - pos), 0, 0);
            break;
        }
        const uint8_t* r = buf + pos;
        const uint16_t dst = be_get16(r), n = be_get16(r + 2);
        const uint32_t magic = be_get32(r + 4);
        // A record reaching beyond the datagram ends the walk: what follows
        // cannot be trusted.
        if (n > len - pos - DK_RECORD_HEADER) {
            tooLong(fromNet, n, unsigned(len - pos - DK_RECORD_HEADER), magic);
            break;
        }
        if (dst == s.ownPid) {
            std::shared_lock<std::shared_mutex> lk(sernet_sink_lock());
            dynkomm_fifo_t* f = nullptr;
            if (dynkomm_get_fifo(magic, &f) == 1 && f) {
                lastSrc = f->src_pid;
                if (n > f->slotsize) {
                    tooLong(fromNet, n, f->slotsize, magic);
                } else if (uint8_t* slot = dynkomm_write(f)) {
                    std::memcpy(slot, r + DK_RECORD_HEADER, n);
                    if (n < f->slotsize) std::memset(slot + n, 0, f->slotsize - n);
                    dynkomm_writedone(f);
                } else {
                    meas_man_count_loss();
                    BC2_LOG_FROM(fromNet, FL_FIFO_FULL, 150,
                                 "Diradir2: DK UDP channel - cannot write data to fifo data from pid 0x%02x, type 0x%x, slots %d, raster %d",
                                 unsigned(f->src_pid), unsigned(f->mode), int(f->slotcount), int(f->raster));
                }
            }
        } else {
            BC2_LOG_FROM(fromNet, FL_RX_NO_ROUTE, 147,
                         "Diradir2: DK UDP channel - received data for PID 0x%X - no routing available", unsigned(dst));
        }
        pos += DK_RECORD_HEADER + n;
    }
    if (lastSrc < BC2_PIDS) {
        bc2_peer_signed(lastSrc);
        if (bc2_channel* c = s.hosts[lastSrc].dk) ++c->cnt[CNT_RX_UDP];
    }
}

void BC2_dk_udp_listen() {
    bc2_state& s = bc2();
    int fd = s.dkUdpRx;
    if (fd < 0) {
        fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            syslogx(155, "Diradir2: Create UDP Rx Socket failed (DK)");
            return;
        }
        int one = 1;
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0)
            syslogx(155, "BC2_dk_udp_listen: Setting SO_REUSEPORT option failed");
        sockaddr_in a = bc2_sockaddr(s.ownAddr, uint16_t(s.offset + BC2_PORT_DK_UDP));
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            syslogx(155, "Diradir2: Socket bind Rx failed (DK), %s", strerror(errno));
            return;
        }
        s.dkUdpRx = fd;
    } else {
        syslogx(158, "Diradir2: Socket Rx already exists... (DK)");
    }
    taskCpuAffinitySet(taskIdSelf(), 1u);
    uint8_t buf[DK_BLOCK_SIZE];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (s.stop) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            SYSLOGX_FLOOD(gFloodUdpRx, 147, "Diradir2: DK UDP channel - Error receiving UDP packet");
            if (errno == EBADF || errno == ENOTSOCK) return;
            continue;
        }
        bc2_dk_datagram(buf, size_t(n), from.sin_addr.s_addr);
    }
}
