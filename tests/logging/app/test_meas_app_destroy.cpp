// A destroy while a slow drive still writes, and start replies while blocks
// stop: the condition raster is never held for the writing, and a reply never
// waits for a stop (or a destroy) that waits for it.
#include <gtest/gtest.h>

#include <atomic>

#include "logging/app/meas_app_internal.h"
#include "logging/app_fixture.h"
#include "logging/deadlock_watch.h"
#include "logging/store/crawling_writer.h"
#include "logging/store/pretrigger.h"

namespace {

using namespace measure::store;

// Notes whether the condition lock of m01 is held by someone else when a
// write begins: the 10 ms raster's condition check would be waiting then.
class ObservedCrawler : public CrawlingWriter {
public:
    using CrawlingWriter::CrawlingWriter;
    static inline std::atomic<unsigned> writes{0}, whileConditionsHeld{0};

protected:
    void beforeWrite() override {
        SEM_ID cond = meas[0].condLock;
        if (semTake(cond, NO_WAIT) == OK) semGive(cond);
        else ++whileConditionsHeld;
        ++writes;
    }
};

}  // namespace

TEST_F(MeasAppTest, ADestroyWaitingForASlowDriveDoesNotHoldTheConditionRaster) {
    makeDrive("usb_meas");
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([] { return (meas[0].runFlags & 1) && meas[0].store; }, 3000));
    Backend* be = static_cast<Pretrigger*>(static_cast<void*>(meas[0].store))->getBackend();
    MeasStoreWriteCounters counts{};
    ObservedCrawler::writes = ObservedCrawler::whileConditionsHeld = 0;
    auto* crawler = new ObservedCrawler(*be, "usb_meas:", {&counts.writes, &counts.bytes, &counts.failures});
    ASSERT_TRUE(crawler->taskStart("r_USBWriter1", 146, 10000, VX_FP_TASK, 0));   // the back end owns it
    // the stick falls behind by more than the destroy waits for it
    ASSERT_TRUE(runUntil([] { return ObservedCrawler::writes.load() >= 2; }, 3000));
    run(1000);
    takeLogTexts();
    sp().meas_app_destroyreq = 1;
    ASSERT_TRUE(runUntil([] { return !(meas[0].stateFlags & 1); }, 5000));
    EXPECT_TRUE(logContains(takeLogTexts(), "not all data written after"));
    // at most the write under way when the destroy stops the writers
    EXPECT_LE(ObservedCrawler::whileConditionsHeld.load(), 1u);
}

// A block's start reply comes from the gateway's task while the logging
// raster stops another block of the same measurement: the reply takes the
// list lock and the data lock, the stop the data lock and the list lock.
// Taken in one order, neither waits for the other for good.
TEST_F(MeasAppTest, StartRepliesWhileOtherBlocksStopNeverWaitForEachOther) {
    std::string blocks;
    for (int i = 0; i < 2; ++i)
        blocks += "<Block name=\"b" + std::to_string(i) + "\" idx=\"" + std::to_string(i) +
                  "\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\"><CopySeq align=\"4\" size=\"4\" "
                  "num=\"1\" idx=\"0\"><adr adr=\"" + adr("stim_tick") + "\" idx=\"0\"/></CopySeq></Block>\n";
    writeFile("cfg/m01.xml", "<AcqInfo ident=\"t\" num_blocks=\"2\" num_conditions=\"0\" version=\"1\" protocol=\"0\">\n" +
                                 blocks + "</AcqInfo>\n");
    start();
    ASSERT_TRUE(runUntil([] { return meas[0].startCount == 2 && meas[0].replyCount == 2; }, 3000));
    stopAndFlush();   // the blocks are out of their lists, ready to start again

    std::atomic<int> done{0};
    auto startAndStop = [&](MeasBlock* b) {
        for (int i = 0; i < 20000; ++i) {
            meas_app_gw_cbStart(0, nullptr, b);
            meas_app_blockstop(b);
        }
        ++done;
    };
    std::thread first(startAndStop, &meas[0].blocks[0]);
    std::thread second(startAndStop, &meas[0].blocks[1]);
    endIfDeadlocked([&] { return done.load() == 2; }, 20000,
                    "a start reply (list lock, then data lock) and a block's stop (data lock, then list lock) wait "
                    "for each other");
    first.join();
    second.join();
    for (const MeasBlock* b = meas_app_measlist[meas[0].blocks[0].config->raster]; b; b = b->next)
        EXPECT_NE(b->owner, &meas[0]) << "a stopped block is still in its list";
}
