// Channel records, passive and active connection set-up, the receive tasks
// and the disconnect.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/DiraDir2/bc_socket.h"

namespace {
std::mutex gCreateMx;   // creation of channel records and their tasks
constexpr int kSendTimeoutMs = 1000;

std::atomic<uint64_t>& ownMask(int type) { return type == CH_CI ? bc2().ciMask : bc2().dkMask; }

bool setOpt(int fd, int level, int opt, const void* v, socklen_t len) {
    return setsockopt(fd, level, opt, v, len) == 0;
}
bool setInt(int fd, int level, int opt, int v) { return setOpt(fd, level, opt, &v, sizeof v); }

// Low delay, no Nagle, the buffer sizes of the device network; each failure
// is logged with the caller's prefix and ignored.
void tcpOptions(int fd, const char* who) {
    if (!setInt(fd, IPPROTO_IP, IP_TOS, 0x10)) syslogx(155, "%s: Setting IP_TOS option failed %s", who, strerror(errno));
    if (!setInt(fd, IPPROTO_TCP, TCP_NODELAY, 1))
        syslogx(155, "%s: Setting TCP_NODELAY option failed %s", who, strerror(errno));
    if (!setInt(fd, SOL_SOCKET, SO_SNDBUF, BC2_SOCKBUF))
        syslogx(155, "%s: Setting SO_SNDBUF option failed %s", who, strerror(errno));
    if (!setInt(fd, SOL_SOCKET, SO_RCVBUF, BC2_SOCKBUF))
        syslogx(155, "%s: Setting SO_RCVBUF option failed %s", who, strerror(errno));
}

// Closes at once (no lingering) and bounds a blocking connect or send, so
// that a vanished peer cannot hold a sender for long.
bool lingerAndTimeout(int fd) {
    linger l{1, 0};
    timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    setOpt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return setOpt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

// from: the peer the socket was connected to, whose close lines are limited.
void closeSocket(int fd, const char* name, uint32_t from) {
    if (bcSocket_isShutdown()) return;
    if (bcSocket_close(fd, bc2_flood_pass(from, FL_CLOSE, bc2_now_ms())) != 0)
        syslogx(155, "BC2_disconnect(): close of TCP %s socket failed (%u)", name, unsigned(errno));
}

// The receive task gives up its connection: the socket is forgotten under the
// channel's lock (no sender uses it any more) and closed.
void endConnection(bc2_channel* c, int fd) {
    {
        std::lock_guard<std::mutex> lk(c->sockMx);
        if (c->sock == fd) c->sock = -1;
        c->taskFd = -1;
        bc2_ci_tx_reset_buffer(c->tx);
    }
    closeSocket(fd, c->name, c->peer);
    if (c->offline) BC2_snd_framer_ini(c->offline, c->type);
    if (c->online) BC2_snd_framer_ini(c->online, c->type);
}

// This side opens the channel's connection: its address is the greater one
// of the two, the peer's as its presence last told it.
bool connectsActively(bc2_channel* c) {
    bc2_state& s = bc2();
    uint32_t peerAddr;
    {
        std::lock_guard<std::mutex> lk(s.mx);
        std::memcpy(&peerAddr, c->host->msg + PM_ADDR, 4);
    }
    return bc2_addr_greater(s.ownAddr, peerAddr);
}

void BC2_eth_recv(bc2_channel* c) {
    if (!c || !c->recv) {
        syslogx(155, "BC2_eth_recv(): NULL pointer file %s line %d", __FILE__, __LINE__);
        return;
    }
    bc2_state& s = bc2();
    for (;;) {
        if (semTake(c->wake, WAIT_FOREVER) != OK) {
            syslogx(155, "BC2_eth_recv(): Error aquiring semaphore");
            semGive(c->wake);
            taskDelay(1);
            continue;
        }
        if (s.stop) return;
        if (c->type == CH_DK) taskCpuAffinitySet(taskIdSelf(), 1u);
        int fd;
        {
            std::lock_guard<std::mutex> lk(c->sockMx);
            fd = c->sock;
            c->taskFd = fd;
        }
        if (fd < 0) {
            // Woken without a connection: only the side with the greater
            // address connects; the other one waits for the peer's (an
            // accepted connection that was replaced or reset before this
            // task took it wakes it, too).
            if (!connectsActively(c)) {
                c->state = CH_IDLE;
                continue;
            }
            fd = BC2_connect_active(c->tcpAddr, c->type);
            if (fd < 0) {
                BC2_LOG_FROM(c->tcpAddr.sin_addr.s_addr, FL_NO_SOCKET, 155, "BC2_eth_recv: %s - could not create socket!",
                             c->name);
                c->state = CH_IDLE;
                continue;
            }
            std::lock_guard<std::mutex> lk(c->sockMx);
            c->sock = fd;
            c->taskFd = fd;
            c->peer = c->tcpAddr.sin_addr.s_addr;
            bc2_ci_tx_reset_buffer(c->tx);
        }
        c->state = CH_ESTABLISHED;
        ownMask(c->type) |= pidBit(c->pid);
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        BC2_LOG_FROM(c->peer, FL_ESTABLISHED, 158, "BC2_eth_recv(): %s channel to PID 0x%X established after: %d.%03ds",
                     c->name, c->pid, int(now.tv_sec), int(now.tv_nsec / 1000000));
        while (!s.stop && c->recv(c, fd)) {
        }
        endConnection(c, fd);
        ownMask(c->type) &= ~pidBit(c->pid);
        c->state = CH_ENDED;
        if (s.stop) return;
    }
}

// Of the hosts online at the peer's address, an old one matches by address
// alone, a newer one also by the port its connections come from; when a
// device at that address changed its PID, the one heard last is taken.
}  // namespace

bc2_host* bc2_match_peer(const sockaddr_in& peer, int type) {
    bc2_state& s = bc2();
    std::lock_guard<std::mutex> lk(s.mx);
    bc2_host* best = nullptr;
    for (unsigned pid = 0; pid < BC2_PIDS; ++pid) {
        bc2_host& h = s.hosts[pid];
        if (h.kind != LINK_PRESENCE || !h.online) continue;
        uint32_t addr;
        std::memcpy(&addr, h.msg + PM_ADDR, 4);
        if (addr != peer.sin_addr.s_addr) continue;
        uint16_t port = uint16_t(h.offset + (type == CH_CI ? BC2_PORT_CI_ACTIVE : BC2_PORT_DK_ACTIVE));
        if (h.version >= 0x0202 && ntohs(peer.sin_port) != port) continue;
        if (!best || h.heardAt > best->heardAt) best = &h;
    }
    return best;
}

namespace {
void attachAccepted(int afd, const sockaddr_in& peer, int type) {
    const char* name = type == CH_CI ? "CI" : "DK";
    bc2_host* h = bc2_match_peer(peer, type);
    if (!h) {
        // Nobody we know: nothing would ever read from it. Anybody can make
        // these at will: their lines are limited per address.
        char ip[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        BC2_LOG_FROM(peer.sin_addr.s_addr, FL_NO_HOST, 158,
                     "BC2_connect_passive: connection from %s:%u matches no host, closed", ip,
                     unsigned(ntohs(peer.sin_port)));
        bcSocket_close(afd, bc2_flood_pass(peer.sin_addr.s_addr, FL_CLOSE, bc2_now_ms()));
        return;
    }
    bc2_channel* c = type == CH_CI ? h->ci.load() : h->dk.load();
    if (!c) c = BC2_create_channel_config(h, type);
    if (!c) {
        bcSocket_close(afd);
        return;
    }
    if (type == CH_DK) {
        if (c->udpSet)
            BC2_LOG_FROM(peer.sin_addr.s_addr, FL_UDP_TWICE, 158,
                         "Diradir2: somebody created a UDP DK Tx socket here before ?!?");
        // Online data follows the new connection: a device that restarted
        // at another address would otherwise never get it again.
        uint16_t offset;
        {
            std::lock_guard<std::mutex> lk(bc2().mx);
            offset = h->offset;
        }
        std::lock_guard<std::mutex> lk(c->sockMx);
        c->udpAddr = bc2_sockaddr(peer.sin_addr.s_addr, uint16_t(offset + BC2_PORT_DK_UDP));
        c->udpSet = true;
    }
    int old;
    bool oldOwned;
    uint32_t oldPeer;
    {
        std::lock_guard<std::mutex> lk(c->sockMx);
        old = c->sock;
        oldPeer = c->peer;
        oldOwned = old >= 0 && old == c->taskFd;
        c->sock = afd;
        c->peer = peer.sin_addr.s_addr;
        bc2_ci_tx_reset_buffer(c->tx);   // the tail of a message on the old connection
    }
    // A connection still being served is ended by its task; one not yet
    // picked up is ours to close.
    if (old >= 0) {
        if (oldOwned) shutdown(old, SHUT_RDWR);
        else closeSocket(old, name, oldPeer);   // its line counts against the peer it came from
    }
    if (!BC2_recv_activate(c)) {
        syslogx(155, "BC2_connect_passive(): creation of %s receive task failed", name);
        {
            std::lock_guard<std::mutex> lk(c->sockMx);
            if (c->sock == afd) c->sock = -1;
        }
        if (bcSocket_close(afd) != 0) syslogx(155, "BC2_connect_passive(): close of TCP %s socket failed", name);
    }
}
}  // namespace

long bc2_recv_packet(int fd, void* buf, size_t len, int flags) {
    size_t got = 0;
    while (got < len) {
        ssize_t n = recv(fd, static_cast<uint8_t*>(buf) + got, len - got, flags);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) return long(n);
        got += size_t(n);
    }
    return long(len);
}

bool bc2_recv_discard(int fd, size_t len) {
    uint8_t scratch[512];
    while (len > 0) {
        size_t n = len < sizeof scratch ? len : sizeof scratch;
        if (bc2_recv_packet(fd, scratch, n, 0) != long(n)) return false;
        len -= n;
    }
    return true;
}

bc2_channel* BC2_create_channel_config(bc2_host* h, int type) {
    if (!h || (type != CH_CI && type != CH_DK)) return nullptr;
    std::lock_guard<std::mutex> lk(gCreateMx);
    std::atomic<bc2_channel*>& slot = type == CH_CI ? h->ci : h->dk;
    if (bc2_channel* c = slot) return c;
    auto* c = new bc2_channel;
    c->name = type == CH_CI ? "CI" : "DK";
    c->type = type;
    c->host = h;
    c->pid = unsigned(h - bc2().hosts);
    c->recv = type == CH_CI ? bc_ci_receive : bc_dk_receive;
    if (type == CH_CI) c->tx = new bc2_txbuf;
    {
        std::lock_guard<std::mutex> hl(bc2().mx);
        uint32_t addr;
        std::memcpy(&addr, h->msg + PM_ADDR, 4);
        c->tcpAddr = bc2_sockaddr(addr, uint16_t(h->offset + (type == CH_CI ? BC2_PORT_CI : BC2_PORT_DK)));
    }
    if (type == CH_DK) {
        c->offline = new bc2_framer;
        c->online = new bc2_framer;
        BC2_snd_framer_ini(c->offline, type);
        BC2_snd_framer_ini(c->online, type);
    }
    slot = c;
    return c;
}

int BC2_recv_activate(bc2_channel* c) {
    if (!c) {
        syslogx(155, "NULL pointer file %s line %d", __FILE__, __LINE__);
        return 0;
    }
    std::lock_guard<std::mutex> lk(gCreateMx);
    if (c->task) return semGive(c->wake) == OK ? 1 : 0;
    if (!c->wake) c->wake = semCCreate(SEM_Q_PRIORITY, 1);
    if (!c->wake) {
        syslogx(155, "BC2_recv_activate(): semCCreate failed - errno %s", strerror(errno));
        return 0;
    }
    char name[16];
    snprintf(name, sizeof name, "r_%s_PID%02X", c->name, c->pid & 0xFF);
    c->task = taskSpawn(name, 77, VX_FP_TASK, 10000, [c] { BC2_eth_recv(c); });
    if (!c->task) {
        syslogx(147, "Diradir2: creation of %s receive task for PID 0x%X failed", c->name, c->pid);
        return 0;
    }
    return 1;
}

void BC2_disconnect(bc2_channel* c) {
    if (!c) {
        syslogx(155, "BC2_disconnect(): NULL pointer file %s line %d", __FILE__, __LINE__);
        return;
    }
    int fd;
    bool owned;
    {
        std::lock_guard<std::mutex> lk(c->sockMx);
        fd = c->sock;
        owned = fd >= 0 && fd == c->taskFd;
        if (fd >= 0 && !owned) c->sock = -1;
        bc2_ci_tx_reset_buffer(c->tx);
    }
    if (fd >= 0) {
        if (!bcSocket_isShutdown())
            BC2_LOG_FROM(c->peer, FL_DISCONNECTING, 158, "Diradir2: Disconnecting TCP %s socket", c->name);
        // The receive task works on its socket: waking it ends the connection
        // and the task closes it; a socket without task is closed here.
        if (owned) shutdown(fd, SHUT_RDWR);
        else closeSocket(fd, c->name, c->peer);
    }
    if (c->offline) BC2_snd_framer_ini(c->offline, c->type);
    if (c->online) BC2_snd_framer_ini(c->online, c->type);
}

uint32_t bc2_channel_peer(bc2_channel* c) {
    if (!c) return 0;
    std::lock_guard<std::mutex> lk(c->sockMx);
    const int fd = c->sock;
    if (fd < 0) return 0;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 || peer.sin_family != AF_INET) return 0;
    return peer.sin_addr.s_addr;
}

int BC2_connect_active(const sockaddr_in& peer, int type) {
    bc2_state& s = bc2();
    const char* who = "BC2_connect_active";
    int fd = bcSocket_get(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        syslogx(155, "BC2_connect_active: Create TCP socket failed");
        return -1;
    }
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1) || !setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1))
        syslogx(155, "BC2_connect_active: Setting SO_REUSEPORT option failed %s", strerror(errno));
    sockaddr_in local = bc2_sockaddr(s.ownAddr, uint16_t(s.offset + (type == CH_CI ? BC2_PORT_CI_ACTIVE
                                                                                  : BC2_PORT_DK_ACTIVE)));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        BC2_LOG_FROM(peer.sin_addr.s_addr, FL_BIND, 155,
                     "BC2_connect_active: connect active, binding TCP send socket on port: %x failed",
                     unsigned(local.sin_port));
        bcSocket_close(fd, bc2_flood_pass(peer.sin_addr.s_addr, FL_CLOSE, bc2_now_ms()));
        return -1;
    }
    tcpOptions(fd, who);
    if (!lingerAndTimeout(fd)) syslogx(155, "BC2_connect_active: Setting SO_LINGER option failed %s", strerror(errno));
    BC2_LOG_FROM(peer.sin_addr.s_addr, FL_CONNECTING, 159, "BC2_connect_active: going to connect, fd %u", unsigned(fd));
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        const int err = errno;   // the limiter may log
        BC2_LOG_FROM(peer.sin_addr.s_addr, FL_CONNECT_FAILED, 155, "BC2_connect_active: Connecting TCP socket failed: %s",
                     strerror(err));
        if (!bcSocket_isShutdown() && bcSocket_close(fd, bc2_flood_pass(peer.sin_addr.s_addr, FL_CLOSE, bc2_now_ms())) != 0)
            syslogx(155, "BC2_connect_active: close TCP socket failed: %s", strerror(errno));
        return -1;
    }
    BC2_LOG_FROM(peer.sin_addr.s_addr, FL_CONNECTING, 159, "BC2_connect_active: connected, fd %u", unsigned(fd));
    return fd;
}

void BC2_connect_passive(int type) {
    bc2_state& s = bc2();
    const char* who = "BC2_connect_passive";
    const uint16_t port = uint16_t(s.offset + (type == CH_CI ? BC2_PORT_CI : BC2_PORT_DK));
    int fd = bcSocket_get(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        syslogx(155, "BC2_connect_passive: Create TCP connect listen socket port: %u failed", unsigned(port));
        return;
    }
    tcpOptions(fd, who);
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1) || !setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1))
        syslogx(155, "BC2_connect_passive: Setting SO_REUSEPORT option failed %s", strerror(errno));
    sockaddr_in addr = bc2_sockaddr(s.ownAddr, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        syslogx(155, "BC2_connect_passive: Binding TCP listen socket on port %u failed errno %s", unsigned(port),
                strerror(errno));
        return;
    }
    if (listen(fd, 10) != 0) {
        syslogx(155, "BC2_connect_passive: listen on TCP port %u caused error", unsigned(port));
        return;
    }
    s.ready2connect = true;
    for (;;) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(fd, &rd);
        int n = select(fd + 1, &rd, nullptr, nullptr, nullptr);
        if (s.stop) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            syslogx(155, "BC2_connect_passive: select() failed, errno %s", strerror(errno));
            return;
        }
        if (n == 0) {
            syslogx(155, "BC2_connect_passive: select() timeout");
            return;
        }
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int afd = bcSocket_accept(fd, reinterpret_cast<sockaddr*>(&peer), &len);
        if (s.stop) {
            if (afd >= 0) bcSocket_close(afd);
            return;
        }
        if (afd < 0) {
            syslogx(155, "BC2_connect_passive: accept() failed, errno %s", strerror(errno));
            if (errno == EINVAL || errno == EBADF) return;   // the listen socket is gone
            continue;
        }
        BC2_LOG_FROM(peer.sin_addr.s_addr, FL_ACCEPT, 158, "BC2_connect_passive, port %u, fd %u",
                     unsigned(ntohs(peer.sin_port)), unsigned(afd));
        if (!lingerAndTimeout(afd)) syslogx(155, "BC2_connect_passive: Setting SO_LINGER option failed(2)");
        attachAccepted(afd, peer, type);
    }
}

std::shared_mutex& bc2_channels_lock() {
    static std::shared_mutex m;
    return m;
}

void bc2_keep_channels() {
    static auto& kept = *new std::vector<bc2_channel*>;   // never destroyed: a leak, kept reachable
    std::unique_lock<std::shared_mutex> users(bc2_channels_lock());
    std::lock_guard<std::mutex> lk(gCreateMx);
    for (bc2_host& h : bc2().hosts)
        for (auto* slot : {&h.ci, &h.dk})
            if (bc2_channel* c = slot->exchange(nullptr)) kept.push_back(c);
}

void bc2_free_channels() {
    std::unique_lock<std::shared_mutex> users(bc2_channels_lock());
    std::lock_guard<std::mutex> lk(gCreateMx);
    for (bc2_host& h : bc2().hosts) {
        for (auto* slot : {&h.ci, &h.dk}) {
            bc2_channel* c = slot->exchange(nullptr);
            if (!c) continue;
            if (c->wake) semDelete(c->wake);
            bc2_framer_free(c->offline);
            bc2_framer_free(c->online);
            delete[] c->rxBuf;
            delete c->tx;
            delete c;
        }
    }
}
