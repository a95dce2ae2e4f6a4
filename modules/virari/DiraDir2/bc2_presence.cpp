// Presence messages, the hosts table, silent hosts, reset detection and the
// connect manager that decides who opens a channel.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "logging/events/event_peer_opens.h"
#include "measurement/routing.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/timeserv/timeserv.h"

namespace {
uint8_t gFloodOwnPid = 0;

uint64_t ownMask(int type) { return type == CH_CI ? bc2().ciMask.load() : bc2().dkMask.load(); }

unsigned pidOf(const bc2_host* h) { return unsigned(h - bc2().hosts); }

// Who sent a presence message, by the unit id and boot count in it: every
// unit has an id of its own. While the unit the entry follows is heard,
// another unit id under its PID is a second unit, not taken, and its own id
// with an older boot count a late message of a run that ended; its id with
// a newer boot count is its restart. A message or an entry without a unit
// id (an older device) is taken as before. s.mx held.
enum class Unit { Followed, Restarted, EndedRun, Second };
Unit unitOf(const bc2_host& h, uint32_t unit, uint32_t boot) {
    const uint32_t keptUnit = be_get32(h.msg + PM_UNIT_ID);
    if (h.kind != LINK_PRESENCE || !unit || !keptUnit) return Unit::Followed;
    const int32_t newer = int32_t(boot - be_get32(h.msg + PM_BOOT));   // wrap-safe
    // Back after falling silent: the unit gone is followed by any other,
    // and its own boot after the one heard last is another run of it, even
    // one too short for its presence to be heard going back.
    if (!h.online) return unit == keptUnit && newer > 0 ? Unit::Restarted : Unit::Followed;
    if (unit != keptUnit) return Unit::Second;
    return newer > 0 ? Unit::Restarted : newer < 0 ? Unit::EndedRun : Unit::Followed;
}

// Named once per pair, limited per the second unit's address as well.
void nameSecondUnit(uint32_t src, unsigned pid, uint32_t kept, uint32_t keptAddr, uint32_t other,
                    uint32_t otherAddr) {
    char at[INET_ADDRSTRLEN] = "", otherAt[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &keptAddr, at, sizeof at);
    inet_ntop(AF_INET, &otherAddr, otherAt, sizeof otherAt);
    BC2_LOG_FROM(src, FL_TWO_UNITS, 147,
                 "Diradir2: two units send as PID 0x%X: id 0x%08X at %s and id 0x%08X at %s; this device keeps to "
                 "id 0x%08X while it is heard",
                 pid, unsigned(kept), at, unsigned(other), otherAt, unsigned(kept));
}
}  // namespace

bc2_state& bc2() {
    static bc2_state s;
    return s;
}

sockaddr_in bc2_sockaddr(uint32_t addrNet, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = addrNet;
    a.sin_port = htons(port);
    return a;
}

bool bc2_addr_greater(uint32_t ownNet, uint32_t peerNet) {
    // The bytes as they stand in memory (network order), first byte least
    // significant: the last octet weighs most.
    auto value = [](uint32_t net) {
        uint8_t b[4];
        std::memcpy(b, &net, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    };
    return value(ownNet) > value(peerNet);
}

uint64_t comint_get_connect_mask() { return bc2().ciMask; }
uint64_t udp_get_detect_mask() { return bc2().detect; }
uint64_t dk_get_connect_mask() { return bc2().dkMask; }

bool BC2_connected(unsigned pid) {
    return pid < BC2_PIDS && (bc2().ciMask & bc2().dkMask & pidBit(pid)) != 0;
}

int BC2_getRemoteCapabilty(unsigned pid, unsigned capability) {
    static const uint16_t kSince[] = {0x0202, 0x0203, 0x0204};
    if (!BC2_connected(pid)) return 2;
    if (capability > 2) return 1;
    return bc2_host_version(pid) >= kSince[capability] ? 0 : 1;
}

uint32_t BC2_peer_run(unsigned pid) {
    if (!bc2_pid_valid(pid)) return 0;
    std::lock_guard<std::mutex> lk(bc2().mx);
    return bc2().hosts[pid].runs;
}

bool BC2_peer_heard(unsigned pid, uint32_t* run) {
    if (run) *run = 0;
    if (!bc2_pid_valid(pid)) return true;
    std::lock_guard<std::mutex> lk(bc2().mx);
    const bc2_host& h = bc2().hosts[pid];
    if (run) *run = h.runs;
    return !(h.kind == LINK_PRESENCE && (!h.online || h.missed >= BC2_SILENT_PASSES));
}

bool BC2_peer_gone(unsigned pid) {
    if (!bc2_pid_valid(pid)) return false;
    std::lock_guard<std::mutex> lk(bc2().mx);
    const bc2_host& h = bc2().hosts[pid];
    return h.kind == LINK_PRESENCE && !h.online;
}

void bc2_peer_signed(unsigned pid) {
    if (bc2_pid_valid(pid)) bc2().hosts[pid].lastSign.store(uint64_t(time_getTimestamp()) + 1);
}

bool BC2_peer_last_sign(unsigned pid, uint32_t* stamp) {
    if (!bc2_pid_valid(pid) || !stamp) return false;
    const uint64_t v = bc2().hosts[pid].lastSign.load();
    if (!v) return false;
    *stamp = uint32_t(v - 1);
    return true;
}

uint32_t bc2_host_from(unsigned pid) {
    if (!bc2_pid_valid(pid)) return 0;
    std::lock_guard<std::mutex> lk(bc2().mx);
    return bc2().hosts[pid].from.sin_addr.s_addr;
}

bc2_host* bc2_host_of(unsigned pid) { return pid < BC2_HOSTS ? &bc2().hosts[pid] : nullptr; }

uint16_t bc2_host_version(unsigned pid) {
    if (pid >= BC2_HOSTS) return 0;
    std::lock_guard<std::mutex> lk(bc2().mx);
    return bc2().hosts[pid].version;
}

void bc2_build_presence(uint8_t out[BC2_MSG_SIZE]) {
    bc2_state& s = bc2();
    std::memset(out, 0, BC2_MSG_SIZE);
    std::memcpy(out + PM_ADDR, &s.ownAddr, 4);
    be_put16(out + PM_PID, s.ownPid);
    be_put32(out + PM_TIMEOUT, BC2_HOST_TIMEOUT_MS);
    be_put32(out + PM_UNIT_ID, s.unitId);
    be_put32(out + PM_BOOT, s.bootCount);
    be_put64(out + PM_DETECT, s.detect);
    be_put64(out + PM_CI_MASK, s.ciMask | pidBit(s.ownPid));
    be_put64(out + PM_DK_MASK, s.dkMask | pidBit(s.ownPid));
    be_put32(out + PM_PERIOD, BC2_PERIOD_MS);
    be_put32(out + PM_SEQ, s.seq);
    be_put16(out + PM_VERSION, BC2_VERSION);
    be_put16(out + PM_OFFSET, s.offset);
}

bool bc2_presence_receive(const uint8_t* msg, size_t len, const sockaddr_in& from) {
    bc2_state& s = bc2();
    // Every field is read from the 60 bytes: a shorter message is not one.
    if (len < BC2_MSG_SIZE) {
        BC2_LOG_FROM(from.sin_addr.s_addr, FL_SHORT, 155, "BC2_UDP_listen() short message dropped, %u bytes",
                     unsigned(len));
        return false;
    }
    unsigned pid = be_get16(msg + PM_PID);
    // The masks have 64 bits: PID 64 and above cannot take part.
    if (pid >= BC2_PIDS) {
        BC2_LOG_FROM(from.sin_addr.s_addr, FL_WRONG_PID, 155, "BC2_UDP_listen() wrong pid received %d", int(pid));
        return false;
    }
    if (pid == s.ownPid) {
        // The sender turns multicast loop-back off, but the loopback interface
        // (ip = 127.0.0.1) delivers what is sent on it to its sender all the
        // same: our own message (our address in it) is dropped quietly;
        // another device with our PID is reported.
        uint32_t addr;
        std::memcpy(&addr, msg + PM_ADDR, 4);
        if (addr != s.ownAddr) SYSLOGX_FLOOD(gFloodOwnPid, 155, "BC2_UDP_listen() received our own pid, ignored");
        return false;
    }
    bc2_host& h = s.hosts[pid];
    // Where its open channels lead (a socket's peer is looked up outside the
    // table's lock).
    uint32_t chanPeer = bc2_channel_peer(h.ci);
    if (!chanPeer) chanPeer = bc2_channel_peer(h.dk);
    uint32_t msgAddr;
    std::memcpy(&msgAddr, msg + PM_ADDR, 4);
    const uint32_t unit = be_get32(msg + PM_UNIT_ID), boot = be_get32(msg + PM_BOOT);
    bool reset = false, restarted = false, routeAdded = false, moved = false;
    uint32_t run = 0;
    {
        std::unique_lock<std::mutex> lk(s.mx);
        switch (unitOf(h, unit, boot)) {
        case Unit::Second: {
            const bool name = !h.secondNamed || h.secondUnit != unit;
            h.secondNamed = true;
            h.secondUnit = unit;
            const uint32_t keptUnit = be_get32(h.msg + PM_UNIT_ID);
            uint32_t keptAddr;
            std::memcpy(&keptAddr, h.msg + PM_ADDR, 4);
            lk.unlock();
            if (name) nameSecondUnit(from.sin_addr.s_addr, pid, keptUnit, keptAddr, unit, msgAddr);
            return false;
        }
        case Unit::EndedRun: return false;
        case Unit::Followed: break;
        case Unit::Restarted: reset = restarted = true; break;
        }
        h.from = from;
        h.kind = LINK_PRESENCE;
        h.version = be_get16(msg + PM_VERSION);
        h.offset = h.version >= 0x0202 ? be_get16(msg + PM_OFFSET) : 0;
        h.online = 1;
        h.heardAt = ++s.heard;
        h.missed = 0;
        int64_t t = int64_t(be_get32(msg + PM_TIMEOUT)) + BC2_PERIOD_MS;
        h.timeout = int32_t(std::min<int64_t>(t, INT32_MAX));
        // The channels' address is heard, or was silent for as long as a
        // host may be before it counts as gone: then the device has moved.
        if (chanPeer) {
            if (chanPeer == msgAddr || h.chanAddr != chanPeer) {
                h.chanAddr = chanPeer;
                h.chanTimeout = h.timeout;
            } else if (h.chanTimeout < 0) {
                moved = true;
                h.chanAddr = 0;   // the old connections are on their way out
            }
        }
        uint32_t kept = be_get32(h.msg + PM_SEQ);
        reset = reset || (be_get32(msg + PM_SEQ) < kept && kept != 0xFFFFFFFFu);
        if (reset) ++h.runs;
        run = h.runs;
        std::memcpy(h.msg, msg, BC2_MSG_SIZE);
        // Under the table's lock, so that the time-out pass cannot remove
        // the entry between this check and a new message of the host.
        if (routing_get_next(pid).ip == 0) {
            routing_entry_t e{ROUTING_DIRADIR2, be_get32(msg + PM_ADDR)};
            routeAdded = h.routeAdded = routing_set_table_entries(&e, pid, pid) == 1;
        }
    }
    // Hosts coming and going are logged per source address, so that a peer
    // announcing PID after PID cannot fill the log.
    const uint32_t src = from.sin_addr.s_addr;
    if (routeAdded) BC2_LOG_FROM(src, FL_ADD, 150, "BC2_UDP_listen add remote_pid %X", pid);
    if (moved) {
        // Its old connections would otherwise stay for good: closed, the
        // connect manager connects to the new address.
        char was[INET_ADDRSTRLEN] = "", is[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &chanPeer, was, sizeof was);
        inet_ntop(AF_INET, &msgAddr, is, sizeof is);
        BC2_LOG_FROM(src, FL_MOVED, 158, "Diradir2: PID 0x%X moved from %s to %s, closing its channels", pid, was,
                     is);
        for (bc2_channel* c : {h.ci.load(), h.dk.load()})
            if (c && bc2_channel_peer(c) == chanPeer) BC2_disconnect(c);
    }
    if (reset) {
        // before the new run's values are asked for (on channels made anew)
        if (restarted) timeserv_masterRestartHeard(uint16_t(pid), unit, boot);
        eventPeers_runCounted(uint16_t(pid), run);
        if (bc2_channel* c = h.ci) BC2_disconnect(c);
        if (bc2_channel* c = h.dk) BC2_disconnect(c);
        // A flood of messages with changing counters must not fill the log.
        BC2_LOG_FROM(src, FL_RESET, 158, "Diradir2: Reset detected on PID 0x%X, illegal msg sequence counter", pid);
    }
    bc2_peer_signed(pid);   // after a restart was counted: the ended run's last sign was kept then
    s.detect |= pidBit(pid);
    if (be_get64(msg + PM_DETECT) & pidBit(s.ownPid)) {
        BC2_connect_manager(&h, CH_CI);
        BC2_connect_manager(&h, CH_DK);
    }
    return true;
}

void bc2_timeout_pass() {
    bc2_state& s = bc2();
    for (unsigned pid = 0; pid < BC2_PIDS; ++pid) {
        bc2_host& h = s.hosts[pid];
        bool drop = false, routeRemoved = false;
        uint32_t src;
        {
            std::lock_guard<std::mutex> lk(s.mx);
            if (!h.online || h.kind != LINK_PRESENCE) continue;
            src = h.from.sin_addr.s_addr;
            ++h.missed;
            h.timeout -= BC2_PERIOD_MS;
            if (h.chanTimeout >= 0) h.chanTimeout -= BC2_PERIOD_MS;   // once silent, it stays so
            if (h.timeout < 0) {
                h.online = 0;
                drop = true;
                // The route this host's presence made goes with it (a PID
                // that was only ever announced must not stay routable); the
                // next message of the PID makes it again.
                if (h.routeAdded && routing_get_next(pid).kind == ROUTING_DIRADIR2) {
                    const routing_entry_t none{ROUTING_ILLEGAL, 0};
                    routeRemoved = routing_set_table_entries(&none, pid, pid) == 1;
                }
                h.routeAdded = false;
                h.secondNamed = false;   // the next unit heard under the PID is followed
            }
        }
        if (!drop) continue;
        // limited per the address the host was heard from, as its coming
        BC2_LOG_FROM(src, FL_TIMED_OUT, 156, "UDP_send: Channel to PID 0x%X timed out, closing it...", pid);
        s.detect &= ~pidBit(pid);
        BC2_LOG_FROM(src, FL_OFFLINE, 156, "Host PID 0x%X is Offline", pid);
        if (routeRemoved) BC2_LOG_FROM(src, FL_REMOVE, 150, "UDP_send: remove remote_pid %X", pid);
        BC2_LOG_FROM(src, FL_DISCONNECT, 155, "UDP_send: BC2_disconnect");
        if (bc2_channel* c = h.ci) BC2_disconnect(c);
        if (bc2_channel* c = h.dk) BC2_disconnect(c);
    }
}

void BC2_connect_manager(bc2_host* host, int chanType) {
    bc2_state& s = bc2();
    if (!host) {
        syslogx(155, "BC2_connect_manager() NULL pointer file %s line %d", "modules/virari/DiraDir2", __LINE__);
        return;
    }
    if (chanType != CH_CI && chanType != CH_DK) return;
    const unsigned pid = pidOf(host);
    uint32_t peerAddr;
    uint16_t peerOffset;
    uint64_t remoteMask;
    uint32_t src;   // where its presence came from: the source of the lines below
    {
        std::lock_guard<std::mutex> lk(s.mx);
        src = host->from.sin_addr.s_addr;
        std::memcpy(&peerAddr, host->msg + PM_ADDR, 4);
        peerOffset = host->offset;
        remoteMask = be_get64(host->msg + (chanType == CH_CI ? PM_CI_MASK : PM_DK_MASK));
    }
    std::atomic<bc2_channel*>& slot = chanType == CH_CI ? host->ci : host->dk;
    bc2_channel* c = slot;
    if (!c) {
        BC2_LOG_FROM(src, FL_CREATE, 158, "BC2_connect_manager: call BC BC2_create_channel_config %s",
                     chanType == CH_CI ? "CI" : "DK");
        c = BC2_create_channel_config(host, chanType);
        if (!c) return;
    }
    const uint16_t st = c->state;
    const bool anew = st != CH_ESTABLISHED && st != CH_CONNECTING;
    // Online data goes where the peer is now whenever its channel is made
    // anew: a device that restarted at another address gets it there.
    if (chanType == CH_DK && (anew || !c->udpSet)) {
        std::lock_guard<std::mutex> lk(c->sockMx);   // the senders read it under this lock
        c->udpAddr = bc2_sockaddr(peerAddr, uint16_t(peerOffset + BC2_PORT_DK_UDP));
        c->udpSet = true;
    }
    if (!anew) return;
    c->state = CH_CONNECTING;
    const bool L = ownMask(chanType) & pidBit(pid);
    const bool R = remoteMask & pidBit(s.ownPid);
    if (L && R) {
        c->state = CH_ESTABLISHED;
        taskDelay(1);
        return;
    }
    if (L) {
        BC2_LOG_FROM(src, FL_LOCAL_STATE, 147, "BC2_connect_manager local_con_state chan_type %X, remotePID %X",
                     unsigned(chanType), pid);
        BC2_disconnect(c);
    }
    if (bc2_addr_greater(s.ownAddr, peerAddr)) {
        c->tcpAddr = bc2_sockaddr(peerAddr,
                                  uint16_t(peerOffset + (chanType == CH_CI ? BC2_PORT_CI : BC2_PORT_DK)));
        BC2_recv_activate(c);
    }
    taskDelay(1);
}

int BC2_debugoutPID(unsigned pid, BC2_PidDebug* out) {
    if (!out) return 0;
    *out = BC2_PidDebug{};
    bc2_host* h = bc2_host_of(pid);
    if (!h || pid >= BC2_PIDS) return 1;
    {
        std::lock_guard<std::mutex> lk(bc2().mx);
        out->seq = be_get32(h->msg + PM_SEQ);
        out->version = h->version;
    }
    std::shared_lock<std::shared_mutex> inUse(bc2_channels_lock());   // read on the 1000 ms raster
    if (bc2_channel* c = h->ci) {
        out->ciState = uint8_t(c->state);
        out->ciTx = c->cnt[CNT_TX_OFFLINE];
        out->ciTxErr = c->cnt[CNT_TX_ERR];
        out->ciRx = c->cnt[CNT_RX];
        out->ciRxErr = c->cnt[CNT_RX_ERR];
    }
    if (bc2_channel* c = h->dk) {
        out->dkState = uint8_t(c->state);
        out->dkTxOnline = c->cnt[CNT_TX_ONLINE];
        out->dkTxOffline = c->cnt[CNT_TX_OFFLINE];
        out->dkTxErr = c->cnt[CNT_TX_ERR];
        out->dkRxUdp = c->cnt[CNT_RX_UDP];
        out->dkRx = c->cnt[CNT_RX];
        out->dkRxErr = c->cnt[CNT_RX_ERR];
    }
    return 1;
}

int BC2_debugoutGlob(BC2_GlobDebug* out) {
    if (!out) return 0;
    bc2_state& s = bc2();
    *out = BC2_GlobDebug{s.seq.load(), s.rxcnt.load(), s.mcRxCnt.load(), s.mcRxErr.load()};
    return 1;
}
