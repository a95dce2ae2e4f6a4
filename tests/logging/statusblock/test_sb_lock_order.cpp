// The status-block task and the logging raster meet at a file's close: the
// raster asks for the file's status block while it holds the file queue, the
// task finishes a waiting block and closes its file. Neither may hold its
// lock while it waits for the other's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "logging/deadlock_watch.h"
#include "sb_fixture.h"

namespace {

std::atomic<bool> rasterAsking{false};

// The status block as the raster asks for it, with the file queue held: it
// gives the task the time to take the blocks first, which is when the two
// would wait for each other.
int askWhenTheTaskHoldsTheBlocks(const MeasAppStore_SbRequest* r, unsigned type, unsigned measIdx) {
    rasterAsking = true;
    for (int i = 0; i < 500; ++i) {
        if (!sb_lock().try_lock()) break;   // the task has the blocks
        sb_lock().unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return sb_create(r, type, measIdx);
}

}  // namespace

namespace {

// m01 as the store's test device has it, and m03 with one block of one 4-byte
// channel writing to "meas2:".
class StatusBlockLockOrder : public StatusBlockTest {
protected:
    void SetUp() override {
        StatusBlockTest::SetUp();
        makeDrive("meas2");
    }
    void TearDown() override {
        if (void* s = meas[2].store) {
            meas_app_PreTrigDrain(s);
            meas_app_PreTrigDelete(s);
        }
        meas[2].store = nullptr;
        MeasAppStore_deinitData(&m03Block);
        meas_app_free_MEASConfiguration(meas[2].config);
        meas_clearKeepingLocks(meas[2]);
        StatusBlockTest::TearDown();
    }
    void configureM03() {
        MEASConfiguration* c = meas_app_alloc_MEASConfiguration();
        c->numBlocks = 1;
        c->blocks = static_cast<BlkInfo*>(std::calloc(1, sizeof(BlkInfo)));
        describeBlock(c->blocks[0], 1, 1, 4, 1);
        meas[2].config = c;
        m03Block.owner = &meas[2];
        m03Block.measIdx = MEAS_IDX_M03;
        m03Block.config = &c->blocks[0];
        ASSERT_EQ(MeasAppStore_initData(&m03Block, 64, 4096), 0);
        meas[2].store = meas_app_PreTrigInit(MEAS_IDX_M03, 0.0f);
        ASSERT_NE(static_cast<void*>(meas[2].store), nullptr);
    }
    void feedM03(uint32_t ts) {
        uint8_t r[8];
        be_put32(r, ts);
        be_put32(r + 4, ts * 3);
        meas_app_store_block(&m03Block, r);
    }
    MeasBlock m03Block{};
};

}  // namespace

// The task finishes m01's lap block (its file closes) while the raster ends
// m03's file and asks for that one's block.
TEST_F(StatusBlockLockOrder, RasterAskingForABlockWhileTheTaskFinishesOneDoesNotDeadlock) {
    cfg_system.fuelPid = 10;
    configure();
    configureM03();
    feed(0, 1000);
    feed(1, 1000);
    feedM03(1000);
    sblk_task_laptrigger(5, 1, 8345, 1500);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    feed(1, 1510);
    ASSERT_EQ(checkBlock(0), 2);   // m01's lap file waits for the lap-stack controller
    ci_msg_t m{};
    ci_init_msg(&m, CI_CMD_LAPSTACK_INFO, 1, 16);
    ci_set_src(&m, 10);
    be_putf(m.payload + 4, 2.345f);
    ASSERT_EQ(ci_get_lapstack_info(&m), 1);   // the task's next wake finishes it

    MeasAppStoreHooks h{};
    h.sbCreate = askWhenTheTaskHoldsTheBlocks;
    MeasAppStore_setHooks(h);
    rasterAsking = false;
    std::atomic<bool> rasterDone{false}, taskDone{false};
    std::thread raster([&] {
        meas_app_close_file(&m03Block, SB_PERIOD);
        rasterDone = true;
    });
    std::thread task([&] {
        waitFor([] { return rasterAsking.load(); }, 5000);
        sb_task_check_blocks();
        taskDone = true;
    });
    endIfDeadlocked([&] { return rasterDone.load() && taskDone.load(); }, 10000,
                    "the logging raster (file queue, then status block) and the status-block task (status block, "
                    "then file queue) wait for each other");
    raster.join();
    task.join();

    ASSERT_TRUE(waitFor([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, 10000));
    EXPECT_EQ(MeasAppStore_queuedFiles(MEAS_IDX_M03), 0u);
    EXPECT_EQ(files("meas2").size(), 1u);
    auto m01 = files("meas");
    ASSERT_FALSE(m01.empty());   // the lap's file, closed (the next one is open)
    std::string listing;
    EXPECT_NE(lastStatusBlock(readFile(m01.begin()->first, &listing)), nullptr);
    EXPECT_NE(listing.find("lap stack 1: lap 5 1:23.45 fuel 2.35"), std::string::npos) << listing;
}
