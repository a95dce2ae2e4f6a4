// The unit id of a device folder: made once, kept across starts, never
// replaced, a damaged one refused as a broken ROM chip is.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"

namespace {

class UnitIdTest : public DeviceFolderTest {
protected:
    std::string content() {
        std::ifstream f(dir + "/unit.id", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // The ROM id as the kernel call reads it; false when the read fails.
    static bool readRom(uint8_t out[8]) {
        return host::rtpSyscall(1, reinterpret_cast<intptr_t>(out), 0, 0, 0, 0, 0, 0, host::SC_OW_ROMID) >= 0;
    }
};

TEST_F(UnitIdTest, MadeOnceKeptAcrossStartsAndOwnToEachFolder) {
    std::string why;
    ASSERT_EQ(host::loadUnitId(&why), host::UnitIdLoad::Made) << why;
    const std::string made = content();
    ASSERT_EQ(made.size(), 17u);
    EXPECT_EQ(made.substr(0, 2), "01");   // family code: a silicon serial number
    uint8_t first[8];
    ASSERT_TRUE(readRom(first));
    EXPECT_EQ(first[0], 0x01);
    struct stat before{};
    ASSERT_EQ(stat((dir + "/unit.id").c_str(), &before), 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/unit.id.tmp"));

    // the next start in the folder: the same unit
    host::resetForTest();
    ASSERT_EQ(host::loadUnitId(&why), host::UnitIdLoad::Read) << why;
    uint8_t again[8];
    ASSERT_TRUE(readRom(again));
    EXPECT_EQ(std::memcmp(first, again, 8), 0);
    struct stat after{};
    ASSERT_EQ(stat((dir + "/unit.id").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(content(), made);

    // another folder is another unit
    const std::string other = dir + "/other";
    std::filesystem::create_directory(other);
    host::setDeviceFolder(other);
    host::resetForTest();
    ASSERT_EQ(host::loadUnitId(&why), host::UnitIdLoad::Made) << why;
    uint8_t second[8];
    ASSERT_TRUE(readRom(second));
    EXPECT_NE(std::memcmp(first, second, 8), 0);
    host::setDeviceFolder(dir);
}

// A damaged id, or something else at its name, is named and left as it is:
// the ROM id then cannot be read.
TEST_F(UnitIdTest, DamagedOrForeignUnitIdIsNamedAndNeverReplaced) {
    struct Case { const char* what; std::function<void()> put; const char* words; };
    const Case cases[] = {
        {"cut", [&] { writeFile("unit.id", "01A2B3"); }, "unit.id is damaged (6 bytes, not 16 hexadecimal digits)"},
        {"no digits", [&] { writeFile("unit.id", "01A2B3C4D5E6F7zz\n"); }, "unit.id is damaged (no hexadecimal digit"},
        {"check byte", [&] { writeFile("unit.id", "01A2B3C4D5E6F700\n"); },
         "unit.id is damaged (its check byte does not match)"},
        {"empty", [&] { writeFile("unit.id", ""); }, "unit.id is empty"},
        {"folder", [&] { std::filesystem::create_directory(dir + "/unit.id"); }, "unit.id is a folder"},
        {"dangling link", [&] { ASSERT_EQ(symlink((dir + "/elsewhere").c_str(), (dir + "/unit.id").c_str()), 0); },
         "unit.id is a link that leads nowhere"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir + "/unit.id");
        c.put();
        const std::string was = std::filesystem::is_regular_file(dir + "/unit.id") ? content() : "";
        host::resetForTest();
        std::string why;
        EXPECT_EQ(host::loadUnitId(&why), host::UnitIdLoad::Failed);
        EXPECT_NE(why.find(c.words), std::string::npos) << why;
        uint8_t rom[8];
        EXPECT_FALSE(readRom(rom));
        if (std::filesystem::is_regular_file(dir + "/unit.id")) {
            EXPECT_EQ(content(), was);
        }
        EXPECT_FALSE(std::filesystem::exists(dir + "/elsewhere"));
        EXPECT_FALSE(std::filesystem::exists(dir + "/unit.id.tmp"));
    }
}

}  // namespace
