// Lists of a master's DAQ: claimed by the master's hooks, written by it
// instead of the raster copy, paused and unlinked before their FIFO goes.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "measurement/meas_master.h"
#include "measurement/signalpage.h"
#include "meas_fixture.h"
#include "platform/byteorder.h"

namespace {
// A master whose channels are the class-28 addresses; every such list is of
// its one DAQ. refuse: the link fails (the list is then copied as usual).
struct FakeMaster {
    std::mutex mx;
    std::vector<uint32_t> linked;
    std::vector<uint32_t> unlinked;
    bool refuse = false;
    uint8_t slot[4] = {0x11, 0x22, 0x33, 0x44};
} gFake;
int gDaq;

int fakeCheck(const uint32_t* e, unsigned lenBytes, void** daq, int) {
    bool any = false;
    for (unsigned i = 0; i < lenBytes / 4; ++i) {
        int32_t w = int32_t(e[i]);
        if (w == 0 || w == -1 || w == -2 || w == -4) continue;
        if (MEASADDR_CLASS(e[i]) != MEASADDR_CLASS_XCPMR) return 0;
        any = true;
    }
    *daq = &gDaq;
    return any ? 1 : 0;
}
void fakeUnlink(uint32_t id) {
    std::lock_guard<std::mutex> lk(gFake.mx);
    gFake.unlinked.push_back(id);
    gFake.linked.erase(std::remove(gFake.linked.begin(), gFake.linked.end(), id), gFake.linked.end());
}
meas_master_unlink_fn fakeCreate(uint32_t id, void* daq) {
    if (daq != &gDaq || gFake.refuse || !meas_master_list_get(id)) return nullptr;
    std::lock_guard<std::mutex> lk(gFake.mx);
    gFake.linked.push_back(id);
    return fakeUnlink;
}
const meas_master_hooks kHooks = {fakeCheck, fakeCreate};

// What the master's DAQ task does per DAQ cycle: one slot of every linked
// list whose down-counter is due, each value its 4-byte slot.
void fakeDaqCycle(uint32_t ts) {
    std::lock_guard<std::mutex> lk(gFake.mx);
    for (uint32_t id : gFake.linked) {
        meas_master_list* l = meas_master_list_get(id);
        ASSERT_NE(l, nullptr);
        uint16_t c = l->counter;
        if (c == 0) continue;
        if (c > 1) {
            l->counter = uint16_t(c - 1);
            continue;
        }
        uint8_t* s = dynkomm_write(l->fifo);
        if (!s) continue;
        be_put32(s, ts);
        std::memcpy(s + 4, gFake.slot, 4);
        dynkomm_writedone(l->fifo);
        l->counter = l->divider.load();
    }
}

std::vector<std::vector<uint8_t>> gReads;
int onRead(unsigned long st, void* data, void*) {
    if (st == 0 && data) gReads.emplace_back(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 8);
    return 1;
}
const callback_list kCb = {{{onRead, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};

const uint8_t* fakeResolver(measaddr_t, unsigned) { return gFake.slot; }
}  // namespace

class MeasMasterTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        gFake.linked.clear();
        gFake.unlinked.clear();
        gFake.refuse = false;
        gReads.clear();
        ASSERT_EQ(meas_man_set_master_hooks(MEAS_MASTER_XCP, &kHooks), 1);
        seramSetSlotResolver(MEASADDR_CLASS_XCPMR, fakeResolver);
        conn_ = gw_connect(&kCb);
    }
    void TearDown() override {
        gw_disconnect(conn_);
        meas_man_set_master_hooks(MEAS_MASTER_XCP, nullptr);
        seramSetSlotResolver(MEASADDR_CLASS_XCPMR, nullptr);
        MeasTest::TearDown();
    }
    gw_conn_t conn_ = nullptr;
    const uint32_t chan_ = (uint32_t(MEASADDR_CLASS_XCPMR) << 18) | 7;
};

TEST_F(MeasMasterTest, LocalListOfOneDaqIsWrittenByTheMasterPausedAndUnlinkedOnKill) {
    EXPECT_EQ(meas_man_set_master_hooks(MEAS_MASTER_COUNT, &kHooks), 0);
    std::vector<uint32_t> list = {uint32_t(GW_SIZE4), chan_, 0, 0};
    uint32_t h = gw_setup_list(conn_, list.data(), nullptr, 16, 3, 0, 0, 0, 1, 4, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(gw_start_list(h), 1);
    ASSERT_EQ(gFake.linked.size(), 1u);
    EXPECT_EQ(gFake.linked[0], h);
    meas_master_list* rec = meas_master_list_get(h);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->elems, list);

    meas_man_copy_raster(3, 1);   // the raster copy leaves the list alone
    gw_distribute(3);
    EXPECT_TRUE(gReads.empty());
    fakeDaqCycle(4242);
    gw_distribute(3);
    ASSERT_EQ(gReads.size(), 1u);
    EXPECT_EQ(be_get32(gReads[0].data()), 4242u);
    EXPECT_EQ(be_get32(gReads[0].data() + 4), 0x11223344u);

    ASSERT_EQ(gw_list_speed(conn_, h, 0), 1);   // paused: the master writes nothing
    fakeDaqCycle(4243);
    gw_distribute(3);
    EXPECT_EQ(gReads.size(), 1u);
    ASSERT_EQ(gw_list_speed(conn_, h, 1), 1);
    fakeDaqCycle(4244);
    gw_distribute(3);
    EXPECT_EQ(gReads.size(), 2u);

    ASSERT_EQ(gw_kill_list(h), 1);
    ASSERT_EQ(gFake.unlinked.size(), 1u);
    EXPECT_EQ(gFake.unlinked[0], h);
    EXPECT_EQ(meas_master_list_get(h), nullptr);
}

TEST_F(MeasMasterTest, MixedOrRefusedListsAreCopiedOnTheirRaster) {
    signalPage()->meas_cnt_ecu = 0x01020304;
    uint32_t other = catalogue_addr("meas_cnt_ecu");
    std::vector<uint32_t> mixed = {uint32_t(GW_SIZE4), chan_, other, 0, 0};
    uint32_t h = gw_setup_list(conn_, mixed.data(), nullptr, 20, 3, 0, 0, 0, 1, 4, 0, 0);
    ASSERT_EQ(gw_start_list(h), 1);
    EXPECT_TRUE(gFake.linked.empty());
    EXPECT_EQ(meas_master_list_get(h), nullptr);

    gFake.refuse = true;
    std::vector<uint32_t> own = {uint32_t(GW_SIZE4), chan_, 0, 0};
    uint32_t h2 = gw_setup_list(conn_, own.data(), nullptr, 16, 3, 0, 0, 0, 1, 4, 0, 0);
    ASSERT_EQ(gw_start_list(h2), 1);
    EXPECT_EQ(meas_master_list_get(h2), nullptr);

    meas_man_copy_raster(3, 9);
    gw_distribute(3);
    ASSERT_EQ(gReads.size(), 2u);   // both through the slot resolver
    for (auto& r : gReads) EXPECT_EQ(be_get32(r.data()), 9u);
    uint32_t v;
    std::memcpy(&v, gFake.slot, 4);
    EXPECT_EQ(be_get32(gReads[1].data() + 4), v);
}

TEST_F(MeasMasterTest, ListServedToAnotherDeviceIsLinkedAndUnlinkedOnStop) {
    ci_msg_t req;
    ci_init_msg(&req, CI_CMD_MEASLIST_ADDR, kOwnPid, 12 + 16);
    ci_set_src(&req, 9);
    ci_set_magic(&req, 0x55000002);
    be_put16(req.payload + 0, 1);
    be_put16(req.payload + 2, 3);
    be_put16(req.payload + 4, 8);
    be_put16(req.payload + 6, DYNKOMM_MODE_QUEUE);
    be_put16(req.payload + 8, 4);
    // the requesting device names the values with this device's PID
    uint32_t words[4] = {uint32_t(GW_SIZE2), (uint32_t(kOwnPid) << 24) | chan_, 0, 0};
    for (int i = 0; i < 4; ++i) be_put32(req.payload + 12 + 4 * i, words[i]);
    ASSERT_EQ(ci_serve_command(&req), 1);
    ASSERT_EQ(gFake.linked.size(), 1u);
    meas_master_list* rec = meas_master_list_get(gFake.linked[0]);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->elems, std::vector<uint32_t>(words, words + 4));
    EXPECT_EQ(rec->fifo->dest_magic, 0x55000002u);

    be_put16(req.payload + 0, 2);   // stop
    ASSERT_EQ(ci_serve_command(&req), 1);
    EXPECT_TRUE(gFake.linked.empty());
    EXPECT_EQ(gFake.unlinked.size(), 1u);
}
