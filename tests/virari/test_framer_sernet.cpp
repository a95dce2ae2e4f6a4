// Send framers (packing into 1472-byte blocks, oversized records, the flush)
// and the serial-network manager (sink geometry, open and close requests,
// release, the senders of online and offline FIFOs).
#include <fcntl.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <chrono>
#include <thread>

#include "bc2_fixture.h"
#include "host/kernel/kernel.h"
#include "logging/events/event_peer_opens.h"
#include "logging/events/event_record.h"
#include "measurement/catalogue.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/seram.h"
#include "platform/timebase.h"
#include "virari/sernet_man.h"
#include "virari/virari.h"

namespace {
std::vector<uint8_t> header(uint16_t dst, uint16_t len, uint32_t magic) {
    std::vector<uint8_t> h(DK_RECORD_HEADER);
    be_put16(h.data(), dst);
    be_put16(h.data() + 2, len);
    be_put32(h.data() + 4, magic);
    return h;
}

// Length fields of the records in a byte stream.
std::vector<unsigned> recordLengths(const std::vector<uint8_t>& s) {
    std::vector<unsigned> out;
    for (size_t pos = 0; pos + DK_RECORD_HEADER <= s.size(); pos += DK_RECORD_HEADER + be_get16(&s[pos + 2]))
        out.push_back(be_get16(&s[pos + 2]));
    return out;
}

std::atomic<int> gReplies{0};
std::atomic<uint32_t> gReplyMagic{0};
int captureReply(ci_msg_t* m) {
    gReplyMagic = be_get32(m->payload + 4);
    ++gReplies;
    return 1;
}
}  // namespace

class FramerTest : public Bc2Test {
protected:
    void SetUp() override {
        Bc2Test::SetUp();
        peer = channelPair(CH_DK, &c);
        // over the data connection (not UDP) for the online framer as well
        routing_entry_t e{ROUTING_LOCSOCK, 0x0A010009};
        routing_set_table_entries(&e, kPeer, kPeer);
    }
    bc2_channel* c = nullptr;
    int peer = -1;
};

TEST_F(FramerTest, AFullHalfGoesOutBeforeTheRecordThatDoesNotFit) {
    std::vector<uint8_t> data(1464, 0x77);
    EXPECT_EQ(dyncom_send_eth(header(kPeer, 592, 1).data(), data.data()), 0);
    EXPECT_TRUE(pending(peer).empty());
    EXPECT_EQ(dyncom_send_eth(header(kPeer, 992, 2).data(), data.data()), 1);
    EXPECT_EQ(recordLengths(pending(peer)), std::vector<unsigned>{592});
    Dynkom_flush_eth(1);
    EXPECT_EQ(recordLengths(pending(peer)), std::vector<unsigned>{992});
    EXPECT_EQ(c->cnt[CNT_TX_OFFLINE].load(), 2);
    Dynkom_flush_eth(1);   // nothing left
    EXPECT_TRUE(pending(peer).empty());

    // the largest record fits a half alone; one byte more fits none
    EXPECT_EQ(dyncom_send_eth(header(kPeer, 1464, 3).data(), data.data()), 0);
    std::vector<uint8_t> big(1465, 1);
    EXPECT_EQ(dyncom_send_eth(header(kPeer, 1465, 4).data(), big.data()), 0);
    EXPECT_EQ(c->cnt[CNT_TX_ERR].load(), 1);
    Dynkom_flush_eth(1);
    EXPECT_EQ(recordLengths(pending(peer)), std::vector<unsigned>{1464});
}

TEST_F(FramerTest, OnlineDataToAnOldPeerTakesTheDataConnection) {
    std::vector<uint8_t> data(16, 1);
    dyncom_send_eth_online(header(kPeer, 16, 5).data(), data.data());
    EXPECT_EQ(c->online->fill, DK_RECORD_HEADER + 16);
    Presence p;
    p.version = 0x0200;
    p.seq = 2;
    receive(p);
    dyncom_send_eth_online(header(kPeer, 16, 6).data(), data.data());
    EXPECT_EQ(c->offline->fill, DK_RECORD_HEADER + 16);
    Dynkom_flush_eth(0);
    Dynkom_flush_eth(1);
    EXPECT_EQ(recordLengths(pending(peer)).size(), 2u);
    // a channel without socket sends nothing and keeps nothing
    BC2_disconnect(c);
    EXPECT_EQ(dyncom_send_eth(header(kPeer, 16, 7).data(), data.data()), 0);
    EXPECT_EQ(c->offline->fill, 0);
}

TEST_F(FramerTest, SendersGiveEveryQueuedSlotButOnlyTheNewestValue) {
    ASSERT_EQ(SerNet_man_ini(), 1);
    uint32_t mq = dynkomm_get_magic(), mb = dynkomm_get_magic();
    dynkomm_fifo_prepare(mq);
    dynkomm_fifo_prepare(mb);
    dynkomm_fifo_t* q = dynkomm_fifo_create(mq, kOwn, 0x111, kPeer, 3, 8, 4, DYNKOMM_MODE_QUEUE);
    dynkomm_fifo_t* b = dynkomm_fifo_create(mb, kOwn, 0x222, kPeer, 3, 4, 4, 0);
    ASSERT_TRUE(q && b);
    for (uint8_t i = 1; i <= 3; ++i) {
        dynkomm_write(q)[0] = i;
        dynkomm_writedone(q);
        dynkomm_write(b)[0] = uint8_t(10 + i);
        dynkomm_writedone(b);
    }
    EXPECT_EQ(SerNet_man_stop_sending(q), 0);   // not listed
    ASSERT_EQ(SerNet_man_start_sending(q), 1);
    ASSERT_EQ(SerNet_man_start_sending(b), 1);
    SerNet_man_sender_offline(3);
    SerNet_man_flush_offline();
    SerNet_man_sender_online(3);
    SerNet_man_flush_online();
    auto s = pending(peer);
    ASSERT_EQ(s.size(), 4u * (DK_RECORD_HEADER + 4));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(be_get32(&s[i * 12 + 4]), 0x111u);
        EXPECT_EQ(s[i * 12 + 8], i + 1);
    }
    EXPECT_EQ(be_get32(&s[36 + 4]), 0x222u);
    EXPECT_EQ(s[36 + 8], 13);
    EXPECT_EQ(SerNet_man_stop_sending(q), 1);
    EXPECT_EQ(SerNet_man_stop_sending(b), 1);
    dynkomm_fifo_delete(q);
    dynkomm_fifo_delete(b);
}

// The send rasters run until the rasters stop, after the network's
// shutdown: a flush or send in the middle of the shutdown finds the channels
// or finds none, never one being freed.
TEST_F(FramerTest, SendRastersStillRunningWhileTheNetworkShutsDown) {
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    const auto h = header(kPeer, 16, 7);
    const std::vector<uint8_t> data(16, 0x5A);
    // Nobody reads the peer ends: each channel's end is non-blocking before
    // the raster can send on it, or a send begun on a full blocking socket
    // would wait for ever (a socket pair has no send time-out and is not in
    // the registry whose sockets the shutdown wakes).
    ASSERT_EQ(fcntl(c->sock, F_SETFL, fcntl(c->sock, F_GETFL) | O_NONBLOCK), 0);
    std::thread raster([&] {
        while (!stop) {
            dyncom_send_eth(h.data(), data.data());
            SerNet_man_flush_offline();
            dyncom_send_eth_online(h.data(), data.data());
            SerNet_man_flush_online();
            ++rounds;
        }
    });
    auto waitRounds = [&](int more) {
        const int until = rounds + more;
        for (int i = 0; i < 5000 && rounds < until; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return rounds >= until;
    };
    for (int cycle = 0; cycle < 100; ++cycle) {
        if (cycle) {
            peer = channelPair(CH_DK, &c, true);
            routing_entry_t e{ROUTING_LOCSOCK, 0x0A010009};
            routing_set_table_entries(&e, kPeer, kPeer);
        }
        EXPECT_TRUE(waitRounds(1));
        BC2_shutdown();
        EXPECT_TRUE(waitRounds(1));   // the raster goes on without channels
        bc2().stop = false;
    }
    stop = true;
    raster.join();
}

class SerNetTest : public Bc2Test {
protected:
    void SetUp() override {
        Bc2Test::SetUp();
        ASSERT_EQ(comint_init(), 1);
        ASSERT_EQ(SerNet_man_ini(), 1);
        ci_register_command(CI_CMD_RETURN_FUNC, captureReply);
        gReplies = 0;
    }
    void TearDown() override {
        SerNet_man_shutdown();
        comint_shutdown();
        Bc2Test::TearDown();
    }
    // An open request of this device for a sink on itself, so that the
    // reply comes back here; the reply's sink magic number.
    uint32_t open(uint16_t slotSize, uint16_t slots) {
        ci_msg_t m;
        ci_init_msg(&m, SERNET_CMD_OPEN, kOwn, 20);
        be_put16(m.payload + 0, kOwn);
        be_put16(m.payload + 2, kOwn);
        be_put16(m.payload + 4, 3);
        be_put16(m.payload + 6, slotSize);
        be_put32(m.payload + 8, 0xCAFE);
        be_put16(m.payload + 12, slots);
        be_put16(m.payload + 14, DYNKOMM_MODE_QUEUE);
        const int before = gReplies;
        SerNet_man_openpath(&m);
        return waitCount(gReplies, before + 1) ? gReplyMagic.load() : 0xFFFFFFFF;
    }
    int close(uint32_t magic) {
        ci_msg_t m;
        ci_init_msg(&m, SERNET_CMD_CLOSE, kOwn, 8);
        be_put32(m.payload, magic);
        be_put16(m.payload + 4, kOwn);
        be_put16(m.payload + 6, kOwn);
        return SerNet_man_closepath(&m);
    }
};

TEST_F(SerNetTest, OpenRoundsTheSlotAndCloseReleasesTheSink) {
    const uint32_t magic = open(10, 4);
    ASSERT_NE(magic, 0u);
    ASSERT_NE(magic, 0xFFFFFFFFu);
    dynkomm_fifo_t* f = nullptr;
    ASSERT_EQ(dynkomm_get_fifo(magic, &f), 1);
    EXPECT_EQ(f->slotsize, 12);
    EXPECT_EQ(f->slotcount, 4);
    EXPECT_EQ(f->src_pid, kOwn);
    EXPECT_EQ(close(magic), 1);
    EXPECT_NE(dynkomm_get_fifo(magic, &f), 1);
    EXPECT_EQ(close(magic), 0);
}

TEST_F(SerNetTest, UnusableSinksAreRefusedWithMagicZero) {
    EXPECT_EQ(open(0xFFFE, 4), 0u);   // rounding up would wrap
    EXPECT_EQ(open(8, 3), 0u);
    EXPECT_EQ(open(8, 0), 0u);
    EXPECT_EQ(SerNet_man_reserve(0, 4, 1, 3, kPeer, 0), nullptr);

    // only sinks made by an open request can be closed by one
    uint32_t other = dynkomm_get_magic();
    dynkomm_fifo_prepare(other);
    dynkomm_fifo_t* g = dynkomm_fifo_create(other, kPeer, other, kOwn, 3, 4, 8, 1);
    EXPECT_EQ(close(other), 0);
    dynkomm_fifo_t* f = nullptr;
    EXPECT_EQ(dynkomm_get_fifo(other, &f), 1);
    dynkomm_fifo_delete(g);
}

TEST_F(SerNetTest, ASecondReleaseIsRefused) {
    dynkomm_fifo_t* f = SerNet_man_reserve(12, 4, 1, 3, kPeer, 7);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(SerNet_man_release_fifo(f), 1);
    EXPECT_EQ(SerNet_man_release_fifo(f), 0);
    EXPECT_EQ(SerNet_man_release_fifo(nullptr), 0);
}

// The lists this device serves to a peer are those its current run asked
// for: a restart seen by the network, a request of a later boot, or the peer
// staying gone end the lists of its earlier run, which nobody takes any more.
class ServedListsTest : public Bc2Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tav9_served_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        host::setDeviceFolder(dir);
        host::resetForTest();
        Bc2Test::SetUp();
        ASSERT_EQ(seram_init(), 1);
        ASSERT_EQ(catalogue_init(), 1);
        ASSERT_EQ(meas_man_init(), 1);
        ASSERT_EQ(SerNet_man_ini(), 1);
        virari_attach_measurement();
        comint_set_transport(nullptr);   // the replies go nowhere
        receive(heard);
        peer = channelPair(CH_DK, &c);
        dataFd = c->sock;
        routing_entry_t e{ROUTING_LOCSOCK, 0x0A010009};   // online data on the data connection too
        routing_set_table_entries(&e, kPeer, kPeer);
    }
    void TearDown() override {
        meas_man_shutdown();
        SerNet_man_shutdown();
        dynkomm_set_sernet_hooks(nullptr);
        gw_set_network(nullptr);
        seram_shutdown();
        Bc2Test::TearDown();
        host::resetForTest();
        std::filesystem::remove_all(dir);
    }
    // The peer asks for stim_tick on the 10 ms raster under its handle.
    // unit: the asking unit's id, sent with its boot count after the list (0: none)
    void ask(uint32_t handle, uint32_t unit = 0, uint32_t boot = 0) {
        ci_msg_t m;
        ci_init_msg(&m, CI_CMD_MEASLIST_ADDR, kOwn, 12 + 16 + (unit ? MEAS_REQ_UNIT_SIZE : 0));
        ci_set_src(&m, kPeer);
        ci_set_magic(&m, handle);
        const uint16_t head[6] = {1, 3, 0, 0, 4, 0};   // op start, raster, slots, online, words
        for (int i = 0; i < 6; ++i) be_put16(m.payload + 2 * i, head[i]);
        const uint32_t words[4] = {uint32_t(GW_SIZE4), catalogue_addr("stim_tick"), 0, 0};
        for (int i = 0; i < 4; ++i) be_put32(m.payload + 12 + 4 * i, words[i]);
        if (unit) {
            be_put16(m.payload + MEAS_REQ_UNIT_WORD, MEAS_REQ_UNIT_SIZE);
            be_put32(m.payload + 28, unit);
            be_put32(m.payload + 32, boot);
        }
        ASSERT_EQ(ci_serve_command(&m), 1);
    }
    // The handles the peer gets records for in one send-raster tick.
    std::set<uint32_t> sentTo() {
        meas_man_run_producers(3, 0);
        SerNet_man_sender_online(3);
        SerNet_man_flush_online();
        std::set<uint32_t> out;
        auto s = pending(peer);
        for (size_t pos = 0; pos + DK_RECORD_HEADER <= s.size(); pos += DK_RECORD_HEADER + be_get16(&s[pos + 2]))
            out.insert(be_get32(&s[pos + 4]));
        return out;
    }
    // An event the peer opened, as it came (big-endian).
    void peerOpens(uint32_t id, uint32_t start) {
        uint8_t payload[EVENT_PAYLOAD_FIXED] = {};
        be_put32(payload, id);
        be_put32(payload + 4, start);
        be_put32(payload + 8, EVENT_DURATION_OPEN);
        eventPeers_note(kPeer, payload, sizeof payload);
    }
    std::string dir;
    Presence heard;
    bc2_channel* c = nullptr;
    int peer = -1, dataFd = -1;   // the data channel made anew takes dataFd again
};

// The lists, and the events left open, of a run of the peer that is over
// end; those of its current run go on, whatever their stamps.
TEST_F(ServedListsTest, OnlyTheListsOfThePeersCurrentRunAreSent) {
    const uint32_t run1 = 0x11000001, run2 = 0x12000001, run3 = 0x13000001;
    eventPeers_resetForTest();
    heard.seq = 500;
    receive(heard);
    ask(run1);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run1});
    const uint32_t now = time_getTimestamp();
    peerOpens(0x02000001, now - 30000);

    // the peer restarts: its presence counts from 1 again, then it asks anew
    // and opens its event again, stamped a time behind
    heard.seq = 1;
    receive(heard);
    c->sock = dataFd;   // its data channel made anew
    ask(run2);
    peerOpens(0x02000001, now - 40000);
    EXPECT_EQ(sentTo(), (std::set<uint32_t>{run1, run2}));
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run2});
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "1 lists served to PID 0x9 stopped"));
    EXPECT_TRUE(logContains(log, "PID 0x9 runs anew: its event 0x02000001 opened at " + std::to_string(now - 30000)));
    EXPECT_FALSE(logContains(log, "opened at " + std::to_string(now - 40000))) << "the new run's event closed";
    for (int i = 0; i < 5; ++i) SerNet_man_1s();   // the current run's list stays
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run2});

    // a request of a later boot ends the lists of the earlier one, also when
    // its restart went unseen
    ask(run3);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run3});

    // a peer that stays gone: its lists stop; one back within a second keeps them
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    SerNet_man_1s();
    heard.seq = 10;
    receive(heard);
    c->sock = dataFd;
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run3});
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    c->sock = dataFd;
    EXPECT_EQ(sentTo(), std::set<uint32_t>{});
}

TEST_F(ServedListsTest, APeerWhoseBootCountStartedOverIsServedAgain) {
    // a replacement unit, or one whose NVRAM was lost, counts its boots from 1 again
    const uint32_t before = 0x04000001, after = 0x01000001, later = 0x01000002;
    heard.seq = 500;
    receive(heard);
    ask(before);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{before});

    heard.seq = 1;
    receive(heard);
    c->sock = dataFd;
    ask(after);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{after});
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{after});

    // its next request in the same run is served beside the first
    ask(later);
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    EXPECT_EQ(sentTo(), (std::set<uint32_t>{after, later}));
}

// Requests that name their unit: a late request of a run that has ended
// (its unit asked since with a newer boot count) is not served and is no
// second unit; another unit id under the PID is, named once with both ids,
// and both units are served.
TEST_F(ServedListsTest, RequestsNamingTheirUnitTellARestartFromASecondUnit) {
    const uint32_t run64 = 0x40000001, run65 = 0x41000001, late64 = 0x40000002, other = 0x05000001;
    heard.seq = 500;
    receive(heard);
    ask(run64, 0xAAAA, 0x40);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run64});
    ask(run65, 0xAAAA, 0x41);   // its restart
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run65});
    ask(late64, 0xAAAA, 0x40);  // late, of the run that ended
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{run65});
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "two units"), 0);

    for (int i = 0; i < 3; ++i) {
        ask(other, 0xBBBB, 5);
        SerNet_man_1s();
        ask(run65, 0xAAAA, 0x41);
        SerNet_man_1s();
    }
    EXPECT_EQ(sentTo(), (std::set<uint32_t>{run65, other}));
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "meas_man: two units ask for lists as PID 0x9 (ids 0x0000AAAA and 0x0000BBBB)"), 1);
    EXPECT_EQ(countContaining(log, "two units"), 1);
}

// A unit that lost its NVRAM counts its boots from 1 again: its first
// request is served at once, while a late request of the run it replaced
// (with the higher count) is not. Should the new run count as the replaced
// one, it keeps asking and is served from its third second.
TEST_F(ServedListsTest, AUnitWhoseBootCountWentBackIsANewRun) {
    const uint32_t boot4 = 0x04000001, boot1 = 0x01000001, late4 = 0x04000002, again4 = 0x04000003;
    heard.seq = 500;
    receive(heard);
    ask(boot4, 0xAAAA, 4);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{boot4});
    ask(boot1, 0xAAAA, 1);   // its restart, unseen by the network
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{boot1});
    EXPECT_EQ(countContaining(takeLogTexts(), "not served"), 0);

    ask(late4, 0xAAAA, 4);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{boot1});
    EXPECT_EQ(countContaining(takeLogTexts(), "meas_man: list request of PID 0x9 from boot count 4 of unit 0x0000AAAA, "
                                              "which runs boot count 1 now: not served"), 1);
    int asked = 1;
    for (; asked < 6 && sentTo().count(again4) == 0; ++asked) {
        ask(again4, 0xAAAA, 4);
        SerNet_man_1s();
    }
    EXPECT_EQ(asked, 4) << "refused in the first three seconds, served in the fourth";
    EXPECT_EQ(sentTo(), std::set<uint32_t>{again4});
    EXPECT_EQ(countContaining(takeLogTexts(), "two units"), 0);
}

// Two units ask as one PID (a swapped unit left on the network, or two
// devices given the same PID), their requests alternating: the second
// unit's first request ends the first unit's lists (a restart looks the
// same), but once the first unit asks again the two are named once and
// both are served; none ends the other's lists any more.
TEST_F(ServedListsTest, TwoUnitsUnderOnePidDoNotEndEachOthersLists) {
    const uint32_t unitA = 0x11000001, unitB = 0x05000001, unitA2 = 0x11000002;
    heard.seq = 500;
    receive(heard);
    ask(unitA);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{unitA});
    ask(unitB);
    SerNet_man_1s();
    EXPECT_EQ(sentTo(), std::set<uint32_t>{unitB});
    ask(unitA);   // its list was ended: it asks again
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    EXPECT_EQ(sentTo(), (std::set<uint32_t>{unitA, unitB}));
    for (int round = 0; round < 3; ++round) {
        ask(unitB);
        SerNet_man_1s();
        ask(round == 2 ? unitA2 : unitA);
        SerNet_man_1s();
    }
    EXPECT_EQ(sentTo(), (std::set<uint32_t>{unitA, unitA2, unitB}));
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "lists served to PID 0x9 stopped"), 1);
    EXPECT_EQ(countContaining(log, "meas_man: two units ask for lists as PID 0x9 (boot bytes 0x05 and 0x11)"), 1);

    // the device leaves: its lists stop; what comes next is one unit again
    for (int i = 0; i < 7; ++i) bc2_timeout_pass();
    for (int i = 0; i < 3; ++i) SerNet_man_1s();
    c->sock = dataFd;
    EXPECT_EQ(sentTo(), std::set<uint32_t>{});
}
