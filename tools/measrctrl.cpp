// measrctrl: a logging remote-control client, in the place of the kernel-side
// service that forwards a desktop tool's connect and disconnect.
//
//   measrctrl [-t SECONDS] FOLDER CODE [IPV4]
//
// Sends the 5-byte command CODE (hex, e.g. e1 or 0xE1) with the client
// address IPV4 (default 0.0.0.0) to the device running in FOLDER. For the
// codes that the device answers (d1, e0, e1, e2) it waits up to SECONDS
// (default 30) for the 5-byte reply and prints "reply 0xNN" or "no reply";
// the others get no reply, so it prints "sent" and is done. Exit status: 0
// reply 0x00 or a code without reply sent, 1 any other reply, 2 no reply,
// 3 usage or the device's queues cannot be opened.
//
// The device has one reply queue for all clients, and a reply does not say
// whom it is for. So the clients that wait for a reply take turns: each
// holds an exclusive flock on "rctrl.lock" in the device folder from
// emptying the reply queue to taking its reply, and a reply reaches the
// client that asked. The codes without reply touch the reply queue not at
// all and need no turn.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mqueue.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/kernel/kernel.h"

namespace {

constexpr const char* kUsage =
    "usage: measrctrl [-t SECONDS] FOLDER CODE [IPV4]\n"
    "Sends the logging remote-control command CODE (hex: d1 d2 d3 e0 e1 e2 ed ee ef)\n"
    "with the client address IPV4 (default 0.0.0.0) to the device running in FOLDER.\n"
    "d1, e0, e1 and e2 are answered: waits up to SECONDS (default 30) and prints\n"
    "\"reply 0xNN\" or \"no reply\" (the wait includes that for the turn: clients that\n"
    "wait for a reply take turns, holding FOLDER/rctrl.lock). The other codes get no\n"
    "reply: prints \"sent\".\n"
    "Exit status: 0 reply 0x00 or sent, 1 another reply, 2 no reply, 3 usage or no device.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 3;
}

// The codes whose command the device answers; every other code gets none.
bool hasReply(unsigned long code) { return code == 0xD1 || code == 0xE0 || code == 0xE1 || code == 0xE2; }

timespec inSeconds(double s) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    long long ns = t.tv_nsec + (long long)(s * 1e9);
    t.tv_sec += time_t(ns / 1000000000);
    t.tv_nsec = long(ns % 1000000000);
    return t;
}

struct Mq {
    mqd_t d = mqd_t(-1);
    ~Mq() {
        if (d != mqd_t(-1)) mq_close(d);
    }
};

bool passed(const timespec& deadline) {
    const timespec now = inSeconds(0);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// This client's turn at the reply queue, held until it is destroyed (also
// when the client is killed: the lock goes with the process).
class Turn {
public:
    ~Turn() {
        if (fd_ >= 0) ::close(fd_);
    }
    // Waits for the turn until the deadline: 1 got it, 0 another client kept
    // it, -1 the lock file cannot be used (errno).
    int take(const std::string& folder, const timespec& deadline) {
        fd_ = ::open((folder + "/rctrl.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) return -1;
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return 1;
            if (errno != EWOULDBLOCK && errno != EINTR) return -1;
            if (passed(deadline)) return 0;
            const timespec pause{0, 5 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }

private:
    int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    double wait = 30;
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "-t") == 0) {
        char* end;
        wait = std::strtod(argv[i + 1], &end);
        if (*end || wait < 0) return usage();
        i += 2;
    }
    if (argc - i < 2 || argc - i > 3) return usage();
    const std::string folder = argv[i];
    char* end;
    const unsigned long code = std::strtoul(argv[i + 1], &end, 16);
    if (*end || code > 0xFF) return usage();
    in_addr addr{};
    if (argc - i == 3 && inet_pton(AF_INET, argv[i + 2], &addr) != 1) return usage();

    const std::string rxName = host::processQueueName(folder, "/MeasAppRCTRL_RX");
    const std::string txName = host::processQueueName(folder, "/MeasAppRCTRL_TX");
    Mq rx, tx;
    rx.d = mq_open(rxName.c_str(), O_WRONLY | O_CLOEXEC);
    tx.d = mq_open(txName.c_str(), O_RDONLY | O_CLOEXEC);
    if (rx.d == mqd_t(-1) || tx.d == mqd_t(-1)) {
        std::fprintf(stderr, "measrctrl: no device listening in %s (%s: %s)\n", folder.c_str(),
                     rx.d == mqd_t(-1) ? rxName.c_str() : txName.c_str(), std::strerror(errno));
        return 3;
    }
    mq_attr attr{};
    mq_getattr(tx.d, &attr);
    std::vector<char> buf(size_t(attr.mq_msgsize > 0 ? attr.mq_msgsize : 5));
    timespec until = inSeconds(wait);
    Turn turn;
    if (hasReply(code)) {
        const int got = turn.take(folder, until);
        if (got < 0) {
            std::fprintf(stderr, "measrctrl: %s/rctrl.lock: %s\n", folder.c_str(), std::strerror(errno));
            return 3;
        }
        if (got == 0) {
            std::fprintf(stderr, "measrctrl: another client kept its turn\n");
            std::printf("no reply\n");
            return 2;
        }
        // a reply that an earlier client gave up waiting for is not ours
        timespec now = inSeconds(0);
        while (mq_timedreceive(tx.d, buf.data(), buf.size(), nullptr, &now) >= 0) {}
    }

    uint8_t cmd[5] = {uint8_t(code)};
    std::memcpy(cmd + 1, &addr.s_addr, 4);
    if (mq_timedsend(rx.d, reinterpret_cast<const char*>(cmd), sizeof cmd, 0, &until) != 0) {
        std::fprintf(stderr, "measrctrl: sending the command failed: %s\n", std::strerror(errno));
        return 3;
    }
    if (!hasReply(code)) {
        std::printf("sent\n");
        return 0;
    }
    ssize_t n = mq_timedreceive(tx.d, buf.data(), buf.size(), nullptr, &until);
    if (n < 1) {
        std::printf("no reply\n");
        return 2;
    }
    const uint8_t reply = uint8_t(buf[0]);
    std::printf("reply 0x%02X\n", reply);
    return reply == 0 ? 0 : 1;
}
