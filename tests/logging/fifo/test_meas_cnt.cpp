// The writers' counters and write rates are measurable by name.
#include <gtest/gtest.h>

#include <string>

#include "host/kernel/kernel.h"
#include "logging/fifo/meas_cnt.h"
#include "logging/config/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "logging/logging_fixture.h"
#include "measurement/catalogue.h"

namespace {

std::string getvar(const char* name) {
    std::string n = name;
    char* argv[] = {const_cast<char*>("getvar"), n.data(), nullptr};
    testing::internal::CaptureStdout();
    shell_getvar(2, argv);
    return testing::internal::GetCapturedStdout();
}

class MeasCntTest : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        for (unsigned m = 0; m < 3; ++m) meas_store_writeCounters(m, 0) = meas_store_writeCounters(m, 1) = {};
        meas_cnt_resetForTest();
        ASSERT_EQ(catalogue_init(), 1);
    }
    void TearDown() override {
        meas_cnt_resetForTest();
        host::setTimeStampOffset(0);
        LoggingTest::TearDown();
    }
};

}  // namespace

TEST_F(MeasCntTest, WriteCountersAndRatesAnswerByName) {
    ASSERT_EQ(meas_cnt_publishSignals(), 1);
    meas_store_writeCounters(MEAS_IDX_M01, 0) = {3, 3000, 0};
    meas_store_writeCounters(MEAS_IDX_M03, 0) = {1, 100, 0};
    meas_store_writeCounters(MEAS_IDX_M01, 1) = {2, 500, 0};
    meas_cnt_update();
    EXPECT_EQ(getvar("meas_cnt_int"), "meas_cnt_int = 4\n");
    EXPECT_EQ(getvar("meas_cnt_forked"), "meas_cnt_forked = 2\n");
    EXPECT_EQ(getvar("meas_cnt_int_arr[1]"), "meas_cnt_int_arr[1] = 1\n");
    EXPECT_EQ(getvar("write_bytes_intern"), "write_bytes_intern = 3000\n");
    EXPECT_EQ(getvar("write_bytes_intern[1]"), "write_bytes_intern[1] = 100\n");
    EXPECT_EQ(getvar("write_bytes_usb"), "write_bytes_usb = 500\n");
    EXPECT_EQ(getvar("meas_cnt_forked_arr"), "meas_cnt_forked_arr = 2\n");
    EXPECT_EQ(getvar("meas_write_rate_intern"), "meas_write_rate_intern = 0\n");   // no second passed yet

    // two seconds and 4000 more bytes later: 2000 bytes per second
    host::setTimeStampOffset(20000);
    meas_store_writeCounters(MEAS_IDX_M01, 0) = {5, 7000, 0};
    meas_cnt_update();
    EXPECT_NEAR(meas_cnt_rates().meas_write_rate_intern[0], 2000.0f, 20.0f);
    EXPECT_EQ(meas_cnt_rates().meas_write_rate_intern[1], 0.0f);
    CatEntry el;
    const CatEntry* e = catalogue_find("meas_write_rate_intern", &el);
    ASSERT_NE(e, nullptr);
    double v = 0;
    ASSERT_TRUE(catalogue_read(e, &v));
    EXPECT_NEAR(v, 2000.0, 20.0);
    EXPECT_EQ(e->type, TE_FLOAT);
    EXPECT_EQ(e->count, 2);
}
