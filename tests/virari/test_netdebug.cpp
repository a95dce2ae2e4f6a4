// Network debug outputs: the ping table with round-trip times, losses and
// late answers, the copy of a watched PID's counters, and the memory monitor.
#include <gtest/gtest.h>

#include <cstddef>
#include <thread>

#include "host/device_fixture.h"
#include "log_capture.h"
#include "measurement/calparams.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/routing.h"
#include "measurement/seram.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"
#include "virari/DiraDir2/bc2_internal.h"
#include "virari/netdebug/netdebug.h"

namespace {
constexpr uint8_t kPeer = 9;

class NetDebugTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        ASSERT_EQ(seram_init(), 1);
        ASSERT_EQ(catalogue_init(), 1);
        dynkomm_init(1);
        routing_init(5);
        comint_set_own_pid(5);
        netdebug_reset();
        ASSERT_EQ(netdebug_publishSignals(), 1);
        takeLogTexts();
    }
    void TearDown() override {
        setCal(offsetof(CalPage, VIRARI_DBG_PING_PID), 0);
        virari_dbg_10ms();
        netdebug_reset();
        bc2().ciMask = 0;
        bc2().dkMask = 0;
        seram_shutdown();
        DeviceFolderTest::TearDown();
    }
    static void setCal(size_t offset, uint8_t v) {
        *seramVirtToPtr(SERAM_REFPAGE_ADDR + seramActiveOffset.load() + uint32_t(offset)) = v;
    }
    static void ping(uint8_t pid, uint8_t freq) {
        setCal(offsetof(CalPage, VIRARI_DBG_PING_PID), pid);
        setCal(offsetof(CalPage, VIRARI_DBG_PING_FREQ), freq);
    }
    static void connected(bool up) {
        bc2().ciMask = up ? pidBit(kPeer) : 0;
        bc2().dkMask = up ? pidBit(kPeer) : 0;
    }
    static void answer(uint16_t slot, uint16_t loop) {
        uint8_t p[PING_PAYLOAD];
        be_put32(p, 0);
        be_put16(p + 4, slot);
        be_put16(p + 6, loop);
        pingCallBack(p, PING_PAYLOAD);
    }
};
}  // namespace

TEST_F(NetDebugTest, PingGivesRoundTripTimesLossesAndLateAnswers) {
    ping(kPeer, 2);
    connected(true);
    virari_dbg_10ms();   // slot 0, loop 0
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    answer(0, 0);
    virari_dbg_10ms();   // slot 1; the maximum now includes slot 0's time
    PingStats s = netdebug_pingStats();
    EXPECT_EQ(s.cnt, 1u);
    EXPECT_GE(s.max, 25);
    EXPECT_LT(s.max, 2000);
    EXPECT_EQ(s.error, 0);

    // 98 more pings without answers; the next round counts every waiting slot lost
    for (int i = 0; i < 98; ++i) virari_dbg_10ms();
    EXPECT_EQ(netdebug_pingStats().error, 0);
    virari_dbg_10ms();   // slot 0 of loop 1: was answered, is free
    virari_dbg_10ms();   // slot 1 of loop 1: still waiting from loop 0
    EXPECT_EQ(netdebug_pingStats().error, 1);

    // an answer of loop 0 for a slot now used by loop 1 only counts as late
    answer(1, 0);
    s = netdebug_pingStats();
    EXPECT_EQ(s.over, 1);
    EXPECT_EQ(s.cnt, 2u);
    answer(100, 0);   // no such slot
    EXPECT_EQ(netdebug_pingStats().error, 2);
    pingCallBack(nullptr, 0);
    EXPECT_EQ(netdebug_pingStats().error, 3);

    // channels down: slots are stamped, nothing is sent, waiting ones are lost
    connected(false);
    for (int i = 0; i < 10; ++i) virari_dbg_10ms();
    EXPECT_EQ(netdebug_pingStats().error, 3 + 10);
    for (int i = 0; i < 100; ++i) virari_dbg_10ms();
    // slots 12 to 99 of loop 0 and slots 0 and 1 of loop 1 were still waiting
    EXPECT_EQ(netdebug_pingStats().error, 3 + 10 + 88 + 2);
    for (int i = 0; i < 100; ++i) virari_dbg_10ms();   // nothing was sent since
    EXPECT_EQ(netdebug_pingStats().error, 3 + 10 + 88 + 2);
}

TEST_F(NetDebugTest, SlowPingLeavesEveryTenthCallAndOffFreesTheTable) {
    ping(kPeer, 1);
    connected(true);
    for (int i = 0; i < 1000; ++i) virari_dbg_10ms();   // 100 pings, none answered
    EXPECT_EQ(netdebug_pingStats().error, 0);
    virari_dbg_10ms();
    EXPECT_EQ(netdebug_pingStats().error, 1);
    ping(kPeer, 3);   // no pings at other frequencies
    for (int i = 0; i < 200; ++i) virari_dbg_10ms();
    EXPECT_EQ(netdebug_pingStats().error, 1);

    ping(0, 2);
    virari_dbg_10ms();
    ping(kPeer, 2);   // the first active call frees every slot
    for (int i = 0; i < 100; ++i) virari_dbg_10ms();
    EXPECT_EQ(netdebug_pingStats().error, 1);
}

TEST_F(NetDebugTest, WatchedPidCountersAreCopiedAndClearedWithTheirParameter) {
    for (const char* name : {"virari_dbg_ping_max", "virari_dbg_bcRemSeqCnt_1", "virari_remote_ver_2",
                             "virari_gw_mlistCnt_mlist_err_2", "virari_gw_pid_state_1", "mem_free_mb",
                             "VIRARI_DBG_PID_2"})
        EXPECT_NE(catalogue_find(name), nullptr) << name;
    NetDebugSignals& s = netdebugSignals();
    s.pid[1].cmdTxCnt = 77;
    s.pid[1].gw[18] = 5;
    bc2().seq = 1234;
    setCal(offsetof(CalPage, VIRARI_DBG_PID_1), kPeer);
    setCal(offsetof(CalPage, VIRARI_DBG_PID_2), 0);
    virari_dbg();
    EXPECT_EQ(s.pid[1].cmdTxCnt, 0);
    EXPECT_EQ(s.pid[1].gw[18], 0);
    EXPECT_EQ(s.virari_dbg_bcSeqCnt, 1234u);
    double v = -1;
    ASSERT_TRUE(catalogue_read(catalogue_find("virari_dbg_bcSeqCnt"), &v));
    EXPECT_EQ(v, 1234.0);
    bc2().seq = 0;
}

TEST_F(NetDebugTest, MemoryIsPublishedEverySecondAndLoggedAfterAMinuteAndAtNewLows) {
    for (int i = 0; i < 59; ++i) mem_usage_1s();
    EXPECT_GT(netdebugSignals().mem_free_mb, 0.0f);
    EXPECT_GT(netdebugSignals().mem_biggest_free_blk_mb, 0.0f);
    EXPECT_FALSE(logContains(takeLogTexts(), "memory usage:"));
    mem_usage_1s();
    EXPECT_EQ(countContaining(takeLogTexts(), "MB free, biggest free block"), 1);
    // the next minute logs only at a new low
    for (int i = 0; i < 60; ++i) mem_usage_1s();
    auto log = takeLogTexts();
    EXPECT_LE(countContaining(log, "memory usage:"), 1);
}
