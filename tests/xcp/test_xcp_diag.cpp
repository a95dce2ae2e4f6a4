// Diagnostic services through the XCP user command: identification, life
// data, the error memory and setting the clock with an armed write.
#include <cstddef>
#include <cstring>
#include <mutex>

#include "host/kernel/kernel.h"
#include "measurement/signalpage.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "xcp/diag/diag_service.h"
#include "xcp_fixture.h"

namespace {

Bytes userCmd(uint16_t service) { return {0xF1, 0x20, uint8_t(service), uint8_t(service >> 8)}; }

// The date the slave's receive task handed over.
std::mutex gSinkMx;
date_t gSunk{};
int gSinkCalls = 0;
int gSinkResult = 1;
int sink(const date_t* d) {
    std::lock_guard<std::mutex> lk(gSinkMx);
    gSunk = *d;
    ++gSinkCalls;
    return gSinkResult;
}
int sinkCalls() {
    std::lock_guard<std::mutex> lk(gSinkMx);
    return gSinkCalls;
}

class XcpDiagTest : public XcpSlaveTest {
protected:
    void SetUp() override {
        // before the slave's task exists, which alone uses them afterwards
        diagService_reset();
        diagService_setTimeSink(sink);
        gSinkCalls = 0;
        gSinkResult = 1;
        std::memset(carid_voz_info, 0, sizeof carid_voz_info);
        XcpSlaveTest::SetUp();
        error_mgr_resetForTest();
        connect();
    }
    // Writes a signal-page word through the slave, as a tool would.
    void setSignal32(size_t offset, uint32_t v) {
        Bytes b;
        putLe32(b, v);
        ASSERT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | uint32_t(SERAM_SIGNAL_ADDR + offset), b)),
                  kOk);
    }
    void TearDown() override {
        diagService_setTimeSink(nullptr);
        error_mgr_resetForTest();
        XcpSlaveTest::TearDown();
    }
    // Runs a service and uploads the n bytes it announces.
    Bytes service(uint16_t id) {
        Bytes a = master->command(userCmd(id));
        if (a.size() != 3 || a[0] != 0xFF) return a;
        if (a[1] == 0) return {};
        Bytes up = master->command(XcpTestMaster::upload(a[1]));
        return up.empty() ? up : Bytes(up.begin() + 1, up.end());
    }
    static std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }
};

}  // namespace

TEST_F(XcpDiagTest, IdentificationServicesGiveVersionNamePartSerialAndEpk) {
    host::DeviceRecord r;
    std::memcpy(r.partNumber, "PN-4711-0815-ABC", 16);
    std::memcpy(r.serialNumber, "123 456789012345", 16);
    r.lifeTime = 0x01020304;
    r.maxTemperature = 85.4f;
    host::setDeviceRecord(r);

    EXPECT_EQ(master->command(userCmd(0x8000)), (Bytes{0xFF, 4, 0}));
    EXPECT_EQ(master->command(XcpTestMaster::upload(4)), (Bytes{0xFF, '1', '.', '8', 0}));
    EXPECT_EQ(service(0x8001), (Bytes{'T', 'A', 'V', '9', 0}));
    EXPECT_EQ(str(service(0x8002)), "PN-4711-0815-ABC");
    EXPECT_EQ(str(service(0x8003)), "123 456789012345");
    const std::string epk = seramGetEPKPtr();
    EXPECT_EQ(str(service(0x8004)), epk);
    EXPECT_EQ(str(service(0x8005)), epk);
    EXPECT_EQ(master->command(userCmd(0x8006)), (Bytes{0xFF, 0, 0}));
    EXPECT_EQ(service(0x8007), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(str(service(0x8008)), epk + "\nTAV9_123");
    EXPECT_EQ(service(0x8009), (Bytes{125}));

    r.maxTemperature = -55.0f;   // below -40: 0
    host::setDeviceRecord(r);
    EXPECT_EQ(service(0x8009), (Bytes{0}));
}

TEST(DiagCarId, ConfiguredTextOrProductAndSerialCutToTheBuffer) {
    host::resetForTest();
    std::strcpy(carid_voz_info, "CAR-42");
    char id[32];
    diagService_GetCarId(id, sizeof id);
    EXPECT_STREQ(id, "CAR-42");
    diagService_GetCarId(id, 4);
    EXPECT_STREQ(id, "CAR");
    std::memset(carid_voz_info, 0, sizeof carid_voz_info);
    diagService_GetCarId(id, sizeof id);
    EXPECT_STREQ(id, "TAV9_HOST00000001");
    diagService_GetCarId(id, 5);   // one byte of room after the designation: nothing added
    EXPECT_STREQ(id, "TAV9");
    diagService_GetCarId(id, 8);
    EXPECT_STREQ(id, "TAV9_HO");
}

TEST_F(XcpDiagTest, FileCountsClockAndUnknownServices) {
    setSignal32(offsetof(SignalPage, meas_maxFileCnt_part1), 300);
    setSignal32(offsetof(SignalPage, meas_maxFileCnt_usb), 0x01020304);
    EXPECT_EQ(service(0x8010), (Bytes{0, 0, 1, 0x2C}));
    EXPECT_EQ(service(0x8018), (Bytes{1, 2, 3, 4}));

    const date_t d{2030, 1, 2, 3, 4, 5, 0};
    ASSERT_EQ(rtc_writeAndSetSystemTime(&d), 1);
    struct timespec t;
    conv_date_to_time(&d, &t);
    Bytes rtc = service(0x808B);
    ASSERT_EQ(rtc.size(), 4u);
    uint32_t secs = uint32_t(rtc[0]) << 24 | uint32_t(rtc[1]) << 16 | uint32_t(rtc[2]) << 8 | rtc[3];
    EXPECT_LE(secs - uint32_t(t.tv_sec), 2u);

    takeLogTexts();
    EXPECT_EQ(master->command(userCmd(0x1234)), errorAnswer(0x21));
    EXPECT_EQ(master->command({0xF1, 0x21, 0x00, 0x80}), errorAnswer(0x21));   // another sub-command
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "diagService(): 1234 is an not supported service id!"));
    EXPECT_TRUE(logContains(log, "sub_command 0x21 not supported"));
    EXPECT_TRUE(logContains(log, "diagService() with serviceNumber 0x1234 returned an error"));
}

TEST_F(XcpDiagTest, ErrorMemoryIsReadInWholeEntriesAndCleared) {
    EXPECT_EQ(service(0x800B), (Bytes{0}));
    for (unsigned p = 0; p < 30; ++p) error_mgr_set(ERRMGR_PATH_DIRECT + p, 1, 0);
    EXPECT_EQ(service(0x800B), (Bytes{2}));
    // 30 entries are 360 bytes: the answer stops at the last whole entry that
    // its one-byte length can count
    Bytes a = master->command(userCmd(0x800A));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1], 21 * ERRMGR_ENTRY_SIZE);
    Bytes first = master->command(XcpTestMaster::upload(12));
    ASSERT_EQ(first.size(), 13u);
    EXPECT_EQ(first[1] | first[2] << 8, int(ERRMGR_PATH_DIRECT));
    EXPECT_EQ(service(0x800C), (Bytes{1}));

    EXPECT_EQ(master->command(userCmd(0x8040)), (Bytes{0xFF, 0, 0}));
    EXPECT_EQ(service(0x800B), (Bytes{0}));
}

TEST_F(XcpDiagTest, ArmedWriteSetsTheClockThroughTheTimeService) {
    EXPECT_EQ(master->command(userCmd(0x8020)), errorAnswer(0x21));   // nothing armed
    EXPECT_EQ(sinkCalls(), 0);

    EXPECT_EQ(master->command(userCmd(0x808C)), (Bytes{0xFF, 4, 0}));
    const uint32_t secs = 1937222430;   // 22.05.2031 13:20:30
    ASSERT_EQ(master->command(XcpTestMaster::download({uint8_t(secs >> 24), uint8_t(secs >> 16), uint8_t(secs >> 8),
                                                      uint8_t(secs)})),
              kOk);
    takeLogTexts();
    EXPECT_EQ(master->command(userCmd(0x8020)), (Bytes{0xFF, 0, 0}));
    ASSERT_EQ(sinkCalls(), 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "DIAG_SERVICE_SET_DATE_TIME: RTC set to 22.05.2031 13:20:30.000"));
    std::lock_guard<std::mutex> lk(gSinkMx);
    EXPECT_EQ(gSunk.year, 2031);
    EXPECT_EQ(gSunk.month, 5);
    EXPECT_EQ(gSunk.day, 22);
    EXPECT_EQ(gSunk.hour, 13);
    EXPECT_EQ(gSunk.minute, 20);
    EXPECT_EQ(gSunk.second, 30);
}

TEST_F(XcpDiagTest, ArmedWriteStaysArmedAndFailsWithTheTimeService) {
    EXPECT_EQ(master->command(userCmd(0x808C)), (Bytes{0xFF, 4, 0}));
    ASSERT_EQ(master->command(XcpTestMaster::download({0x70, 0, 0, 0})), kOk);
    takeLogTexts();
    EXPECT_EQ(master->command(userCmd(0x8020)), (Bytes{0xFF, 0, 0}));
    EXPECT_TRUE(logContains(takeLogTexts(), "DIAG_SERVICE_SET_DATE_TIME: RTC set to "));
    EXPECT_EQ(master->command(userCmd(0x8020)), (Bytes{0xFF, 0, 0}));   // the same buffer again
    EXPECT_EQ(sinkCalls(), 2);
    {
        std::lock_guard<std::mutex> lk(gSinkMx);
        gSinkResult = 0;
    }
    EXPECT_EQ(master->command(userCmd(0x8020)), errorAnswer(0x21));
}

// Both buffers can be used to their last byte, and not one byte beyond.
TEST(DiagBuffers, RangesEndAtTheBufferEnd) {
    EXPECT_TRUE(diagService_addrInUplBuf(DIAG_UPLOAD_BUFFER_ADDR, DIAG_UPLOAD_BUFFER_SIZE));
    EXPECT_TRUE(diagService_addrInUplBuf(DIAG_UPLOAD_BUFFER_ADDR + DIAG_UPLOAD_BUFFER_SIZE - 4, 4));
    EXPECT_FALSE(diagService_addrInUplBuf(DIAG_UPLOAD_BUFFER_ADDR + DIAG_UPLOAD_BUFFER_SIZE - 4, 5));
    EXPECT_FALSE(diagService_addrInUplBuf(DIAG_UPLOAD_BUFFER_ADDR - 1, 2));
    EXPECT_TRUE(diagService_addrInDwnBuf(DIAG_DOWNLOAD_BUFFER_ADDR + DIAG_DOWNLOAD_BUFFER_SIZE - 1, 1));
    EXPECT_FALSE(diagService_addrInDwnBuf(DIAG_DOWNLOAD_BUFFER_ADDR + DIAG_DOWNLOAD_BUFFER_SIZE, 1));
    EXPECT_FALSE(diagService_addrInDwnBuf(0xFFFFFFFFu, 2));
}
