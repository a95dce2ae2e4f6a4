// A destroy while a slow drive still writes, and while the start's replies
// come in: the condition raster is never held for the writing, and the
// destroy and a reply never wait for each other.
#include <gtest/gtest.h>

#include <atomic>

#include "logging/app_fixture.h"
#include "logging/store/pretrigger.h"
#include "logging/store/writer.h"

namespace {

using namespace measure::store;

// A USB stick that takes 300 ms for every write. It notes whether the
// condition lock of m01 is held by someone else when a write begins: the
// 10 ms raster's condition check would be waiting then.
class CrawlingWriter : public USBWriter {
public:
    using USBWriter::USBWriter;
    bool write(int vfIdx, const uint8_t* data, unsigned length) override {
        SEM_ID cond = meas[0].condLock;
        if (semTake(cond, NO_WAIT) == OK) semGive(cond);
        else ++whileConditionsHeld;
        ++writes;
        taskDelay(300);
        return USBWriter::write(vfIdx, data, length);
    }
    static inline std::atomic<unsigned> writes{0}, whileConditionsHeld{0};
};

}  // namespace

TEST_F(MeasAppTest, ADestroyWaitingForASlowDriveDoesNotHoldTheConditionRaster) {
    makeDrive("usb_meas");
    writeConfig(0, "R1ms");
    start();
    ASSERT_TRUE(runUntil([] { return (meas[0].runFlags & 1) && meas[0].store; }, 3000));
    Backend* be = static_cast<Pretrigger*>(static_cast<void*>(meas[0].store))->getBackend();
    MeasStoreWriteCounters counts{};
    CrawlingWriter::writes = CrawlingWriter::whileConditionsHeld = 0;
    auto* crawler = new CrawlingWriter(*be, "usb_meas:", {&counts.writes, &counts.bytes, &counts.failures});
    ASSERT_TRUE(crawler->taskStart("r_USBWriter1", 146, 10000, VX_FP_TASK, 0));   // the back end owns it
    // the stick falls behind by more than the destroy waits for it
    ASSERT_TRUE(runUntil([] { return CrawlingWriter::writes.load() >= 2; }, 3000));
    run(1000);
    takeLogTexts();
    sp().meas_app_destroyreq = 1;
    ASSERT_TRUE(runUntil([] { return !(meas[0].stateFlags & 1); }, 5000));
    EXPECT_TRUE(logContains(takeLogTexts(), "not all data written after"));
    // at most the write under way when the destroy stops the writers
    EXPECT_LE(CrawlingWriter::whileConditionsHeld.load(), 1u);
}
