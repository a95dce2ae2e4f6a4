// The XCP master over UDP: against our own XCP slave in this process, and
// against a scripted slave that refuses commands or sends broken datagrams.
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

#include "awm/awm.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"
#include "platform/startup.h"
#include "scripted_udp_slave.h"
#include "xcp/xcp_slave.h"
#include "xcp/xcp_test_master.h"
#include "xcpmr_fixture.h"

namespace {
// How long a wait for what must come may take on a busy host: a guard
// against a hang, not a speed.
constexpr int kGuardMs = 20000;

bool waitFor(const std::function<bool()>& cond, int ms) {
    for (int t = 0; t < ms; t += 5) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}
uint32_t sigAddr(size_t offset) { return uint32_t(kOwnPid) << 24 | (SERAM_SIGNAL_ADDR + uint32_t(offset)); }

struct Reads {
    std::mutex mx;
    std::vector<std::vector<uint8_t>> slots;
};
int onRead(unsigned long st, void* data, void* user) {
    auto* r = static_cast<Reads*>(user);
    std::lock_guard<std::mutex> lk(r->mx);
    if (st == 0 && data) r->slots.emplace_back(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 9);
    return 1;
}
const callback_list kReadCb = {{{onRead, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
}  // namespace

class XcpMasterUdpTest : public XcpMasterTest {
protected:
    void TearDown() override {
        stopRaster();
        xcpmr_terminate();
        if (slaveUp_) xcpTerminate();
        XcpMasterTest::TearDown();
    }
    void instance(unsigned i, uint16_t port) {
        cal().CfgMat_XcpMr_ACTIVE[i] = 1;
        cal().CfgMat_XcpMr_TransportLayer[i] = 0;
        cal().CfgMat_XcpMr_UDP_ADDRESS[i] = INADDR_LOOPBACK;
        cal().CfgMat_XcpMr_UDP_PORT[i] = port;
    }
    // Our own slave on loopback, with this device's PID in its addresses.
    void startOwnSlave() {
        slavePort_ = freeUdpPort();
        writeFile("start.cfg", "pid = 5\nxcp_port = " + std::to_string(slavePort_) + "\n");
        ASSERT_EQ(AppMan_init(1), 1);
        awm_man_start();
        ASSERT_EQ(startup_postrunInit(77), 1);
        ASSERT_EQ(xcpInitializeOn(INADDR_LOOPBACK), 0);
        slaveUp_ = true;
    }
    // The 10 ms raster: the master's control, the slave's event channels 1
    // and 0 and the gateway's delivery of raster 3.
    void startRaster() {
        raster_ = std::thread([this] {
            uint32_t ts = 0;
            while (!stop_) {
                xcpmr_10ms();
                if (slaveEvents_) {
                    xcpSendDAQ(1);
                    xcpSendDAQ(0);
                    xcp_100ms();
                }
                meas_man_copy_raster(3, ts += 100);
                gw_distribute(3);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void stopRaster() {
        stop_ = true;
        if (raster_.joinable()) raster_.join();
    }
    // Changes values the raster reads between two of its ticks.
    void betweenTicks(const std::function<void()>& change) {
        stopRaster();
        change();
        stop_ = false;
        startRaster();
    }
    void setActive(uint8_t v) {
        betweenTicks([v] { cal().CfgMat_XcpMr_ACTIVE[0] = v; });
    }
    uint16_t slavePort_ = 0;
    bool slaveUp_ = false;
    std::atomic<bool> slaveEvents_{true};
    std::atomic<bool> stop_{false};
    std::thread raster_;
};

TEST_F(XcpMasterUdpTest, FollowsOwnSlaveFeedsListsOfItsDaqAndFallsBackWhenTheSlaveStops) {
    startOwnSlave();
    instance(0, slavePort_);
    row(0, 0, 2, 1);   // 10 ms
    row(1, 0, 1, 0);   // no channels: not asked for on the slave
    row(2, 0, 1, 0);   // 100 ms
    chan(0, 0, sigAddr(offsetof(SignalPage, memory_canin) + 40), 4, 0xDEAD, 100);
    chan(1, 0, sigAddr(offsetof(SignalPage, display_brightness)), 1, 0x11);
    chan(2, 0, sigAddr(offsetof(SignalPage, stim_reserved)), 2);
    chan(3, 2, sigAddr(offsetof(SignalPage, memory_canin) + 44), 4);
    SignalPage* sp = signalPage();
    sp->memory_canin[10] = 0x12345678;
    sp->display_brightness = 77;
    sp->stim_reserved = 0xBEEF;
    sp->memory_canin[11] = 42;
    ASSERT_EQ(xcpmr_ini(), 0);
    EXPECT_EQ(xcpmr_get_status(0), XCPMR_READY);
    EXPECT_EQ(slot32(0), 0xDEADu);   // the default until data come
    EXPECT_TRUE(logContains(takeLogTexts(), "XCPMR: starting instance 0, 3 DAQs."));

    Reads reads;
    gw_conn_t conn = gw_connect(&kReadCb);
    const uint32_t desc[] = {uint32_t(-4), classAddr(0), 0, uint32_t(-1), classAddr(1), 0, 0};
    uint32_t list = gw_setup_list(conn, desc, &reads, sizeof desc, 3, 0, 0, 0, 0, 0, 0, 0);
    ASSERT_EQ(gw_start_list(list), 1);
    EXPECT_NE(meas_master_list_get(list), nullptr);   // written per DAQ by the master

    startRaster();
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_RUNNING; }, kGuardMs)) << int(xcpmr_get_status(0));
    ASSERT_TRUE(waitFor([] { return slot32(0) == 0x12345678u && slot8(1) == 77 && slot16(2) == 0xBEEF && slot32(3) == 42; },
                        kGuardMs));
    betweenTicks([sp] {   // as a producer on the slave's raster would
        sp->memory_canin[10] = 0x0BADF00D;
        sp->display_brightness = 78;
    });
    ASSERT_TRUE(waitFor([] { return slot32(0) == 0x0BADF00Du && slot8(1) == 78; }, kGuardMs));
    EXPECT_EQ(xcpmr_get_timestamp_state(0), 3);   // both clocks are this process's
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lk(reads.mx);
        return !reads.slots.empty() && be_get32(&reads.slots.back()[4]) == 0x0BADF00Du && reads.slots.back()[8] == 78;
    }, kGuardMs));

    // the slave goes: the channel with a time-out falls back, the instance fails
    slaveEvents_ = false;
    xcpTerminate();
    slaveUp_ = false;
    EXPECT_TRUE(waitFor([] { return slot32(0) == 0xDEADu; }, kGuardMs));
    EXPECT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_FAILED; }, kGuardMs)) << int(xcpmr_get_status(0));
    EXPECT_EQ(slot8(1), 78);   // no time-out: the last value stays
    gw_disconnect(conn);
}

TEST_F(XcpMasterUdpTest, ErrorAnswersCountLikeMissingOnesAndTheInstanceIsRetried) {
    ScriptedUdpSlave slave([](const ScriptedUdpSlave::Bytes&) { return ScriptedUdpSlave::Bytes{0xFE, 0x10}; });
    instance(0, slave.port());
    row(0, 0, 1);
    chan(0, 0, 0x40000, 4);
    ASSERT_EQ(xcpmr_ini(), 0);
    startRaster();
    // DISCONNECT's error is passed over, then three refused CONNECTs
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_FAILED; }, 1000)) << int(xcpmr_get_status(0));
    EXPECT_EQ(slave.count(0xFF), 3u);
    EXPECT_TRUE(waitFor([&] { return slave.count(0xFF) >= 6; }, 2500));   // started again after 1 s
}

TEST_F(XcpMasterUdpTest, BrokenDatagramsAndUnconfiguredDtosAreDroppedAndCounted) {
    ScriptedUdpSlave slave;
    instance(0, slave.port());
    row(0, 0, 1);
    chan(0, 0, 0x40000, 4);
    ASSERT_EQ(xcpmr_ini(), 0);
    startRaster();
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_RUNNING; }, 2000));
    // the configuration our slave would be given
    const std::vector<ScriptedUdpSlave::Bytes> expect = {
        {0xFE}, {0xFF, 0}, {0xFD}, {0xDA}, {0xD6}, {0xD5, 0, 1, 0}, {0xD4, 0, 0, 0, 1}, {0xD3, 0, 0, 0, 0, 1},
        {0xE2, 0, 0, 0, 0, 0}, {0xE1, 0xFF, 4, 0, 0, 0, 4, 0}, {0xE0, 0x10, 0, 0, 1, 0, 0, 0}, {0xDE, 2, 0, 0},
        {0xDC}, {0xDD, 1}};
    // the last command may still be on its way when the state turns to running
    waitFor([&] { return slave.commands().size() >= expect.size(); }, 2000);
    auto cmds = slave.commands();
    ASSERT_GE(cmds.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) EXPECT_EQ(cmds[i], expect[i]) << i;

    auto dto = [](uint16_t daq, uint8_t odt, uint32_t v) {
        return ScriptedUdpSlave::Bytes{odt, uint8_t(daq), uint8_t(daq >> 8), 0, 0, 0, 0,
                                       uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    slave.sendRaw(ScriptedUdpSlave::frame(dto(0, 0, 1111)));
    ASSERT_TRUE(waitFor([] { return slot32(0) == 1111u; }, 1000));
    takeLogRecords();
    const uint32_t dropped = xcpmr_dropped(), rejected = xcpmr_rejected();
    // a packet longer than a queue message, with a valid one behind it
    ScriptedUdpSlave::Bytes big = ScriptedUdpSlave::frame(ScriptedUdpSlave::Bytes(300, 0x01));
    ScriptedUdpSlave::Bytes after = ScriptedUdpSlave::frame(dto(0, 0, 2222));
    big.insert(big.end(), after.begin(), after.end());
    slave.sendRaw(big);
    ASSERT_TRUE(waitFor([] { return slot32(0) == 2222u; }, 1000));
    EXPECT_EQ(xcpmr_dropped(), dropped + 1);
    // DAQ and ODT numbers beyond the configuration, a short DTO, a runt header
    slave.sendRaw(ScriptedUdpSlave::frame(dto(7, 0, 3333)));
    slave.sendRaw(ScriptedUdpSlave::frame(dto(0, 1, 3333)));
    slave.sendRaw(ScriptedUdpSlave::frame({0, 0, 0, 1, 2}));
    slave.sendRaw({0x09, 0x00, 0x00});
    slave.sendRaw({0x40, 0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(waitFor([&] { return xcpmr_rejected() == rejected + 3; }, 1000));
    slave.sendRaw(ScriptedUdpSlave::frame(dto(0, 0, 4444)));
    ASSERT_TRUE(waitFor([] { return slot32(0) == 4444u; }, 1000));
    EXPECT_EQ(countContaining(takeLogTexts(), "xcpmr_UdpReceivePacket(): runt header"), 1);   // repeats fold
    EXPECT_EQ(xcpmr_get_status(0), XCPMR_RUNNING);
}

TEST_F(XcpMasterUdpTest, StopWithAnUnansweredDisconnectEndsReadyAndStartsAgain) {
    ScriptedUdpSlave slave([](const ScriptedUdpSlave::Bytes& c) {
        return c[0] == 0xFE ? ScriptedUdpSlave::Bytes{} : ScriptedUdpSlave::positive(c);
    });
    instance(0, slave.port());
    row(0, 0, 1);
    chan(0, 0, 0x40000, 4);
    ASSERT_EQ(xcpmr_ini(), 0);
    startRaster();
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_RUNNING; }, 2000));
    setActive(0);   // stop
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_READY; }, 1000)) << int(xcpmr_get_status(0));
    EXPECT_EQ(slave.count(0xFE), 2u);   // before the CONNECT and for the stop
    setActive(1);
    ASSERT_TRUE(waitFor([] { return xcpmr_get_status(0) == XCPMR_RUNNING; }, 2000));
    EXPECT_EQ(slave.count(0xFF), 2u);
}
