// The XCP master on CAN over the host's loopback bus, against a scripted
// big-endian slave that answers each command frame and sends DTO frames with
// absolute ODT numbers.
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "host/kernel/kernel.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "xcpmr_fixture.h"

namespace {
constexpr uint32_t kCmdId = 0x7E0, kRetId = 0x7E1;
constexpr uint32_t kDaqId = 0x80012345u;   // 29-bit
constexpr uint8_t kFirstPid = 0x10;

using Frame = std::vector<uint8_t>;

host::CanFrame frame(uint32_t id, const Frame& bytes) {
    host::CanFrame f;
    f.id = id;
    for (uint8_t b : bytes) f.data[f.len++] = b;
    return f;
}

std::vector<Frame> gLinkedReads;
std::mutex gReadMx;
int onRead(unsigned long st, void* data, void*) {
    std::lock_guard<std::mutex> lk(gReadMx);
    if (st == 0 && data) gLinkedReads.emplace_back(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 12);
    return 1;
}
const callback_list kReadCb = {{{onRead, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
}  // namespace

class XcpMasterCanTest : public XcpMasterTest {
protected:
    void SetUp() override {
        XcpMasterTest::SetUp();
        writeFile("start.cfg", "can_bus = loopback\n");
        host::loadStartParams(1);
        host::canOpen(1);
        canFront_resetForTest();
        nvram_resetForTest();
        nvram_dbs_init();
        error_mgr_resetForTest();
        error_mgr_init();
        gLinkedReads.clear();
        cal().CfgMat_XcpMr_ACTIVE[0] = 1;
        cal().CfgMat_XcpMr_TransportLayer[0] = 1;
        cal().CfgMat_XcpMr_CANINTF[0] = 0;
        cal().CfgMat_XcpMr_CMD_CANID[0] = kCmdId;
        cal().CfgMat_XcpMr_CMDRET_CANID[0] = kRetId;
        cal().CfgMat_XcpMr_BIGENDIAN[0] = 1;
        row(0, 0, 4, 1, kDaqId);
    }
    void TearDown() override {
        xcpmr_terminate();
        canFront_resetForTest();
        host::canClose();
        error_mgr_resetForTest();
        XcpMasterTest::TearDown();
    }
    // Runs the 1 ms raster for ms milliseconds (the 10 ms control every tenth
    // tick) while the peer answers the command frames; true once cond holds.
    bool run(int ms, const std::function<bool()>& cond = nullptr) {
        for (int t = 0; t < ms; ++t) {
            for (const host::CanFrame& f : host::canLoopbackTake(0)) {
                if (f.id != kCmdId) continue;
                Frame cmd(f.data, f.data + f.len);
                commands.push_back(cmd);
                if (silent) continue;
                Frame ans = {0xFF};
                if (cmd[0] == 0xFF) ans = {0xFF, 0x05, 0x01, 0x08, 0x00, 0x08, 0x01, 0x01};   // byte order: big
                if (cmd[0] == 0xDE) ans = {0xFF, kFirstPid};
                host::canLoopbackInject(0, frame(kRetId, ans));
            }
            canPoll_1ms();
            if (t % 10 == 0) xcpmr_10ms();
            if (cond && cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return cond ? cond() : true;
    }
    size_t count(uint8_t code) const {
        size_t n = 0;
        for (auto& c : commands) n += c[0] == code;
        return n;
    }
    std::vector<Frame> commands;
    bool silent = false;
};

TEST_F(XcpMasterCanTest, ConfiguresABigEndianSlaveAndDecodesItsDtoFrames) {
    for (unsigned ch : {0u, 1u, 2u}) chan(ch, 0, 0x00100000u + ch * 4, 4);
    chan(3, 0, 0x00200000u, 2);
    chan(4, 0, 0x00200002u, 2);
    chan(5, 0, 0x00300000u, 1, 0, 100);
    cal().CfgMat_XcpMr_DAQ_EVT_PRESC[0] = 0x0102;
    ASSERT_EQ(xcpmr_ini(), 0);
    gw_conn_t conn = gw_connect(&kReadCb);
    const uint32_t desc[] = {uint32_t(-4), classAddr(0), classAddr(2), 0, uint32_t(-2), classAddr(3), 0, 0};
    uint32_t list = gw_setup_list(conn, desc, nullptr, sizeof desc, 3, 0, 0, 0, 0, 0, 0, 0);
    ASSERT_EQ(gw_start_list(list), 1);
    ASSERT_NE(meas_master_list_get(list), nullptr);

    ASSERT_TRUE(run(3000, [] { return xcpmr_get_status(0) == XCPMR_RUNNING; })) << int(xcpmr_get_status(0));
    ASSERT_TRUE(run(100, [&] { return count(0xDD) == 1; }));
    EXPECT_EQ(count(0xDA), 0u);   // no processor info on CAN
    // three ODTs of at most 7 bytes, big-endian words and addresses
    const std::vector<Frame> expect = {
        {0xFE}, {0xFF, 0}, {0xFD}, {0xD6}, {0xD5, 0, 0, 1}, {0xD4, 0, 0, 0, 3},
        {0xD3, 0, 0, 0, 0, 3}, {0xD3, 0, 0, 0, 1, 2}, {0xD3, 0, 0, 0, 2, 1},
        {0xE2, 0, 0, 0, 0, 0}, {0xE1, 0xFF, 4, 0, 0x00, 0x10, 0x00, 0x00}, {0xE1, 0xFF, 2, 0, 0x00, 0x20, 0x00, 0x00},
        {0xE1, 0xFF, 1, 0, 0x00, 0x30, 0x00, 0x00},
        {0xE2, 0, 0, 0, 1, 0}, {0xE1, 0xFF, 4, 0, 0x00, 0x10, 0x00, 0x04}, {0xE1, 0xFF, 2, 0, 0x00, 0x20, 0x00, 0x02},
        {0xE2, 0, 0, 0, 2, 0}, {0xE1, 0xFF, 4, 0, 0x00, 0x10, 0x00, 0x08},
        {0xE0, 0x00, 0, 0, 0, 1, 0x02, 0}, {0xDE, 2, 0, 0}, {0xDD, 1}};
    ASSERT_EQ(commands.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) EXPECT_EQ(commands[i], expect[i]) << i;

    // one DAQ cycle: PIDs from FIRST_PID name the ODTs
    host::canLoopbackInject(0, frame(kDaqId, {kFirstPid, 0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x7F}));
    host::canLoopbackInject(0, frame(kDaqId, {kFirstPid + 1, 0, 0, 0, 1, 0xAB, 0xCD}));
    host::canLoopbackInject(0, frame(kDaqId, {kFirstPid + 2, 0x01, 0x02, 0x03, 0x04}));
    host::canLoopbackInject(0, frame(kDaqId, {0x30, 1, 2, 3, 4, 5, 6, 7}));   // a PID of no ODT
    const uint32_t rejected = xcpmr_rejected();
    ASSERT_TRUE(run(500, [] { return slot32(2) == 0x01020304u; }));
    EXPECT_EQ(slot32(0), 0xDEADBEEFu);
    EXPECT_EQ(slot16(3), 0x1234);
    EXPECT_EQ(slot8(5), 0x7F);
    EXPECT_EQ(slot32(1), 1u);
    EXPECT_EQ(slot16(4), 0xABCD);
    EXPECT_EQ(xcpmr_rejected(), rejected + 1);
    // the list of the DAQ got one slot after the last ODT
    ASSERT_TRUE(run(100, [] {
        gw_distribute(3);
        std::lock_guard<std::mutex> lk(gReadMx);
        return !gLinkedReads.empty();
    }));
    {
        std::lock_guard<std::mutex> lk(gReadMx);
        ASSERT_EQ(gLinkedReads.size(), 1u);
        const Frame& s = gLinkedReads[0];
        EXPECT_EQ(be_get32(&s[4]), 0xDEADBEEFu);
        EXPECT_EQ(be_get32(&s[8]), 0x01020304u);
    }
    // the 1-byte channel's time-out brings its default back
    ASSERT_TRUE(run(500, [] { return slot8(5) == 0; }));
    gw_disconnect(conn);
}

TEST_F(XcpMasterCanTest, UnansweredConnectsFailTheInstanceWhichStartsAgainAfterASecond) {
    chan(0, 0, 0x100, 4);
    silent = true;
    ASSERT_EQ(xcpmr_ini(), 0);
    ASSERT_TRUE(run(3000, [] { return xcpmr_get_status(0) == XCPMR_FAILED; })) << int(xcpmr_get_status(0));
    EXPECT_EQ(count(0xFF), 3u);
    const size_t before = commands.size();
    ASSERT_TRUE(run(1500, [&] { return count(0xFF) > 3; }));
    EXPECT_GE(commands.size(), before);
    EXPECT_TRUE(run(1500, [] { return xcpmr_get_status(0) == XCPMR_FAILED; }));
}
