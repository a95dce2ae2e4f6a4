// A USB writer slowed to a crawl is dropped by the back end's oversize rule
// (25 MiB for 10 s) while the internal files stay complete; the frames it
// still works on when it is dropped are not freed under it.
#include <gtest/gtest.h>

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
    blocks[0].config->recordSize = 64;
    MeasAppStore_deinitData(&blocks[0]);
    ASSERT_EQ(MeasAppStore_initData(&blocks[0], 64, 4096), 0);

    feedBytes(27u << 20);
    uint32_t size = 0;
    meas_app_PreTrigGetMeasVarsBE(meas[0].store, &size, nullptr, nullptr, nullptr);
    EXPECT_GT(size, 26214400u);
    // logging goes on while the rule runs its 10 s
    bool dropped = waitFor(
        [&] {
            feedBytes(64 << 10);
            return crawler->id() == 255;
        },
        14000);
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(logContains(takeLogTexts(), "list size exceeded!"));
    // the queue is cut down to what the internal writer has not written yet
    ASSERT_TRUE(waitFor(
        [&] {
            meas_app_PreTrigGetMeasVarsBE(meas[0].store, &size, nullptr, nullptr, nullptr);
            return size < (1u << 20);
        },
        3000));

    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    ASSERT_TRUE(waitFor([&] { return MeasAppStore_queuedFiles(0) == 0; }, 2000));
    ASSERT_TRUE(waitFor([&] { return be->isOfflineDataFlushed(); }, 5000));
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
