// Calibration memory: protection, downloads, page switch, checksum, store and
// load of the reference page.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "measurement/calparams.h"
#include "log_capture.h"
#include "meas_fixture.h"

namespace {
// Bitwise CRC-16-CCITT (0x1021, start 0xFFFF), independent of the table code.
uint16_t refCrc(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}
const uint32_t kPcodeRef = calRefAddr(offsetof(CalPage, PCODE));
const uint32_t kPcodeWork = kPcodeRef + SERAM_WORKPAGE_ADDR;
}  // namespace

using SeramTest = MeasTest;

TEST_F(SeramTest, DownloadIntoReferencePageIsRefused) {
    uint16_t v = 0x4242;
    EXPECT_FALSE(seramDownload(kPcodeRef, &v, 2));
    // a range that starts before the working page and ends inside it starts in the reference page
    uint8_t buf[8] = {};
    EXPECT_FALSE(seramDownload(SERAM_WORKPAGE_ADDR - 4, buf, sizeof buf));
    EXPECT_FALSE(seramDownload(SERAM_SIZE - 2, buf, 4));          // beyond the memory
    EXPECT_FALSE(seramDownload(0xFFFFFFF0u, buf, 0x20));           // wraps around
    EXPECT_FALSE(seramDownload(SERAM_WORKPAGE_ADDR, nullptr, 4));
    EXPECT_EQ(PCODE(), 0x0001);
}

TEST_F(SeramTest, WorkingPageDownloadLandsAndPageSwitchActsAtOnce) {
    uint16_t v = 0x4242;
    ASSERT_TRUE(seramDownload(kPcodeWork, &v, 2));
    uint16_t back = 0;
    ASSERT_TRUE(seramReadMemory(&back, kPcodeWork, 2));
    EXPECT_EQ(back, 0x4242);
    EXPECT_EQ(PCODE(), 0x0001);   // reference page still active
    seramSetWorkpageActive();
    EXPECT_EQ(PCODE(), 0x4242);
    EXPECT_EQ(seramActiveOffset.load(), SERAM_WORKPAGE_ADDR);
    seramSetRefpageActive();
    EXPECT_EQ(PCODE(), 0x0001);
}

TEST_F(SeramTest, ChecksumMatchesIndependentCrcAndRefusesOutOfRange) {
    uint8_t data[64];
    for (int i = 0; i < 64; ++i) data[i] = uint8_t(i * 7 + 3);
    ASSERT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR + 100, data, sizeof data));
    EXPECT_EQ(seramBuildChksum(SERAM_WORKPAGE_ADDR + 100, sizeof data), refCrc(data, sizeof data));
    std::vector<uint8_t> page(SERAM_PAGE_SIZE);
    ASSERT_TRUE(seramReadMemory(page.data(), SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE));
    EXPECT_EQ(seramBuildChksum(SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE), refCrc(page.data(), page.size()));
    EXPECT_EQ(seramGetInfo()->checksum, refCrc(page.data(), page.size()));
    EXPECT_EQ(seramBuildChksum(SERAM_SIZE - 1, 2), 0);
    uint8_t b;
    EXPECT_FALSE(seramReadMemory(&b, SERAM_SIZE, 1));
    EXPECT_TRUE(seramVirtualAddrRangeIsReadAccessAllowed(SERAM_SIZE - 1, 1));
    EXPECT_FALSE(seramVirtualAddrRangeIsReadAccessAllowed(0xFFFFFFFFu, 2));
}

TEST_F(SeramTest, CopyPageIntoReferencePageAndEpkPosition) {
    uint16_t v = 0x0777;
    ASSERT_TRUE(seramDownload(kPcodeWork, &v, 2));
    EXPECT_TRUE(seramCopyPage(SERAM_REFPAGE_ADDR, SERAM_WORKPAGE_ADDR, SERAM_PAGE_SIZE));
    EXPECT_EQ(seramGetInfo()->refpageProtected, 1);
    EXPECT_EQ(PCODE(), 0x0777);
    EXPECT_FALSE(seramCopyPage(SERAM_SIZE - 8, SERAM_REFPAGE_ADDR, 16));
    EXPECT_FALSE(seramCopyPage(SERAM_REFPAGE_ADDR, SERAM_SIZE, 1));
    EXPECT_EQ(seramGetEPKPtr(), reinterpret_cast<const char*>(seramVirtToPtr(32)));
    EXPECT_STREQ(seramGetEPKPtr(), calActive().EPK);
    // the copy of the EPK is cut to its buffer, and an EPK that fills its
    // field without a terminating NUL is cut at the field's end
    char small[5];
    seramCopyEPK(small, sizeof small);
    EXPECT_STREQ(small, "TAV9");
    const std::string full(CAL_EPK_LEN, 'E');
    ASSERT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR + CAL_EPK_OFFSET, full.data(), CAL_EPK_LEN));
    seramSetWorkpageActive();
    char all[64];
    seramCopyEPK(all, sizeof all);
    EXPECT_EQ(std::string(all), full);
    seramSetRefpageActive();
    EXPECT_TRUE(seramVirtualAddrIsRefpage(0x1FFFF));
    EXPECT_FALSE(seramVirtualAddrIsRefpage(0x20000));
    EXPECT_TRUE(seramVirtualAddrIsWorkpage(0x20000));
}

namespace {
std::atomic<int> gStoreResult{-1};
std::atomic<uint32_t> gStoreWord{0};
void storeDone(int r, uint32_t w) {
    gStoreWord = w;
    gStoreResult = r;
}
}  // namespace

// A store copies the working page over the reference page while the logging,
// the display and the other tasks go on reading their parameters from it.
TEST_F(SeramTest, ParametersReadWhileAStoreCopiesThePageAreWholeValues) {
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            (void)DATADELAY();
            (void)PCODE();
            (void)FILEFRAGMENTATION_TIME();
            (void)OUTINGCTR_MODE();
            (void)FILEFRAGMENTATION_SIZE();
            (void)MEAS_APP_DEBUG();
            // a curve, the EPK and a checksum over the page the copy writes
            float row[6];
            calLoadTable(row, calActive().CL_DISP_BRIGHT_BG_row_);
            EXPECT_EQ(row[5], 100.0f);
            char epk[CAL_EPK_LEN + 1];
            seramCopyEPK(epk, sizeof epk);
            EXPECT_STREQ(epk, "TAV9_HOST_DEFAULT_DATASET_V1");
            (void)seramBuildChksum(SERAM_REFPAGE_ADDR, 256);
        }
    });
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(seramCopyPage(SERAM_REFPAGE_ADDR, SERAM_WORKPAGE_ADDR, SERAM_PAGE_SIZE));
    stop = true;
    reader.join();
}

TEST_F(SeramTest, ReferencePageIsStoredAndLoadedAgain) {
    uint16_t v = 0x0999;
    ASSERT_TRUE(seramDownload(kPcodeWork, &v, 2));
    ASSERT_TRUE(seramCopyPage(SERAM_REFPAGE_ADDR, SERAM_WORKPAGE_ADDR, SERAM_PAGE_SIZE));
    gStoreResult = -1;
    ASSERT_EQ(seramCopyRefToFlashpage(storeDone, 77), 1);
    seram_shutdown();   // waits for "r_seram"
    EXPECT_EQ(gStoreResult.load(), 1);
    EXPECT_EQ(gStoreWord.load(), 77u);
    ASSERT_EQ(seram_init(), 1);
    EXPECT_EQ(seramGetInfo()->refpageLoaded, 1);
    EXPECT_EQ(PCODE(), 0x0999);
}

TEST_F(SeramTest, ShortOrForeignFileGivesDefaults) {
    {
        std::ofstream f(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary);
        f << "short";
    }
    ASSERT_EQ(seram_init(), 1);
    EXPECT_EQ(seramGetInfo()->refpageLoaded, 0);
    EXPECT_EQ(PCODE(), 0x0001);
    {
        std::vector<char> junk(SERAM_PAGE_SIZE, 0x55);   // right size, wrong layout
        std::ofstream f(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary);
        f.write(junk.data(), junk.size());
    }
    ASSERT_EQ(seram_init(), 1);
    EXPECT_EQ(seramGetInfo()->refpageLoaded, 0);
    EXPECT_EQ(calActive().CL_DISP_BRIGHT_BG_row_[5], 100.0f);
    // a folder in its place (or any read error) gives defaults, not an abort
    std::filesystem::remove(dir + "/" + SERAM_REFPAGE_FILE);
    std::filesystem::create_directory(dir + "/" + SERAM_REFPAGE_FILE);
    takeLogTexts();
    ASSERT_EQ(seram_init(), 1);
    EXPECT_EQ(seramGetInfo()->refpageLoaded, 0);
    EXPECT_EQ(PCODE(), 0x0001);
    EXPECT_TRUE(logContains(takeLogTexts(), "calpage.bin is a folder, calibration defaults loaded"));
    // an empty file is named as such, a short one by its size
    std::filesystem::remove(dir + "/" + SERAM_REFPAGE_FILE);
    std::ofstream(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary).close();
    ASSERT_EQ(seram_init(), 1);
    EXPECT_EQ(seramGetInfo()->refpageLoaded, 0);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "seram_init(): calpage.bin is empty, calibration defaults loaded"));
    EXPECT_EQ(countContaining(log, "invalid"), 0);
}

namespace {
int gStops = 0;
uint32_t gAdaptAddr = 0;
void stopHook() { ++gStops; }
void adaptHook(uint32_t a, uint32_t) { gAdaptAddr = a; }
}  // namespace

TEST_F(SeramTest, DownloadToActivePageStartStopsSchedulerAndAdaptationIsHandedOn) {
    gStops = 0;
    seramSetAwmHooks(stopHook, adaptHook);
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR, b, 4));
    EXPECT_EQ(gStops, 0);   // the working page is not active
    seramSetWorkpageActive();
    EXPECT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR, b, 4));
    EXPECT_EQ(gStops, 1);
    EXPECT_TRUE(seramDownload(SERAM_ADAPT_ADDR + 8, b, 4));
    EXPECT_EQ(gAdaptAddr, SERAM_ADAPT_ADDR + 8);
    seramSetAwmHooks(nullptr, nullptr);
}

TEST_F(SeramTest, MeasurementHandlesResolveAddresses) {
    SeramMeasHandle h;
    EXPECT_EQ(seramMeasSetupMeas(SERAM_SIGNAL_ADDR, 3, &h, 4), 1);
    EXPECT_EQ(seramMeasSetupMeas(MEASADDR_CALMEM_LIMIT + 4, 3, &h, 4), 0);   // no conversion pages here
    EXPECT_EQ(seramMeasSetupMeas(SERAM_SIZE - 2, 3, &h, 4), 0);
    EXPECT_EQ(seramMeasSetupMeas(uint32_t(MEASADDR_CLASS_XCPMR) << 18, 3, &h, 4), 0);   // no resolver
    // calibration parameters follow the active page
    uint16_t v = 0x1111, out = 0;
    ASSERT_TRUE(seramDownload(kPcodeWork, &v, 2));
    ASSERT_EQ(seramMeasSetupMeas(kPcodeRef, 3, &h, 2), 1);
    seramSetWorkpageActive();
    seramMeasCopy(&out, 2, &h);
    EXPECT_EQ(out, 0x1111);
    // set up for one byte at the end, copied as four: nothing read beyond the memory
    ASSERT_EQ(seramMeasSetupMeas(SERAM_SIZE - 1, 3, &h), 1);
    uint32_t wide = 0xFFFFFFFF;
    seramMeasCopy(&wide, 4, &h);
    EXPECT_EQ(wide, 0u);
    seramMeasFreeMeas(&h);
    EXPECT_EQ(h.ptr, nullptr);
}
