// XML logging configuration reader: model built, every refusal with its position.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "logging/cfg_ptr.h"
#include "logging/config/meas_app_xml_load.h"
#include "logging/logging_fixture.h"
#include "measurement/catalogue.h"

namespace {

// Text thrown by the reader for the document, "" when it was accepted.
std::string thrown(const std::string& xml, const char* unchecked = nullptr) {
    measAppXmlLoad reader;
    try {
        CfgPtr c{reader.getConfig(0, xml.c_str(), unchecked)};
        return "";
    } catch (const char* e) {
        return e;
    }
}

std::string acq(const std::string& body, int blocks = 1, int conds = 0) {
    return "<AcqInfo ident=\"t\" num_blocks=\"" + std::to_string(blocks) + "\" num_conditions=\"" +
           std::to_string(conds) + "\" version=\"1\" protocol=\"0\">\n" + body + "</AcqInfo>\n";
}

std::string block(const std::string& attrs, const std::string& seqs) {
    return "<Block name=\"b\" idx=\"0\" true_div=\"1\" false_div=\"2\" Raster=\"R10ms\" " + attrs + ">\n" +
           seqs + "</Block>\n";
}

std::string seq(int align, int size, int num, int idx, const std::string& adrs) {
    return "<CopySeq align=\"" + std::to_string(align) + "\" size=\"" + std::to_string(size) + "\" num=\"" +
           std::to_string(num) + "\" idx=\"" + std::to_string(idx) + "\">\n" + adrs + "</CopySeq>\n";
}

std::string adr(unsigned a, int idx) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<adr adr=\"0x%08X\" idx=\"%d\"/>\n", a, idx);
    return buf;
}

std::string readSample(const char* name) {
    const char* env = std::getenv("TAV9_SOURCE_DIR");
    for (std::string root : {std::string(env ? env : "."), std::string("."), std::string("..")}) {
        std::ifstream f(root + "/sample/cfg/" + name);
        if (!f) continue;
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    return "";
}

}  // namespace

using MeasAppXml = LoggingTest;

TEST_F(MeasAppXml, BuildsBlocksConditionsAndNames) {
    std::string xml = acq("<AsapName name=\"a2l\"/><PstName name=\"pst\"/><UserInfo name=\"ui\"/>\n"
                          "<GlobStartCond idx=\"1\"/><GlobStartCond idx=\"5\"/>\n"
                          "<PreTriggerTime time=\"2.5\"/>\n"
                          "<Unknown a=\"1\"><Block/></Unknown>\n" +
                              block("num_seqs=\"3\" cond_id=\"3\" tele_blk=\"7\"",
                                    seq(4, 4, 2, 0, adr(0x05000010, 0) + adr(0x05000014, 1)) +
                                        seq(1, 4, 1, 1, adr(0x05000020, 0)) + seq(2, 2, 1, 2, adr(0x05000030, 0))) +
                              "<Condition adr=\"0x05001234\" idx=\"0\" size=\"2\" pretrigger=\"9\"/>\n"
                              "<Condition adr=\"0x85000001\" idx=\"1\" size=\"1\" pretrigger=\"0\"/>\n",
                          1, 2);
    const char* unchecked =
        "<UncheckedContent><Other x=\"1\"/><TarneloProjectFileName name=\"proj.tpf\"/></UncheckedContent>";
    CfgPtr c{meas_app_xml_load(0, xml.c_str(), unchecked)};
    ASSERT_NE(c.p, nullptr);
    EXPECT_STREQ(c->ident, "t");
    EXPECT_STREQ(c->asapName, "a2l");
    EXPECT_STREQ(c->pstName, "pst");
    EXPECT_STREQ(c->userInfo, "ui");
    EXPECT_STREQ(c->projectFileName, "proj.tpf");
    EXPECT_EQ(c->globalStartMask, 1u << 5);   // the second element replaces the first
    EXPECT_EQ(c->globalStartGiven, 1);
    EXPECT_FLOAT_EQ(c->pretriggerTime, 2.5f);
    ASSERT_EQ(c->numBlocks, 1);
    const BlkInfo& b = c->blocks[0];
    EXPECT_EQ(b.blockNumber, 1);
    EXPECT_EQ(b.teleBlockId, 7);
    EXPECT_EQ(b.startMask, 1u << 3);
    EXPECT_EQ(b.trueDivider, 1);
    EXPECT_EQ(b.falseDivider, 2);
    EXPECT_EQ(b.modeWord, 1);
    EXPECT_EQ(b.raster, MEAS_RASTER_10MS);
    const int32_t list[] = {-4, 0x10, 0x14, 0, 4, 0x20, 0, -2, 0x30, 0, 0};
    EXPECT_EQ(std::vector<int32_t>(b.measList, b.measList + 11), std::vector<int32_t>(list, list + 11));
    EXPECT_EQ(b.listLength, 44u);
    EXPECT_EQ(b.channelCount, 4u);
    EXPECT_EQ(b.recordSize, 4u + 14);
    EXPECT_EQ(b.pid, 5);
    EXPECT_EQ(b.align4Count, 2);
    EXPECT_EQ(b.align2Count, 1);
    EXPECT_EQ(b.align1Count, 1);
    EXPECT_EQ(b.divider, 1);

    const BlkInfo& c0 = c->conditions[0];
    EXPECT_STREQ(c0.name, "CondBlk #1");
    EXPECT_EQ(c0.pid, 5);
    EXPECT_EQ(std::vector<int32_t>(c0.measList, c0.measList + 4), (std::vector<int32_t>{-2, 0x1234, 0, 0}));
    EXPECT_EQ(c0.recordSize, 6u);
    EXPECT_EQ(c0.listLength, 12u);
    EXPECT_EQ(c0.raster, MEAS_RASTER_10MS);
    EXPECT_EQ(c0.pretriggerWord, 9);
    EXPECT_EQ(c0.startMask, 1u);
    EXPECT_EQ(c->conditions[1].pid, 0xFF85);  // PID byte taken as signed
    EXPECT_EQ(c->conditions[1].startMask, 2u);

    // without cond_id no start mask; without no_check.xml no project name
    CfgPtr d{meas_app_xml_load(0, acq(block("num_seqs=\"1\"", seq(4, 4, 1, 0, adr(1, 0)))).c_str(), nullptr)};
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(d->blocks[0].startMask, 0u);
    EXPECT_EQ(d->blocks[0].teleBlockId, 0xFFFF);
    EXPECT_STREQ(d->projectFileName, "");
}

TEST_F(MeasAppXml, SubMillisecondRasterPacksSamples) {
    std::string xml = acq("<Block name=\"fast\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" "
                          "Raster=\"R500us\">" + seq(4, 4, 1, 0, adr(0x40000, 0)) + "</Block>");
    CfgPtr c{meas_app_xml_load(0, xml.c_str(), nullptr)};
    ASSERT_NE(c.p, nullptr);
    EXPECT_EQ(c->blocks[0].divider, 2);
    EXPECT_EQ(c->blocks[0].recordSize, 12u);
}

TEST_F(MeasAppXml, TelemetryRecord) {
    std::string xml = acq("<TeleInfo baudrate=\"115200\" pause=\"3\" projectCode=\"0x1234\" SoftwareID=\"0x12\" "
                          "TeleIp=\"127.0.0.9\" TelePort=\"4000\" TelemetrieMode=\"ETHERNET\">"
                          "<lapdist name=\"d\" addr=\"0x40024\" type=\"7\"/></TeleInfo>",
                          0);
    CfgPtr c{meas_app_xml_load(1, xml.c_str(), nullptr)};
    ASSERT_NE(c.p, nullptr);
    ASSERT_NE(c->teleInfo, nullptr);
    EXPECT_EQ(c->teleInfo->ipAddr, inet_addr("127.0.0.9"));
    EXPECT_EQ(c->teleInfo->port, 4000);
    EXPECT_EQ(c->teleInfo->mode, 2);
    ASSERT_NE(c->teleInfo->lapDist, nullptr);
    EXPECT_EQ(c->teleInfo->gpsLat, nullptr);
}

TEST_F(MeasAppXml, EveryRefusalCarriesItsPosition) {
    const std::string oneSeq = seq(4, 4, 1, 0, adr(1, 0));
    struct Case {
        std::string xml;
        std::string text;
    } cases[] = {
        {"<AcqInfo ident=\"t\" num_blocks=\"0\" num_conditions=\"0\" version=\"1\" protocol=\"0\"/>",
         "/> expected in line 1 column 1"},
        {acq("<AsapName name=\"x\"></AsapName>"), "/> expected in line 2 column 1"},
        {acq("<GlobStartCond idx=\"1\"></GlobStartCond>"), "/> expected in line 2 column 1"},
        {acq("<PreTriggerTime time=\"1\"></PreTriggerTime>"), "/> expected in line 2 column 1"},
        {acq("<Condition adr=\"1\" idx=\"0\" size=\"1\" pretrigger=\"0\"></Condition>", 0, 1),
         "/> expected in line 2 column 1"},
        {acq("<Block name=\"b\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\"/>"),
         "> expected in line 2 column 1"},
        {acq(block("num_seqs=\"1\"", "<CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"/>\n")),
         "> expected in line 3 column 1"},
        {acq(block("num_seqs=\"1\"", seq(4, 4, 1, 0, "<adr adr=\"1\" idx=\"0\"></adr>\n"))),
         "> expected in line 4 column 1"},
        {acq("<Block name=\"b\" idx=\"1\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\">" + oneSeq +
             "</Block>"),
         "block index too high (idx) in line 2 column 1"},
        {acq("<Condition adr=\"1\" idx=\"1\" size=\"1\" pretrigger=\"0\"/>", 0, 1),
         "block index too high (idx) in line 2 column 1"},
        {acq(block("num_seqs=\"21\"", oneSeq)), "too many copy sequences (num_seqs) in line 2 column 1"},
        {acq(block("num_seqs=\"1\"", seq(4, 4, 1, 1, adr(1, 0)))), "CopySeq index too high (idx) in line 3 column 1"},
        {acq(block("num_seqs=\"1\"", seq(4, 4, 201, 0, adr(1, 0)))), "too many addresses (num) in line 3 column 1"},
        {acq(block("num_seqs=\"1\"", seq(4, 4, 2, 0, adr(1, 0) + adr(1, 2)))),
         "address index too high (idx) in line 5 column 1"},
        {acq("", 256), "too many blocks (num_blocks) in line 1 column 1"},
        {acq("", 0, 65), "too many conditions (num_conditions) in line 1 column 1"},
        {acq(""), "block not defined in line 2 column 1"},
        {acq("", 0, 1), "condition not defined in line 2 column 1"},
        {acq("<Block name=\"b\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R2s\">" + oneSeq +
             "</Block>"),
         "attribute has wrong value (Raster) in line 2 column 1"},
        {acq("<Block idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\">" + oneSeq + "</Block>"),
         "mandatory attribute not found (name) in line 2 column 1"},
        {acq("<Condition adr=\"xyz\" idx=\"0\" size=\"1\" pretrigger=\"0\"/>", 0, 1),
         "attribute is no hex number (adr) in line 2 column 1"},
    };
    for (const Case& c : cases) {
        std::string got = thrown(c.xml);
        EXPECT_EQ(got, c.text) << c.xml;
    }
    takeLogTexts();
    EXPECT_EQ(meas_app_xml_load(2, cases[0].xml.c_str(), nullptr), nullptr);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logged(log, "measAppXmlLoad(3): /> expected in line 1 column 1"));
    EXPECT_TRUE(logged(log, "meas_app_xml_load(): parsing logging configuration failed, no measurement for M03"));

    // a fault of no_check.xml is reported as such and fails the load
    std::string good = acq(block("num_seqs=\"1\"", oneSeq));
    EXPECT_EQ(thrown(good, "<UncheckedContent>\n<TarneloProjectFileName name=\"p\"></TarneloProjectFileName>"
                           "</UncheckedContent>"),
              "/> expected in line 2 column 1");
    EXPECT_EQ(meas_app_xml_load(0, good.c_str(), "<UncheckedContent><TarneloProjectFileName nam=\"p\"/></UncheckedContent>"),
              nullptr);
    log = takeLogTexts();
    EXPECT_TRUE(logged(log, "measAppXmlLoad(1): no_check.xml mandatory attribute not found (name) in line 1 column 19"));
}

TEST_F(MeasAppXml, OversizedBlocksAreRefusedAtLoad) {
    // 200 four-byte channels at 500 us: 2 x 800 + 4 bytes fit; at 100 us 10 x 800 do not
    std::string adrs;
    for (int i = 0; i < 200; ++i) adrs += adr(0x40000, i);
    std::string fits = acq("<Block name=\"b\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R500us\">" +
                           seq(4, 4, 200, 0, adrs) + "</Block>");
    EXPECT_EQ(thrown(fits), "");
    std::string tooBig = fits;
    tooBig.replace(tooBig.find("R500us"), 6, "R100us");
    EXPECT_EQ(thrown(tooBig).rfind("block record exceeds the frame size", 0), 0u);
    // two sequences of 200 addresses need more than the 256 list words
    std::string longList = acq("<Block name=\"b\" idx=\"0\" num_seqs=\"2\" true_div=\"1\" false_div=\"1\" Raster=\"R1s\">" +
                               seq(4, 4, 200, 0, adrs) + seq(4, 4, 200, 1, adrs) + "</Block>");
    EXPECT_EQ(thrown(longList).rfind("measurement list too long", 0), 0u);
}

TEST_F(MeasAppXml, SampleConfigurationsUseCatalogueChannels) {
    ASSERT_EQ(catalogue_init(), 1);
    for (const char* file : {"m01.xml", "m03.xml"}) {
        std::string text = readSample(file);
        ASSERT_FALSE(text.empty()) << file;
        CfgPtr c{meas_app_xml_load(0, text.c_str(), nullptr)};
        ASSERT_NE(c.p, nullptr) << file;
        EXPECT_GE(c->numBlocks, 2);
    }
    CfgPtr m01{meas_app_xml_load(0, readSample("m01.xml").c_str(), nullptr)};
    ASSERT_NE(m01.p, nullptr);
    EXPECT_EQ(m01->blocks[0].measList[1], int32_t(catalogue_addr("n_engine")));
    EXPECT_EQ(m01->blocks[0].measList[2], int32_t(catalogue_addr("throttle")));
    EXPECT_EQ(m01->blocks[1].measList[6], -1);    // gear: one byte
    EXPECT_EQ(m01->blocks[1].measList[7], int32_t(catalogue_addr("gear")));
    EXPECT_EQ(m01->blocks[2].measList[4], int32_t(catalogue_addr("lap_distance")));
    EXPECT_EQ(m01->conditions[0].measList[1], int32_t(catalogue_addr("stim_active")));
    EXPECT_EQ(m01->blocks[2].raster, MEAS_RASTER_100MS);
}

TEST_F(MeasAppXml, UncheckedSectionOpensWithAnyPlainStartTag) {
    std::string xml = acq(block("num_seqs=\"1\"", seq(4, 4, 1, 0, adr(1, 0))));
    for (const char* unchecked : {"<Project><TarneloProjectFileName name=\"plain.tpf\"/></Project>",
                                  "<UncheckedContent v=\"1\"><TarneloProjectFileName name=\"plain.tpf\"/>"
                                  "</UncheckedContent>"}) {
        CfgPtr c{meas_app_xml_load(0, xml.c_str(), unchecked)};
        ASSERT_NE(c.p, nullptr) << unchecked;
        EXPECT_STREQ(c->projectFileName, "plain.tpf") << unchecked;
    }
    // a start tag with attributes of another name does not open it
    CfgPtr c{meas_app_xml_load(0, xml.c_str(), "<Other a=\"1\"><TarneloProjectFileName name=\"x\"/></Other>")};
    ASSERT_NE(c.p, nullptr);
    EXPECT_STREQ(c->projectFileName, "");
}
