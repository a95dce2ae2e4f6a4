// What the gateway asks the device network before it requests a list of
// another device, and how it requests it: by names when the peer takes them,
// else by addresses; nothing while the channels are down.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "host/device_fixture.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/seram.h"
#include "platform/byteorder.h"

namespace {
constexpr uint16_t kOwn = 5, kPeer = 9;

std::mutex gMx;
std::vector<ci_msg_t> gSent;
bool gConnected = true;
int gCapability[3] = {0, 0, 0};

int capture(const ci_msg_t* m) {
    std::lock_guard<std::mutex> lk(gMx);
    gSent.push_back(*m);
    return 1;
}
const comint_transport kCapture = {capture, capture};
bool connected(unsigned) { return gConnected; }
int capability(unsigned, unsigned cap) { return cap < 3 ? gCapability[cap] : 1; }
const gw_network kNet = {connected, capability};

std::vector<std::string> names(const ci_msg_t& m) {
    std::vector<std::string> out;
    const unsigned len = ci_get_len(&m);
    for (unsigned pos = 12; pos < len;) {
        ++pos;   // size byte
        std::string n(reinterpret_cast<const char*>(m.payload + pos));
        pos += unsigned(n.size()) + 1;
        out.push_back(n);
    }
    return out;
}
}  // namespace

class GatewayRequestTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        dynkomm_init(0x77);
        ASSERT_EQ(seram_init(), 1);
        ASSERT_EQ(catalogue_init(), 1);
        comint_set_own_pid(kOwn);
        routing_init(kOwn);
        routing_entry_t e{ROUTING_DIRADIR2, 0x0A000009};
        routing_set_table_entries(&e, kPeer, kPeer);
        ASSERT_EQ(gw_init(kOwn), 1);
        comint_set_transport(&kCapture);
        gw_set_network(&kNet);
        gSent.clear();
        gConnected = true;
        static const callback_list cb = {{{nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
        conn = gw_connect(&cb);
    }
    void TearDown() override {
        gw_shutdown();
        gw_set_network(nullptr);
        comint_set_transport(nullptr);
        seram_shutdown();
        DeviceFolderTest::TearDown();
    }
    uint32_t start(std::vector<const char*> vars) {
        std::vector<uint32_t> d{uint32_t(GW_SIZE4)};
        for (const char* v : vars) d.push_back(catalogue_addr(v));
        d.push_back(0);
        d.push_back(0);
        uint32_t l = gw_setup_list(conn, d.data(), nullptr, uint16_t(4 * d.size()), 3, kPeer, 0, 1, 0, 0, 0, 0);
        gw_start_list(l);
        return l;
    }
    ci_msg_t last() {
        std::lock_guard<std::mutex> lk(gMx);
        return gSent.back();
    }
    gw_conn_t conn = nullptr;
};

TEST_F(GatewayRequestTest, ByNamesWhereThePeerTakesThem) {
    start({"stim_tick", "meas_man_data_loss"});
    ASSERT_EQ(gSent.size(), 1u);
    ci_msg_t m = last();
    EXPECT_EQ(ci_get_cmd(&m), CI_CMD_MEASLIST_NAMES);
    EXPECT_EQ(be_get16(m.payload + 8), 2);
    EXPECT_EQ(names(m), (std::vector<std::string>{"stim_tick", "meas_man_data_loss"}));
    EXPECT_EQ(int8_t(m.payload[12]), -4);

    // one value needs capability 1 only; more values capability 2 as well
    gCapability[2] = 1;
    start({"stim_tick"});
    EXPECT_EQ(ci_get_cmd(&gSent.back()), CI_CMD_MEASLIST_NAMES);
    uint32_t l = start({"stim_tick", "meas_man_data_loss"});
    m = last();
    EXPECT_EQ(ci_get_cmd(&m), CI_CMD_MEASLIST_ADDR);
    EXPECT_EQ(be_get32(m.payload + 16), catalogue_addr("stim_tick"));
    // the stop goes the way the start went
    gw_kill_list(l);
    m = last();
    EXPECT_EQ(ci_get_cmd(&m), CI_CMD_MEASLIST_ADDR);
    EXPECT_EQ(be_get16(m.payload), 2);

    gCapability[1] = 1;
    start({"stim_tick"});
    EXPECT_EQ(ci_get_cmd(&gSent.back()), CI_CMD_MEASLIST_ADDR);
}

// Every request names the asking unit after its list, by names or by
// addresses, so that the serving device tells its runs from another unit's.
TEST_F(GatewayRequestTest, RequestsNameTheAskingUnitAfterTheirList) {
    const int was[3] = {gCapability[0], gCapability[1], gCapability[2]};
    gCapability[0] = gCapability[1] = gCapability[2] = 0;
    gw_set_own_unit(0xCAFEF00D, 65);
    auto tail = [](const ci_msg_t& m, uint32_t* unit, uint32_t* boot) {
        const unsigned len = ci_get_len(&m);
        *unit = be_get32(m.payload + len - 8);
        *boot = be_get32(m.payload + len - 4);
        return be_get16(m.payload + MEAS_REQ_UNIT_WORD);
    };
    uint32_t unit = 0, boot = 0;
    start({"stim_tick", "meas_man_data_loss"});
    ci_msg_t m = last();
    ASSERT_EQ(ci_get_cmd(&m), CI_CMD_MEASLIST_NAMES);
    EXPECT_EQ(tail(m, &unit, &boot), MEAS_REQ_UNIT_SIZE);
    EXPECT_EQ(unit, 0xCAFEF00Du);
    EXPECT_EQ(boot, 65u);
    const auto listed = names(m);   // the two names, then the tail
    ASSERT_GE(listed.size(), 2u);
    EXPECT_EQ(listed[0], "stim_tick");
    EXPECT_EQ(listed[1], "meas_man_data_loss");
    gCapability[1] = 1;
    start({"stim_tick"});
    m = last();
    ASSERT_EQ(ci_get_cmd(&m), CI_CMD_MEASLIST_ADDR);
    EXPECT_EQ(ci_get_len(&m), 12u + 4u * 4u + MEAS_REQ_UNIT_SIZE);
    EXPECT_EQ(tail(m, &unit, &boot), MEAS_REQ_UNIT_SIZE);
    EXPECT_EQ(unit, 0xCAFEF00Du);
    gw_set_own_unit(0, 0);
    for (int i = 0; i < 3; ++i) gCapability[i] = was[i];
}

TEST_F(GatewayRequestTest, NothingIsRequestedWhileTheChannelsAreDown) {
    gConnected = false;
    start({"stim_tick"});
    EXPECT_TRUE(gSent.empty());
    EXPECT_EQ(gw_pid_offline(kPeer), 1);
}
