// A USB writer slowed to a crawl is dropped by the back end's oversize rule
// (25 MiB for 10 s) while the internal files stay complete; the frames it
// still works on when it is dropped are not freed under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>

#include "crawling_writer.h"
#include "store_fixture.h"

using namespace measure::store;

TEST_F(StoreTest, CrawlingUsbWriterIsDroppedAfterTheOversizeRule) {
    cfg_meas_applyTargetPartition(1);
    std::snprintf(cfg_meas[0].copyPartition, CFG_MEAS_STRLEN, "none");   // only the internal writer
    configure();
    Backend* be = pretrigger()->getBackend();
    MeasStoreWriteCounters crawlCounts{};
    auto* crawler = new CrawlingWriter(*be, "usb_meas:", {&crawlCounts.writes, &crawlCounts.bytes, &crawlCounts.failures});
    ASSERT_TRUE(crawler->taskStart("r_USBWriter1", 146, 10000, VX_FP_TASK, 0));
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 2000));
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
    // a slave core that takes its master's time: two gap stamps lock it
    for (uint32_t offset : {0u - 10000000u, 20000000u, 0x80000000u}) {   // 1000 s back, 2000 s on, half the range
        const uint32_t before = host::timeStamp();
        host::setTimeNextGap(host::ownTimeStamp() + offset + 1000u);
        host::setTimeNextGap(host::ownTimeStamp() + offset + 1000u);
        ASSERT_GT(std::abs(int32_t(host::timeStamp() - before)), 1000000) << "the stamp did not step";
        EXPECT_TRUE(writer.alive()) << offset;
    }
}
