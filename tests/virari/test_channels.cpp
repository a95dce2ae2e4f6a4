// Command and data receive over a channel: lengths from the network are
// checked before use, the stream stays in step, stray records end the
// connection on the second in a row; a record cut off publishes nothing;
// records of a datagram.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "bc2_fixture.h"
#include "measurement/gateway.h"
#include "virari/sernet_man.h"

namespace {
constexpr uint16_t kTestCmd = 0x7F01;
std::atomic<int> gServed{0};
std::atomic<unsigned> gLastLen{0};
int testHandler(ci_msg_t* m) {
    gLastLen = ci_get_len(m);
    ++gServed;
    return 1;
}

std::vector<uint8_t> command(uint16_t dst, uint16_t len) {
    std::vector<uint8_t> m(CI_HEADER_SIZE + len, 0x5A);
    std::memset(m.data(), 0, CI_HEADER_SIZE);
    be_put16(m.data() + 2, len);
    be_put16(m.data() + 4, 9);
    be_put16(m.data() + 6, dst);
    be_put16(m.data() + 16, kTestCmd);
    return m;
}

std::vector<uint8_t> record(uint16_t dst, uint16_t len, uint32_t magic, uint8_t fill) {
    std::vector<uint8_t> r(DK_RECORD_HEADER + len, fill);
    be_put16(r.data(), dst);
    be_put16(r.data() + 2, len);
    be_put32(r.data() + 4, magic);
    return r;
}

void put(int fd, const std::vector<uint8_t>& b) { ASSERT_EQ(send(fd, b.data(), b.size(), 0), ssize_t(b.size())); }

}  // namespace

class ChannelTest : public Bc2Test {
protected:
    void SetUp() override {
        Bc2Test::SetUp();
        ASSERT_EQ(comint_init(), 1);
        ci_register_command(kTestCmd, testHandler);
        gServed = 0;
    }
    void TearDown() override {
        comint_shutdown();
        Bc2Test::TearDown();
    }
    // A queue FIFO of 4 slots of 8 bytes under a fresh magic number.
    dynkomm_fifo_t* sink(uint32_t* magic) {
        *magic = dynkomm_get_magic();
        dynkomm_fifo_prepare(*magic);
        return dynkomm_fifo_create(*magic, kPeer, *magic, kOwn, 3, 4, 8, DYNKOMM_MODE_QUEUE);
    }
};

TEST_F(ChannelTest, CommandPayloadBeyondTheBufferIsSkippedInStep) {
    bc2_channel* c;
    int peer = channelPair(CH_CI, &c);
    put(peer, command(kOwn, CI_MAX_PAYLOAD));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);
    ASSERT_TRUE(waitCount(gServed, 1));
    EXPECT_EQ(gLastLen.load(), CI_MAX_PAYLOAD);

    put(peer, command(kOwn, 600));
    put(peer, command(kOwn, 4));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);   // dropped, the channel stays
    EXPECT_EQ(c->cnt[CNT_RX_ERR].load(), 1);
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);   // the next message is read whole
    ASSERT_TRUE(waitCount(gServed, 2));
    EXPECT_EQ(gLastLen.load(), 4u);
    EXPECT_EQ(c->cnt[CNT_RX].load(), 2);
    EXPECT_TRUE(logContains(takeLogTexts(), "bc_ci_receive recv. bytes : 600"));

    close(peer);
    EXPECT_EQ(bc_ci_receive(c, c->sock), 0);
}

// A header that cannot come from this peer means the stream is out of step
// (random bytes, a lost byte): reading on would take lengths from garbage, so
// the connection ends and the peer connects again.
TEST_F(ChannelTest, CommandHeaderOutOfStepEndsTheConnection) {
    struct Case {
        const char* what;
        size_t off;
        uint16_t value;
    };
    const Case cases[] = {
        {"a source beyond the PIDs", 4, 0x1234},
        {"the source PID 64", 4, 64},
        {"a destination beyond the PIDs", 6, 65},
        {"the destination PID 64", 6, 64},
        {"a length beyond 64 KiB", 0, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        bc2_channel* c;
        int peer = channelPair(CH_CI, &c);
        c->cnt[CNT_RX_ERR] = 0;
        auto m = command(kOwn, 4);
        be_put16(m.data() + k.off, k.value);
        put(peer, m);
        put(peer, command(kOwn, 4));
        EXPECT_EQ(bc_ci_receive(c, c->sock), 0);
        EXPECT_EQ(c->cnt[CNT_RX_ERR].load(), 1);
        EXPECT_TRUE(logContains(takeLogTexts(), "out of step"));
    }
    EXPECT_EQ(gServed.load(), 0);

    // to all devices, and to any PID up to 63, is in step; so is a command
    // the peer hands on for another device, under that device's PID
    bc2_channel* c;
    int peer = channelPair(CH_CI, &c);
    c->cnt[CNT_RX_ERR] = 0;
    put(peer, command(CI_PID_ALL, 4));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);
    put(peer, command(63, 4));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);
    put(peer, command(kOwn, 4));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);
    for (uint16_t relayedFrom : {0, 40, 63}) {
        auto m = command(kOwn, 4);
        be_put16(m.data() + 4, relayedFrom);
        put(peer, m);
        EXPECT_EQ(bc_ci_receive(c, c->sock), 1) << "from PID " << relayedFrom;
    }
    EXPECT_TRUE(waitCount(gServed, 5));   // the own ones and the copy of the one to all
    EXPECT_EQ(c->cnt[CNT_RX_ERR].load(), 0);
    EXPECT_FALSE(logContains(takeLogTexts(), "out of step"));
}

// Once the network is stopping, a command that still arrives is not handed
// to the command interface, which is shut down next, and the channel ends.
// In the process's shutdown the network goes quiet before the command
// interface goes: what arrives is dropped, yet the channel stays up and
// still sends (the stop requests of the measurement lists go out after it).
TEST_F(ChannelTest, CommandArrivingWhileTheNetworkGoesQuietIsDroppedAndTheChannelStillSends) {
    bc2_channel* c;
    int peer = channelPair(CH_CI, &c);
    BC2_quiet();
    put(peer, command(kOwn, 4));
    EXPECT_EQ(bc_ci_receive(c, c->sock), 1);
    comint_shutdown();   // what the shutdown does next: nothing was queued for it
    EXPECT_EQ(gServed.load(), 0);
    EXPECT_EQ(c->cnt[CNT_RX].load(), 0);
    EXPECT_FALSE(logContains(takeLogTexts(), "cannot queue"));
    ci_msg_t m;
    ci_init_msg(&m, kTestCmd, c->pid, 4);
    std::memset(m.payload, 0, 4);
    EXPECT_EQ(BC2_comint_put_eth(&m), 1);
}

TEST_F(ChannelTest, DataRecordsFitTheirSlotOrAreDropped) {
    uint32_t magic;
    dynkomm_fifo_t* f = sink(&magic);
    ASSERT_NE(f, nullptr);
    bc2_channel* c;
    int peer = channelPair(CH_DK, &c);
    put(peer, record(kOwn, 8, magic, 0x11));
    put(peer, record(kOwn, 12, magic, 0x22));   // longer than the slot
    put(peer, record(kOwn, 6, magic, 0x33));
    put(peer, record(kOwn, 8, 0x12345, 0x44));  // no such FIFO
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bc_dk_receive(c, c->sock), 1);
    EXPECT_EQ(bc2().dkDropped.load(), 1u);
    uint8_t* s = dynkomm_read(f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], 0x11);
    EXPECT_EQ(s[7], 0x11);
    dynkomm_readdone(f);
    s = dynkomm_read(f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[5], 0x33);
    EXPECT_EQ(s[6], 0);   // a shorter record leaves no stale bytes
    dynkomm_readdone(f);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    dynkomm_fifo_delete(f);
}

TEST_F(ChannelTest, ARecordBrokenOffHalfWayKeepsTheNewestWholeValue) {
    // a newest-value sink of two slots, as slow rasters get
    uint32_t magic = dynkomm_get_magic();
    dynkomm_fifo_prepare(magic);
    dynkomm_fifo_t* f = dynkomm_fifo_create(magic, kPeer, magic, kOwn, 9, 2, 8, 0);
    ASSERT_NE(f, nullptr);
    bc2_channel* c;
    int peer = channelPair(CH_DK, &c);
    put(peer, record(kOwn, 8, magic, 0x11));
    put(peer, record(kOwn, 8, magic, 0x22));
    std::vector<uint8_t> cut = record(kOwn, 8, magic, 0xEE);
    cut.resize(DK_RECORD_HEADER + 3);   // the connection ends inside the record
    put(peer, cut);
    shutdown(peer, SHUT_WR);
    EXPECT_EQ(bc_dk_receive(c, c->sock), 1);
    EXPECT_EQ(bc_dk_receive(c, c->sock), 1);
    EXPECT_EQ(bc_dk_receive(c, c->sock), 0);
    uint8_t* s = dynkomm_read(f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], 0x22);
    EXPECT_EQ(s[7], 0x22);
    dynkomm_readdone(f);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    dynkomm_fifo_delete(f);
}

TEST_F(ChannelTest, SinkBuffersWithoutASpareSlotKeepTheirValuesWhole) {
    auto put = [](dynkomm_fifo_t* f, uint8_t v) {
        uint8_t* s = dynkomm_write(f);
        if (s) {
            std::memset(s, v, 8);
            dynkomm_writedone(f);
        }
        return s != nullptr;
    };
    auto take = [](dynkomm_fifo_t* f) {
        uint8_t* s = dynkomm_read(f);
        int v = s ? s[0] : -1;
        if (s) dynkomm_readdone(f);
        return v;
    };
    // two slots: while the reader holds the older one, the newest stays
    // whole and a further value is refused rather than written over either
    dynkomm_fifo_t* two = SerNet_man_reserve(8, 2, 0, 9, kPeer, 0x101);
    ASSERT_NE(two, nullptr);
    ASSERT_TRUE(put(two, 1));
    const uint8_t* held = dynkomm_read(two);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(put(two, 2));
    EXPECT_FALSE(put(two, 3));
    EXPECT_EQ(held[7], 1);
    dynkomm_readdone(two);
    EXPECT_EQ(take(two), 2);
    EXPECT_TRUE(put(two, 4));
    EXPECT_EQ(take(two), 4);
    SerNet_man_release_fifo(two);

    // one slot (a peer may ask for it): new values still come through, and
    // none is written while the reader holds the slot
    dynkomm_fifo_t* one = SerNet_man_reserve(8, 1, 0, 9, kPeer, 0x102);
    ASSERT_NE(one, nullptr);
    for (uint8_t v = 1; v <= 3; ++v) {
        ASSERT_TRUE(put(one, v));
        EXPECT_EQ(take(one), v);
    }
    ASSERT_TRUE(put(one, 4));
    held = dynkomm_read(one);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(put(one, 5));
    EXPECT_EQ(held[7], 4);
    dynkomm_readdone(one);
    EXPECT_TRUE(put(one, 6));
    EXPECT_EQ(take(one), 6);
    SerNet_man_release_fifo(one);
}

TEST_F(ChannelTest, StrayRecordsSkippedOnceThenTheConnectionEnds) {
    bc2_channel* c;
    int peer = channelPair(CH_DK, &c);
    put(peer, record(kPeer + 1, 16, 1, 0));
    put(peer, record(kPeer + 1, 16, 1, 0));
    EXPECT_EQ(bc_dk_receive(c, c->sock), 1);
    EXPECT_EQ(bc_dk_receive(c, c->sock), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "received data for PID 0xA - no routing available"));

    bc2_channel* c2;
    int peer2 = channelPair(CH_DK, &c2);
    ASSERT_EQ(c2, c);   // the record of the host is kept
    c->stray = 0;
    put(peer2, record(kPeer + 1, 513, 1, 0));
    EXPECT_EQ(bc_dk_receive(c, c->sock), 0);
}

TEST_F(ChannelTest, DatagramRecordsWithinTheDatagramOnly) {
    uint32_t magic;
    dynkomm_fifo_t* f = sink(&magic);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> d = record(kOwn, 8, magic, 0x01);
    auto r2 = record(kOwn, 8, magic, 0x02);
    d.insert(d.end(), r2.begin(), r2.end());
    auto r3 = record(kOwn, 8, magic, 0x03);
    d.insert(d.end(), r3.begin(), r3.begin() + 12);   // cut short
    bc2_dk_datagram(d.data(), d.size(), inet_addr("127.0.0.9"));
    EXPECT_EQ(bc2().dkDropped.load(), 1u);
    int n = 0;
    while (uint8_t* s = dynkomm_read(f)) {
        EXPECT_EQ(s[0], ++n);
        dynkomm_readdone(f);
    }
    EXPECT_EQ(n, 2);
    dynkomm_fifo_delete(f);
}

namespace {
uint64_t monotonicMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// Command i to the peer: 100 payload bytes carrying i.
ci_msg_t numbered(uint32_t i) {
    ci_msg_t m;
    ci_init_msg(&m, kTestCmd, 9, 100);   // the fixture's peer
    std::memset(m.payload, 0, 100);
    be_put32(m.payload, i);
    return m;
}

// The numbers of the whole commands in a byte stream; false when the stream
// holds anything but whole commands.
bool wholeCommands(const std::vector<uint8_t>& b, std::vector<uint32_t>* out) {
    size_t at = 0;
    while (at + CI_HEADER_SIZE <= b.size()) {
        if (be_get16(b.data() + at + 2) != 100 || be_get16(b.data() + at + 16) != kTestCmd) return false;
        if (at + CI_HEADER_SIZE + 100 > b.size()) return false;
        out->push_back(be_get32(b.data() + at + CI_HEADER_SIZE));
        at += CI_HEADER_SIZE + 100;
    }
    return at == b.size();
}
}  // namespace

// A peer that stops reading: sending never waits, a full buffer drops whole
// commands (counted, logged once), the peer receives whole commands in
// order, and a peer that takes nothing for a second is disconnected.
TEST_F(ChannelTest, CommandsNeverWaitOnAPeerThatStopsReading) {
    bc2_channel* c;
    int peer = channelPair(CH_CI, &c);
    takeLogTexts();
    auto sender = std::async(std::launch::async, [] {
        int sent = 0;
        for (uint32_t i = 0; i < 3000; ++i) {
            ci_msg_t m = numbered(i);
            sent += BC2_comint_put_eth(&m);
        }
        return sent;
    });
    if (sender.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        while (sender.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) pending(peer);
        FAIL() << "a command send waited on the peer";
    }
    const int sent = sender.get();
    EXPECT_LT(sent, 3000);
    EXPECT_GT(sent, 0);
    EXPECT_EQ(c->cnt[CNT_TX_ERR].load(), 3000 - sent);
    EXPECT_EQ(countContaining(takeLogTexts(), "Error sending comint cmd to PID"), 1);

    // the peer reads again: what was kept follows, whole and in order
    std::vector<uint8_t> got = pending(peer);
    bc2_ci_tx_service(monotonicMs());
    for (int i = 0; i < 100 && c->tx->len; ++i) {
        auto more = pending(peer);
        got.insert(got.end(), more.begin(), more.end());
        bc2_ci_tx_service(monotonicMs());
    }
    auto rest = pending(peer);
    got.insert(got.end(), rest.begin(), rest.end());
    std::vector<uint32_t> numbers;
    ASSERT_TRUE(wholeCommands(got, &numbers));
    EXPECT_EQ(numbers.size(), size_t(sent));
    for (size_t i = 1; i < numbers.size(); ++i) ASSERT_LT(numbers[i - 1], numbers[i]);
    EXPECT_EQ(c->tx->len, 0u);

    // and stops again, for good: disconnected after a second
    for (uint32_t i = 0; i < 3000; ++i) {
        ci_msg_t m = numbered(i);
        BC2_comint_put_eth(&m);
    }
    EXPECT_GT(c->tx->len, 0u);
    EXPECT_TRUE(bc2_ci_tx_service(monotonicMs()));
    EXPECT_GE(c->sock.load(), 0);
    EXPECT_FALSE(bc2_ci_tx_service(monotonicMs() + 1000));
    EXPECT_LT(c->sock.load(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CI channel to PID 0x9 takes no data for 1000 ms, disconnecting"));
    ci_msg_t m = numbered(0);
    EXPECT_EQ(BC2_comint_put_eth(&m), 0);
}

namespace {

// The thread of that name sleeps in the kernel (state S): it waits.
bool threadSleeps(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (!std::getline(comm, line) || line != name) continue;
        std::ifstream stat(task.path() / "stat");
        if (!std::getline(stat, line)) return false;
        const size_t end = line.rfind(')');   // the state follows the name in brackets
        return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S';
    }
    return false;
}

}  // namespace

// The command send task sleeps until something waits to be written; a stop
// wakes it, so it ends with nothing to send. The stop comes once the task
// sleeps: one that came earlier would end it without waking it.
TEST_F(ChannelTest, StopEndsTheCommandSendTask) {
    TASK_ID t = taskSpawn("r_BC2_CI_send", 76, VX_FP_TASK, 10000, [] { BC2_CI_send(); });
    ASSERT_NE(t, nullptr);
    // named once it runs its body, whose only wait is the one for work
    bool asleep = false;
    for (int i = 0; i < 10000 && !(asleep = threadSleeps("r_BC2_CI_send")); ++i) taskDelay(1);
    EXPECT_TRUE(asleep) << "the send task never went to sleep";
    BC2_stop();
    const STATUS ended = taskWait(t, 5 * sysClkRateGet());
    if (ended != OK) taskDelete(t);
    EXPECT_EQ(ended, OK) << "the stop left the send task asleep";
}

// Connections that match no host, one after the other from one address,
// cannot fill the log: their accept, no-host and close lines are limited per
// source address; another address is still logged.
TEST_F(Bc2Test, AcceptLinesAreLimitedPerSourceAddress) {
    bc2_state& s = bc2();
    s.ownAddr = inet_addr("127.0.51.1");
    TASK_ID daemon = taskSpawn("r_BC2_CI_daemon", 74, VX_FP_TASK, 5000, [] { BC2_connect_passive(CH_CI); });
    ASSERT_NE(daemon, nullptr);
    for (int i = 0; i < 2000 && !s.ready2connect; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(s.ready2connect);
    const sockaddr_in to = bc2_sockaddr(s.ownAddr, BC2_PORT_CI);
    // connects from `ip` and waits until the device has closed the connection
    auto connectOnce = [&](const char* ip) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from = bc2_sockaddr(inet_addr(ip), 0);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        timeval limit{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        // The device accepts and resets at once: a connect that returns
        // after the reset has arrived fails with it, which is as good.
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
            char b;
            errno = 0;
            EXPECT_LE(recv(fd, &b, 1, 0), 0);
            EXPECT_NE(errno, EAGAIN);
        } else {
            EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << std::strerror(errno);
        }
        close(fd);
    };
    takeLogTexts();
    for (int i = 0; i < 40; ++i) connectOnce("127.0.52.1");
    auto log = takeLogTexts();
    for (const char* line : {"BC2_connect_passive, port", "matches no host, closed", "bcSocket::close_socket("}) {
        SCOPED_TRACE(line);
        EXPECT_GE(countContaining(log, line), 1);
        EXPECT_LE(countContaining(log, line), 13);
    }
    connectOnce("127.0.52.2");
    EXPECT_TRUE(logContains(takeLogTexts(), "connection from 127.0.52.2"));

    s.stop = true;
    bcSocket_wakeAll();
    EXPECT_EQ(taskWait(daemon, 2000), OK);
}

// A peer that announces itself and then connects both channels and resets
// them, again and again, cannot fill the log either: each line its
// connections cause is limited per its address.
TEST_F(Bc2Test, ConnectionLinesOfAnAnnouncedPeerAreLimited) {
    bc2_state& s = bc2();
    s.ownAddr = inet_addr("127.0.53.1");
    Presence p;
    p.ip = "127.0.53.2";
    p.offset = 21000;   // its channels connect from 30862 and 30863
    auto m = message(p);
    ASSERT_TRUE(bc2_presence_receive(m.data(), m.size(), bc2_sockaddr(inet_addr(p.ip), BC2_PORT_PRESENCE_TX)));
    TASK_ID daemons[2];
    for (int type : {CH_CI, CH_DK}) {
        s.ready2connect = false;
        daemons[type] = taskSpawn(type == CH_CI ? "r_BC2_CI_daemon" : "r_BC2_DK_daemon", 74, VX_FP_TASK, 5000,
                                  [type] { BC2_connect_passive(type); });
        ASSERT_NE(daemons[type], nullptr);
        for (int i = 0; i < 2000 && !s.ready2connect; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(s.ready2connect);
    }
    // connects the channel from the peer's port, resets the connection and
    // waits until its receive task has seen that
    auto connectAndReset = [&](int type) {
        bc2_channel* before = type == CH_CI ? bc2().hosts[kPeer].ci.load() : bc2().hosts[kPeer].dk.load();
        const int errors = before ? before->cnt[CNT_RX_ERR].load() : 0;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        linger now{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        sockaddr_in from = bc2_sockaddr(inet_addr(p.ip), uint16_t(p.offset + (type == CH_CI ? BC2_PORT_CI_ACTIVE
                                                                                            : BC2_PORT_DK_ACTIVE)));
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        const sockaddr_in to = bc2_sockaddr(s.ownAddr, type == CH_CI ? BC2_PORT_CI : BC2_PORT_DK);
        EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
        close(fd);
        for (int i = 0; i < 2000; ++i) {
            bc2_channel* c = type == CH_CI ? bc2().hosts[kPeer].ci.load() : bc2().hosts[kPeer].dk.load();
            if (c && c->cnt[CNT_RX_ERR] > errors) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "the reset of channel " << type << " was not seen";
    };
    takeLogTexts();
    for (int i = 0; i < 30; ++i) {
        connectAndReset(CH_CI);
        connectAndReset(CH_DK);
    }
    auto log = takeLogTexts();
    for (const char* line : {"BC2_connect_passive, port", "CI channel to PID 0x9 established",
                             "DK channel to PID 0x9 established", "bcSocket::close_socket(",
                             "somebody created a UDP DK Tx socket here before"}) {
        SCOPED_TRACE(line);
        EXPECT_GE(countContaining(log, line), 1);
        EXPECT_LE(countContaining(log, line), 13);
    }
    EXPECT_TRUE(logContains(log, "caused by 127.0.53.2 are held back for up to a minute"));

    s.stop = true;
    bcSocket_wakeAll();
    for (TASK_ID t : daemons) EXPECT_EQ(taskWait(t, 2000), OK);
}

// A device that restarted at another address gets its online data there
// once its channels are made anew: by this side's connect manager, and by a
// data connection it opens from its new address.
TEST_F(Bc2Test, OnlineDataGoesWhereThePeerIsNow) {
    bc2_state& s = bc2();
    s.ownAddr = inet_addr("127.0.54.1");
    auto dataAddr = [](bc2_channel* c) {
        std::lock_guard<std::mutex> lk(c->sockMx);
        return std::make_pair(c->udpAddr.sin_addr.s_addr, ntohs(c->udpAddr.sin_port));
    };
    const auto dataPort = BC2_PORT_DK_UDP;

    // the connect manager: the peer's data channel ended, and the peer is
    // heard again at another address
    Presence p;
    p.pid = 10;
    p.ip = "127.0.54.9";
    p.seq = 100;
    p.detect = pidBit(kOwn);
    receive(p);
    bc2_channel* dk = s.hosts[10].dk;
    ASSERT_NE(dk, nullptr);
    EXPECT_EQ(dataAddr(dk), std::make_pair(inet_addr("127.0.54.9"), dataPort));
    dk->state = CH_ENDED;
    p.ip = "127.0.54.7";
    p.seq = 1;   // restarted
    receive(p);
    EXPECT_EQ(dataAddr(dk), std::make_pair(inet_addr("127.0.54.7"), dataPort));

    // the accepted data connection of a peer whose record this side is
    // still waiting with (its connect manager does not call again)
    TASK_ID daemon = taskSpawn("r_BC2_DK_daemon", 79, VX_FP_TASK, 5000, [] { BC2_connect_passive(CH_DK); });
    ASSERT_NE(daemon, nullptr);
    for (int i = 0; i < 2000 && !s.ready2connect; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(s.ready2connect);
    Presence q;
    q.ip = "127.0.54.2";
    q.detect = pidBit(kOwn);
    receive(q);
    dk = s.hosts[kPeer].dk;
    ASSERT_NE(dk, nullptr);
    EXPECT_EQ(dk->state.load(), CH_CONNECTING);   // the peer is the greater address: it connects
    q.ip = "127.0.54.5";
    q.seq = 1;
    q.detect = 0;
    receive(q);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    fds.push_back(fd);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const linger noWait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &noWait, sizeof noWait);
    sockaddr_in from = bc2_sockaddr(inet_addr("127.0.54.5"), BC2_PORT_DK_ACTIVE);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    const sockaddr_in to = bc2_sockaddr(s.ownAddr, BC2_PORT_DK);
    ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    for (int i = 0; i < 2000 && dk->state != CH_ESTABLISHED; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(dk->state.load(), CH_ESTABLISHED);
    EXPECT_EQ(dataAddr(dk), std::make_pair(inet_addr("127.0.54.5"), dataPort));

    s.stop = true;
    bcSocket_wakeAll();
    EXPECT_EQ(taskWait(daemon, 2000), OK);
}

// Of two devices only the one with the greater address connects: the other
// one's receive task, woken without a connection (an accepted one that was
// replaced or reset before it took it), waits for the next one instead of
// connecting to the peer itself.
TEST_F(Bc2Test, OnlyTheGreaterAddressConnectsWhenItsTaskIsWoken) {
    bc2_state& s = bc2();
    Presence p;
    p.ip = "127.0.55.5";
    p.offset = 22000;
    ASSERT_TRUE(receive(p));
    // the peer's command listen port, where an active connect would arrive
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    fds.push_back(listener);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in at = bc2_sockaddr(inet_addr(p.ip), uint16_t(p.offset + BC2_PORT_CI));
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 10), 0);
    auto connectsArrived = [&] {
        int n = 0;
        for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0; ++n) close(fd);
        return n;
    };
    bc2_channel* c = BC2_create_channel_config(&s.hosts[kPeer], CH_CI);
    ASSERT_NE(c, nullptr);

    // 127.0.55.3 is the smaller address (the last octet weighs most)
    s.ownAddr = inet_addr("127.0.55.3");
    for (int wake = 0; wake < 3; ++wake) {
        c->state = CH_CONNECTING;
        ASSERT_EQ(BC2_recv_activate(c), 1);
        for (int i = 0; i < 2000 && c->state == CH_CONNECTING; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(c->state.load(), CH_IDLE);
        EXPECT_EQ(connectsArrived(), 0) << "wake " << wake;
    }
    EXPECT_FALSE(logContains(takeLogTexts(), "BC2_connect_active"));

    // 127.0.55.7 is the greater one: the same wake connects
    s.ownAddr = inet_addr("127.0.55.7");
    c->state = CH_CONNECTING;
    ASSERT_EQ(BC2_recv_activate(c), 1);
    int arrived = 0;
    for (int i = 0; i < 2000 && !arrived; ++i) {
        arrived = connectsArrived();
        if (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(arrived, 1);
}

// A record that finds its FIFO full is lost whichever way it came: the
// stream and the datagram path both count it as measurement data lost.
TEST_F(ChannelTest, RecordsAFullFifoRefusesAreCountedOnBothPaths) {
    uint32_t m;
    dynkomm_fifo_t* f = sink(&m);
    ASSERT_TRUE(f);
    const uint32_t from = inet_addr("127.0.58.1");
    for (int i = 0; i < 4; ++i) bc2_dk_datagram(record(kOwn, 8, m, 0).data(), DK_RECORD_HEADER + 8, from);
    const uint32_t before = meas_man_get_data_loss_cnt();
    bc2_dk_datagram(record(kOwn, 8, m, 0).data(), DK_RECORD_HEADER + 8, from);
    EXPECT_EQ(meas_man_get_data_loss_cnt(), before + 1);
    bc2_channel* dk;
    int dkPeer = channelPair(CH_DK, &dk);
    put(dkPeer, record(kOwn, 8, m, 0));
    EXPECT_EQ(bc_dk_receive(dk, dk->sock), 1);
    EXPECT_EQ(meas_man_get_data_loss_cnt(), before + 2);
}

// What one address floods (14 lines of a kind, one beyond its budget) does
// not silence another address: each line another device's traffic causes is
// limited per source address.
TEST_F(ChannelTest, LinesAPeerCausesAreLimitedPerAddress) {
    const uint32_t filler = inet_addr("127.0.56.1"), other = inet_addr("127.0.56.2");
    uint32_t m1, m2;
    dynkomm_fifo_t* f1 = sink(&m1);
    dynkomm_fifo_t* f2 = sink(&m2);
    ASSERT_TRUE(f1 && f2);
    f2->raster = 4;   // tells its lines apart from f1's
    for (uint32_t m : {m1, m2})
        for (int i = 0; i < 4; ++i) bc2_dk_datagram(record(kOwn, 8, m, 0).data(), DK_RECORD_HEADER + 8, filler);
    bc2_channel* dk;
    int dkPeer = channelPair(CH_DK, &dk);
    struct Kind {
        const char* what;
        std::function<void(uint32_t from, bool second)> cause;
        std::string secondLine;   // what the other address's line holds
    };
    const Kind kinds[] = {
        {"short presence message",
         [](uint32_t from, bool second) {
             auto m = message(Presence{});
             bc2_presence_receive(m.data(), second ? 30 : 40, bc2_sockaddr(from, BC2_PORT_PRESENCE_TX));
         },
         "short message dropped, 30 bytes"},
        {"presence with a wrong PID",
         [](uint32_t from, bool second) {
             Presence p;
             p.pid = second ? 71 : 70;
             auto m = message(p);
             bc2_presence_receive(m.data(), m.size(), bc2_sockaddr(from, BC2_PORT_PRESENCE_TX));
         },
         "wrong pid received 71"},
        {"command stream out of step",
         [this](uint32_t from, bool second) {
             bc2_channel* c;
             int peer = channelPair(CH_CI, &c);
             c->peer = from;
             auto m = command(kOwn, 4);
             be_put16(m.data() + 4, second ? 0x4321 : 0x1234);
             put(peer, m);
             bc_ci_receive(c, c->sock);
         },
         "source 0x4321"},
        {"record for a full FIFO",
         [&](uint32_t from, bool second) {
             dk->peer = from;
             put(dkPeer, record(kOwn, 8, second ? m2 : m1, 0));
             bc_dk_receive(dk, dk->sock);
         },
         "magic 0x" + [&] {
             char b[9];
             snprintf(b, sizeof b, "%08x", m2);
             return std::string(b);
         }() + " full"},
        {"datagram record for a full FIFO",
         [&](uint32_t from, bool second) {
             bc2_dk_datagram(record(kOwn, 8, second ? m2 : m1, 0).data(), DK_RECORD_HEADER + 8, from);
         },
         "slots 4, raster 4"},
        {"datagram record for another PID",
         [&](uint32_t from, bool second) {
             bc2_dk_datagram(record(second ? 0x31 : 0x30, 8, m1, 0).data(), DK_RECORD_HEADER + 8, from);
         },
         "received data for PID 0x31"},
    };
    int n = 0;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.what);
        // a flooder of its own for each line: the two lines of a full FIFO share their kind
        const std::string flooder = "127.0.57." + std::to_string(++n);
        takeLogTexts();
        for (int i = 0; i < 14; ++i) k.cause(inet_addr(flooder.c_str()), false);
        k.cause(other, true);
        auto log = takeLogTexts();
        EXPECT_TRUE(logContains(log, k.secondLine));
        EXPECT_TRUE(logContains(log, "caused by " + flooder + " are held back for up to a minute"));
        EXPECT_FALSE(logContains(log, "Flooding suspicion"));
    }
    dynkomm_fifo_delete(f1);
    dynkomm_fifo_delete(f2);
}

namespace {
int gGate[2] = {-1, -1};
std::atomic<int> gInRead{0};
// A receive step stuck in a system call of its own: a read of a pipe that
// stays empty until the test writes to it.
int stuckInARead(bc2_channel*, int) {
    ++gInRead;
    char b;
    return read(gGate[0], &b, 1) == 1 ? 0 : 0;
}
}  // namespace

// A channel's receive task stuck in a system call when the network shuts
// down is given up: its channel is kept (named in the log as a leak), not
// freed under it, and when its call returns the task ends on the channel
// still whole (ASan would see a use after free).
TEST_F(ChannelTest, AGivenUpReceiveTaskKeepsItsChannel) {
    ASSERT_EQ(pipe(gGate), 0);
    bc2_channel* c = nullptr;
    channelPair(CH_CI, &c);
    c->sock = dup(c->sock);   // the task closes its socket when it ends
    c->recv = stuckInARead;
    ASSERT_EQ(BC2_recv_activate(c), 1);
    ASSERT_TRUE(waitCount(gInRead, 1));
    const TASK_ID task = c->task;
    BC2_shutdown();
    EXPECT_TRUE(logContains(takeLogTexts(), "stuck in a system call, given up: its channel CI to PID 0x9 kept"));
    ASSERT_EQ(write(gGate[1], "x", 1), 1);
    EXPECT_EQ(taskWait(task, WAIT_FOREVER), OK);
    close(gGate[0]);
    close(gGate[1]);
}
