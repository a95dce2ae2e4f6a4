// Reading, writing, paging and storing the calibration memory through the
// XCP slave.
#include <chrono>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/startup.h"
#include "xcp_fixture.h"

namespace {

// CRC-16-CCITT bit by bit: polynomial 0x1021, start 0xFFFF, no final XOR.
uint16_t crcCcittBitwise(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

Bytes okWith(const Bytes& data) {
    Bytes b(data.size() + 1, 0xFF);
    std::copy(data.begin(), data.end(), b.begin() + 1);
    return b;
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

Bytes memoryAt(uint32_t vaddr, size_t n) {
    Bytes b(n);
    EXPECT_TRUE(seramReadMemory(b.data(), vaddr, uint32_t(n)));
    return b;
}

}  // namespace

TEST_F(XcpSlaveTest, UploadsReadThePageAndRefuseBadSizesAndAddresses) {
    connect();
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(32, kPidBits | 0x20)), okWith(memoryAt(0x20, 32)));
    ASSERT_EQ(master->command(XcpTestMaster::setMta(kPidBits | 0x40)), kOk);
    EXPECT_EQ(master->command(XcpTestMaster::upload(254)), okWith(memoryAt(0x40, 254)));
    EXPECT_EQ(master->command(XcpTestMaster::upload(4)), okWith(memoryAt(0x40 + 254, 4)));   // MTA moved on
    EXPECT_EQ(master->command(XcpTestMaster::upload(255)), errorAnswer(0x22));
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(255, kPidBits | 0x40)), errorAnswer(0x22));
    // wrong extension or another device's PID: refused, the MTA stays
    EXPECT_EQ(master->command(XcpTestMaster::setMta(kPidBits | 0x1000, 1)), errorAnswer(0x22));
    EXPECT_EQ(master->command(XcpTestMaster::setMta((6u << 24) | 0x1000)), errorAnswer(0x22));
    EXPECT_EQ(master->command(XcpTestMaster::upload(2)), okWith(memoryAt(0x40 + 258, 2)));
    // beyond the calibration memory
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(8, kPidBits | (SERAM_SIZE - 4))), errorAnswer(0x25));
}

TEST_F(XcpSlaveTest, DownloadsLandOnTheWorkingPageAndNeverOnTheReferencePage) {
    connect();
    const uint32_t at = 0x300;
    const Bytes before = memoryAt(at, 8);
    // the reference page is active after start and write protected
    EXPECT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | at, {1, 2, 3, 4})), errorAnswer(0x24));
    ASSERT_EQ(master->command(XcpTestMaster::setMta(kPidBits | at)), kOk);
    EXPECT_EQ(master->command(XcpTestMaster::download({1, 2, 3, 4})), errorAnswer(0x24));
    EXPECT_EQ(memoryAt(at, 8), before);

    useWorkingPage();
    EXPECT_EQ(master->command({0xEA, 1, 0}), (Bytes{0xFF, 0, 0, 1}));
    EXPECT_EQ(master->command({0xEA, 3, 0}), errorAnswer(0x27));
    const Bytes big = pattern(247, 3);
    EXPECT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | at, big)), kOk);
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(247, kPidBits | at)), okWith(big));
    EXPECT_EQ(memoryAt(SERAM_WORKPAGE_ADDR + at, 247), big);
    EXPECT_EQ(memoryAt(at, 8), before);   // the reference page kept its data
    EXPECT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | at, pattern(248, 1))), errorAnswer(0x22));

    ASSERT_EQ(master->command(XcpTestMaster::setMta(kPidBits | 0x1000)), kOk);
    const Bytes most = pattern(253, 9);
    EXPECT_EQ(master->command(XcpTestMaster::download(most)), kOk);
    EXPECT_EQ(master->command(XcpTestMaster::download(pattern(254, 1))), errorAnswer(0x22));
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(253, kPidBits | 0x1000)), okWith(most));
}

TEST_F(XcpSlaveTest, ChecksumIsTheCrc16CcittOfTheRange) {
    connect();
    const uint32_t n = 0x1234;
    ASSERT_EQ(master->command(XcpTestMaster::setMta(kPidBits | 0x10)), kOk);
    Bytes cmd = {0xF3, 0, 0, 0};
    putLe32(cmd, n);
    Bytes a = master->command(cmd);
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a[1], 0x08);
    const Bytes mem = memoryAt(0x10, n);
    EXPECT_EQ(rdLe32(a, 4), crcCcittBitwise(mem.data(), mem.size()));
    Bytes beyond = {0xF3, 0, 0, 0};
    putLe32(beyond, SERAM_SIZE);
    EXPECT_EQ(master->command(beyond), errorAnswer(0x22));
}

TEST_F(XcpSlaveTest, PagingTablesAndPageCopies) {
    connect();
    EXPECT_EQ(master->command({0xE9}), (Bytes{0xFF, 1, 0x01}));
    Bytes start = master->command({0xE8, 0, 0, 0});
    ASSERT_EQ(start.size(), 8u);
    EXPECT_EQ(rdLe32(start, 4), kPidBits | SERAM_REFPAGE_ADDR);
    EXPECT_EQ(rdLe32(master->command({0xE8, 0, 0, 1}), 4), SERAM_PAGE_SIZE);
    EXPECT_EQ(master->command({0xE8, 1, 0, 0}), (Bytes{0xFF, 2, 0, 0, 0, 0}));
    EXPECT_EQ(master->command({0xE8, 2, 0, 0}), errorAnswer(0x22));
    EXPECT_EQ(master->command({0xE7, 0, 0, 0}), (Bytes{0xFF, 0, 0x0A, 0}));
    EXPECT_EQ(master->command({0xE7, 0, 0, 1}), (Bytes{0xFF, 0, 0x2A, 0}));
    EXPECT_EQ(master->command({0xE7, 0, 1, 0}), errorAnswer(0x28));
    EXPECT_EQ(master->command({0xEB, 0x83, 0, 2}), errorAnswer(0x26));
    EXPECT_EQ(master->command({0xEB, 0x83, 1, 0}), errorAnswer(0x28));

    useWorkingPage();
    ASSERT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | 0x80, {9, 9, 9, 9})), kOk);
    // onto the reference page: refused; onto the working page: copied
    EXPECT_EQ(master->command({0xE4, 0, 1, 0, 0}), errorAnswer(0x23));
    EXPECT_NE(memoryAt(0x80, 4), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(master->command({0xE4, 0, 0, 0, 2}), errorAnswer(0x26));
    EXPECT_EQ(master->command({0xE4, 1, 0, 0, 1}), errorAnswer(0x28));
    EXPECT_EQ(master->command({0xE4, 0, 0, 0, 1}), kOk);
    EXPECT_EQ(memoryAt(SERAM_WORKPAGE_ADDR + 0x80, 4), memoryAt(0x80, 4));
}

TEST_F(XcpSlaveTest, StoreRequestStoresTheWorkingPageAndStartsThePostRun) {
    SEM_ID postrun = semOpen("/SemPostDrive77", SEM_TYPE_BINARY, SEM_EMPTY, SEM_Q_FIFO, 0);
    ASSERT_NE(postrun, nullptr);
    connect();
    useWorkingPage();
    const Bytes data = pattern(64, 0x40);
    ASSERT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | 0x400, data)), kOk);

    // not frozen: refused, only the session configuration id is kept
    EXPECT_EQ(master->command({0xF9, 1, 0x34, 0x12}), errorAnswer(0x22));
    EXPECT_EQ(master->command({0xFD}), (Bytes{0xFF, 0, 0, 0, 0x34, 0x12}));
    EXPECT_EQ(master->command({0xF9, 2, 0, 0}), errorAnswer(0x22));
    EXPECT_EQ(awm_man_running(), 1);
    EXPECT_EQ(semTake(postrun, NO_WAIT), ERROR);

    ASSERT_EQ(master->command({0xE6, 1, 0}), kOk);
    EXPECT_EQ(master->command({0xE5, 0, 0}), (Bytes{0xFF, 0, 1}));
    EXPECT_EQ(master->command({0xF9, 1, 0x78, 0x56}), kOk);
    EXPECT_EQ(awm_man_running(), 0);
    EXPECT_EQ(memoryAt(0x400, 64), data);   // the working page became the reference page
    EXPECT_EQ(semTake(postrun, 3000), OK);   // one second after the store
    seram_shutdown();
    std::ifstream f(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary);
    Bytes stored((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(stored.size(), SERAM_PAGE_SIZE);
    EXPECT_EQ(Bytes(stored.begin() + 0x400, stored.begin() + 0x440), data);
    EXPECT_TRUE(logContains(takeLogTexts(), "xcpStoreCalReqCallback called, result is 0x00000001"));
    // the session goes on, but no new one is opened
    EXPECT_EQ(master->command({0xFD}), (Bytes{0xFF, 0, 0, 0, 0x78, 0x56}));
    EXPECT_TRUE(master->command({0xFF, 0}, 300).empty());
    semClose(postrun);
}

namespace {

// The log texts taken until one contains part (or a generous limit passes).
std::vector<std::string> logUntil(const std::string& part) {
    std::vector<std::string> texts;
    for (int i = 0; i < 1000 && !logContains(texts, part); ++i) {
        for (auto& t : takeLogTexts()) texts.push_back(t);
        if (!logContains(texts, part)) taskDelay(1);
    }
    return texts;
}

}  // namespace

TEST_F(XcpSlaveTest, FailedStoreKeepsTheWorkingPageAndLetsAToolStoreAgain) {
    SEM_ID postrun = semOpen("/SemPostDrive77", SEM_TYPE_BINARY, SEM_EMPTY, SEM_Q_FIFO, 0);
    ASSERT_NE(postrun, nullptr);
    connect();
    useWorkingPage();
    const Bytes data = pattern(64, 0x21);
    ASSERT_EQ(master->command(XcpTestMaster::shortDownload(kPidBits | 0x400, data)), kOk);
    ASSERT_EQ(master->command({0xE6, 1, 0}), kOk);

    // a folder where the page is written aside: the store fails with its cause named
    const std::string aside = dir + "/" + SERAM_REFPAGE_FILE + ".tmp";
    std::filesystem::create_directory(aside);
    takeLogTexts();
    EXPECT_EQ(master->command({0xF9, 1, 0x34, 0x12}), kOk);
    auto texts = logUntil("xcpStoreCalReqCallback called");
    EXPECT_TRUE(logContains(texts, "xcpStoreCalReqCallback called, result is 0x00000000"));
    EXPECT_TRUE(logContains(texts, std::string("cannot write ") + SERAM_REFPAGE_FILE + ": Is a directory"));
    // no shutdown follows; the good store's comes one second after its callback
    EXPECT_EQ(semTake(postrun, 3 * sysClkRateGet()), ERROR);
    EXPECT_FALSE(std::filesystem::exists(dir + "/" + SERAM_REFPAGE_FILE));

    // the session goes on with no store pending and the working page as written
    EXPECT_EQ(master->command({0xFD}), (Bytes{0xFF, 0, 0, 0, 0x34, 0x12}));
    EXPECT_EQ(master->command(XcpTestMaster::shortUpload(64, kPidBits | 0x400)), okWith(data));
    EXPECT_EQ(memoryAt(SERAM_WORKPAGE_ADDR + 0x400, 64), data);

    // a tool connects again and stores again, this time with room to write
    EXPECT_EQ(master->command({0xFE}), kOk);
    connect();
    std::filesystem::remove(aside);
    ASSERT_EQ(master->command({0xE6, 1, 0}), kOk);
    EXPECT_EQ(master->command({0xF9, 1, 0x78, 0x56}), kOk);
    EXPECT_EQ(semTake(postrun, 10 * sysClkRateGet()), OK);
    seram_shutdown();
    std::ifstream f(dir + "/" + SERAM_REFPAGE_FILE, std::ios::binary);
    Bytes stored((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(stored.size(), SERAM_PAGE_SIZE);
    EXPECT_EQ(Bytes(stored.begin() + 0x400, stored.begin() + 0x440), data);
    EXPECT_TRUE(master->command({0xFF, 0}, 300).empty());
    semClose(postrun);
}
