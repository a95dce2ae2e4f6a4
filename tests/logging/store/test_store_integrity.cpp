// No record lost around the pretrigger, a destroy, the shutdown and many
// short files: arming while records keep arriving, deleting a store with its
// files open, the ring at shutdown, more files than slots, the bytes the
// fragmenter counts for a pretrigger that dropped data.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "host/kernel/kernel.h"
#include "logging/format/meas_file.h"
#include "logging/store/virtual_file.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "store_fixture.h"

using namespace measure::store;

namespace {

// The status block module as the store sees it: writes a small block into
// the file and closes it, or (pending) only notes the request.
constexpr uint8_t kSbImage[] = {'S', 'B', 0x01, 0x02};
std::vector<int> pendingSb;
bool sbPending = false;
int writeStatusBlock(const MeasAppStore_SbRequest* r, unsigned, unsigned) {
    if (sbPending) {
        pendingSb.push_back(r->vfIdx);
        return 2;
    }
    meas_app_PreTrigPutMetaDataVfCopy(r->pretrigger, r->vfIdx, kSbImage, sizeof kSbImage, MEAS_META_STATUSBLOCK);
    meas_app_PreTrigCloseFile(r->pretrigger, r->vfIdx);
    return 1;
}

class StoreIntegrity : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        pendingSb.clear();
        sbPending = false;
        MeasAppStoreHooks h{};
        h.sbCreate = writeStatusBlock;
        MeasAppStore_setHooks(h);
    }
    void TearDown() override {
        StoreTest::TearDown();
        MeasAppStore_setHooks(MeasAppStoreHooks{});
        host::setTimeStampOffset(0);
    }
    // Every file of "meas:" read back.
    std::map<std::string, MeasFileContent> readFiles() {
        std::map<std::string, MeasFileContent> out;
        for (auto& [name, bytes] : files("meas")) {
            std::string err;
            EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), out[name], err, &layouts())) << name << ": " << err;
        }
        return out;
    }
    static std::set<uint32_t> timeStamps(const std::map<std::string, MeasFileContent>& fs, uint8_t block) {
        std::set<uint32_t> ts;
        for (auto& [name, c] : fs)
            for (auto& r : c.records)
                if (r.blockId == block) ts.insert(r.timeStamp);
        return ts;
    }
    static bool hasStatusBlock(const MeasFileContent& c) {
        for (auto& m : c.metas)
            if (m.type == MEAS_META_STATUSBLOCK && m.payload == std::vector<uint8_t>(kSbImage, kSbImage + 4))
                return true;
        return false;
    }
    // Waits until the writers have everything, as the shutdown does.
    void waitFlushed(int ms) { ASSERT_TRUE(waitFor([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, ms)); }
};

}  // namespace

// The condition falls while the logging raster goes on storing: the frames are
// handed over by one task at a time (ThreadSanitizer watches), and every
// record stored before the arm reaches the file, partly filled frames too;
// what is stored once the pretrigger buffers again stays in its ring.
TEST_F(StoreIntegrity, ArmingWhileRecordsArriveKeepsEveryRecordStoredBeforeIt) {
    configure(2.5f);
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_FLUSHED; }, 2000));

    std::atomic<bool> stop{false};
    std::atomic<uint32_t> armedAt{0};   // first time stamp stored after the arm took effect
    std::thread raster([&] {
        // block 1 every millisecond, block 2 every 30 ms: its frame is more
        // than a second old when the arm comes
        uint32_t last = 0;
        for (unsigned n = 0; !stop.load(); ++n) {
            uint32_t ts = time_getTimestamp();
            if (ts <= last) ts = last + 1;
            last = ts;
            if (pretrigger()->state() == PRETRIG_BUFFERING && !armedAt.load()) armedAt.store(ts);
            feed(0, ts);
            if (n % 30 == 0) feed(1, ts);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    const uint32_t armRequested = time_getTimestamp();
    meas_app_PreTrigArm(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return armedAt.load() != 0; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    raster.join();

    // a stop: the files close, the ring is handed over
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    meas_app_PreTrigMeasStop(0);
    waitFlushed(5000);
    stopStore();

    auto fs = readFiles();
    ASSERT_EQ(fs.size(), 1u);
    EXPECT_TRUE(hasStatusBlock(fs.begin()->second));
    for (uint8_t id : {1, 2}) {
        const auto got = timeStamps(fs, id);
        unsigned before = 0, missing = 0, after = 0;
        for (auto& r : fed[id]) {
            if (r.ts < armRequested) {
                ++before;
                missing += got.count(r.ts) == 0;
            } else if (r.ts >= armedAt.load()) {
                after += got.count(r.ts);
            }
        }
        EXPECT_GT(before, 0u) << "block " << int(id);
        EXPECT_EQ(missing, 0u) << "block " << int(id) << ": of " << before << " records stored before the arm";
        EXPECT_EQ(after, 0u) << "block " << int(id) << ": records stored while buffering";
    }
}

// Records stamped before the arm that are stored only after it (a slow
// raster's FIFO drains late) still reach the file; those stamped after the
// arm stay in the ring.
TEST_F(StoreIntegrity, RecordsStampedBeforeTheArmButStoredLaterReachTheFile) {
    configure(2.5f);
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_FLUSHED; }, 2000));
    const uint32_t before = time_getTimestamp() - 5000;
    for (uint32_t n = 0; n < 20; ++n) feed(0, before + n * 10);
    feed(1, before);
    const uint32_t armRequested = time_getTimestamp();
    meas_app_PreTrigArm(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_BUFFERING; }, 2000));
    for (uint32_t n = 20; n < 30; ++n) feed(0, before + n * 10);   // late
    feed(1, before + 500);
    const uint32_t after = time_getTimestamp() + 10;
    for (uint32_t n = 0; n < 10; ++n) {
        feed(0, after + n * 10);
        feed(1, after + n * 10);
    }
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    meas_app_PreTrigMeasStop(0);
    waitFlushed(5000);
    stopStore();

    auto fs = readFiles();
    ASSERT_EQ(fs.size(), 1u);
    for (uint8_t id : {1, 2}) {
        const auto got = timeStamps(fs, id);
        for (auto& r : fed[id]) {
            if (r.ts < armRequested) EXPECT_EQ(got.count(r.ts), 1u) << "block " << int(id) << " at " << r.ts;
            else EXPECT_EQ(got.count(r.ts), 0u) << "block " << int(id) << " at " << r.ts;
        }
    }
}

// Deleting a store with its file still open does what a stop does first: the
// file gets its last frames, its status block and its close.
TEST_F(StoreIntegrity, DeletingTheStoreWritesTheOpenFileWholeWithItsStatusBlock) {
    configure();
    // the file is open on the writers only once they have joined the back end
    awaitBothWriters();
    for (uint32_t n = 0; n < 300; ++n) {
        feed(0, 1000 + n * 10);
        if (n % 20 == 0) feed(1, 1000 + n * 10);
    }
    stopStore();
    auto fs = readFiles();
    ASSERT_EQ(fs.size(), 1u);
    EXPECT_EQ(timeStamps(fs, 1).size(), 300u);
    EXPECT_EQ(timeStamps(fs, 2).size(), fed[2].size());
    EXPECT_TRUE(hasStatusBlock(fs.begin()->second));
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 0u);
}

// At shutdown the pretrigger buffers: the closing status block waits in its
// ring behind younger data. The store counts as written only when the ring
// has been handed over and the file is closed.
TEST_F(StoreIntegrity, ShutdownWhileBufferingWaitsForTheRingAndTheStatusBlock) {
    configure(2.5f);
    awaitBothWriters();
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_FLUSHED; }, 2000));
    uint32_t ts = time_getTimestamp();
    for (unsigned n = 0; n < 100; ++n, ts += 10) feed(0, ts);
    meas_app_PreTrigArm(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_BUFFERING; }, 2000));
    for (unsigned n = 0; n < 100; ++n, ts += 10) feed(0, ts);

    // the fast stop closes every file; the status block lands in the ring
    MeasAppStore_closeAllFilesFast();
    EXPECT_EQ(meas_app_PreTrigIsOfflineDataFlushed(), 0);
    meas_app_PreTrigMeasStop(0);
    waitFlushed(950);
    auto fs = readFiles();   // before the store goes: what the shutdown leaves
    ASSERT_EQ(fs.size(), 1u);
    EXPECT_TRUE(hasStatusBlock(fs.begin()->second));
    EXPECT_EQ(timeStamps(fs, 1).size(), 100u);
}

// A stop soon after two lap triggers: the first file still waits for its
// lap status block, the second (its blocks gone) for its turn, the third is
// open. The stop closes them in queue order, each with its status block,
// as soon as the one before it has closed; until every file is closed and
// written the store is not drained, which the shutdown waits for.
TEST_F(StoreIntegrity, AStopSoonAfterTriggersClosesTheWaitingFilesInQueueOrderEachWithItsStatusBlock) {
    configure();
    awaitBothWriters();
    uint32_t ts = 1000;
    feedBoth(ts, 50);
    sbPending = true;
    LapOutFra_setLapOutCnt(2, 1, ts);
    feedBoth(ts, 50);   // both blocks leave the first file
    ASSERT_EQ(pendingSb.size(), 1u);
    sbPending = false;
    LapOutFra_setLapOutCnt(3, 1, ts);
    feedBoth(ts, 50);   // the second file waits: the first is still the oldest
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 3u);
    takeLogTexts();

    MeasAppStore_closeAllFilesFast();
    EXPECT_EQ(meas_app_PreTrigDrainStep(), 0);
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 3u);
    {
        // the first file's status block is done, as the status block task does it
        MeasAppStoreQueueHold queue("test");
        meas_app_PreTrigPutMetaDataVfCopy(meas[0].store, pendingSb[0], kSbImage, sizeof kSbImage,
                                          MEAS_META_STATUSBLOCK);
        meas_app_PreTrigCloseFile(meas[0].store, pendingSb[0]);
    }
    ASSERT_TRUE(waitFor([] { return meas_app_PreTrigDrainStep() == 1; }, 950));
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 0u);
    auto fs = readFiles();
    ASSERT_EQ(fs.size(), 3u);
    for (auto& [name, c] : fs) EXPECT_TRUE(hasStatusBlock(c)) << name;
    EXPECT_EQ(timeStamps(fs, 1).size(), fed[1].size());
    EXPECT_EQ(timeStamps(fs, 2).size(), fed[2].size());
    EXPECT_FALSE(logContains(takeLogTexts(), "not oldest"));
}

// Two lap triggers 2 ms apart, the records of that time stored only after
// the second (the logging raster drains the FIFOs later): the lap between
// them has no record of its own in this measurement, whose records of its
// time go on in the file before (or, before its first file, in the file
// the second begins). Every lap has its file on the drive, or a line names
// the one not made and says why.
TEST_F(StoreIntegrity, ALapOfTwoMillisecondsHasItsFileOrALineSaysWhyNot) {
    configure();
    auto nameNow = [] {
        LapOutFraState s{};
        LapOutFra_getState(&s);
        char n[16];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, s.outing, s.lap, s.fragment, s.absLap);
        return std::string(n);
    };
    uint32_t ts = 1000;
    std::vector<std::string> laps;
    for (bool first : {true, false}) {
        if (!first) feedBoth(ts, 50);
        const uint16_t lap = first ? 2 : 4;
        LapOutFra_setLapOutCnt(lap, 1, ts);
        laps.push_back(nameNow());
        LapOutFra_setLapOutCnt(lap + 1, 1, ts + 20);
        laps.push_back(nameNow());
        feedBoth(ts, 50);
    }
    closeAndDrain();
    const auto log = takeLogTexts();
    auto fs = readFiles();
    for (const auto& name : laps) {
        if (fs.count(name)) continue;
        bool said = false;
        for (const auto& line : log)
            said = said || (line.find("no file '" + name + "'") != std::string::npos &&
                            line.find("before a record of m01 after it was stored") != std::string::npos);
        EXPECT_TRUE(said) << name << " is not on the drive and no line says why: " << testing::PrintToString(log);
    }
    EXPECT_EQ(timeStamps(fs, 1).size(), fed[1].size());
    EXPECT_EQ(timeStamps(fs, 2).size(), fed[2].size());
}

// Forty files within the back end's start-up window: the closed ones free
// their slots, every record lands in its file. Each new file waits until the
// back end has let the written ones go (it keeps the queue of the window
// until 16 files are live, half of the 32 slots): with no slot freed the
// slots would fill before the fortieth.
TEST_F(StoreIntegrity, MoreFilesThanSlotsInTheStartUpWindowLoseNothing) {
    constexpr unsigned kKeptInWindow = 16;
    BackendTiming t;
    t.loopMs = 20;
    backendSetTiming(t);   // the device's 25 s start-up window
    configure();
    awaitBothWriters();
    uint32_t ts = 10000;
    for (unsigned file = 0; file < 40; ++file) {
        for (unsigned n = 0; n < 10; ++n, ts += 10) {
            feed(0, ts);
            if (n % 5 == 0) feed(1, ts);
        }
        LapOutFra_setFragmentTrig(ts - 5);
        ASSERT_TRUE(waitFor([] { return virtualFiles.liveCount(0) <= kKeptInWindow; }, 5000))
            << "file " << file << ": " << virtualFiles.liveCount(0) << " files live";
    }
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    waitFlushed(5000);
    stopStore();
    EXPECT_FALSE(logContains(takeLogTexts(), "file slots full"));
    auto fs = readFiles();
    EXPECT_EQ(fs.size(), 40u);
    EXPECT_EQ(timeStamps(fs, 1).size(), fed[1].size());
    EXPECT_EQ(timeStamps(fs, 2).size(), fed[2].size());
}

// Files that cannot close (their status blocks never come, as on drives
// that take long to write) fill the slots while triggers come: the records
// of the files that cannot be made are lost. Each such file is said once,
// not for every record of its blocks, and every record lost is named once,
// by the line of its file's stretch with its count and stamps (the last
// when the stop closes the files).
TEST_F(StoreIntegrity, FullFileSlotsNameEveryRecordLostWithItsStampsOnce) {
    syslogx_reportHeld();   // what earlier tests held back
    sbPending = true;
    configure();
    takeLogTexts();
    uint32_t ts = 10000;
    std::vector<std::string> names;
    for (unsigned file = 0; file < 40; ++file) {
        LapOutFraState s{};
        LapOutFra_getState(&s);
        char n[16];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, s.outing, s.lap, s.fragment, s.absLap);
        names.push_back(n);
        for (unsigned k = 0; k < 4; ++k, ts += 10) feed(0, ts);
        LapOutFra_setFragmentTrig(ts - 5);
    }
    MeasAppStore_closeFiles(0);   // as the stop does
    auto log = takeLogTexts();
    auto startingWith = [&](const std::string& text) {
        return std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(text, 0) == 0; });
    };
    const unsigned unmade = 40 - VirtualFiles::kSlots;
    EXPECT_EQ(startingWith("VirtualFiles::create() file slots full"), unmade);
    EXPECT_EQ(startingWith("meas_app_open_file(): failed to open virtual file"), unmade);
    EXPECT_EQ(meas_store_stats().meas_lost_frames_m01, 4 * unmade);
    EXPECT_EQ(countContaining(log, "records of '"), unmade);
    for (unsigned file = VirtualFiles::kSlots; file < 40; ++file) {
        const uint32_t first = 10000 + 40 * file;
        const std::string line = "m01: 4 records of '" + names[file] + "' lost, time stamps " +
                                 std::to_string(first) + " to " + std::to_string(first + 30) +
                                 ": the file could not be made";
        EXPECT_EQ(countContaining(log, line), 1) << line;
    }
    syslogx_reportHeld();
    EXPECT_EQ(countContaining(takeLogTexts(), "lines held back"), 0);
    // the status blocks arrive at last
    sbPending = false;
    for (int vf : pendingSb) meas_app_PreTrigCloseFile(meas[0].store, vf);
}

// Records that no file takes are lost, each stretch named once on a loss
// line with its count, its first and last stamps, the file that was to take
// it and the file the block goes on in: here the slots are full (the files
// before cannot close) after a lag's late records meet a trigger, and then
// the trigger's file is closed already; the stretch still open at the stop
// is named by the stop. Every record fed is in a file or in a named stretch.
TEST_F(StoreIntegrity, RecordsNoFileTookAreNamedWithTheirStamps) {
    sbPending = true;
    configure();
    // both drives' writers take the first file (on a busy host they may
    // subscribe after it began, and skip it)
    awaitBothWriters();
    uint32_t ts = 10000;
    feed(0, ts);
    for (unsigned file = 1; file < VirtualFiles::kSlots; ++file, ts += 10) {   // every slot a file that stays
        LapOutFra_setFragmentTrig(ts + 5);
        feed(0, ts + 10);
    }
    ASSERT_EQ(virtualFiles.liveCount(0), VirtualFiles::kSlots);
    const auto trigger = [&ts] {
        LapOutFra_setFragmentTrig(ts + 5);
        LapOutFraState s{};
        LapOutFra_getState(&s);
        char name[40] = "";
        LapOutFra_genFilenameAbsLap(name, sizeof name, 0, s.outing, s.lap, s.fragment, s.absLap);
        return std::string(name);
    };
    const std::string first = trigger();
    const uint32_t lostFrom = ts + 10;
    for (unsigned n = 0; n < 3; ++n) feed(0, ts += 10);   // no slot for the trigger's file
    const std::string due = trigger();                    // nor for the next one's: one stretch all the same
    for (unsigned n = 0; n < 2; ++n) feed(0, ts += 10);
    const uint32_t lostTo = ts;
    EXPECT_FALSE(logContains(takeLogTexts(), "no file took them"));   // the stretch goes on
    // the writers open every file first: with all slots live, a writer still
    // behind the oldest file's close gives up the files up to it (a loss of
    // its own, not the one looked at here)
    waitFlushed(10000);
    // the status block comes, the files behind close by their deadline: the slots are free
    sbPending = false;
    for (int vf : pendingSb) meas_app_PreTrigCloseFile(meas[0].store, vf);
    pendingSb.clear();
    ASSERT_TRUE(waitFor(
        [] {
            MeasAppStore_checkForFlush();   // the others once their close delay has passed
            // (the back end keeps the last close it passed until the next action)
            return MeasAppStore_queuedFiles(0) == 0 && virtualFiles.liveCount(0) <= 1;
        },
        10000));
    feed(0, ts += 10);   // the trigger's file takes it
    const uint32_t keptTs = ts;
    const std::string lost = "logging: m01 block #1: 5 records of time stamps " + std::to_string(lostFrom) + " to " +
                             std::to_string(lostTo) + " lost: no file took them ('" + first + "' to '" + due +
                             "' were to; the block goes on in '" + due + "')";
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "no file took them"), 1) << testing::PrintToString(log);
    EXPECT_TRUE(logged(log, lost)) << testing::PrintToString(log);
    // that file closed, its counters still the newest: no file takes the next
    meas_app_close_file(&blocks[0], SB_PERIOD);
    ASSERT_EQ(MeasAppStore_queuedFiles(0), 0u);
    feed(0, ts + 10);
    feed(0, ts + 20);
    MeasAppStore_closeFiles(0);
    log = takeLogTexts();
    EXPECT_TRUE(logged(log, "logging: m01 block #1: 2 records of time stamps " + std::to_string(ts + 10) + " to " +
                                std::to_string(ts + 20) + " lost: no file took them ('" + due + "' was to)"))
        << testing::PrintToString(log);
    waitFlushed(5000);
    stopStore();
    const std::set<uint32_t> stored = timeStamps(readFiles(), 1);
    EXPECT_TRUE(stored.count(keptTs));
    for (const Fed& f : fed[1]) {
        const bool named = (f.ts >= lostFrom && f.ts <= lostTo) || f.ts > keptTs;
        EXPECT_NE(stored.count(f.ts) == 1, named) << f.ts;
    }
}

// Bytes dropped from the ring are not held any more: a trigger after 3 MiB of
// dropped frames does not start with a size fragment (limit 1 MiB).
TEST_F(StoreIntegrity, DroppedRingBytesAreNotCountedForTheFragmentSize) {
    cal().FILEFRAGMENTATION_SIZE = 1;
    host::setTimeStampOffset(0);
    host::setTimeStampOffset(200000u - host::timeStamp());   // 20 s after start
    configure(0.5f);
    feed(0, time_getTimestamp());
    const int vf = blocks[0].storeData->file->vfIdx;
    ASSERT_GE(vf, 0);
    for (unsigned i = 0; i < 48; ++i) {
        auto* frame = static_cast<uint8_t*>(std::malloc(65536));
        std::memset(frame, 0, 65536);
        meas_app_PreTrigPutMeasFrame(meas[0].store, vf, frame, 65536, 1000, 1000);   // long aged out
    }
    ASSERT_TRUE(waitFor(
        [&] {
            uint32_t count = 0;
            meas_app_PreTrigGetMeasVarsPT(meas[0].store, nullptr, nullptr, nullptr, &count, nullptr);
            return count <= 2;   // the file's open and, maybe, a young frame
        },
        3000));
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_FLUSHED; }, 2000));
    EXPECT_EQ(meas_app_PreTrigCheckFragment(meas[0].store), 0);
    cal().FILEFRAGMENTATION_SIZE = 0;
}
