#include "xcp/xcp_eth.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "host/os/os.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"
#include "xcp/xcp_errno.h"
#include "xcp/xcp_internal.h"
#include "xcp/xcp_socket.h"

namespace {

constexpr int kTaskPriority = 125;
constexpr size_t kTaskStack = 200000;
constexpr int kTaskCore = 1;
constexpr uint32_t kPackLimit = XCP_MAX_DTO;   // bytes of DTO frames per datagram
constexpr size_t kPackBuffer = 65536;

}  // namespace

// Transport record of one connection.
struct XcpEth {
    int sock = -1;
    sockaddr_in local{};
    sockaddr_in peer{};          // transmit task: where answers and DTOs go
    uint16_t ctoCounter = 0;     // transmit task
    uint16_t dtoCounter = 0;     // transmit task
    uint16_t rxCounter = 0;      // receive task: CTR of the last command
    std::atomic<uint16_t> flushRequest{0};
    uint32_t fill = 0;           // transmit task
    uint8_t pack[kPackBuffer];   // transmit task
    // receive task only
    sockaddr_in rxSource{};      // source of the datagram being processed
    sockaddr_in master{};        // source of the CONNECT of the open session
    // tasks and their ending
    TASK_ID rxTask = nullptr;
    TASK_ID txTask = nullptr;    // written by the receive task before its loop
    // Given after each answer, control message and burst of DTOs: the
    // transmit task wakes once and sends everything that waits in the queue.
    SEM_ID txWake = nullptr;
    int wake[2] = {-1, -1};      // a byte here ends the receive task
    uint8_t floodRx = 0, floodSelect = 0, floodShort = 0;
    uint8_t floodTx = 0, floodSendCto = 0, floodSendDto = 0;
};

namespace {

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

bool sendDatagram(XcpEth* e, const uint8_t* data, size_t len, const char* what, uint8_t& flood) {
    if (e->peer.sin_family != AF_INET) return false;   // no master yet
    ssize_t n = sendto(e->sock, data, len, 0, reinterpret_cast<const sockaddr*>(&e->peer), sizeof e->peer);
    if (n != ssize_t(len)) {
        SYSLOGX_FLOOD(flood, 139, "%s(): sendto() failed with count %ld and error %s", what, long(n),
                      strerror(errno));
        return false;
    }
    return true;
}

void flushPacked(XcpEth* e) {
    if (!e->fill) return;
    if (sendDatagram(e, e->pack, e->fill, "xcpEthTxFrameDTO", e->floodSendDto)) e->flushRequest = 0;
    e->fill = 0;
}

// Numbers and sends (or packs) one message of the transmit queue.
void transmitOne(XcpEth* e, XcpTxMsg& msg, long got) {
    uint32_t len = msg.length;
    if (len > XCP_TX_PACKET_MAX || len > uint32_t(got) - XCP_TX_MSG_HEADER) len = 0;   // never beyond what came
    switch (msg.type) {
    case XCP_TX_CTO:
        le_put16(msg.frame, uint16_t(len));
        le_put16(msg.frame + 2, e->ctoCounter++);
        sendDatagram(e, msg.frame, XCP_FRAME_HEADER + len, "xcpEthTxFrameCTO", e->floodSendCto);
        break;
    case XCP_TX_DTO:
        if (e->fill && (e->fill + len + XCP_FRAME_HEADER > kPackLimit || e->flushRequest)) {
            if (!sendDatagram(e, e->pack, e->fill, "xcpEthTxFrameDTO", e->floodSendDto)) {
                e->fill = 0;
                break;   // this DTO goes with the lost datagram
            }
            e->flushRequest = 0;
            e->fill = 0;
        }
        le_put16(msg.frame, uint16_t(len));
        le_put16(msg.frame + 2, e->dtoCounter++);
        std::memcpy(e->pack + e->fill, msg.frame, XCP_FRAME_HEADER + len);
        e->fill += XCP_FRAME_HEADER + len;
        // no further DTO (header at least) could join: the datagram is complete
        if (e->fill + XCP_FRAME_HEADER + XCP_DTO_HEADER > kPackLimit) flushPacked(e);
        break;
    case XCP_TX_FLUSH:
        flushPacked(e);
        break;
    case XCP_TX_RESET:
        e->ctoCounter = 1;
        e->dtoCounter = 1;
        e->flushRequest = 0;
        e->fill = 0;
        if (len == sizeof(sockaddr_in)) std::memcpy(&e->peer, msg.packet(), sizeof e->peer);
        break;
    default:
        break;
    }
}

// One wake per burst: the task sleeps on its wake semaphore and then drains
// every message that waits, in queue order.
void transmitTask(XcpEth* e, MSG_Q_ID queue) {
    XcpTxMsg msg;
    for (;;) {
        if (semTake(e->txWake, WAIT_FOREVER) != OK) {
            // the task waits on its wake semaphore, not on the queue: say so
            char what[64];
            snprintf(what, sizeof what, "semTake() of the transmit wake failed (%s)", xcpErrnoText(errno).c_str());
            SYSLOGX_FLOOD(e->floodTx, 147, "xcpEthDTOTask(): _msgq_receive() result: %s", what);
            taskDelay(1);
            continue;
        }
        for (;;) {
            const long got = msgQReceive(queue, &msg, sizeof msg, NO_WAIT);
            if (got < 0) break;   // drained
            if (got < long(XCP_TX_MSG_HEADER)) {
                SYSLOGX_FLOOD(e->floodTx, 147, "xcpEthDTOTask(): _msgq_receive() result: %s", "short message");
                continue;
            }
            transmitOne(e, msg, got);
        }
    }
}

// Runs fn on the connection's transport, if it has one, under the DAQ mutex
// (recursive: a DAQ sender already holds it). xcpEthStop detaches the
// transport under the same mutex, so fn never meets one being freed.
template <class Fn>
void withTransport(xcpHandle* c, Fn fn) {
    if (!c->daqMutex || semTake(c->daqMutex, WAIT_FOREVER) != OK) return;
    if (XcpEth* e = c->transport) fn(e);
    semGive(c->daqMutex);
}

// Wakes the transmit task for what was queued.
void kick(xcpHandle* c) {
    withTransport(c, [](XcpEth* e) { semGive(e->txWake); });
}

// Serves the datagrams waiting on the socket, one command each.
void receiveWaiting(xcpHandle* c, uint8_t* buf) {
    XcpEth* e = c->transport;
    int waiting = 0;
    do {
        socklen_t alen = sizeof e->rxSource;
        ssize_t n = recvfrom(e->sock, buf, XCP_RX_DATAGRAM_MAX, 0, reinterpret_cast<sockaddr*>(&e->rxSource), &alen);
        if (n < 0) {
            SYSLOGX_FLOOD(e->floodRx, 139, "xcpEthTask(): Error receiving from XCP socket");
            return;
        }
        unsigned got = unsigned(n);
        if (got < XCP_FRAME_HEADER + 1) {
            SYSLOGX_FLOOD(e->floodShort, 147, "xcpEthTask(): datagram of %u bytes holds no XCP packet", got);
        } else {
            // only the first packet counts; LEN never reaches beyond the datagram
            unsigned len = le_get16(buf);
            e->rxCounter = le_get16(buf + 2);
            if (len > got - XCP_FRAME_HEADER) len = got - XCP_FRAME_HEADER;
            if (len && c->commandProcessor) c->commandProcessor(c, buf, XCP_FRAME_HEADER + len);
        }
        if (ioctl(e->sock, FIONREAD, &waiting) < 0) {
            SYSLOGX_FLOOD(e->floodRx, 139, "xcpEthTask(): Error calling ioctl (%s,%d)", strerror(errno), errno);
            waiting = 0;
        }
    } while (waiting > 0);
}

void receiveTask(xcpHandle* c) {
    XcpEth* e = c->transport;
    char name[32];
    e->sock = xcpSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (e->sock < 0) {
        syslogx(139, "xcpEthTask(): Failed to create datagram socket");
        return;   // the task stays out of the way (suspended on the device)
    }
    int one = 1;
    if (setsockopt(e->sock, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) < 0) {
        syslogx(155, "xcpEthTask: Setting Rx socket reuse port option failed (%s)", strerror(errno));
        return;
    }
    if (bind(e->sock, reinterpret_cast<const sockaddr*>(&e->local), sizeof e->local) < 0) {
        const int err = errno;
        syslogx(139, "xcpEthTask(): Failed to bind datagram (%s)", strerror(err));
        // what a user can change: the port comes from the start parameters
        syslogx(139, "xcpEthTask(): UDP port %u (xcp_port of start.cfg) cannot be used (%s): the device runs "
                     "without its XCP slave",
                unsigned(ntohs(e->local.sin_port)), strerror(err));
        return;
    }
    std::memset(&e->rxSource, 0, sizeof e->rxSource);
    std::memset(&e->master, 0, sizeof e->master);
    snprintf(name, sizeof name, "r_xcpEthDTO%u", unsigned(c->instance));
    e->txTask = taskSpawn(name, kTaskPriority, VX_FP_TASK, kTaskStack,
                          [e, q = c->txQueue] { transmitTask(e, q); });
    if (!e->txTask) {
        syslogx(147, "xcpEthInit(): Failed to create xcpEthDTOTask");
        return;
    }
    if (taskCpuAffinitySet(e->txTask, 1u << kTaskCore) != OK) {
        syslogx(147, "xcpEthInit(): Failed set affinity of xcpEthDTOTask");
        return;
    }
    syslogx(150, "xcpEthInit(): Set Task %s to Core#%d", name, kTaskCore);

    uint8_t buf[XCP_RX_DATAGRAM_MAX];
    for (;;) {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(e->sock, &rd);
        FD_SET(e->wake[0], &rd);
        int maxFd = e->sock > e->wake[0] ? e->sock : e->wake[0];
        int r = select(maxFd + 1, &rd, nullptr, nullptr, nullptr);
        if (r > 0 && FD_ISSET(e->wake[0], &rd)) return;   // the transport is being stopped
        if (r < 0) {
            if (xcpSocket_isShutdown()) return;
            if (errno != EINTR) SYSLOGX_FLOOD(e->floodSelect, 139, "xcpEthTask(): Error on select() [%u]", unsigned(errno));
            taskDelay(1);
            continue;
        }
        if (r > 0 && FD_ISSET(e->sock, &rd)) receiveWaiting(c, buf);
    }
}

// Why a send to the transmit queue failed, for the log: the queue's own
// codes in words, anything else as the error number's text.
struct SendFailure {
    explicit SendFailure(const xcpHandle* c, int err) : number(err) {
        if (!c->txQueue) words = "no transmit queue";
        else if (err == S_objLib_OBJ_UNAVAILABLE) words = "queue full";
        else if (err == S_objLib_OBJ_ID_ERROR) words = "queue deleted";
        else if (err == S_msgQLib_INVALID_MSG_LENGTH) words = "message too long";
    }
    const char* c_str() const { return words ? words : number.c_str(); }
    const char* words = nullptr;
    XcpErrnoText number;
};

bool queueControl(xcpHandle* c, uint32_t type, const void* data, unsigned len, const char* what) {
    XcpTxMsg msg;
    msg.type = type;
    msg.length = len;
    if (len) std::memcpy(msg.packet(), data, len);
    if (!c->txQueue || msgQSend(c->txQueue, &msg, XCP_TX_MSG_HEADER + len, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        syslogx(147, "%s(): msgQSend() error: %s", what, SendFailure(c, errno).c_str());
        return false;
    }
    kick(c);
    return true;
}

}  // namespace

int xcpQueueInit(xcpHandle* c) {
    static uint8_t flood = 0;
    c->txQueue = msgQCreate(XCP_TX_QUEUE_DEPTH, sizeof(XcpTxMsg), MSG_Q_PRIORITY);
    if (!c->txQueue) {
        SYSLOGX_FLOOD(flood, 147, "xcpQueueInit(): Failed to create Queue for cpNum %u", unsigned(c->instance));
        return 1;
    }
    return 0;
}

namespace {
// Transports whose transmit task was given up in a system call: it may
// use them, and its queue, when its call returns (a leak on purpose).
std::mutex gKeptMx;
// never destroyed: kept reachable to the end
std::vector<XcpEth*>& gKept = *new std::vector<XcpEth*>;
std::vector<MSG_Q_ID>& gKeptQueues = *new std::vector<MSG_Q_ID>;

bool queueKept(MSG_Q_ID q) {
    std::lock_guard<std::mutex> lk(gKeptMx);
    return std::find(gKeptQueues.begin(), gKeptQueues.end(), q) != gKeptQueues.end();
}
}  // namespace

void xcpQueueDelete(xcpHandle* c) {
    if (c->txQueue && !queueKept(c->txQueue)) msgQDelete(c->txQueue);
    c->txQueue = nullptr;
}

int xcpEthInit(xcpHandle* c, uint32_t ipv4, uint16_t port) {
    auto* e = new (std::nothrow) XcpEth;
    if (!e) {
        syslogx(147, "xcpEthInit(): _mem_alloc_zero() failed");
        return 1;
    }
    e->local.sin_family = AF_INET;
    e->local.sin_port = htons(port);
    e->local.sin_addr.s_addr = htonl(ipv4);
    e->txWake = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    if (!e->txWake || pipe(e->wake) != 0) {
        syslogx(147, "xcpEthInit(): Failed to start xcpEthTask");
        if (e->txWake) semDelete(e->txWake);
        delete e;
        return 1;
    }
    c->transport = e;
    char name[32];
    snprintf(name, sizeof name, "r_xcpEth%u", unsigned(c->instance));
    e->rxTask = taskSpawn(name, kTaskPriority, VX_FP_TASK, kTaskStack, [c] { receiveTask(c); });
    if (!e->rxTask) {
        syslogx(147, "xcpEthInit(): Failed to start xcpEthTask");
        close(e->wake[0]);
        close(e->wake[1]);
        semDelete(e->txWake);
        c->transport = nullptr;
        delete e;
        return 1;
    }
    if (taskCpuAffinitySet(e->rxTask, 1u << kTaskCore) != OK) {
        syslogx(147, "xcpEthInit(): Failed set affinity of %s", name);
        return 1;
    }
    syslogx(150, "xcpEthInit(): Set Task %s to Core#%d", name, kTaskCore);
    return 0;
}

void xcpEthStop(xcpHandle* c) {
    XcpEth* e = c->transport;
    if (!e) return;
    const uint8_t byte = 1;
    if (write(e->wake[1], &byte, 1) != 1) syslogx(147, "xcpEthStop(): cannot wake the receive task");
    if (e->rxTask) taskWait(e->rxTask, WAIT_FOREVER);
    // Rasters still send DTOs and kick the transmit task; they reach the
    // transport only under the DAQ mutex, so once it is detached under that
    // mutex nobody but this task holds it.
    const bool locked = c->daqMutex && semTake(c->daqMutex, WAIT_FOREVER) == OK;
    c->transport = nullptr;
    if (locked) semGive(c->daqMutex);
    if (!task_stop(e->txTask, "xcpEthStop()", "its transport (socket, buffers, transmit queue)")) {
        std::lock_guard<std::mutex> lk(gKeptMx);
        gKept.push_back(e);
        gKeptQueues.push_back(c->txQueue);
        return;
    }
    if (e->sock >= 0) xcpSocket_close(e->sock);
    close(e->wake[0]);
    close(e->wake[1]);
    semDelete(e->txWake);
    delete e;
}

int xcpTxFrame(xcpHandle* c, XcpTxMsg* msg) {
    static uint8_t flood = 0;
    msg->type = XCP_TX_CTO;
    if (!c->txQueue || msgQSend(c->txQueue, msg, sizeof *msg, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        SYSLOGX_FLOOD(flood, 147, "xcpTxFrame(): msgQSend() error: %s", SendFailure(c, errno).c_str());
        return 0;
    }
    kick(c);
    return 1;
}

bool xcpEthQueueDto(xcpHandle* c, XcpTxMsg* msg, unsigned packetLength) {
    msg->type = XCP_TX_DTO;
    msg->length = packetLength;
    return msgQSend(c->txQueue, msg, XCP_TX_MSG_HEADER + packetLength, NO_WAIT, MSG_PRI_NORMAL) == OK;
}

void xcpEthSendQueued(xcpHandle* c) { kick(c); }

int xcpEthDtoFlush(xcpHandle* c) {
    queueControl(c, XCP_TX_FLUSH, nullptr, 0, "xcpEthDtoFlush");
    return 0;
}

int xcpEthReset(xcpHandle* c) {
    XcpEth* e = c->transport;
    if (e && e->master.sin_family == AF_INET) queueControl(c, XCP_TX_RESET, &e->master, sizeof e->master, "xcpEthReset");
    else queueControl(c, XCP_TX_RESET, nullptr, 0, "xcpEthReset");
    return 0;
}

void xcpEth_100ms(xcpHandle* c) {
    withTransport(c, [](XcpEth* e) { e->flushRequest = 1; });
}

bool xcpEthFromMaster(xcpHandle* c) {
    XcpEth* e = c->transport;
    return e && sameAddress(e->rxSource, e->master);
}

void xcpEthTakeMaster(xcpHandle* c) {
    if (XcpEth* e = c->transport) e->master = e->rxSource;
}
