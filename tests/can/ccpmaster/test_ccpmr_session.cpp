// CCP master sessions with scripted slaves on the host CAN bus: the
// configuration sequence, DAQ values in the slots and through the gateway,
// stop, retries and the error status, time-outs, keep-alive and start
// conditions.
#include "can/ccpmaster/ccp_fixture.h"

#include "measurement/signalpage.h"

namespace {

using Cmd = std::array<uint8_t, 8>;

class CcpSession : public CcpTest {
protected:
    // Instance 0 on CAN1 (Intel, CONNECT used) with two DAQ lists: DAQ 0 with
    // channels of 4, 2, 1 and 1 bytes in two ODTs, DAQ 1 on an extended
    // identifier with one 2-byte channel.
    void SetUp() override {
        CcpTest::SetUp();
        instance(0, 0, 0x700, 0x701, CCPMR_MODE_CONNECT);
        daq(0, 0, 0, 3, 0x710, 2, 3);
        daq(1, 0, 1, 2, 0x98FF0010, 3, 1);
        chan(0, 0, 4, 0x40001000);
        chan(1, 0, 2, 0x40001004);
        chan(2, 0, 1, 0x40001006, 0x11, 50);
        chan(3, 0, 1, 0x40001007, 0x22);
        chan(10, 1, 2, 0x2000, 0x5555, 0xFFFFFFFF, 7);
        slave.daqs[0] = {3, 0x20, 0x710};
        slave.daqs[1] = {2, 0x30, 0x98FF0010};
        slave.memory = {{0x40001000, 0xDEADBEEF}, {0x40001004, 0x1234}, {0x40001006, 0x56},
                        {0x40001007, 0x78}, {0x2000, 0xABCD}};
        slaves.push_back(&slave);
    }
    // Acquiring once the slave has had the last START_STOP too.
    bool acquiring(unsigned inst = 0) {
        bool ok = runUntil([inst] { return ccpmr_getStatus(inst) == CCPMR_ST_ACQUIRING; });
        run(5);
        return ok;
    }
    // The commands of the last session (a busy host may have made an
    // earlier attempt time out).
    std::vector<Cmd> session() const {
        size_t from = 0;
        for (size_t i = 0; i < slave.commands.size(); ++i)
            if (slave.commands[i][0] == 0x01) from = i;
        return std::vector<Cmd>(slave.commands.begin() + long(from), slave.commands.end());
    }

    CcpSlave slave{0, 0x700, 0x701, false};
};

TEST_F(CcpSession, ConfiguresTheSlaveAndDeliversItsValues) {
    start();
    ASSERT_TRUE(acquiring());
    EXPECT_EQ(signalPage()->ccpmr_status[0], CCPMR_ST_ACQUIRING);
    const std::vector<uint8_t> expected = {0x01, 0x14, 0x15, 0x16, 0x15, 0x16, 0x15, 0x16, 0x15, 0x16,
                                           0x14, 0x15, 0x16, 0x06, 0x06};
    const std::vector<Cmd> cmds = session();
    std::vector<uint8_t> codes;
    for (const Cmd& c : cmds) codes.push_back(c[0]);
    ASSERT_EQ(codes, expected);
    for (size_t i = 1; i < cmds.size(); ++i) EXPECT_EQ(cmds[i][1], uint8_t(cmds[0][1] + i)) << "counter of " << i;
    EXPECT_EQ(cmds[0][2], 0x34);   // station address, Intel
    EXPECT_EQ(cmds[0][3], 0x12);
    EXPECT_EQ(slave.get32(&cmds[10][4]), 0x98FF0010u);   // DAQ identifier of DAQ 1
    // the slave holds 4-, 2- and 1-byte channels in ODT 0, the last in ODT 1
    ASSERT_EQ(slave.elements.size(), 5u);
    EXPECT_EQ(slave.element(0, 0, 0).addr, 0x40001000u);
    EXPECT_EQ(slave.element(0, 0, 1).size, 2);
    EXPECT_EQ(slave.element(0, 1, 0).addr, 0x40001007u);
    EXPECT_EQ(slave.element(1, 0, 0).ext, 7);
    ASSERT_EQ(slave.started.size(), 2u);
    EXPECT_EQ(slave.started[0].lastOdt, 1);
    EXPECT_EQ(slave.started[0].evt, 2);
    EXPECT_EQ(slave.started[0].prescaler, 3);
    EXPECT_EQ(slave.started[1].lastOdt, 0);

    // defaults before the first reception, in the channel's size
    EXPECT_EQ(value(2, 1), 0x11u);
    EXPECT_EQ(value(10, 2), 0x5555u);

    // a list of DAQ 0 only is written once per DAQ cycle; a list mixing a
    // CCP channel with a value of this device is copied on its raster
    SlotConsumer perDaq, mixed;
    ASSERT_NE(perDaq.subscribe({uint32_t(-4), ccpAddr(0), 0, uint32_t(-2), ccpAddr(1), 0,
                                uint32_t(-1), ccpAddr(2), ccpAddr(3), 0, 0}, 12), 0u);
    const uint32_t stim = SERAM_SIGNAL_ADDR + uint32_t(offsetof(SignalPage, stim_tick));
    ASSERT_NE(mixed.subscribe({uint32_t(-2), ccpAddr(10), 0, uint32_t(-4), stim, 0, 0}, 10), 0u);
    run(30);
    EXPECT_TRUE(perDaq.slots.empty());
    for (int cycle = 0; cycle < 3; ++cycle) {
        slave.sendCycle(0);
        slave.sendCycle(1);
        ASSERT_TRUE(runUntil([&] { return perDaq.slots.size() == size_t(cycle + 1); }, 1000));
        run(10);
    }
    run(30);
    ASSERT_EQ(perDaq.slots.size(), 3u);
    const std::vector<uint8_t> values = {0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x78};
    for (const auto& s : perDaq.slots) EXPECT_EQ(std::vector<uint8_t>(s.begin() + 4, s.end()), values);
    EXPECT_LT(be_get32(perDaq.slots[0].data()), be_get32(perDaq.slots[2].data()));   // each cycle's own stamp
    ASSERT_TRUE(runUntil([&] { return !mixed.slots.empty() && be_get16(mixed.slots.back().data() + 4) == 0xABCD; }));
    EXPECT_EQ(value(0, 4), 0xDEADBEEFu);

    // not active any more: DISCONNECT, then stopped
    cal()->CfgMat_CcpMr_ACTIVE[0] = 0;
    ASSERT_TRUE(runUntil([] { return ccpmr_getStatus(0) == CCPMR_ST_STOPPED; }));
    const Cmd& disc = slave.commands.back();
    EXPECT_EQ(disc[0], 0x07);
    EXPECT_EQ(disc[2], 1);
    EXPECT_EQ(disc[4], 0x34);
    EXPECT_EQ(disc[5], 0x12);
    // DAQ messages after the stop are not taken
    slave.memory[0x40001000] = 1;
    slave.started[0] = {1, 2, 3};
    slave.sendCycle(0);
    run(30);
    EXPECT_EQ(value(0, 4), 0xDEADBEEFu);
}

TEST_F(CcpSession, MotorolaSlaveWithoutConnect) {
    CcpSlave moto{1, 0x80000600, 0x601, true};
    slaves.push_back(&moto);
    instance(1, 1, 0x80000600, 0x601, 0, /*big*/ true);
    daq(5, 1, 4, 1, 0x610, 0, 0x0102);
    chan(20, 5, 4, 0x11223344);
    chan(21, 5, 2, 0x55667788);
    moto.daqs[4] = {1, 0x40, 0x610};
    moto.memory = {{0x11223344, 0x01020304}, {0x55667788, 0xBEEF}};
    cal()->CfgMat_CcpMr_ACTIVE[0] = 0;
    start();
    ASSERT_TRUE(acquiring(1));
    EXPECT_TRUE(moto.withCode(0x01).empty());
    EXPECT_EQ(moto.element(4, 0, 0).addr, 0x11223344u);   // Motorola address on the bus
    EXPECT_EQ(moto.started[4].prescaler, 0x0102);
    moto.sendCycle(4);
    ASSERT_TRUE(runUntil([] { return value(21, 2) == 0xBEEF; }, 1000));
    EXPECT_EQ(value(20, 4), 0x01020304u);
    cal()->CfgMat_CcpMr_ACTIVE[1] = 0;
    ASSERT_TRUE(runUntil([] { return ccpmr_getStatus(1) == CCPMR_ST_STOPPED; }));
    EXPECT_TRUE(moto.withCode(0x07).empty());
    EXPECT_TRUE(slave.commands.empty());   // instance 0 stayed off
}

TEST_F(CcpSession, UnansweredConnectGivesErrorStatusThenRetries) {
    slave.silent = {0x01, 0x07};
    start();
    ASSERT_TRUE(runUntil([] { return ccpmr_getStatus(0) == CCPMR_ST_ERROR; }));
    EXPECT_EQ(slave.withCode(0x01).size(), 3u);
    EXPECT_EQ(signalPage()->ccpmr_status[0], CCPMR_ST_ERROR);
    // after its second the error status ends and the next attempt starts
    ASSERT_TRUE(runUntil([&] { return slave.withCode(0x01).size() == 4; }, 5000));
    EXPECT_EQ(ccpmr_getStatus(0), CCPMR_ST_STARTING);
}

TEST_F(CcpSession, RefusedAnswersTimeOutLikeMissingOnes) {
    slave.refused = {0x14};
    start();
    ASSERT_TRUE(runUntil([] { return ccpmr_getStatus(0) == CCPMR_ST_ERROR; }));
    EXPECT_GE(slave.withCode(0x14).size(), 1u);
    EXPECT_LE(slave.withCode(0x14).size(), 3u);
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: got negative response"));
    // once the slave answers again the next attempt succeeds
    slave.refused.clear();
    ASSERT_TRUE(acquiring());
}

TEST_F(CcpSession, FewerOdtsThanConfiguredAndForeignPids) {
    slave.daqs[0] = {1, 0x20, 0x710};   // one ODT instead of three
    start();
    ASSERT_TRUE(acquiring());
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: number of ODT differ"));
    for (const Cmd& c : slave.withCode(0x15)) EXPECT_EQ(c[3], 0) << "ODT beyond the slave's size configured";
    EXPECT_EQ(slave.started[0].lastOdt, 0);

    // PIDs outside the session's ODTs, a short and an empty message change nothing
    host::CanFrame f;
    f.id = 0x710;
    f.len = 8;
    for (uint8_t pid : {uint8_t(0x21), uint8_t(0x1F), uint8_t(0xFF)}) {
        f.data[0] = pid;
        std::memset(f.data + 1, 0x99, 7);
        host::canLoopbackInject(0, f);
    }
    f.data[0] = 0x20;
    f.len = 3;
    f.data[1] = 0x01;
    f.data[2] = 0x02;
    host::canLoopbackInject(0, f);
    f.len = 0;
    host::canLoopbackInject(0, f);
    ASSERT_TRUE(runUntil([] { return value(0, 4) != 0; }, 1000));
    EXPECT_EQ(value(0, 4), 0x0201u);   // only the bytes carried, nothing of the foreign PIDs
    EXPECT_EQ(value(3, 1), 0x22u);               // ODT 1 never came
}

TEST_F(CcpSession, ValuesFallBackToTheirDefaultAfterTheTimeOut) {
    start();
    ASSERT_TRUE(acquiring());
    slave.sendCycle(0);
    ASSERT_TRUE(runUntil([] { return value(2, 1) == 0x56; }, 1000));
    // channel 2 is supervised with 50 ms, channel 3 is not
    ASSERT_TRUE(runUntil([] { return value(2, 1) == 0x11; }, 1000));
    EXPECT_EQ(value(3, 1), 0x78u);
    EXPECT_EQ(ccpmr_timeout[3].load(), 0xFFFFu);
    slave.sendCycle(0);
    ASSERT_TRUE(runUntil([] { return value(2, 1) == 0x56; }, 1000));
}

TEST_F(CcpSession, FullDaqQueueDropsInsteadOfBlockingTheRaster) {
    start();
    ASSERT_TRUE(acquiring());
    SlotConsumer perDaq;
    ASSERT_NE(perDaq.subscribe({uint32_t(-4), ccpAddr(0), 0, 0}, 8), 0u);
    {
        // the DAQ task stops at the linked list of the first cycle's end
        std::lock_guard<std::mutex> hold(ccpmr_linkMx);
        slave.sendCycle(0);
        canPoll_1ms();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (int i = 0; i < int(CCPMR_QUEUE_DEPTH) + 20; ++i) slave.sendCycle(0);
        canPoll_1ms();   // returns: what does not fit is dropped
        EXPECT_GT(ccpmr_daqLost(), 0u);
    }
    EXPECT_TRUE(logContains(takeLogTexts(), "ccpmr_DaqHandler(): _msgq_send()!"));
    // the queued cycles are stored afterwards
    ASSERT_TRUE(runUntil([&] { return perDaq.slots.size() >= 2; }, 2000));
}

TEST_F(CcpSession, KeepAliveAndDaqWatchdog) {
    cal()->CfgMat_CcpMr_MODE[0] = CCPMR_MODE_CONNECT | CCPMR_MODE_KEEPALIVE;
    start();
    ASSERT_TRUE(acquiring());
    ASSERT_TRUE(runUntil([&] { return !slave.withCode(0x0D).empty(); }, 5000));
    ASSERT_TRUE(acquiring());
    // with the watchdog, a second without DAQ messages stops and starts again
    const size_t connects = slave.withCode(0x01).size(), disconnects = slave.withCode(0x07).size();
    __atomic_or_fetch(&cal()->CfgMat_CcpMr_MODE[0], CCPMR_MODE_DAQ_WATCHDOG, __ATOMIC_RELAXED);
    ASSERT_TRUE(runUntil([&] { return slave.withCode(0x01).size() > connects; }, 5000));
    EXPECT_GT(slave.withCode(0x07).size(), disconnects);
    ASSERT_TRUE(acquiring());
}

TEST_F(CcpSession, StartConditionOnAMeasuredValue) {
    const uint32_t addr = SERAM_SIGNAL_ADDR + uint32_t(offsetof(SignalPage, meas_cnt_update));
    cal()->CfgMat_CcpMr_Cond1_Adr[0] = addr;
    cal()->CfgMat_CcpMr_Cond1_size[0] = -1;   // the magnitude counts
    cal()->CfgMat_CcpMr_Cond1_Op[0] = 2;      // greater
    cal()->CfgMat_CcpMr_Cond1_Val[0] = 5;
    // a condition without a value yet does not take part: let it arrive first
    cal()->CfgMat_CcpMr_ACTIVE[0] = 0;
    start();
    run(100);
    cal()->CfgMat_CcpMr_ACTIVE[0] = 1;
    // and not before the first second of the application
    timespec t{};
    while (clock_appltime(&t), t.tv_sec < 1) run(10);
    run(200);
    EXPECT_TRUE(slave.commands.empty());
    signalPage()->meas_cnt_update = 9;
    ASSERT_TRUE(acquiring());
    signalPage()->meas_cnt_update = 2;
    ASSERT_TRUE(runUntil([] { return ccpmr_getStatus(0) == CCPMR_ST_STOPPED; }));
}

}  // namespace
