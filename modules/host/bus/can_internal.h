// The two CAN bus kinds behind the kernel-side CAN service.
#pragma once

#include "host/kernel/kernel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <string>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace host::detail {

// The end of a bus's thread, noted by the thread and waited for within a
// bound.
class ThreadEnd {
public:
    void note() {
        {
            std::lock_guard<std::mutex> lk(mx_);
            ended_ = true;
        }
        cv_.notify_all();
    }
    bool waitUntil(int64_t untilMs) {
        const std::chrono::steady_clock::time_point until{std::chrono::milliseconds(untilMs)};
        std::unique_lock<std::mutex> lk(mx_);
        return cv_.wait_until(lk, until, [this] { return ended_; });
    }

private:
    std::mutex mx_;
    std::condition_variable cv_;
    bool ended_ = false;
};

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
    void askStop() override { stop_ = true; }
    bool waitEnded(int64_t untilMs) override { return !rx_.joinable() || end_.waitUntil(untilMs); }

private:
    void receiveLoop();
    unsigned interface_;
    uint16_t rxPort_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    ThreadEnd end_;
    std::thread rx_;
};

// Serves one interface to socketcand clients in raw mode on a TCP port of
// 127.0.0.1 (see can_socketcand.cpp).
class SocketcandServer {
public:
    SocketcandServer(unsigned interface, uint16_t port);
    ~SocketcandServer();
    bool ok() const { return listenFd_ >= 0; }
    struct Client {
        int fd = -1;
        bool open = false;
        std::atomic<bool> raw{false};
        std::string in, out;   // out: guarded by the server's mutex
        // After the raw-mode answer nothing more is written until quietUntil
        // or the client's next command (serving thread only).
        bool quiet = false;
        std::chrono::steady_clock::time_point quietUntil{};
    };
    // Queues a frame for every raw-mode client but except (classic frames only).
    void publish(const CanFrame& f, const Client* except = nullptr);
    uint64_t dropped() const { return dropped_; }
    // The stop in two steps, as a bus's.
    void askStop();
    bool waitEnded(int64_t untilMs) { return !thread_.joinable() || end_.waitUntil(untilMs); }

private:
    void serve();
    void wake();
    void command(Client& c, const std::string& body);
    void reply(Client& c, const char* text);
    bool readClient(Client& c);
    bool writeClient(Client& c);
    bool sendSome(Client& c, const std::string& chunk);
    void endClient(Client* c);
    void endDeadClients();
    void refuse(int fd);
    void accept();
    int pollTimeoutMs() const;

    unsigned interface_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> dropped_{0};
    std::mutex mx_;
    std::vector<std::unique_ptr<Client>> clients_;
    unsigned refused_ = 0;   // tools refused since the port became full (serving thread only)
    ThreadEnd end_;
    std::thread thread_;
};

// The text of a frame as a socketcand server sends it in raw mode.
std::string socketcandFrameText(const CanFrame& f);
// Parses the body of "< send <id> <dlc> <bytes> >"; false for a malformed one.
bool socketcandParseSend(const std::string& body, CanFrame* out);

}  // namespace host::detail
