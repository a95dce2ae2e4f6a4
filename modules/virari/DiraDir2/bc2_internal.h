// State shared by the parts of DiraDir2: the presence message, the hosts
// table, the channel records and the send framers.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "host/os/os.h"
#include "virari/DiraDir2/bc2.h"

// ---- ports and groups ----------------------------------------------------------------
constexpr uint16_t BC2_PORT_PRESENCE = 9850;     // no offset
constexpr uint16_t BC2_PORT_PRESENCE_TX = 9851;  // + offset
constexpr uint16_t BC2_PORT_DK_UDP = 9852;
constexpr uint16_t BC2_PORT_DK_UDP_TX = 9853;
constexpr uint16_t BC2_PORT_CI = 9860;
constexpr uint16_t BC2_PORT_DK = 9861;
constexpr uint16_t BC2_PORT_CI_ACTIVE = 9862;
constexpr uint16_t BC2_PORT_DK_ACTIVE = 9863;
constexpr uint16_t BC2_PORT_CI_MC = 9870;        // no offset
constexpr const char* BC2_GROUP_PRESENCE = "239.239.239.200";
constexpr const char* BC2_GROUP_CI = "239.239.239.201";

constexpr int BC2_SOCKBUF = 23360;
constexpr int BC2_PERIOD_MS = 200;
constexpr uint32_t BC2_HOST_TIMEOUT_MS = 1000;
// Time-out passes (of BC2_PERIOD_MS) without a presence message after which
// a host counts as silent, though not gone yet.
constexpr uint32_t BC2_SILENT_PASSES = 2;

// ---- presence message ------------------------------------------------------------------
constexpr unsigned BC2_MSG_SIZE = 60;
// The sender's unit id and boot count ride in the eight bytes at 16, which
// older devices send as zeros: a unit id 0 is none.
enum : unsigned {
    PM_ADDR = 0, PM_PID = 10, PM_TIMEOUT = 12, PM_UNIT_ID = 16, PM_BOOT = 20, PM_DETECT = 24, PM_CI_MASK = 32,
    PM_DK_MASK = 40, PM_PERIOD = 48, PM_SEQ = 52, PM_VERSION = 56, PM_OFFSET = 58,
};

inline uint64_t be_get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}
inline void be_put64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = uint8_t(v);
}
inline uint64_t pidBit(unsigned pid) { return pid < 64 ? (uint64_t(1) << pid) : 0; }
// A PID a device can have: one bit of the masks, one channel of each type.
inline bool bc2_pid_valid(unsigned pid) { return pid < BC2_PIDS; }
// A message of the PID's device came now: a sign of life (BC2_peer_last_sign).
void bc2_peer_signed(unsigned pid);

// ---- channels --------------------------------------------------------------------------------
enum : uint16_t { CH_IDLE = 0, CH_ENDED = 2, CH_ESTABLISHED = 3, CH_CONNECTING = 4 };
enum : int { CH_CI = 0, CH_DK = 1 };
enum { CNT_TX_ONLINE, CNT_TX_OFFLINE, CNT_TX_ERR, CNT_RX_UDP, CNT_RX, CNT_RX_ERR, CNT_COUNT };

struct bc2_framer {
    SEM_ID mutex = nullptr;
    uint8_t errState = 0;     // 0 none, 1 send error reported, 2 overrun reported
    uint16_t fill = 0;        // bytes in the current half
    uint16_t sentPos = 0;     // bytes of the current half already sent
    int type = 0;
    uint16_t half = 0;        // offset of the current half: 0 or 1472
    uint8_t data[2 * DK_BLOCK_SIZE];
};

// What a command channel's connection has not taken yet (bc2_ci_send.cpp):
// whole messages, or the tail of one whose head went out.
struct bc2_txbuf {
    size_t head = 0, len = 0;             // waiting bytes: data[head .. head + len)
    uint64_t lastProgress = 0;            // ms, when the peer last took bytes
    bool dropReported = false;            // a full buffer dropped a message (logged)
    uint8_t data[16384];
};

struct bc2_host;
struct bc2_channel {
    const char* name = "";
    SEM_ID wake = nullptr;
    int type = CH_CI;
    bc2_host* host = nullptr;
    unsigned pid = 0;                     // the remote PID (65: the multicast channel)
    std::atomic<uint16_t> state{CH_IDLE};
    uint8_t stray = 0;
    std::atomic<int> sock{-1};
    // IPv4 address (network order) of the peer of the socket taken last: the
    // source of the channel's log lines.
    std::atomic<uint32_t> peer{0};
    TASK_ID task = nullptr;
    int (*recv)(bc2_channel*, int fd) = nullptr;
    sockaddr_in tcpAddr{};                // the peer's listen address
    sockaddr_in udpAddr{};                // the peer's DK data port (DK only)
    std::atomic<bool> udpSet{false};
    // Guards the socket against its close while a sender uses it: senders hold
    // it while they read the socket and send; the socket changes only under it.
    std::mutex sockMx;
    int taskFd = -1;                      // the socket the receive task works on (under sockMx)
    bc2_txbuf* tx = nullptr;              // CI only (under sockMx)
    bc2_framer* offline = nullptr;        // DK only
    bc2_framer* online = nullptr;
    std::atomic<uint16_t> cnt[CNT_COUNT] = {};
    uint8_t* rxBuf = nullptr;             // receive buffer of the channel's task
};

// ---- hosts table ---------------------------------------------------------------------------
constexpr unsigned BC2_HOSTS = 66;
constexpr unsigned BC2_HOST_MC = 65;      // holds only the command multicast channel
constexpr uint16_t LINK_PRESENCE = 2;

struct bc2_host {
    uint8_t msg[BC2_MSG_SIZE] = {};       // the last presence message
    std::atomic<bc2_channel*> dk{nullptr};
    std::atomic<bc2_channel*> ci{nullptr};
    int32_t timeout = 0;                  // ms
    uint16_t online = 0;
    uint16_t version = 0;
    uint16_t offset = 0;
    uint16_t kind = 0;
    sockaddr_in from{};
    uint64_t heardAt = 0;                 // bc2_state::heard when its last message came
    // When any message of it (presence, command, data) came last, in this
    // device's time: stamp + 1, 0 never. Its events end there.
    std::atomic<uint64_t> lastSign{0};
    bool routeAdded = false;              // the routing entry was made from its presence
    // The address its open channels are connected to, and the time-out
    // counter of that address alone: a device heard only at another address
    // while this one stays silent has moved.
    uint32_t chanAddr = 0;                // network order; 0 none looked at yet
    int32_t chanTimeout = 0;              // ms
    uint32_t runs = 0;                    // its restarts seen (the counter going back, a later boot)
    uint32_t missed = 0;                  // time-out passes since its last message
    // Another unit heard under the PID while this one is (a swapped unit
    // left on the network, two devices given one PID), named last.
    uint32_t secondUnit = 0;
    bool secondNamed = false;
};

struct bc2_state {
    std::mutex mx;                        // host entries (all fields but the channel pointers)
    bc2_host hosts[BC2_HOSTS];
    std::atomic<uint64_t> detect{0}, ciMask{0}, dkMask{0};
    std::atomic<uint32_t> seq{0};
    uint32_t ownAddr = 0;                 // network order
    uint16_t ownPid = 0;
    uint16_t offset = 0;
    uint32_t unitId = 0;                  // this unit's id and boot count, sent in the presence
    uint32_t bootCount = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> quiet{false};      // received commands are no longer handed on
    std::atomic<bool> ready2connect{false};
    std::atomic<uint16_t> rxcnt{0};
    uint64_t heard = 0;                   // presence messages taken into the table (under mx)
    std::atomic<uint16_t> mcRxCnt{0}, mcRxErr{0};
    std::atomic<int> udpTx{-1};           // socket from which DK data is sent by UDP
    std::atomic<int> dkUdpRx{-1};
    std::atomic<uint32_t> dkDropped{0};   // DK records longer than their slot or datagram
};
bc2_state& bc2();

// Address of the device with a port (network order inside).
sockaddr_in bc2_sockaddr(uint32_t addrNet, uint16_t port);
// Greater address as the connect manager compares them: the four bytes in
// network order with the first as the least significant.
bool bc2_addr_greater(uint32_t ownNet, uint32_t peerNet);

// ---- log lines per source address (bc2_flood.cpp) -----------------------------------------------
// The log lines that another device's traffic (or anybody's on the network)
// can cause, each limited per source address.
enum Bc2FloodLine : unsigned {
    FL_ACCEPT, FL_NO_HOST, FL_CLOSE,                                  // accepted connections
    FL_ADD, FL_TIMED_OUT, FL_OFFLINE, FL_REMOVE, FL_DISCONNECT, FL_MOVED,   // hosts coming and going
    FL_RESET, FL_CREATE, FL_LOCAL_STATE,                              // presence and connect manager
    FL_ESTABLISHED, FL_CONNECTING, FL_BIND, FL_CONNECT_FAILED, FL_NO_SOCKET,   // channel set-up
    FL_DISCONNECTING, FL_UDP_TWICE,
    FL_RX_HEADER, FL_RX_CLOSED, FL_RX_DATA, FL_RX_NO_ROUTE, FL_STALLED,   // channel traffic
    FL_SHORT, FL_WRONG_PID, FL_TWO_UNITS,                             // presence messages not taken
    FL_OUT_OF_STEP, FL_FIFO_FULL, FL_TOO_LONG,                        // commands and records not taken
    FL_LISTS_ENDED,                                                   // lists served to a device stopped
    BC2_FLOOD_LINES
};
// True when a line of the kind caused by the address (network order) may be
// logged at nowMs (monotonic ms, bc2_now_ms()); it then counts against the
// address's budget, and the lines it held back before are reported first.
bool bc2_flood_pass(uint32_t addrNet, Bc2FloodLine line, uint64_t nowMs);
uint64_t bc2_now_ms();
// Forgets every address (a new start of DiraDir2).
void bc2_flood_reset();
// syslogx for a line caused by the address.
#define BC2_LOG_FROM(addrNet, line, level, ...)                                        \
    do {                                                                              \
        if (bc2_flood_pass((addrNet), (line), bc2_now_ms())) syslogx((level), __VA_ARGS__); \
    } while (0)

// ---- presence (bc2_presence.cpp) ---------------------------------------------------------------
// Builds the own 60-byte message (the sequence counter as it stands).
void bc2_build_presence(uint8_t out[BC2_MSG_SIZE]);
// Handles one received presence message; false when it was dropped.
bool bc2_presence_receive(const uint8_t* msg, size_t len, const sockaddr_in& from);
// Subtracts one period from every online host's counter and drops those that
// fell silent.
void bc2_timeout_pass();
void BC2_connect_manager(bc2_host* host, int chanType);
// Host entry of a PID (0..65), nullptr beyond.
bc2_host* bc2_host_of(unsigned pid);
// IPv4 address (network order) the PID's presence came from last; 0 none.
uint32_t bc2_host_from(unsigned pid);
uint16_t bc2_host_version(unsigned pid);

// ---- channels (bc2_channel.cpp) ------------------------------------------------------------
bc2_channel* BC2_create_channel_config(bc2_host* host, int chanType);
int BC2_recv_activate(bc2_channel* c);
void BC2_disconnect(bc2_channel* c);
// IPv4 address (network order) of the peer of the channel's connection; 0
// when it has none.
uint32_t bc2_channel_peer(bc2_channel* c);
int BC2_connect_active(const sockaddr_in& peer, int chanType);
void BC2_connect_passive(int chanType);
// Receives exactly len bytes; len, or the first result below 1.
long bc2_recv_packet(int fd, void* buf, size_t len, int flags);
// Receives and drops len bytes; false when the connection failed.
bool bc2_recv_discard(int fd, size_t len);
// Frees every channel record (after DiraDir2's own tasks have ended). Other
// tasks (the send rasters, command senders, the debug outputs) run on until
// the rasters stop: they hold bc2_channels_lock() shared from taking a
// channel pointer of the hosts table to their last use of it, and the
// records are freed under it held exclusively, after their pointers are
// cleared.
void bc2_free_channels();
// Takes every channel off its host without freeing it: a task given up in
// a system call may still use its channel when its call returns (a leak).
void bc2_keep_channels();
std::shared_mutex& bc2_channels_lock();

// ---- command send (bc2_ci_send.cpp) -------------------------------------------------------------
// Sends a message of `size` bytes on the channel's connection fd without
// waiting, keeping what it cannot take now; the caller holds the channel's
// socket lock. 1 sent or kept, 0 dropped because the buffer is full
// (*report: the first drop since the buffer last drained), -1 the
// connection failed.
int bc2_ci_send(bc2_channel* c, int fd, const void* msg, size_t size, bool* report);
// Forgets what waits (the connection changed or ended); under the socket lock.
void bc2_ci_tx_reset_buffer(bc2_txbuf* t);
// Writes what waits on every command channel and disconnects those whose
// peer took nothing for a second; true when bytes still wait.
bool bc2_ci_tx_service(uint64_t nowMs);
// Body of the task "r_BC2_CI_send".
void BC2_CI_send();
// Wakes that task, so that it sees a stop at once.
void bc2_ci_send_wake();
// Of the hosts online at the address of an accepted connection, the one it
// belongs to; nullptr when none.
bc2_host* bc2_match_peer(const sockaddr_in& peer, int chanType);

// ---- command and data receive (bc2_command.cpp, bc2_data.cpp) ------------------------------------
int bc_ci_receive(bc2_channel* c, int fd);
int bc_dk_receive(bc2_channel* c, int fd);
void BC2_CI_MC_listen();
void BC2_dk_udp_listen();
// Walks the records of one DK datagram into their FIFOs; fromNet: the IPv4
// address (network order) it came from, the source of its log lines.
void bc2_dk_datagram(const uint8_t* buf, size_t len, uint32_t fromNet);

// ---- send framers (bc2_framer.cpp) ---------------------------------------------------------------
void BC2_snd_framer_ini(bc2_framer* f, int type);
void bc2_framer_free(bc2_framer* f);
