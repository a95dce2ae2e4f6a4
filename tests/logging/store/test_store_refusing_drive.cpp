// A drive that refuses new files while statvfs still shows free space (a
// user quota, a full folder, file-system metadata): the internal drive
// "meas:" refuses every file made on it with EDQUOT. The writer must not
// take the free space it shows for room again, or the logging application
// splits every measurement again and again for files that are refused at
// once; once the drive takes files again, recording goes on there in a new
// file, and the line that says so names the file that was dropped.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "refusing_creates.h"
#include "store_fixture.h"

namespace {

class StoreRefusingDrive : public StoreTest {
protected:
    void TearDown() override {
        refusing_creates::allow();
        StoreTest::TearDown();
    }
    // the host folder of a drive, as the writers open files in it
    static std::string folderOf(const char* drive) {
        std::string f = dev_path(drive);
        while (f.size() > 1 && f.back() == '/') f.pop_back();
        return f;
    }
    size_t fileCount(const char* folder) { return files(folder).size(); }
    // Records until m01 has its first file on both drives.
    void firstFiles(uint32_t& ts) {
        for (unsigned b = 0; b < 2000 && !(fileCount("meas") == 1 && fileCount("usb_meas") == 1); ++b) {
            feedBoth(ts, 20);
            waitFor([&] { return fileCount("meas") == 1 && fileCount("usb_meas") == 1; }, 20);
        }
        ASSERT_EQ(fileCount("meas"), 1u);
    }
    // Records for about `ms` of the writers' time, with the logging
    // application's part: a new fragment each time the store says that its
    // files must go on in new ones. Returns the number of such splits.
    unsigned recordFor(uint32_t& ts, int ms) {
        unsigned splits = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            feedBoth(ts, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (meas_app_PreTrigTakeDriveLoss(meas[0].store) != 0) {
                ++splits;
                LapOutFra_setFragmentTrig(ts);
            }
        }
        return splits;
    }
};

}  // namespace

TEST_F(StoreRefusingDrive, NewFilesRefusedWhileTheDriveShowsRoomSplitNothingAndRecordingResumesWhenTaken) {
    configure();
    uint32_t ts = 100000;
    firstFiles(ts);

    // the next lap's file is refused on "meas:"; the USB drive takes it
    refusing_creates::refuseIn(folderOf("meas:"), EDQUOT);
    LapOutFra_setFragmentTrig(ts);
    ASSERT_TRUE(waitFor([&] { feedBoth(ts, 20); return refusing_creates::refused() > 0; }, 10000));
    // a dozen of the writer's looks at its drive
    const unsigned splits = recordFor(ts, 3000);
    EXPECT_EQ(splits, 0u) << "the free space of a drive that refuses files taken for room";
    EXPECT_EQ(fileCount("usb_meas"), 2u) << "the healthy drive's files split for nothing";
    EXPECT_EQ(countContaining(takeLogTexts(), "has room again"), 0);

    // the drive takes files again: told once, and the next file is made
    // there (a folder where the writer asks with a small file does not
    // keep it from looking)
    std::filesystem::create_directory(dir + "/meas/.roomcheck-m01");
    refusing_creates::allow();
    unsigned told = 0;
    for (unsigned round = 0; round < 100 && !told; ++round) told = recordFor(ts, 100);
    ASSERT_EQ(told, 1u) << "a drive that takes files again is not told";
    const uint32_t newFileFrom = ts;
    EXPECT_EQ(recordFor(ts, 1000), 0u);
    closeAndDrain();
    stopStore();

    const auto log = takeLogTexts();
    auto usb = files("usb_meas");
    ASSERT_EQ(usb.size(), 3u) << "one split for the room that came back, no more";
    const std::string dropped = "meas:/" + std::next(usb.begin())->first;
    std::vector<std::string> room;
    for (const auto& l : log)
        if (l.find("has room again") != std::string::npos) room.push_back(l);
    ASSERT_EQ(room.size(), 1u);
    EXPECT_NE(room[0].find("'" + dropped + "'"), std::string::npos) << room[0] << " does not name " << dropped;

    // the file made once the drive took files again holds what came after
    auto meas = files("meas");
    ASSERT_EQ(meas.size(), 2u);
    std::map<uint8_t, std::vector<uint32_t>> got;
    ASSERT_NO_FATAL_FAILURE(newestFileStamps(meas, got));
    for (auto& [id, want] : fed) {
        const std::vector<uint32_t> late = fedAfter(want, newFileFrom);
        ASSERT_FALSE(got[id].empty()) << "block " << int(id);
        EXPECT_EQ(std::vector<uint32_t>(got[id].end() - long(std::min(got[id].size(), late.size())), got[id].end()),
                  late)
            << "block " << int(id);
    }
}

// A drive that takes a small file but refuses the measurement file made
// right after it was told to have room: each such refusal doubles the wait
// before the writer looks again, so the measurements are split a few times,
// not four times a second; once files are taken again recording goes on.
TEST_F(StoreRefusingDrive, ANewFileRefusedRightAfterRoomWasToldDoublesTheWaitBeforeTheNextLook) {
    configure();
    uint32_t ts = 100000;
    firstFiles(ts);
    refusing_creates::refuseIn(folderOf("meas:"), EDQUOT, false);
    LapOutFra_setFragmentTrig(ts);
    ASSERT_TRUE(waitFor([&] { feedBoth(ts, 20); return refusing_creates::refused() > 0; }, 10000));
    // looks after 0, 1 and 3 s at the most
    const unsigned splits = recordFor(ts, 4000);
    EXPECT_GE(splits, 1u);
    EXPECT_LE(splits, 3u);
    EXPECT_GE(countContaining(takeLogTexts(), "refused a new file right after it had room"), 1);

    refusing_creates::allow();
    unsigned told = 0;
    for (unsigned round = 0; round < 200 && !told; ++round) told = recordFor(ts, 100);
    ASSERT_EQ(told, 1u) << "a drive that takes files again is not told";
    ASSERT_TRUE(waitFor([&] { feedBoth(ts, 20); return fileCount("meas") == 2; }, 10000));
    closeAndDrain();
}

// A drive that refuses new files for a cause other than room (read-only for
// a while, not allowed, an I/O error) is looked at again as a full one is:
// once it takes files, recording goes on there in a new file, and the log
// names the cause of the refusal once.
TEST_F(StoreRefusingDrive, ADriveThatRefusedForAnotherCauseIsLookedAtAgainAndRecordingGoesOn) {
    configure();
    uint32_t ts = 100000;
    firstFiles(ts);
    for (int err : {EROFS, EACCES, EIO}) {
        const size_t before = fileCount("meas");
        refusing_creates::refuseIn(folderOf("meas:"), err);
        LapOutFra_setFragmentTrig(ts);
        ASSERT_TRUE(waitFor([&] { feedBoth(ts, 20); return refusing_creates::refused() > 0; }, 10000));
        EXPECT_EQ(recordFor(ts, 1500), 0u) << "a drive that still refuses files told to take them";
        const auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, std::string("refuses a new file (") + std::strerror(err) + ")"), 1)
            << testing::PrintToString(log);

        refusing_creates::allow();
        unsigned told = 0;
        for (unsigned round = 0; round < 100 && !told; ++round) told = recordFor(ts, 100);
        ASSERT_EQ(told, 1u) << "a drive that takes files again after " << std::strerror(err) << " is not told";
        ASSERT_TRUE(waitFor([&] { feedBoth(ts, 20); return fileCount("meas") == before + 1; }, 10000))
            << std::strerror(err);
        EXPECT_EQ(recordFor(ts, 1000), 0u);   // the new file is taken: nothing more to tell
    }
    closeAndDrain();
}
