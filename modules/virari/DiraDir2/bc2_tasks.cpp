// Start and stop of DiraDir2 and the two presence tasks.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <shared_mutex>

#include "platform/appman.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/DiraDir2/bc_socket.h"

namespace {
enum { T_CI_DAEMON, T_DK_DAEMON, T_MC_LISTEN, T_MC_SEND, T_CI_MC_LISTEN, T_DK_UDP_LISTEN, T_CI_SEND, T_COUNT };
TASK_ID gTasks[T_COUNT] = {};

bool setInt(int fd, int level, int opt, int v) { return setsockopt(fd, level, opt, &v, sizeof v) == 0; }

void BC2_UDP_send() {
    bc2_state& s = bc2();
    int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        syslogx(155, "BC2_UDP_send(): Create UDP Tx Socket failed");
        return;
    }
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1)) {
        syslogx(155, "BC2_UDP_send(): Setting Tx socket reuse address option failed, errno %s", strerror(errno));
        return;
    }
    in_addr ifAddr{};
    ifAddr.s_addr = s.ownAddr;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0) {
        syslogx(155, "BC2_UDP_send(): Socket Tx set socket option IP_MULTICAST_IF failed! (%s)", strerror(errno));
        return;
    }
    const uint16_t port = uint16_t(s.offset + BC2_PORT_PRESENCE_TX);
    sockaddr_in any = bc2_sockaddr(htonl(INADDR_ANY), port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        syslogx(155, "BC2_UDP_send(): Socket bind Tx on port %u failed, errno %s", unsigned(port), strerror(errno));
        return;
    }
    if (!setInt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, 0)) {
        syslogx(155, "BC2_UDP_send: Setting Rx socket multicast loop option failed, errno %s", strerror(errno));
        return;
    }
    const sockaddr_in group = bc2_sockaddr(inet_addr(BC2_GROUP_PRESENCE), BC2_PORT_PRESENCE);
    uint8_t msg[BC2_MSG_SIZE];
    while (!s.stop) {
        // Nobody could connect before a listen task listens: stay silent.
        if (s.ready2connect) {
            ++s.seq;
            bc2_build_presence(msg);
            if (sendto(fd, msg, sizeof msg, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&group), sizeof group) !=
                ssize_t(sizeof msg))
                syslogx(155, "BC2_UDP_send(): Sending multicast message failed");
            bc2_timeout_pass();
        }
        taskDelay(sysClkRateGet() * BC2_PERIOD_MS / 1000);
    }
}

void BC2_UDP_listen() {
    bc2_state& s = bc2();
    int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        syslogx(155, "BC2_UDP_listen(): Create UDP Rx Socket failed");
        return;
    }
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1)) {
        syslogx(155, "BC2_UDP_listen: Setting Rx socket reuse address option failed, errno %s", strerror(errno));
        return;
    }
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = inet_addr(BC2_GROUP_PRESENCE);
    mreq.imr_interface.s_addr = s.ownAddr;
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        syslogx(155, "BC2_UDP_listen: Setting Rx socket multicast option failed, errno %s", strerror(errno));
        return;
    }
    sockaddr_in any = bc2_sockaddr(htonl(INADDR_ANY), BC2_PORT_PRESENCE);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        syslogx(155, "BC2_UDP_listen: Socket bind Rx failed");
        return;
    }
    uint8_t buf[1000];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (s.stop) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            syslogx(155, "BC2_UDP_listen: recvfrom failed errno %s", strerror(errno));
            if (errno == EBADF || errno == ENOTSOCK) return;
            continue;
        }
        ++s.rxcnt;
        bc2_presence_receive(buf, size_t(n), from);
    }
}

struct TaskSpec {
    const char* name;
    int priority;
    size_t stack;
    void (*body)();
    const char* spawnFailed;
};
const TaskSpec kTasks[T_COUNT] = {
    {"r_BC2_CI_daemon", 74, 5000, [] { BC2_connect_passive(CH_CI); }, "BC2_eth_ini(): taskSpawn failed 'BC2 CI daemon'"},
    {"r_BC2_DK_daemon", 79, 5000, [] { BC2_connect_passive(CH_DK); },
     "BC2_eth_ini(): Failed to start task 'BC2 DK daemon'"},
    {"r_UDP_MC_listen", 75, 5000, BC2_UDP_listen, "BC2_eth_ini(): Failed to start task 'UDP MC listen'"},
    {"r_UDP_MC_send", 76, 5000, BC2_UDP_send, "BC2_eth_ini(): Failed to start task 'UDP MC send'"},
    {"r_BC2_MC_CI_listen", 77, 5000, BC2_CI_MC_listen, "BC2_eth_ini(): Failed to start task 'BC2 CI MC listen'"},
    {"r_BC2_DK_UDP_listen", 78, 10000, BC2_dk_udp_listen, "BC2_eth_ini(): Failed to start task 'BC2 DK UDP listen'"},
    // writes what the command channels' connections could not take at once
    {"r_BC2_CI_send", 76, 10000, BC2_CI_send, "BC2_eth_ini(): Failed to start task 'BC2 CI send'"},
};

void resetState() {
    bc2_state& s = bc2();
    std::lock_guard<std::mutex> lk(s.mx);
    for (bc2_host& h : s.hosts) {
        std::memset(h.msg, 0, sizeof h.msg);
        h.timeout = 0;
        h.online = h.version = h.offset = h.kind = 0;
        h.from = sockaddr_in{};
        h.heardAt = 0;
        h.lastSign = 0;
        h.routeAdded = false;
        h.chanAddr = 0;
        h.chanTimeout = 0;
        h.runs = 0;
        h.missed = 0;
        h.secondUnit = 0;
        h.secondNamed = false;
    }
    s.heard = 0;
    s.quiet = false;
    s.detect = 0;
    s.ciMask = pidBit(s.ownPid);
    s.dkMask = pidBit(s.ownPid);
    s.seq = 0;
    s.rxcnt = 0;
    s.mcRxCnt = 0;
    s.mcRxErr = 0;
    s.dkDropped = 0;
    s.ready2connect = false;
    s.udpTx = -1;
    s.dkUdpRx = -1;
    if (s.ownPid < BC2_HOSTS) {
        s.hosts[s.ownPid].version = BC2_VERSION;
        s.hosts[s.ownPid].offset = s.offset;
    }
}
}  // namespace

int BC2_init() {
    bc2_state& s = bc2();
    if (gTasks[T_MC_SEND]) return 1;   // already running
    s.stop = false;
    s.offset = AppMan_getBC2PortOffset();
    s.ownAddr = inet_addr(device_ip_addr);
    s.ownPid = app_pid;
    s.unitId = unit_id_get();
    s.bootCount = base_boot_count_get();
    resetState();

    int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        syslogx(158, "Diradir2: Create UDP Tx Socket failed (DK)");
        return 0;
    }
    if (!setInt(fd, SOL_SOCKET, SO_REUSEPORT, 1)) {
        syslogx(155, "BC2_eth_ini: Setting Tx socket reuse address option failed, errno %s", strerror(errno));
        bcSocket_close(fd);
        return 0;
    }
    sockaddr_in a = bc2_sockaddr(s.ownAddr, uint16_t(s.offset + BC2_PORT_DK_UDP_TX));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        syslogx(158, "Diradir2: UDP Socket bind Tx failed (DK)");
        bcSocket_close(fd);
        return 0;
    }
    s.udpTx = fd;

    for (int i = 0; i < T_COUNT; ++i) {
        const TaskSpec& t = kTasks[i];
        gTasks[i] = taskSpawn(t.name, t.priority, VX_FP_TASK, t.stack, [body = t.body] { body(); });
        if (!gTasks[i]) {
            // Without this task DiraDir2 cannot work as a whole; the rest of
            // the device goes on without it.
            syslogx(155, "%s", t.spawnFailed);
            if (i != T_DK_UDP_LISTEN) {
                BC2_shutdown();
                return 0;
            }
        }
    }
    syslogx(150, "BC2_eth_ini(): Initialisation finished");
    return 1;
}

void BC2_stop() {
    bc2().stop = true;
    bc2_ci_send_wake();   // it sleeps until a command waits, which may be never
}

void BC2_quiet() { bc2().quiet = true; }

void BC2_shutdown() {
    bc2_state& s = bc2();
    s.stop = true;
    bcSocket_wakeAll();
    for (bc2_host& h : s.hosts)
        for (bc2_channel* c : {h.ci.load(), h.dk.load()})
            if (c && c->wake) semGive(c->wake);
    // A task given up in a system call may use the sockets and channels
    // when its call returns: then they are kept, not closed or freed.
    bool allEnded = true;
    for (TASK_ID& t : gTasks) {
        if (!task_stop(t, "BC2_shutdown()", "the sockets and channels of the device network")) allEnded = false;
        t = nullptr;
    }
    for (bc2_host& h : s.hosts)
        for (bc2_channel* c : {h.ci.load(), h.dk.load()})
            if (c && c->task) {
                char what[64];
                snprintf(what, sizeof what, "its channel %s to PID 0x%X", c->name, unsigned(c->pid));
                if (!task_stop(c->task, "BC2_shutdown()", what)) allEnded = false;
                c->task = nullptr;
            }
    if (allEnded) {
        // The channels go first: a sender on another task (a send raster, a
        // command put on the network) finds none from then on, and none uses
        // a socket while it is closed, nor its number once another file has
        // taken it.
        bc2_free_channels();
        std::unique_lock<std::shared_mutex> users(bc2_channels_lock());
        bcSocket_closeAll();
    } else {
        bc2_keep_channels();
    }
    resetState();
    bc2_flood_reset();
}
