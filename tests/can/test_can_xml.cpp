// "cfg:/CAN.xml": the sample file, section rules, refused values with their
// position, and the start-up paths (file, calibration parameters, late drive).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "can/can_voz.h"
#include "can/can_xml.h"
#include "can_fixture.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "platform/raster.h"

namespace {
std::string sampleXml() {
    const char* src = std::getenv("TAV9_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/sample/cfg/CAN.xml");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const char* kHead = "<?xml version=\"1.0\"?>\n";
const char* kInMb = "<CanMb idx=\"0\" intf=\"0\" canId=\"0x100\" fdf=\"false\"/>";
const char* kInSig = "<CanSignal chIdx=\"0\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"false\" outType=\"UINT8\" RCType=\"SIG\"/>";

class CanXmlTest : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        CanIn_initConfig();
        CanOut_initConfig();
    }
    void TearDown() override {
        can_voz_wait();
        CanTest::TearDown();
    }
    // Starts the CAN set-up from XML with `path` (below the folder) holding
    // `content`; returns what the start logged.
    std::vector<std::string> startUpWithFile(const std::string& path, const std::string& content) {
        const_cast<CalPage&>(calActive()).CfgMat_CanVersion = 5;
        writeFile(path, content);
        can_voz_ini();
        can_voz_wait();
        return takeLogTexts();
    }
    std::string parseLog(const std::string& text, int want) {
        EXPECT_EQ(XmlCanIOParse(text.c_str()), want);
        std::string all;
        for (auto& t : takeLogTexts()) all += t + "\n";
        return all;
    }
};
}  // namespace

TEST_F(CanXmlTest, SampleFileConfiguresInputAndOutput) {
    const std::string xml = sampleXml();
    ASSERT_FALSE(xml.empty());
    ASSERT_EQ(XmlCanIOParse(xml.c_str()), 0);
    EXPECT_EQ(CanInMailBoxConf[1].canId, 0x98FF0010u);
    EXPECT_EQ(CanInSignalConf[1].valueKind, uint32_t(CANIN_SIGNED));
    EXPECT_EQ(CanInSignalConf[1].timeout, 500u);
    EXPECT_EQ(CanInSignalConf[2].bigEndian, 1u);
    EXPECT_EQ(CanInSignalConf[3].RCType, uint32_t(CANIN_MUX));
    EXPECT_EQ(CanInSignalConf[5].RCValue, 1u);
    EXPECT_EQ(CanInSignalConf[6].msgIdx, CANIN_MSG_UNUSED);
    EXPECT_EQ(CanOutMailBoxConf[1].event, RASTER_100MS);
    EXPECT_EQ(CanOutSignalConf[0].dataType, GW_FLOAT32);
    EXPECT_EQ(CanOutSignalConf[4].fact, 0.1f);
    EXPECT_EQ(CanOutSignalConf[6].kind, uint32_t(CANOUT_CONSTANT));
    EXPECT_EQ(CanOutSignalConf[7].kind, uint32_t(CANOUT_COUNTER));
    EXPECT_EQ(CanOutSignalConf[7].start, 1u);
    EXPECT_EQ(CanOutSignalConf[8].chkSumByteMask, 0x7Fu);
    EXPECT_EQ(CanIn_init(), 0);
    EXPECT_EQ(CanOut_init(), 0);
    receive(0, frame(0x100, {0x34, 0x12}));
    EXPECT_EQ(slot(0), 0x1234u);
}

TEST_F(CanXmlTest, SectionRules) {
    // only an input section: the output stays empty
    std::string only = std::string(kHead) + "<Can><CanIn>" + kInMb + kInSig + "</CanIn></Can>";
    parseLog(only, 0);
    EXPECT_EQ(CanIn_init(), 0);
    EXPECT_EQ(CanOut_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CanOut_Init: CanOut configured 0 signals in 0 messages"));

    // a signal with a separate end tag ends the section; later elements are skipped
    CanIn_initConfig();
    std::string sep = std::string(kHead) + "<Can><CanIn>" + kInMb +
                      "<CanSignal chIdx=\"0\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"false\" outType=\"UINT8\" "
                      "RCType=\"SIG\"></CanSignal>"
                      "<CanSignal chIdx=\"1\" msgIdx=\"0\" sBit=\"8\" len=\"8\" bigEndian=\"false\" outType=\"UINT8\" "
                      "RCType=\"SIG\"/></CanIn></Can>";
    parseLog(sep, 0);
    EXPECT_EQ(CanInSignalConf[0].msgIdx, 0u);
    EXPECT_EQ(CanInSignalConf[1].msgIdx, CANIN_MSG_UNUSED);

    // two input sections: the first stays in force
    CanIn_initConfig();
    std::string twice = std::string(kHead) + "<Can>\n<CanIn>" + kInMb + kInSig + "</CanIn>\n<CanIn></CanIn></Can>";
    std::string log = parseLog(twice, -1);
    EXPECT_NE(log.find("XmlCanIOParse(): xml config parse error: XmlCanIOParse(): <CanIn> found twice in line 4"),
              std::string::npos)
        << log;
    EXPECT_EQ(CanInSignalConf[0].msgIdx, 0u);

    // no end of the root
    log = parseLog(std::string(kHead) + "<Can><CanIn>" + kInMb + "</CanIn>", -1);
    EXPECT_NE(log.find("xml config parse error"), std::string::npos) << log;
    log = parseLog("<Other/>", -1);
    EXPECT_NE(log.find("XmlCanIOParse(): unexpected EOF"), std::string::npos) << log;
}

TEST_F(CanXmlTest, OutOfRangeValuesAreRefusedWithTheirPosition) {
    struct Case {
        const char* element;
        const char* text;
    };
    const Case cases[] = {
        {"<CanIn><CanMb idx=\"128\" intf=\"0\" canId=\"0x1\" fdf=\"false\"/></CanIn>", "index out of range (idx) in line 3 column"},
        {"<CanIn><CanMb idx=\"3\" intf=\"0\" canId=\"0x1\" fdf=\"false\"/><CanMb idx=\"3\" intf=\"1\" canId=\"0x2\" fdf=\"false\"/></CanIn>",
         "index found twice (idx)"},
        {"<CanIn><CanSignal chIdx=\"1000\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"false\" outType=\"UINT8\" RCType=\"SIG\"/></CanIn>",
         "index out of range (chIdx)"},
        {"<CanIn><CanSignal chIdx=\"1\" msgIdx=\"128\" sBit=\"0\" len=\"8\" bigEndian=\"false\" outType=\"UINT8\" RCType=\"SIG\"/></CanIn>",
         "index out of range (msgIdx)"},
        {"<CanIn><CanSignal chIdx=\"1\" msgIdx=\"0\" sBit=\"505\" len=\"16\" bigEndian=\"false\" outType=\"UINT8\" RCType=\"SIG\"/></CanIn>",
         "attribute out of range (sBit)"},
        {"<CanIn><CanSignal chIdx=\"1\" msgIdx=\"0\" sBit=\"0\" len=\"0\" bigEndian=\"false\" outType=\"UINT8\" RCType=\"SIG\"/></CanIn>",
         "attribute out of range (len)"},
        {"<CanIn><CanSignal chIdx=\"1\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"maybe\" outType=\"UINT8\" RCType=\"SIG\"/></CanIn>",
         "(bigEndian)"},
        {"<CanOut><Intf idx=\"2\" rateLimt=\"1\" startDelay=\"0\"/></CanOut>", "parseCanOut: index out of range (idx)"},
        {"<CanOut><CanMb idx=\"128\" intf=\"0\" canDlc=\"8\" canId=\"0x1\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/></CanOut>",
         "parseCanOut: index out of range (idx)"},
        {"<CanOut><CanMb idx=\"1\" intf=\"0\" canDlc=\"16\" canId=\"0x1\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/></CanOut>",
         "attribute out of range (canDlc)"},
        {"<CanOut><CanMb idx=\"1\" intf=\"0\" canDlc=\"8\" canId=\"0x1\" event=\"R3ms\" fdf=\"false\" brs=\"false\"/></CanOut>",
         "(event)"},
        {"<CanOut><CanConstant chIdx=\"400\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"1\"/></CanOut>",
         "index out of range (chIdx)"},
        {"<CanOut><CanCounter chIdx=\"4\" msgIdx=\"200\" sBit=\"0\" len=\"4\" bigEndian=\"false\" start=\"0\" end=\"3\"/></CanOut>",
         "index out of range (msgIdx)"},
        {"<CanOut><CanChecksum chIdx=\"4\" msgIdx=\"0\" sBit=\"511\" len=\"8\" bigEndian=\"false\" type=\"1\" chkSumByteMask=\"0xFF\"/></CanOut>",
         "attribute out of range (sBit)"},
        {"<CanOut><CanMb idx=\"1\" intf=\"0\" canDlc=\"8\" canId=\"0x1\" event=\"EventBased\" fdf=\"false\" brs=\"false\">text</CanMb></CanOut>",
         "parseCanOut: unexpected token (idx)"},
    };
    int n = 0;
    for (const Case& c : cases) {
        syslogx(7, "case %d", ++n);   // no folding of equal texts of two cases
        takeLogTexts();
        CanIn_initConfig();
        CanOut_initConfig();
        std::string xml = std::string(kHead) + "<Can>\n" + c.element + "\n</Can>";
        std::string log = parseLog(xml, -1);
        EXPECT_NE(log.find(c.text), std::string::npos) << c.element << "\n" << log;
        EXPECT_NE(log.find("XmlCanIOParse(): xml config parse error: "), std::string::npos);
        EXPECT_NE(log.find(" column "), std::string::npos) << log;
    }
    // what was read before the error is kept
    CanIn_initConfig();
    std::string xml = std::string(kHead) + "<Can><CanIn>" + kInMb + kInSig +
                      "<CanMb idx=\"128\" intf=\"0\" canId=\"0x1\" fdf=\"false\"/></CanIn></Can>";
    parseLog(xml, -1);
    EXPECT_EQ(CanInMailBoxConf[0].canId, 0x100u);
    EXPECT_EQ(CanInSignalConf[0].msgIdx, 0u);
    // broken XML never gets further than the scanner's error
    EXPECT_EQ(XmlCanIOParse("<Can><CanIn><CanMb idx="), -1);
    EXPECT_EQ(XmlCanIOParse(""), -1);
}

TEST_F(CanXmlTest, EventSignalAsChannelElement) {
    std::string xml = std::string(kHead) +
                      "<Can><CanOut>"
                      "<CanMb idx=\"5\" intf=\"1\" canDlc=\"2\" canId=\"0x80000123\" event=\"EventBased\" fdf=\"false\" brs=\"false\">"
                      "<chan name=\"gear\" addr=\"0x40028\" type=\"SINT8\" mask=\"0x2\" quant_b=\"10\" quant_f=\"4\"/>"
                      "</CanMb>"
                      "<CanConstant chIdx=\"0\" msgIdx=\"5\" sBit=\"0\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0x42\"/>"
                      "</CanOut></Can>";
    parseLog(xml, 0);
    const CanOutMailBox& m = CanOutMailBoxConf[5];
    EXPECT_EQ(m.event, CANOUT_EVENT_BASED);
    EXPECT_EQ(m.evAddr, 0x40028u);
    EXPECT_EQ(m.evMask, 2u);
    EXPECT_EQ(m.evType, GW_INT8);
    EXPECT_EQ(m.quant[1], 10);
    EXPECT_EQ(m.quant[5], 4);
    EXPECT_EQ(m.length, 2u);
    EXPECT_EQ(CanOut_init(), 0);
}

TEST_F(CanXmlTest, AnOutputEntryBeyondItsMessageIsRefusedAlone) {
    const std::string xml =
        std::string(kHead) +
        "<Can><CanOut>"
        "<CanMb idx=\"0\" intf=\"0\" canDlc=\"2\" canId=\"0x300\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/>"
        "<CanConstant chIdx=\"0\" msgIdx=\"0\" sBit=\"0\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0x11\"/>"
        "<CanConstant chIdx=\"1\" msgIdx=\"0\" sBit=\"12\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0xFF\"/>"
        "<CanCounter chIdx=\"2\" msgIdx=\"0\" sBit=\"8\" len=\"4\" bigEndian=\"false\" start=\"0\" end=\"15\"/>"
        "<CanMb idx=\"1\" intf=\"0\" canDlc=\"1\" canId=\"0x301\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/>"
        "<CanConstant chIdx=\"3\" msgIdx=\"1\" sBit=\"8\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0x22\"/>"
        "<CanMb idx=\"2\" intf=\"0\" canDlc=\"2\" canId=\"0x302\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/>"
        "<CanConstant chIdx=\"4\" msgIdx=\"2\" sBit=\"0\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0x33\"/>"
        "<CanChecksum chIdx=\"5\" msgIdx=\"2\" sBit=\"16\" len=\"8\" bigEndian=\"false\" type=\"1\" chkSumByteMask=\"0xFF\"/>"
        "<CanMb idx=\"3\" intf=\"0\" canDlc=\"2\" canId=\"0x303\" event=\"R10ms\" fdf=\"false\" brs=\"false\"/>"
        "<CanSignal chIdx=\"6\" msgIdx=\"3\" sBit=\"16\" len=\"8\" bigEndian=\"false\" RCType=\"MUX\" adrType=\"None\" data_type=\"UINT8\" signed=\"false\" float=\"false\"/>"
        "<CanConstant chIdx=\"7\" msgIdx=\"3\" sBit=\"0\" len=\"8\" bigEndian=\"false\" RCType=\"MSIG\" RCValue=\"1\" value=\"0x44\"/>"
        "<CanConstant chIdx=\"8\" msgIdx=\"3\" sBit=\"8\" len=\"8\" bigEndian=\"false\" RCType=\"SIG\" value=\"0x55\"/>"
        "</CanOut></Can>";
    parseLog(xml, 0);
    ASSERT_EQ(CanOut_init(), 0);
    const std::string log = [&] {
        std::string all;
        for (auto& t : takeLogTexts()) all += t + "\n";
        return all;
    }();
    // each refused entry is named; a multiplexor's rows go with it
    EXPECT_NE(log.find("CanOut_man: signal beyond the message length (1)"), std::string::npos) << log;
    EXPECT_NE(log.find("CanOut_man: signal beyond the message length (3)"), std::string::npos) << log;
    EXPECT_NE(log.find("CanOut_man: signal beyond the message length (5)"), std::string::npos) << log;
    EXPECT_NE(log.find("CanOut_man: signal beyond the message length (6)"), std::string::npos) << log;
    EXPECT_NE(log.find("(7)"), std::string::npos) << log;
    EXPECT_NE(log.find("CanOut_Init: CanOut configured 4 signals in 3 messages"), std::string::npos) << log;
    CanOut_send_message(RASTER_10MS);
    std::map<uint32_t, std::vector<uint8_t>> got;
    for (const auto& f : sent()) got[f.id] = bytesOf(f);
    EXPECT_EQ(got.size(), 3u);   // 0x301 has nothing left to carry
    EXPECT_EQ(got[0x300], (std::vector<uint8_t>{0x11, 0x00}));
    EXPECT_EQ(got[0x302], (std::vector<uint8_t>{0x33, 0x00}));
    EXPECT_EQ(got[0x303], (std::vector<uint8_t>{0x00, 0x55}));
}

TEST_F(CanXmlTest, StartUpFromTheFileOnceTheDriveAppears) {
    const_cast<CalPage&>(calActive()).CfgMat_CanVersion = 5;
    ASSERT_FALSE(std::filesystem::exists(dir + "/cfg"));
    can_voz_ini();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));   // the drive comes late
    writeFile("cfg_new/CAN.xml", sampleXml());
    std::filesystem::rename(dir + "/cfg_new", dir + "/cfg");   // drive and file at once
    can_voz_wait();
    EXPECT_TRUE(meas_man_CanIO_is_initialized());
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "can_voz_ini(): starting task for XML"));
    EXPECT_TRUE(logContains(log, "CanIn_Init: CanIn successfully started (2 messages)"));
    receive(0, frame(0x100, {0x10, 0x27}));
    EXPECT_EQ(slot(0), 10000u);
}

TEST_F(CanXmlTest, StartUpWithoutTheFile) {
    auto log = startUpWithFile("cfg/other.xml", "<x/>");
    EXPECT_TRUE(logContains(log, "can configuration file 'cfg:/CAN.xml' not found"));
    EXPECT_TRUE(logContains(log, "CanVoz_init(): cfg:/CAN.xml not found, no CAN In/Out"));
    EXPECT_TRUE(meas_man_CanIO_is_initialized());
}

// A CAN.xml that is there but broken, empty, too large or a link that leads
// nowhere names the file and the cause, never "not found".
TEST_F(CanXmlTest, StartUpWithABrokenEmptyOrHugeFileNamesIt) {
    auto log = startUpWithFile("cfg/CAN.xml", "\x01garbage");
    EXPECT_TRUE(logContains(log, "XmlCanIOParse(): xml config parse error: not well-formed (invalid token) in line 1 "
                                 "column 1 of cfg:/CAN.xml"));
    const std::pair<long, std::string> files[] = {
        {0, "can configuration file 'cfg:/CAN.xml' is empty"},
        {70000000, "can configuration file 'cfg:/CAN.xml' is too large (70000000 bytes)"},
    };
    for (const auto& [size, says] : files) {
        writeFile("cfg/CAN.xml", "");
        std::filesystem::resize_file(dir + "/cfg/CAN.xml", size);   // sparse
        CanIn_initConfig();
        CanOut_initConfig();
        can_voz_ini();
        can_voz_wait();
        log = takeLogTexts();
        EXPECT_TRUE(logContains(log, says)) << says;
        EXPECT_TRUE(logContains(log, "CanVoz_init(): cfg:/CAN.xml not read, no CAN In/Out")) << says;
        EXPECT_FALSE(logContains(log, "not found")) << says;
    }
    std::filesystem::remove(dir + "/cfg/CAN.xml");
    std::filesystem::create_symlink("CAN.xml", dir + "/cfg/CAN.xml");
    CanIn_initConfig();
    CanOut_initConfig();
    can_voz_ini();
    can_voz_wait();
    log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "can configuration file 'cfg:/CAN.xml' is a link loop"));
    EXPECT_TRUE(logContains(log, "CanVoz_init(): cfg:/CAN.xml not read, no CAN In/Out"));
    EXPECT_FALSE(logContains(log, "not found"));
}

TEST_F(CanXmlTest, StartUpFromCalibrationParameters) {
    CalPage& c = const_cast<CalPage&>(calActive());
    c.CfgMat_CanVersion = 4;
    c.CfgMat_CanIn_Mb_CanIntf[2] = 1;
    c.CfgMat_CanIn_Mb_CanID[2] = 0x80000042;
    c.CfgMat_CanIn_Ch_MsgInd[7] = 2;
    c.CfgMat_CanIn_Ch_data_pos[7] = 8;
    c.CfgMat_CanIn_Ch_data_format[7] = 16 | 0x40 | 0x100;   // 16 bits, signed, big-endian
    c.CfgMat_CanIn_Ch_timeout_ms[7] = 50;
    c.CfgMat_CanIn_Ch_timeout_value[7] = 0x1234;
    c.CfgMat_CanOut_Mb_CanIntf[0] = 0;
    c.CfgMat_CanOut_Mb_CanID[0] = 0x222;
    c.CfgMat_CanOut_Mb_CanDlc[0] = 3;
    c.CfgMat_CanOut_Mb_Event[0] = RASTER_50MS;
    c.CfgMat_CanOut_Mb_CounterStart[0] = 2;
    c.CfgMat_CanOut_Mb_CounterEnd[0] = 3;
    c.CfgMat_CanOut_Mb_ChksumType[0] = 10;
    c.CfgMat_CanOut_Mb_ChksumMask[0] = 0x07;
    c.CfgMat_CanOut_Ch_MsgInd[0] = 0;      // address 0: a constant, its mask the value
    c.CfgMat_CanOut_Ch_data_format[0] = 8;
    c.CfgMat_CanOut_Ch_data_pos[0] = 0;
    c.CfgMat_CanOut_Ch_mask[0] = 0x5A;
    c.CfgMat_CanOut_Ch_MsgInd[1] = 0;
    c.CfgMat_CanOut_Ch_RZ_type[1] = CANOUT_COUNTER;
    c.CfgMat_CanOut_Ch_data_format[1] = 4;
    c.CfgMat_CanOut_Ch_data_pos[1] = 8;
    c.CfgMat_CanOut_Ch_MsgInd[2] = 0;
    c.CfgMat_CanOut_Ch_RZ_type[2] = CANOUT_CHECKSUM;
    c.CfgMat_CanOut_Ch_data_format[2] = 8;
    c.CfgMat_CanOut_Ch_data_pos[2] = 16;
    can_voz_ini();
    EXPECT_TRUE(meas_man_CanIO_is_initialized());
    EXPECT_EQ(slot(7), 0x1234u);
    receive(1, frame(0x42 | host::CAN_EFF_FLAG, {0, 0xFF, 0xFE}));
    EXPECT_EQ(slot(7), 0xFFFFFFFEu);
    for (int i = 0; i < 5; ++i) CanOut_send_message(RASTER_50MS);
    auto f = sent();
    ASSERT_EQ(f.size(), 5u);
    // the counter runs 0, 1, then between its start 2 and end 3
    const uint8_t counts[] = {0, 1, 2, 3, 2};
    for (size_t i = 0; i < f.size(); ++i)
        EXPECT_EQ(bytesOf(f[i]), (std::vector<uint8_t>{0x5A, counts[i], uint8_t(0x5A + counts[i])})) << i;
}
