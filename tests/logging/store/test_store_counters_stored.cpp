// A measurement file reaches a drive only once the counters that name it
// are on the disk: a power cut can then never give its name and numbers to
// another recording. Neither the raster nor the trigger waits for it: the
// writer that makes the file does.
#include <gtest/gtest.h>

#include <filesystem>

#include "logging/held_calls.h"
#include "host/kernel/kernel_internal.h"
#include "platform/nvram.h"
#include "store_fixture.h"

namespace {

std::string currentName() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    char name[40];
    LapOutFra_genFilenameAbsLap(name, sizeof name, 0, s.outing, s.lap, s.fragment, s.absLap);
    return name;
}

class StoreCountersTest : public StoreTest {
protected:
    void TearDown() override {
        held_calls::releaseNvramSyncs();
        StoreTest::TearDown();
    }
    bool exists(const std::string& rel) { return std::filesystem::exists(dir + "/" + rel); }
};

}  // namespace

TEST_F(StoreCountersTest, AFileIsMadeOnlyOnceItsCountersAreOnTheDisk) {
    configure();
    uint32_t ts = 100000;
    feedBoth(ts, 200);
    ASSERT_TRUE(nvram_dbs_flush());
    ASSERT_TRUE(waitFor([&] { return exists("meas/" + currentName()); }, 10000));

    // the disk under nvram.bin stalls: the split's counters stay in memory
    held_calls::holdNvramSyncs();
    LapOutFra_setFragmentTrig(ts - 5);
    const std::string next = currentName();
    LapOutFraState counters{};
    LapOutFra_getState(&counters);
    feedBoth(ts, 400);   // records of the new fragment, handed to the writers
    ASSERT_TRUE(held_calls::nvramSyncWaits(std::chrono::seconds(10)));
    std::vector<std::string> log;
    const bool seen = waitFor(
        [&] {
            for (auto& l : takeLogTexts()) log.push_back(l);
            return exists("meas/" + next) || countContaining(log, "'meas:/" + next + "' waits for its counters") > 0;
        },
        10000);
    EXPECT_TRUE(seen) << testing::PrintToString(log);
    EXPECT_FALSE(exists("meas/" + next)) << "the file was made before its counters were stored";
    EXPECT_FALSE(exists("usb_meas/" + next)) << "the copy on the USB drive too";

    held_calls::releaseNvramSyncs();
    closeAndDrain();
    EXPECT_TRUE(exists("meas/" + next));
    EXPECT_TRUE(exists("usb_meas/" + next));
    // a cut now finds the split's counters on the disk
    host::detail::resetNvram();
    uint8_t elem[6] = {};
    ASSERT_EQ(nvram_dbs_read(NVRAM_ID_LAPOUTFRA, 0, elem, 6), 6);
    EXPECT_EQ(elem[0] | elem[1] << 8, counters.fragment);
}

// A store of the counters that fails does not hold the file back: its
// records are not lost for it, and the failure is said.
TEST_F(StoreCountersTest, AFileIsMadeAllTheSameWhenItsCountersCannotBeStored) {
    configure();
    uint32_t ts = 100000;
    feedBoth(ts, 200);
    ASSERT_TRUE(nvram_dbs_flush());
    std::filesystem::create_directory(dir + "/nvram.bin.tmp");   // every write of nvram.bin fails
    LapOutFra_setFragmentTrig(ts - 5);
    const std::string next = currentName();
    feedBoth(ts, 400);
    closeAndDrain();
    EXPECT_TRUE(exists("meas/" + next));
    EXPECT_TRUE(exists("usb_meas/" + next));
    const std::vector<std::string> log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "the counters of 'meas:/" + next + "' are not stored: the file is made all the same"),
              1)
        << testing::PrintToString(log);
    std::filesystem::remove(dir + "/nvram.bin.tmp");
}
