// Rounding, curve lookup and the scheduler stop through a calibration download.
#include <gtest/gtest.h>

#include <cmath>

#include "awm/awm.h"
#include "host/kernel/kernel.h"
#include "measurement/seram.h"

TEST(AwmRound, HalfAwayFromZeroAndSaturation) {
    EXPECT_EQ(awm::round(2.5), 3.0);
    EXPECT_EQ(awm::round(2.49), 2.0);
    EXPECT_EQ(awm::round(-2.5), -3.0);
    EXPECT_EQ(awm::round(-2.49), -2.0);
    EXPECT_EQ(awm::round(0.0), 0.0);
    EXPECT_EQ(awm::round(-0.4), 0.0);
    EXPECT_EQ(awm_round(4294967294.6), 4294967295.0);
    EXPECT_EQ(awm_round(1e12), 4294967295.0);
    EXPECT_EQ(awm_round(-1e12), -2147483648.0);
    EXPECT_EQ(awm_round(std::nan("")), 0.0);
}

TEST(AwmLookup, InterpolatesAndExtendsEndSegments) {
    const float x[4] = {0, 10, 20, 40};
    const float y[4] = {0, 100, 50, 50};
    float out = -1;
    awm_0x02_lookup(&out, y, 5, x, 3);
    EXPECT_FLOAT_EQ(out, 50);
    awm_0x02_lookup(&out, y, 15, x, 3);
    EXPECT_FLOAT_EQ(out, 75);
    awm_0x02_lookup(&out, y, 10, x, 3);
    EXPECT_FLOAT_EQ(out, 100);
    awm_0x02_lookup(&out, y, -5, x, 3);     // first segment extended
    EXPECT_FLOAT_EQ(out, -50);
    awm_0x02_lookup(&out, y, 60, x, 3);     // last segment extended (flat)
    EXPECT_FLOAT_EQ(out, 50);
    awm_0x02_lookup(&out, y, 25, x, 1);     // only the first two points used
    EXPECT_FLOAT_EQ(out, 250);
    awm_0x02_lookup(&out, y, 99, x, 0);     // one point
    EXPECT_FLOAT_EQ(out, 0);
    const float flat[2] = {5, 5};
    awm_0x02_lookup(&out, y, 5, flat, 1);   // repeated x: no division by zero
    EXPECT_FLOAT_EQ(out, 0);
    out = 7;
    awm_0x02_lookup(&out, y, 5, x, -1);
    EXPECT_FLOAT_EQ(out, 7);
}

TEST(AwmMan, DownloadToActivePageStartStopsScheduler) {
    host::setDeviceFolder("/nonexistent-device-folder");
    ASSERT_EQ(seram_init(), 1);
    awm_man_start();
    EXPECT_EQ(awm_man_running(), 1);
    seramSetWorkpageActive();
    uint8_t b = 1;
    ASSERT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR + 64, &b, 1));
    EXPECT_EQ(awm_man_running(), 1);
    ASSERT_TRUE(seramDownload(SERAM_WORKPAGE_ADDR, &b, 1));
    EXPECT_EQ(awm_man_running(), 0);
    seramSetRefpageActive();
}
