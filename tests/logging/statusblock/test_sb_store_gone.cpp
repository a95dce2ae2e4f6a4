// The status-block task finishes a file's block while a destroy takes the
// measurement's store away and deletes it: the task writes into the store
// while it is there and into nothing once it is gone, never into a store
// being deleted (ASan and ThreadSanitizer watch).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sb_fixture.h"

TEST_F(StatusBlockTest, TheTaskNeverReachesAStoreThatADestroyDeletes) {
    cfg_system.fuelPid = 0xFFFF;
    configure();
    addSources();
    std::atomic<bool> stop{false};
    std::thread task([&] {
        while (!stop.load()) sb_task_check_blocks();
    });
    for (uint32_t i = 0; i < 40; ++i) {
        if (!meas[0].store) meas[0].store = meas_app_PreTrigInit(0, 0.0f);
        ASSERT_NE(static_cast<void*>(meas[0].store), nullptr);
        const uint32_t ts = 1000 + i * 1000;
        feed(0, ts);
        meas_app_close_file(&blocks[0], SB_PERIOD);   // its block waits for the sources
        source(2, 0, i);
        source(3, 0, i);                               // now the task finishes it
        meas_app_PreTrigDelete(MeasAppStore_takeStore(0));
        ASSERT_TRUE(waitFor(
            [] {
                std::lock_guard<std::mutex> lk(sb_lock());
                return sb_state().block[0].busy == 0;
            },
            2000));
    }
    stop = true;
    task.join();
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 0u);
}
