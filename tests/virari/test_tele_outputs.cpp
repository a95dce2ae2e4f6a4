// The serial line and the descriptors of the telemetry and its socket
// registry.
#include "virari/tele_fixture.h"

#include <fcntl.h>
#include <pty.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "host/kernel/kernel.h"
#include "log_capture.h"
#include "virari/DiraDir2/bc_socket.h"

namespace {
size_t openDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A pseudo terminal whose slave the device opens as "/tyCo/0".
struct Pty {
    int master = -1, slave = -1;
    char name[128] = {};
    Pty() { openpty(&master, &slave, name, nullptr, nullptr); }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    std::vector<uint8_t> read(size_t want, int timeoutMs = 2000) {
        std::vector<uint8_t> out;
        while (out.size() < want) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) break;
            uint8_t buf[512];
            ssize_t n = ::read(master, buf, std::min(sizeof buf, want - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
};
}  // namespace

class TeleSerial : public TeleTest {
protected:
    void SetUp() override {
        TeleTest::SetUp();
        ASSERT_GE(pty.master, 0);
        writeFile("start.cfg", std::string("serial0 = ") + pty.name + "\n");
        host::loadStartParams(1);
        info.mode = 0;
        info.baudrate = 115200;
    }
    Pty pty;
};

TEST_F(TeleSerial, FramesOnTheSerialLineWithTheirPeriod) {
    addBlock(0, 10, 0x10);
    addBlock(1, 20, 0x40);
    ASSERT_EQ(tele_app_start(&m), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(korvaTele_func(), 40);
        std::vector<uint8_t> f = pty.read(42);
        ASSERT_EQ(f.size(), 42u);
        EXPECT_EQ(f[3], 40);
        uint16_t crc = referenceCrc16(f.data(), 40);
        EXPECT_EQ(f[40], crc >> 8);
        EXPECT_EQ(f[41], crc & 0xFF);
    }
}

// A line nobody reads (a stalled modem, a pty without reader) fills up: the
// frames due then are dropped and counted, never waited for, and what the
// line carries is whole frames only.
TEST_F(TeleSerial, UnreadLineDropsFramesInsteadOfWaiting) {
    addBlock(0, 10, 0x10);
    addBlock(1, 20, 0x40);
    ASSERT_EQ(tele_app_start(&m), 1);
    const uint32_t droppedBefore = tele_serialFramesDropped();
    auto writer = std::async(std::launch::async, [] {
        for (int i = 0; i < 5000; ++i) korvaTele_func();
    });
    bool returned = writer.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!returned) {
        while (writer.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) pty.read(4096, 10);
        FAIL() << "the frame builder waited on the unread line";
    }
    EXPECT_GT(tele_serialFramesDropped(), droppedBefore);

    // drained, the line takes the tail of a frame it took in part and then
    // every frame again; all it carried is a sequence of whole frames
    std::vector<uint8_t> line;
    auto drain = [&] {
        for (std::vector<uint8_t> part; !(part = pty.read(4096, 100)).empty();)
            line.insert(line.end(), part.begin(), part.end());
    };
    drain();
    const uint32_t dropped = tele_serialFramesDropped();
    for (int i = 0; i < 3; ++i) korvaTele_func();
    drain();
    EXPECT_EQ(tele_serialFramesDropped(), dropped);
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.size() % 42, 0u);
    for (size_t at = 0; at < line.size(); at += 42) {
        ASSERT_EQ(line[at + 3], 40) << "at " << at;
        uint16_t crc = referenceCrc16(line.data() + at, 40);
        ASSERT_EQ(line[at + 40], crc >> 8) << "at " << at;
    }
    EXPECT_TRUE(logContains(takeLogTexts(), "RW37: could not send data on serial port"));
    tele_app_stop();
}

TEST_F(TeleSerial, StartStopCyclesLeaveNoDescriptorBehind) {
    addBlock(0, 4, 0);
    ASSERT_EQ(tele_app_start(&m), 1);   // the JSON tasks and their sockets stay
    tele_app_stop();
    for (int i = 0; i < 200 && bcSock().count() < 2; ++i) usleep(5000);   // both JSON sockets open
    ASSERT_EQ(bcSock().count(), 2);
    size_t before = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        info.mode = i % 2 ? 2 : 0;      // UDP socket and serial port alike
        ASSERT_EQ(tele_app_start(&m), 1);
        korvaTele_func();
        tele_app_stop();
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(BcSocket, RegistryLimitsAndClosing) {
    std::vector<int> fds;
    int base = bcSock().count();
    for (int i = base; i < bcSocket::kMaxSockets; ++i) fds.push_back(bcSocket_get(AF_INET, SOCK_DGRAM, 0));
    size_t open = openDescriptors();
    EXPECT_EQ(bcSocket_get(AF_INET, SOCK_DGRAM, 0), -1);   // the 201st
    EXPECT_EQ(openDescriptors(), open);
    for (int fd : fds) EXPECT_EQ(bcSocket_close(fd), 0);
    EXPECT_EQ(bcSock().count(), base);

    int a = bcSocket_get(AF_INET, SOCK_DGRAM, 0), b = bcSocket_get(AF_INET, SOCK_DGRAM, 0),
        c = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(bcSocket_close(a), 0);
    EXPECT_EQ(bcSock().count(), base + 2);
    errno = 0;
    EXPECT_EQ(bcSocket_close(a), -1);   // twice
    EXPECT_EQ(errno, 9);
    EXPECT_EQ(bcSocket_close(b), 0);
    EXPECT_EQ(bcSocket_close(c), 0);
}
