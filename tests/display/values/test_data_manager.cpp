// Placement of sources on shared holders and lists, the requests the lists
// send, decoding of data slots, conversion, and the no-data statistics.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "display/config/display_config.h"
#include "display/values/cdata.h"
#include "host/device_fixture.h"
#include "measurement/gateway.h"
#include "platform/byteorder.h"

namespace {

awm_meas_in Input(uint32_t adr, uint16_t type, uint32_t mask = 0xFFFFFFFF) {
    awm_meas_in in{};
    XmlInitChInput(&in);
    in.adr = adr;
    in.type = type;
    in.mask = mask;
    in.quant_b = in.quant_f = 1;   // shown value = raw value
    return in;
}

display_elem_s BoxOn(uint32_t adr, uint16_t type, float b = 1.0f) {
    display_elem_s e{};
    XmlInitAlphaNumeric(&e);
    e.alphanum.dispmode = DISP_NORMAL;
    e.alphanum.ch_in = Input(adr, type);
    e.alphanum.ch_in.quant_b = b;
    return e;
}

// The manager alone: lists are driven by hand, not through the gateway.
class DataManager : public DeviceFolderTest {
protected:
    CDataManager m;
};

TEST_F(DataManager, EqualChannelsShareOneHolderConvertedWithTheFirstCoefficients) {
    display_elem_s a = BoxOn(0x05000010, TE_FLOAT, 2.0f), b = BoxOn(0x05000010, TE_FLOAT, 3.0f);
    CData* da = m.addData(&a, 4, CDATA_VALUE);
    CData* db = m.addData(&b, 4, CDATA_VALUE);
    ASSERT_NE(da, nullptr);
    EXPECT_EQ(da->getMeas(), db->getMeas());
    EXPECT_EQ(m.listCount(), 1);
    uint8_t v[4];
    be_putf(v, 10.0f);
    da->getMeas()->putData(v);
    double x = 0, y = 0;
    db->updateData();
    da->getQuantData(x);
    db->getQuantData(y);
    EXPECT_EQ(x, 20.0);
    EXPECT_EQ(y, 20.0);

    // A visibility source of the same channel, and bar graphs, never share.
    display_elem_s vis = BoxOn(0, TE_NONE);
    vis.alphanum.vis_mode = VIS_LIMIT;
    vis.alphanum.vis_in = Input(0x05000010, TE_FLOAT);
    CData* dv = m.addData(&vis, 4, CDATA_VISIBILITY);
    ASSERT_NE(dv, nullptr);
    EXPECT_EQ(dv->dispMode, CDATA_MODE_VISIBILITY);
    EXPECT_NE(dv->getMeas(), da->getMeas());
    EXPECT_EQ(m.addData(&vis, 4, CDATA_VALUE), nullptr);   // no ChInput
    display_elem_s bar{};
    XmlInitBarGraph(&bar);
    bar.bargraph.ch_in = Input(0x05000010, TE_FLOAT);
    CData* b1 = m.addData(&bar, 4, CDATA_VALUE);
    CData* b2 = m.addData(&bar, 4, CDATA_VALUE);
    EXPECT_NE(b1->getMeas(), b2->getMeas());
    EXPECT_EQ(b1->a, 0.0f);
}

TEST_F(DataManager, RequestsGroupAddressesByWidthWithoutTheDevice) {
    std::vector<display_elem_s> e = {BoxOn(0x07000100, TE_UINT8), BoxOn(0x07000200, TE_FLOAT),
                                     BoxOn(0x07000300, TE_SINT16), BoxOn(0x07000400, TE_SINT32),
                                     BoxOn(0x07000500, TE_BOOL)};
    for (auto& el : e) m.addData(&el, 4, CDATA_VALUE);
    m.addData(new CData(&e[0].alphanum.ch_in), 6);   // same channel, another raster and kind
    m.createMeaslists();
    CDataList* l = m.firstList();
    ASSERT_NE(l, nullptr);
    ASSERT_NE(l->next, nullptr);
    CDataList* r4 = l->raster == 4 ? l : l->next;
    EXPECT_EQ(r4->deviceId, 7);
    EXPECT_EQ(r4->slotSize, 4 + 2 * 4 + 2 + 2);
    const std::vector<uint32_t> want = {uint32_t(-4), 0x400, 0x200, 0, uint32_t(-2), 0x300, 0,
                                        uint32_t(-1), 0x500, 0x100, 0, 0};
    ASSERT_EQ(r4->requestSize, want.size() * 4);
    EXPECT_EQ(std::vector<uint32_t>(r4->request, r4->request + want.size()), want);
    EXPECT_EQ(gw_list_slot_size(r4->request, r4->requestSize), r4->slotSize);
}

TEST_F(DataManager, ListsFillToTheirWordLimitThenANewOneOpens) {
    std::vector<display_elem_s> e;
    for (uint32_t i = 0; i < 113; ++i) e.push_back(BoxOn(0x09000000 + 4 * i, TE_FLOAT));
    for (auto& el : e) m.addData(&el, 4, CDATA_VALUE);
    ASSERT_EQ(m.listCount(), 1);
    EXPECT_EQ(m.firstList()->requestSize, 115);   // -4, 113 addresses, 0
    display_elem_s wide = BoxOn(0x09100000, TE_UINT16);
    m.addData(&wide, 4, CDATA_VALUE);   // 115 words: a new group still fits
    EXPECT_EQ(m.listCount(), 1);
    EXPECT_EQ(m.firstList()->requestSize, 118);
    display_elem_s more = BoxOn(0x09200000, TE_FLOAT);
    m.addData(&more, 4, CDATA_VALUE);
    EXPECT_EQ(m.listCount(), 2);
    m.createMeaslists();
    for (CDataList* l = m.firstList(); l; l = l->next) EXPECT_LE(l->requestSize, 480);
}

TEST_F(DataManager, SlotValuesAreDecodedByTypeMaskAndShift) {
    struct Case {
        uint16_t type;
        uint32_t mask;
        std::vector<uint8_t> bytes;
        double want;
    } cases[] = {{TE_SINT16, 0xFFFFFFFF, {0x01, 0x02}, 258},       {TE_SINT16, 0xFFFFFFFF, {0xFF, 0xFE}, -2},
                 {TE_UINT16, 0x00F0, {0x12, 0x34}, 3},             {TE_SINT16, 0x00F0, {0x12, 0x34}, 0x123},
                 {TE_SINT8, 0xFFFFFFFF, {0x80}, -128},             {TE_UINT32, 0, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
                 {TE_SINT32, 0xFFFFFFFF, {0x80, 0, 0, 0}, -2147483648.0}, {TE_BOOL, 0xFFFFFFFF, {0x01}, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const awm_meas_in in = Input(0x05000010, c.type, c.mask);
        CData src(&in);
        CDataMeas h(&src);
        h.putData(c.bytes.data());
        h.updateData();
        double v = 0;
        h.getQuantData(v);
        EXPECT_EQ(v, c.want);
    }
    const awm_meas_in none = Input(0x05000010, 99);
    CData odd(&none);
    EXPECT_EQ(odd.elemType, 255u);
    EXPECT_EQ(odd.getMeasUpdateState(), false);   // no holder: nothing
    double keep = 7;
    odd.getQuantData(keep);
    EXPECT_EQ(keep, 7);
}

TEST_F(DataManager, FloatValuesReachIntegerFormsOnlyInRange) {
    const awm_meas_in in = Input(0x05000010, TE_FLOAT);
    CData src(&in);
    CDataMeas h(&src);
    uint8_t b[4];
    for (float f : {3.9e9f, -5.0f, __builtin_nanf(""), __builtin_inff()}) {
        be_putf(b, f);
        h.putData(b);
        h.updateData();
        GUIUINT u = 1;
        GUIINT i = 1;
        h.getRawData(u);
        h.getRawData(i);
        h.getQuantData(u);
        h.getQuantData(i);
        SUCCEED();   // no undefined conversion (UBSan)
    }
    be_putf(b, -5.7f);
    h.putData(b);
    h.updateData();
    GUIINT i = 0;
    GUIUINT u = 1;
    h.getQuantData(i);
    h.getQuantData(u);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(u, 0u);
}

TEST_F(DataManager, NoDataEventsTimeOutAtTheFifthInARowAndFillTheStatistics) {
    bool all = false, any = true;
    unsigned short mn = 0, mx = 1;
    m.getStatus(&all, &any, &mn, &mx, nullptr, nullptr);
    EXPECT_TRUE(all);
    EXPECT_FALSE(any);
    EXPECT_EQ(mn, 65535);
    EXPECT_EQ(mx, 0);

    display_elem_s e = BoxOn(0x23000010, TE_UINT8);   // device 35
    CData* d = m.addData(&e, 4, CDATA_VALUE);
    CDataList* l = m.firstList();
    l->state = CDL_RUNNING;
    const uint8_t slot[5] = {0, 0, 0, 1, 42};
    m.readCyclic(0, slot, l);
    EXPECT_TRUE(d->getMeasUpdateState());
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 4; ++i) m.readCyclic(GW_NO_DATA, nullptr, l);
        EXPECT_TRUE(d->getMeasUpdateState());
        if (round == 0) m.readCyclic(0, slot, l);   // data restarts the count
    }
    m.readCyclic(GW_NO_DATA, nullptr, l);
    EXPECT_FALSE(d->getMeasUpdateState());
    unsigned long total = 0, mask = 0;
    m.getStatus(&all, &any, &mn, &mx, &total, &mask);
    EXPECT_FALSE(any);
    EXPECT_EQ(total, 9u);
    EXPECT_EQ(mn, 9);
    EXPECT_EQ(mask, 1u << 5);
    m.readCyclic(0, slot, l);
    EXPECT_TRUE(d->getMeasUpdateState());
    m.readCyclic(GW_OFFLINE, nullptr, l);   // any other event: invalid at once
    EXPECT_FALSE(d->getMeasUpdateState());
    l->state = CDL_SETUP;   // not running: ignored
    m.readCyclic(0, slot, l);
    EXPECT_FALSE(d->getMeasUpdateState());
}

TEST_F(DataManager, DeviceMaskBits) {
    const std::pair<uint32_t, uint32_t> cases[] = {{5, 1u << 0}, {20, 1u << 1}, {35, 1u << 5}, {70, 1u << 31}};
    for (auto [dev, bit] : cases) {
        CDataManager mm;
        display_elem_s e = BoxOn(dev << 24 | 0x10, TE_UINT8);
        mm.addData(&e, 4, CDATA_VALUE);
        mm.firstList()->state = CDL_RUNNING;
        mm.readCyclic(GW_NO_DATA, nullptr, mm.firstList());
        unsigned long mask = 0;
        mm.getStatus(nullptr, nullptr, nullptr, nullptr, nullptr, &mask);
        EXPECT_EQ(mask, bit) << dev;
    }
}

TEST_F(DataManager, StopFreesListsWithoutDeviceAndEveryHolderAtOnce) {
    display_elem_s local = BoxOn(0x00000010, TE_FLOAT), odd = BoxOn(0x05000010, 42);
    m.addData(&local, 4, CDATA_VALUE);
    m.addData(&odd, 4, CDATA_VALUE);   // a type no list carries
    m.createMeaslists();
    EXPECT_EQ(m.firstList()->request, nullptr);   // device 0: never subscribed
    m.stopMeasurement();
    EXPECT_EQ(m.firstList(), nullptr);
    EXPECT_EQ(m.firstSource(), nullptr);   // LeakSanitizer checks the rest
}

}  // namespace
