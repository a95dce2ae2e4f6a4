// CAN over UDP on the loopback address: one struct canfd_frame (72 bytes) or
// classic struct can_frame (16 bytes) per datagram, so that a small script
// can inject and capture frames without kernel CAN support.
#include "host/bus/can_internal.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace host::detail {

namespace {
constexpr size_t kClassicMtu = 16;
constexpr int kPollMs = 50;   // how quickly the receive thread notices a stop

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

UdpBus::UdpBus(unsigned interface, uint16_t rxPort) : interface_(interface), rxPort_(rxPort) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(rxPort_);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "CAN%u: cannot bind UDP port %u: %s\n", interface_, rxPort_, std::strerror(errno));
        ::close(fd_);
        fd_ = -1;
        return;
    }
    rx_ = std::thread([this] {
        receiveLoop();
        end_.note();
    });
}

UdpBus::~UdpBus() {
    stop_ = true;
    if (rx_.joinable()) rx_.join();
    if (fd_ >= 0) ::close(fd_);
}

bool UdpBus::send(const CanFrame& f) {
    if (fd_ < 0) return false;
    sockaddr_in to = loopback(static_cast<uint16_t>(rxPort_ + 1000));
    return ::sendto(fd_, &f, sizeof f, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(sizeof f);
}

void UdpBus::receiveLoop() {
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        uint8_t buf[sizeof(CanFrame) + 1];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n != static_cast<ssize_t>(sizeof(CanFrame)) && n != static_cast<ssize_t>(kClassicMtu)) continue;
        CanFrame f;
        std::memcpy(&f, buf, static_cast<size_t>(n));
        size_t room = n == static_cast<ssize_t>(kClassicMtu) ? 8 : 64;
        if (f.len > room) f.len = static_cast<uint8_t>(room);
        canDeliver(interface_, f);
    }
}

}  // namespace host::detail
