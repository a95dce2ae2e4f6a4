// A calibration tool of our own for the tests: an XCP-on-UDP master on
// 127.0.0.1 that sends commands with the frame header {LEN, CTR}
// (little-endian) and sorts what arrives into answers (first packet byte
// 0xFD to 0xFF) and datagrams of DTOs.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct XcpFrame {
    uint16_t ctr;
    Bytes packet;
};

struct XcpDtoDatagram {
    size_t size;                  // bytes of the datagram
    std::vector<XcpFrame> frames;
};

class XcpTestMaster {
public:
    explicit XcpTestMaster(uint16_t slavePort);
    // A slave at another IPv4 address (host order), reached from any local address.
    XcpTestMaster(uint16_t slavePort, uint32_t slaveAddr);
    ~XcpTestMaster();
    XcpTestMaster(const XcpTestMaster&) = delete;
    XcpTestMaster& operator=(const XcpTestMaster&) = delete;

    // Sends one packet in a frame; the answer packet, empty when none came.
    Bytes command(const Bytes& packet, int timeoutMs = 1000);
    // The answer frame (with its counter) of the next command.
    bool commandFrame(const Bytes& packet, XcpFrame* answer, int timeoutMs = 1000);
    // Sends raw bytes as one datagram.
    void sendRaw(const void* data, size_t len);
    // The next answer, event or error that arrives.
    bool nextCto(XcpFrame* out, int timeoutMs);
    // CONNECT (mode 0), repeated until the slave's socket answers.
    Bytes connect();

    // Hands every DTO datagram to the handler (on the receive thread) instead
    // of keeping it; nullptr keeps them again.
    void onDtos(std::function<void(const XcpDtoDatagram&)> handler);
    // DTO datagrams received so far (taken out).
    std::vector<XcpDtoDatagram> takeDtos();
    size_t dtoCount();
    uint16_t localPort() const { return localPort_; }

    // Command builders; addresses carry the PID in bits 24-31.
    static Bytes setMta(uint32_t address, uint8_t ext = 0);
    static Bytes shortUpload(uint8_t n, uint32_t address, uint8_t ext = 0);
    static Bytes shortDownload(uint32_t address, const Bytes& data);
    static Bytes download(const Bytes& data);
    static Bytes upload(uint8_t n) { return {0xF5, n}; }

private:
    void receiveLoop();

    int sock_ = -1;
    sockaddr_in slave_{};
    uint16_t localPort_ = 0;
    uint16_t ctr_ = 0;
    std::atomic<bool> stop_{false};
    std::thread rx_;
    std::mutex mx_;
    std::condition_variable cv_;
    std::deque<XcpFrame> ctos_;
    std::vector<XcpDtoDatagram> dtos_;
    std::function<void(const XcpDtoDatagram&)> handler_;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
uint16_t freeUdpPort();

inline uint32_t rdLe32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint16_t rdLe16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
inline void putLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
