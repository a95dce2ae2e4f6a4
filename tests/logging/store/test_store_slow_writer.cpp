// A USB writer slowed to a crawl is dropped by the back end's oversize rule
// (25 MiB for 10 s) while the internal files stay complete; the frames it
// still works on when it is dropped are not freed under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <set>

#include "crawling_writer.h"
#include "logging/drives/meas_app_disks.h"
#include "store_fixture.h"

using namespace measure::store;

namespace {
// A USB writer whose drive holds its writes while `hold` is set.
class HeldWriter : public USBWriter {
public:
    using USBWriter::USBWriter;
    std::atomic<bool> hold{false};
    std::atomic<bool> waits{false};
    bool write(int vfIdx, const uint8_t* data, unsigned length) override {
        while (hold) {
            waits = true;
            taskDelay(5);
        }
        return USBWriter::write(vfIdx, data, length);
    }
};

// A USB writer whose syncs hang while `hold` is set (the task waits without
// its hold, as in a real sync); one that hangs until the stop never returns.
class HungSyncWriter : public USBWriter {
public:
    using USBWriter::USBWriter;
    std::atomic<bool> hold{false};
    std::atomic<bool> waits{false};
    bool flush(int vfIdx) override {
        if (hold) {
            Released wait(*this);
            waits = true;
            while (hold && !halted()) taskDelay(5);
        }
        if (halted()) return false;
        return USBWriter::flush(vfIdx);
    }
};

// The loss lines of a writer's file: its name, bytes, blocks and the rest of the line.
struct Loss {
    std::string path;
    unsigned bytes = 0, blocks = 0;
    unsigned from = 0, to = 0;   // the stamps named, when there are
    std::string rest;
};
std::vector<Loss> losses(const std::vector<std::string>& log, const std::string& drive) {
    std::vector<Loss> out;
    for (const auto& line : log) {
        const auto at = line.find("BFSWriter: '" + drive + "/");
        if (at == std::string::npos || line.find(" not written ") == std::string::npos) continue;
        Loss l;
        const auto from = at + 12 + drive.size() + 1, to = line.find("': ", from);
        l.path = line.substr(from, to - from);
        if (std::sscanf(line.c_str() + to + 3, "%u bytes in %u blocks (time stamps %u to %u)", &l.bytes, &l.blocks,
                        &l.from, &l.to) < 2)
            continue;
        l.rest = line.substr(line.find(" not written ") + 13);
        out.push_back(l);
    }
    return out;
}

// m01 with only its internal writer, and beside it a USB writer of the
// test's own kind.
class SlowUsbWriterTest : public StoreTest {
protected:
    template <class W>
    W* startUsbWriter(MeasStoreWriteCounters& counts) {
        std::snprintf(cfg_meas[0].copyPartition, CFG_MEAS_STRLEN, "none");
        configure();
        Backend* be = pretrigger()->getBackend();
        auto* w = new W(*be, "usb_meas:", {&counts.writes, &counts.bytes, &counts.failures});
        EXPECT_TRUE(w->taskStart("r_USBWriter1", 146, 10000, VX_FP_TASK, 0));
        EXPECT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 2000));
        return w;
    }

    // A back end whose queue counts as oversized past 64 KiB for 0.5 s, and a
    // USB writer that has written and is now held in its drive (ts: the
    // stamps fed go on from here).
    static constexpr uint32_t kSmallQueue = 64 << 10;

    HeldWriter* startHeldWriterWithSmallQueue(MeasStoreWriteCounters& counts, uint32_t& ts) {
        BackendTiming t;
        t.startupMs = 200;
        t.oversizeBytes = kSmallQueue;
        t.oversizeMs = 500;
        backendSetTiming(t);
        return startUsbWriterHeldAfterItWrote<HeldWriter>(counts, ts, 300);
    }

    // Feeds both drives until the oversize rule has removed the held writer
    // (the internal one is left); false when it does not within 20 s.
    bool feedUntilHeldWriterRemoved(uint32_t& ts) {
        Backend* be = pretrigger()->getBackend();
        return waitFor(
            [&] {
                feedBoth(ts, 100);
                return be->writerCount() == 1;
            },
            20000);
    }

    // A USB writer of type W (one with `hold`) that has written some of the
    // `records` fed to both drives, and is now held.
    template <class W>
    W* startUsbWriterHeldAfterItWrote(MeasStoreWriteCounters& counts, uint32_t& ts, unsigned records) {
        auto* w = startUsbWriter<W>(counts);
        feedBoth(ts, records);
        EXPECT_TRUE(waitFor([&] { return std::atomic_ref<uint32_t>(counts.writes).load() > 0; }, 5000));
        w->hold = true;
        return w;
    }

    void fileGoesOnAfterTheWriterIsBackWithoutItsStick(bool splitBeforeRemoval);

    // The USB drive's file lacks what one line of the log names for it (with
    // `tail`): its bytes and the blocks counted as failed, and every record it
    // lacks lies within the named stamps; what it holds is the internal file's,
    // in order, each record once (and, with goesOn, records from after the gap).
    static void expectGapNamed(const std::vector<std::string>& log, const std::string& name, const std::string& tail,
                        const std::vector<uint8_t>& internal, const std::vector<uint8_t>& usb,
                        const MeasStoreWriteCounters& usbCounts, bool goesOn) {
        unsigned missed = 0, blocks = 0, gapFrom = 0, gapTo = 0;
        for (const auto& line : log) {
            if (line.find("'usb_meas:/" + name + "': ") == std::string::npos || line.find(tail) == std::string::npos)
                continue;
            ASSERT_EQ(std::sscanf(line.substr(line.find("': ") + 3).c_str(), "%u bytes in %u blocks (time stamps %u to %u)",
                                  &missed, &blocks, &gapFrom, &gapTo),
                      4)
                << line;
        }
        ASSERT_GT(missed, 0u) << "the gap is not named";
        EXPECT_EQ(usb.size() + missed, internal.size());
        EXPECT_EQ(usbCounts.failures, blocks);

        MeasFileContent in, out;
        std::string err;
        ASSERT_TRUE(meas_file_read(internal.data(), internal.size(), in, err, &layouts())) << err;
        ASSERT_TRUE(meas_file_read(usb.data(), usb.size(), out, err, &layouts())) << err;
        size_t k = 0;
        bool gapSeen = false;
        for (const auto& r : out.records) {
            gapSeen = gapSeen || int32_t(r.timeStamp - gapTo) > 0;
            while (k < in.records.size() && (in.records[k].blockId != r.blockId || in.records[k].timeStamp != r.timeStamp)) {
                // the named time stamps hold every record the file lacks
                const uint32_t lacking = in.records[k].timeStamp;
                EXPECT_TRUE(int32_t(lacking - gapFrom) >= 0 && int32_t(lacking - gapTo) <= 0)
                    << "record " << lacking << " missing outside the gap named";
                ++k;
            }
            ASSERT_LT(k, in.records.size()) << "record " << r.timeStamp << " of block " << int(r.blockId)
                                            << " not in the internal file's order, or twice";
            ++k;
        }
        for (; k < in.records.size(); ++k)
            EXPECT_TRUE(int32_t(in.records[k].timeStamp - gapFrom) >= 0 && int32_t(in.records[k].timeStamp - gapTo) <= 0)
                << "record " << in.records[k].timeStamp << " missing at the end outside the gap named";
        EXPECT_EQ(gapSeen, goesOn);
        EXPECT_LT(out.records.size(), in.records.size());
    }
};

}  // namespace

TEST_F(SlowUsbWriterTest, CrawlingUsbWriterIsDroppedAfterTheOversizeRule) {
    cfg_meas_applyTargetPartition(1);
    MeasStoreWriteCounters crawlCounts{};
    auto* crawler = startUsbWriter<CrawlingWriter>(crawlCounts);
    Backend* be = pretrigger()->getBackend();
    crawler->removed = false;

    // records of 64 bytes that do not pack: about 4 KiB per frame
    std::mt19937 rnd(7);
    uint32_t ts = 10000;
    auto feedBytes = [&](size_t bytes) {
        std::vector<uint8_t> r(blocks[0].config->recordSize);
        for (size_t done = 0; done < bytes; done += r.size(), ts += 10) {
            be_put32(r.data(), ts);
            for (size_t k = 4; k < r.size(); ++k) r[k] = uint8_t(rnd());
            meas_app_store_block(&blocks[0], r.data());
        }
    };
    // Whatever the host's speed, the queue is to be oversized behind the
    // crawler alone: records are fed only while the internal writer is less
    // than 1 MiB behind. Else, slowed down (a sanitizer, a busy host), it
    // would be the slowest once the crawler is gone, and the rule would
    // rightly remove it too.
    auto internalKeepsUp = [&] {
        const uint32_t written =
            std::atomic_ref<uint32_t>(meas_store_writeCounters(0, 0).bytes).load(std::memory_order_relaxed);
        return MeasAppStore_getFilesize(&blocks[0]) < written + (1u << 20);
    };
    blocks[0].config->recordSize = 64;
    MeasAppStore_deinitData(&blocks[0]);
    ASSERT_EQ(MeasAppStore_initData(&blocks[0], 64, 4096), 0);

    for (unsigned step = 0; step < 27 * 16; ++step) {
        ASSERT_TRUE(waitFor(internalKeepsUp, 30000));
        feedBytes(64 << 10);
    }
    uint32_t size = 0;
    meas_app_PreTrigGetMeasVarsBE(meas[0].store, &size, nullptr, nullptr, nullptr);
    EXPECT_GT(size, 26214400u);
    // logging goes on while the rule runs its 10 s, up to the crawler's removal
    bool dropped = waitFor(
        [&] {
            if (crawler->removed) return true;
            if (internalKeepsUp()) feedBytes(64 << 10);
            return false;
        },
        30000);
    ASSERT_TRUE(dropped);
    const auto log = takeLogTexts();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& t) {
        return t.find("removing writer r_USBWriter1 (") != std::string::npos &&
               t.find(") list size exceeded!") != std::string::npos;
    }));
    EXPECT_FALSE(logContains(log, "removing writer r_BFSWriter1"));
    // the queue is cut down to what the internal writer has not written yet
    // (writing that takes long under a sanitizer on a busy host)
    ASSERT_TRUE(waitFor(
        [&] {
            meas_app_PreTrigGetMeasVarsBE(meas[0].store, &size, nullptr, nullptr, nullptr);
            return size < (1u << 20);
        },
        60000));

    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    ASSERT_TRUE(waitFor([&] { return MeasAppStore_queuedFiles(0) == 0; }, 10000));
    ASSERT_TRUE(waitFor([&] { return be->isOfflineDataFlushed(); }, 30000));
    EXPECT_FALSE(logContains(takeLogTexts(), "removing writer r_BFSWriter1"));
    const uint32_t handedOver = meas_store_writeCounters(0, 0).bytes;
    stopStore();

    auto internal = files("meas");
    ASSERT_EQ(internal.size(), 1u);
    const auto& bytes = internal.begin()->second;
    EXPECT_EQ(bytes.size(), handedOver);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err)) << err;
    EXPECT_EQ(c.records.back().timeStamp, ts - 10);
    for (size_t i = 1; i < c.records.size(); ++i) ASSERT_EQ(c.records[i].timeStamp, c.records[i - 1].timeStamp + 10);
}

// A slave device steps its time stamp when it takes its master's time, by
// any amount either way: a writer that has just passed lives on.
TEST_F(StoreTest, WriterLivesThroughAStepOfTheDeviceClock) {
    configure();
    MeasStoreWriteCounters counts{};
    BFSWriter writer(*pretrigger()->getBackend(), "meas:", {&counts.writes, &counts.bytes, &counts.failures});
    ASSERT_TRUE(writer.alive());
    // A pass noted just after the back end read the own count lies ahead of
    // that reading: the own count going back 1 ms stands for it.
    host::setTimeStampOffset(0u - 10u);
    EXPECT_TRUE(writer.alive());
    host::setTimeStampOffset(0);
    // a slave core that takes its master's time: two gap stamps lock it
    for (uint32_t offset : {0u - 10000000u, 20000000u, 0x80000000u}) {   // 1000 s back, 2000 s on, half the range
        const uint32_t before = host::timeStamp();
        host::setTimeNextGap(host::ownTimeStamp() + offset + 1000u);
        host::setTimeNextGap(host::ownTimeStamp() + offset + 1000u);
        ASSERT_GT(std::abs(int32_t(host::timeStamp() - before)), 1000000) << "the stamp did not step";
        EXPECT_TRUE(writer.alive()) << offset;
    }
}


// A writer whose drive holds it while the queue stays oversized is removed;
// when it comes back it goes on in its own file after a gap that the log
// names in bytes (nothing of it written twice, under no other name), and the
// records it missed count as failed writes.
TEST_F(SlowUsbWriterTest, AWriterRemovedForTheQueueGoesOnInItsFileAndNamesTheGap) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startHeldWriterWithSmallQueue(heldCounts, ts);
    Backend* be = pretrigger()->getBackend();
    feedBoth(ts, 300);
    ASSERT_TRUE(waitFor([&] { return held->waits.load(); }, 5000));
    // the queue outgrows its limit behind the held writer alone
    ASSERT_TRUE(feedUntilHeldWriterRemoved(ts));
    feedBoth(ts, 2000);   // missed while it is away
    held->hold = false;
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 5000));
    feedBoth(ts, 300);
    closeAndDrain();
    stopStore();

    const auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "removing writer r_USBWriter1 (")) << "not removed";
    EXPECT_FALSE(logContains(log, "is in use"));
    EXPECT_FALSE(logContains(log, "removing writer r_BFSWriter1"));
    auto internal = files("meas");
    auto usb = files("usb_meas");
    ASSERT_EQ(internal.size(), 1u);
    ASSERT_EQ(usb.size(), 1u);
    const std::string name = internal.begin()->first;
    EXPECT_EQ(usb.begin()->first, name);
    expectGapNamed(log, name, "not written while the writer was removed from the back end: the file goes on after the gap",
                   internal.begin()->second, usb.begin()->second, heldCounts, true);
}

// The stick pulled while its writer hangs in a sync: the stop writes nothing
// more into the files left in the pulled folder.
TEST_F(SlowUsbWriterTest, TheStopWritesNothingIntoAPulledDrive) {
    MeasStoreWriteCounters counts{};
    uint32_t ts = 100000;
    auto* w = startUsbWriter<HungSyncWriter>(counts);
    feedBoth(ts, 200);
    ASSERT_TRUE(waitFor([&] { return std::atomic_ref<uint32_t>(counts.writes).load() > 0; }, 5000));
    // records written into the stream, and the sync that would write them out hangs
    const uint32_t before = std::atomic_ref<uint32_t>(counts.writes).load();
    feedBoth(ts, 200);
    ASSERT_TRUE(waitFor([&] { return std::atomic_ref<uint32_t>(counts.writes).load() > before; }, 5000));
    w->hold = true;
    ASSERT_TRUE(waitFor([&] { return w->waits.load(); }, 5000));
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_meas.gone");
    const auto pulled = files("usb_meas.gone");
    ASSERT_FALSE(pulled.empty());
    meas_app_PreTrigHaltWriters(200);   // as the device's stop does
    stopStore();
    const auto log = takeLogTexts();
    auto internal = files("meas");
    for (const auto& [name, bytes] : files("usb_meas.gone")) {
        EXPECT_EQ(bytes.size(), pulled.at(name).size()) << name << " written after the pull";
        // what it lacks (what the stream held, what the writer had not
        // read, what came after the halt) is named once, as the rest of it
        unsigned named = 0;
        for (const auto& l : losses(log, "usb_meas:")) {
            if (l.path != name) continue;
            named += l.bytes;
            EXPECT_NE(l.to, 0u) << "no stamps named: " << l.rest;
            EXPECT_NE(l.rest.find("the file ends before them"), std::string::npos) << l.rest;
        }
        // (the internal drive's file ends at the stop's halt as well)
        unsigned whole = unsigned(internal.at(name).size());
        for (const auto& l : losses(log, "meas:"))
            if (l.path == name) whole += l.bytes;
        EXPECT_EQ(named, whole - bytes.size()) << name << ": " << testing::PrintToString(log);
    }
    std::filesystem::remove_all(dir + "/usb_meas.gone");
}

// A USB drive that falls behind (its writer held in a write while forty
// files go by, more than the 32 virtual-file slots) gives up its oldest
// files on that drive alone: the internal drive keeps every file and record,
// each file the USB drive gave up is named once with what it lacks, and the
// writer, let go, goes on with the files still to come.
TEST_F(SlowUsbWriterTest, ADriveThatFallsBehindGivesUpItsOldestFilesAlone) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startUsbWriterHeldAfterItWrote<HeldWriter>(heldCounts, ts, 100);
    ASSERT_FALSE(HasFailure());
    constexpr unsigned kFiles = 40;
    for (unsigned file = 1; file < kFiles; ++file) {
        feedBoth(ts, 100);
        LapOutFra_setFragmentTrig(ts - 5);
        feedBoth(ts, 10);
        // a lap every few back-end passes, as laps come on the device
        waitFor([] { return virtualFiles.liveCount(0) < VirtualFiles::kSlots - 4; }, 1000);
    }
    ASSERT_TRUE(held->waits.load());
    const auto during = takeLogTexts();
    held->hold = false;
    closeAndDrain();
    stopStore();
    auto log = takeLogTexts();
    log.insert(log.begin(), during.begin(), during.end());

    EXPECT_FALSE(logContains(log, "failed to open virtual file"));
    EXPECT_FALSE(logContains(log, "file slots full"));
    auto internal = files("meas");
    ASSERT_EQ(internal.size(), kFiles);
    std::map<uint8_t, std::vector<uint32_t>> got;
    for (const auto& [name, bytes] : internal) {
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        for (auto& r : c.records) got[r.blockId].push_back(r.timeStamp);
    }
    for (uint8_t b : {1, 2}) EXPECT_EQ(got[b].size(), fed[b].size()) << "block " << int(b);

    // each file the USB drive gave up is named once, while the writer was held
    const auto given = losses(during, "usb_meas:");
    ASSERT_GE(given.size(), kFiles - VirtualFiles::kSlots);
    std::set<std::string> named;
    unsigned blocksNamed = 0;
    for (const auto& l : given) {
        EXPECT_EQ(l.rest.rfind("as the drive fell behind the others: ", 0), 0u) << l.rest;
        EXPECT_TRUE(named.insert(l.path).second) << l.path << " named twice";
        EXPECT_TRUE(internal.count(l.path)) << l.path;
    }
    for (const auto& l : losses(log, "usb_meas:")) blocksNamed += l.blocks;
    // the first was on the drive when its writer was held: it ends there
    EXPECT_NE(given.front().rest.find(": the file ends before them"), std::string::npos) << given.front().rest;
    EXPECT_EQ(heldCounts.failures, blocksNamed);
    // the USB drive has the files it did not give up, each whole from its
    // header, and the last ones complete
    auto usb = files("usb_meas");
    EXPECT_GT(usb.size(), 1u);
    for (const auto& [name, bytes] : usb) {
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        if (!named.count(name)) {
            EXPECT_EQ(bytes, internal[name]) << name;
        }
    }
    EXPECT_EQ(usb.rbegin()->second, internal.rbegin()->second);
}

// A writer its drive holds for good is removed by the oversize rule, and
// the queue then stays within its limit however long the writer is held:
// the back end keeps aside only the action the writer executes. A file that
// closes meanwhile is named with what it lacks while the writer is still
// held; let go, the writer goes on after the gap, and makes the file begun
// while it was away on its drive with the records after the gap.
TEST_F(SlowUsbWriterTest, AWriterHeldForGoodKeepsTheQueueWithinItsLimit) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startHeldWriterWithSmallQueue(heldCounts, ts);
    Backend* be = pretrigger()->getBackend();
    ASSERT_TRUE(feedUntilHeldWriterRemoved(ts));
    const std::string first = blocks[0].storeData->file->name;
    auto queueSize = [&] {
        uint32_t size = 0;
        meas_app_PreTrigGetMeasVarsBE(meas[0].store, &size, nullptr, nullptr, nullptr);
        return size;
    };
    // held through several times the queue's limit and a new file
    for (unsigned round = 0; round < 12; ++round) {
        feedBoth(ts, 500);
        if (round == 5) LapOutFra_setFragmentTrig(ts - 5);
        EXPECT_TRUE(waitFor([&] { return queueSize() <= kSmallQueue; }, 5000))
            << "round " << round << ": " << queueSize() << " bytes queued";
    }
    const std::string second = blocks[0].storeData->file->name;
    ASSERT_NE(first, second);
    // the first file's loss is final once it closed: named while held
    std::vector<std::string> during;
    ASSERT_TRUE(waitFor(
        [&] {
            for (auto& line : takeLogTexts()) during.push_back(line);
            return !losses(during, "usb_meas:").empty();
        },
        5000));
    const auto firstLoss = losses(during, "usb_meas:");
    ASSERT_EQ(firstLoss.size(), 1u);
    EXPECT_EQ(firstLoss[0].path, first);
    EXPECT_NE(firstLoss[0].rest.find("while the writer was removed from the back end: the file ends before them"),
              std::string::npos)
        << firstLoss[0].rest;
    EXPECT_TRUE(held->waits.load());
    held->hold = false;
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 5000));
    feedBoth(ts, 300);
    closeAndDrain();
    stopStore();
    const auto log = takeLogTexts();
    const auto named = losses(log, "usb_meas:");
    ASSERT_EQ(named.size(), 1u) << testing::PrintToString(log);
    EXPECT_EQ(named[0].path, second);
    EXPECT_EQ(named[0].rest, "while the writer was removed from the back end: the file is made after the gap");
    auto usb = files("usb_meas");
    auto internal = files("meas");
    ASSERT_TRUE(usb.count(second));
    MeasFileContent in, out;
    std::string err;
    ASSERT_TRUE(meas_file_read(usb[second].data(), usb[second].size(), out, err, &layouts())) << err;
    ASSERT_TRUE(meas_file_read(internal[second].data(), internal[second].size(), in, err, &layouts())) << err;
    EXPECT_EQ(usb[second].size() + named[0].bytes, internal[second].size());
    EXPECT_EQ(out.records.back().timeStamp, in.records.back().timeStamp);

    // the copy a later arrival makes of it completes the writer's file under
    // its name: a name holds one recording on every drive
    auto hex = [&](size_t at, size_t n) { return uint16_t(std::strtoul(second.substr(at, n).c_str(), nullptr, 16)); };
    meas_app_setCopyStartDelay(0);
    meas_app_copyFileTask(hex(1, 2), hex(3, 2), uint16_t(hex(5, 3) << 4 | hex(9, 1)), hex(10, 2), 0,
                          const_cast<char*>("usb_meas:"), 0);
    auto after = files("usb_meas");
    EXPECT_EQ(after.size(), usb.size()) << "a second copy";
    EXPECT_TRUE(after[second] == internal[second]) << "not completed under its name: " << testing::PrintToString(takeLogTexts());
}

// As above, but the file begun while the writer was away gets no more
// blocks after its return, only its close: it is never made on the USB
// drive, and its loss says so, not that it is made after the gap.
TEST_F(SlowUsbWriterTest, AFileBegunWhileItsWriterWasAwayThatGetsNoMoreBlocksIsNotOnTheDrive) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startHeldWriterWithSmallQueue(heldCounts, ts);
    Backend* be = pretrigger()->getBackend();
    ASSERT_TRUE(feedUntilHeldWriterRemoved(ts));
    LapOutFra_setFragmentTrig(ts - 5);
    feedBoth(ts, 100);
    const std::string second = blocks[0].storeData->file->name;
    for (auto& b : blocks) meas_app_store_frame(&b);   // all its records are queued while the writer is away
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 1; }, 5000));
    held->hold = false;
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 5000));
    closeAndDrain();
    stopStore();
    const auto log = takeLogTexts();
    EXPECT_FALSE(logContains(log, "made after the gap")) << testing::PrintToString(log);
    std::vector<Loss> of;
    for (const auto& l : losses(log, "usb_meas:"))
        if (l.path == second) of.push_back(l);
    ASSERT_EQ(of.size(), 1u) << testing::PrintToString(log);
    EXPECT_NE(of[0].rest.find(": they are not on this drive"), std::string::npos) << of[0].rest;
    EXPECT_FALSE(files("usb_meas").count(second));
}

// A file begun while its writer is held and then removed (split before the
// removal: the writer is one of the file's), that goes on after the writer
// is back, while the stick is pulled: what the writer missed while away and
// what it drops for the absent stick are both named, the file's header once.
void SlowUsbWriterTest::fileGoesOnAfterTheWriterIsBackWithoutItsStick(bool splitBeforeRemoval) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startHeldWriterWithSmallQueue(heldCounts, ts);
    Backend* be = pretrigger()->getBackend();
    if (splitBeforeRemoval) {
        LapOutFra_setFragmentTrig(ts - 5);
        feedBoth(ts, 10);
    }
    ASSERT_TRUE(feedUntilHeldWriterRemoved(ts));
    if (!splitBeforeRemoval) {
        LapOutFra_setFragmentTrig(ts - 5);
        feedBoth(ts, 100);
    }
    const std::string second = blocks[0].storeData->file->name;
    for (auto& b : blocks) meas_app_store_frame(&b);
    held->hold = false;
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 5000));
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_away");
    feedBoth(ts, 300);
    closeAndDrain();
    stopStore();
    const auto log = takeLogTexts();
    unsigned named = 0;
    for (const auto& l : losses(log, "usb_meas:")) {
        if (l.path != second) continue;
        named += l.bytes;
        EXPECT_NE(l.rest.find(": they are not on this drive"), std::string::npos) << l.rest;
    }
    EXPECT_EQ(named, files("meas").at(second).size()) << testing::PrintToString(log);
    EXPECT_FALSE(files("usb_away").count(second));
}

TEST_F(SlowUsbWriterTest, AFileBegunWhileItsWriterWasAwayAndThenItsStickWentIsNamedWhole) {
    fileGoesOnAfterTheWriterIsBackWithoutItsStick(false);
}

TEST_F(SlowUsbWriterTest, AFileItsWriterMissedTheStartOfAndThenItsStickWentIsNamedWhole) {
    fileGoesOnAfterTheWriterIsBackWithoutItsStick(true);
}

// The USB drive is pulled while its writer is held in a write and laps go
// by: let go, the writer finds its drive gone. Each file of that time is
// named on the USB drive by its name with the bytes, blocks and stamps it
// lacks (the one open on the drive ends before them, the others are not on
// it), as a file given up is; the internal drive keeps them all.
TEST_F(SlowUsbWriterTest, AStickPulledWhileItsWriterIsHeldNamesEveryFileItLacks) {
    MeasStoreWriteCounters heldCounts{};
    uint32_t ts = 100000;
    auto* held = startUsbWriterHeldAfterItWrote<HeldWriter>(heldCounts, ts, 100);
    ASSERT_FALSE(HasFailure());
    const std::string first = blocks[0].storeData->file->name;
    constexpr unsigned kFiles = 6;
    for (unsigned file = 1; file < kFiles; ++file) {
        feedBoth(ts, 100);
        LapOutFra_setFragmentTrig(ts - 5);
        feedBoth(ts, 10);
    }
    feedBoth(ts, 100);
    ASSERT_TRUE(waitFor([&] { return held->waits.load(); }, 5000));
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_away");
    held->hold = false;
    closeAndDrain();
    stopStore();
    const auto log = takeLogTexts();
    auto internal = files("meas");
    ASSERT_EQ(internal.size(), kFiles);
    const auto named = losses(log, "usb_meas:");
    for (const auto& [name, bytes] : internal) {
        std::vector<Loss> of;
        for (const auto& l : named)
            if (l.path == name) of.push_back(l);
        ASSERT_EQ(of.size(), 1u) << name << " named " << of.size() << " times: " << testing::PrintToString(log);
        const unsigned from = of[0].from, to = of[0].to;
        ASSERT_NE(to, 0u) << name << ": no stamps named";
        EXPECT_NE(of[0].rest.find(name == first ? "the file ends before them" : "they are not on this drive"),
                  std::string::npos)
            << name << ": " << of[0].rest;
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << err;
        ASSERT_FALSE(c.records.empty());
        if (name == first) {
            // the drive holds the start of it: the rest, with what the
            // writer's stream still held when the drive went, is named
            const auto stick = files("usb_away")[name];
            ASSERT_LT(stick.size(), bytes.size());
            EXPECT_EQ(of[0].bytes, bytes.size() - stick.size()) << name;
            MeasFileContent held;
            meas_file_read(stick.data(), stick.size(), held, err, &layouts());   // (may end inside an item)
            ASSERT_LT(held.records.size(), c.records.size());
            uint32_t lacksFrom = c.records[held.records.size()].timeStamp;
            for (size_t k = held.records.size(); k < c.records.size(); ++k)
                if (int32_t(c.records[k].timeStamp - lacksFrom) < 0) lacksFrom = c.records[k].timeStamp;
            EXPECT_EQ(from, lacksFrom) << name;
            EXPECT_GE(int32_t(to - c.records.back().timeStamp), 0) << name;
            continue;
        }
        // none of it is on the drive: all of it is named
        EXPECT_EQ(from, c.records.front().timeStamp) << name;
        EXPECT_GE(int32_t(to - c.records.back().timeStamp), 0) << name;   // (its closing status block's stamp)
        EXPECT_EQ(of[0].bytes, bytes.size()) << name;
    }
    EXPECT_FALSE(logContains(log, "(file ")) << "a file named by its slot";
    // a USB drive that is not there is no failure of it
    EXPECT_EQ(heldCounts.failures, 0u);
}

// A writer its drive holds past the stop keeps the back end it still uses:
// the store ends without it, and the writer ends once its drive lets it go.
TEST_F(SlowUsbWriterTest, AWriterThatWillNotStopKeepsItsBackEnd) {
    MeasStoreWriteCounters heldCounts{};
    auto* held = startUsbWriter<HeldWriter>(heldCounts);
    Backend* be = pretrigger()->getBackend();
    held->hold = true;
    uint32_t ts = 100000;
    feedBoth(ts, 300);
    ASSERT_TRUE(waitFor([&] { return held->waits.load(); }, 5000));

    meas_app_PreTrigDelete(meas[0].store);   // gives the held writer its 3 s
    meas[0].store = nullptr;
    EXPECT_TRUE(logContains(takeLogTexts(), "a writer did not stop, its back end is left to it"));
    held->hold = false;   // it goes on with the back end it was left
    ASSERT_TRUE(waitFor([&] { return !held->taskActive(); }, 10000));
    delete be;   // ends the held writer too
}

// A USB writer whose sync the drive holds when the stop's wait ends: the
// stop halts it, and the log names, for its drive, the bytes and the stamps
// of what it had not written; what its stream held reaches the drive. A
// writer held inside a write of its own is not waited for: its drive is
// named.
TEST_F(SlowUsbWriterTest, AWriterHaltedInASlowSyncNamesWhatItLeft) {
    struct SlowSyncWriter : USBWriter {
        using USBWriter::USBWriter;
        std::atomic<bool> hold{false};
        std::atomic<bool> waits{false};
        bool flush(int vfIdx) override {
            {
                Released sync(*this);   // as the drive's own sync does
                while (hold) {
                    waits = true;
                    taskDelay(5);
                }
            }
            return USBWriter::flush(vfIdx);
        }
    };
    MeasStoreWriteCounters slowCounts{};
    uint32_t ts = 100000;
    auto* slow = startUsbWriterHeldAfterItWrote<SlowSyncWriter>(slowCounts, ts, 300);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(waitFor([&] { return slow->waits.load(); }, 5000));
    feedBoth(ts, 600);   // behind the held sync
    ASSERT_TRUE(waitFor([&] { return MeasAppStore_getFilesize(&blocks[0]) ==
                                      std::atomic_ref<uint32_t>(meas_store_writeCounters(0, 0).bytes).load(); },
                        10000));
    takeLogTexts();
    meas_app_PreTrigHaltWriters(200);
    const auto log = takeLogTexts();
    // (what the store's own stop adds after the halt is named at the writer's stop)
    MeasStoreWriteCounters atHalt{};
    atHalt.failures = std::atomic_ref<uint32_t>(slowCounts.failures).load();
    slow->hold = false;   // it writes nothing more
    stopStore();
    auto internal = files("meas");
    auto usb = files("usb_meas");
    ASSERT_EQ(internal.size(), 1u);
    ASSERT_EQ(usb.size(), 1u);
    const std::string name = internal.begin()->first;
    EXPECT_FALSE(logContains(log, "'meas:/")) << "the internal writer had kept up";
    expectGapNamed(log, name, "not written at the stop: the file ends before them",
                   internal.begin()->second, usb.begin()->second, atHalt, false);
}

TEST_F(SlowUsbWriterTest, AWriterHeldInItsWriteAtTheHaltNamesItsDrive) {
    MeasStoreWriteCounters heldCounts{};
    auto* held = startUsbWriter<HeldWriter>(heldCounts);
    uint32_t ts = 100000;
    held->hold = true;
    feedBoth(ts, 300);
    ASSERT_TRUE(waitFor([&] { return held->waits.load(); }, 5000));
    takeLogTexts();
    const std::string name = blocks[0].storeData->file->name;
    meas_app_PreTrigHaltWriters(100);
    const auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "BFSWriter: 'usb_meas:': m01: the writer did not halt within the stop's "
                                 "wait: what it had not written is not known"));
    // what it had not read yet is named by its file all the same
    const auto named = losses(log, "usb_meas:");
    ASSERT_EQ(named.size(), 1u) << testing::PrintToString(log);
    EXPECT_EQ(named[0].path, name);
    EXPECT_NE(named[0].to, 0u) << "no stamps named";
    EXPECT_EQ(named[0].rest, "at the stop: they are not on this drive");
    held->hold = false;
    stopStore();
}
