// ICMP echo on the host: an unprivileged ICMP datagram socket where the
// system permits one, else a raw socket (root); the reply is matched by
// sequence number (and identifier on the raw socket).
#include "host/bus/ping.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "host/os/os_internal.h"

namespace {

std::atomic<int> replyTimeoutS{1};
std::atomic<uint16_t> nextSeq{1};
constexpr int kSliceMs = 20;   // a delete of the task is seen this often

uint16_t checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t(p[i] << 8 | p[i + 1]);
    if (n & 1) sum += uint32_t(p[n - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// One echo; 0 on a reply, else an errno value.
int echoOnce(const sockaddr_in& to, int timeoutMs) {
    Fd s;
    bool raw = false;
    s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s.fd < 0) {
        s.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (s.fd < 0) return errno;
    const uint16_t id = uint16_t(::getpid());
    const uint16_t seq = nextSeq.fetch_add(1);
    uint8_t req[16] = {ICMP_ECHO, 0, 0, 0, uint8_t(id >> 8), uint8_t(id), uint8_t(seq >> 8), uint8_t(seq),
                       't', 'a', 'v', '9', 'p', 'i', 'n', 'g'};
    const uint16_t c = checksum(req, sizeof req);
    req[2] = uint8_t(c >> 8);
    req[3] = uint8_t(c);
    if (::sendto(s.fd, req, sizeof req, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) return errno;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (taskDeletePending()) throw hostos::TaskDeleted{};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd p{s.fd, POLLIN, 0};
        int r = ::poll(&p, 1, int(left < kSliceMs ? left : kSliceMs));
        if (r < 0 && errno != EINTR) return errno;
        if (r <= 0) continue;
        uint8_t buf[1500];
        sockaddr_in from{};
        socklen_t fl = sizeof from;
        ssize_t n = ::recvfrom(s.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return errno;
        }
        const uint8_t* icmp = buf;
        if (raw) {
            size_t ihl = size_t(buf[0] & 0x0F) * 4;
            if (size_t(n) < ihl + 8) continue;
            icmp = buf + ihl;
            n -= ssize_t(ihl);
        }
        if (n < 8 || icmp[0] != ICMP_ECHOREPLY || from.sin_addr.s_addr != to.sin_addr.s_addr) continue;
        if (uint16_t(icmp[6] << 8 | icmp[7]) != seq) continue;
        if (raw && uint16_t(icmp[4] << 8 | icmp[5]) != id) continue;
        return 0;
    }
}

}  // namespace

void pingSetReplyTimeout(int seconds) { replyTimeoutS.store(seconds < 1 ? 1 : seconds); }

STATUS ping(const char* host, int numPackets, unsigned long) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!host || inet_pton(AF_INET, host, &to.sin_addr) != 1 || numPackets < 1) {
        errno = EINVAL;
        return ERROR;
    }
    for (int i = 0; i < numPackets; ++i) {
        int err = echoOnce(to, replyTimeoutS.load() * 1000);
        if (err) {
            errno = err;
            return ERROR;
        }
    }
    return OK;
}
