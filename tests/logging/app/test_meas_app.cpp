// The logging application end to end: configuration to files, start and stop
// conditions, the restart after a time stamp going back, stop and start with
// the telemetry measurement, the fast stop and the shell print.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "logging/app_fixture.h"
#include "platform/shell.h"

namespace {

// Every record matches the value the signal page had at its time stamp, and
// the records of a 1 ms block follow each other by 1 ms.
void expectContinuous(const std::vector<MeasAppTest::Rec>& recs, const std::map<uint32_t, uint32_t>& valueAt,
                      uint32_t spacing) {
    for (size_t i = 0; i < recs.size(); ++i) {
        auto it = valueAt.find(recs[i].ts);
        ASSERT_NE(it, valueAt.end()) << "record at " << recs[i].ts << " was never sampled";
        EXPECT_EQ(recs[i].value, it->second) << recs[i].ts;
        if (i) {
            EXPECT_EQ(recs[i].value - recs[i - 1].value, spacing) << "gap or duplicate at " << recs[i].ts;
        }
    }
}

// Block 1's records of every file of the folder, by file name.
std::map<std::string, std::vector<MeasAppTest::Rec>> fileRecords(const std::string& folder) {
    std::map<std::string, std::vector<MeasAppTest::Rec>> out;
    for (auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string n = e.path().filename().string();
        if (!e.is_regular_file() || n[0] == '.') continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err)) << n << ": " << err;
        auto& recs = out[n];
        for (auto& r : c.records)
            if (r.blockId == 1 && r.values.size() == 4)
                recs.push_back({r.timeStamp, uint32_t(r.values[0]) << 24 | uint32_t(r.values[1]) << 16 |
                                                 uint32_t(r.values[2]) << 8 | r.values[3]});
    }
    return out;
}

// Every file of the folder holds block 1's records in time order: none is
// stamped before the one it follows (compared wrap-safe).
void expectFilesInTimeOrder(const std::string& folder) {
    for (auto& [n, recs] : fileRecords(folder))
        for (size_t i = 1; i < recs.size(); ++i)
            EXPECT_GE(int32_t(recs[i].ts - recs[i - 1].ts), 0) << n << ": " << recs[i].ts << " after " << recs[i - 1].ts;
}

}  // namespace

TEST_F(MeasAppTest, RecordsEveryValueIntoFilesOfBothDrives) {
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    run(600);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(sp().meas_globcond_m01, 1);   // no start condition: recording from the start
    EXPECT_EQ(sp().meas_cnt_m01request, 1);
    EXPECT_EQ(sp().meas_cnt_m01reply, 1);
    stopAndFlush();
    auto m01 = records("meas");
    auto m03 = records("meas2");
    ASSERT_GT(m01.size(), 400u);
    ASSERT_GT(m03.size(), 40u);
    expectContinuous(m01, valueAt, 1);
    expectContinuous(m03, valueAt, 10);
    EXPECT_EQ(sp().meas_cnt_ecu, m01.size());
}

TEST_F(MeasAppTest, GlobalConditionGatesTheRecords) {
    writeConfig(0, "R1ms", true);
    active = false;
    start();
    run(300);
    EXPECT_EQ(sp().meas_globcond_m01, 0);
    EXPECT_EQ(meas_app_getMeasStopped(0), 1);
    active = true;
    run(300);
    EXPECT_EQ(sp().meas_globcond_m01, 1);
    EXPECT_EQ(meas_app_getMeasStopped(0), 0);
    active = false;
    run(300);
    active = true;
    run(300);
    size_t during = 0;   // samples while the condition held, up to the stop
    for (auto& [ts, a] : activeAt) during += a;
    stopAndFlush();
    auto recs = records("meas");
    ASSERT_GT(recs.size(), 400u);
    // a record only while the condition holds, allowing the 10 ms of its
    // evaluation and the two raster hops after an edge
    for (const auto& r : recs) {
        bool recent = false;
        for (auto it = activeAt.lower_bound(r.ts - 400); it != activeAt.end() && it->first <= r.ts; ++it)
            recent |= it->second;
        EXPECT_TRUE(recent) << "record at " << r.ts << " while the condition was false";
    }
    // and while it held, every sample once the lists were running
    EXPECT_GT(recs.size(), during - 100);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "m01, BLK #1 started"), 2);
    EXPECT_EQ(countContaining(log, "m01, BLK #1 stopped"), 1);
}

TEST_F(MeasAppTest, PretriggerKeepsTheDataBeforeTheEdge) {
    writeConfig(0, "R1ms", true, "<PreTriggerTime time=\"0.2\"/>\n");
    active = false;
    start();
    run(600);
    const uint32_t edge = lastTs + 10;   // the sample time of the next tick
    active = true;
    run(300);
    stopAndFlush();
    auto recs = records("meas");
    ASSERT_FALSE(recs.empty());
    EXPECT_LT(recs.front().ts, edge - 1000);   // at least 0.1 s before the edge
    // the 0.2 s kept, give or take a frame: at most a frame's 64 records
    // before them (a busy host that runs the ticks late spreads a frame's
    // records over more than 64 ms)
    const auto before = std::count_if(recs.begin(), recs.end(), [&](const Rec& r) { return int32_t(edge - 2000 - r.ts) > 0; });
    EXPECT_LE(before, 64) << "first record at " << recs.front().ts << ", edge at " << edge;
    expectContinuous(recs, valueAt, 1);
}

TEST_F(MeasAppTest, TimeStampGoingBackRestartsOnce) {
    writeConfig(0, "R1ms");
    start();
    run(300);
    takeLogTexts();
    host::setTimeStampOffset(uint32_t(-50000));   // 5 s back
    const uint32_t step = time_getTimestamp();
    run(500);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "timestamp reset detected: restarting measurement"), 1);
    EXPECT_EQ(countContaining(log, "Stopping measurement"), 1);
    EXPECT_EQ(countContaining(log, "Start new measurement"), 1);
    EXPECT_EQ(sp().meas_app_running, 1);
    LapOutFraState s{};
    LapOutFra_getState(&s);
    EXPECT_EQ(s.lap, 1);
    EXPECT_EQ(s.outing, 1);
    // the new time's first file begins at the step (the events of its moment
    // are its), though its first record comes after the restart's wait
    EXPECT_LE(s.timeStamp - step, 20u) << "the new files begin at " << s.timeStamp << ", the step was at " << step;

    // a step back while out of sync (a slave that took its restarted
    // master's time) shows once sync is back
    host::setTimeSyncState(0);
    run(100);
    host::setTimeStampOffset(uint32_t(-100000));   // 5 s further back
    run(100);
    host::setTimeSyncState(1);
    run(500);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "timestamp reset detected: restarting measurement"), 1);
    EXPECT_EQ(countContaining(log, "Start new measurement"), 1);
    EXPECT_EQ(sp().meas_app_running, 1);

    // a stop asked while the restart waits for the step's event closes
    // stays a stop
    host::setTimeStampOffset(uint32_t(-150000));   // 5 s further back
    run(50);
    sp().meas_app_stopreq = 1;
    run(500);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "measurement not restarted"), 1);
    EXPECT_EQ(countContaining(log, "Start new measurement"), 0);
    EXPECT_EQ(sp().meas_app_running, 0);
    stopAndFlush();
    expectFilesInTimeOrder(dir + "/meas");
    sp().meas_app_startreq = 1;
    run(300);

    // the wrap of the clock is no step back (getting near it from here is)
    host::setTimeStampOffset(0);
    host::setTimeStampOffset(uint32_t(0u - 10000u) - host::timeStamp());   // 1 s before the wrap
    run(500);
    takeLogTexts();
    run(1000);
    EXPECT_LT(time_getTimestamp(), 100000u) << "the clock did not wrap";
    EXPECT_EQ(countContaining(takeLogTexts(), "timestamp reset detected"), 0);
    EXPECT_EQ(sp().meas_app_running, 1);
}

// A slave's master silent for a second and back 0.12 s behind: the slave
// went on in its old time meanwhile, out of sync, and steps back onto the
// new one. However small the step, and whether the logging raster or the
// FIFOs see it first (the raster held off its CPU across it), the
// measurement restarts once, no value taken after the step reaches a file
// of the old time, and the records refused meanwhile are named.
TEST_F(MeasAppTest, ASmallStepBackAfterASilenceRestartsBeforeANewRecordReachesAnOldFile) {
    writeConfig(0, "R1ms");
    start();
    run(300);
    std::vector<uint32_t> firstNew;   // the counter's first value of each new time
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "logging raster held across the step" : "out of sync across the step");
        takeLogTexts();
        host::setTimeSyncState(0);   // the master falls silent
        run(1000);
        measHeld = held;
        run(held ? 100 : 0);
        host::setTimeStampOffset(uint32_t(-1200) * uint32_t(firstNew.size() + 1));   // 0.12 s back
        firstNew.push_back(counter + 1);
        run(held ? 200 : 50);
        measHeld = false;
        host::setTimeSyncState(1);
        run(700);
        auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, "timestamp reset detected: restarting measurement"), 1);
        EXPECT_EQ(countContaining(log, "Start new measurement"), 1);
        EXPECT_GE(countContaining(log, "records put after the time went back"), 1);
        EXPECT_EQ(sp().meas_app_running, 1);
    }
    stopAndFlush();
    // each file holds the values of one time: those taken before a step, or
    // those from it on up to the next
    auto files = fileRecords(dir + "/meas");
    ASSERT_EQ(files.size(), 3u);
    size_t k = 0;
    for (auto& [n, recs] : files) {
        ASSERT_FALSE(recs.empty()) << n;
        for (size_t i = 1; i < recs.size(); ++i)
            EXPECT_GT(int32_t(recs[i].ts - recs[i - 1].ts), 0) << n << ": " << recs[i].ts << " after " << recs[i - 1].ts;
        const uint32_t from = k ? firstNew[k - 1] : 0, to = k < firstNew.size() ? firstNew[k] : ~0u;
        for (const auto& r : recs)
            EXPECT_TRUE(r.value >= from && r.value < to) << n << ": value " << r.value << " at " << r.ts;
        ++k;
    }
}

// A slave whose time is not in sync (no time master heard) does not start
// logging: it says so once in the log and in the shell's "meas", and
// starts once the time is there.
TEST_F(MeasAppTest, ALoggingThatWaitsForTheTimeMasterSaysSo) {
    writeConfig(0, "R1ms");
    host::setTimeSyncState(0);
    start();
    run(300);
    EXPECT_EQ(sp().meas_app_running, 0);
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_NE(out.find("logging waiting for the time master (this device's time is not in sync)"),
              std::string::npos)
        << out;
    run(300);
    EXPECT_EQ(countContaining(takeLogTexts(), "meas_app: logging waits for the time master"), 1);
    host::setTimeSyncState(1);
    ASSERT_TRUE(runUntil([&] { return sp().meas_app_running == 1; }, 2000));
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    EXPECT_EQ(out.find("waiting for the time master"), std::string::npos) << out;
    EXPECT_EQ(countContaining(takeLogTexts(), "waits for the time master"), 0);
}

TEST_F(MeasAppTest, StopKeepsTelemetryAndStartDoesNotRepeatIt) {
    writeConfig(0, "R1ms");
    writeTeleConfig();
    static int teleStarts = 0, teleStops = 0;
    teleStarts = teleStops = 0;
    meas_app_setTeleHooks({[](meas_t*) { return ++teleStarts; }, [] { ++teleStops; }});
    start();
    run(200);
    EXPECT_EQ(teleStarts, 1);
    EXPECT_EQ(tele[0].first, &meas[1].blocks[0]);
    EXPECT_EQ(tele[0].count, 1);
    EXPECT_EQ(std::atomic_ref<uint8_t>(meas[1].blocks[0].teleState).load(), 1);
    stopAndFlush();
    EXPECT_EQ(meas[1].runFlags & 1, 1u);
    EXPECT_EQ(teleStops, 0);
    EXPECT_EQ(meas[0].runFlags & 1, 0u);
    sp().meas_app_startreq = 1;
    run(200);
    EXPECT_EQ(sp().meas_app_running, 1);
    EXPECT_EQ(teleStarts, 1);
    EXPECT_EQ(meas[1].startCount, 1u);
    sp().meas_app_destroyreq = 1;
    runUntil([] { return !(meas[1].stateFlags & 1); }, 3000);
    EXPECT_EQ(teleStops, 1);
    EXPECT_EQ(tele[0].first, nullptr);
    meas_app_setTeleHooks({});
}

// The fast stop takes every record the rasters made before it, those the
// delay holds back and those made since the logging raster last read the
// clock (a run of it that is late finds records newer than its time). The
// request may wait for a late logging raster: the samples taken meanwhile
// lie before the stop's stamp, and are the recording's too.
class MeasAppFastStop : public MeasAppTest {
protected:
    void stopLate(unsigned lateMs) {
        cal().DATADELAY = 300;   // records stay 0.3 s in the FIFO
        writeConfig(0, "R1ms");
        start();
        run(600);
        measHeld = true;
        run(5);
        meas_app_remotefaststop();
        run(lateMs);   // the rasters go on, the logging raster is late
        const uint32_t atStop = counter;
        meas_app_saveblock(0);   // the logging raster's run, its time 5 ms old
        measHeld = false;
        ASSERT_TRUE(runUntil([] { return meas_app_flushPending() == 0; }, 950));
        auto recs = records("meas");
        ASSERT_FALSE(recs.empty());
        // every sample up to the stop is in the file, none after it
        EXPECT_EQ(recs.back().value, atStop);
        expectContinuous(recs, valueAt, 1);
        cal().DATADELAY = 0;
    }
};

TEST_F(MeasAppFastStop, SavesWhatTheDelayHeldBack) { stopLate(0); }
TEST_F(MeasAppFastStop, SavesWhatCameWhileItWaitedForTheLoggingRaster) { stopLate(40); }

// A fast stop asked while the logging raster takes a block's records (here
// by the process's stop as a split's new file is made): the records it has
// not taken yet are the fast stop's, none is taken and dropped between.
TEST_F(MeasAppFastStop, AskedWhileTheRasterTakesABlocksRecordsLosesNone) {
    static std::atomic<bool> stopAtNewFile{false};
    MeasAppStoreHooks hooks{};
    hooks.eventFlushUntil = [](unsigned, uint32_t) {
        if (stopAtNewFile.exchange(false)) meas_app_remotefaststop();
    };
    MeasAppStore_setHooks(hooks);
    writeConfig(0, "R1ms");
    start();
    run(300);
    measHeld = true;   // records wait for the logging raster
    LapOutFra_setFragmentTrig(time_getTimestamp());
    run(20);
    const uint32_t atStop = counter;
    stopAtNewFile = true;
    fifo_data_set_curr_ts(time_getTimestamp());
    meas_app_saveblock(0);   // the split's first record makes the new file
    EXPECT_FALSE(stopAtNewFile.load());
    meas_app_saveblock(0);   // its next run makes the fast stop, before a tick records more
    measHeld = false;
    ASSERT_TRUE(runUntil([] { return meas_app_flushPending() == 0; }, 950));
    MeasAppStore_setHooks(MeasAppStoreHooks{});
    std::vector<std::string> names;
    const auto recs = records("meas", &names);
    EXPECT_EQ(names.size(), 2u);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.back().value, atStop);
    expectContinuous(recs, valueAt, 1);
}

// The stop's guard says where each recording got to when the fast stop has
// not run: from its own thread, with no lock, while the logging raster may
// run the fast stop at the same time. Each measurement's line comes once,
// whoever says it, and names a record the files hold.
TEST_F(MeasAppFastStop, TheGuardAndTheFastStopSayEachRecordingsEndOnce) {
    auto stampsSaid = [](const std::vector<std::string>& log, unsigned measNo) {
        std::vector<uint32_t> out;
        const std::string head = "m0" + std::to_string(measNo) + ": recording stopped at time stamp ";
        for (const std::string& t : log)
            if (t.rfind(head, 0) == 0) out.push_back(uint32_t(std::stoul(t.substr(head.size()))));
        return out;
    };
    writeConfig(0, "R1ms");
    writeConfig(2, "R10ms");
    start();
    run(400);
    measHeld = true;   // the logging raster is stuck: the fast stop waits
    run(5);
    meas_app_remotefaststop();
    run(20);
    takeLogTexts();
    // the guard's word as the raster gets to run the fast stop after all
    std::thread guard([] { meas_app_noteRecordingStops(); });
    meas_app_saveblock(0);
    guard.join();
    meas_app_noteRecordingStops();   // said already: nothing more
    measHeld = false;
    ASSERT_TRUE(runUntil([] { return meas_app_flushPending() == 0; }, 950));
    const auto log = takeLogTexts();
    const auto m01 = stampsSaid(log, 1);
    ASSERT_EQ(m01.size(), 1u);
    EXPECT_EQ(stampsSaid(log, 3).size(), 1u);
    const auto recs = records("meas");
    ASSERT_FALSE(recs.empty());
    EXPECT_LE(int32_t(m01[0] - recs.back().ts), 0);
    EXPECT_TRUE(std::any_of(recs.begin(), recs.end(), [&](const Rec& r) { return r.ts == m01[0]; }))
        << "no record at " << m01[0];
}

TEST_F(MeasAppTest, IgnoredBlocksAndTheShellPrint) {
    // a block of PID 0 is ignored, leaving a configuration without data
    writeFile("cfg/m01.xml", "<AcqInfo ident=\"t\" num_blocks=\"1\" num_conditions=\"0\" version=\"1\" protocol=\"0\">\n"
                             "<Block name=\"b\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\">"
                             "<CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"><adr adr=\"0x00040000\" idx=\"0\"/>"
                             "</CopySeq></Block>\n</AcqInfo>\n");
    writeConfig(2, "R10ms");
    start();
    run(100);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "meas_app_blockinit(): found illegal pid: 0, block ignored"));
    EXPECT_TRUE(logContains(log, "config ignored (M01)"));
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    // refused writes of both drives of m03 (as a full drive gives them)
    meas_store_writeCounters(MEAS_IDX_M03, 0).failures = 2;
    meas_store_writeCounters(MEAS_IDX_M03, 1).failures = 1;
    std::string out, clean;
    EXPECT_EQ(shell_runLineCapture("meas", &out), 0);
    meas_store_writeCounters(MEAS_IDX_M03, 0).failures = meas_store_writeCounters(MEAS_IDX_M03, 1).failures = 0;
    EXPECT_EQ(shell_runLineCapture("meas", &clean), 0);
    EXPECT_NE(out.find("meas_app_running           = 1 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("MEASURE SG not found \n"), std::string::npos) << out;
    EXPECT_NE(out.find("MEASURE FDE  : loaded = TRUE, configured (incl. cond.) = 1, started = TRUE\n"
                       " --> start_cnt       = 1\n --> reply_cnt       = 1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" --> write_errcnt    = 3\n\nENGINE blks:"), std::string::npos) << out;
    // the summary counts the refused writes: no "no error found" beside them
    EXPECT_NE(out.find("-->m03: 3 writes failed!\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("no error found"), std::string::npos) << out;
    EXPECT_NE(clean.find(" --> write_errcnt    = 0\n"), std::string::npos) << clean;
    EXPECT_NE(clean.find("no error found ! \n"), std::string::npos) << clean;
}

TEST(MeasAppNames, ErrorNamesAndRates) {
    char buf[24];
    EXPECT_STREQ(conv_gwerrors2ascii(11, buf), "OFFLINE2");
    EXPECT_STREQ(conv_gwerrors2ascii(4000000000u, buf), "Unknown #4000000000");
    MeasStoreStats& st = meas_store_stats();
    st.meas_data_size_m01_uncompressed = 30000;
    st.meas_data_size_m01_compressed = 1000;
    st.meas_data_size_m03_uncompressed = 5000;
    st.meas_data_size_m03_compressed = 0;
    meas_app_calc_recording_rates();
    EXPECT_EQ(signalPage()->meas_compression_m01, 255);
    EXPECT_EQ(signalPage()->meas_compression_m03, 0);
    EXPECT_EQ(signalPage()->meas_rate_m01, 585u);
    EXPECT_EQ(st.meas_data_size_m01_uncompressed, 0u);
}

TEST_F(MeasAppTest, LapTriggerSplitsTheFileWithoutLosingRecords) {
    writeConfig(0, "R1ms");
    start();
    run(400);
    char cmd[] = "lof_laptrig";
    char* argv[] = {cmd};
    EXPECT_EQ(lof_laptrig(1, argv), 0);
    const uint32_t lapTs = LapOutFra_getTimeStamp();
    run(400);
    stopAndFlush();
    std::vector<std::string> names;
    auto recs = records("meas", &names);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].substr(0, 5), "A0101");   // outing 1, lap 1
    EXPECT_EQ(names[1].substr(0, 5), "A0102");   // outing 1, lap 2
    expectContinuous(recs, valueAt, 1);          // the two files join without a gap
    // records on both sides of the lap
    size_t firstCount = 0;
    for (const auto& r : recs) firstCount += r.ts < lapTs;
    EXPECT_GT(firstCount, 300u);
    EXPECT_GT(recs.size() - firstCount, 300u);
}

TEST_F(MeasAppTest, ShutdownWhileThePretriggerBuffersLeavesTheFileWhole) {
    writeConfig(0, "R1ms", true, "<PreTriggerTime time=\"1.0\"/>\n");
    start();
    run(600);
    uint32_t lastActive = counter;
    active = false;
    run(400);   // the condition has fallen: the pretrigger buffers again
    meas_app_remotefaststop();
    ASSERT_TRUE(runUntil([] { return meas_app_flushPending() == 0; }, 950));
    auto recs = records("meas");
    ASSERT_FALSE(recs.empty());
    // every sample up to the falling edge is in the file, the file closed
    EXPECT_GE(recs.back().value, lastActive);
    EXPECT_LT(recs.back().value, lastActive + 50);
    expectContinuous(recs, valueAt, 1);
}

// The condition raster, a lap trigger and the "meas" command of the shell run
// on tasks of their own while the logging raster destroys the measurement:
// they must find the measurement's locks alive whenever it is configured, and
// its store and configuration either whole or gone.
TEST_F(MeasAppTest, ConditionChecksAndLapTriggersDuringADestroyNeverMeetAFreedLockOrStore) {
    // Loops on threads of their own until the end of the test, however it ends.
    struct Loops {
        std::atomic<bool> done{false};
        std::vector<std::thread> threads;
        void add(std::function<void()> body) {
            threads.emplace_back([this, body] {
                while (!done) body();
            });
        }
        ~Loops() {
            done = true;
            for (auto& t : threads) t.join();
        }
    } loops;
    writeConfig(0, "R1ms", true);
    // "meas" from the shell all along, also while the start's replies come in
    ASSERT_EQ(msd_shellAddCommand("meas", measCommandFunc), 1);
    loops.add([] {
        std::string out;
        shell_runLineCapture("meas", &out);
    });
    start();
    run(200);
    loops.add([] { meas_app_check_measconditions(); });
    loops.add([] { meas_app_clearsegmentation(); });
    ASSERT_EQ(meas_app_remotedestroy(0), 1);
    ASSERT_TRUE(runUntil([] { return !(meas[0].stateFlags & 1); }, 5000));
    EXPECT_EQ(countContaining(takeLogTexts(), "semTake failed"), 0);
}

TEST_F(MeasAppTest, ADestroyWritesWhatAStopWould) {
    writeConfig(0, "R1ms");
    start();
    run(500);
    const uint32_t atRequest = counter;
    ASSERT_EQ(meas_app_remotedestroy(0), 1);
    ASSERT_TRUE(runUntil([] { return !(meas[0].stateFlags & 1); }, 5000));
    auto recs = records("meas");
    ASSERT_FALSE(recs.empty());
    EXPECT_GE(recs.back().value, atRequest);
    expectContinuous(recs, valueAt, 1);
}
