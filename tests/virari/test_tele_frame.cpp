// The telemetry frame as a receiver sees it on UDP.
#include "virari/tele_fixture.h"

#include "log_capture.h"
#include "measurement/chandata.h"

namespace {
struct Frame {
    std::vector<uint8_t> bytes;
    unsigned L() const { return bytes[3]; }
    unsigned fastLen() const { return bytes[4]; }
    unsigned slowId() const { return bytes[5]; }
    bool crcOk() const {
        if (bytes.size() < 8 || bytes.size() != L() + 2u) return false;
        uint16_t crc = referenceCrc16(bytes.data(), L());
        return bytes[L()] == (crc >> 8) && bytes[L() + 1] == (crc & 0xFF);
    }
};
}  // namespace

class TeleFrame : public TeleTest {
protected:
    Frame next() {
        korvaTele_func();
        return Frame{receiver.receive()};
    }
};

TEST_F(TeleFrame, LayoutLengthsCrcAndValues) {
    addBlock(0, 10, 0x10);
    addBlock(1, 20, 0x40);
    ASSERT_EQ(tele_app_start(&m), 1);
    Frame f = next();
    ASSERT_EQ(f.bytes.size(), 42u);
    EXPECT_TRUE(f.crcOk());
    EXPECT_EQ(f.bytes[0], 0x34);   // project code, least significant byte first
    EXPECT_EQ(f.bytes[1], 0x12);
    EXPECT_EQ(f.bytes[2], 0x42);
    EXPECT_EQ(f.L(), 40u);
    EXPECT_EQ(f.fastLen(), 14u);   // time stamp and 10 value bytes
    EXPECT_EQ(f.slowId(), 1u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(f.bytes[10 + i], 0x10 + i);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(f.bytes[20 + i], 0x40 + i);
    double state = 0;
    ASSERT_TRUE(catalogue_read(catalogue_find("telemetry_state"), &state));
    EXPECT_EQ(state, TELE_STATE_SENDING_UDP);
}

TEST_F(TeleFrame, SlowBlocksTakeTheirTurns) {
    addBlock(0, 4, 0);
    addBlock(1, 2, 0);
    addBlock(5, 3, 0);
    ASSERT_EQ(tele_app_start(&m), 1);
    std::vector<unsigned> ids;
    for (int i = 0; i < 10; ++i) {
        Frame f = next();
        ASSERT_TRUE(f.crcOk());
        ids.push_back(f.slowId());
        EXPECT_EQ(f.L(), 14u + (f.slowId() == 1 ? 2 : 3));
    }
    EXPECT_EQ(ids, (std::vector<unsigned>{1, 5, 5, 5, 5, 1, 5, 5, 5, 5}));
}

TEST_F(TeleFrame, WithoutSlowBlocksEveryFrameHasIdZero) {
    addBlock(0, 6, 0);
    addBlock(0, 5, 0);   // a second fast block follows the first
    ASSERT_EQ(tele_app_start(&m), 1);
    for (int i = 0; i < 3; ++i) {
        Frame f = next();
        ASSERT_TRUE(f.crcOk());
        EXPECT_EQ(f.slowId(), 0u);
        EXPECT_EQ(f.L(), 10u + 11u);
    }
}

TEST_F(TeleFrame, ValuesOfAnOfflineDeviceOrWithoutRecordAreZeros) {
    addBlock(0, 4, 0x11, 70);          // PIDs of 64 and above are never online
    MeasBlock* none = addBlock(1, 4, 0x22);
    none->teleState = 0;               // no record yet
    ASSERT_EQ(tele_app_start(&m), 1);
    Frame f = next();
    ASSERT_TRUE(f.crcOk());
    EXPECT_EQ(f.L(), 18u);
    for (int i = 10; i < 18; ++i) EXPECT_EQ(f.bytes[i], 0) << i;
}

TEST_F(TeleFrame, StartConditionSwitchesTheTelemetry) {
    ChanData cond("cond", 0x40029, TE_FLOAT);
    info.startCond = &cond;
    addBlock(0, 4, 0);
    ASSERT_EQ(tele_app_start(&m), 1);
    auto setCond = [&](float v) {
        uint32_t raw;
        std::memcpy(&raw, &v, 4);
        cond.raw = raw;
        cond.valid = true;
    };
    double state = 0;
    setCond(0.4f);
    EXPECT_EQ(korvaTele_func(), 10);
    ASSERT_TRUE(catalogue_read(catalogue_find("telemetry_state"), &state));
    EXPECT_EQ(state, TELE_STATE_INACTIVE);
    EXPECT_TRUE(receiver.receive(50).empty());
    setCond(0.6f);
    korvaTele_func();
    EXPECT_FALSE(receiver.receive().empty());
    tele_app_stop();   // before the channel goes out of scope
}

TEST_F(TeleFrame, FrameThatCannotFitTheLengthByteIsRefused) {
    addBlock(0, 200, 0);
    addBlock(3, 60, 0);
    takeLogTexts();
    EXPECT_EQ(tele_app_start(&m), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "telemetry refused"));
    EXPECT_EQ(tele_func(), 1000);      // nothing installed
    EXPECT_TRUE(receiver.receive(50).empty());
}

TEST_F(TeleFrame, OnlyProtocolOneIsTelemetry) {
    addBlock(0, 4, 0);
    config.protocol = 0;
    EXPECT_EQ(tele_app_start(&m), 0);
    config.protocol = 2;
    takeLogTexts();
    EXPECT_EQ(tele_app_start(&m), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "Found no configuration for KORVA telemetry!"));
    EXPECT_EQ(tele_app_start(nullptr), 0);
}

TEST(TelePeriods, SerialAndUdpFormulas) {
    EXPECT_EQ(tele_serialPeriod(42, 115200, 0), 40);    // the minimum
    EXPECT_EQ(tele_serialPeriod(257, 9600, 5), 305);    // (257000 + 3000) / 872 + 5 + 2
    EXPECT_EQ(tele_serialPeriod(42, 10, 0), 1000);      // no division by zero
    EXPECT_EQ(tele_udpPeriod(12, 16, 2, 8), 32);        // (16 + 2 x 24) x 8 / (8 x 2)
    EXPECT_EQ(tele_udpPeriod(0, 0, 0, 100), 10);        // at least 10 ms
    EXPECT_EQ(tele_udpPeriod(12, 16, 2, 0), 1000);
}

#include <fstream>
#include <sstream>

#include "logging/cfg_ptr.h"
#include "logging/config/meas_app_xml_load.h"

TEST_F(TeleFrame, SampleConfigurationSendsFramesOfItsBlocks) {
    const char* src = std::getenv("TAV9_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::ifstream in(std::string(src) + "/sample/cfg/m02.xml");
    std::stringstream text;
    text << in.rdbuf();
    CfgPtr cfg{meas_app_xml_load(MEAS_IDX_M02, text.str().c_str(), nullptr)};
    ASSERT_NE(cfg.p, nullptr);
    ASSERT_NE(cfg->teleInfo, nullptr);
    ASSERT_EQ(cfg->numBlocks, 3);
    for (unsigned i = 0; i < cfg->numBlocks; ++i) {
        BlkInfo& b = cfg->blocks[i];
        MeasBlock* mb = addBlock(b.teleBlockId, b.recordSize - 4, uint8_t(i));
        mb->config = &b;
    }
    cfg->teleInfo->port = receiver.port;   // the test listens in place of the receiver
    m.config = cfg.p;
    ASSERT_EQ(tele_app_start(&m), 1);
    std::vector<unsigned> ids;
    for (int i = 0; i < 4; ++i) {
        Frame f = next();
        ASSERT_TRUE(f.crcOk());
        EXPECT_EQ(f.fastLen(), 16u);   // time stamp and three floats
        ids.push_back(f.slowId());
    }
    EXPECT_EQ(ids, (std::vector<unsigned>{1, 2, 1, 2}));
    tele_app_stop();
}
