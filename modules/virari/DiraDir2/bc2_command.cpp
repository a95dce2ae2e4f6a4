// Command-interface messages over the CI channels and the command multicast
// channel.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/DiraDir2/bc_socket.h"

namespace {
// Commands are sent from several tasks: the flood counters of the send sites are atomic.
std::atomic<uint8_t> gFloodSend{0}, gFloodLocSock{0};
uint8_t gFloodMc = 0;

bool setInt(int fd, int level, int opt, int v) { return setsockopt(fd, level, opt, &v, sizeof v) == 0; }

// The channel a message to dst leaves on: the multicast channel for all
// devices, else the CI channel of the PID.
bc2_channel* channelFor(uint16_t dst) {
    if (dst == CI_PID_ALL) return bc2().hosts[BC2_HOST_MC].ci;
    if (!bc2_pid_valid(dst)) return nullptr;
    return bc2().hosts[dst].ci;
}

// Sends header and payload as one unit; 1 sent (or kept whole for the
// channel's send task). A message never leaves cut short: the peer would
// read the next header out of step.
int sendCommand(const ci_msg_t* msg, bool locSock) {
    if (!msg) return 0;
    const uint16_t dst = ci_get_dst(msg), len = ci_get_len(msg);
    if (len > CI_MAX_PAYLOAD) return 0;
    if (locSock && dst >= BC2_PIDS) return 0;
    std::shared_lock<std::shared_mutex> inUse(bc2_channels_lock());
    bc2_channel* c = channelFor(dst);
    if (!c) return 0;
    const size_t size = CI_HEADER_SIZE + len;
    const bool mc = dst == CI_PID_ALL;
    std::lock_guard<std::mutex> lk(c->sockMx);
    const int fd = c->sock;
    if (fd < 0) {
        if (locSock) ++c->cnt[CNT_TX_ERR];
        return 0;
    }
    if (mc) {
        ssize_t n = sendto(fd, msg, size, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&c->tcpAddr),
                           sizeof c->tcpAddr);
        if (n != ssize_t(size)) {
            syslogx(155, "Diradir2: comint_put_eth() Error sending mulitcast comint cmd");
            ++c->cnt[CNT_TX_ERR];
            return 0;
        }
        ++c->cnt[CNT_TX_ONLINE];
        return 1;
    }
    // Never waits on the peer: what the connection cannot take now is kept
    // for the channel's send task, or dropped when too much waits already.
    bool report = false;
    const int r = bc2_ci_send(c, fd, msg, size, &report);
    if (r == 1) {
        ++c->cnt[CNT_TX_OFFLINE];
        return 1;
    }
    ++c->cnt[CNT_TX_ERR];
    if (r < 0 || report) {
        if (locSock)
            SYSLOGX_FLOOD(gFloodLocSock, 155, "Diradir2: comint_put_locSock() Error sending comint cmd 0x%X to PID 0x%X, %s",
                          ci_get_cmd(msg), dst, r < 0 ? strerror(errno) : "send buffer full");
        else
            SYSLOGX_FLOOD(gFloodSend, 155, "Diradir2: comint_put_eth() Error sending comint cmd to PID 0x%X -> 0x%X, cmd 0x%X",
                          ci_get_src(msg), dst, ci_get_cmd(msg));
    }
    return 0;
}
}  // namespace

int BC2_comint_put_eth(const ci_msg_t* msg) { return sendCommand(msg, false); }
int BC2_comint_put_locSock(const ci_msg_t* msg) { return sendCommand(msg, true); }

bool comint_status() { return bc2().hosts[BC2_HOST_MC].ci.load() != nullptr; }

int bc_ci_receive(bc2_channel* c, int fd) {
    ci_msg_t msg;
    long n = bc2_recv_packet(fd, msg.hdr, CI_HEADER_SIZE, 0);
    if (n < 0) {
        const int err = errno;   // the limiter may log
        if (!bcSocket_isShutdown())
            BC2_LOG_FROM(c->peer, FL_RX_HEADER, 155,
                         "Diradir2: CI channel - Error PID 0x%X receiving serial network header, '%s'", c->pid,
                         strerror(err));
        ++c->cnt[CNT_RX_ERR];
        return 0;
    }
    if (n == 0) {
        BC2_LOG_FROM(c->peer, FL_RX_CLOSED, 155, "Diradir2: CI channel - socket closed");
        return 0;
    }
    // A header no peer can send means the stream is out of step (random
    // bytes, a lost byte): whatever follows would be read with a length
    // taken from garbage, so the connection ends and the peer connects
    // again. The length counts as the 32-bit word of bytes 0 to 3, whose
    // upper half is always 0 in step. The source may be any device's PID:
    // a device hands on a command addressed to another one with the PID of
    // the device that sent it. PIDs are those a channel can lead to.
    const unsigned src = ci_get_src(&msg), dst = ci_get_dst(&msg);
    const uint32_t lenWord = be_get32(msg.hdr);
    if (!bc2_pid_valid(src) || (!bc2_pid_valid(dst) && dst != CI_PID_ALL) || lenWord > 0xFFFF) {
        BC2_LOG_FROM(c->peer, FL_OUT_OF_STEP, 155,
                     "Diradir2: CI channel - PID 0x%X out of step (source 0x%X, destination 0x%X, length 0x%X), closing",
                     c->pid, src, dst, unsigned(lenWord));
        ++c->cnt[CNT_RX_ERR];
        return 0;
    }
    const unsigned len = ci_get_len(&msg);
    // A payload beyond the message buffer is never received into it: its
    // bytes are read past, so the stream stays in step.
    if (len > CI_MAX_PAYLOAD) {
        BC2_LOG_FROM(c->peer, FL_TOO_LONG, 155, "bc_ci_receive recv. bytes : %d (%d)", int(len), int(CI_MAX_PAYLOAD));
        ++c->cnt[CNT_RX_ERR];
        return bc2_recv_discard(fd, len) ? 1 : 0;
    }
    if (len && bc2_recv_packet(fd, msg.payload, len, 0) != long(len)) {
        BC2_LOG_FROM(c->peer, FL_RX_DATA, 155, "Diradir2:CI channel - Error receiving comint cmd");
        ++c->cnt[CNT_RX_ERR];
        return 0;
    }
    // The network is stopping: the channel ends. Quiet, in the process's
    // shutdown, the command interface goes next: what still arrives is not
    // handed on, but the channel stays up so that the stop requests of the
    // measurement lists still reach their devices.
    bc2_peer_signed(c->pid);   // not the multicast channel's: no PID of a device
    if (bc2().stop) return 0;
    if (bc2().quiet) return 1;
    if (ci_get_dst(&msg) == bc2().ownPid) {
        ++c->cnt[CNT_RX];
        comint_queue_cmd(&msg);
    } else {
        comint_put_cmd(&msg, 0);
    }
    return 1;
}

void BC2_CI_MC_listen() {
    bc2_state& s = bc2();
    int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        syslogx(155, "BC2_CI_MC_listen(): Create MC CI listen Rx socket failed");
        return;
    }
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1)) {
        syslogx(155, "BC2_CI_MC_listen(): Setting Rx socket reuse address option failed, errno %s", strerror(errno));
        return;
    }
    in_addr ifAddr{};
    ifAddr.s_addr = s.ownAddr;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0) {
        syslogx(155, "BC2_CI_MC_listen(): Socket RxTx set socket option IP_MULTICAST_IF failed! (%s)", strerror(errno));
        return;
    }
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = inet_addr(BC2_GROUP_CI);
    mreq.imr_interface.s_addr = s.ownAddr;
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        syslogx(155, "BC2_CI_MC_listen(): Setting RxTx socket multicast option on port %u failed, errno %s",
                unsigned(BC2_PORT_CI_MC), strerror(errno));
        return;
    }
    sockaddr_in any = bc2_sockaddr(htonl(INADDR_ANY), BC2_PORT_CI_MC);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        syslogx(155, "BC2_CI_MC_listen(): Socket bind RxTx on port %u failed", unsigned(BC2_PORT_CI_MC));
        return;
    }
    if (!setInt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, 0)) {
        syslogx(155, "BC2_CI_MC_listen(): Socket Tx set socket option no loop failed!");
        return;
    }
    auto* c = new (std::nothrow) bc2_channel;
    if (!c) {
        syslogx(155, "BC2_CI_MC_listen: malloc for channel failed");
        return;
    }
    c->name = "CI";
    c->type = CH_CI;
    c->pid = BC2_HOST_MC;
    c->host = &s.hosts[BC2_HOST_MC];
    c->sock = fd;
    c->tcpAddr = bc2_sockaddr(inet_addr(BC2_GROUP_CI), BC2_PORT_CI_MC);
    c->state = CH_ESTABLISHED;
    s.hosts[BC2_HOST_MC].ci = c;
    ci_msg_t msg;
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(fd, &msg, sizeof msg, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (s.stop) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            SYSLOGX_FLOOD(gFloodMc, 155, "BC2_CI_MC_listen(): Error receiving serial network header");
            ++s.mcRxErr;
            if (errno == EBADF || errno == ENOTSOCK) return;
            continue;
        }
        ++s.mcRxCnt;
        // Only what the datagram holds is a message.
        if (size_t(n) < CI_HEADER_SIZE || CI_HEADER_SIZE + ci_get_len(&msg) > size_t(n)) {
            ++s.mcRxErr;
            continue;
        }
        // Our own command to all devices, sent from this very socket: the
        // sender has served it here already. Multicast loop-back is off, but
        // a device on the loopback interface still hears itself.
        if (from.sin_addr.s_addr == s.ownAddr && from.sin_port == htons(BC2_PORT_CI_MC)) continue;
        if (s.quiet) continue;
        ci_set_dst(&msg, s.ownPid);
        comint_queue_cmd(&msg);
    }
}
