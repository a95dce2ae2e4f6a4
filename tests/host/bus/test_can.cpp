// CAN service: receive filter and queue, loopback bus, UDP round trip on 127.0.0.1.
#include "host/device_fixture.h"
#include "host/os/os.h"
#include "realtime_hold.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>


namespace {

using CanTest = DeviceFolderTest;

host::CanFrame frame(uint32_t id, uint8_t len, uint8_t first) {
    host::CanFrame f;
    f.id = id;
    f.len = len;
    for (int i = 0; i < len; ++i) f.data[i] = static_cast<uint8_t>(first + i);
    return f;
}

MSG_Q_ID rxQueue() { return msgQOpen("/msgQ_RX_Can_1", 0, 0, 0, 0); }

TEST_F(CanTest, LoopbackFiltersRegisteredIds) {
    writeFile("start.cfg", "can_bus = loopback\n");
    host::loadStartParams(1);
    host::canOpen(1);
    MSG_Q_ID q = rxQueue();
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(host::canRegisterRx(0, 0, 0x123), 0);
    EXPECT_EQ(host::canRegisterRx(1, 1, 0x18FF0001 | host::CAN_EFF_FLAG), 0);
    EXPECT_EQ(host::canRegisterRx(2, 0, 0x1), -1);

    host::canLoopbackInject(0, frame(0x123, 8, 10));
    host::canLoopbackInject(0, frame(0x124, 8, 10));   // not registered
    host::canLoopbackInject(1, frame(0x123, 8, 10));   // registered on the other interface only
    host::canLoopbackInject(1, frame(0x18FF0001 | host::CAN_EFF_FLAG, 64, 0));
    ASSERT_EQ(msgQNumMsgs(q), 2);
    host::CanRxMsg m;
    ASSERT_EQ(msgQReceive(q, &m, sizeof m, NO_WAIT), static_cast<long>(sizeof m));
    EXPECT_EQ(m.interface, 0);
    EXPECT_EQ(m.id, 0x123u);
    EXPECT_EQ(m.len, 8);
    EXPECT_EQ(m.data[7], 17);
    ASSERT_EQ(msgQReceive(q, &m, sizeof m, NO_WAIT), static_cast<long>(sizeof m));
    EXPECT_EQ(m.interface, 1);
    EXPECT_EQ(m.format, 1);
    EXPECT_EQ(m.id, 0x18FF0001u | host::CAN_EFF_FLAG);
    EXPECT_EQ(m.len, 64);
    EXPECT_EQ(m.data[63], 63);

    EXPECT_EQ(host::canSend(1, frame(0x55, 3, 1)), 0);
    auto sent = host::canLoopbackTake(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id, 0x55u);
    EXPECT_TRUE(host::canLoopbackTake(1).empty());
    EXPECT_TRUE(host::canLoopbackTake(0).empty());
    host::CanFrame tooLong = frame(0x56, 0, 0);
    tooLong.len = 65;
    EXPECT_EQ(host::canSend(0, tooLong), -1);
    msgQClose(q);
}

TEST_F(CanTest, FullQueueDropsAndCounts) {
    writeFile("start.cfg", "can_bus = loopback\n");
    host::loadStartParams(1);
    host::canOpen(1);
    host::canRegisterRx(0, 0, 0x10);
    for (int i = 0; i < host::kCanRxQueueDepth + 5; ++i) host::canLoopbackInject(0, frame(0x10, 1, 0));
    EXPECT_EQ(host::canRxDropped(), 5u);
}

// Finds a port p with p and p + 1000 free on 127.0.0.1.
uint16_t freePortPair() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t l = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &l);
        uint16_t p = ntohs(a.sin_port);
        close(s);
        if (p > 64000 || p < 2000) continue;
        int t = socket(AF_INET, SOCK_DGRAM, 0);
        a.sin_port = htons(static_cast<uint16_t>(p + 1000));
        bool ok = bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(t);
        if (ok) return p;
    }
    return 0;
}

TEST_F(CanTest, UdpRoundTrip) {
    uint16_t port = freePortPair();
    ASSERT_NE(port, 0);
    writeFile("start.cfg", "can0_port = " + std::to_string(port) + "\n");
    host::loadStartParams(1);

    int capture = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port + 1000));
    ASSERT_EQ(bind(capture, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    host::canOpen(1);
    host::canRegisterRx(0, 0, 0x321);
    MSG_Q_ID q = rxQueue();
    ASSERT_NE(q, nullptr);

    // sent frames arrive as one 72-byte datagram each
    host::CanFrame out = frame(0x7FF, 12, 0xA0);
    out.flags = host::CANFD_FDF | host::CANFD_BRS;
    ASSERT_EQ(host::canSend(0, out), 0);
    uint8_t buf[128];
    pollfd p{capture, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    ASSERT_EQ(recv(capture, buf, sizeof buf, 0), 72);
    EXPECT_EQ(0, memcmp(buf, &out, 72));

    // injected: a CAN FD frame, a classic 16-byte frame, a short datagram (dropped)
    a.sin_port = htons(port);
    host::CanFrame in = frame(0x321, 20, 1);
    ASSERT_EQ(sendto(capture, &in, 72, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 72);
    host::CanFrame classic = frame(0x321, 15, 50);   // a classic frame carries at most 8
    ASSERT_EQ(sendto(capture, &classic, 16, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 16);
    ASSERT_EQ(sendto(capture, &in, 10, 0, reinterpret_cast<sockaddr*>(&a), sizeof a), 10);
    host::CanRxMsg m;
    ASSERT_EQ(msgQReceive(q, &m, sizeof m, 5000), static_cast<long>(sizeof m));
    EXPECT_EQ(m.id, 0x321u);
    EXPECT_EQ(m.len, 20);
    EXPECT_EQ(m.data[19], 20);
    ASSERT_EQ(msgQReceive(q, &m, sizeof m, 5000), static_cast<long>(sizeof m));
    EXPECT_EQ(m.len, 8);
    EXPECT_EQ(m.data[0], 50);

    host::canClose();
    EXPECT_EQ(msgQNumMsgs(q), 0);
    EXPECT_EQ(host::canSend(0, out), -1);   // closed
    close(capture);
    msgQClose(q);
}

// CPUs the process may use.
// The buses' threads are started on `held`, which a real-time thread then
// holds (spinning until told to stop, or until its own clock says 5 s have
// passed): the stop's close returns within its bound, while that thread
// still spins, and leaves the buses' threads that had no turn to end.
[[noreturn]] void closeBesideHeldCpu(int held, int free) {
    pinTo(held);
    host::canOpen(1);   // (its threads keep the CPU they were started on)
    pinTo(free);
    std::atomic<bool> spinning{false}, stop{false}, spun{false};
    std::thread hog([&] {
        pinTo(held);
        sched_param sp{};
        sp.sched_priority = 50;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) != 0) _exit(2);
        spinning = true;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!stop && std::chrono::steady_clock::now() < until) {
        }
        spun = true;
    });
    while (!spinning) std::this_thread::yield();
    // the threads get no turn before the kernel's throttling leaves ordinary
    // threads their share, near the end of a second
    const bool ended = host::canClose(100);
    const bool stillHeld = !spun;
    stop = true;
    hog.join();
    if (ended || !stillHeld) fprintf(stderr, "the close waited for the buses' threads on the held CPU\n");
    _exit(!ended && stillHeld ? 0 : 1);
}

// The stop's close of the buses waits for their threads only within its
// bound: a thread that gets no CPU is left, with its bus, to the process's end.
TEST_F(CanTest, TheStopsCloseDoesNotWaitForABusThreadWithoutCpu) {
    if (kSanitizedBuild) GTEST_SKIP() << "a sanitizer build runs no thread at real-time priority";
    const auto cpus = usableCpus();
    if (cpus.size() < 2) GTEST_SKIP() << "one CPU only";
    sched_param sp{};
    sp.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0) GTEST_SKIP() << "real-time scheduling not permitted";
    sp.sched_priority = 0;
    sched_setscheduler(0, SCHED_OTHER, &sp);
    const uint16_t port = freePortPair();
    ASSERT_NE(port, 0);
    writeFile("start.cfg", "can0_port = " + std::to_string(port) + "\ncan0_socketcand_port = " +
                               std::to_string(port + 1) + "\n");
    host::loadStartParams(1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(closeBesideHeldCpu(cpus.back(), cpus.front()), testing::ExitedWithCode(0), "");
}

}  // namespace
