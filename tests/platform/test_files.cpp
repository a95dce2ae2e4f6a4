// File helpers on device and host paths, path splitting and tail copies.
#include "platform/files.h"

#include "platform_fixture.h"

#include <cstdlib>
#include <ctime>
#include <fstream>

using Files = PlatformTest;

TEST_F(Files, DevicePathsReachTheDriveFolders) {
    writeFile("cfg/m01.xml", "<a/>");
    EXPECT_EQ(fexist("cfg:/m01.xml"), 1);
    EXPECT_EQ(fexist("cfg:m01.xml"), 1);
    EXPECT_EQ(fsize("cfg:/m01.xml"), 4);
    EXPECT_EQ(fexist((dir + "/cfg/m01.xml").c_str()), 1);   // host path
    EXPECT_EQ(fexist("cfg:/missing.xml"), 0);
    EXPECT_EQ(fexist("nodrive:/m01.xml"), 0);
    EXPECT_EQ(fexist(nullptr), 0);
    EXPECT_EQ(fsize(nullptr), 0);
    EXPECT_EQ(fsize("cfg:/missing.xml"), 0);
    FILE* f = dev_fopen("cfg:/new.txt", "w");
    ASSERT_NE(f, nullptr);
    fputs("abc", f);
    fclose(f);
    EXPECT_EQ(readFile("cfg/new.txt"), "abc");
    EXPECT_EQ(driveAvailable("cfg:"), 0);
    EXPECT_EQ(driveAvailable("usb_meas:"), -1);
    EXPECT_EQ(driveAvailable(nullptr), -1);
}

TEST_F(Files, FloadGivesTerminatedCopyOrLoggedNull) {
    std::string content("x\0y", 3);
    content += std::string(5000, 'z');
    writeFile("cfg/qov.ini", content);
    size_t len = 99;
    char* buf = fload("cfg:/qov.ini", &len);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(len, content.size());
    EXPECT_EQ(std::string(buf, len), content);
    EXPECT_EQ(buf[len], 0);
    free(buf);

    len = 99;
    EXPECT_EQ(fload("cfg:/none.ini", &len), nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_TRUE(logContains(takeLogTexts(), "fload() fsize failed, could not read file 'cfg:/none.ini'"));
    EXPECT_EQ(fload(nullptr, nullptr), nullptr);
    // A directory is not a file to load.
    EXPECT_EQ(fload("cfg:", &len), nullptr);

    writeFile("cfg/empty.ini", "");
    buf = fload("cfg:/empty.ini", &len);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(buf[0], 0);
    free(buf);
}

// A path that is no plain file is never waited on: fexist and fsize see no
// file there, fload names it as what it is; fload keeps to the one size limit.
TEST_F(Files, FilesThatAreNoPlainFileAreNeverWaitedOnAndNamed) {
    std::filesystem::create_directories(dir + "/cfg");
    makeFifo("cfg/qov.ini");
    int exists = -1;
    long size = -1;
    size_t len = 99;
    char* buf = nullptr;
    EXPECT_TRUE(returnsBesideFifo("cfg/qov.ini", [&] { exists = fexist("cfg:/qov.ini"); }));
    EXPECT_TRUE(returnsBesideFifo("cfg/qov.ini", [&] { size = fsize("cfg:/qov.ini"); }));
    EXPECT_TRUE(returnsBesideFifo("cfg/qov.ini", [&] { buf = fload("cfg:/qov.ini", &len); }));
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_TRUE(logContains(takeLogTexts(), "fload() file 'cfg:/qov.ini' is a FIFO, not read"));

    std::filesystem::remove(dir + "/cfg/qov.ini");
    std::filesystem::create_directory(dir + "/cfg/qov.ini");
    EXPECT_EQ(fload("cfg:/qov.ini", &len), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "fload() file 'cfg:/qov.ini' is a folder, not read"));
    EXPECT_EQ(fexist("cfg:/qov.ini"), 0);
    std::filesystem::remove(dir + "/cfg/qov.ini");
    std::filesystem::create_symlink("qov.ini", dir + "/cfg/qov.ini");
    EXPECT_EQ(fload("cfg:/qov.ini", &len), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "fload() file 'cfg:/qov.ini' is a link loop, not read"));

    // past the limit (sparse): there, but not loaded
    std::filesystem::remove(dir + "/cfg/qov.ini");
    writeFile("cfg/qov.ini", "");
    std::filesystem::resize_file(dir + "/cfg/qov.ini", 17u * 1024u * 1024u);
    EXPECT_EQ(fexist("cfg:/qov.ini"), 1);
    EXPECT_EQ(fload("cfg:/qov.ini", &len), nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_TRUE(logContains(takeLogTexts(), "fload() file 'cfg:/qov.ini' is too large (17825792 bytes), not read"));
}

TEST(PathSplit, SeparatorsColonsAndNeither) {
    char drive[16], file[16];
    measPathSplitn("meas:/dir/log.txt", drive, file, sizeof drive);
    EXPECT_STREQ(drive, "meas:/dir");
    EXPECT_STREQ(file, "log.txt");
    measPathSplitn("c:\\psts\\a.xml", drive, file, sizeof drive);
    EXPECT_STREQ(drive, "c:\\psts");
    EXPECT_STREQ(file, "a.xml");
    measPathSplitn("cfg:m01.xml", drive, file, sizeof drive);
    EXPECT_STREQ(drive, "cfg:");
    EXPECT_STREQ(file, "m01.xml");
    measPathSplitn("plain", drive, file, sizeof drive);
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(file, "plain");
    measPathSplitn("meas:/dir/", drive, file, sizeof drive);
    EXPECT_STREQ(drive, "meas:/dir");
    EXPECT_STREQ(file, "");
    measPathSplitn(nullptr, drive, file, sizeof drive);
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(file, "");
}

TEST(PathSplit, OutputsNeverOverrun) {
    char drive[8 + 4], file[8 + 4];
    memset(drive, '#', sizeof drive);
    memset(file, '#', sizeof file);
    measPathSplitn("usb_meas:/long_directory/long_file_name.dat", drive, file, 8);
    EXPECT_STREQ(drive, "usb_mea");
    EXPECT_STREQ(file, "long_fi");
    EXPECT_EQ(drive[8], '#');
    EXPECT_EQ(file[8], '#');
}

TEST(StrncpyTail, KeepsTheTailOfLongTexts) {
    char field[8];
    strncpy_tail(field, "short", sizeof field);
    EXPECT_STREQ(field, "short");
    strncpy_tail(field, "1234567", sizeof field);
    EXPECT_STREQ(field, "1234567");
    strncpy_tail(field, "meas:/abcdefgh.dat", sizeof field);
    EXPECT_STREQ(field, "fgh.dat");
    EXPECT_EQ(strlen(field), 7u);
    strncpy_tail(field, "0123456789", sizeof field);
    EXPECT_STREQ(field, "3456789");
    strncpy_tail(field, nullptr, sizeof field);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(strncpy_tail(nullptr, "x", 4), nullptr);
}

// drive_format.cfg keeps the sizes the drives were formatted for; one that is
// there but unusable is a warning naming it and what is ignored, once per
// fault however often the drives are asked.
TEST_F(Files, ADamagedDriveFormatFileIsAWarningOncePerFault) {
    std::filesystem::create_directories(dir + "/meas");
    uint32_t used = 0, total = 0;
    auto ask = [&] {
        EXPECT_EQ(driveFileStatistics("meas:", &used, &total), 0);
        EXPECT_EQ(driveFileStatistics("meas:", &used, &total), 0);
        return takeTextsAtSeverity(4);
    };
    EXPECT_TRUE(ask().empty()) << "a missing file: nothing formatted yet";
    writeFile("drive_format.cfg", "meas: 1000\n");
    EXPECT_TRUE(ask().empty());
    EXPECT_EQ(total, 1000u);
    writeFile("drive_format.cfg", "\x01\x02garbage\nmeas: 1000\nmeas2 -5\n");
    EXPECT_EQ(ask(), std::vector<std::string>{"driveFileStatistics: drive_format.cfg: 2 unusable lines ignored "
                                              "(the first is line 1)"});
    EXPECT_EQ(total, 1000u);   // the good line still counts
    writeFile("drive_format.cfg", "");
    EXPECT_EQ(ask(), std::vector<std::string>{"driveFileStatistics: drive_format.cfg is empty: no drive counts as "
                                              "formatted"});
    std::filesystem::remove(dir + "/drive_format.cfg");
    std::filesystem::create_directory(dir + "/drive_format.cfg");
    EXPECT_EQ(ask(), std::vector<std::string>{"driveFileStatistics: drive_format.cfg is a folder: no drive counts "
                                              "as formatted"});
    // a NUL byte is named where it stands, and its line is not used
    std::filesystem::remove(dir + "/drive_format.cfg");
    writeFile("drive_format.cfg", std::string("meas2: 7\nmeas: 1000\0\n", 21));
    EXPECT_EQ(ask(), std::vector<std::string>{"driveFileStatistics: drive_format.cfg: NUL byte in line 2 column 11; 1 "
                                              "unusable line ignored (the first is line 2)"});
    EXPECT_NE(total, 1000u);
}

// A drive_format.cfg that is a link that leads nowhere is named as such, and
// a format never puts a file of its own in its place.
TEST_F(Files, ADriveFormatFileThatLeadsNowhereIsNamedAndKept) {
    std::filesystem::create_directories(dir + "/meas");
    const std::string path = dir + "/drive_format.cfg";
    uint32_t used = 0, total = 0;
    for (const auto& [target, says] : {std::pair<std::string, std::string>{"drive_format.cfg", "is a link loop"},
                                       {"gone.cfg", "is a link that leads nowhere"}}) {
        std::filesystem::remove(path);
        std::filesystem::create_symlink(target, path);
        EXPECT_EQ(driveFileStatistics("meas:", &used, &total), 0);
        EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"driveFileStatistics: drive_format.cfg " + says +
                                                                   ": no drive counts as formatted"});
        EXPECT_FALSE(host::setDriveDirectorySize("meas:", 1000));
        EXPECT_TRUE(std::filesystem::is_symlink(path)) << says;
        EXPECT_EQ(std::filesystem::read_symlink(path), target);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

// drive_format.cfg is parsed once while it does not change (the same file,
// size and time); a file past the one size limit is named and not read.
TEST_F(Files, ADriveFormatFileIsParsedOnceWhileItDoesNotChange) {
    std::filesystem::create_directories(dir + "/meas");
    const std::string path = dir + "/drive_format.cfg";
    auto setTime = [&](time_t t) {
        const timespec times[2] = {{t, 0}, {t, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    uint32_t used = 0, total = 0;
    writeFile("drive_format.cfg", "meas: 1000\n");
    const time_t earlier = time(nullptr) - 3600;
    setTime(earlier);
    ASSERT_EQ(driveFileStatistics("meas:", &used, &total), 0);
    EXPECT_EQ(total, 1000u);
    {   // other bytes in the same file, of the same size and time: not read again
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f << "meas: 2000\n";
    }
    setTime(earlier);
    ASSERT_EQ(driveFileStatistics("meas:", &used, &total), 0);
    EXPECT_EQ(total, 1000u);
    setTime(earlier + 1);
    ASSERT_EQ(driveFileStatistics("meas:", &used, &total), 0);
    EXPECT_EQ(total, 2000u);
    takeLogTexts();

    std::filesystem::resize_file(path, 16u * 1024u * 1024u + 1);
    ASSERT_EQ(driveFileStatistics("meas:", &used, &total), 0);
    EXPECT_NE(total, 2000u);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"driveFileStatistics: drive_format.cfg is too large "
                                                               "(16777217 bytes): no drive counts as formatted"});
}
