// A measurement whose drive is missing: the others record, it is named once
// in the log and in the shell's "meas", and it starts when its drive appears.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "logging/app/meas_app_internal.h"
#include "logging/app_fixture.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/held_calls.h"
#include "logging/store/action.h"
#include "platform/shell.h"

namespace {

void expectSpacing(const std::vector<MeasAppTest::Rec>& recs, uint32_t spacing) {
    for (size_t i = 1; i < recs.size(); ++i)
        ASSERT_EQ(recs[i].value - recs[i - 1].value, spacing) << "gap at " << recs[i].ts;
}

constexpr const char* kNotAvailable = "m03: drive meas2: not available, measurement not started";

uint32_t m03WriteFailures() { return std::atomic_ref<uint32_t>(meas_store_writeCounters(MEAS_IDX_M03, 0).failures).load(); }

bool anyFileIn(const std::string& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) && !std::filesystem::is_empty(folder, ec);
}

// Holds the look-ups of names on a drive that the calling thread (the
// logging raster's, in these tests) makes, as a drive that does not answer
// would hold them; one that comes is let go, and counted.
class RasterLookupWatch {
public:
    RasterLookupWatch() {
        held_calls::holdLookups(std::this_thread::get_id());
        gate_ = std::thread([this] {
            while (!done_)
                if (held_calls::lookupWaits(std::chrono::seconds(1))) {
                    waited_ = true;
                    held_calls::releaseLookups();
                    return;
                }
        });
    }
    ~RasterLookupWatch() { end(); }
    // Whether the raster looked at a name since the watch began.
    bool end() {
        if (gate_.joinable()) {
            done_ = true;
            gate_.join();
            held_calls::releaseLookups();
        }
        return waited_;
    }

private:
    std::atomic<bool> done_{false}, waited_{false};
    std::thread gate_;
};

uint16_t fragmentNow() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    return s.fragment;
}

}  // namespace

TEST_F(MeasAppTest, AMissingDriveHoldsBackOnlyItsMeasurement) {
    std::filesystem::remove_all(dir + "/meas2");
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000)) << "m01 did not start";
    run(300);
    EXPECT_EQ(meas[MEAS_IDX_M03].stateFlags & 1, 0);
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("MEASURE FDE waits for drive meas2: \n"), std::string::npos) << out;
    EXPECT_NE(out.find("MEASURE SG   : loaded = TRUE"), std::string::npos) << out;

    makeDrive("meas2");
    ASSERT_TRUE(runUntil([] { return (meas[MEAS_IDX_M03].runFlags & 1) != 0; }, 2000)) << "m03 did not start";
    run(300);
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_EQ(out.find("waits for drive"), std::string::npos) << out;
    EXPECT_NE(out.find("MEASURE FDE  : loaded = TRUE, configured (incl. cond.) = 1, started = TRUE\n"), std::string::npos)
        << out;
    stopAndFlush();
    auto m01 = records("meas");
    auto m03 = records("meas2");
    ASSERT_GT(m01.size(), 400u);
    ASSERT_GT(m03.size(), 20u);
    expectSpacing(m01, 1);
    expectSpacing(m03, 10);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, kNotAvailable), 1);
    EXPECT_TRUE(logContains(log, "m03: drive meas2: available, measurement started"));
    EXPECT_FALSE(logContains(log, "open device 'meas2:' failed"));   // looked at only once it is there
}

TEST_F(MeasAppTest, AWaitingMeasurementEndsWithADestroyAndFollowsAStop) {
    std::filesystem::remove_all(dir + "/meas2");
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    // stopped, the drive's arrival sets m03 up; the next start starts it
    sp().meas_app_stopreq = 1;
    ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
    makeDrive("meas2");
    ASSERT_TRUE(runUntil([] { return (meas[MEAS_IDX_M03].stateFlags & 1) != 0; }, 2000));
    run(200);
    EXPECT_EQ(meas[MEAS_IDX_M03].runFlags & 1, 0);
    sp().meas_app_startreq = 1;
    EXPECT_TRUE(runUntil([] { return (meas[MEAS_IDX_M03].runFlags & 1) && (meas[MEAS_IDX_M01].runFlags & 1); }, 2000));

    // a destroy ends the wait: the drive that comes afterwards starts nothing
    auto destroy = [&] {
        sp().meas_app_stopreq = 1;
        sp().meas_app_destroyreq = 1;
        return runUntil([&] { return !sp().meas_app_destroyreq && !meas_app_measExists(); }, 3000);
    };
    ASSERT_TRUE(destroy());
    std::filesystem::remove_all(dir + "/meas2");
    sp().meas_app_reinitreq = 1;
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1 && meas_app_measExists(); }, 2000));
    EXPECT_EQ(meas[MEAS_IDX_M03].stateFlags & 1, 0);
    ASSERT_TRUE(destroy());
    makeDrive("meas2");
    run(500);
    EXPECT_FALSE(meas_app_measExists());
}

// The telemetry writes no files, but it needs its configuration as much as
// the others do.
TEST_F(MeasAppTest, AMissingConfigurationDriveIsWaitedFor) {
    writeConfig(0, "R1ms");
    writeTeleConfig();
    static int teleStarts = 0;
    teleStarts = 0;
    meas_app_setTeleHooks({[](meas_t*) { return ++teleStarts; }, [] {}});
    std::filesystem::rename(dir + "/cfg", dir + "/cfg.later");
    start();
    run(400);
    EXPECT_FALSE(meas_app_measExists());
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "m01: drive cfg: not available, measurement not started"));
    EXPECT_TRUE(logContains(log, "m02: drive cfg: not available, measurement not started"));
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("MEASURE TELE waits for drive cfg: \n"), std::string::npos) << out;
    std::filesystem::rename(dir + "/cfg.later", dir + "/cfg");
    EXPECT_TRUE(runUntil([] { return (meas[MEAS_IDX_M01].runFlags & 1) != 0; }, 2000)) << "m01 did not start";
    EXPECT_TRUE(runUntil([] { return teleStarts == 1 && (meas[MEAS_IDX_M02].runFlags & 1) != 0; }, 2000))
        << "the telemetry did not start";
    EXPECT_TRUE(runUntil([] { return meas[MEAS_IDX_M02].replyCount == 1; }, 2000));
    EXPECT_TRUE(logContains(takeLogTexts(), "m02: drive cfg: available, measurement started"));
}

TEST_F(MeasAppTest, AMeasurementWaitsForItsConfigurationAndItsTargetDrive) {
    writeConfig(0, "R1ms");
    writeTeleConfig();
    static int teleStarts = 0;
    teleStarts = 0;
    meas_app_setTeleHooks({[](meas_t*) { return ++teleStarts; }, [] {}});
    std::filesystem::rename(dir + "/cfg", dir + "/cfg.later");
    std::filesystem::remove_all(dir + "/meas");
    start();
    run(400);
    EXPECT_FALSE(meas_app_measExists());
    EXPECT_EQ(countContaining(takeLogTexts(), "m01: drive meas: not available, measurement not started"), 1);
    // the configuration is back, the target drive is not: m01 goes on
    // waiting, the telemetry needs no more and starts
    std::filesystem::rename(dir + "/cfg.later", dir + "/cfg");
    EXPECT_TRUE(runUntil([] { return teleStarts == 1 && (meas[MEAS_IDX_M02].runFlags & 1) != 0; }, 2000))
        << "the telemetry did not start";
    run(200);
    EXPECT_EQ(meas[MEAS_IDX_M01].stateFlags & 1, 0);
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("MEASURE SG waits for drive meas: \n"), std::string::npos) << out;
    makeDrive("meas");
    ASSERT_TRUE(runUntil([] { return (meas[MEAS_IDX_M01].runFlags & 1) != 0; }, 2000)) << "m01 did not start";
    run(300);
    stopAndFlush();
    EXPECT_GT(records("meas").size(), 200u);
}

// A drive pulled while its measurement records: the loss is noticed, named
// once and counted, also across a lap split; the other measurement goes on,
// and the measurement goes on in a new file once the drive is back.
TEST_F(MeasAppTest, ADriveRemovedWhileRecordingIsCountedAndRecordingGoesOnWhenItIsBack) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 3000));
    run(300);
    const uint32_t failedBefore = m03WriteFailures();
    std::filesystem::remove_all(dir + "/meas2");
    ASSERT_TRUE(runUntil([&] { return m03WriteFailures() > failedBefore; }, 3000)) << "the lost writes are not counted";

    // a lap split while the drive is missing: the new lap's records are counted as lost too
    char cmd[] = "lof_laptrig";
    char* argv[] = {cmd};
    EXPECT_EQ(lof_laptrig(1, argv), 0);
    run(100);
    const uint32_t failedAtSplit = m03WriteFailures();
    ASSERT_TRUE(runUntil([&] { return m03WriteFailures() > failedAtSplit; }, 3000)) << "the new lap is dropped silently";
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("writes failed!"), std::string::npos) << out;
    EXPECT_EQ(out.find("no error found"), std::string::npos) << out;
    EXPECT_NE(out.find("MEASURE FDE  : loaded = TRUE, configured (incl. cond.) = 1, started = TRUE\n"), std::string::npos)
        << out;

    makeDrive("meas2");
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 5000)) << "m03 did not go on";
    run(500);
    stopAndFlush();
    auto m01 = records("meas");
    auto m03 = records("meas2");
    expectSpacing(m01, 1);   // m01 lost nothing
    ASSERT_GT(m03.size(), 30u);
    expectSpacing(m03, 10);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "drive meas2: not available"), 1);
    EXPECT_EQ(countContaining(log, "m03: drive meas2: available"), 1);
}

// Removed and made again between two looks at the drive: the writer finds its
// open file gone from the drive, and the measurement goes on in a new file.
TEST_F(MeasAppTest, ADriveFolderMadeAgainAtOnceGetsANewFile) {
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 3000));
    run(300);
    const uint32_t failedBefore = m03WriteFailures();
    std::filesystem::remove_all(dir + "/meas2");
    makeDrive("meas2");
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 5000)) << "m03 did not go on";
    EXPECT_GT(m03WriteFailures(), failedBefore);
    run(500);
    stopAndFlush();
    auto m03 = records("meas2");
    ASSERT_GT(m03.size(), 30u);
    expectSpacing(m03, 10);
}

// The USB drive arrives for the first time while m01 records: the fragment
// of the arrival opens a file that is written on the USB drive too, though
// its writer joins only when it next looks for the drive; every record from
// the arrival on is there. A room probe a cut left on the drive is removed.
TEST_F(MeasAppTest, TheFileTheUsbDrivesFirstArrivalOpensIsWrittenOnIt) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    run(1200);   // the first look at the USB drive finds none
    // the drive appears right before the logging raster's next look at it,
    // well before its writer's next one
    ASSERT_TRUE(runUntil([&] { return ms % 1000 == 187; }, 1000));
    // the drive holds a room probe that a cut left on it
    makeDrive("arriving");
    writeFile("arriving/.roomcheck-m01", std::string(16384, '\0'));
    std::filesystem::rename(dir + "/arriving", dir + "/usb_meas");
    const auto measFileOnUsb = [&] {
        for (auto& e : std::filesystem::directory_iterator(dir + "/usb_meas"))
            if (e.path().filename().string()[0] != '.') return true;
        return false;
    };
    ASSERT_TRUE(runUntil(measFileOnUsb, 8000)) << "nothing written on the USB drive";
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas/.roomcheck-m01")) << "the cut's probe stays";
    run(500);
    stopAndFlush();
    std::vector<std::string> internal, usb;
    records("meas", &internal);
    auto onUsb = records("usb_meas", &usb);
    ASSERT_EQ(internal.size(), 2u);
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0], internal[1]) << "the file the arrival opened is not the one on the USB drive";
    // the USB drive's file holds every record of the internal drive's
    std::filesystem::create_directory(dir + "/opened");
    std::filesystem::copy_file(dir + "/meas/" + internal[1], dir + "/opened/" + internal[1]);
    auto opened = records("opened");
    ASSERT_GT(opened.size(), 400u);
    ASSERT_EQ(onUsb.size(), opened.size());
    for (size_t i = 0; i < opened.size(); ++i) ASSERT_EQ(onUsb[i].ts, opened[i].ts) << i;
}

// A USB drive there at the start is no arrival: the files are split neither
// while it settles nor once it has settled.
TEST_F(MeasAppTest, AUsbDriveThereAtTheStartIsNoArrival) {
    meas_app_setDriveDebounce(1, 1500);
    makeDrive("usb_meas");
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    LapOutFraState before{};
    LapOutFra_getState(&before);
    run(2500);
    LapOutFraState after{};
    LapOutFra_getState(&after);
    meas_app_setDriveDebounce(1, 0);
    stopAndFlush();
    EXPECT_EQ(after.fragment, before.fragment) << "the drive there at the start was taken as an arrival";
    std::vector<std::string> internal;
    records("meas", &internal);
    EXPECT_EQ(internal.size(), 1u);
}

// A USB drive there at the start, pulled while m01 writes a file on it and
// put back: its return is an arrival, though the first since the start (the
// drive was there before). The file cut on the drive at the pull is copied
// whole onto it: the file its split closes, and, when a lap closed the cut
// file while the drive was away, that file too. A file begun and closed
// while the drive was away is not on it and stays so.
TEST_F(MeasAppTest, AUsbDriveThereAtTheStartAndPutBackGetsTheFileCutAtThePullWhole) {
    meas_app_setCopyStartDelay(0);
    meas_app_setCopyFileTask(meas_app_copyFileTask);
    struct Restore {
        ~Restore() {
            meas_app_setCopyFileTask(nullptr);
            meas_app_setCopyStartDelay(5);
        }
    } restore;
    makeDrive("usb_meas");
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/usb_meas"); }, 3000));
    std::vector<std::string> log;
    auto logHas = [&](const std::string& text) {
        for (auto& t : takeLogTexts()) log.push_back(t);
        return logContains(log, text);
    };
    auto internalFiles = [&] {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(dir + "/meas")) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    // pulled while it writes the newest file past `after`, put back after
    // that many laps; the file cut at the pull
    auto pullAndReturn = [&](int laps, const std::string& after) {
        // the newest file, past `after`, on the drive too (the split
        // of a return makes it a moment later)
        std::string cut;
        EXPECT_TRUE(runUntil(
            [&] {
                const auto names = internalFiles();
                cut = names.empty() ? "" : names.back();
                return cut > after && logHas("opened and checked 'usb_meas:/" + cut + "'");
            },
            3000));
        const int misses = countContaining(log, "due to media absence");
        run(1500);
        const uint16_t before = fragmentNow();
        std::filesystem::rename(dir + "/usb_meas", dir + "/usb_pulled");
        EXPECT_TRUE(runUntil(
            [&] {
                logHas("");
                return countContaining(log, "due to media absence") > misses;
            },
            5000));
        for (int i = 0; i < laps; ++i) {
            const std::string closing = internalFiles().back();
            run(300);
            char cmd[] = "lof_laptrig";
            char* argv[] = {cmd};
            EXPECT_EQ(lof_laptrig(1, argv), 0);
            // the lap's file is closed on the internal drive before the return
            EXPECT_TRUE(runUntil(
                [&] { return internalFiles().back() > closing && !meas_app_writerHolds("meas:/" + closing); },
                3000));
        }
        run(1200);   // the logging raster sees it gone
        std::filesystem::rename(dir + "/usb_pulled", dir + "/usb_meas");
        EXPECT_TRUE(runUntil([&] { return fragmentNow() != before; }, 3000)) << "no split at the return";
        return cut;
    };
    const std::string cutAtSplit = pullAndReturn(0, "");
    EXPECT_TRUE(runUntil([&] { return logHas("copy success from 'meas:/" + cutAtSplit + "'"); }, 10000))
        << "no copy of " << cutAtSplit;
    const std::string cutBeforeLap = pullAndReturn(2, cutAtSplit);
    // the laps' files follow it: the first begun and closed while it was
    // away, the second closed by the return's split
    std::string awayFile, lapFile;
    EXPECT_TRUE(runUntil(
        [&] {
            const auto names = internalFiles();
            const auto at = std::find(names.begin(), names.end(), cutBeforeLap);
            if (at == names.end() || names.end() - at < 4) return false;
            awayFile = at[1];
            lapFile = at[2];
            return true;
        },
        3000));
    EXPECT_TRUE(runUntil([&] { return logHas("copy success from 'meas:/" + cutBeforeLap + "'"); }, 10000))
        << "no copy of " << cutBeforeLap;
    EXPECT_TRUE(runUntil([&] { return logHas("copy success from 'meas:/" + lapFile + "'"); }, 10000))
        << "no copy of the file the return's split closed, " << lapFile;
    stopAndFlush();
    auto bytes = [&](const char* folder, const std::string& name) {
        std::ifstream in(dir + "/" + folder + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (auto& t : takeLogTexts()) log.push_back(t);
    for (const std::string& cut : {cutAtSplit, cutBeforeLap}) {
        EXPECT_TRUE(bytes("usb_meas", cut) == bytes("meas", cut))
            << cut << " is left cut on the drive: " << bytes("usb_meas", cut).size() << " of "
            << bytes("meas", cut).size() << " bytes";
        // the copy brought it whole: no line names it as not on the drive
        for (const auto& line : log) {
            if (line.find("'usb_meas:/" + cut + "': ") == std::string::npos) continue;
            EXPECT_EQ(line.find("they are not on this drive"), std::string::npos) << line;
        }
    }
    // what the writer missed of the file the split closed is brought by the copy
    std::vector<std::string> named;
    for (const auto& line : log)
        if (line.find("'usb_meas:/" + cutAtSplit + "': ") != std::string::npos) named.push_back(line);
    ASSERT_FALSE(named.empty());
    for (const auto& line : named)
        EXPECT_NE(line.find("not written while the drive was absent: a copy brings the whole file to this drive"),
                  std::string::npos)
            << line;
    // no second copy of a cut file under another name
    EXPECT_FALSE(logContains(log, "is in use")) << cutBeforeLap;
    // the file the drive never held is not copied, and named as not on it
    EXPECT_FALSE(std::filesystem::exists(dir + "/usb_meas/" + awayFile)) << awayFile;
    EXPECT_FALSE(logContains(log, "copy success from 'meas:/" + awayFile + "'"));
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.find("'usb_meas:/" + awayFile + "': ") != std::string::npos &&
               line.find("they are not on this drive") != std::string::npos;
    })) << awayFile << " is not named";
}

// A USB drive arrives with the name of the next fragment taken (another car's
// file): the logging raster looks at no name on a drive for it, since a slow
// stick would stall it there; the split still moves past the taken name.
// The raster's look-ups are held as a stick that does not answer would hold
// them; one that comes is let go, and counted.
TEST_F(MeasAppTest, TheUsbDrivesArrivalLooksForFreeNamesOffTheRaster) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    run(1200);   // the first look at the USB drive finds none
    LapOutFraState before{};
    LapOutFra_getState(&before);
    char taken[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(taken, sizeof taken, 0, before.outing, before.lap, uint16_t(before.fragment + 1),
                                          before.absLap), 0);
    makeDrive("arriving");
    writeFile(std::string("arriving/") + taken, "another car's file");
    std::atomic<bool> done{false}, rasterWaited{false};
    held_calls::holdLookups(std::this_thread::get_id());
    std::thread gate([&] {
        while (!done)
            if (held_calls::lookupWaits(std::chrono::seconds(1))) {
                rasterWaited = true;
                held_calls::releaseLookups();
                return;
            }
    });
    std::filesystem::rename(dir + "/arriving", dir + "/usb_meas");
    const bool split = runUntil([&] {
        LapOutFraState s{};
        LapOutFra_getState(&s);
        return s.fragment != before.fragment;
    }, 8000);
    done = true;
    gate.join();
    held_calls::releaseLookups();
    ASSERT_TRUE(split) << "no split at the arrival";
    EXPECT_FALSE(rasterWaited) << "the logging raster looked at a name on a drive";
    LapOutFraState after{};
    LapOutFra_getState(&after);
    EXPECT_EQ(after.fragment, before.fragment + 2) << "the split did not move past the taken name";
    EXPECT_EQ(after.absLap, before.absLap);
    run(300);
    stopAndFlush();
    std::ifstream kept(dir + "/usb_meas/" + taken);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "another car's file");
}

// Files split by time: the split's name is looked for off the logging raster,
// the split is asked for once (one line), and the records go on from one
// file into the next with none lost or written twice.
TEST_F(MeasAppTest, ATimeSplitLooksForFreeNamesOffTheRaster) {
    cal().FILEFRAGMENTATION_TIME = 1;
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    const uint16_t before = fragmentNow();
    takeLogTexts();
    RasterLookupWatch watch;
    ASSERT_TRUE(runUntil([&] { return fragmentNow() != before; }, 4000)) << "no split by time";
    EXPECT_FALSE(watch.end()) << "the logging raster looked at a name on a drive";
    EXPECT_EQ(fragmentNow(), before + 1);
    EXPECT_EQ(countContaining(takeLogTexts(), "Fragmentation because of time"), 1);
    ASSERT_TRUE(runUntil([&] { return fragmentNow() == before + 2; }, 4000)) << "no second split";
    run(300);
    stopAndFlush();
    std::vector<std::string> names;
    auto m01 = records("meas", &names);
    EXPECT_GE(names.size(), 3u);
    // (how many ticks fit the splits' wall-clock second depends on the host)
    ASSERT_FALSE(m01.empty());
    expectSpacing(m01, 1);
}

// A split asked for while the one before it still waits for a slow drive
// (here its name look-ups are held) is made after it, by the same task: two
// split tasks never run side by side, and both splits are made, one
// fragment each.
TEST_F(MeasAppTest, ASplitAskedWhileOneWaitsForADriveIsMadeAfterIt) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    run(100);
    const uint16_t before = fragmentNow();
    held_calls::holdLookupsOfTask("r_MeasSplit");
    meas_app_forceFragment();
    const bool firstWaits = held_calls::lookupWaits(std::chrono::seconds(10));
    meas_app_forceFragment();
    // a second task would reach the held look-ups at once
    const bool twoAtATime = firstWaits && held_calls::lookupWaiters(2, std::chrono::seconds(1));
    EXPECT_TRUE(meas_app_splitPending());
    held_calls::releaseLookups();
    ASSERT_TRUE(firstWaits) << "the split made no look-up";
    EXPECT_FALSE(twoAtATime) << "a second split task ran beside the first";
    ASSERT_TRUE(runUntil([&] { return fragmentNow() == before + 2 && !meas_app_splitPending(); }, 5000))
        << "fragment " << fragmentNow() << ", " << before << " before";
    run(300);
    stopAndFlush();
    expectSpacing(records("meas"), 1);
}

// A drive that was gone comes back while its measurement records: the split
// into new files looks for its names off the logging raster.
TEST_F(MeasAppTest, ADrivesReturnLooksForFreeNamesOffTheRaster) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 3000));
    run(300);
    const uint32_t failedBefore = m03WriteFailures();
    std::filesystem::remove_all(dir + "/meas2");
    ASSERT_TRUE(runUntil([&] { return m03WriteFailures() > failedBefore; }, 3000));
    const uint16_t before = fragmentNow();
    RasterLookupWatch watch;
    makeDrive("meas2");
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas2"); }, 5000)) << "m03 did not go on";
    EXPECT_FALSE(watch.end()) << "the logging raster looked at a name on a drive";
    EXPECT_EQ(fragmentNow(), before + 1);
    run(300);
    stopAndFlush();
    expectSpacing(records("meas"), 1);   // m01 goes on across the split
    auto m03 = records("meas2");
    ASSERT_GT(m03.size(), 20u);
    expectSpacing(m03, 10);
}

// A stop and a quick start after it, with the name the counters give taken
// (another car's file): neither looks at a name on a drive on the logging
// raster; the start still moves past the taken name, and the recordings of
// both runs are there, each record once.
TEST_F(MeasAppTest, AStopAndTheNextStartLookForFreeNamesOffTheRaster) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return anyFileIn(dir + "/meas"); }, 3000));
    run(300);
    {
        RasterLookupWatch watch;
        stopAndFlush();
        EXPECT_FALSE(watch.end()) << "the stop looked at a name on a drive on the logging raster";
    }
    std::vector<std::string> firstNames;
    const size_t firstRun = records("meas", &firstNames).size();
    LapOutFraState stopped{};
    LapOutFra_getState(&stopped);
    char taken[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(taken, sizeof taken, 0, stopped.outing, stopped.lap, stopped.fragment,
                                          stopped.absLap), 0);
    writeFile(std::string("meas/") + taken, "another car's file");
    {
        RasterLookupWatch watch;
        sp().meas_app_startreq = 1;
        auto files = [&] { return size_t(std::distance(std::filesystem::directory_iterator(dir + "/meas"), {})); };
        ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1 && files() > firstNames.size() + 1; }, 3000))
            << "no start";
        EXPECT_FALSE(watch.end()) << "the start looked at a name on a drive on the logging raster";
    }
    EXPECT_EQ(fragmentNow(), stopped.fragment + 1) << "the start did not move past the taken name";
    run(300);
    stopAndFlush();
    std::ifstream kept(dir + "/meas/" + taken);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "another car's file");
    std::filesystem::remove(dir + "/meas/" + taken);   // no measurement file
    auto m01 = records("meas");
    EXPECT_GT(m01.size(), firstRun + 200);
    std::sort(m01.begin(), m01.end(), [](const Rec& a, const Rec& b) { return a.value < b.value; });
    for (size_t i = 1; i < m01.size(); ++i) ASSERT_NE(m01[i].value, m01[i - 1].value) << "a record written twice";
}
