// Channel elements from XML and their reading through the gateway.
#include <cstring>

#include "measurement/chandata.h"
#include "measurement/signalpage.h"
#include "meas_fixture.h"

namespace {
// Scans to the first start tag named `name`.
const XmlTok_t& seek(XmlScan& s, const char* name) {
    for (;;) {
        const XmlTok_t& t = s.getTok();
        if ((t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR) && t.name == name) return t;
        if (t.kind == XML_TOK_EOF) return t;
    }
}
}  // namespace

using ChanDataTest = MeasTest;

TEST_F(ChanDataTest, ReadsAttributesAndVerbalTable) {
    const char* xml =
        "<cfg><chan name=\"gear\" addr=\"0x0004002c\" type=\"2\" mask=\"0xff\" scale=\"0.5\" word=\"abc\">"
        "<vtab value=\"0\" text=\"N\"/><vtab value=\"-1\" text=\"R\"/><other><x/></other></chan>"
        "<next/></cfg>";
    XmlScan s(xml);
    ChanData ch(s, seek(s, "chan"));
    EXPECT_EQ(ch.name, "gear");
    EXPECT_EQ(ch.addr, 0x0004002Cu);
    EXPECT_EQ(ch.type, TE_SINT8);
    EXPECT_EQ(ch.mask, 0xFFu);
    EXPECT_EQ(ch.attr("scale", 1), 0.5f);
    EXPECT_EQ(ch.attr("word", 7), 7.0f);   // not numeric: not kept
    ASSERT_EQ(ch.vtab.size(), 2u);
    EXPECT_EQ(ch.vtab[1].first, -1);
    EXPECT_EQ(ch.vtab[1].second, "R");
    EXPECT_EQ(s.getTok().name, "next");   // the element was consumed whole
}

TEST_F(ChanDataTest, BrokenAttributesThrowTheXmlErrorText) {
    for (const char* xml : {"<chan addr=\"0xZZ\"/>", "<chan type=\"9\"/>", "<chan type=\"FLOAT\" mask=\"\"/>"}) {
        XmlScan s(xml);
        const XmlTok_t& t = seek(s, "chan");
        EXPECT_THROW(ChanData ch(s, t), const char*) << xml;
    }
    XmlScan s("<chan name=\"x\" type=\"FLOAT\"/>");
    ChanData ok(s, seek(s, "chan"));
    EXPECT_EQ(ok.type, TE_FLOAT);
}

TEST_F(ChanDataTest, ConvDataTypeMapsEveryType) {
    const uint8_t expect[10] = {255, 1, 0, 3, 2, 5, 4, 6, 7, 255};
    for (int t = 0; t <= 9; ++t) EXPECT_EQ(ChanData::convDataType(TypeEnum_t(t)), expect[t]) << t;
}

TEST_F(ChanDataTest, ValueThroughTheGatewayWithMaskAndTimeout) {
    ChanData ch("p_oil", catalogue_addr("p_oil"), TE_FLOAT);
    EXPECT_EQ(chan_meas_setup(nullptr, 3, 3), 0);
    ASSERT_EQ(chan_meas_setup(&ch, 3, 2), 1);
    double v = 0;
    EXPECT_EQ(chan_meas_getValue(&ch, &v, 0), 0);   // nothing delivered yet
    signalPage()->p_oil = 4.25f;
    meas_man_copy_raster(3, 10);
    gw_distribute(3);
    ASSERT_NE(chan_meas_getValue(&ch, &v, 0), 0);
    EXPECT_EQ(v, 4.25);
    gw_distribute(3);
    gw_distribute(3);   // two periods without data
    EXPECT_EQ(chan_meas_getValue(&ch, &v, 0), 0);

    ChanData g("gear", catalogue_addr("gear") | (uint32_t(kOwnPid) << 24), TE_SINT8, 0x0F);
    ASSERT_EQ(chan_meas_setup(&g, 3, 3), 1);
    signalPage()->gear = -2;   // 0xFE, masked to 0x0E
    meas_man_copy_raster(3, 20);
    gw_distribute(3);
    ASSERT_NE(chan_meas_getValue(&g, &v, 0), 0);
    EXPECT_EQ(v, 14);
    chan_meas_release(&g);
    EXPECT_EQ(g.list, 0u);
}
