// Command and data receive over a channel: lengths from the network are
// checked before use, the stream stays in step, stray records end the
// connection on the second in a row; records of a datagram.
#include <atomic>
#include <chrono>
#include <thread>

#include "bc2_fixture.h"
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
    bc2_dk_datagram(d.data(), d.size());
    EXPECT_EQ(bc2().dkDropped.load(), 1u);
    int n = 0;
    while (uint8_t* s = dynkomm_read(f)) {
        EXPECT_EQ(s[0], ++n);
        dynkomm_readdone(f);
    }
    EXPECT_EQ(n, 2);
    dynkomm_fifo_delete(f);
}
