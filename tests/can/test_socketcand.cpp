// The socketcand raw-mode server of the host CAN bus, driven by a plain TCP
// client on the loopback address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "can_fixture.h"

namespace {

uint16_t freeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { close(fd_); }
    bool ok() const { return ok_; }
    void send(const std::string& s) { ASSERT_EQ(::send(fd_, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size())); }
    // The next "< ... >" message, "" after 2 s without one, "closed" at the end.
    std::string next() {
        for (;;) {
            size_t b = buf_.find('<'), e = buf_.find('>');
            if (b != std::string::npos && e != std::string::npos && e > b) {
                std::string m = buf_.substr(b, e - b + 1);
                buf_.erase(0, e + 1);
                return m;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) return "";
            char tmp[512];
            ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
            if (n <= 0) return "closed";
            buf_.append(tmp, size_t(n));
        }
    }
    // What one receive brings, as a python-can client reads an answer.
    std::string receiveOnce() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) return "";
        char tmp[256];
        ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
        return n <= 0 ? "closed" : std::string(tmp, size_t(n));
    }
    void rawMode() {
        EXPECT_EQ(next(), "< hi >");
        send("< open can0 >");
        EXPECT_EQ(next(), "< ok >");
        send("< rawmode >");
        EXPECT_EQ(next(), "< ok >");
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::string buf_;
};

std::vector<std::string> rx;
void onRx(void*, uint32_t id, uint8_t format, uint32_t lenFlags, const uint8_t* data) {
    char t[64];
    int n = snprintf(t, sizeof t, "%X/%u:", id, format);
    for (unsigned i = 0; i < (lenFlags & 0xFF); ++i) n += snprintf(t + n, sizeof t - n, "%02X", data[i]);
    rx.push_back(t);
}

}  // namespace

class SocketcandTest : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        port = freeTcpPort();
        writeFile("start.cfg", "can_bus = loopback\ncan1_socketcand_port = " + std::to_string(port) + "\n");
        host::loadStartParams(1);
        host::canOpen(1);
        rx.clear();
    }
    uint16_t port = 0;
};

TEST_F(SocketcandTest, RawModeCarriesFramesBothWays) {
    Client c(port), other(port);
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(other.ok());
    c.rawMode();
    other.rawMode();
    c.send("< echo >");
    EXPECT_EQ(c.next(), "< echo >");

    // device to client: standard and extended identifiers, data as one hex run
    host::CanFrame f = frame(0x123, {0x11, 0x22, 0xAB});
    ASSERT_EQ(host::canSend(1, f), 0);
    std::string m = c.next();
    EXPECT_EQ(m.rfind("< frame 123 ", 0), 0u) << m;
    EXPECT_EQ(m.substr(m.size() - 9), " 1122AB >") << m;
    host::canSend(1, frame(0x18FF0001 | host::CAN_EFF_FLAG, {}));
    m = c.next();
    EXPECT_EQ(m.rfind("< frame 18FF0001 ", 0), 0u) << m;
    EXPECT_EQ(m.substr(m.size() - 3), "  >") << m;
    host::CanFrame fd = frame(0x124, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    fd.flags = host::CANFD_FDF;
    host::canSend(1, fd);   // CAN FD stays on the UDP bus
    host::canSend(1, frame(0x125, {7}));
    EXPECT_EQ(c.next().rfind("< frame 125 ", 0), 0u);
    for (int i = 0; i < 3; ++i) other.next();

    // client to device: the frame reaches the receive callbacks; the other client sees it
    ASSERT_EQ(canRegisterRxFunc(1, 0, 0x321, onRx, nullptr), 0);
    ASSERT_EQ(canRegisterRxFunc(1, 1, 0x18DA00F1, onRx, nullptr), 0);
    c.send("< send 321 3 1 ff 0a >< send 18DA00F1 0 >");
    m = other.next();
    EXPECT_EQ(m.rfind("< frame 321 ", 0), 0u) << m;
    EXPECT_EQ(m.substr(m.size() - 9), " 01FF0A >") << m;
    EXPECT_EQ(other.next().rfind("< frame 18DA00F1 ", 0), 0u);
    canPoll_1ms();
    EXPECT_EQ(rx, (std::vector<std::string>{"321/0:01FF0A", "18DA00F1/1:"}));

    // malformed frames are answered, not delivered
    for (const char* bad : {"< send 321 9 1 2 3 4 5 6 7 8 9 >", "< send 321 2 1 >", "< send xyz 1 1 >",
                            "< send 321 1 100 >", "< send 1FFFFFFFF 0 >"}) {
        c.send(bad);
        EXPECT_EQ(c.next(), "< error wrong frame >") << bad;
    }
    canPoll_1ms();
    EXPECT_EQ(rx.size(), 2u);
}

TEST_F(SocketcandTest, SessionRulesAndMisbehavingClients) {
    Client c(port);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.next(), "< hi >");
    c.send("< rawmode >");   // not open yet
    EXPECT_EQ(c.next().rfind("< error", 0), 0u);
    c.send("< send 1 1 1 >");
    EXPECT_EQ(c.next().rfind("< error", 0), 0u);
    host::canSend(1, frame(0x1, {1}));   // not in raw mode: nothing
    c.send("< open can1 >");
    EXPECT_EQ(c.next(), "< ok >");
    c.send("< rawmode >");
    EXPECT_EQ(c.next(), "< ok >");

    // a client that never ends its command is dropped, the server goes on
    Client junk(port);
    EXPECT_EQ(junk.next(), "< hi >");
    junk.send("<" + std::string(2000, 'x'));
    EXPECT_EQ(junk.next(), "closed");
    host::canSend(1, frame(0x2, {2}));
    EXPECT_EQ(c.next().rfind("< frame 002 ", 0), 0u);
}

TEST_F(SocketcandTest, FullPortKeepsItsListeningToolsAndRefusesANewcomer) {
    // sixteen tools that only listen: they never send a byte after raw mode
    std::vector<std::unique_ptr<Client>> listeners;
    for (int i = 0; i < 16; ++i) {
        listeners.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(listeners.back()->ok());
        listeners.back()->rawMode();
    }
    host::canSend(1, frame(0x10, {1}));
    for (auto& l : listeners) EXPECT_EQ(l->next().rfind("< frame 010 ", 0), 0u);

    // a newcomer on the full port is told and closed, and the refusal logged
    testing::internal::CaptureStderr();
    {
        Client late(port);
        EXPECT_TRUE(late.ok());
        EXPECT_EQ(late.next().rfind("< error", 0), 0u);
        EXPECT_EQ(late.next(), "closed");
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("refused"), std::string::npos) << log;

    // every listener still has its place and its frames
    host::canSend(1, frame(0x11, {2}));
    for (auto& l : listeners) EXPECT_EQ(l->next().rfind("< frame 011 ", 0), 0u);

    // a tool that left makes room at once, even when the next one connects
    // before the server has read the first one's goodbye; what it sent last
    // still reaches the bus
    listeners[3]->send("< send 13 1 5 >");
    listeners[3].reset();
    Client next(port);
    ASSERT_TRUE(next.ok());
    next.rawMode();
    host::canSend(1, frame(0x12, {3}));
    std::string m = next.next();
    EXPECT_EQ(m.rfind("< frame 012 ", 0), 0u) << m;
    for (auto& l : listeners) {
        if (!l) continue;
        EXPECT_EQ(l->next().rfind("< frame 013 ", 0), 0u);
        EXPECT_EQ(l->next().rfind("< frame 012 ", 0), 0u);
    }
}

// python-can takes each answer with one receive and wants exactly "< ok >":
// a tool that switches to raw mode while frames flow, and reads a moment
// later, must still find the answer alone.
TEST_F(SocketcandTest, RawModeAnswerArrivesAloneWhileFramesFlow) {
    Client talker(port);
    ASSERT_TRUE(talker.ok());
    talker.rawMode();
    // frames from the device and from another tool, every millisecond
    struct Traffic {
        std::atomic<bool> stop{false};
        std::thread thread;
        ~Traffic() {
            stop = true;
            thread.join();
        }
    } traffic;
    traffic.thread = std::thread([&] {
        for (uint8_t n = 0; !traffic.stop; ++n) {
            host::canSend(1, frame(0x20, {n}));
            talker.send("< send 21 1 " + std::to_string(n % 10) + " >");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 5; ++i) {
        Client tool(port);
        ASSERT_TRUE(tool.ok());
        EXPECT_EQ(tool.next(), "< hi >");
        tool.send("< open can1 >");
        EXPECT_EQ(tool.next(), "< ok >");
        tool.send("< rawmode >");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));   // a slow reader
        EXPECT_EQ(tool.receiveOnce(), "< ok >");
        // the frames of the moment follow
        EXPECT_EQ(tool.next().rfind("< frame 02", 0), 0u);
    }
}
