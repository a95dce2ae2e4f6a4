// Lap, outing and fragment counters: NVRAM, triggers, file names, shell.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <thread>
#include <string>

#include "logging/held_calls.h"
#include "logging/counters/lapoutfra.h"
#include "platform/nvram.h"
#include "logging/logging_fixture.h"
#include "platform/shell.h"

namespace {

LapOutFraState current() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    return s;
}

std::string shell(int (*fn)(int, char**), std::vector<std::string> args, int rc = 0) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(fn(int(args.size()), argv.data()), rc);
    return testing::internal::GetCapturedStdout();
}

std::string name(uint8_t idx, uint16_t out, uint16_t lap, uint16_t frag, uint16_t abs) {
    char buf[32];
    LapOutFra_genFilenameAbsLap(buf, sizeof buf, idx, out, lap, frag, abs);
    return buf;
}

}  // namespace

using LapOutFraTest = LoggingTest;

TEST_F(LapOutFraTest, FileNames) {
    EXPECT_EQ(name(0, 1, 2, 1, 0x123), "A0102012.301");
    EXPECT_EQ(name(2, 0x1FF, 0x102, 0x1AB, 0xFFFF), "Bff02fff.fab");
    char buf[16] = "x";
    EXPECT_EQ(LapOutFra_genFilenameAbsLap(buf, sizeof buf, 1, 1, 1, 1, 1), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LapOutFra_genFilenameAbsLap(buf, sizeof buf, 3, 1, 1, 1, 1), -1);
    EXPECT_EQ(LapOutFra_genFilenameAbsLap(nullptr, 16, 0, 1, 1, 1, 1), -1);
    EXPECT_EQ(LapOutFra_genFilenameAbsLap(buf, 0, 0, 1, 1, 1, 1), -1);
    char small[5];
    EXPECT_EQ(LapOutFra_genFilenameAbsLap(small, sizeof small, 0, 1, 2, 1, 0x123), 4);
    EXPECT_STREQ(small, "A010");
}

// The name after a taken one, by the rule of the splits: the next fragment,
// after fragment 255 the next absolute lap with fragment 1.
TEST_F(LapOutFraTest, TheNextFileNameFollowsTheSplitsRule) {
    char next[16] = "untouched";
    auto after = [&](const char* n) { return LapOutFra_nextFileName(n, next, sizeof next) ? std::string(next) : ""; };
    EXPECT_EQ(after("A0102012.301"), "A0102012.302");
    EXPECT_EQ(after("B0102012.3fe"), "B0102012.3ff");
    EXPECT_EQ(after("A0102012.3ff"), "A0102012.401");
    EXPECT_EQ(after("A01020ff.fff"), "A0102100.001");
    EXPECT_EQ(after("Aff02fff.fff"), "Aff02000.001");   // the absolute lap wraps as the counter does
    std::snprintf(next, sizeof next, "untouched");
    for (const char* no : {"A0102012.30", "C0102012.301", "A0102012.3G1", "A0102012.301.part", ""}) {
        EXPECT_FALSE(LapOutFra_nextFileName(no, next, sizeof next)) << no;
        EXPECT_STREQ(next, "untouched");
    }
    EXPECT_FALSE(LapOutFra_nextFileName("A0102012.301", next, 12));
    char same[16] = "A0102012.3ff";   // in place
    EXPECT_TRUE(LapOutFra_nextFileName(same, same, sizeof same));
    EXPECT_STREQ(same, "A0102012.401");
}

TEST_F(LapOutFraTest, CountersPersistAcrossRestart) {
    // nothing stored yet: 1/1/1, absolute lap 0
    ASSERT_EQ(LapOutFra_init(), 0);
    LapOutFraState s = current();
    EXPECT_EQ(s.lap, 1);
    EXPECT_EQ(s.outing, 1);
    EXPECT_EQ(s.fragment, 1);
    EXPECT_EQ(s.absLap, 0);
    EXPECT_EQ(s.valid, 0);

    LapOutFra_initLapOutCnt(7, 3);            // new pair: fragment 1, absolute lap + 1
    LapOutFra_setFragmentTrig(1234);
    s = current();
    EXPECT_EQ(s.valid, 1);
    EXPECT_EQ(s.fragment, 2);
    EXPECT_EQ(s.absLap, 1);
    EXPECT_EQ(s.timeStamp, 1234u);

    restart();
    ASSERT_EQ(LapOutFra_init(), 0);
    s = current();
    EXPECT_EQ(s.lap, 7);
    EXPECT_EQ(s.outing, 3);
    EXPECT_EQ(s.fragment, 2);
    EXPECT_EQ(s.absLap, 2);                   // every start counts one
    EXPECT_EQ(s.valid, 0);
    EXPECT_EQ(s.timeStamp, 0u);

    // the same pair keeps fragment and absolute lap
    LapOutFra_initLapOutCnt(7, 3);
    s = current();
    EXPECT_EQ(s.fragment, 2);
    EXPECT_EQ(s.absLap, 2);

    // element 0 is fragment, outing, lap little-endian
    uint8_t raw[6];
    ASSERT_EQ(nvram_dbs_read(0, 0, raw, 6), 6);
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 6), (std::vector<uint8_t>{2, 0, 3, 0, 7, 0}));
}

TEST_F(LapOutFraTest, TriggersAndWraps) {
    ASSERT_EQ(LapOutFra_init(), 0);
    int resets = 0, segmentations = 0;
    static int* pResets;
    static int* pSegs;
    pResets = &resets;
    pSegs = &segmentations;
    LapOutFra_setHooks({[] { ++*pResets; }, [] { ++*pSegs; }, nullptr});

    LapOutFra_setLapOutCnt(5, 1, 100);        // same outing: no lap-stack reset
    LapOutFraState s = current();
    EXPECT_EQ(s.lap, 5);
    EXPECT_EQ(s.fragment, 1);
    EXPECT_EQ(s.absLap, 1);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(segmentations, 1);
    LapOutFra_setLapOutCnt(0x102, 0x1FF, 200);
    EXPECT_EQ(resets, 1);
    const LapOutFraSignals& sig = LapOutFra_signals();
    EXPECT_EQ(*sig.lapctr, 0x02);
    EXPECT_EQ(*sig.outctr, 0xFF);
    EXPECT_EQ(*sig.abslap, 2);

    for (int i = 1; i < 255; ++i) LapOutFra_setFragmentTrig(300);
    EXPECT_EQ(current().fragment, 255);
    LapOutFra_setFragmentTrig(400);           // wraps to 1, one more absolute lap
    s = current();
    EXPECT_EQ(s.fragment, 1);
    EXPECT_EQ(s.absLap, 3);
    EXPECT_EQ(*sig.fractr, 1);

    // an update from another device: an unchanged pair does nothing
    LapOutFra_chngLapOutCnt(0x102, 0x1FF);
    EXPECT_EQ(current().absLap, 3);
    LapOutFra_chngLapOutCnt(0x103, 0x1FF);
    EXPECT_EQ(current().absLap, 4);
}

TEST_F(LapOutFraTest, FragmentSearchSkipsFilesOnLoggingDrives) {
    ASSERT_EQ(LapOutFra_init(), 0);           // absolute lap 0
    makeDrive("meas");
    makeDrive("meas2");
    makeDrive("usb_meas");
    // new pair (1, 2) takes absolute lap 1; fragments 1 and 2 exist on two drives
    std::ofstream(dir + "/meas/A0201000.101") << "x";
    std::ofstream(dir + "/usb_meas/B0201000.102") << "x";
    // a file of that name in the working directory is not a measurement file
    std::ofstream("A0201000.103") << "x";
    LapOutFra_initLapOutCnt(1, 2);
    EXPECT_EQ(current().fragment, 3);
    std::remove("A0201000.103");
    // whatever lies at a name takes it, a FIFO too, and is never waited on
    makeFifo("meas/A0301000.201");
    std::filesystem::create_symlink("gone", dir + "/meas2/A0301000.202");
    EXPECT_TRUE(returnsBesideFifo("meas/A0301000.201", [] { LapOutFra_initLapOutCnt(1, 3); }));
    EXPECT_EQ(current().fragment, 3);
}

// After an NVRAM loss the counters may lead to names of earlier files. A lap,
// outing or fragment trigger never hands out a name that something on a
// logging drive takes, whatever it is; each one skipped is named in the log.
TEST_F(LapOutFraTest, TriggersMovePastNamesInUse) {
    ASSERT_EQ(LapOutFra_init(), 0);           // absolute lap 0
    makeDrive("meas");
    makeDrive("meas2");
    makeDrive("usb_meas");
    LapOutFra_initLapOutCnt(1, 1);
    ASSERT_EQ(current().fragment, 1);
    takeLogTexts();

    // the next lap takes absolute lap 1: fragments 1 to 4 of lap 2 are taken
    writeFile("meas/A0102000.101", "an earlier recording");
    makeFifo("meas2/B0102000.102");
    std::filesystem::create_symlink("gone", dir + "/usb_meas/A0102000.103");
    std::filesystem::create_directory(dir + "/meas/B0102000.104");
    EXPECT_TRUE(returnsBesideFifo("meas2/B0102000.102", [] { LapOutFra_setLapOutCnt(2, 1, 500); }));
    LapOutFraState s = current();
    EXPECT_EQ(s.lap, 2);
    EXPECT_EQ(s.absLap, 1);
    EXPECT_EQ(s.fragment, 5);
    EXPECT_EQ(s.timeStamp, 500u);
    EXPECT_EQ(*LapOutFra_signals().fractr, 5);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "'meas:/A0102000.101' is in use (a file)"), 1);
    EXPECT_EQ(countContaining(log, "'meas2:/B0102000.102' is in use (a FIFO)"), 1);
    EXPECT_EQ(countContaining(log, "'usb_meas:/A0102000.103' is in use (a link)"), 1);
    EXPECT_EQ(countContaining(log, "'meas:/B0102000.104' is in use (a folder)"), 1);
    EXPECT_EQ(countContaining(log, "the next file is A0102000.105"), 1) << testing::PrintToString(log);
    std::ifstream old(dir + "/meas/A0102000.101");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "an earlier recording");

    // the fragment trigger: fragment 6 is taken
    writeFile("meas2/A0102000.106", "x");
    LapOutFra_setFragmentTrig(600);
    EXPECT_EQ(current().fragment, 7);
    EXPECT_EQ(countContaining(takeLogTexts(), "'meas2:/A0102000.106' is in use (a file)"), 1);

    // the outing trigger (absolute lap 2): its first fragment is taken
    writeFile("meas/B0202000.201", "");
    LapOutFra_setLapOutCnt(2, 2, 700);
    s = current();
    EXPECT_EQ(s.outing, 2);
    EXPECT_EQ(s.fragment, 2);
    EXPECT_EQ(countContaining(takeLogTexts(), "'meas:/B0202000.201' is in use"), 1);

    // a free name: nothing is said
    LapOutFra_setFragmentTrig(800);
    EXPECT_EQ(current().fragment, 3);
    EXPECT_EQ(countContaining(takeLogTexts(), "in use"), 0);
}

// The last fragment before 255 taken: the trigger wraps to fragment 1 of the
// next absolute lap, as the start-up's search does.
TEST_F(LapOutFraTest, FragmentTriggerPastATakenLastFragmentWraps) {
    ASSERT_EQ(LapOutFra_init(), 0);
    makeDrive("meas");
    LapOutFra_initLapOutCnt(1, 1);
    for (int i = 1; i < 254; ++i) LapOutFra_setFragmentTrig(100);
    ASSERT_EQ(current().fragment, 254);
    writeFile("meas/A0101000.0ff", "x");
    LapOutFra_setFragmentTrig(200);
    LapOutFraState s = current();
    EXPECT_EQ(s.fragment, 1);
    EXPECT_EQ(s.absLap, 1);
    EXPECT_EQ(*LapOutFra_signals().abslap, 1);
}

TEST_F(LapOutFraTest, ShellCommandsPrintTheState) {
    ASSERT_EQ(LapOutFra_init(), 0);
    EXPECT_EQ(shell(lof_set, {"lof_set", "1"}, -1), "usage: lof_set lapcnt outcnt\n");
    ASSERT_EQ(LapOutFra_cmds_init(), 0);
    std::string printed;
    EXPECT_EQ(shell_runLineCapture("lof_set 4 2", &printed), 0);
    EXPECT_EQ(printed,
              "Valid: \t\t\t1\nLap counter: \t\t4\nOuting counter: \t2\nFragment counter: \t1\n"
              "Timestamp: \t\t0\nAbsolute lap counter: \t1 (0x1)\n");
    std::string out = shell(lof_laptrig, {"lof_laptrig"});
    EXPECT_NE(out.find("Lap counter: \t\t5\n"), std::string::npos);
    EXPECT_NE(out.find("Absolute lap counter: \t2 (0x2)\n"), std::string::npos);
    out = shell(lof_outtrig, {"lof_outtrig"});
    EXPECT_NE(out.find("Outing counter: \t3\n"), std::string::npos);
    EXPECT_NE(out.find("Lap counter: \t\t5\n"), std::string::npos);
    out = shell(lof_fratrig, {"lof_fratrig"});
    EXPECT_NE(out.find("Fragment counter: \t2\n"), std::string::npos);
    out = shell(lof_get, {"lof_get"});
    EXPECT_NE(out.find("Absolute lap counter: \t3 (0x3)\n"), std::string::npos);
}

TEST_F(LapOutFraTest, CallsBeforeInitAreRefused) {
    LapOutFraState s{};
    s.valid = 7;
    LapOutFra_getState(&s);
    EXPECT_EQ(s.valid, 0);
    LapOutFra_setLapOutCnt(1, 1, 1);          // logged, nothing changes
    LapOutFra_setFragmentTrig(1);
    LapOutFra_initLapOutCnt(1, 1);
    LapOutFra_getState(nullptr);
    EXPECT_EQ(LapOutFra_isValid(), 0);
}

TEST_F(LapOutFraTest, ShellRefusesBadArgumentsAndChangesNothing) {
    ASSERT_EQ(LapOutFra_init(), 0);
    LapOutFra_initLapOutCnt(4, 2);
    const LapOutFraState before = current();
    const std::vector<std::vector<std::string>> bad = {
        {"lof_set", "abc", "def"}, {"lof_set", "70000", "-1"}, {"lof_set", "1.5", "2"},
        {"lof_set", "3", "4x"},    {"lof_set", "", "4"},       {"lof_set", "3", "4", "5"},
        {"lof_set", "99999999999999999999", "1"}};
    for (const auto& args : bad) {
        std::string out = shell(lof_set, args, -1);
        EXPECT_EQ(out, "usage: lof_set lapcnt outcnt\n") << args[1] << " " << args[2];
    }
    EXPECT_EQ(shell(lof_laptrig, {"lof_laptrig", "1"}, -1), "usage: lof_laptrig\n");
    EXPECT_EQ(shell(lof_outtrig, {"lof_outtrig", "x"}, -1), "usage: lof_outtrig\n");
    EXPECT_EQ(shell(lof_fratrig, {"lof_fratrig", "x"}, -1), "usage: lof_fratrig\n");
    const LapOutFraState after = current();
    EXPECT_EQ(after.lap, before.lap);
    EXPECT_EQ(after.outing, before.outing);
    EXPECT_EQ(after.fragment, before.fragment);
    EXPECT_EQ(after.absLap, before.absLap);
    // the edges of the range are taken
    EXPECT_NE(shell(lof_set, {"lof_set", "65535", "0"}).find("Lap counter: \t\t65535\n"), std::string::npos);
}

TEST_F(LapOutFraTest, FailedStoreIsReportedLoggedOnceAndNotLostSilently) {
    ASSERT_EQ(LapOutFra_init(), 0);
    LapOutFra_initLapOutCnt(2, 2);
    ASSERT_TRUE(LapOutFra_lastStoreOk());
    ASSERT_TRUE(nvram_dbs_flush());
    takeLogTexts();
    // the temporary file of the atomic write cannot be created
    std::filesystem::create_directory(dir + "/nvram.bin.tmp");
    std::string out = shell(lof_set, {"lof_set", "9", "9"}, -1);
    EXPECT_NE(out.find("Lap counter: \t\t9\n"), std::string::npos);
    EXPECT_NE(out.find("lof_set: storing the counters in NVRAM failed\n"), std::string::npos);
    out = shell(lof_laptrig, {"lof_laptrig"}, -1);
    EXPECT_NE(out.find("lof_laptrig: storing the counters in NVRAM failed\n"), std::string::npos);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "not stored: nvram.bin.tmp: Is a directory"), 1);

    // the next start still has the last stored counters
    restart();
    ASSERT_EQ(LapOutFra_init(), 0);
    EXPECT_EQ(current().lap, 2);
    EXPECT_EQ(current().outing, 2);

    // once storing works again, a new cause is logged again
    std::filesystem::remove(dir + "/nvram.bin.tmp");
    EXPECT_EQ(shell(lof_laptrig, {"lof_laptrig"}).find("failed"), std::string::npos);
    EXPECT_TRUE(LapOutFra_lastStoreOk());
}

// The lap-stack reset of a new outing rewrites hundreds of NVRAM elements: the
// logging raster must not wait for it to learn the new outing, or it files
// the new outing's records into the old file meanwhile.
TEST_F(LapOutFraTest, NewOutingIsVisibleWhileTheLapStackIsReset) {
    ASSERT_EQ(LapOutFra_init(), 0);
    LapOutFra_initLapOutCnt(1, 1);
    struct Seen {
        bool readable = false;
        LapOutFraState state{};
        uint32_t timeStamp = 0;
        std::thread reader;
    };
    static Seen* seen;
    Seen s;
    seen = &s;
    LapOutFra_setHooks({[] {
                            // another task reads the counters while the reset runs
                            auto done = std::make_shared<std::promise<void>>();
                            auto f = done->get_future();
                            seen->reader = std::thread([done] {
                                LapOutFra_getState(&seen->state);
                                done->set_value();
                            });
                            seen->readable = f.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
                            seen->timeStamp = LapOutFra_getTimeStamp();
                        },
                        nullptr, nullptr});
    LapOutFra_setLapOutCnt(1, 2, 4242);   // outing trigger
    s.reader.join();
    EXPECT_TRUE(s.readable) << "the counters were locked while the lap stack was reset";
    EXPECT_EQ(s.state.outing, 2);
    EXPECT_EQ(s.timeStamp, 4242u);

    s.reader = std::thread();
    LapOutFra_initLapOutCnt(3, 3);        // a new pair resets the history too
    s.reader.join();
    EXPECT_TRUE(s.readable);
    EXPECT_EQ(s.state.lap, 3);
    LapOutFra_setHooks({});
}

// The search for a free name at a measurement's start looks at the drives
// (a slow USB stick among them) without the counters' lock: the rasters read
// and change the counters meanwhile, and a change in between sends the
// search round again from the new counters.
TEST_F(LapOutFraTest, NameLookupsHoldNoLockTheRastersTake) {
    ASSERT_EQ(LapOutFra_init(), 0);
    makeDrive("meas");
    makeDrive("usb_meas");
    LapOutFra_initLapOutCnt(1, 1);
    const LapOutFraState before = current();
    writeFile("meas/" + name(0, 1, 1, before.fragment, before.absLap), "an earlier recording");

    std::promise<void> go;
    std::thread searcher([f = go.get_future()]() mutable {
        f.wait();
        LapOutFra_skipNamesInUse();
    });
    held_calls::holdLookups(searcher.get_id());
    go.set_value();
    const bool held = held_calls::lookupWaits(std::chrono::seconds(10));
    // the read first, then the split: the read sees the counters before it
    auto read = std::async(std::launch::async, [] { return current(); });
    const bool readFree = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    auto split = std::async(std::launch::async, [] { LapOutFra_setFragmentTrig(100); });
    const bool splitFree = split.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    held_calls::releaseLookups();
    searcher.join();
    split.get();
    EXPECT_TRUE(held);
    EXPECT_TRUE(readFree) << "a read of the counters waited for a drive";
    EXPECT_TRUE(splitFree) << "a split waited for a drive";
    EXPECT_EQ(read.get().fragment, before.fragment);
    // the split moved past the taken name; the search, sent round again,
    // found the split's name free and left it
    EXPECT_EQ(current().fragment, before.fragment + 1);
    EXPECT_EQ(current().absLap, before.absLap);
}
