// A file's name and its header's counters come from the same snapshot of the
// lap counters, even when a lap trigger changes them in between.
#include <gtest/gtest.h>

#include "logging/store/file_info.h"
#include "store_fixture.h"

TEST_F(StoreTest, FileIsNamedFromTheCountersItIsOpenedWith) {
    configure();
    LapOutFraState snap{};
    LapOutFra_getState(&snap);
    // a lap trigger between the snapshot and the open raises the absolute lap
    LapOutFra_setLapOutCnt(2, 1, 5000);
    LapOutFraState now{};
    LapOutFra_getState(&now);
    ASSERT_NE(now.absLap, snap.absLap);

    ASSERT_EQ(meas_app_open_file(&blocks[0], 1000, &snap), 0);
    const MeasAppStore_FileInfo_s* f = blocks[0].storeData->file;
    ASSERT_NE(f, nullptr);
    char expected[32];
    LapOutFra_genFilenameAbsLap(expected, sizeof expected, 0, snap.outing, snap.lap, snap.fragment, snap.absLap);
    EXPECT_STREQ(f->name, expected);
    EXPECT_EQ(f->absLap, snap.absLap);
}
