// CAN front end over the loopback bus, and the I/O and network front ends.
#include "platform/appman.h"
#include "platform/can_front.h"
#include "platform/io.h"

#include "platform_fixture.h"

#include <arpa/inet.h>

namespace {

struct Rx {
    void* user;
    uint32_t id;
    uint8_t format;
    uint32_t lenFlags;
    std::vector<uint8_t> data;
};
std::vector<Rx> gRx;

void onRx(void* user, uint32_t id, uint8_t format, uint32_t lenFlags, const uint8_t* data) {
    gRx.push_back({user, id, format, lenFlags, std::vector<uint8_t>(data, data + (lenFlags & 0xFF))});
}

host::CanFrame frame(uint32_t id, uint8_t len, uint8_t flags = 0) {
    host::CanFrame f;
    f.id = id;
    f.len = len;
    f.flags = flags;
    for (int i = 0; i < len; ++i) f.data[i] = static_cast<uint8_t>(0xA0 + i);
    return f;
}

}  // namespace

class CanFront : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        writeFile("start.cfg", "can_bus = loopback\n");
        host::loadStartParams(1);
        host::canOpen(1);
        canFront_resetForTest();
        gRx.clear();
    }
    void TearDown() override {
        canFront_resetForTest();
        host::canClose();
        PlatformTest::TearDown();
    }
};

TEST_F(CanFront, ReceivedFramesReachTheirCallbacksInThePoll) {
    int userA = 0, userB = 0;
    ASSERT_EQ(canRegisterRxFunc(0, 0, 0x123, onRx, &userA), 0);
    ASSERT_EQ(canRegisterRxFunc(1, 1, 0x18FF0001, onRx, &userB), 0);
    host::canLoopbackInject(0, frame(0x123, 8));
    host::canLoopbackInject(0, frame(0x124, 8));          // not registered
    host::canLoopbackInject(1, frame(0x18FF0001 | host::CAN_EFF_FLAG, 12, host::CANFD_FDF));
    EXPECT_TRUE(gRx.empty());   // nothing before the poll
    canPoll_1ms();
    ASSERT_EQ(gRx.size(), 2u);
    EXPECT_EQ(gRx[0].user, &userA);
    EXPECT_EQ(gRx[0].id, 0x123u);
    EXPECT_EQ(gRx[0].lenFlags, 8u);
    EXPECT_EQ(gRx[0].data[7], 0xA7);
    EXPECT_EQ(gRx[1].user, &userB);
    EXPECT_EQ(gRx[1].id, 0x18FF0001u);
    EXPECT_EQ(gRx[1].format, 1);
    EXPECT_EQ(gRx[1].lenFlags, 12u | (host::CANFD_FDF << 8));
    canPoll_1ms();
    EXPECT_EQ(gRx.size(), 2u);
}

TEST_F(CanFront, RegistrationLimitsAreLogged) {
    EXPECT_EQ(canRegisterRxFunc(2, 0, 0x100, onRx, nullptr), 1);
    EXPECT_EQ(canRegisterTxFunc(2, 0, 0x100, 0, 0), -1);
    auto t = takeLogTexts();
    EXPECT_TRUE(logContains(t, "canRegisterRxFunc: interface number too big 2"));
    for (int i = 0; i < CAN_MAX_REQUESTS; ++i) ASSERT_EQ(canRegisterTxFunc(i & 1, 0, 0x200 + i, 0, 0), i);
    EXPECT_EQ(canRegisterTxFunc(0, 0, 0x7FF, 0, 0), -1);
    for (int i = 0; i < CAN_MAX_REQUESTS; ++i) ASSERT_EQ(canRegisterRxFunc(0, 0, 0x300 + (i % 100), onRx, nullptr), 0);
    EXPECT_EQ(canRegisterRxFunc(0, 0, 0x123, onRx, nullptr), 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "canRegisterRxFunc: too many requests"));
}

TEST_F(CanFront, TransmitBuildsTheFrameFromTheRegistration) {
    int std = canRegisterTxFunc(0, 0, 0x321, 0, 0);
    int ext = canRegisterTxFunc(1, 0xFF, 0x1ABCDEF0, 1, 1);
    uint8_t data[64];
    for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(i);
    canTxMsg(std, 8, data);
    canTxMsg(ext, 13, data);   // 32 bytes
    auto f0 = host::canLoopbackTake(0);
    auto f1 = host::canLoopbackTake(1);
    ASSERT_EQ(f0.size(), 1u);
    EXPECT_EQ(f0[0].id, 0x321u);
    EXPECT_EQ(f0[0].len, 8);
    EXPECT_EQ(f0[0].flags, 0);
    ASSERT_EQ(f1.size(), 1u);
    EXPECT_EQ(f1[0].id, 0x1ABCDEF0u | host::CAN_EFF_FLAG);
    EXPECT_EQ(f1[0].len, 32);
    EXPECT_EQ(f1[0].flags, host::CANFD_FDF | host::CANFD_BRS);
    EXPECT_EQ(f1[0].data[31], 31);

    // Unknown handles and impossible codes are logged, flood-limited, not sent.
    for (int i = 0; i < 20; ++i) canTxMsg(999, 8, data);
    canTxMsg(std, 12, data);   // CAN FD length on a classic message
    canTxMsg(-1, 8, data);
    EXPECT_TRUE(host::canLoopbackTake(0).empty());
    auto t = takeLogTexts();
    EXPECT_TRUE(logContains(t, "canTxMsg: unknown handle 999"));
    EXPECT_TRUE(logContains(t, "Flooding suspicion!"));
    EXPECT_FALSE(logContains(t, "unknown handle -1"));   // site already silenced
}

using IoFront = PlatformTest;

TEST_F(IoFront, PwmFloatsStatusWordAndRomId) {
    PwmOut_Set(0, 42.5f, 1000.0f);   // floats travel as their bits
    EXPECT_FLOAT_EQ(host::pwmOutGet(0).duty, 42.5f);
    EXPECT_FLOAT_EQ(host::pwmOutGet(0).frequency, 1000.0f);
    meas_led_set_status(0x8000 | 0x20000);
    meas_led_clr_status(0x8000);
    EXPECT_EQ(meas_led_get_status(), 0x20000u);
    EXPECT_EQ(host::measStatusWord(), 0x20000u);
    meas_led_clr_status(0xFFFFFFFF);
    uint8_t rom[8];
    ASSERT_EQ(ow_readRomID(rom), 1);
    EXPECT_EQ(0, memcmp(rom, host::deviceRecord().romId, 8));
    EXPECT_EQ(ow_readRomID(nullptr), 0);
}

TEST_F(IoFront, SiblingPageMasters) {
    EXPECT_EQ(applComm_getLaptrigPID(), 0);
    host::applCommPage()[APPLCOMM_OFS_LAPTRIG_PID] = 0x12;
    host::applCommPage()[APPLCOMM_OFS_FUELCONS_PID] = 0x34;
    EXPECT_EQ(applComm_getLaptrigPID(), 0x12);
    EXPECT_EQ(applComm_getFuelconsPID(), 0x34);
}

TEST_F(IoFront, AddSubnetSkipsOwnAndKnownAndStopsAtTen) {
    add_subnet_resetForTest();
    uint32_t own = ntohl(inet_addr(device_ip_addr));
    EXPECT_EQ(add_subnet(own + 1), -1);            // own /24
    EXPECT_EQ(add_subnet(0x0A000105), 0);          // 10.0.1.x
    EXPECT_EQ(add_subnet(0x0A000109), -1);         // same subnet again
    for (uint32_t i = 2; i <= 10; ++i) EXPECT_EQ(add_subnet(0x0A000005 | (i << 8)), 0) << i;
    EXPECT_EQ(add_subnet(0x0B010203), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "add_subnet: too many subnets (ignored): 11.1.2.3"));
    add_subnet_resetForTest();
}
