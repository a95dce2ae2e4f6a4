// Presence messages, the hosts table, time-outs, resets, the connect
// manager's decisions and the capability answers.
#include "bc2_fixture.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

TEST_F(Bc2Test, DropsShortForeignRangeAndOwnMessages) {
    auto m = message(Presence{});
    sockaddr_in from{};
    EXPECT_FALSE(bc2_presence_receive(m.data(), 59, from));
    Presence big;
    big.pid = 64;
    EXPECT_FALSE(receive(big));
    EXPECT_EQ(udp_get_detect_mask(), 0u);
    Presence own;
    own.pid = kOwn;
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(receive(own));
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "BC2_UDP_listen() wrong pid received 64"));
    // 13 lines (repeats folded by the log), then the flooding warning once,
    // which names the line
    EXPECT_EQ(countContaining(log, "received our own pid, ignored"), 2);
    EXPECT_TRUE(logContains(log, "Last message repeated 12 times."));
    EXPECT_EQ(countContaining(log, "Flooding suspicion"), 1);
    EXPECT_TRUE(logContains(log, "Flooding suspicion! Syslogx message \"BC2_UDP_listen() received our own pid, "
                                 "ignored\" will be suppressed in future"));
}

// Multicast comes back to its sender: the device's own presence message is
// dropped without a word; another device with our PID is still reported.
TEST_F(Bc2Test, OwnPresenceEchoIsDroppedQuietly) {
    takeLogTexts();
    uint8_t echo[BC2_MSG_SIZE];
    bc2_build_presence(echo);
    sockaddr_in from{};
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(bc2_presence_receive(echo, sizeof echo, from));
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "received our own pid"), 0);
    EXPECT_EQ(countContaining(log, "Flooding suspicion"), 0);
    EXPECT_EQ(udp_get_detect_mask(), 0u);
}

TEST_F(Bc2Test, LearnsVersionOffsetAndRoute) {
    Presence p;
    p.offset = 100;
    ASSERT_TRUE(receive(p));
    EXPECT_EQ(bc2().hosts[kPeer].version, BC2_VERSION);
    EXPECT_EQ(bc2().hosts[kPeer].offset, 100);
    EXPECT_EQ(udp_get_detect_mask(), pidBit(kPeer));
    routing_entry_t r = routing_get_next(kPeer);
    EXPECT_EQ(r.kind, ROUTING_DIRADIR2);
    EXPECT_EQ(r.ip, 0x0A010009u);
    EXPECT_TRUE(logContains(takeLogTexts(), "BC2_UDP_listen add remote_pid 9"));
    // before 0x0202 the offset field is not read
    p.version = 0x0201;
    p.seq = 2;
    ASSERT_TRUE(receive(p));
    EXPECT_EQ(bc2().hosts[kPeer].offset, 0);
}

TEST_F(Bc2Test, SequenceGoingBackIsAResetExceptAfterWrap) {
    Presence p;
    p.seq = 500;
    receive(p);
    p.seq = 3;
    receive(p);
    EXPECT_EQ(countContaining(takeLogTexts(), "Reset detected on PID 0x9"), 1);
    p.seq = 0xFFFFFFFF;
    receive(p);
    p.seq = 0;
    receive(p);
    EXPECT_EQ(countContaining(takeLogTexts(), "Reset detected"), 0);
    EXPECT_EQ(bc2().hosts[kPeer].online, 1);
}

// Two units send presence under one PID, by turns, each with its own
// counter: the entry keeps to the unit it heard first, with no reset and
// its channels and route left as they are, and the pair is named once with
// both ids and addresses. Its own restart (a newer boot count) is a reset;
// a late message of the run that ended is not taken. Once the unit falls
// silent, the other is taken.
TEST_F(Bc2Test, SecondUnitUnderThePidIsNamedOnceAndNeverTaken) {
    Presence first, second;
    first.unit = 0xA1A1A1A1;
    first.boot = 5;
    first.seq = 100;
    second.unit = 0xB2B2B2B2;
    second.boot = 3;
    second.ip = "10.1.0.7";
    ASSERT_TRUE(receive(first));
    takeLogTexts();
    for (int i = 0; i < 20; ++i) {
        ++first.seq;
        ++second.seq;
        EXPECT_FALSE(receive(second)) << i;
        EXPECT_TRUE(receive(first)) << i;
    }
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "Diradir2: two units send as PID 0x9: id 0xA1A1A1A1 at 10.1.0.9 and id 0xB2B2B2B2 "
                                   "at 10.1.0.7; this device keeps to id 0xA1A1A1A1 while it is heard"),
              1);
    EXPECT_EQ(countContaining(log, "two units"), 1);
    EXPECT_EQ(countContaining(log, "Reset detected"), 0);
    EXPECT_EQ(BC2_peer_run(kPeer), 0u);
    uint32_t addr;
    std::memcpy(&addr, bc2().hosts[kPeer].msg + PM_ADDR, 4);
    EXPECT_EQ(addr, inet_addr("10.1.0.9"));
    EXPECT_EQ(routing_get_next(kPeer).ip, 0x0A010009u);

    // the followed unit restarts: a reset, whatever its counter
    first.boot = 6;
    ++first.seq;
    EXPECT_TRUE(receive(first));
    EXPECT_EQ(BC2_peer_run(kPeer), 1u);
    Presence late = first;
    late.boot = 5;
    late.seq = 1;
    EXPECT_FALSE(receive(late));
    EXPECT_EQ(BC2_peer_run(kPeer), 1u);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "Reset detected on PID 0x9"), 1);
    EXPECT_EQ(countContaining(log, "two units"), 0);

    // silent: the other unit is followed from its next message on
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    ++second.seq;
    EXPECT_TRUE(receive(second));
    std::memcpy(&addr, bc2().hosts[kPeer].msg + PM_ADDR, 4);
    EXPECT_EQ(addr, inet_addr("10.1.0.7"));
}

// A host that misses its presence twice is silent, and goes offline
// on the seventh pass; back, it is the same run of its device,
// unless its unit comes with a later boot: a restart, however its counter
// runs (a run too short for its presence to be heard going back).
TEST_F(Bc2Test, SilentHostGoesOfflineOnTheSeventhPass) {
    Presence first;
    first.unit = 0xA1A1A1A1;
    first.boot = 5;
    uint32_t sign = 0;
    EXPECT_FALSE(BC2_peer_last_sign(kPeer, &sign)) << "never heard";
    const uint32_t before = time_getTimestamp();
    receive(first);
    ASSERT_TRUE(BC2_peer_last_sign(kPeer, &sign));
    EXPECT_GE(int32_t(sign - before), 0);
    EXPECT_LE(int32_t(sign - time_getTimestamp()), 0);
    bc2_timeout_pass();
    uint32_t run = 9;
    EXPECT_TRUE(BC2_peer_heard(kPeer, &run));
    EXPECT_EQ(run, 0u);
    bc2_timeout_pass();
    EXPECT_FALSE(BC2_peer_heard(kPeer, &run));
    EXPECT_FALSE(BC2_peer_gone(kPeer));
    for (int i = 0; i < 4; ++i) bc2_timeout_pass();
    EXPECT_EQ(udp_get_detect_mask(), pidBit(kPeer));
    bc2_timeout_pass();
    EXPECT_EQ(udp_get_detect_mask(), 0u);
    EXPECT_EQ(bc2().hosts[kPeer].online, 0);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "UDP_send: Channel to PID 0x9 timed out, closing it..."));
    EXPECT_TRUE(logContains(log, "Host PID 0x9 is Offline"));
    uint32_t signGone = 0;
    ASSERT_TRUE(BC2_peer_last_sign(kPeer, &signGone));
    EXPECT_EQ(signGone, sign) << "its last sign of life stays where it was heard";
    // the next message brings it back
    Presence p = first;
    p.seq = 2;
    receive(p);
    EXPECT_EQ(bc2().hosts[kPeer].online, 1);
    EXPECT_TRUE(BC2_peer_heard(kPeer, &run));
    EXPECT_EQ(BC2_peer_run(kPeer), 0u);
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    p.boot = 7;
    p.seq = 3;
    receive(p);
    EXPECT_EQ(BC2_peer_run(kPeer), 1u);
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    Presence other = p;   // another unit under the PID, taken once this one is gone: no run of it
    other.unit = 0xB2B2B2B2;
    other.boot = 9;
    other.seq = 4;
    receive(other);
    EXPECT_EQ(BC2_peer_run(kPeer), 1u);
}

TEST_F(Bc2Test, ChannelsOnlyWhenHeardAndTheGreaterAddressConnects) {
    receive(Presence{});
    EXPECT_EQ(bc2().hosts[kPeer].ci.load(), nullptr);
    Presence p;
    p.seq = 2;
    p.detect = pidBit(kOwn);
    receive(p);
    // the peer at .9 is greater: this side creates its records and waits
    bc2_channel* ci = bc2().hosts[kPeer].ci;
    bc2_channel* dk = bc2().hosts[kPeer].dk;
    ASSERT_NE(ci, nullptr);
    ASSERT_NE(dk, nullptr);
    EXPECT_EQ(ci->state.load(), CH_CONNECTING);
    EXPECT_EQ(ci->task, nullptr);
    EXPECT_EQ(ntohs(dk->udpAddr.sin_port), BC2_PORT_DK_UDP);
    EXPECT_FALSE(BC2_connected(kPeer));

    EXPECT_TRUE(bc2_addr_greater(inet_addr("10.10.0.7"), inet_addr("10.10.0.5")));
    EXPECT_TRUE(bc2_addr_greater(inet_addr("10.10.0.7"), inet_addr("10.10.1.5")));
    EXPECT_FALSE(bc2_addr_greater(inet_addr("10.10.1.5"), inet_addr("10.10.0.7")));
}

TEST_F(Bc2Test, CapabilitiesFollowConnectionAndVersion) {
    Presence p;
    p.version = 0x0203;
    receive(p);
    bc2().ciMask |= pidBit(kPeer);
    EXPECT_EQ(BC2_getRemoteCapabilty(kPeer, 2), 2);   // the data channel is not up
    bc2().dkMask |= pidBit(kPeer);
    EXPECT_EQ(BC2_getRemoteCapabilty(kPeer, 0), 0);
    EXPECT_EQ(BC2_getRemoteCapabilty(kPeer, 1), 0);
    EXPECT_EQ(BC2_getRemoteCapabilty(kPeer, 2), 1);
    EXPECT_EQ(BC2_getRemoteCapabilty(kPeer, 3), 1);
    EXPECT_FALSE(BC2_connected(64));

    uint8_t own[BC2_MSG_SIZE];
    bc2().seq = 41;
    bc2_build_presence(own);
    EXPECT_EQ(be_get16(own + PM_PID), kOwn);
    EXPECT_EQ(be_get32(own + PM_SEQ), 41u);
    EXPECT_EQ(be_get16(own + PM_VERSION), BC2_VERSION);
    EXPECT_EQ(be_get64(own + PM_CI_MASK), pidBit(kOwn) | pidBit(kPeer));
    EXPECT_EQ(be_get64(own + PM_DETECT), pidBit(kPeer));
}

// A device at one address that comes back under another PID: its new
// connections belong to the new PID, never to the host that went silent.
TEST_F(Bc2Test, ConnectionsGoToTheHostHeardLastAtTheirAddress) {
    Presence old;
    old.pid = 40;
    receive(old);
    const sockaddr_in ci = bc2_sockaddr(inet_addr("10.1.0.9"), BC2_PORT_CI_ACTIVE);
    EXPECT_EQ(bc2_match_peer(ci, CH_CI), &bc2().hosts[40]);
    sockaddr_in wrongPort = bc2_sockaddr(inet_addr("10.1.0.9"), BC2_PORT_DK_ACTIVE);
    EXPECT_EQ(bc2_match_peer(wrongPort, CH_CI), nullptr);

    Presence now = old;
    now.pid = 45;
    receive(now);   // both online: the one heard last
    EXPECT_EQ(bc2_match_peer(ci, CH_CI), &bc2().hosts[45]);
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    EXPECT_EQ(bc2_match_peer(ci, CH_CI), nullptr);   // both silent

    receive(old);
    EXPECT_EQ(bc2_match_peer(ci, CH_CI), &bc2().hosts[40]);
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    now.seq = 2;
    receive(now);   // 40 is offline, 45 alone is online
    EXPECT_EQ(bc2_match_peer(ci, CH_CI), &bc2().hosts[45]);
    EXPECT_EQ(bc2_match_peer(bc2_sockaddr(inet_addr("10.1.0.9"), BC2_PORT_DK_ACTIVE), CH_DK), &bc2().hosts[45]);
}

// The route a presence message made is removed with its host; routes made
// otherwise stay.
TEST_F(Bc2Test, RouteOfASilentHostGoesWithIt) {
    Presence spoofed;
    spoofed.pid = 33;
    receive(spoofed);
    EXPECT_EQ(routing_get_next(33).kind, ROUTING_DIRADIR2);
    const routing_entry_t local{ROUTING_LOCSOCK, 0x7F000001};
    routing_set_table_entries(&local, 34, 34);
    Presence configured;
    configured.pid = 34;
    receive(configured);
    takeLogTexts();
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    EXPECT_EQ(routing_get_next(33).kind, ROUTING_ILLEGAL);
    EXPECT_EQ(routing_get_next(33).ip, 0u);
    EXPECT_EQ(routing_get_next(34).kind, ROUTING_LOCSOCK);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "UDP_send: remove remote_pid 21"));
    EXPECT_FALSE(logContains(log, "remove remote_pid 22"));
    // heard again, routed again
    spoofed.seq = 2;
    receive(spoofed);
    EXPECT_EQ(routing_get_next(33).kind, ROUTING_DIRADIR2);
    EXPECT_TRUE(logContains(takeLogTexts(), "BC2_UDP_listen add remote_pid 21"));
}

// Messages whose counters jump about (a flood, or two senders under one
// PID) disconnect as before, but their log lines are bounded per source
// address.
TEST_F(Bc2Test, ResetLinesOfAFloodAreBounded) {
    Presence a, b;
    b.pid = kPeer + 1;
    for (uint32_t i = 0; i < 200; ++i) {
        a.seq = b.seq = (i % 2) ? 1000 : 10;   // every second message goes back
        receive(a);
        receive(b);
    }
    auto log = takeLogTexts();
    EXPECT_LE(countContaining(log, "Reset detected on PID 0x9,"), 13);
    EXPECT_LE(countContaining(log, "Reset detected on PID 0xA,"), 13);
    EXPECT_EQ(bc2().hosts[kPeer].online, 1);
    // another device's reset is still reported
    Presence c;
    c.pid = kPeer + 2;
    c.seq = 50;
    auto hear = [](const Presence& p) {
        auto m = message(p);
        return bc2_presence_receive(m.data(), m.size(), bc2_sockaddr(inet_addr("10.1.0.11"), BC2_PORT_PRESENCE_TX));
    };
    hear(c);
    c.seq = 5;
    hear(c);
    EXPECT_TRUE(logContains(takeLogTexts(), "Reset detected on PID 0xB,"));
}

// A device that moved to another address while its old connections stay
// open is followed once its old address has been silent for its time-out;
// while both addresses are heard the connections stay.
TEST_F(Bc2Test, DeviceHeardOnlyAtANewAddressIsFollowed) {
    // the device's listen socket at its old address; this side's channels
    // are connected to it
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    fds.push_back(listener);
    sockaddr_in at = bc2_sockaddr(inet_addr("127.0.0.2"), 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof at;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len), 0);
    Presence old;
    old.ip = "127.0.0.2";
    receive(old);
    int far[2];
    for (int type : {CH_CI, CH_DK}) {
        bc2_channel* c = BC2_create_channel_config(&bc2().hosts[kPeer], type);
        int fd = bcSocket_get(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        c->sock = fd;
        c->state = CH_ESTABLISHED;
        far[type] = accept(listener, nullptr, nullptr);
        ASSERT_GE(far[type], 0);
        timeval limit{2, 0};
        setsockopt(far[type], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        fds.push_back(far[type]);
    }
    bc2_channel* ci = bc2().hosts[kPeer].ci;
    bc2_channel* dk = bc2().hosts[kPeer].dk;

    // heard at both addresses: nothing moves
    Presence now = old;
    now.ip = "127.0.0.3";
    for (int i = 0; i < 10; ++i) {
        bc2_timeout_pass();
        ++old.seq;
        receive(old);
        now.seq = old.seq;
        receive(now);
    }
    EXPECT_GE(ci->sock.load(), 0);
    EXPECT_GE(dk->sock.load(), 0);

    // heard only at the new one: followed when the old one was silent for
    // its time-out (1000 ms and a period: seven passes)
    for (int i = 0; i < 6; ++i) {
        bc2_timeout_pass();
        ++now.seq;
        receive(now);
    }
    ASSERT_GE(ci->sock.load(), 0);
    bc2_timeout_pass();
    ++now.seq;
    receive(now);
    ASSERT_EQ(ci->sock.load(), -1);
    EXPECT_EQ(dk->sock.load(), -1);
    char b;
    for (int fd : far) EXPECT_EQ(recv(fd, &b, 1, 0), 0);   // the old connections are closed
    EXPECT_TRUE(logContains(takeLogTexts(), "PID 0x9 moved from 127.0.0.2 to 127.0.0.3"));
    EXPECT_EQ(bc2().hosts[kPeer].online, 1);
    uint32_t addr;
    std::memcpy(&addr, bc2().hosts[kPeer].msg + PM_ADDR, 4);
    EXPECT_EQ(addr, inet_addr("127.0.0.3"));   // where the connect manager connects next
}

// A peer that comes and goes (or claims PID after PID) cannot fill the log:
// the lines of hosts coming and going are limited per source address, and
// another address is still heard of.
TEST_F(Bc2Test, HostLinesAreLimitedPerSourceAddress) {
    auto from = [](const char* ip) { return bc2_sockaddr(inet_addr(ip), BC2_PORT_PRESENCE_TX); };
    auto hear = [](const Presence& p, const sockaddr_in& at) {
        auto m = message(p);
        return bc2_presence_receive(m.data(), m.size(), at);
    };
    takeLogTexts();
    Presence p;
    p.ip = "127.0.0.7";
    for (int i = 0; i < 40; ++i) {
        p.pid = uint16_t(20 + i % 30);
        ++p.seq;
        EXPECT_TRUE(hear(p, from("127.0.0.7")));
        for (int k = 0; k < 7; ++k) bc2_timeout_pass();
    }
    EXPECT_EQ(bc2().hosts[49].online, 0);
    auto log = takeLogTexts();
    for (const char* line : {"BC2_UDP_listen add remote_pid", "timed out, closing it", "is Offline",
                             "UDP_send: remove remote_pid", "UDP_send: BC2_disconnect"}) {
        SCOPED_TRACE(line);
        EXPECT_GE(countContaining(log, line), 1);
        // folded repeats count as lines written
        EXPECT_LE(countContaining(log, line), 13);
    }
    EXPECT_LE(countContaining(log, "Flooding suspicion"), 5);

    Presence other;
    other.pid = 60;
    other.ip = "127.0.0.8";
    hear(other, from("127.0.0.8"));
    for (int k = 0; k < 7; ++k) bc2_timeout_pass();
    log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "BC2_UDP_listen add remote_pid 3C"));
    EXPECT_TRUE(logContains(log, "Host PID 0x3C is Offline"));
}

// The per-address limit is a budget of 13 lines of a kind a minute: a peer
// that comes and goes more often is logged again once the minute is over,
// with one line saying how many were held back (the clock may wrap).
TEST(Bc2Flood, BudgetRefillsEveryMinuteAndSaysWhatWasHeldBack) {
    const struct {
        uint64_t t0;
        std::string ip;
    } runs[] = {{1000, "127.0.0.2"}, {~uint64_t(0) - 30000, "127.0.0.4"}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.ip);
        const uint64_t t0 = run.t0;
        bc2_flood_reset();
        takeLogTexts();
        const uint32_t a = inet_addr(run.ip.c_str());
        for (int i = 0; i < 13; ++i) EXPECT_TRUE(bc2_flood_pass(a, FL_OFFLINE, t0 + i));
        for (int i = 0; i < 20; ++i) EXPECT_FALSE(bc2_flood_pass(a, FL_OFFLINE, t0 + 100 + i));
        // other kinds and other addresses keep their own budgets
        EXPECT_TRUE(bc2_flood_pass(a, FL_ADD, t0 + 200));
        EXPECT_TRUE(bc2_flood_pass(inet_addr("127.0.0.3"), FL_OFFLINE, t0 + 200));
        EXPECT_FALSE(bc2_flood_pass(a, FL_OFFLINE, t0 + 59999));
        auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, "on hosts gone offline caused by " + run.ip + " are held back for up to a minute"),
                  1);
        EXPECT_FALSE(logContains(log, "were held back"));

        EXPECT_TRUE(bc2_flood_pass(a, FL_OFFLINE, t0 + 60000));
        EXPECT_TRUE(
            logContains(takeLogTexts(), "21 log lines on hosts gone offline caused by " + run.ip + " were held back"));
        for (int i = 1; i < 13; ++i) EXPECT_TRUE(bc2_flood_pass(a, FL_OFFLINE, t0 + 60000 + i));
        EXPECT_FALSE(bc2_flood_pass(a, FL_OFFLINE, t0 + 60100));
    }
    bc2_flood_reset();
    takeLogTexts();
}

// Records another device sends for a full FIFO are dropped, and past the
// budget so are the lines that name them: their count is logged at the log
// reader's next report (about a second), with no later line of the kind
// needed, and not again a minute later; counts of other addresses and kinds
// stay apart.
TEST(Bc2Flood, DroppedRecordLinesHeldBackAreCountedAtTheNextReport) {
    bc2_flood_reset();
    syslogx_reportHeld();
    takeLogTexts();
    const uint32_t a = inet_addr("127.0.0.5"), b = inet_addr("127.0.0.6");
    for (int i = 0; i < 13; ++i) EXPECT_TRUE(bc2_flood_pass(a, FL_FIFO_FULL, 1000 + i));
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(bc2_flood_pass(a, FL_FIFO_FULL, 1100 + i));
    for (int i = 0; i < 14; ++i) bc2_flood_pass(b, FL_TOO_LONG, 1200 + i);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "on records for a full FIFO caused by 127.0.0.5 are held back"), 1);
    EXPECT_FALSE(logContains(log, "were held back"));
    ASSERT_TRUE(syslogx_reportHeld());
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "Diradir2: 8 log lines on records for a full FIFO caused by 127.0.0.5 were held back"),
              1);
    EXPECT_EQ(countContaining(log, "Diradir2: 1 log lines on records or commands too long caused by 127.0.0.6 were "
                                   "held back"),
              1);
    EXPECT_TRUE(bc2_flood_pass(a, FL_FIFO_FULL, 61200));
    EXPECT_FALSE(logContains(takeLogTexts(), "were held back")) << "counted once";
    bc2_flood_reset();
    takeLogTexts();
}

// The table of addresses is bounded: addresses beyond it share one budget,
// and an address quiet for a minute gives its slot to a new one, whose lines
// are logged again.
TEST(Bc2Flood, AQuietAddressGivesItsSlotToANewOne) {
    bc2_flood_reset();
    auto addr = [](int i) { return htonl(0x7F000100u + uint32_t(i)); };   // 127.0.1.i
    int passed = 0;
    for (int i = 0; i < 40; ++i)
        for (int k = 0; k < 14; ++k) passed += bc2_flood_pass(addr(i), FL_OFFLINE, 10 + uint64_t(k));
    EXPECT_EQ(passed, 32 * 13 + 13);   // the 8 beyond the table shared one budget
    takeLogTexts();
    // nobody quiet for a minute yet: a new address shares the spent budget
    EXPECT_FALSE(bc2_flood_pass(addr(41), FL_OFFLINE, 30000));
    // 127.0.1.0 was quiet for a minute: its slot is the new address's now
    EXPECT_TRUE(bc2_flood_pass(addr(42), FL_ADD, 60030));
    for (int k = 1; k < 13; ++k) EXPECT_TRUE(bc2_flood_pass(addr(42), FL_ADD, 60030 + uint64_t(k)));
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "1 log lines caused by 127.0.1.0 were held back"));
    EXPECT_FALSE(logContains(log, "other addresses were held back"));
    // what the addresses beyond the table had held back is told with the
    // next line of its kind once its minute is over, whoever causes it
    EXPECT_TRUE(bc2_flood_pass(addr(43), FL_OFFLINE, 60040));
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "100 log lines on hosts gone offline caused by other addresses were held back"), 1);
    EXPECT_TRUE(bc2_flood_pass(addr(44), FL_OFFLINE, 60050));
    EXPECT_FALSE(logContains(takeLogTexts(), "other addresses were held back"));
    bc2_flood_reset();
    takeLogTexts();
}
