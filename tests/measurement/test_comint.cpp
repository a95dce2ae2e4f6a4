// Command interface: header layout, dispatch, the command task with the bounce
// commands, sending by route, and the routing table.
#include <atomic>
#include <cstring>
#include <thread>

#include "host/os/os.h"
#include "meas_fixture.h"

namespace {
std::atomic<int> gServed{0};
std::atomic<uint16_t> gServedDst{0};
int countHandler(ci_msg_t* m) {
    gServedDst = ci_get_dst(m);
    ++gServed;
    return 1;
}

std::atomic<int> gCompleted{0};
std::atomic<uint32_t> gCompletedPayload{0};
void onBounce(void* ctx, ci_msg_t* m) {
    gCompletedPayload = be_get32(m->payload);
    gCompleted = int(reinterpret_cast<intptr_t>(ctx));
}

template <class Pred>
bool waitFor(Pred p) {
    for (int i = 0; i < 2000 && !p(); ++i) taskDelay(1);
    return p();
}
}  // namespace

using ComintTest = MeasTest;

TEST_F(ComintTest, HeaderFieldsAreBigEndianAtTheirOffsets) {
    ci_msg_t m;
    ci_init_msg(&m, 0x1234, CI_PID_ALL, 7);
    ci_set_magic(&m, 0xA1B2C3D4);
    ci_set_listid(&m, 0x01020304);
    const uint8_t expect[20] = {0, 0, 0, 7, 0, kOwnPid, 0xFF, 0xFE, 0xA1, 0xB2,
                                0xC3, 0xD4, 1, 2, 3, 4, 0x12, 0x34, 0, 0};
    EXPECT_EQ(std::memcmp(m.hdr, expect, 20), 0);
    EXPECT_EQ(offsetof(ci_msg_t, payload), 20u);
}

TEST_F(ComintTest, DispatchByCodeAndUnknownCode) {
    gServed = 0;
    ci_register_command(0x7001, countHandler);
    ci_msg_t m;
    ci_init_msg(&m, 0x7001, kOwnPid, 0);
    EXPECT_EQ(ci_serve_command(&m), 1);
    EXPECT_EQ(gServed.load(), 1);
    ci_set_cmd(&m, 0x7002);
    EXPECT_EQ(ci_serve_command(&m), 0);
    EXPECT_EQ(ci_serve_command(nullptr), 0);
}

TEST_F(ComintTest, CommandTaskServesLocalAndAllDevicesAndBounceReturns) {
    ASSERT_EQ(comint_init(), 1);
    gServed = 0;
    ci_register_command(0x7001, countHandler);
    ci_msg_t m;
    ci_init_msg(&m, 0x7001, CI_PID_ALL, 4);
    EXPECT_NE(comint_put_cmd(&m, 0), 0);   // no other devices: only the local copy
    EXPECT_TRUE(waitFor([] { return gServed == 1; }));
    EXPECT_EQ(gServedDst.load(), kOwnPid);

    // bounce to ourselves: 0x0105 comes back as 0x0106 and calls the handle
    gCompleted = 0;
    uint32_t h = ci_completion_register(onBounce, reinterpret_cast<void*>(intptr_t(3)));
    ASSERT_NE(h, 0u);
    ci_init_msg(&m, CI_CMD_BOUNCE, kOwnPid, 4);
    ci_set_magic(&m, h);
    be_put32(m.payload, 0xFEEDF00D);
    EXPECT_NE(comint_put_cmd(&m, 1), 0);
    EXPECT_TRUE(waitFor([] { return gCompleted == 3; }));
    EXPECT_EQ(gCompletedPayload.load(), 0xFEEDF00Du);
    EXPECT_EQ(ci_completion_call(h, &m), 0);   // one-shot
    comint_shutdown();
}

std::atomic<int> gEthSent{0};
std::atomic<uint16_t> gEthDst{0};
ci_msg_t gEthLast;
int fakeEth(const ci_msg_t* m) {
    gEthDst = ci_get_dst(m);
    std::memcpy(&gEthLast, m, CI_HEADER_SIZE + ci_get_len(m));
    ++gEthSent;
    return 1;
}
int gStarted = 0;
int countStart(dynkomm_fifo_t*) {
    ++gStarted;
    return 1;
}

TEST_F(ComintTest, SerialNetworkPathRequestAndReplyLayout) {
    static const comint_transport eth{fakeEth, nullptr};
    comint_set_transport(&eth);
    routing_entry_t net{ROUTING_DIRADIR2, 0x7F000002};
    ASSERT_EQ(routing_set_table_entries(&net, 9, 9), 1);
    uint32_t magic = dynkomm_get_magic();
    dynkomm_fifo_prepare(magic);
    dynkomm_fifo_t* f = dynkomm_fifo_create(magic, kOwnPid, 0, 9, 3, 64, 10, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(dynkomm_open_serial_network_path(f, 0x11223344), 1);

    const uint8_t* p = gEthLast.payload;
    EXPECT_EQ(ci_get_cmd(&gEthLast), 0x0300);
    EXPECT_EQ(ci_get_len(&gEthLast), 20);
    EXPECT_EQ(ci_get_magic(&gEthLast), magic);
    EXPECT_EQ(be_get16(p + 0), kOwnPid);
    EXPECT_EQ(be_get16(p + 2), 9);
    EXPECT_EQ(be_get16(p + 4), 3);            // raster
    EXPECT_EQ(be_get16(p + 6), 10);           // slot size
    EXPECT_EQ(be_get32(p + 8), 0x11223344u);  // requester's value
    EXPECT_EQ(be_get16(p + 12), 64);          // slot count
    EXPECT_EQ(be_get16(p + 14), 1);           // mode

    // The sink's reply: value, sink magic, sink handle, sink PID.
    dynkomm_sernet_hooks hooks{};
    hooks.start_sending = countStart;
    dynkomm_set_sernet_hooks(&hooks);
    gStarted = 0;
    ci_msg_t r;
    ci_init_msg(&r, CI_CMD_RETURN_FUNC, kOwnPid, 16);
    be_put32(r.payload + 0, 0x11223344);
    be_put32(r.payload + 4, 0xCAFE0001);
    be_put32(r.payload + 8, 0x77);
    be_put16(r.payload + 12, 9);
    be_put16(r.payload + 14, 0);
    EXPECT_EQ(ci_completion_call(ci_get_listid(&gEthLast), &r), 1);
    EXPECT_EQ(f->dest_magic, 0xCAFE0001u);
    EXPECT_EQ(f->dst_pid, 9);
    EXPECT_EQ(gStarted, 1);
    dynkomm_set_sernet_hooks(nullptr);

    // Closing sends the sink's magic and both PIDs and releases the source.
    ASSERT_EQ(dynkomm_close_SerNet_path(f), 1);
    EXPECT_EQ(ci_get_cmd(&gEthLast), 0x0301);
    EXPECT_EQ(be_get32(gEthLast.payload), 0xCAFE0001u);
    EXPECT_EQ(be_get16(gEthLast.payload + 4), kOwnPid);
    EXPECT_EQ(be_get16(gEthLast.payload + 6), 9);
    EXPECT_EQ(dynkomm_get_fifo(magic, nullptr), 2);
    comint_set_transport(nullptr);
}

TEST_F(ComintTest, QueuedForAllDevicesGoesOutAndIsServedHere) {
    static const comint_transport eth{fakeEth, nullptr};
    comint_set_transport(&eth);
    ASSERT_EQ(comint_init(), 1);
    gServed = 0;
    gEthSent = 0;
    ci_register_command(0x7001, countHandler);
    ci_msg_t m;
    ci_init_msg(&m, 0x7001, CI_PID_ALL, 4);
    EXPECT_NE(comint_put_cmd(&m, 1), 0);   // queued for the command task
    EXPECT_TRUE(waitFor([] { return gServed == 1; }));
    EXPECT_EQ(gEthSent.load(), 1);
    EXPECT_EQ(gEthDst.load(), CI_PID_ALL);
    EXPECT_EQ(gServedDst.load(), kOwnPid);

    // A foreign PID routed as "this device" is refused, not queued round again.
    routing_entry_t self{ROUTING_SELF, 0x7F000001};
    ASSERT_EQ(routing_set_table_entries(&self, 12, 12), 1);
    ci_init_msg(&m, 0x7001, 12, 0);
    EXPECT_EQ(comint_put_cmd(&m, 0), 0);
    comint_shutdown();
    comint_set_transport(nullptr);
}

TEST_F(ComintTest, SendingByRouteAndRefusedMessages) {
    ci_msg_t m;
    ci_init_msg(&m, 0x7001, 12, 0);
    EXPECT_EQ(comint_put_cmd(&m, 0), 0);   // PID 12 has no route
    routing_entry_t sock{ROUTING_LOCSOCK, 0x7F000001};
    ASSERT_EQ(routing_set_table_entries(&sock, 10, 13), 1);
    EXPECT_EQ(comint_put_cmd(&m, 0), 0);   // no local socket transport
    ci_set_len(&m, CI_MAX_PAYLOAD + 1);
    EXPECT_EQ(comint_queue_cmd(&m), 0);
    EXPECT_EQ(comint_put_cmd(&m, 1), 0);
    EXPECT_EQ(comint_put_cmd(nullptr, 1), 0);
}

TEST_F(ComintTest, RoutingTableRanges) {
    EXPECT_EQ(routing_get_next(kOwnPid).kind, ROUTING_SELF);
    EXPECT_EQ(routing_get_next(64).kind, ROUTING_ILLEGAL);
    routing_entry_t e{ROUTING_DIRADIR2, 0x0A000001};
    EXPECT_EQ(routing_set_table_entries(&e, 20, 10), 0);
    EXPECT_EQ(routing_set_table_entries(&e, 60, 64), 0);
    EXPECT_EQ(routing_set_table_entries(nullptr, 1, 2), 0);
    EXPECT_EQ(routing_set_table_entries(&e, 0, 63), 1);
    EXPECT_EQ(routing_get_next(0).ip, 0x0A000001u);
    EXPECT_EQ(routing_get_next(63).kind, ROUTING_DIRADIR2);
}
