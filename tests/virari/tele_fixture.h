// A telemetry measurement built by hand: blocks with their newest records,
// the slot table, and UDP sockets on 127.0.0.1 to receive what is sent.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <vector>

#include "logging/app/meas_runtime.h"
#include "measurement/meas_fixture.h"
#include "virari/telemetry/telemetry.h"

// Reflected CRC-16 with polynomial 0x8408, start 0xFFFF, bit by bit.
inline uint16_t referenceCrc16(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408) : uint16_t(crc >> 1);
    }
    return crc;
}

// A UDP socket on 127.0.0.1 with an ephemeral port.
struct UdpPort {
    int fd = -1;
    uint16_t port = 0;
    UdpPort() {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpPort() { ::close(fd); }
    // One datagram within the time-out, empty when none came.
    std::vector<uint8_t> receive(int timeoutMs = 2000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return {};
        std::vector<uint8_t> buf(2048);
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        buf.resize(n > 0 ? size_t(n) : 0);
        return buf;
    }
    void sendTo(uint16_t toPort, const std::string& text) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(toPort);
        ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
};

// A port that was free a moment ago.
inline uint16_t freeUdpPort() {
    UdpPort p;
    return p.port;
}

class TeleTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        ASSERT_EQ(tele_publishSignals(), 1);
        rxPort = freeUdpPort();
        tele_setJsonPortsForTest(freeUdpPort(), rxPort);
        std::memset(tele, 0, sizeof tele);
        std::memset(&info, 0, sizeof info);
        std::memset(&config, 0, sizeof config);
        config.protocol = 1;
        config.teleInfo = &info;
        config.teleInfoSize = TELEINFO_SIZE;
        m.config = &config;
        info.mode = 2;
        info.ipAddr = htonl(INADDR_LOOPBACK);
        info.port = receiver.port;
        info.dataRate = 8;
        info.projectCode = 0xABCD1234;
        info.softwareId = 0x42;
    }
    void TearDown() override {
        tele_app_exit();
        std::memset(tele, 0, sizeof tele);
        MeasTest::TearDown();
    }
    // Adds a block of valueBytes to a telemetry id, its values counting up
    // from first; blocks of one id must be added one after another.
    MeasBlock* addBlock(unsigned id, uint32_t valueBytes, uint8_t first, uint16_t pid = 0) {
        BlkInfo& cfg = configs.emplace_back();
        cfg.recordSize = 4 + valueBytes;
        auto& rec = records.emplace_back(4 + valueBytes);
        for (uint32_t i = 0; i < valueBytes; ++i) rec[4 + i] = uint8_t(first + i);
        MeasBlock& b = blocks[used++];
        b = MeasBlock{};
        b.owner = &m;
        b.config = &cfg;
        b.pid = pid;
        b.teleSlot = uint16_t(id + 1);
        b.teleBuffer = rec.data();
        b.teleState = 1;
        if (!tele[id].first) tele[id].first = &b;
        ++tele[id].count;
        return &b;
    }

    uint16_t rxPort = 0;   // where the device takes the modem's answers
    TeleInfo info{};
    MEASConfiguration config{};
    meas_t m{};
    UdpPort receiver;
    std::deque<BlkInfo> configs;
    std::deque<std::vector<uint8_t>> records;
    MeasBlock blocks[16]{};
    unsigned used = 0;
};
