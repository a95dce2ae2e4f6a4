// Logging drives at boot and beyond: the debounce arithmetic, the
// measurement index check, boot preparation with its format requests, the
// drive part of a path and the copy of a finished file to the USB drive.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "host/kernel/kernel.h"
#include "host/kernel/kernel_internal.h"
#include "host/os/os_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/drives/copy_pending.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "log_capture.h"
#include "logging/logging_fixture.h"
#include "measurement/signalpage.h"
#include "platform/files.h"
#include "platform/io.h"
#include "platform/syslogx.h"

namespace {

class MeasDisks : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        cfg_meas_applyTargetPartition(1);
        meas_app_setDriveDebounce(1, 0);
    }
    void TearDown() override {
        host::stopFormatService();
        meas_app_setDriveDebounce(1, 0);
        meas_app_setCopyStartDelay(5);
        LoggingTest::TearDown();
    }
    uint32_t folderDirectorySize() {
        struct statvfs st{};
        EXPECT_EQ(statvfs(dir.c_str(), &st), 0);
        return uint32_t(st.f_files);
    }
    std::string read(const std::string& rel) {
        std::ifstream f(dir + "/" + rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
};

}  // namespace

TEST_F(MeasDisks, DebounceCountsDownFromTheDrivesArrival) {
    meas_app_setDriveDebounce(1, 3000);
    makeDrive("usb_meas");
    int first = meas_app_driveAvDebounce("usb_meas:");
    EXPECT_GT(first, 2900);
    // the drive appeared 1200 ms ago
    cfg_meas_devHwInfo[1].availableSince.tv_sec -= 1;
    cfg_meas_devHwInfo[1].availableSince.tv_nsec -= 200000000;
    if (cfg_meas_devHwInfo[1].availableSince.tv_nsec < 0) {
        cfg_meas_devHwInfo[1].availableSince.tv_nsec += 1000000000;
        cfg_meas_devHwInfo[1].availableSince.tv_sec -= 1;
    }
    int left = meas_app_driveAvDebounce("usb_meas:");
    EXPECT_LE(left, 1800);
    EXPECT_GE(left, 1750);
    cfg_meas_devHwInfo[1].availableSince.tv_sec -= 2;
    EXPECT_EQ(meas_app_driveAvDebounce("usb_meas:"), 0);
}

TEST_F(MeasDisks, OnlyThreeMeasurementsHaveDrives) {
    makeDrive("cfg");
    makeDrive("meas");
    makeDrive("meas2");
    EXPECT_EQ(meas_app_DiskReady(2), 0);
    EXPECT_EQ(meas_app_DiskReady(3), -1);
    EXPECT_EQ(meas_app_DiskReady(0xFFFFFFFFu), -1);
}

TEST_F(MeasDisks, BootPreparationAsksToReformatADifferingDirectoryAndGoesOnAfterTheAnswer) {
    makeDrive("cfg");
    makeDrive("meas");
    makeDrive("meas2");
    const uint32_t size = folderDirectorySize();
    ASSERT_NE(size, 1000u);
    cal().MEAS_MAXFILECNT_PART1 = 1000;   // differs from what the drive has
    cal().MEAS_MAXFILECNT_PART2 = size;   // matches
    host::startFormatService();
    meas_led_clr_status(0x8000);
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    EXPECT_EQ(meas_led_get_status() & 0x8000, 0x8000u);
    const auto served = host::formatRequestsServed();
    ASSERT_EQ(served.size(), 1u);
    ASSERT_EQ(served[0].size(), 17u);
    EXPECT_EQ(served[0][0], 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(served[0].data() + 1)), "meas:");
    for (size_t i = 1 + 5; i < 17; ++i) EXPECT_EQ(served[0][i], 0) << i;
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_BootPrepareDisks_checkDir(meas:) should be reformated NOW: directory size " +
                                           std::to_string(int(size)) + " -> 1000 "));
    EXPECT_EQ(signalPage()->meas_maxFileCnt_part1, size);
    EXPECT_EQ(meas_app_formatSizeCode(339), 1);
    EXPECT_EQ(meas_app_formatSizeCode(340), 2);
    EXPECT_EQ(meas_app_formatSizeCode(10000000), 255);   // the largest one byte can ask for
}

TEST_F(MeasDisks, AFormattedDriveAnswersItsNewSizeSoTheNextBootIsQuietAndKeepsItsFiles) {
    makeDrive("cfg");
    makeDrive("meas");
    makeDrive("meas2");
    writeFile("meas/A0101001.001", "kept");
    cal().MEAS_MAXFILECNT_PART1 = 1000;
    cal().MEAS_MAXFILECNT_PART2 = 2000;
    // the device's own size source: the exact count behind the request's units
    host::startFormatService([](const char* drive, uint8_t units) -> uint32_t {
        return std::string(drive) == "meas:" && units == 3 ? 1000u : 0u;
    });
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "should be reformated NOW"), 2) << ::testing::PrintToString(log);
    ASSERT_EQ(host::formatRequestsServed().size(), 2u);
    EXPECT_EQ(host::driveDirectorySize("meas:"), 1000u);
    EXPECT_EQ(host::driveDirectorySize("meas2:"), 6u * 340) << "without an exact size: the request's units";
    uint32_t count = 0, maximum = 0;
    ASSERT_EQ(cfg_meas_getBfsFileCounts("meas:", &count, &maximum), 0);
    EXPECT_EQ(maximum, 1000u);
    EXPECT_EQ(count, 1u) << "the drive's own entries";

    // the next boot (a new process reads the record of the device folder)
    host::stopFormatService();
    host::startFormatService();
    cal().MEAS_MAXFILECNT_PART2 = 6 * 340;
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "should be reformated NOW"), 0) << ::testing::PrintToString(log);
    EXPECT_TRUE(host::formatRequestsServed().empty());
    EXPECT_EQ(signalPage()->meas_maxFileCnt_part1, 1000u);
    EXPECT_EQ(read("meas/A0101001.001"), "kept");
    EXPECT_EQ(read("drive_format.cfg"), "meas2: 2040\nmeas: 1000\n");
    // a changed configuration is formatted again
    cal().MEAS_MAXFILECNT_PART1 = 400;
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_BootPrepareDisks_checkDir(meas:) should be reformated NOW: directory "
                                       "size 1000 -> 400 "));
    EXPECT_EQ(host::driveDirectorySize("meas:"), 680u);
}

// A format that cannot be recorded is told with the file it failed on; the
// drive keeps the size it had, so the next boot asks again.
TEST_F(MeasDisks, AFormatThatCannotBeRecordedNamesTheFileItFailedOn) {
    makeDrive("cfg");
    makeDrive("meas");
    makeDrive("meas2");
    cal().MEAS_MAXFILECNT_PART1 = 1000;
    cal().MEAS_MAXFILECNT_PART2 = folderDirectorySize();
    host::startFormatService(nullptr, [](const char* drive, uint32_t size, const char* why) {
        syslogx(147, "%s %u %s", drive, unsigned(size), why);   // told on the service's thread
    });
    for (const std::string at : {"drive_format.cfg.tmp", "drive_format.cfg"}) {
        std::filesystem::remove_all(dir + "/drive_format.cfg.tmp");
        std::filesystem::create_directory(dir + "/" + at);
        takeLogTexts();
        EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
        const std::string why = at == "drive_format.cfg" ? " is a folder" : ": Is a directory";
        EXPECT_TRUE(logged(takeLogTexts(), "meas: 1020 " + at + why)) << at;
        EXPECT_EQ(host::driveDirectorySize("meas:"), 0u);
        EXPECT_TRUE(std::filesystem::is_directory(dir + "/" + at));
    }
}

TEST_F(MeasDisks, AFormatRequestWithoutServiceOrAnswerFails) {
    makeDrive("meas");
    cal().MEAS_MAXFILECNT_PART1 = 1000;
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks_format(1), -1);
    EXPECT_EQ(meas_app_BootPrepareDisks_format(7), -1);
    EXPECT_EQ(meas_app_BootPrepareDisks_format(0), -1);   // "cfg:" has no directory size
    auto log = takeLogTexts();
    ASSERT_GE(log.size(), 2u) << ::testing::PrintToString(log);   // the repeated line is folded
    EXPECT_EQ(log[0].rfind("meas_app_BootPrepareDisks_format() msgQTx open failed: ", 0), 0u) << log[0];
    EXPECT_TRUE(logged(log, "meas_app_BootPrepareDisks() devIdx invalid @ 'meas_app_BootPrepareDisks_format' "));
    // queues there, nobody answering: two seconds, then the failure
    MSG_Q_ID req = msgQOpen("/MeasAppFormat", 4, 17, MSG_Q_FIFO, OM_CREATE);
    MSG_Q_ID ack = msgQOpen("/MeasAppFormatAck", 4, 17, MSG_Q_FIFO, OM_CREATE);
    ASSERT_TRUE(req && ack);
    EXPECT_EQ(meas_app_BootPrepareDisks_format(1), -1);
    log = takeLogTexts();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("meas_app_BootPrepareDisks_format() error receiving format request, ", 0), 0u);
    msgQClose(req);
    msgQClose(ack);
}

TEST_F(MeasDisks, BootPreparationTimesOutOnAMissingDriveAndFormatsNothing) {
    makeDrive("cfg");
    makeDrive("meas");   // "meas2:" never comes
    cal().MEAS_MAXFILECNT_PART1 = 1000;
    host::startFormatService();
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks(0, 60), -1);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_BootPrepareDisks() timeout checking mask '0x04' "));
    EXPECT_TRUE(host::formatRequestsServed().empty());
    EXPECT_EQ(meas_led_get_status() & 0x8000, 0u);
}

// A power cut just after a file was made can leave it empty: such a
// measurement file holds nothing to read and is removed at the next start,
// named in the log, whatever its time stamp (a clock set back leaves files
// stamped later than the start). So is a writer's room probe that the cut
// left. Nothing else is touched: a file a writer of this run made, files
// with bytes, files of other names, and entries that are no plain file.
TEST_F(MeasDisks, BootPreparationRemovesEmptyMeasurementFilesAndRoomProbesLeftByACut) {
    makeDrive("cfg");
    for (const char* d : {"meas", "meas2", "usb_meas"}) makeDrive(d);
    writeFile("meas/A0102000.101", "");
    writeFile("meas2/B0102000.101", "");
    writeFile("usb_meas/A0203001.f01", "");
    writeFile("meas/A0107000.101", "");
    std::filesystem::last_write_time(dir + "/meas/A0102000.101",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    // stamped by a clock that was ahead then
    for (const char* late : {"meas2/B0102000.101", "meas/A0107000.101"})
        std::filesystem::last_write_time(dir + "/" + late,
                                         std::filesystem::file_time_type::clock::now() + std::chrono::hours(30));
    writeFile("meas/.roomcheck-m01", std::string(16384, '\0'));
    writeFile("meas2/.roomcheck-m03", "");
    writeFile("usb_meas/.roomcheck-m01", "x");
    std::filesystem::create_directory(dir + "/usb_meas/.roomcheck-m03");
    // a writer of this run has just made its file: empty until its header is on it
    writeFile("meas/A0106000.101", "");
    meas_app_noteFileMade(dev_path("meas:/A0106000.101"));
    writeFile("meas/A0101000.001", "kept");
    writeFile("meas/notes.txt", "");
    writeFile("meas/A0102000.101.part", "");
    writeFile("meas/A0102000.1010", "");
    writeFile("meas2/target", "");
    std::filesystem::create_symlink("target", dir + "/meas2/B0103000.101");
    makeFifo("meas/A0104000.101");
    std::filesystem::create_directory(dir + "/meas/A0105000.101");
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    auto log = takeLogTexts();
    for (const char* gone : {"meas:/A0102000.101", "meas2:/B0102000.101", "usb_meas:/A0203001.f01",
                             "meas:/A0107000.101"}) {
        EXPECT_EQ(countContaining(log, std::string("empty measurement file '") + gone + "'"), 1)
            << gone << " " << ::testing::PrintToString(log);
        const std::string rel = std::string(gone).replace(std::string(gone).find(":"), 1, "");
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/" + rel))) << gone;
    }
    EXPECT_EQ(countContaining(log, "empty measurement file"), 4);
    for (const char* gone : {"meas/.roomcheck-m01", "meas2/.roomcheck-m03", "usb_meas/.roomcheck-m01"})
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/" + gone))) << gone;
    EXPECT_EQ(countContaining(log, ".roomcheck-m0"), 3) << ::testing::PrintToString(log);
    for (const char* kept : {"meas/A0101000.001", "meas/notes.txt", "meas/A0102000.101.part", "meas/A0102000.1010",
                             "meas2/target", "meas2/B0103000.101", "meas/A0104000.101", "meas/A0105000.101",
                             "meas/A0106000.101", "usb_meas/.roomcheck-m03"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/" + kept))) << kept;
    EXPECT_EQ(read("meas/A0101000.001"), "kept");
}

TEST_F(MeasDisks, DriveOfAPath) {
    char drive[64];
    unsigned pos = 0;
    EXPECT_EQ(meas_app_filenameGetDrive("meas:/dir/A0101001.001", drive, &pos), 4);
    EXPECT_STREQ(drive, "meas:");
    EXPECT_EQ(pos, 4u);
    EXPECT_EQ(meas_app_filenameGetDrive("usb_meas:", drive, &pos), 8);
    EXPECT_STREQ(drive, "usb_meas:");
    takeLogTexts();
    EXPECT_EQ(meas_app_filenameGetDrive("/dir/file.dat", drive, &pos), -1);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_filenameGetDrive():posTerminator 13 could not find terminator char "
                                       "':' in /dir/file.dat"));
    const std::string far = std::string(41, 'x') + ":";
    EXPECT_EQ(meas_app_filenameGetDrive(far.c_str(), drive, &pos), -1);
    EXPECT_EQ(load_telecfg_from_flash(), 0);
}

TEST_F(MeasDisks, AFinishedFileIsStreamedToTheUsbDriveReadOnly) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    char name[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(name, sizeof name, 0, 1, 2, 3, 0x45), 0);
    std::string content;
    for (int i = 0; i < 300000; ++i) content += char(i * 7 + i / 251);   // several pieces
    writeFile(std::string("meas/") + name, content);
    takeLogTexts();
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, nullptr, 0);   // no destination: nothing
    char* dest = static_cast<char*>(std::malloc(16));
    std::strcpy(dest, "usb_meas:");
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, dest, 1);
    EXPECT_EQ(read(std::string("usb_meas/") + name), content);
    uint32_t attrs = 0;
    ASSERT_TRUE(host::getFileAttributes(std::string("usb_meas:/") + name, &attrs));
    EXPECT_TRUE(attrs & host::ATTR_READ_ONLY);
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/usb_meas/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);   // no one's program to run
    EXPECT_EQ(std::filesystem::last_write_time(dir + "/usb_meas/" + name),
              std::filesystem::last_write_time(dir + "/meas/" + name));
    EXPECT_TRUE(logged(takeLogTexts(), std::string("meas_app_copyLastFile() copy success from 'meas:/") + name +
                                           "' to 'usb_meas:/" + name + "'"));
}

// The file a split closes is closed only once its status block is
// collected, which may be after the copy's start: the copy waits for its
// writer to let it go and then copies it whole, closing status block and all.
TEST_F(MeasDisks, ACopyWaitsUntilItsWriterHasClosedTheFile) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    char name[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(name, sizeof name, 0, 1, 2, 3, 0x47), 0);
    const std::string source = std::string("meas:/") + name;
    writeFile(std::string("meas/") + name, "the lap's records");
    meas_app_noteFileMadeAs(source, source);   // its writer still writes to it
    takeLogTexts();
    std::atomic<bool> ended{false};
    std::thread copy([&ended] {
        meas_app_copyFileTask(1, 2, 0x47, 3, 0, const_cast<char*>("usb_meas:"), 0);
        ended = true;
    });
    std::vector<std::string> log;
    while (!ended && !logContains(log, "'" + source + "' is still being written: the copy waits for its close")) {
        for (auto& l : takeLogTexts()) log.push_back(l);
        taskDelay(1);
    }
    {
        std::ofstream f(dir + "/meas/" + name, std::ios::binary | std::ios::app);
        f << " and its status block";
    }
    meas_app_noteFileLetGo(source);
    copy.join();
    for (auto& l : takeLogTexts()) log.push_back(l);
    EXPECT_EQ(read(std::string("usb_meas/") + name), "the lap's records and its status block");
    EXPECT_TRUE(logged(log, "meas_app_copyLastFile() copy success from '" + source + "' to 'usb_meas:/" + name + "'"))
        << ::testing::PrintToString(log);
}

TEST_F(MeasDisks, WhatStandsAtTheCopysTemporaryNameIsReplacedNotOpened) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    char name[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(name, sizeof name, 0, 1, 2, 3, 0x45), 0);
    writeFile(std::string("meas/") + name, "the lap");
    const std::string part = dir + "/usb_meas/" + name + ".part";
    const std::string elsewhere = dir + "/elsewhere.txt";
    writeFile("elsewhere.txt", "keep me");
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "a FIFO" : "a link");
        std::filesystem::remove(dir + "/usb_meas/" + name);
        if (fifo) ASSERT_EQ(mkfifo(part.c_str(), 0600), 0);
        else std::filesystem::create_symlink(elsewhere, part);
        meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
        EXPECT_EQ(read(std::string("usb_meas/") + name), "the lap");
        EXPECT_EQ(read("elsewhere.txt"), "keep me");
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(part)));
    }
}

// A USB drive that holds the copy's name already (another car's file, a run
// before the counters were lost) keeps its file: the copy takes the next
// free name on that drive as the splits do, past the USB writer's own file
// and across the wrap of the fragment, and the log names both names.
TEST_F(MeasDisks, ACopyNeverReplacesWhatStandsOnTheUsbDrive) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    auto nameOf = [](uint16_t absLap, uint16_t fragment, uint8_t idx = 0) {
        char n[64];
        LapOutFra_genFilenameAbsLap(n, sizeof n, idx, 1, 2, fragment, absLap);
        return std::string(n);
    };
    writeFile("meas/" + nameOf(0x45, 3), "the lap");
    writeFile("usb_meas/" + nameOf(0x45, 3), "another car");
    writeFile("usb_meas/" + nameOf(0x45, 4, 2), "the USB writer's file of m03");
    takeLogTexts();
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_EQ(read("usb_meas/" + nameOf(0x45, 3)), "another car");
    EXPECT_EQ(read("usb_meas/" + nameOf(0x45, 4, 2)), "the USB writer's file of m03");
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas/" + nameOf(0x45, 4)));
    EXPECT_EQ(read("usb_meas/" + nameOf(0x45, 5)), "the lap");
    auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "meas_app_copyLastFile() 'usb_meas:/" + nameOf(0x45, 3) + "' is in use (a file): the copy of 'meas:/" +
                                nameOf(0x45, 3) + "' goes to 'usb_meas:/" + nameOf(0x45, 5) + "'"))
        << ::testing::PrintToString(log);
    EXPECT_TRUE(logged(log, "meas_app_copyLastFile() copy success from 'meas:/" + nameOf(0x45, 3) + "' to 'usb_meas:/" +
                                nameOf(0x45, 5) + "'"));
    EXPECT_EQ(countContaining(log, ".part"), 0);

    // fragment 255 taken: the next absolute lap's first fragment
    writeFile("meas/" + nameOf(0x45, 0xFF), "the last fragment");
    writeFile("usb_meas/" + nameOf(0x45, 0xFF), "kept");
    meas_app_copyFileTask(1, 2, 0x45, 0xFF, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_EQ(read("usb_meas/" + nameOf(0x45, 0xFF)), "kept");
    EXPECT_EQ(read("usb_meas/" + nameOf(0x46, 1)), "the last fragment");
    for (const auto& e : std::filesystem::directory_iterator(dir + "/usb_meas"))
        EXPECT_NE(e.path().extension(), ".part") << e.path();
}

// A USB drive pulled while its writer wrote a file and plugged in again holds
// the start of that very recording under its name: the copy completes it
// there, byte for byte, and makes no second copy elsewhere; a file that is
// whole already stays as it is. What is not this recording's own start (a
// byte that differs, more bytes than the recording, less than its header, a
// link to such a start) keeps its bytes, and the copy goes to a free name.
TEST_F(MeasDisks, ACopyCompletesTheStartOfItsOwnRecordingOnTheUsbDrive) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    auto nameOf = [](uint16_t fragment) {
        char n[64];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, 1, 2, fragment, 0x45);
        return std::string(n);
    };
    std::string content;
    for (int i = 0; i < 150000; ++i) content += char(i * 13 + i / 241);   // several pieces
    auto onlyCopy = [&](const std::string& name, const std::string& expect) {
        for (const auto& e : std::filesystem::directory_iterator(dir + "/usb_meas")) {
            const std::string f = e.path().filename().string();
            if (f != name) {
                EXPECT_FALSE(read("usb_meas/" + f) == expect) << f << " is a second copy";
            }
        }
    };
    for (size_t held : {size_t(5496), size_t(65536), size_t(42), content.size()}) {
        SCOPED_TRACE(held);
        const std::string name = nameOf(3);
        std::filesystem::remove_all(dir + "/usb_meas");
        makeDrive("usb_meas");
        writeFile("meas/" + name, content);
        writeFile("usb_meas/" + name, content.substr(0, held));
        takeLogTexts();
        meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
        EXPECT_TRUE(read("usb_meas/" + name) == content) << "not the whole recording";
        onlyCopy(name, content);
        auto log = takeLogTexts();
        EXPECT_TRUE(logged(log, "meas_app_copyLastFile() copy success from 'meas:/" + name + "' to 'usb_meas:/" +
                                    name + "'"))
            << ::testing::PrintToString(log);
        EXPECT_EQ(countContaining(log, "is in use"), 0);
        uint32_t attrs = 0;
        ASSERT_TRUE(host::getFileAttributes("usb_meas:/" + name, &attrs));
        EXPECT_TRUE(attrs & host::ATTR_READ_ONLY);
    }

    struct Foreign {
        const char* what;
        std::string bytes;
        bool link;
    };
    std::string changed = content.substr(0, 5000);
    changed[4000] ^= 1;
    const std::vector<Foreign> foreign = {{"a byte differs", changed, false},
                                          {"more than the recording", content + "more", false},
                                          {"less than a header", content.substr(0, 41), false},
                                          {"a link to the start", content.substr(0, 5000), true}};
    for (const auto& f : foreign) {
        SCOPED_TRACE(f.what);
        std::filesystem::remove_all(dir + "/usb_meas");
        makeDrive("usb_meas");
        const std::string name = nameOf(3);
        if (f.link) {
            writeFile("elsewhere", f.bytes);
            std::filesystem::create_symlink(dir + "/elsewhere", dir + "/usb_meas/" + name);
        } else {
            writeFile("usb_meas/" + name, f.bytes);
        }
        meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
        EXPECT_TRUE(read("usb_meas/" + name) == f.bytes) << "changed";
        if (f.link) {
            EXPECT_TRUE(read("elsewhere") == f.bytes) << "changed through the link";
        }
        EXPECT_TRUE(read("usb_meas/" + nameOf(4)) == content) << "no whole copy under the next name";
    }
}

// The USB drive's writer of this run made the recording's file under its
// name and closed it with a gap in it (it fell behind and gave up blocks,
// or went on after a time it was removed): the copy completes that very
// file from its first byte that differs, so that the name holds one
// recording on every drive, and makes no second copy. A file the writer
// still holds open, or one whose header is another recording's, keeps its
// bytes; the copy then goes to a free name.
TEST_F(MeasDisks, ACopyCompletesItsWritersOwnFileWithAGapUnderItsName) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    auto nameOf = [](uint16_t fragment) {
        char n[64];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, 1, 2, fragment, 0x46);
        return std::string(n);
    };
    std::string content;
    for (int i = 0; i < 90000; ++i) content += char(i * 7 + i / 199);
    // the header, the first blocks, then a gap of 3000 bytes
    const std::string gapped = content.substr(0, 20000) + content.substr(23000, 40000);
    std::string foreign = gapped;
    foreign[10] ^= 1;   // a header of another recording
    struct Case {
        const char* what;
        std::string held;
        bool closed, completed;
    };
    for (const Case& c : {Case{"closed with a gap", gapped, true, true}, Case{"still open", gapped, false, false},
                          Case{"another recording's header", foreign, true, false}}) {
        SCOPED_TRACE(c.what);
        const std::string name = nameOf(c.completed ? 1 : c.closed ? 2 : 3), usb = "usb_meas:/" + name;
        writeFile("meas/" + name, content);
        writeFile("usb_meas/" + name, c.held);
        meas_app_noteFileMadeAs(usb, usb);
        if (c.closed) meas_app_noteFileLetGo(usb);
        takeLogTexts();
        meas_app_copyFileTask(1, 2, 0x46, c.completed ? 1 : c.closed ? 2 : 3, 0, const_cast<char*>("usb_meas:"), 0);
        const auto log = takeLogTexts();
        if (c.completed) {
            EXPECT_TRUE(read("usb_meas/" + name) == content) << "not the whole recording";
            EXPECT_TRUE(logged(log, "meas_app_copyLastFile() '" + usb + "' holds its writer's file of 'meas:/" + name +
                                        "' with a gap after byte 20000: the copy completes it from there"))
                << ::testing::PrintToString(log);
            EXPECT_EQ(countContaining(log, "is in use"), 0);
            for (const auto& e : std::filesystem::directory_iterator(dir + "/usb_meas")) {
                const std::string f = e.path().filename().string();
                EXPECT_TRUE(f == name || read("usb_meas/" + f) != content) << f << " is a second copy";
            }
        } else {
            EXPECT_TRUE(read("usb_meas/" + name) == c.held) << "changed";
            EXPECT_EQ(countContaining(log, "is in use"), 1) << ::testing::PrintToString(log);
        }
        meas_app_noteFileLetGo(usb);
    }
}

// A copy that goes to another name takes that name from the counters at
// once, on the disk before the copy stands there: no later file on any drive
// is made under it, not even after a cut. The name the counters give now
// belongs to the recording going on, which the copy passes as well.
TEST_F(MeasDisks, ACopyUnderAnotherNameMovesTheCountersPastIt) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    auto nameOf = [](uint16_t absLap, uint16_t fragment) {
        char n[64];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, 1, 2, fragment, absLap);
        return std::string(n);
    };
    const uint8_t abs[2] = {0x44, 0}, elem[6] = {4, 0, 1, 0, 2, 0};   // fragment 4 of outing 1, lap 2
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_ABS_LAP, 0, abs, 2), 2);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPOUTFRA, 0, elem, 6), 6);
    ASSERT_EQ(LapOutFra_init(), 0);   // every start counts an absolute lap: 0x45
    LapOutFra_initLapOutCnt(2, 1);
    LapOutFraState s{};
    LapOutFra_getState(&s);
    ASSERT_EQ(s.absLap, 0x45);
    ASSERT_EQ(s.fragment, 4);
    writeFile("meas/" + nameOf(0x45, 3), "the lap");
    writeFile("usb_meas/" + nameOf(0x45, 3), "another car");
    writeFile("usb_meas/" + nameOf(0x45, 5), "another car's next lap");
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas/" + nameOf(0x45, 4)));
    EXPECT_EQ(read("usb_meas/" + nameOf(0x45, 6)), "the lap");
    LapOutFra_getState(&s);
    EXPECT_EQ(s.absLap, 0x45);
    EXPECT_EQ(s.fragment, 7);
    host::detail::resetNvram();   // a cut: only what is on the disk
    uint8_t stored[6] = {};
    ASSERT_EQ(nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 0, stored, 6), 6);
    EXPECT_EQ(stored[0], 7);
}

// A copy cut off by a power cut leaves its part file: at the next start the
// parts on the copy drive go, each named; nothing else there is touched.
TEST_F(MeasDisks, PartsOfCopiesACutLeftAreRemovedAtTheStart) {
    makeDrive("cfg");
    for (const char* d : {"meas", "meas2", "usb_meas"}) makeDrive(d);
    writeFile("usb_meas/A0102000.101.part", "half a copy");
    writeFile("usb_meas/B0102000.101.part", "");
    writeFile("usb_meas/A0102000.101", "a whole file");
    writeFile("usb_meas/notes.part", "not ours");
    writeFile("usb_meas/target", "kept");
    std::filesystem::create_symlink("target", dir + "/usb_meas/A0103000.101.part");
    std::filesystem::create_directory(dir + "/usb_meas/A0104000.101.part");
    takeLogTexts();
    EXPECT_EQ(meas_app_BootPrepareDisks(1, 2000), 0);
    auto log = takeLogTexts();
    for (const char* gone : {"A0102000.101.part", "B0102000.101.part"}) {
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/usb_meas/" + gone))) << gone;
        EXPECT_EQ(countContaining(log, std::string("'usb_meas:/") + gone + "'"), 1) << ::testing::PrintToString(log);
    }
    for (const char* kept : {"A0102000.101", "notes.part", "target", "A0103000.101.part", "A0104000.101.part"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/usb_meas/" + kept))) << kept;
    EXPECT_EQ(read("usb_meas/A0102000.101"), "a whole file");
}

// A drive that arrives loses what cuts left on it in a task of its own; the
// logging's shutdown ends and joins that task, and no arrival starts one
// after it until the logging's raster entries are added again.
TEST_F(MeasDisks, TheRemovalAtADrivesArrivalEndsWithTheLogging) {
    makeDrive("usb_meas");
    for (int i = 0; i < 64; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "usb_meas/A01%02x000.101.part", i);
        writeFile(name, "half a copy");
    }
    const size_t tasksBefore = hostos::liveTaskCount();
    meas_app_allowArrivalLeftoversTasks();   // the logging runs
    meas_app_removeArrivalLeftoversTask("usb_meas:");
    meas_app_endArrivalLeftoversTasks();
    EXPECT_EQ(hostos::liveTaskCount(), tasksBefore) << "the removal outlives the logging";
    takeLogTexts();
    meas_app_removeArrivalLeftoversTask("usb_meas:");
    EXPECT_EQ(hostos::liveTaskCount(), tasksBefore) << "a removal starts after the logging's end";
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_removeArrivalLeftoversTask(): the logging has ended, what cuts left "
                                       "on 'usb_meas:' stays until the next start"));
    // allowed again: the removal runs to its end and removes every part
    meas_app_allowArrivalLeftoversTasks();
    writeFile("usb_meas/B0101000.101.part", "");
    meas_app_removeArrivalLeftoversTask("usb_meas:");
    std::vector<std::string> log;
    for (int i = 0; i < 1000 && !logContains(log, "'usb_meas:/B0101000.101.part' removed"); ++i) {
        for (auto& l : takeLogTexts()) log.push_back(l);
        taskDelay(10);
    }
    meas_app_endArrivalLeftoversTasks();
    meas_app_allowArrivalLeftoversTasks();
    EXPECT_EQ(hostos::liveTaskCount(), tasksBefore);
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas/B0101000.101.part"));
}

// A copy the stop cannot wait for: one still waiting for its start when the
// writers could not finish their files, one whose source is not there yet
// when the stop's wait ends, one whose source its writer has not closed by
// then, and one that starts after the stop. None is made nor left half on
// the stick; each is named once by its file, with what is missing, however
// soon after its start the stop comes, and its task ends. Each case copies a
// file of its own: the stop names a copy from this thread, and a line equal
// to this thread's last one would be folded into a count.
TEST_F(MeasDisks, ACopyTheStopCannotMakeIsNamedAsNotMade) {
    makeDrive("meas");
    makeDrive("usb_meas");
    struct Case {
        const char* what;
        uint16_t fragment;
        const char* source;
        bool filesWhole, stopFirst, held;
    };
    for (const Case& c : {Case{"files not whole", 3, "the lap", false, false, false},
                          Case{"no source yet", 4, "", true, false, false},
                          Case{"its writer still writes to it", 5, "the lap", true, false, true},
                          Case{"after the stop", 6, "the lap", false, true, false}}) {
        SCOPED_TRACE(c.what);
        char name[64];
        ASSERT_GT(LapOutFra_genFilenameAbsLap(name, sizeof name, 0, 1, 2, c.fragment, 0x45), 0);
        const std::string line = std::string("the copy of 'meas:/") + name + "' to 'usb_meas:' is not made (";
        const std::string source = std::string("meas:/") + name;
        writeFile(std::string("meas/") + name, c.source);
        meas_app_noteFileMadeAs(source, source);
        if (!c.held) meas_app_noteFileLetGo(source);
        meas_app_setCopyStartDelay(c.filesWhole ? 0 : 600);
        takeLogTexts();
        if (c.stopFirst) meas_app_finishPendingCopies(c.filesWhole, 300);
        std::atomic<bool> ended{false};
        std::thread copy([&ended, &c] {
            meas_app_copyFileTask(1, 2, 0x45, c.fragment, 0, const_cast<char*>("usb_meas:"), 0);
            ended = true;
        });
        std::vector<std::string> log;
        // (the stop comes once the copy waits for the close)
        while (c.held && !ended && !logContains(log, "the copy waits for its close")) {
            for (auto& l : takeLogTexts()) log.push_back(l);
            taskDelay(1);
        }
        if (!c.stopFirst) meas_app_finishPendingCopies(c.filesWhole, 300);
        copy.join();   // a copy given up ends at its next step, long before its 600 s or 10 opening attempts
        meas_app_allowPendingCopies();
        meas_app_noteFileLetGo(source);
        for (auto& l : takeLogTexts()) log.push_back(l);
        EXPECT_EQ(countContaining(log, line), 1) << ::testing::PrintToString(log);
        EXPECT_EQ(countContaining(log, "its source was not read"), 1) << ::testing::PrintToString(log);
        EXPECT_EQ(countContaining(log, "copy success"), 0);
        EXPECT_TRUE(std::filesystem::is_empty(dir + "/usb_meas"));
    }
}

TEST_F(MeasDisks, ACopyNeedsTheSourceAndTheUsbDrive) {
    makeDrive("meas");
    meas_app_setCopyStartDelay(0);
    char name[64];
    LapOutFra_genFilenameAbsLap(name, sizeof name, 0, 1, 1, 1, 0);
    takeLogTexts();
    meas_app_copyFileTask(1, 1, 0, 1, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_TRUE(logged(takeLogTexts(), std::string("meas_app_copyLastFile() failed, does not exist meas:/") + name));
    writeFile(std::string("meas/") + name, "data");
    meas_app_copyFileTask(1, 1, 0, 1, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_TRUE(logged(takeLogTexts(), std::string("meas_app_copyLastFile() err open 'usb_meas:/") + name +
                                           "', usb not available"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas"));
}

TEST_F(MeasDisks, TheLastFileTaskCopiesTheFragmentBeforeTheCurrentOne) {
    makeDrive("meas");
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    ASSERT_EQ(LapOutFra_init(), 0);
    LapOutFra_initLapOutCnt(4, 2);
    LapOutFraState s{};
    LapOutFra_getState(&s);
    char name[64];
    LapOutFra_genFilenameAbsLap(name, sizeof name, 0, s.outing, s.lap, s.fragment, s.absLap);
    writeFile(std::string("meas/") + name, "the closed file");
    LapOutFra_setFragmentTrig(0);
    meas_app_copyLastFileTask();
    // the task's last word: after it, it touches no file of this test's folder
    std::vector<std::string> log;
    for (int i = 0; i < 1000 && !logContains(log, "meas_app_copyLastFile() copy success"); ++i) {
        for (auto& l : takeLogTexts()) log.push_back(l);
        taskDelay(10);
    }
    EXPECT_EQ(read(std::string("usb_meas/") + name), "the closed file") << ::testing::PrintToString(log);
}
