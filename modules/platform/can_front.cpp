// CAN front end. The tables are filled at start-up (and by the masters when
// they connect) and read by the 1 ms raster task; a mutex guards them, and
// callbacks run outside it.
#include "platform/can_front.h"

#include "platform/appman.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

constexpr unsigned kMaxInterfaces = 2;

struct RxReq {
    uint8_t interface;
    uint8_t format;
    uint32_t id;
    CanRxFunc fn;
    void* user;
};
struct TxReq {
    uint8_t interface;
    uint8_t format;
    uint8_t fdf, brs;
    uint32_t id;
};

std::mutex gMx;
RxReq gRx[CAN_MAX_REQUESTS];
int gRxCount = 0;
TxReq gTx[CAN_MAX_REQUESTS];
int gTxCount = 0;
std::unordered_multimap<uint64_t, int> gRxIndex;   // (interface, id) -> request
MSG_Q_ID gRxQueue = nullptr;
int gRxQueueApp = -1;

uint8_t gTxHandleFlood = 0;
uint8_t gTxSendFlood = 0;
uint8_t gTxDlcFlood = 0;

uint64_t key(unsigned interface, uint32_t id) {
    return (static_cast<uint64_t>(interface) << 32) | (id & host::CAN_EFF_MASK);
}

MSG_Q_ID rxQueue() {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gRxQueue || gRxQueueApp != RtpIndex) {
        std::string name = "/msgQ_RX_Can_" + std::to_string(RtpIndex);
        gRxQueue = msgQOpen(name.c_str(), host::kCanRxQueueDepth, sizeof(host::CanRxMsg), MSG_Q_FIFO, OM_CREATE);
        gRxQueueApp = RtpIndex;
    }
    return gRxQueue;
}

}  // namespace

unsigned canDLC2length(unsigned dlc) {
    static const uint8_t kLen[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return dlc < 16 ? kLen[dlc] : 0;
}

int pinConfig_getCANmaxIntf() { return static_cast<int>(kMaxInterfaces); }

int canRegisterRxFunc(unsigned interface, uint8_t format, uint32_t id, CanRxFunc fn, void* user) {
    if (interface >= kMaxInterfaces) {
        syslogx(147, "canRegisterRxFunc: interface number too big %d", static_cast<int>(interface));
        return 1;
    }
    if (!fn) {
        syslogx(147, "canRegisterRxFunc: could not register rxfunc for 0x%03X", id);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (gRxCount >= CAN_MAX_REQUESTS) {
            syslogx(147, "canRegisterRxFunc: too many requests");
            return 1;
        }
    }
    if (host::rtpSyscall(RtpIndex, interface, format, id, 0, 0, 0, 0, host::SC_CAN_REGISTER_RX) < 0) {
        syslogx(147, "canRegisterRxFunc: could not register rxfunc for 0x%03X", id);
        return 1;
    }
    std::lock_guard<std::mutex> lk(gMx);
    if (gRxCount >= CAN_MAX_REQUESTS) {
        syslogx(147, "canRegisterRxFunc: too many requests");
        return 1;
    }
    gRx[gRxCount] = {static_cast<uint8_t>(interface), format, id & host::CAN_EFF_MASK, fn, user};
    gRxIndex.emplace(key(interface, id), gRxCount);
    ++gRxCount;
    return 0;
}

int canRegisterTxFunc(unsigned interface, uint8_t format, uint32_t id, uint8_t fdf, uint8_t brs) {
    if (interface >= kMaxInterfaces) {
        syslogx(147, "canRegisterTxFunc: interface number too big %d", static_cast<int>(interface));
        return -1;
    }
    std::lock_guard<std::mutex> lk(gMx);
    if (gTxCount >= CAN_MAX_REQUESTS) {
        syslogx(147, "canRegisterTxFunc: too many requests");
        return -1;
    }
    gTx[gTxCount] = {static_cast<uint8_t>(interface), format, fdf, brs, id & host::CAN_EFF_MASK};
    return gTxCount++;
}

void canTxMsg(int handle, uint8_t dlc, const uint8_t* data) {
    TxReq req;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (handle < 0 || handle >= gTxCount) {
            SYSLOGX_FLOOD(gTxHandleFlood, 147, "canTxMsg: unknown handle %d", handle);
            return;
        }
        req = gTx[handle];
    }
    if (dlc > 15 || (!req.fdf && dlc > 8)) {
        SYSLOGX_FLOOD(gTxDlcFlood, 147, "canTxMsg: invalid data length code %d for 0x%03X", dlc, req.id);
        return;
    }
    host::CanFrame f;
    f.id = req.id | (req.format != 0 ? host::CAN_EFF_FLAG : 0u);
    f.len = static_cast<uint8_t>(canDLC2length(dlc));
    f.flags = static_cast<uint8_t>((req.fdf ? host::CANFD_FDF : 0) | (req.brs ? host::CANFD_BRS : 0));
    if (data && f.len) memcpy(f.data, data, f.len);
    if (host::rtpSyscall(RtpIndex, req.interface, reinterpret_cast<intptr_t>(&f), 0, 0, 0, 0, 0,
                         host::SC_CAN_SEND) < 0)
        SYSLOGX_FLOOD(gTxSendFlood, 147, "canTxMsg: sending 0x%03X on CAN%d failed", req.id, req.interface + 1);
}

void canPoll_1ms() {
    MSG_Q_ID q = rxQueue();
    if (!q) return;
    host::CanRxMsg m;
    RxReq hits[8];
    while (msgQReceive(q, &m, sizeof m, NO_WAIT) == static_cast<long>(sizeof m)) {
        int n = 0;
        {
            std::lock_guard<std::mutex> lk(gMx);
            auto range = gRxIndex.equal_range(key(m.interface, m.id));
            for (auto it = range.first; it != range.second && n < 8; ++it) {
                // Standard and extended identifiers of equal value are different
                // frames; the request's format tells which one it wants.
                const RxReq& r = gRx[it->second];
                bool wantExt = r.format != 0;
                if (wantExt == ((m.id & host::CAN_EFF_FLAG) != 0)) hits[n++] = r;
            }
        }
        uint32_t lenFlags = m.len | (static_cast<uint32_t>(m.flags) << 8);
        for (int i = 0; i < n; ++i)
            hits[i].fn(hits[i].user, m.id & host::CAN_EFF_MASK, hits[i].format, lenFlags, m.data);
    }
}

int canStartController(unsigned interface, uint32_t nominal, uint32_t data) {
    if (host::rtpSyscall(RtpIndex, interface, nominal, data, 0, 0, 0, 0, host::SC_CAN_BAUDRATE) < 0 ||
        host::rtpSyscall(RtpIndex, interface, 0, 0, 0, 0, 0, 0, host::SC_CAN_START) < 0) {
        syslogx(147, "canStartController: starting CAN%d failed", static_cast<int>(interface) + 1);
        return 0;
    }
    return 1;
}

void canFront_resetForTest() {
    std::lock_guard<std::mutex> lk(gMx);
    gRxCount = 0;
    gTxCount = 0;
    gRxIndex.clear();
    gTxHandleFlood = gTxSendFlood = gTxDlcFlood = 0;
}
