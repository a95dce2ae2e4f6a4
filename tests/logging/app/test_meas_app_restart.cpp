// Starting again: a restarted pretrigger measurement buffers until its
// condition rises, an init of measurements that exist changes nothing, and
// quick stops and starts lose no file to its name and give every file the
// name of its header.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "logging/app_fixture.h"
#include "logging/counters/lapoutfra.h"
#include "platform/shell.h"

namespace {

// The measurement files in a folder (hidden ones left out).
std::vector<std::string> measFiles(const std::string& folder) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') out.push_back(e.path().filename());
    return out;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Blocks of a list, counted up to a limit (a list linked into itself ends there).
unsigned listLength(MeasBlock* head, unsigned limit = 16) {
    unsigned n = 0;
    for (MeasBlock* b = head; b && n < limit; b = b->next) ++n;
    return n;
}

// Every record carries the value sampled at its time stamp, once.
void expectSampledOnce(const std::vector<MeasAppTest::Rec>& recs, const std::map<uint32_t, uint32_t>& valueAt) {
    for (size_t i = 0; i < recs.size(); ++i) {
        auto it = valueAt.find(recs[i].ts);
        ASSERT_NE(it, valueAt.end()) << "record at " << recs[i].ts << " was never sampled";
        EXPECT_EQ(recs[i].value, it->second) << recs[i].ts;
        if (i) {
            EXPECT_GT(recs[i].ts, recs[i - 1].ts) << "duplicate or out of order at " << recs[i].ts;
        }
    }
}

// Every measurement file of the folder is sound and carries the name its header's counters give.
void expectNamesOfHeaders(const std::string& folder) {
    for (const std::string& n : measFiles(folder)) {
        const std::string bytes = readText(folder + "/" + n);
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), c, err))
            << n << ": " << err;
        char name[32];
        LapOutFra_genFilenameAbsLap(name, sizeof name, c.header.measIdx, c.header.outing, c.header.lap,
                                    c.header.fragment, c.header.absLap);
        EXPECT_EQ(n, name) << "the header's counters give another name";
    }
}

}  // namespace

TEST_F(MeasAppTest, RestartedPretriggerBuffersUntilTheConditionRises) {
    writeConfig(0, "R1ms", true, "<PreTriggerTime time=\"0.2\"/>\n");
    active = true;   // triggered at once: the pretrigger passes everything through
    start();
    run(400);
    stopAndFlush();
    const uint32_t stopTs = lastTs;

    active = false;
    sp().meas_app_startreq = 1;
    run(610);
    // the ticks run late for 150 ms just before the pretrigger time: the
    // frame that reaches into it spans the gap
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    run(190);
    EXPECT_EQ(sp().meas_app_running, 1);
    const uint32_t edge = lastTs + 10;
    active = true;
    run(300);
    stopAndFlush();

    auto recs = records("meas");
    expectSampledOnce(recs, valueAt);
    // After the restart only the pretrigger time before the edge and what
    // follows it. The trigger is taken at or after the edge, and the buffer
    // keeps or drops whole frames: of the records older than the pretrigger
    // time only those of the frame that reaches into it are kept. A frame is
    // 64 records, which span more than 64 ms when the ticks ran late.
    unsigned beforeEdge = 0, beforeWindow = 0;
    uint32_t oldest = 0;
    for (const auto& r : recs) {
        if (r.ts <= stopTs) continue;
        if (!beforeWindow && int32_t(r.ts - (edge - 2000)) < 0) oldest = r.ts;
        beforeWindow += int32_t(r.ts - (edge - 2000)) < 0;
        beforeEdge += r.ts < edge;
    }
    EXPECT_LT(beforeWindow, 64u) << "records from " << oldest << " on, while the condition was false";
    EXPECT_GT(beforeEdge, 100u);   // the pretrigger time before the edge is kept
    auto log = takeLogTexts();
    EXPECT_FALSE(logContains(log, "trigger came without being armed"));
}

TEST_F(MeasAppTest, InitOfExistingMeasurementsChangesNothing) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms", true);
    start();
    run(300);
    ASSERT_EQ(sp().meas_app_running, 1);
    takeLogTexts();

    // "meas init" while logging runs, twice
    for (int i = 0; i < 2; ++i) {
        sp().meas_app_reinitreq = 1;
        run(200);
    }
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(listLength(meas_app_measlist[MEAS_RASTER_1MS]), 1u);
    EXPECT_EQ(listLength(meas_app_condlist[MEAS_IDX_M03]), 1u);
    EXPECT_EQ(sp().meas_cnt_m01request, 1);

    // "meas stop; meas init; meas init; meas start"
    sp().meas_app_stopreq = 1;
    ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
    for (int i = 0; i < 2; ++i) {
        sp().meas_app_reinitreq = 1;
        run(50);
    }
    const uint32_t restartTs = lastTs;
    sp().meas_app_startreq = 1;
    run(400);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(listLength(meas_app_measlist[MEAS_RASTER_1MS]), 1u);
    EXPECT_EQ(listLength(meas_app_condlist[MEAS_IDX_M03]), 1u);

    auto log = takeLogTexts();
    // (a message repeated by the same task is folded by the log)
    EXPECT_GE(countContaining(log, "measurement exists, init refused"), 2);
    for (const char* fault : {"illegal databuffer", "MF_ERR_FIFO_IN_USE", "endless loop", "Init new measurement"})
        EXPECT_FALSE(logContains(log, fault)) << fault;

    stopAndFlush();
    auto recs = records("meas");
    expectSampledOnce(recs, valueAt);
    unsigned afterRestart = 0;
    for (const auto& r : recs) afterRestart += r.ts > restartTs;
    EXPECT_GT(afterRestart, 200u);
}

TEST_F(MeasAppTest, ShellSaysWhenInitIsRefused) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    takeLogTexts();
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas init", &out), -1);
    EXPECT_EQ(out, "meas init: measurement exists, init refused (destroy it first)\n");
    run(50);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(sp().meas_cnt_m01request, 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "measurement exists, init refused"));

    // destroyed, the init goes ahead and says nothing
    EXPECT_EQ(shell_runLineCapture("meas destroy", &out), 0);
    ASSERT_TRUE(runUntil([] { return !(meas[MEAS_IDX_M01].stateFlags & 1); }, 3000));
    EXPECT_EQ(shell_runLineCapture("meas init", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
}

// Quick rounds of "meas stop; meas start; meas stop; meas start": a stop
// that comes before the writer made its file still moves the counters past
// the file's name, and a start takes the next free name, so no file of a
// round is refused for its name and every round's records are on the drive.
TEST_F(MeasAppTest, QuickStopStartRoundsLoseNoFileToAName) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return measFiles(dir + "/meas").size() == 1; }, 3000));
    LapOutFraState s{};
    auto stop = [&] {
        sp().meas_app_stopreq = 1;
        ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
    };
    auto startAgain = [&] {
        sp().meas_app_startreq = 1;
        ASSERT_TRUE(runUntil([&] { return !sp().meas_app_startreq; }, 2000));
    };
    stop();
    // an earlier run's file under the name the next start would take
    LapOutFra_getState(&s);
    char name[32];
    LapOutFra_genFilename(name, sizeof name, 0, s.outing, s.lap, s.fragment);
    writeFile(std::string("meas/") + name, "an earlier run's file");
    for (unsigned round = 0; round < 5; ++round) {
        run(60);
        startAgain();
        // stopped as soon as the round's first file is made, before its writer wrote it
        ASSERT_TRUE(runUntil([&] { return uint32_t(meas[0].savedRecords) > 0; }, 2000));
        stop();
        run(60);
        startAgain();
        run(300);
        stop();
    }
    stopAndFlush();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "is not made on this drive"), 0) << testing::PrintToString(log);
    EXPECT_EQ(countContaining(log, "the file is made as"), 0) << testing::PrintToString(log);
    EXPECT_EQ(std::atomic_ref<uint32_t>(meas_store_writeCounters(0, 0).failures).load(), 0u);
    EXPECT_EQ(readText(dir + "/meas/" + name), "an earlier run's file");
    // the first run's file, the earlier run's, and both starts of every round in files of their own
    EXPECT_EQ(measFiles(dir + "/meas").size(), 1u + 1u + 2u * 5u);
}

// Quick stops and starts of a measurement with a fast and a slow block: the
// stop drains every record into the file it belongs to before that file
// closes, so no record of the slow block, drained after the fast one ended
// its file, opens another file under the closed file's counters. Every file
// on the drive carries the name its header's counters give.
TEST_F(MeasAppTest, QuickStopStartRoundsGiveEveryFileItsHeadersName) {
    std::string blocks;
    const char* rasters[] = {"R1ms", "R100ms"};
    for (int i = 0; i < 2; ++i)
        blocks += "<Block name=\"b" + std::to_string(i) + "\" idx=\"" + std::to_string(i) +
                  "\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"" + rasters[i] +
                  "\"><CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"><adr adr=\"" + adr("stim_tick") +
                  "\" idx=\"0\"/></CopySeq></Block>\n";
    writeFile("cfg/m01.xml", "<AcqInfo ident=\"t\" num_blocks=\"2\" num_conditions=\"0\" version=\"1\" protocol=\"0\">\n" +
                                 blocks + "</AcqInfo>\n");
    start();
    ASSERT_TRUE(runUntil([&] { return measFiles(dir + "/meas").size() == 1; }, 3000));
    auto stop = [&] {
        sp().meas_app_stopreq = 1;
        ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
    };
    auto startAgain = [&] {
        sp().meas_app_startreq = 1;
        ASSERT_TRUE(runUntil([&] { return !sp().meas_app_startreq; }, 2000));
    };
    // stops at several points of the slow block's period, most before its first record of the file
    const unsigned gaps[] = {50, 80, 110, 140, 170, 200, 230, 250};
    for (unsigned gap : gaps) {
        stop();
        run(gap);
        startAgain();
        run(gap);
    }
    stopAndFlush();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "the file is made as"), 0) << testing::PrintToString(log);
    EXPECT_EQ(countContaining(log, "is closed already"), 0) << testing::PrintToString(log);
    expectNamesOfHeaders(dir + "/meas");
}

// Records that come after their file closed, its counters unchanged, have no
// file any more: none makes another file under the closed file's counters.
TEST_F(MeasAppTest, RecordsAfterTheirFileClosedMakeNoFileUnderItsCounters) {
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([&] { return measFiles(dir + "/meas").size() == 1; }, 3000));
    meas_app_close_file(&meas[0].blocks[0], SB_PERIOD);
    ASSERT_TRUE(runUntil([&] { return MeasAppStore_queuedFiles(0) == 0; }, 3000));
    const uint32_t saved = meas[0].savedRecords;
    ASSERT_TRUE(runUntil([&] { return uint32_t(meas[0].savedRecords) > saved + 10; }, 2000));
    stopAndFlush();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "the file is made as"), 0) << testing::PrintToString(log);
    EXPECT_GT(countContaining(log, "is closed already"), 0) << testing::PrintToString(log);
    EXPECT_EQ(measFiles(dir + "/meas").size(), 1u);
    expectNamesOfHeaders(dir + "/meas");
}

