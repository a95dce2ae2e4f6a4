#include "xcp_test_master.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

XcpTestMaster::XcpTestMaster(uint16_t slavePort) : XcpTestMaster(slavePort, INADDR_LOOPBACK) {}

XcpTestMaster::XcpTestMaster(uint16_t slavePort, uint32_t slaveAddr) {
    // The slave's port was free when the test chose it, and the slave binds
    // it from its own task, maybe after this: a master that took it itself
    // would talk to itself (its CONNECT came back as a 2-byte answer). The
    // socket bound to it stays open while the next one binds, so that the
    // next gets another port.
    sockaddr_in me{};
    for (int tries = 0; tries < 10; ++tries) {
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        me = sockaddr_in{};
        me.sin_family = AF_INET;
        me.sin_addr.s_addr = htonl(slaveAddr == INADDR_LOOPBACK ? INADDR_LOOPBACK : INADDR_ANY);
        bind(s, reinterpret_cast<sockaddr*>(&me), sizeof me);
        socklen_t l = sizeof me;
        getsockname(s, reinterpret_cast<sockaddr*>(&me), &l);
        if (sock_ >= 0) close(sock_);
        sock_ = s;
        if (ntohs(me.sin_port) != slavePort) break;
    }
    int big = 4 << 20;
    setsockopt(sock_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    localPort_ = ntohs(me.sin_port);
    slave_.sin_family = AF_INET;
    slave_.sin_port = htons(slavePort);
    slave_.sin_addr.s_addr = htonl(slaveAddr);
    rx_ = std::thread([this] { receiveLoop(); });
}

XcpTestMaster::~XcpTestMaster() {
    stop_ = true;
    rx_.join();
    close(sock_);
}

void XcpTestMaster::receiveLoop() {
    uint8_t buf[70000];
    while (!stop_) {
        pollfd p{sock_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        ssize_t n = recv(sock_, buf, sizeof buf, 0);
        if (n < 4) continue;
        XcpDtoDatagram d{size_t(n), {}};
        for (size_t at = 0; at + 4 <= size_t(n);) {
            uint16_t len = uint16_t(buf[at] | (buf[at + 1] << 8));
            uint16_t ctr = uint16_t(buf[at + 2] | (buf[at + 3] << 8));
            if (at + 4 + len > size_t(n)) break;
            d.frames.push_back({ctr, Bytes(buf + at + 4, buf + at + 4 + len)});
            at += 4 + len;
        }
        std::lock_guard<std::mutex> lk(mx_);
        if (!d.frames.empty() && !d.frames[0].packet.empty() && d.frames[0].packet[0] >= 0xFD)
            ctos_.push_back(d.frames[0]);
        else if (handler_)
            handler_(d);
        else
            dtos_.push_back(std::move(d));
        cv_.notify_all();
    }
}

void XcpTestMaster::sendRaw(const void* data, size_t len) {
    sendto(sock_, data, len, 0, reinterpret_cast<const sockaddr*>(&slave_), sizeof slave_);
}

bool XcpTestMaster::nextCto(XcpFrame* out, int timeoutMs) {
    std::unique_lock<std::mutex> lk(mx_);
    if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !ctos_.empty(); })) return false;
    *out = std::move(ctos_.front());
    ctos_.pop_front();
    return true;
}

bool XcpTestMaster::commandFrame(const Bytes& packet, XcpFrame* answer, int timeoutMs) {
    Bytes frame = {uint8_t(packet.size()), uint8_t(packet.size() >> 8), uint8_t(ctr_), uint8_t(ctr_ >> 8)};
    ++ctr_;
    frame.insert(frame.end(), packet.begin(), packet.end());
    sendRaw(frame.data(), frame.size());
    return nextCto(answer, timeoutMs);
}

Bytes XcpTestMaster::command(const Bytes& packet, int timeoutMs) {
    XcpFrame f;
    return commandFrame(packet, &f, timeoutMs) ? f.packet : Bytes{};
}

Bytes XcpTestMaster::connect() {
    // the limit only ends a hang: a loaded host or a sanitizer build may
    // take seconds to bring the slave up
    for (int i = 0; i < 300; ++i) {
        Bytes a = command({0xFF, 0x00}, 100);
        if (a.empty()) continue;
        if (i == 0) return a;
        // an earlier try may have been answered late: drop those answers and
        // connect once more, so that answers and commands stay paired
        XcpFrame late;
        while (nextCto(&late, 200)) {
        }
        return command({0xFF, 0x00});
    }
    return {};
}

void XcpTestMaster::onDtos(std::function<void(const XcpDtoDatagram&)> handler) {
    std::lock_guard<std::mutex> lk(mx_);
    handler_ = std::move(handler);
}

uint16_t freeUdpPort() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t l = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &l);
    close(s);
    return ntohs(a.sin_port);
}

std::vector<XcpDtoDatagram> XcpTestMaster::takeDtos() {
    std::lock_guard<std::mutex> lk(mx_);
    std::vector<XcpDtoDatagram> out;
    out.swap(dtos_);
    return out;
}

size_t XcpTestMaster::dtoCount() {
    std::lock_guard<std::mutex> lk(mx_);
    size_t n = 0;
    for (const auto& d : dtos_) n += d.frames.size();
    return n;
}

Bytes XcpTestMaster::setMta(uint32_t address, uint8_t ext) {
    Bytes b = {0xF6, 0, 0, ext};
    putLe32(b, address);
    return b;
}

Bytes XcpTestMaster::shortUpload(uint8_t n, uint32_t address, uint8_t ext) {
    Bytes b = {0xF4, n, 0, ext};
    putLe32(b, address);
    return b;
}

Bytes XcpTestMaster::shortDownload(uint32_t address, const Bytes& data) {
    Bytes b = {0xED, uint8_t(data.size()), 0, 0};
    putLe32(b, address);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes XcpTestMaster::download(const Bytes& data) {
    Bytes b = {0xF0, uint8_t(data.size())};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
