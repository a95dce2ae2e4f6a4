// CCP master set-up: ODT byte layout, start-up failures, start comparisons
// and which measurement lists the master links to a DAQ list.
#include "can/ccpmaster/ccp_fixture.h"

namespace {

TEST_F(CcpTest, ChannelsFillOdtsBigValuesFirst) {
    instance(0, 0, 0x700, 0x701, 1);
    instance(1, 1, 0x600, 0x601, 1, /*big*/ true);
    daq(0, 0, 0, 2, 0x710);
    daq(1, 1, 0, 2, 0x610);
    // channel order 1, 4, 2, 1 bytes: the ODTs take 4, 2, 1 and then the last 1
    const uint8_t sizes[4] = {1, 4, 2, 1};
    for (unsigned c = 0; c < 4; ++c) {
        chan(c, 0, sizes[c], 0x100 + c);
        chan(10 + c, 1, sizes[c], 0x200 + c);
    }
    start();
    const CcpDaqList* intel = ccpmr_daqByIndex[0];
    const CcpDaqList* motorola = ccpmr_daqByIndex[1];
    ASSERT_NE(intel, nullptr);
    ASSERT_NE(motorola, nullptr);
    EXPECT_EQ(intel->odtUsedCfg, 2);
    const CcpOdt& o0 = intel->odt[0];
    ASSERT_EQ(o0.used, 7);
    ASSERT_EQ(o0.nchan, 3);
    EXPECT_EQ(o0.chan[0], 1);
    EXPECT_EQ(o0.chan[1], 2);
    EXPECT_EQ(o0.chan[2], 0);
    EXPECT_EQ(intel->odt[1].used, 1);
    EXPECT_EQ(intel->odt[1].chan[0], 3);
    // Intel: least significant byte first; Motorola: most significant first
    const uint8_t* s1 = ccpmr_GetAddr(1);
    const uint8_t* s11 = ccpmr_GetAddr(11);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(o0.dest[b], s1 + b);
        EXPECT_EQ(motorola->odt[0].dest[b], s11 + 3 - b);
    }
    EXPECT_EQ(o0.dest[4], ccpmr_GetAddr(2));
    EXPECT_EQ(motorola->odt[0].dest[4], ccpmr_GetAddr(12) + 1);
    EXPECT_EQ(ccpmr_getStatus(0), CCPMR_ST_STOPPED);
    EXPECT_EQ(signalPage()->ccpmr_status[1], CCPMR_ST_STOPPED);
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: starting instance 1, 1 DAQs."));
}

TEST_F(CcpTest, StartUpFailures) {
    // more channels than the reserved ODTs hold
    instance(0, 0, 0x700, 0x701, 1);
    daq(0, 0, 0, 1, 0x710);
    chan(0, 0, 4, 0x100);
    chan(1, 0, 4, 0x104);
    EXPECT_EQ(ccpmr_ini(), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: more channels in daq than possible"));
    ccpmr_shutdown();

    // an interface the board does not have
    cal()->CfgMat_CcpMr_DAQ_ODT_NUM[0] = 2;
    cal()->CfgMat_CcpMr_CANINT[0] = 7;
    EXPECT_EQ(ccpmr_ini(), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: cannot bind CCP CAN-ID(TX) ccp master"));
    ccpmr_shutdown();

    // a channel number beyond the slots has no value slot
    EXPECT_EQ(ccpmr_GetAddr(ccpAddr(199)), reinterpret_cast<const uint8_t*>(&ccpmr_measdata[199]));
    EXPECT_EQ(ccpmr_GetAddr(ccpAddr(200)), nullptr);
    EXPECT_EQ(ccpmr_GetAddr(ccpAddr(0xFFF)), nullptr);
    SeramMeasHandle h;
    EXPECT_EQ(seramMeasSetupMeas(ccpAddr(250), 3, &h, 4), 0);
}

TEST_F(CcpTest, ComparisonsByWidthAndSign) {
    EXPECT_TRUE(calc_cond(0xFFFFFFFF, 4, 1, 2));     // unsigned: 4294967295 > 1
    EXPECT_FALSE(calc_cond(0xFFFFFFFF, -4, 1, 2));   // signed: -1 > 1 is false
    EXPECT_TRUE(calc_cond(0x1FF, 1, 0xFF, 4));       // only the low byte counts
    EXPECT_TRUE(calc_cond(0x8000, 2, 0x7FFF, 3));
    EXPECT_TRUE(calc_cond(0x8000, -2, 0x7FFF, 0));   // -32768 < 32767
    EXPECT_TRUE(calc_cond(0x80, -1, 0, 1));
    EXPECT_TRUE(calc_cond(5, 4, 6, 5));
    EXPECT_FALSE(calc_cond(6, 4, 6, 5));
    EXPECT_TRUE(calc_cond(0, 3, 9, 4));              // unknown size
    EXPECT_TRUE(calc_cond(0, 4, 9, 6));              // operation 6 and above
}

TEST_F(CcpTest, OnlyListsOfOneDaqAreLinked) {
    instance(0, 0, 0x700, 0x701, 1);
    daq(0, 0, 0, 2, 0x710);
    daq(1, 0, 1, 2, 0x711);
    chan(0, 0, 4, 0x100);
    chan(1, 0, 2, 0x104);
    chan(2, 1, 1, 0x106);
    start();
    takeLogTexts();
    void* d = nullptr;
    auto check = [&](std::vector<uint32_t> w, int swap = 0) {
        return ccpmr_checkMeasList(w.data(), unsigned(w.size() * 4), &d, swap);
    };
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(0), 0, uint32_t(-2), ccpAddr(1), 0, 0}), 1);
    EXPECT_EQ(d, ccpmr_daqByIndex[0]);
    // the calibration memory and a CCP channel
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(0), 0x40010, 0, 0}), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CCPMR: mixture CCPMR and normal channel detected"));
    // no CCP channel: silently not ours
    EXPECT_EQ(check({uint32_t(-4), 0x40010, 0, 0}), 0);
    EXPECT_TRUE(takeLogTexts().empty());
    // channels of two DAQ lists, channels beyond the slots
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(0), 0, uint32_t(-1), ccpAddr(2), 0, 0}), 0);
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(0), ccpAddr(4000), 0, 0}), 0);
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(4000), 0, 0}), 0);
    // a channel of no instance
    EXPECT_EQ(check({uint32_t(-4), ccpAddr(50), 0, 0}), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "ccpmr_meas: ccpmr not initialized"));
    // a description in network byte order
    EXPECT_EQ(check({__builtin_bswap32(uint32_t(-1)), __builtin_bswap32(ccpAddr(2)), 0, 0}, 1), 1);
    EXPECT_EQ(d, ccpmr_daqByIndex[1]);
    EXPECT_EQ(ccpmr_measlist_create(1, nullptr), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "ccpmr_meas: no daq handle"));

    // 16 lists per DAQ list: the 17th is copied on its raster instead
    std::vector<SlotConsumer> lists(17);
    for (auto& c : lists) ASSERT_NE(c.subscribe({uint32_t(-4), ccpAddr(0), 0, 0}, 8), 0u);
    EXPECT_TRUE(logContains(takeLogTexts(), "ccpmr_meas: could not link daq to measlist, no free element in daq"));
    int linked = 0;
    for (const auto& l : ccpmr_daqByIndex[0]->lists) linked += l != nullptr;
    EXPECT_EQ(linked, 16);
    // the raster copy reads the slot through the calibration memory's handle
    ccpmr_measdata[0] = 0x01020304;
    runUntil([&] { return !lists[16].slots.empty(); }, 200);
    ASSERT_FALSE(lists[16].slots.empty());
    EXPECT_EQ(be_get32(lists[16].slots.back().data() + 4), 0x01020304u);
    EXPECT_TRUE(lists[0].slots.empty());   // linked lists wait for their DAQ cycle
    for (auto& c : lists) gw_disconnect(c.conn);
    for (const auto& l : ccpmr_daqByIndex[0]->lists) EXPECT_EQ(l, nullptr);
}

}  // namespace
