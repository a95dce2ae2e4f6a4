// The two CAN bus kinds behind the kernel-side CAN service.
#pragma once

#include "host/kernel.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace host::detail {

// Keeps sent frames for tests (the oldest go when kMaxKept is reached).
class LoopbackBus : public CanBus {
public:
    static constexpr size_t kMaxKept = 10000;
    bool send(const CanFrame& f) override;
    std::vector<CanFrame> take();

private:
    std::mutex mx_;
    std::vector<CanFrame> sent_;
};

// One frame per UDP datagram on 127.0.0.1: receives on rxPort, sends to
// rxPort + 1000. A thread hands received frames to canDeliver.
class UdpBus : public CanBus {
public:
    UdpBus(unsigned interface, uint16_t rxPort);
    ~UdpBus() override;
    bool ok() const { return fd_ >= 0; }
    bool send(const CanFrame& f) override;

private:
    void receiveLoop();
    unsigned interface_;
    uint16_t rxPort_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread rx_;
};

}  // namespace host::detail
