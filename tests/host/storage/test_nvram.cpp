// NVRAM database: persistence, element sizes and copies, damaged files.
#include "host/device_fixture.h"

#include <filesystem>
#include <cstring>
#include <vector>

namespace {

using NvramTest = DeviceFolderTest;

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::vector<uint8_t>& data, size_t len) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(len));
}

TEST_F(NvramTest, PersistsAcrossReloadPerCopy) {
    const uint8_t a[6] = {1, 0, 2, 0, 3, 0};
    const uint8_t b[6] = {9, 9, 9, 9, 9, 9};
    uint8_t out[6] = {};
    EXPECT_EQ(host::nvramRead(0, 0, out, 6), -1);   // never written
    EXPECT_EQ(host::nvramWrite(0, 0, a, 6), 6);
    EXPECT_EQ(host::nvramWrite(0, 1, b, 6), 6);
    host::nvramReload();
    EXPECT_EQ(host::nvramRead(0, 0, out, 6), 6);
    EXPECT_EQ(0, memcmp(out, a, 6));
    EXPECT_EQ(host::nvramRead(0, 1, out, 6), 6);
    EXPECT_EQ(0, memcmp(out, b, 6));
    EXPECT_EQ(host::nvramRead(0, 2, out, 6), -1);   // element 0 has two copies
    EXPECT_EQ(host::nvramWrite(1, 1, a, 4), -1);
    EXPECT_EQ(host::nvramRead(0, 0, nullptr, 6), 0);
}

TEST_F(NvramTest, LengthsAreCutToTheElement) {
    EXPECT_EQ(host::nvramElementSize(0), 6u);
    EXPECT_EQ(host::nvramElementCopies(0), 2u);
    EXPECT_EQ(host::nvramElementSize(2), 6u);
    EXPECT_EQ(host::nvramElementCopies(2), 256u);
    EXPECT_EQ(host::nvramElementSize(8), 1u);
    EXPECT_EQ(host::nvramElementSize(261), 2u);
    uint8_t big[32];
    for (int i = 0; i < 32; ++i) big[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(host::nvramWrite(261, 0, big, sizeof big), 2);
    uint8_t out[32] = {};
    EXPECT_EQ(host::nvramRead(261, 0, out, sizeof out), 2);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 0);
    // a short write of a fixed-size element keeps its size
    EXPECT_EQ(host::nvramWrite(1, 0, big, 2), 2);
    EXPECT_EQ(host::nvramRead(1, 0, out, sizeof out), 4);
    EXPECT_EQ(host::nvramRead(1, 0, out, 1), 1);
}

TEST_F(NvramTest, UnknownIdsAreAcceptedUpToTheirLimit) {
    std::vector<uint8_t> data(host::kNvramUnknownMaxSize + 10, 0x5A);
    EXPECT_EQ(host::nvramWrite(1000, 3, data.data(), 10), 10);
    std::vector<uint8_t> out(data.size());
    EXPECT_EQ(host::nvramRead(1000, 3, out.data(), out.size()), 10);
    EXPECT_EQ(host::nvramWrite(1000, 3, data.data(), data.size()), static_cast<long>(host::kNvramUnknownMaxSize));
    host::nvramReload();
    EXPECT_EQ(host::nvramRead(1000, 3, out.data(), out.size()), static_cast<long>(host::kNvramUnknownMaxSize));
    EXPECT_EQ(host::nvramWrite(70000, 0, data.data(), 4), -1);
    EXPECT_EQ(host::nvramWrite(1000, host::kNvramUnknownMaxCopies, data.data(), 4), -1);
}

// Two writes leave two slots: the newer and the older. Every cut of the file
// and every damaged byte gives the newer value, the older value or -1.
TEST_F(NvramTest, DamagedFileFallsBackToOlderSlot) {
    const uint8_t older[2] = {0x11, 0x11};
    const uint8_t newer[2] = {0x22, 0x22};
    const uint8_t other[4] = {1, 2, 3, 4};
    ASSERT_EQ(host::nvramWrite(261, 0, older, 2), 2);
    ASSERT_EQ(host::nvramWrite(1, 0, other, 4), 4);
    ASSERT_EQ(host::nvramWrite(261, 0, newer, 2), 2);
    ASSERT_TRUE(host::nvramFlush());
    const std::string path = dir + "/nvram.bin";
    const std::vector<uint8_t> good = readAll(path);
    ASSERT_FALSE(good.empty());

    int sawOlder = 0;
    for (size_t cut = 0; cut <= good.size(); ++cut) {
        writeAll(path, good, cut);
        host::nvramReload();
        uint8_t out[2] = {};
        long n = host::nvramRead(261, 0, out, 2);
        if (n == 2) {
            EXPECT_TRUE(out[0] == 0x22 || out[0] == 0x11) << "cut " << cut;
            sawOlder += out[0] == 0x11;
        } else {
            EXPECT_EQ(n, -1) << "cut " << cut;
        }
    }
    EXPECT_GT(sawOlder, 0);

    for (size_t pos = 0; pos < good.size(); ++pos) {
        std::vector<uint8_t> bad = good;
        bad[pos] ^= 0x40;
        writeAll(path, bad, bad.size());
        host::nvramReload();
        uint8_t out[2] = {};
        long n = host::nvramRead(261, 0, out, 2);
        if (n == 2) EXPECT_TRUE(out[0] == 0x22 || out[0] == 0x11) << "byte " << pos;
        else EXPECT_EQ(n, -1) << "byte " << pos;
    }

    // after damage a write still works and becomes the newest value
    writeAll(path, good, good.size() / 2);
    host::nvramReload();
    const uint8_t third[2] = {0x33, 0x33};
    EXPECT_EQ(host::nvramWrite(261, 0, third, 2), 2);
    host::nvramReload();
    uint8_t out[2] = {};
    EXPECT_EQ(host::nvramRead(261, 0, out, 2), 2);
    EXPECT_EQ(out[0], 0x33);
}

TEST_F(NvramTest, GarbageFileReadsAsUnwritten) {
    writeFile("nvram.bin", std::string(3000, '\xff') + "NV" + std::string(100, '\0'));
    uint8_t out[6];
    EXPECT_EQ(host::nvramRead(0, 0, out, 6), -1);
    EXPECT_EQ(host::nvramWrite(0, 0, out, 6), 6);
    ASSERT_TRUE(host::nvramFlush());
    std::filesystem::remove(dir + "/nvram.bin");
    host::nvramReload();
    EXPECT_EQ(host::nvramRead(0, 0, out, 6), -1);
}

TEST_F(NvramTest, WriteFailsWhenFolderIsGone) {
    host::setDeviceFolder(dir + "/missing");
    uint8_t v = 3;
    EXPECT_EQ(host::nvramWrite(8, 0, &v, 1), 1);
    EXPECT_FALSE(host::nvramFlush());
    EXPECT_EQ(host::nvramWriteProblem(), "nvram.bin.tmp: No such file or directory");
    host::nvramReload();   // a restart: what was not written is gone
    EXPECT_EQ(host::nvramRead(8, 0, &v, 1), -1);
    host::setDeviceFolder(dir);
}

}  // namespace
