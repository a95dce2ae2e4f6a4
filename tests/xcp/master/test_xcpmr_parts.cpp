// Parts of the XCP master without its tasks: channel packing, byte order,
// channel time-outs, the 10 ms start control and the lists of one DAQ.
#include <cstring>

#include "xcpmr_fixture.h"

namespace {
// An instance record as xcpmr_ini builds it, without tasks: its queue is read
// by the test.
struct ManualInstance {
    XcpmrInstance h;
    explicit ManualInstance(unsigned inst, unsigned transport = 0) {
        h.instance = uint8_t(inst);
        h.transport = uint8_t(transport);
        h.queue = msgQCreate(XCPMR_QUEUE_MSGS, sizeof(XcpmrTaskMsg), MSG_Q_FIFO);
        xcpmr_handle[inst] = &h;
    }
    ~ManualInstance() {
        xcpmr_handle[h.instance] = nullptr;
        msgQDelete(h.queue);
    }
    XcpmrDaq* addDaq(unsigned r) {
        auto d = std::make_unique<XcpmrDaq>();
        d->row = uint8_t(r);
        d->inst = &h;
        d->odtCap = xcpmrCal().CfgMat_XcpMr_DAQ_ODT_NUM[r];
        EXPECT_TRUE(daq_init(&h, d.get()));
        if (d->odtsInUse) {
            d->listNo = uint16_t(h.listToDaq.size());
            h.listToDaq.push_back(uint16_t(h.daqs.size()));
        }
        h.daqs.push_back(std::move(d));
        return h.daqs.back().get();
    }
    std::vector<uint32_t> tags() {
        std::vector<uint32_t> out;
        XcpmrTaskMsg m;
        while (msgQReceive(h.queue, &m, sizeof m, NO_WAIT) > 0) out.push_back(m.tag);
        return out;
    }
};

std::vector<uint16_t> channelsOf(const XcpmrOdt& o) {
    std::vector<uint16_t> v;
    for (unsigned e = 0; e < o.entryCount; ++e) v.push_back(o.entries[e].channel);
    return v;
}
}  // namespace

class XcpMasterPartsTest : public XcpMasterTest {
protected:
    void SetUp() override {
        XcpMasterTest::SetUp();
        ASSERT_TRUE(xcpmr_data_alloc());
    }
};

TEST_F(XcpMasterPartsTest, ChannelsArePackedLargestFirstIntoTheFirstOdtWithRoom) {
    row(0, 0, 4);
    for (unsigned ch : {0u, 1u, 2u}) chan(ch, 0, 0x1000 + ch * 4, 4);
    chan(3, 0, 0x2000, 2);
    chan(4, 0, 0x2002, 2);
    chan(5, 0, 0x3000, 1);
    chan(6, 1, 0x3001, 1);   // another row
    {
        ManualInstance can(0, 1);
        XcpmrDaq* d = can.addDaq(0);
        ASSERT_EQ(d->odtsInUse, 3);   // 7 bytes a frame: one 4-byte value each
        EXPECT_EQ(channelsOf(d->odts[0]), (std::vector<uint16_t>{0, 3, 5}));
        EXPECT_EQ(channelsOf(d->odts[1]), (std::vector<uint16_t>{1, 4}));
        EXPECT_EQ(channelsOf(d->odts[2]), (std::vector<uint16_t>{2}));
        EXPECT_EQ(d->odts[0].bytesUsed, 7);
        EXPECT_EQ(d->odts[0].entries[2].offset, 6);
        EXPECT_EQ(d->odts[3].entryCount, 0);
    }
    {
        ManualInstance udp(1, 0);
        XcpmrDaq* d = udp.addDaq(0);
        EXPECT_EQ(d->odtsInUse, 1);
        EXPECT_EQ(channelsOf(d->odts[0]), (std::vector<uint16_t>{0, 1, 2, 3, 4, 5}));
    }
    // more values than the row's ODTs hold
    cal().CfgMat_XcpMr_DAQ_ODT_NUM[0] = 2;
    XcpmrInstance h;
    h.transport = 1;
    XcpmrDaq d;
    d.row = 0;
    d.odtCap = 2;
    EXPECT_FALSE(daq_init(&h, &d));
    EXPECT_TRUE(logContains(takeLogTexts(), "XCPMR: daq_add_chan: more channels in daq than possible"));
}

TEST_F(XcpMasterPartsTest, ValuesOfABigEndianSlaveReadInMemoryOrder) {
    row(0, 0, 1);
    chan(0, 0, 0, 2);
    chan(1, 0, 0, 4);
    chan(2, 0, 0, 1);
    ManualInstance m(0);
    XcpmrDaq* d = m.addDaq(0);
    // ODT order: the 4-byte value, the 2-byte value, the 1-byte value
    const uint8_t data[7] = {0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x7F};
    m.h.bigEndian = 1;
    xcpmr_store_odt(&m.h, d->odts[0], data);
    EXPECT_EQ(slot16(0), 0x1234);
    EXPECT_EQ(slot32(1), 0xDEADBEEFu);
    EXPECT_EQ(slot8(2), 0x7F);
    m.h.bigEndian = 0;
    xcpmr_store_odt(&m.h, d->odts[0], data);
    EXPECT_EQ(slot16(0), 0x3412);
    EXPECT_EQ(slot32(1), 0xEFBEADDEu);
    // the helpers of the commands
    EXPECT_EQ(adr_conv(0x11223344, 1), 0x44332211u);
    EXPECT_EQ(adr_conv(0x11223344, 0), 0x11223344u);
    EXPECT_EQ(word_conv(0xAABB1234, 1), 0x3412);
    EXPECT_EQ(word_conv(0xAABB1234, 0), 0x1234);
    EXPECT_EQ(getCanId(0x80000123u), 0x123u);
    EXPECT_EQ(getCanFormat(0x80000123u), 0xFF);
    EXPECT_EQ(getCanId(0x7FF0123u), 0x123u);
    EXPECT_EQ(getCanFormat(0x123u), 0);
}

TEST_F(XcpMasterPartsTest, ChannelGetsItsDefaultAfterItsTimeOutAndNeverWithoutOne) {
    row(0, 0, 1);
    chan(0, 0, 0, 4, 0xDEAD, 100);
    chan(1, 0, 0, 2, 0x55AA, 0xFFFFFFFF);
    chan(2, 0, 0, 1, 0x1FF, 30);
    ManualInstance m(0);
    m.addDaq(0);
    xcpmr_data_ini();
    EXPECT_EQ(slot32(0), 0xDEADu);
    EXPECT_EQ(slot16(1), 0x55AA);
    EXPECT_EQ(slot8(2), 0xFF);   // a 1-byte store of the default
    __atomic_store_n(reinterpret_cast<uint32_t*>(xcpmr_slot(0)), 7u, __ATOMIC_RELAXED);
    __atomic_store_n(reinterpret_cast<uint16_t*>(xcpmr_slot(1)), uint16_t(9), __ATOMIC_RELAXED);
    xcpmr_reset_timeout(0);
    xcpmr_reset_timeout(1);
    for (int t = 0; t < 9; ++t) xcpmr_data_10ms();
    EXPECT_EQ(slot32(0), 7u);   // 90 ms
    xcpmr_data_10ms();
    EXPECT_EQ(slot32(0), 0xDEADu);   // 100 ms after the last data
    for (int t = 0; t < 100; ++t) xcpmr_data_10ms();
    EXPECT_EQ(slot16(1), 9);
    EXPECT_EQ(xcpmr_GetAddr(classAddr(999)), xcpmr_slot(999));
    EXPECT_EQ(xcpmr_GetAddr(classAddr(1000)), nullptr);   // beyond the 1000 slots
    EXPECT_EQ(xcpmr_GetAddr(classAddr(0xFFF)), nullptr);
    xcpmr_reset_timeout(5000);   // ignored
}

TEST_F(XcpMasterPartsTest, StartWaitsForTheDelayAndTheConditionAndStopsWithoutData) {
    ManualInstance m(0);
    cal().CfgMat_XcpMr_ACTIVE[0] = 1;
    cal().CfgMat_XcpMr_STARTDELAY[0] = 3000;
    xcpmr_set_status(0, XCPMR_READY);
    gXcpmrFakeMs = 2999;
    xcpmr_10ms();
    EXPECT_TRUE(m.tags().empty());
    gXcpmrFakeMs = 3000;
    xcpmr_10ms();
    EXPECT_TRUE(m.tags().empty());   // the delay must be exceeded
    gXcpmrFakeMs = 3001;
    xcpmr_10ms();
    EXPECT_EQ(m.tags(), std::vector<uint32_t>{XT_START});

    // a 1-byte condition == 5
    cal().CfgMat_XcpMr_Cond_Op[0] = 4;
    cal().CfgMat_XcpMr_Cond_Val[0] = 5;
    m.h.condConfigured = 1;
    m.h.condSize = 1;
    m.h.condValid = 1;
    m.h.condValue = 6;
    xcpmr_10ms();
    EXPECT_TRUE(m.tags().empty());
    m.h.condValue = 5;
    xcpmr_10ms();
    EXPECT_EQ(m.tags(), std::vector<uint32_t>{XT_START});
    xcpmr_set_status(0, XCPMR_RUNNING);
    m.h.condValue = 4;
    xcpmr_10ms();
    EXPECT_EQ(m.tags(), std::vector<uint32_t>{XT_STOP});
    cal().CfgMat_XcpMr_ACTIVE[0] = 0;   // built but not started: the condition cannot start it
    m.h.condValue = 5;
    xcpmr_set_status(0, XCPMR_READY);
    xcpmr_10ms();
    EXPECT_TRUE(m.tags().empty());
    cal().CfgMat_XcpMr_ACTIVE[0] = 1;

    // running without DTOs: keep-alive every 2 s, clock resync, stop after 5 s
    xcpmr_set_status(0, XCPMR_RUNNING);
    m.h.tsUsed = 1;
    std::vector<uint32_t> tags;
    for (int t = 1; t <= 501; ++t) {
        xcpmr_10ms();
        for (uint32_t tag : m.tags()) tags.push_back(tag);
    }
    EXPECT_EQ(std::count(tags.begin(), tags.end(), XT_STOP), 1);
    EXPECT_EQ(tags.back(), XT_STOP);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), XT_KEEPALIVE), 2);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), XT_RESYNC), 3);   // at 1 s, 3 s and 5 s

    // failed: one second later it may start again
    xcpmr_set_status(0, XCPMR_FAILED);
    for (int t = 0; t < 99; ++t) xcpmr_10ms();
    EXPECT_EQ(xcpmr_get_status(0), XCPMR_FAILED);
    EXPECT_TRUE(m.tags().empty());
    xcpmr_10ms();
    EXPECT_EQ(xcpmr_get_status(0), XCPMR_STOPPED);
    EXPECT_EQ(m.tags(), std::vector<uint32_t>{XT_START});
}

TEST_F(XcpMasterPartsTest, StartComparisonIsUnsignedForPositiveSizes) {
    EXPECT_TRUE(calc_cond(0xFF, 1, 1, 2));      // 255 > 1
    EXPECT_FALSE(calc_cond(0xFF, -1, 1, 2));    // -1 > 1
    EXPECT_TRUE(calc_cond(0x1FFFF, 2, -1, 4));  // low 16 bits equal
    EXPECT_TRUE(calc_cond(-5, -4, -4, 0));
    EXPECT_FALSE(calc_cond(-5, 4, 3, 0));       // 0xFFFFFFFB < 3
    EXPECT_TRUE(calc_cond(3, 4, 3, 1));
    EXPECT_TRUE(calc_cond(3, 4, 3, 3));
    EXPECT_TRUE(calc_cond(3, 4, 4, 5));
    EXPECT_TRUE(calc_cond(0, 3, 1, 4));   // unknown size
    EXPECT_TRUE(calc_cond(0, 4, 1, 6));   // no comparison
}

TEST_F(XcpMasterPartsTest, OnlyListsOfOneDaqAreLinkedAndEachDaqTakesSixteen) {
    row(0, 0, 1);
    row(1, 0, 1);
    chan(0, 0, 0x10, 4);
    chan(1, 0, 0x14, 2);
    chan(2, 1, 0x18, 4);
    ManualInstance m(0);
    XcpmrDaq* d0 = m.addDaq(0);
    m.addDaq(1);
    void* daq = nullptr;
    const uint32_t one[] = {uint32_t(-4), classAddr(0), 0, uint32_t(-2), uint32_t(5) << 24 | classAddr(1), 0, 0};
    ASSERT_EQ(xcpmr_checkMeasList(one, sizeof one, &daq, 0), 1);
    EXPECT_EQ(daq, d0);
    uint32_t oneBe[7];
    for (int i = 0; i < 7; ++i) oneBe[i] = __builtin_bswap32(one[i]);
    EXPECT_EQ(xcpmr_checkMeasList(oneBe, sizeof oneBe, &daq, 1), 1);
    takeLogRecords();
    const uint32_t twoDaqs[] = {uint32_t(-4), classAddr(0), classAddr(2), 0, 0};
    EXPECT_EQ(xcpmr_checkMeasList(twoDaqs, sizeof twoDaqs, &daq, 0), 0);
    const uint32_t mixed[] = {uint32_t(-4), classAddr(0), 0x40000, 0, 0};
    EXPECT_EQ(xcpmr_checkMeasList(mixed, sizeof mixed, &daq, 0), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "XCPMR: mixture XCPMR and normal channel detected"));
    const uint32_t normal[] = {uint32_t(-4), 0x40000, 0, 0};
    EXPECT_EQ(xcpmr_checkMeasList(normal, sizeof normal, &daq, 0), 0);
    const uint32_t unknown[] = {uint32_t(-4), classAddr(700), 0, 0};   // a channel of no row
    EXPECT_EQ(xcpmr_checkMeasList(unknown, sizeof unknown, &daq, 0), 0);
    EXPECT_TRUE(takeLogTexts().empty());

    // 16 lists a DAQ; the measurement manager falls back to the raster copy for the 17th
    static const callback_list kNone{};
    gw_conn_t conn = gw_connect(&kNone);
    std::vector<uint32_t> lists;
    for (int i = 0; i < 17; ++i) {
        std::vector<uint32_t> desc(one, one + 7);
        uint32_t h = gw_setup_list(conn, desc.data(), nullptr, sizeof one, 3, 0, 0, 0, 0, 0, 0, 0);
        ASSERT_NE(h, 0u);
        ASSERT_EQ(gw_start_list(h), 1);
        lists.push_back(h);
    }
    for (int i = 0; i < 16; ++i) EXPECT_NE(meas_master_list_get(lists[size_t(i)]), nullptr);
    EXPECT_EQ(meas_master_list_get(lists[16]), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "xcpmr_meas: could not link daq to measlist, no free element in daq"));
    EXPECT_EQ(xcpmr_measlist_create(1, nullptr), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "invaild daq_handle"));

    // a freed slot is taken again
    gw_kill_list(lists[3]);
    for (unsigned s = 0; s < XCPMR_DAQ_LIST_SLOTS; ++s) EXPECT_NE(d0->listIds[s], lists[3]);
    xcpmr_measlist_destroy(lists[3]);
    EXPECT_TRUE(logContains(takeLogTexts(), "xcpmr_meas: could not unlink measlist, measlist not found"));
    std::vector<uint32_t> desc(one, one + 7);
    uint32_t again = gw_setup_list(conn, desc.data(), nullptr, sizeof one, 3, 0, 0, 0, 0, 0, 0, 0);
    ASSERT_EQ(gw_start_list(again), 1);
    EXPECT_NE(meas_master_list_get(again), nullptr);
    gw_disconnect(conn);
}

TEST_F(XcpMasterPartsTest, SetUpRefusesBadTransportsAndTimeStampsAndNumbersOnlyUsedLists) {
    for (unsigned i : {0u, 1u, 2u, 3u}) {
        cal().CfgMat_XcpMr_ACTIVE[i] = 0;
        cal().CfgMat_XcpMr_UDP_ADDRESS[i] = 0x7F000001;
        cal().CfgMat_XcpMr_UDP_PORT[i] = 9;
    }
    cal().CfgMat_XcpMr_TransportLayer[0] = 2;
    cal().CfgMat_XcpMr_TIMESTAMP_SIZE[1] = 3;
    cal().CfgMat_XcpMr_TIMESTAMP_TICKS[2] = 0;
    // instance 3: rows 0 and 2 have channels, row 1 between them none
    row(0, 3, 1);
    row(1, 3, 1);
    row(2, 3, 1);
    chan(0, 0, 0x100, 4);
    chan(1, 2, 0x104, 4);
    ASSERT_EQ(xcpmr_ini(), 0);
    auto log = takeLogTexts();
    EXPECT_EQ(xcpmr_get_status(0), XCPMR_SETUP_FAILED);
    EXPECT_TRUE(logContains(log, "xcpmr_handler_ini: instance 0: transport layer invalid 2"));
    EXPECT_EQ(xcpmr_get_status(1), XCPMR_SETUP_FAILED);
    EXPECT_TRUE(logContains(log, "xcpmr_handler_ini: instance 1: timestamp size invalid 3"));
    EXPECT_EQ(xcpmr_get_status(2), XCPMR_SETUP_FAILED);
    EXPECT_TRUE(logContains(log, "xcpmr_handler_ini: instance 2: timestamp ticks may not be 0"));
    EXPECT_TRUE(logContains(log, "xcpmr_handler_ini: init timestamp support"));
    EXPECT_EQ(xcpmr_get_status(3), XCPMR_READY);
    EXPECT_EQ(xcpmr_get_status(4), XCPMR_STOPPED);   // no instance
    XcpmrInstance* h = xcpmr_handle[3];
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->daqs.size(), 3u);
    EXPECT_EQ(h->nDaqOdt, 2);   // ALLOC_DAQ asks for two lists: numbered 0 and 1
    EXPECT_EQ(h->daqs[0]->listNo, 0);
    EXPECT_EQ(h->daqs[2]->listNo, 1);
    EXPECT_EQ(h->listToDaq, (std::vector<uint16_t>{0, 2}));
}
