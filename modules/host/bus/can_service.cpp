// The kernel-side CAN service: receive registration, the receive queue
// "/msgQ_RX_Can_<appNumber>", send, baud rate and start over the buses
// chosen in the start parameters.
#include "host/bus/can_internal.h"
#include "host/kernel/kernel_internal.h"
#include "host/os/os.h"

#include <cstring>
#include <map>
#include <string>

namespace host {

namespace {

constexpr unsigned kInterfaces = 2;
constexpr size_t kMaxRegistrations = 4096;

struct CanState {
    std::mutex mx;
    std::map<uint32_t, uint8_t> registered[kInterfaces];   // id -> format byte
    std::unique_ptr<CanBus> bus[kInterfaces];
    std::unique_ptr<detail::SocketcandServer> socketcand[kInterfaces];
    MSG_Q_ID rxq = nullptr;
    uint32_t baud[kInterfaces][2] = {};
    bool started[kInterfaces] = {};
};
CanState& can() {
    static CanState* s = new CanState;   // bus threads may outlive static destruction
    return *s;
}
std::atomic<uint64_t> dropped{0};

MSG_Q_ID openRxQueue(int appNumber) {
    std::string name = "/msgQ_RX_Can_" + std::to_string(appNumber);
    return msgQOpen(name.c_str(), kCanRxQueueDepth, sizeof(CanRxMsg), MSG_Q_FIFO, OM_CREATE);
}

}  // namespace

void canOpen(int appNumber) {
    canClose();
    const StartParams& p = startParams();
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    if (!s.rxq) s.rxq = openRxQueue(appNumber);
    for (unsigned i = 0; i < kInterfaces; ++i) {
        if (p.canBus == "loopback") {
            s.bus[i] = std::make_unique<detail::LoopbackBus>();
        } else {
            auto udp = std::make_unique<detail::UdpBus>(i, p.canPort[i]);
            if (udp->ok()) s.bus[i] = std::move(udp);
        }
        if (p.socketcandPort[i]) {
            auto server = std::make_unique<detail::SocketcandServer>(i, p.socketcandPort[i]);
            if (server->ok()) s.socketcand[i] = std::move(server);
        }
    }
}

namespace {

// What canClose takes out of the service, under its lock.
struct Closed {
    std::unique_ptr<CanBus> bus[kInterfaces];
    std::unique_ptr<detail::SocketcandServer> server[kInterfaces];
};
Closed takeOut() {
    Closed c;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    for (unsigned i = 0; i < kInterfaces; ++i) {
        c.bus[i] = std::move(s.bus[i]);
        c.server[i] = std::move(s.socketcand[i]);
    }
    return c;
}

}  // namespace

// Ended outside the lock: a receive thread may be in canDeliver.
void canClose() { takeOut(); }

bool canClose(unsigned limitMs) {
    Closed c = takeOut();
    // all are asked first and share the bound
    for (unsigned i = 0; i < kInterfaces; ++i) {
        if (c.bus[i]) c.bus[i]->askStop();
        if (c.server[i]) c.server[i]->askStop();
    }
    const int64_t until = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()).count() + limitMs;
    bool allEnded = true;
    for (unsigned i = 0; i < kInterfaces; ++i) {
        // one whose thread still runs stays, with its socket, for that thread
        if (c.bus[i] && !c.bus[i]->waitEnded(until)) {
            (void)c.bus[i].release();
            allEnded = false;
        }
        if (c.server[i] && !c.server[i]->waitEnded(until)) {
            (void)c.server[i].release();
            allEnded = false;
        }
    }
    return allEnded;
}

void canDeliver(unsigned interface, const CanFrame& f) {
    if (interface >= kInterfaces) return;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    auto it = s.registered[interface].find(f.id & CAN_EFF_MASK);
    if (it == s.registered[interface].end()) return;
    if (!s.rxq) s.rxq = openRxQueue(startParams().appNumber);
    CanRxMsg m{};
    m.interface = static_cast<uint8_t>(interface);
    m.format = it->second;
    m.len = f.len > 64 ? 64 : f.len;
    m.flags = f.flags;
    m.id = f.id;
    m.timeStamp = timeStamp();
    std::memcpy(m.data, f.data, m.len);
    if (msgQSend(s.rxq, &m, sizeof m, NO_WAIT, MSG_PRI_NORMAL) != OK) ++dropped;
}

uint64_t canRxDropped() { return dropped; }

int canRegisterRx(unsigned interface, uint8_t format, uint32_t id) {
    if (interface >= kInterfaces) return -1;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    auto& reg = s.registered[interface];
    if (reg.size() >= kMaxRegistrations && !reg.count(id & CAN_EFF_MASK)) return -1;
    reg[id & CAN_EFF_MASK] = format;
    return 0;
}

int canSend(unsigned interface, const CanFrame& frame) {
    if (interface >= kInterfaces || frame.len > 64) return -1;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    if (s.socketcand[interface]) s.socketcand[interface]->publish(frame);
    if (!s.bus[interface]) return s.socketcand[interface] ? 0 : -1;
    return s.bus[interface]->send(frame) ? 0 : -1;
}

int canSetBaudrate(unsigned interface, uint32_t nominal, uint32_t data) {
    if (interface >= kInterfaces) return -1;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    s.baud[interface][0] = nominal;
    s.baud[interface][1] = data;
    return 0;
}

int canStart(unsigned interface) {
    if (interface >= kInterfaces) return -1;
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    s.started[interface] = true;
    return 0;
}

std::vector<CanFrame> canLoopbackTake(unsigned interface) {
    if (interface >= kInterfaces) return {};
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    auto* lb = dynamic_cast<detail::LoopbackBus*>(s.bus[interface].get());
    return lb ? lb->take() : std::vector<CanFrame>{};
}

void canLoopbackInject(unsigned interface, const CanFrame& f) { canDeliver(interface, f); }

namespace detail {
void resetCan() {
    canClose();
    CanState& s = can();
    std::lock_guard<std::mutex> lk(s.mx);
    for (unsigned i = 0; i < kInterfaces; ++i) {
        s.registered[i].clear();
        s.baud[i][0] = s.baud[i][1] = 0;
        s.started[i] = false;
    }
    if (s.rxq) {
        char buf[sizeof(CanRxMsg)];
        while (msgQReceive(s.rxq, buf, sizeof buf, NO_WAIT) >= 0) {
        }
    }
    dropped = 0;
}
}  // namespace detail

}  // namespace host
