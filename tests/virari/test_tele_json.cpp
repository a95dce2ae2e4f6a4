// The modem's JSON: the reader, the conversions into variables, and the
// status line sent to the modem.
#include "virari/tele_fixture.h"

#include "log_capture.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "measurement/chandata.h"
#include "virari/telemetry/tele_json.h"

namespace {
std::vector<std::pair<std::string, std::string>> readAll(const std::string& text) {
    JsonParse p;
    p.setBuff(text.c_str(), text.size());
    std::vector<std::pair<std::string, std::string>> out;
    char k[100], v[100];
    while (p.getNext(k, sizeof k, v, sizeof v)) out.emplace_back(k, v);
    return out;
}

double readVar(const char* name) {
    double v = -1;
    const CatEntry* e = catalogue_find(name);
    if (!e || !catalogue_read(e, &v)) return -99999;
    return v;
}

// Reflected CRC-32 with polynomial 0xEDB88320, start 0, no final inversion.
uint32_t referenceCrc32Bsd(const std::string& s) {
    uint32_t crc = 0;
    for (unsigned char c : s) {
        crc ^= c;
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}
}  // namespace

TEST(TeleJson, PairsOfStringsNumbersAndOtherValues) {
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(readAll("{\"a\":\"x y\",\"b\":-12.5,\"c\":true}"), (P{{"a", "x y"}, {"b", "-12.5"}, {"c", ""}}));
    // The usual spacing reads like the compact form.
    EXPECT_EQ(readAll("junk { \"a\" : 1 ,\n \"b\": \"2\" }"), (P{{"a", "1"}, {"b", "2"}}));
    // Input that ends inside a string or number gives nothing for that pair.
    EXPECT_EQ(readAll("{\"a\":1,\"b\":\"open"), (P{{"a", "1"}}));
    EXPECT_EQ(readAll("{\"a\":12"), P{});
    EXPECT_EQ(readAll("no object"), P{});
    std::string longValue(150, 'v');
    auto cut = readAll("{\"k\":\"" + longValue + "\"}");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].second, std::string(99, 'v'));
}

TEST_F(TeleTest, ModemAnswersBecomeVariables) {
    addBlock(0, 4, 0);
    ASSERT_EQ(tele_app_start(&m), 1);
    // The receiver binds a moment after the start; repeat until it answers.
    UdpPort modem;
    std::string answer =
        "{\"plmn\":\"123-45\", \"cid\":\"1A2B\", \"band\":20, \"cpu_load\":37.5, \"ping\":48, "
        "\"rsrp\":-95, \"ethernet_in\":7, \"wan_out\":70000, \"unknown\":1}";
    for (int i = 0; i < 40 && readVar("tele_modem_plmn") != 123045; ++i) {
        modem.sendTo(rxPort, answer);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(readVar("tele_modem_plmn"), 123045);
    EXPECT_EQ(readVar("tele_modem_cid"), 0x1A2B);
    EXPECT_EQ(readVar("tele_modem_band"), 20);
    EXPECT_EQ(readVar("tele_modem_cpuLoad"), 75);
    EXPECT_EQ(readVar("tele_modem_ping"), 10);
    EXPECT_EQ(readVar("tele_modem_rsrp"), 5);
    EXPECT_EQ(readVar("tele_modem_ethIn"), 7);
    EXPECT_EQ(readVar("tele_modem_wanOut"), 65535);   // clamped
}

TEST_F(TeleTest, StatusLineReachesTheModemEverySecond) {
    const std::string qov = "[project]\nname=test\n";
    writeFile("cfg/qov.ini", qov);
    ChanData lap("lap", 0x40024, TE_FLOAT);
    info.lapDist = &lap;
    UdpPort modem;
    tele_setJsonPortsForTest(modem.port, rxPort);
    addBlock(0, 4, 0);
    ASSERT_EQ(tele_app_start(&m), 1);
    float d = 1234.6f;
    uint32_t raw;
    std::memcpy(&raw, &d, 4);
    lap.raw = raw;
    lap.valid = true;
    std::vector<uint8_t> line = modem.receive(2500);
    std::string text(line.begin(), line.end());
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "{\"lapdist\":1235,\"qov_ini_crc\":%u, \"prjcode\":%u, \"sw_id\":%u}",
                  unsigned(referenceCrc32Bsd(qov)), unsigned(info.projectCode), unsigned(info.softwareId));
    EXPECT_EQ(text, expected);
    tele_app_stop();
}

// An empty qov.ini is there but gives no checksum: it is named as empty, not
// as missing, and the status line goes without the checksum group.
TEST_F(TeleTest, AnEmptyQovIniIsNamedAsEmpty) {
    writeFile("cfg/qov.ini", "");
    ChanData lap("lap", 0x40024, TE_FLOAT);
    info.lapDist = &lap;
    UdpPort modem;
    tele_setJsonPortsForTest(modem.port, rxPort);
    addBlock(0, 4, 0);
    takeLogTexts();
    ASSERT_EQ(tele_app_start(&m), 1);
    lap.raw = 0;
    lap.valid = true;
    std::vector<uint8_t> line = modem.receive(2500);
    tele_app_stop();
    EXPECT_EQ(std::string(line.begin(), line.end()), "{\"lapdist\":0}");
    const std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "tele_task_JSON(): qov.ini is empty, no checksum sent")) << ::testing::PrintToString(log);
    EXPECT_FALSE(logContains(log, "NO qov.ini found"));
}
