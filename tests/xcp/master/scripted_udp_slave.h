// A scripted XCP-on-UDP slave on 127.0.0.1 for the master's tests: it
// answers each command with what the script gives (positive answers by
// default, or errors) and sends raw datagrams to the master when asked.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/timebase.h"

class ScriptedUdpSlave {
public:
    using Bytes = std::vector<uint8_t>;
    // Answer of a command; an empty answer is not sent.
    using Script = std::function<Bytes(const Bytes&)>;

    explicit ScriptedUdpSlave(Script script = positive) : answer_(std::move(script)) {
        sock_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t l = sizeof a;
        getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &l);
        port_ = ntohs(a.sin_port);
        rx_ = std::thread([this] { loop(); });
    }
    ~ScriptedUdpSlave() {
        stop_ = true;
        rx_.join();
        close(sock_);
    }
    uint16_t port() const { return port_; }

    std::vector<Bytes> commands() {
        std::lock_guard<std::mutex> lk(mx_);
        return cmds_;
    }
    size_t count(uint8_t code) {
        size_t n = 0;
        for (auto& c : commands()) n += !c.empty() && c[0] == code;
        return n;
    }
    // One datagram to the master (the source of the last command).
    void sendRaw(const Bytes& datagram) {
        sockaddr_in to;
        {
            std::lock_guard<std::mutex> lk(mx_);
            to = master_;
        }
        sendto(sock_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // One packet in a frame.
    static Bytes frame(const Bytes& packet, uint16_t ctr = 0) {
        Bytes f = {uint8_t(packet.size()), uint8_t(packet.size() >> 8), uint8_t(ctr), uint8_t(ctr >> 8)};
        f.insert(f.end(), packet.begin(), packet.end());
        return f;
    }

    // What a little-endian slave with relative ODT numbers and the DAQ list
    // number as a word (as our own slave) answers.
    static Bytes positive(const Bytes& c) {
        switch (c[0]) {
        case 0xFF: return {0xFF, 0x05, 0x80, 0xFF, 0xFF, 0x00, 0x01, 0x01};
        case 0xFD: return {0xFF, 0, 0, 0, 0, 0};
        case 0xDA: return {0xFF, 0x13, 4, 0, 4, 0, 0, 0x80};
        case 0xDE: return {0xFF, 0};
        case 0xDC: {
            uint32_t t = time_getTimestamp();
            return {0xFF, 0, 0, 0, uint8_t(t), uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24)};
        }
        default: return {0xFF};
        }
    }

private:
    void loop() {
        uint8_t buf[2048];
        while (!stop_) {
            pollfd p{sock_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            sockaddr_in from{};
            socklen_t fl = sizeof from;
            ssize_t n = recvfrom(sock_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n < 4) continue;
            const unsigned len = unsigned(buf[0] | buf[1] << 8);
            if (len + 4u > size_t(n) || len == 0) continue;
            Bytes cmd(buf + 4, buf + 4 + len);
            Bytes ans;
            {
                std::lock_guard<std::mutex> lk(mx_);
                master_ = from;
                cmds_.push_back(cmd);
                ans = answer_(cmd);
            }
            if (!ans.empty()) {
                Bytes f = frame(ans, ctr_++);
                sendto(sock_, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&from), fl);
            }
        }
    }

    const Script answer_;
    int sock_ = -1;
    uint16_t port_ = 0;
    uint16_t ctr_ = 0;
    std::atomic<bool> stop_{false};
    std::thread rx_;
    std::mutex mx_;
    sockaddr_in master_{};
    std::vector<Bytes> cmds_;
};
