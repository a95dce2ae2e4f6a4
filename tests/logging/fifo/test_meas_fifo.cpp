// Logger FIFOs: condition history, latency alignment, lap-trigger delay depth,
// time-stamp checks and thinning by the block's condition.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/config/meas_config.h"
#include "logging/logging_fixture.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/time_step.h"

namespace {

std::vector<uint8_t> condSlot(uint32_t ts, uint8_t v) { return {uint8_t(ts >> 24), uint8_t(ts >> 16), uint8_t(ts >> 8), uint8_t(ts), v}; }

std::vector<uint8_t> dataSlot(uint32_t ts, std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> s(4 + 4 * values.size());
    be_put32(s.data(), ts);
    size_t o = 4;
    for (uint32_t v : values) be_put32(s.data() + (o += 4) - 4, v);
    return s;
}

class MeasFifo : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        fifo_data_release_all();
        fifo_condition_release_all();
        fifo_data_time_resync(0);
        now(1000000);
        takeLogTexts();
    }
    void TearDown() override {
        fifo_data_release_all();
        fifo_condition_release_all();
        host::setTimeStampOffset(0);
        LoggingTest::TearDown();
    }
    // The data time the logging raster hands to the FIFOs, and the live clock
    // with it (a raster on time).
    void now(uint32_t t) {
        fifo_data_set_curr_ts(t);
        fifo_cond_set_curr_ts(t);
        live(t);
        cur = t;
    }
    // The logging raster ticking on to t, often enough that this device
    // never stands still.
    void runTo(uint32_t t) {
        while (int32_t(t - cur) > 0) now(cur + std::min<uint32_t>(t - cur, 400));
    }
    uint32_t cur = 0;
    // The live clock of the time service alone.
    static void live(uint32_t t) {
        host::setTimeStampOffset(0);
        host::setTimeStampOffset(t - host::timeStamp());
    }
    static MeasFifoCondRequest condReq(unsigned n, uint16_t windowMs = 0) {
        MeasFifoCondRequest r{};
        r.fifoNum = uint16_t(n);
        r.elemSize = 1;
        r.raster = MEAS_RASTER_5MS;
        r.pid = app_pid;
        r.windowMs = windowMs;
        return r;
    }
    static MeasFifoDataRequest dataReq(unsigned n, unsigned elems, uint16_t raster = MEAS_RASTER_1MS) {
        MeasFifoDataRequest r{};
        r.fifoNum = uint16_t(n);
        r.elemCount = uint16_t(elems);
        for (unsigned e = 0; e < elems; ++e) r.elemSizes[e] = 4;
        r.raster = raster;
        r.mult[0] = r.mult[1] = 1;
        return r;
    }
    // Every record the FIFO gives now: time stamps.
    std::vector<uint32_t> drain(unsigned n, int applyDelay = 0, int* last = nullptr) {
        std::vector<uint32_t> out;
        uint8_t buf[4100];
        int r;
        while ((r = fifo_data_get(n, buf, applyDelay, nullptr)) > 0) out.push_back(be_get32(buf));
        if (last) *last = r;
        return out;
    }
};

}  // namespace

TEST_F(MeasFifo, ConditionHistoryWithTransitionZoneAndLookupErrors) {
    ASSERT_EQ(fifo_condition_request(condReq(3)), 0);
    EXPECT_EQ(fifo_condition_request(condReq(3)), MF_ERR_FIFO_IN_USE);
    EXPECT_EQ(fifo_condition_request(condReq(MEAS_COND_FIFOS)), MF_ERR_COND_NUM);
    MeasFifoCondRequest bad = condReq(4);
    bad.elemSize = 3;
    EXPECT_EQ(fifo_condition_request(bad), MF_ERR_TYPE);
    bad = condReq(4);
    bad.raster = MEAS_RASTER_10MS;
    EXPECT_EQ(fifo_condition_request(bad), MF_ERR_RASTER);

    EXPECT_EQ(fifo_condition_check(3, 1000), MF_ERR_NO_COND);
    // false every 5 ms from 1000 to 1300, true from 1350 on
    for (uint32_t t = 1000; t <= 1300; t += 50) ASSERT_EQ(fifo_condition_put(3, condSlot(t, 0).data()), 0);
    for (uint32_t t = 1350; t <= 1500; t += 50) ASSERT_EQ(fifo_condition_put(3, condSlot(t, 1).data()), 0);
    now(1500);
    // a local source: 20 ms before the change are the transition zone
    EXPECT_EQ(fifo_condition_check(3, 1100), COND_FALSE);
    EXPECT_EQ(fifo_condition_check(3, 1149), COND_FALSE);
    EXPECT_EQ(fifo_condition_check(3, 1150), COND_TRANSITION);
    EXPECT_EQ(fifo_condition_check(3, 1349), COND_TRANSITION);
    EXPECT_EQ(fifo_condition_check(3, 1350), COND_TRUE);
    EXPECT_EQ(fifo_condition_check(3, 1500), COND_TRUE);
    EXPECT_EQ(fifo_condition_check(3, 999), MF_ERR_TS_OLD);
    EXPECT_EQ(fifo_condition_check(3, 1501), MF_ERR_TS_INVALID);   // nothing newer possible yet
    now(1600);
    EXPECT_EQ(fifo_condition_check(3, 1550), MF_NOT_YET);
    now(3500);
    EXPECT_EQ(fifo_condition_check(3, 1550), MF_ERR_COND_STALE);
    // a value more than 0.1 s ahead of now is refused (1 s: the live clock
    // runs on while the test does)
    EXPECT_EQ(fifo_condition_put(3, condSlot(3500 + 10000, 1).data()), MF_ERR_TS_INVALID);

    // unset: reported once, healed once
    takeLogTexts();
    EXPECT_EQ(fifo_condition_check(7, 1000), MF_ERR_FIFO_INVALID);
    EXPECT_EQ(fifo_condition_check(7, 1000), MF_ERR_FIFO_INVALID);
    ASSERT_EQ(fifo_condition_request(condReq(7)), 0);
    EXPECT_EQ(fifo_condition_check(7, 1000), MF_ERR_NO_COND);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "fifo_condition_check Fifo #7: MF_ERR_FIFO_INVALID."), 1);
    EXPECT_EQ(countContaining(log, "fifo_condition_check Fifo #7: reset MF_ERR_FIFO_INVALID. error healed"), 1);
    EXPECT_EQ(fifo_condition_release(7), 0);
    EXPECT_EQ(fifo_condition_release(7), MF_ERR_NOT_SET_UP);
}

TEST_F(MeasFifo, LatencyAlignsElementsOfOneTimeStep) {
    MeasFifoDataRequest r = dataReq(1, 2);
    r.latency[1] = 3;   // the second value arrives three samples late
    ASSERT_EQ(fifo_data_request(r), 0);
    now(2000);
    // sample k carries element 0 of step k and element 1 of step k - 3
    for (uint32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(fifo_data_put(1, dataSlot(1000 + 10 * k, {k, 0xEE}).data()), 0);
        EXPECT_TRUE(drain(1).empty()) << k;
    }
    ASSERT_EQ(fifo_data_put(1, dataSlot(1030, {3, 0}).data()), 0);
    uint8_t buf[64];
    ASSERT_EQ(fifo_data_get(1, buf, 0, nullptr), 12);
    EXPECT_EQ(be_get32(buf), 1000u);
    EXPECT_EQ(be_get32(buf + 4), 0u);
    EXPECT_EQ(be_get32(buf + 8), 0u);
    ASSERT_EQ(fifo_data_put(1, dataSlot(1040, {4, 1}).data()), 0);
    ASSERT_EQ(fifo_data_get(1, buf, 0, nullptr), 12);
    EXPECT_EQ(be_get32(buf), 1010u);
    EXPECT_EQ(be_get32(buf + 4), 1u);
    EXPECT_EQ(be_get32(buf + 8), 1u);
    // a gap drops the steps that can no longer be completed
    ASSERT_EQ(fifo_data_put(1, dataSlot(1100, {10, 7}).data()), 0);
    EXPECT_TRUE(drain(1).empty());
    for (uint32_t k = 1; k <= 3; ++k) ASSERT_EQ(fifo_data_put(1, dataSlot(1100 + 10 * k, {10 + k, 7}).data()), 0);
    EXPECT_EQ(drain(1), (std::vector<uint32_t>{1100}));
}

TEST_F(MeasFifo, DepthCoversTwiceTheLapTriggerDelay) {
    cal().DATADELAY = 1500;   // 1.5 s: 2 x 1.5 s of 100 ms records need 30 slots, 8 x 4 = 32 suffice
    MeasFifoDataRequest r = dataReq(2, 1, MEAS_RASTER_100MS);
    ASSERT_EQ(fifo_data_request(r), 0);
    EXPECT_TRUE(takeLogTexts().empty());
    r = dataReq(3, 1, MEAS_RASTER_1S);   // 2 x 4 slots of 1 s = 8 s > 3 s
    ASSERT_EQ(fifo_data_request(r), 0);
    cal().DATADELAY = 9000;   // 2 x 9 s against 2048 slots of 1 ms
    r = dataReq(4, 1, MEAS_RASTER_1MS);
    ASSERT_EQ(fifo_data_request(r), 0);
    auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "BLK #0, Fifo #4 was not deep enough for Laptrigger delay (2 x 9000 ms)"));
    EXPECT_TRUE(logged(log, "Old depth: 2048 for 2048 ms"));
    EXPECT_TRUE(logged(log, "New depth: 32768 for 32768 ms"));
    uint32_t depth = 0;
    ASSERT_TRUE(fifo_data_info(4, &depth, nullptr));
    EXPECT_EQ(depth, 32768u);
    // records younger than the delay stay
    now(55000);
    ASSERT_EQ(fifo_data_put(4, dataSlot(50000, {1}).data()), 0);
    int last = 0;
    EXPECT_EQ(drain(4, 1, &last), (std::vector<uint32_t>{}));
    EXPECT_EQ(last, MF_NOT_YET);
    now(50000 + 90001);
    EXPECT_EQ(drain(4, 1).size(), 1u);
    EXPECT_EQ(fifo_data_request(dataReq(5, 1, 13)), MF_ERR_RASTER);
    EXPECT_EQ(fifo_data_request(dataReq(5, 1, MEAS_RASTER_OFF)), MF_ERR_RASTER);
    MeasFifoDataRequest lat = dataReq(5, 1, MEAS_RASTER_SYNC);
    lat.latency[0] = 1;
    EXPECT_EQ(fifo_data_request(lat), MF_ERR_RASTER);
}

TEST_F(MeasFifo, TimeStampChecksAndFullFifo) {
    ASSERT_EQ(fifo_data_request(dataReq(6, 1, MEAS_RASTER_1S)), 0);
    uint32_t depth = 0;
    ASSERT_TRUE(fifo_data_info(6, &depth, nullptr));
    ASSERT_EQ(depth, 32u);
    now(1000000);
    EXPECT_EQ(fifo_data_put(6, dataSlot(1000000 + 2000, {1}).data()), MF_ERR_TS_INVALID);   // 0.2 s ahead
    now(905000);
    ASSERT_EQ(fifo_data_put(6, dataSlot(900000, {1}).data()), 0);
    ASSERT_EQ(fifo_data_put(6, dataSlot(900000, {2}).data()), 0);   // duplicate: dropped
    EXPECT_EQ(drain(6).size(), 1u);
    meas_fifo_signals().fifo_full_ctr = 0;
    for (uint32_t i = 1; i <= depth; ++i) ASSERT_EQ(fifo_data_put(6, dataSlot(900000 + i, {i}).data()), 0);
    EXPECT_EQ(fifo_data_put(6, dataSlot(900000 + depth + 1, {0}).data()), MF_ERR_FULL);
    uint32_t full = 0;
    ASSERT_TRUE(fifo_data_info(6, nullptr, &full));
    EXPECT_EQ(full, 1u);
    EXPECT_EQ(meas_fifo_signals().fifo_full_ctr, 1u);
    // the new errors are logged once a second and clear the FIFO status bit
    takeLogTexts();
    meas_fifo_data_syslog();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "New error BLK #0, Fifo #6"), 1);
    EXPECT_EQ(countContaining(log, "FullCnt 1, TS ErrCnt 1"), 1);
    meas_fifo_data_syslog();
    EXPECT_TRUE(takeLogTexts().empty());
    // the load of the 1 s class reached 100 %
    meas_fifo_data_update_load_vars();
    EXPECT_EQ(meas_fifo_signals().fifo_load_max[MEAS_RASTER_1S], 100);
    EXPECT_EQ(fifo_data_put(7, dataSlot(900000, {0}).data()), MF_ERR_FIFO_INVALID);
    EXPECT_EQ(fifo_data_get(6, nullptr, 0, nullptr), MF_ERR_MEM_DEST);
    EXPECT_EQ(fifo_data_release(6), 0);
    EXPECT_EQ(fifo_data_release(6), MF_ERR_NOT_SET_UP);
}

// A clock that went back: the records stamped before what the FIFO gave to
// the file would follow later ones there, so they are refused and counted,
// the line logged once for the run of them; records in time are taken
// again, and so are those stamped back for longer than a restart takes.
TEST_F(MeasFifo, StampsBeforeWhatWentToTheFileAreRefused) {
    for (bool latency : {false, true}) {
        SCOPED_TRACE(latency ? "latency" : "plain");
        MeasFifoDataRequest r = dataReq(8, 2);
        if (latency) r.latency[1] = 1;
        ASSERT_EQ(fifo_data_request(r), 0);
        now(191000);
        for (uint32_t k = 0; k < 3; ++k) ASSERT_EQ(fifo_data_put(8, dataSlot(190000 + 10 * k, {k, k}).data()), 0);
        std::vector<uint32_t> out = drain(8);
        ASSERT_FALSE(out.empty());
        takeLogTexts();
        for (uint32_t k = 0; k < 5; ++k)
            EXPECT_EQ(fifo_data_put(8, dataSlot(185000 + 10 * k, {9, 9}).data()), MF_ERR_TS_INVALID) << k;
        EXPECT_EQ(countContaining(takeLogTexts(), "TS-Err BLK #0, Fifo #8"), 1);
        for (uint32_t k = 3; k < 6; ++k) ASSERT_EQ(fifo_data_put(8, dataSlot(190000 + 10 * k, {k, k}).data()), 0);
        for (uint32_t t : drain(8)) out.push_back(t);
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_GE(out[i], 190000u);
            if (i) {
                EXPECT_EQ(out[i] - out[i - 1], 10u);
            }
        }
        meas_fifo_data_syslog();
        EXPECT_EQ(countContaining(takeLogTexts(), "TS ErrCnt 5"), 1);

        // stamped back for more than 3 s with no restart of the measurement:
        // a source whose own clock started over runs on a time base of its
        // own, whose values never set the measurement's time
        EXPECT_EQ(fifo_data_put(8, dataSlot(100000, {9, 9}).data()), MF_ERR_TS_FOREIGN);
        now(200000 + 29000);
        EXPECT_EQ(fifo_data_put(8, dataSlot(100010, {9, 9}).data()), MF_ERR_TS_FOREIGN);
        now(200000 + 31000);
        EXPECT_EQ(fifo_data_put(8, dataSlot(100020, {9, 9}).data()), MF_ERR_TS_FOREIGN);
        EXPECT_EQ(countContaining(takeLogTexts(), "taken as their source's new time"), 0);
        EXPECT_TRUE(drain(8).empty());
        ASSERT_EQ(fifo_data_release(8), 0);
    }
}

// A stamp more than a second from this device's time, either way, is of
// another time base (its source follows another time master, or none): it
// is refused from the first record on, so that it never sets the
// measurement's time, and counted; the logging application names the source
// once, so it is no new error of the FIFO to log every second.
TEST_F(MeasFifo, StampsOfAnotherTimeBaseAreRefusedEitherWayAndCountedQuietly) {
    ASSERT_EQ(fifo_data_request(dataReq(9, 1)), 0);
    now(20000000);
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 - 10001, {1}).data()), MF_ERR_TS_FOREIGN);
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 - 10000000, {1}).data()), MF_ERR_TS_FOREIGN);   // 1000 s behind
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 40000000, {1}).data()), MF_ERR_TS_FOREIGN);   // 4000 s ahead
    takeLogTexts();
    meas_fifo_data_syslog();
    EXPECT_EQ(countContaining(takeLogTexts(), "New error"), 0);
    EXPECT_TRUE(drain(9).empty());
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 - 9000, {2}).data()), 0);   // 0.9 s late: this time
    EXPECT_EQ(drain(9), (std::vector<uint32_t>{20000000 - 9000}));
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 2000, {1}).data()), MF_ERR_TS_INVALID);   // 0.2 s ahead
    meas_fifo_data_syslog();
    EXPECT_EQ(countContaining(takeLogTexts(), "New error BLK #0, Fifo #9, PID 0x0, Raster 0, type 'NO_LATENCY': "
                                              "FullCnt 0, TS ErrCnt 4"),
              1);
}

// Records that come more than a second late are of this device's time when
// they go on from the last one their block took, a few seconds ago at most,
// the while this device stood still not counted (this device, or their
// source, was put aside for a while, and what waited may catch up slowly):
// taken, in order. One stamped before that last one, or after a longer
// silence of its source, is of another time base. The device's own values are of its own time whatever
// their stamps: late ones are taken, and none is of another time base.
TEST_F(MeasFifo, LateRecordsThatGoOnFromTheLastOneAreNoOtherTimeBase) {
    MeasFifoDataRequest r = dataReq(9, 1);
    r.pid = uint16_t(app_pid + 1);
    ASSERT_EQ(fifo_data_request(r), 0);
    now(20000000);
    ASSERT_EQ(fifo_data_put(9, dataSlot(20000000, {1}).data()), 0);
    now(20000000 + 25000);   // 2.5 s put aside
    for (uint32_t k = 1; k <= 25; ++k) EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 1000 * k, {k}).data()), 0) << k;
    EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 500, {0}).data()), MF_ERR_TS_FOREIGN);   // before the last one
    std::vector<uint32_t> want{20000000};
    for (uint32_t k = 1; k <= 25; ++k) want.push_back(20000000 + 1000 * k);
    EXPECT_EQ(drain(9), want);
    // what waited at the source through a long stall catches up slowly,
    // while this device runs: its records stay 1.5 s late for 6.4 s, each
    // going on from the one before
    for (uint32_t k = 1; k <= 80; ++k) {
        runTo(20000000 + 40000 + 800 * k);
        EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 25000 + 800 * k, {k}).data()), 0) << k;
    }
    EXPECT_EQ(drain(9).size(), 80u);
    // this device stood still for 8 s (its logging raster did not tick):
    // what its source sent meanwhile comes as late, before the raster ticks
    // again and after
    live(20104000 + 80000);
    EXPECT_EQ(fifo_data_put(9, dataSlot(20089000 + 10, {1}).data()), 0);
    now(20104000 + 80010);
    EXPECT_EQ(fifo_data_put(9, dataSlot(20089000 + 20, {1}).data()), 0);
    EXPECT_EQ(drain(9).size(), 2u);
    runTo(20184010 + 600000);   // silent for a minute while this device ran
    EXPECT_EQ(fifo_data_put(9, dataSlot(20089000 + 30, {1}).data()), MF_ERR_TS_FOREIGN);
    ASSERT_EQ(fifo_data_release(9), 0);

    r.pid = app_pid;
    ASSERT_EQ(fifo_data_request(r), 0);
    EXPECT_EQ(fifo_data_put(9, dataSlot(20089000 + 30, {1}).data()), 0);   // a minute late
    EXPECT_EQ(drain(9), (std::vector<uint32_t>{20089000 + 30}));
    EXPECT_EQ(fifo_data_put(9, dataSlot(20784010 + 40000, {1}).data()), MF_ERR_TS_INVALID);   // 4 s ahead
    EXPECT_TRUE(drain(9).empty());
}

// A source that stalls for just under 5 s, a period after its block's last
// record went out: the record it took before the stall comes 4.95 s late,
// 5.05 s after that last one; its silence counts from when that record was
// due, so it is no other time base. A silence longer by a period more is.
TEST_F(MeasFifo, ARecordHeldThroughAStallJustUnderFiveSecondsCameLate) {
    MeasFifoDataRequest r = dataReq(9, 1, MEAS_RASTER_100MS);
    r.pid = uint16_t(app_pid + 1);
    for (uint32_t stall : {49500u, 51200u}) {
        SCOPED_TRACE(stall);
        ASSERT_EQ(fifo_data_request(r), 0);
        now(20000000);
        ASSERT_EQ(fifo_data_put(9, dataSlot(20000000, {1}).data()), 0);
        runTo(20000000 + 1000 + stall);
        const int want = stall < 50000 ? 0 : MF_ERR_TS_FOREIGN;
        EXPECT_EQ(fifo_data_put(9, dataSlot(20000000 + 1000, {2}).data()), want);
        EXPECT_EQ(drain(9).size(), want == 0 ? 2u : 1u);
        ASSERT_EQ(fifo_data_release(9), 0);
    }
}

// A record that comes late while the later ones still wait in the FIFO is
// sorted in among them, across the wrap of the stamps too; one that comes
// after its place went to the file is refused. A stamp already in the FIFO
// is the same sample again.
TEST_F(MeasFifo, ALateRecordWhosePlaceIsStillInTheFifoIsSortedIn) {
    for (uint32_t base : {499800u, 0xFFFFFF38u}) {
        SCOPED_TRACE(base);
        ASSERT_EQ(fifo_data_request(dataReq(9, 1)), 0);
        now(base + 1000);
        ASSERT_EQ(fifo_data_put(9, dataSlot(base, {1}).data()), 0);
        ASSERT_EQ(fifo_data_put(9, dataSlot(base + 100, {3}).data()), 0);
        takeLogTexts();
        EXPECT_EQ(fifo_data_put(9, dataSlot(base + 50, {2}).data()), 0);
        EXPECT_EQ(fifo_data_put(9, dataSlot(base + 50, {7}).data()), 0);   // again: dropped
        EXPECT_EQ(fifo_data_put(9, dataSlot(base - 10, {0}).data()), 0);   // before all that wait
        EXPECT_EQ(countContaining(takeLogTexts(), "TS-Err"), 0);
        uint8_t buf[64];
        std::vector<std::pair<uint32_t, uint32_t>> got;
        while (fifo_data_get(9, buf, 0, nullptr) > 0) got.emplace_back(be_get32(buf), be_get32(buf + 4));
        EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{
                           {base - 10, 0}, {base, 1}, {base + 50, 2}, {base + 100, 3}}));
        // what went to the file ends at base + 100: a record before it comes too late
        EXPECT_EQ(fifo_data_put(9, dataSlot(base + 90, {9}).data()), MF_ERR_TS_INVALID);
        EXPECT_EQ(fifo_data_put(9, dataSlot(base + 100, {9}).data()), 0);   // the same sample again
        EXPECT_EQ(countContaining(takeLogTexts(), "TS-Err BLK #0, Fifo #9"), 1);
        ASSERT_EQ(fifo_data_put(9, dataSlot(base + 110, {4}).data()), 0);
        EXPECT_EQ(drain(9), (std::vector<uint32_t>{base + 110}));
        ASSERT_EQ(fifo_data_release(9), 0);
    }
}

// The logging raster takes records while a source puts them, late ones
// among them: whatever the FIFO took reaches the file once, in time order.
TEST_F(MeasFifo, LateRecordsAndAConcurrentReaderKeepTheFileInTimeOrder) {
    ASSERT_EQ(fifo_data_request(dataReq(12, 1)), 0);
    now(2000000);
    constexpr uint32_t kSteps = 3000;
    std::atomic<bool> done{false};
    std::vector<uint32_t> taken;
    std::thread source([&] {
        for (uint32_t k = 1; k <= kSteps; ++k) {
            const uint32_t t = 2000000 - 2 * kSteps + 2 * k;
            for (uint32_t s : {t, t - 1}) {   // every second record comes late
                int r;
                while ((r = fifo_data_put(12, dataSlot(s, {s}).data())) == MF_ERR_FULL) std::this_thread::yield();
                if (r == 0) taken.push_back(s);
            }
        }
        done = true;
    });
    std::vector<uint32_t> delivered;
    uint8_t buf[64];
    for (;;) {
        const bool last = done.load();
        int r;
        while ((r = fifo_data_get(12, buf, 0, nullptr)) > 0) {
            ASSERT_EQ(be_get32(buf), be_get32(buf + 4));
            delivered.push_back(be_get32(buf));
        }
        if (last) break;
        std::this_thread::yield();
    }
    source.join();
    for (size_t i = 1; i < delivered.size(); ++i) ASSERT_LT(delivered[i - 1], delivered[i]) << i;
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(delivered, taken);
    EXPECT_GE(taken.size(), size_t(kSteps));
}

// A measurement that stops while its blocks still deliver: every raster puts
// into FIFOs that are gone at once, and the refusals are counted among them.
TEST_F(MeasFifo, PutsIntoAFifoThatIsGoneFromManyRastersAtOnce) {
    constexpr int kPuts = 3000;
    auto putMany = [](unsigned n) {
        for (int k = 0; k < kPuts; ++k) ASSERT_EQ(fifo_data_put(n, dataSlot(1000, {1}).data()), MF_ERR_FIFO_INVALID);
    };
    takeLogTexts();
    std::thread a(putMany, 12), b(putMany, 13);
    a.join();
    b.join();
    // 6000 refusals pass a thousand six times, whatever the count before
    EXPECT_EQ(countContaining(takeLogTexts(), "fifo_data_put, tried to access invalid fifo"), 6);
}

// The logging raster held off its CPU leaves the data time behind the live
// clock: the records taken meanwhile are not from the future and wait in the
// FIFO; only a FIFO that fills drops, and counts it.
TEST_F(MeasFifo, ALateReaderLosesNothingWhileTheFifoHasRoom) {
    ASSERT_EQ(fifo_data_request(dataReq(10, 1, MEAS_RASTER_1MS)), 0);
    ASSERT_EQ(fifo_data_request(dataReq(11, 1, MEAS_RASTER_1S)), 0);
    uint32_t depth = 0;
    ASSERT_TRUE(fifo_data_info(11, &depth, nullptr));
    now(0xFFFFF000u);   // the data time is about to wrap
    const uint32_t held = 0xFFFFF000u;
    live(held + 3000);   // 300 ms later, and the raster has not run since
    for (uint32_t k = 1; k <= 300; ++k) ASSERT_EQ(fifo_data_put(10, dataSlot(held + 10 * k, {k}).data()), 0) << k;
    EXPECT_EQ(fifo_data_put(10, dataSlot(held + 3000 + 2000, {0}).data()), MF_ERR_TS_INVALID);   // 0.2 s ahead of the clock
    // a 1 s block held back long enough fills its FIFO
    for (uint32_t k = 1; k <= depth; ++k) {
        live(held + 10000 * k);
        ASSERT_EQ(fifo_data_put(11, dataSlot(held + 10000 * k, {k}).data()), 0) << k;
    }
    live(held + 10000 * (depth + 1));
    EXPECT_EQ(fifo_data_put(11, dataSlot(held + 10000 * (depth + 1), {0}).data()), MF_ERR_FULL);

    now(held + 10000 * (depth + 1));   // the raster runs again
    std::vector<uint32_t> got = drain(10);
    ASSERT_EQ(got.size(), 300u);
    for (uint32_t k = 1; k <= 300; ++k) EXPECT_EQ(got[k - 1], held + 10 * k);
    EXPECT_EQ(drain(11).size(), depth);
    takeLogTexts();
    meas_fifo_data_syslog();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "New error BLK #0, Fifo #10, PID 0x0, Raster 0, type 'NO_LATENCY': FullCnt 0, TS ErrCnt 1"), 1);
    EXPECT_EQ(countContaining(log, "New error BLK #0, Fifo #11, PID 0x0, Raster 9, type 'NO_LATENCY': FullCnt 1, TS ErrCnt 0"), 1);
}

// A block whose grid passes the last stamp before the wrap has a record
// there like anywhere else: the FIFO gives it, in order, plain or aligned
// by latency, and the latency FIFO's steps after it go on from it.
TEST_F(MeasFifo, TheRecordAtTheLastStampBeforeTheWrapIsGiven) {
    MeasFifoDataRequest aligned = dataReq(14, 2);
    aligned.latency[1] = 2;
    ASSERT_EQ(fifo_data_request(dataReq(13, 1)), 0);
    ASSERT_EQ(fifo_data_request(aligned), 0);
    const uint32_t last = 0xFFFFFFFFu;
    now(last - 100);
    std::vector<uint32_t> grid;
    for (uint32_t t = last - 40; t != last + 60; t += 10) grid.push_back(t);   // to 49, across the wrap
    for (uint32_t t : grid) {
        live(t);
        ASSERT_EQ(fifo_data_put(13, dataSlot(t, {t}).data()), 0) << t;
        ASSERT_EQ(fifo_data_put(14, dataSlot(t, {t, t}).data()), 0) << t;
    }
    now(grid.back());
    EXPECT_EQ(drain(13), grid);
    // the latency FIFO gives each step once its late element came
    EXPECT_EQ(drain(14), std::vector<uint32_t>(grid.begin(), grid.end() - 2));
    takeLogTexts();
    meas_fifo_data_syslog();
    EXPECT_EQ(countContaining(takeLogTexts(), "New error"), 0);   // no step out of turn
}

// The reader held while its block goes on: the full FIFO refuses records,
// and the once-a-second report names the stretch refused since the last
// one, with its count and stamps (the stamps wrap within it); the release
// names the rest. Each refused record is named once.
TEST_F(MeasFifo, AFullFifoNamesEveryStretchItRefused) {
    ASSERT_EQ(fifo_data_request(dataReq(12, 1, MEAS_RASTER_1MS)), 0);
    uint32_t depth = 0;
    ASSERT_TRUE(fifo_data_info(12, &depth, nullptr));
    const uint32_t start = 0xFFFFFFF0u - 10 * (depth + 1);
    now(start);
    uint32_t t = start;
    auto put = [&](int want) {
        t += 10;
        live(t);
        EXPECT_EQ(fifo_data_put(12, dataSlot(t, {t}).data()), want) << t;
    };
    for (uint32_t k = 0; k < depth; ++k) put(0);
    for (int k = 0; k < 5; ++k) put(MF_ERR_FULL);   // 4294967280 to 24
    takeLogTexts();
    meas_fifo_data_syslog();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "New error BLK #0, Fifo #12, PID 0x0, Raster 0, type 'NO_LATENCY': FullCnt 5, "
                                   "TS ErrCnt 0, LastTS 4294967270 CurTs"), 1);
    EXPECT_EQ(countContaining(log, "BLK #0, Fifo #12, PID 0x0, Raster 0: 5 records lost, time stamps 4294967280 to "
                                   "24: the FIFO was full"), 1);
    // the reader takes two, two more go in, then three are refused
    now(t);
    uint8_t buf[64];
    ASSERT_GT(fifo_data_get(12, buf, 0, nullptr), 0);
    ASSERT_GT(fifo_data_get(12, buf, 0, nullptr), 0);
    put(0);
    put(0);
    for (int k = 0; k < 3; ++k) put(MF_ERR_FULL);   // 54 to 74
    meas_fifo_data_syslog();
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "records lost"), 1);
    EXPECT_EQ(countContaining(log, "Raster 0: 3 records lost, time stamps 54 to 74: the FIFO was full"), 1);
    meas_fifo_data_syslog();
    EXPECT_TRUE(takeLogTexts().empty());
    put(MF_ERR_FULL);
    EXPECT_EQ(fifo_data_release(12), 0);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "Raster 0: 1 records lost, time stamps 84 to 84: the FIFO was full"), 1);
}

TEST_F(MeasFifo, ALateReaderKeepsTheConditionHistory) {
    ASSERT_EQ(fifo_condition_request(condReq(2)), 0);
    const uint32_t held = 500000;
    now(held);
    live(held + 3000);
    for (uint32_t t = held + 50; t <= held + 3000; t += 50)
        ASSERT_EQ(fifo_condition_put(2, condSlot(t, t >= held + 2000).data()), 0) << t;
    EXPECT_EQ(fifo_condition_put(2, condSlot(held + 3000 + 2000, 1).data()), MF_ERR_TS_INVALID);
    now(held + 3000);
    EXPECT_EQ(fifo_condition_check(2, held + 1500), COND_FALSE);
    EXPECT_EQ(fifo_condition_check(2, held + 1900), COND_TRANSITION);
    EXPECT_EQ(fifo_condition_check(2, held + 2500), COND_TRUE);
}

TEST_F(MeasFifo, RecordsWaitForTheirCondition) {
    ASSERT_EQ(fifo_condition_request(condReq(0)), 0);
    MeasFifoDataRequest r = dataReq(8, 1);
    r.condFifoPlus1 = 1;
    r.mult[0] = 10;   // 10 ms while false
    r.mult[1] = 1;    // every 1 ms while true
    ASSERT_EQ(fifo_data_request(r), 0);
    now(100600);
    for (uint32_t t = 100000; t <= 100500; t += 50) ASSERT_EQ(fifo_condition_put(0, condSlot(t, 0).data()), 0);
    for (uint32_t t = 100000; t < 101000; t += 10) ASSERT_EQ(fifo_data_put(8, dataSlot(t, {t}).data()), 0);
    // known false up to 100500: one record per 10 ms; the rest waits
    int last = 0;
    EXPECT_EQ(drain(8, 0, &last), (std::vector<uint32_t>{100000, 100100, 100200, 100300, 100400, 100500}));
    EXPECT_EQ(last, MF_WAIT_COND);
    // true from 100550: the waiting records are all kept
    now(101000);
    for (uint32_t t = 100550; t <= 101000; t += 50) ASSERT_EQ(fifo_condition_put(0, condSlot(t, 1).data()), 0);
    std::vector<uint32_t> rest = drain(8, 0, &last);
    ASSERT_EQ(rest.size(), 49u);
    EXPECT_EQ(rest.front(), 100510u);
    EXPECT_EQ(last, MF_NOTHING);
}

TEST_F(MeasFifo, ThinningByConditionState) {
    ASSERT_EQ(fifo_condition_request(condReq(1)), 0);
    MeasFifoDataRequest r = dataReq(9, 1);
    r.condFifoPlus1 = 2;
    r.mult[0] = 10;
    r.mult[1] = 1;
    ASSERT_EQ(fifo_data_request(r), 0);
    fifo_cond_set_curr_ts(102000);
    for (uint32_t t = 100000; t <= 102000; t += 50) ASSERT_EQ(fifo_condition_put(1, condSlot(t, t >= 101000).data()), 0);
    now(101990);
    for (uint32_t t = 100000; t < 102000; t += 10) ASSERT_EQ(fifo_data_put(9, dataSlot(t, {t}).data()), 0);
    std::vector<uint32_t> got = drain(9);
    // while false one record per 10 ms, in the transition zone and while true every one
    std::vector<uint32_t> expect;
    for (uint32_t t = 100000; t < 102000; t += 10)
        if (t >= 101000 - 200 || t % 100 == 0) expect.push_back(t);
    EXPECT_EQ(got, expect);
}

// The time went back 0.12 s (the time service noted it): the FIFOs set up
// before hold the old time's records and take none put after the step,
// however they are stamped: those of the new time would lie among the old
// ones (or after them, once the new time passes the old) in the old time's
// file. What they hold comes out at once, in order; what they refused is
// counted and named at their release, lowest stamp to highest whatever the
// order they came in. FIFOs set up after the step take the
// new time. An own record stamped back is such a step too, found before the
// time service notes it.
TEST_F(MeasFifo, AfterAStepBackTheOldTimesFifosTakeNoRecordAndNameThoseRefused) {
    for (bool noted : {true, false}) {
        SCOPED_TRACE(noted ? "noted by the time service" : "found by an own record");
        MeasFifoDataRequest own = dataReq(13, 1, MEAS_RASTER_2MS), peer = dataReq(14, 1, MEAS_RASTER_1S);
        own.pid = app_pid;
        peer.pid = uint16_t(app_pid + 1);
        ASSERT_EQ(fifo_data_request(own), 0);
        ASSERT_EQ(fifo_data_request(peer), 0);
        now(500000);
        std::vector<uint32_t> old;
        for (uint32_t t = 499020; t <= 500000; t += 20) {
            ASSERT_EQ(fifo_data_put(13, dataSlot(t, {t}).data()), 0);
            old.push_back(t);
        }
        ASSERT_EQ(fifo_data_put(14, dataSlot(495000, {1}).data()), 0);
        const uint32_t before = fifo_data_steps_back();
        takeLogTexts();
        now(500000 - 1200 + 10);
        if (noted) {
            time_stepResetForTest();
            time_stepNote(500000, 70000);
            time_stepNote(500000 - 1200 + 10, 70010);
        }
        EXPECT_EQ(fifo_data_put(13, dataSlot(498810, {1}).data()), MF_ERR_TS_INVALID);
        EXPECT_NE(fifo_data_steps_back(), before);
        EXPECT_EQ(fifo_data_put(14, dataSlot(498800, {2}).data()), MF_ERR_TS_INVALID);
        now(500000 + 1000);   // the new time past the old one's last record
        EXPECT_EQ(fifo_data_put(13, dataSlot(500000 + 1000, {3}).data()), MF_ERR_TS_INVALID);
        EXPECT_EQ(fifo_data_put(14, dataSlot(500000 + 1000, {4}).data()), MF_ERR_TS_INVALID);
        EXPECT_EQ(fifo_data_put(13, dataSlot(498805, {6}).data()), MF_ERR_TS_INVALID);   // late, below the first
        now(498820);   // the old time's records come out though the data time lies before them
        EXPECT_EQ(drain(13), old);
        EXPECT_EQ(drain(14), (std::vector<uint32_t>{495000}));
        EXPECT_EQ(countContaining(takeLogTexts(), "TS-Err"), 0);
        ASSERT_EQ(fifo_data_release(13), 0);
        ASSERT_EQ(fifo_data_release(14), 0);
        auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, "BLK #0, Fifo #13, PID 0x1: 3 records put after the time went back (stamped "
                                       "498805 to 501000) not recorded"),
                  1);
        EXPECT_EQ(countContaining(log, "BLK #0, Fifo #14, PID 0x2: 2 records put after the time went back"), 1);
        // set up in the new time
        ASSERT_EQ(fifo_data_request(own), 0);
        EXPECT_EQ(fifo_data_put(13, dataSlot(498830, {5}).data()), 0);
        now(498840);
        EXPECT_EQ(drain(13), (std::vector<uint32_t>{498830}));
        ASSERT_EQ(fifo_data_release(13), 0);
        EXPECT_EQ(countContaining(takeLogTexts(), "went back"), 0);
    }
}

// The time master (PID 2) runs anew 0.4 s behind: this device hears its
// first message some 0.5 s before its own time steps back onto the new one.
// Meanwhile the master's records of its new run, stamped a little behind,
// would pass for records of this time; the FIFOs of this time (those set up
// before and after the news alike) refuse them, counted and named, while
// another source's go on. After the step FIFOs of the new time take them;
// after a lock that took no step (the same clock) the old FIFOs take them
// again.
TEST_F(MeasFifo, TheTimeMastersNewRunStaysOutOfTheOldTimesFifos) {
    for (bool stepsBack : {true, false}) {
        SCOPED_TRACE(stepsBack ? "the time steps back onto the new run" : "the new run is on the same clock");
        MeasFifoDataRequest master = dataReq(9, 1, MEAS_RASTER_10MS), other = dataReq(10, 1, MEAS_RASTER_10MS);
        master.pid = 2;
        other.pid = 5;
        ASSERT_EQ(fifo_data_request(master), 0);
        ASSERT_EQ(fifo_data_request(other), 0);
        now(500000);
        ASSERT_EQ(fifo_data_put(9, dataSlot(499900, {1}).data()), 0);
        ASSERT_EQ(fifo_data_put(10, dataSlot(499900, {1}).data()), 0);
        takeLogTexts();
        fifo_data_master_runs_anew(2);
        runTo(500500);
        EXPECT_EQ(fifo_data_put(9, dataSlot(496100, {2}).data()), MF_ERR_TS_INVALID);
        EXPECT_EQ(fifo_data_put(9, dataSlot(496000, {3}).data()), MF_ERR_TS_INVALID);
        EXPECT_EQ(fifo_data_put(10, dataSlot(500400, {2}).data()), 0);
        MeasFifoDataRequest later = master;   // set up after the news, before the step
        later.fifoNum = 11;
        ASSERT_EQ(fifo_data_request(later), 0);
        EXPECT_EQ(fifo_data_put(11, dataSlot(496200, {4}).data()), MF_ERR_TS_INVALID);
        if (stepsBack) {
            time_stepResetForTest();
            time_stepNote(500500, 70000);
            time_stepNote(496300, 70010);
            now(496300);
            EXPECT_EQ(fifo_data_put(9, dataSlot(496300, {5}).data()), MF_ERR_TS_INVALID);
        } else {
            host::restartTimeLock();   // a core that never locked: locked with no step back
            host::setTimeNextGap(host::timeStamp() + 1000);
            runTo(500600);
            EXPECT_EQ(fifo_data_put(9, dataSlot(500600, {5}).data()), 0);
        }
        const std::vector<uint32_t> taken = stepsBack ? std::vector<uint32_t>{499900} : std::vector<uint32_t>{499900, 500600};
        EXPECT_EQ(drain(9), taken);
        EXPECT_EQ(drain(10), (std::vector<uint32_t>{499900, 500400}));
        ASSERT_EQ(fifo_data_release(9), 0);
        ASSERT_EQ(fifo_data_release(10), 0);
        ASSERT_EQ(fifo_data_release(11), 0);
        auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, "BLK #0, Fifo #9, PID 0x2: 2 records of the time master's new run lost, time "
                                       "stamps 496000 to 496100:"),
                  1);
        EXPECT_EQ(countContaining(log, "BLK #0, Fifo #11, PID 0x2: 1 records of the time master's new run"), 1);
        EXPECT_EQ(countContaining(log, "Fifo #10"), 0);
        // set up in the time that follows the new run
        ASSERT_EQ(fifo_data_request(master), 0);
        EXPECT_EQ(fifo_data_put(9, dataSlot(cur, {6}).data()), 0);
        ASSERT_EQ(fifo_data_release(9), 0);
    }
}

// The device network hears the master's new run first, and its values may
// come before its first time message: the hold begins then. Once the time
// message comes, the hold lasts until the time follows, however long; a new
// run whose time never comes is held five seconds, then named and taken
// again (the network's news alone must not shut the master out for good).
TEST_F(MeasFifo, TheMastersNewRunHeardOnTheNetworkIsHeldUntilItsTimeComes) {
    MeasFifoDataRequest master = dataReq(9, 1, MEAS_RASTER_10MS);
    master.pid = 2;
    ASSERT_EQ(fifo_data_request(master), 0);
    now(500000);
    ASSERT_EQ(fifo_data_put(9, dataSlot(499900, {1}).data()), 0);
    takeLogTexts();

    fifo_data_master_restarts(2);
    EXPECT_TRUE(fifo_data_of_masters_new_run(2));
    EXPECT_FALSE(fifo_data_of_masters_new_run(5));
    EXPECT_EQ(fifo_data_put(9, dataSlot(497000, {2}).data()), MF_ERR_TS_INVALID);
    fifo_data_master_runs_anew(2);   // its time message: now it waits for the time to follow
    runTo(560000);
    EXPECT_EQ(fifo_data_put(9, dataSlot(557000, {3}).data()), MF_ERR_TS_INVALID);
    fifo_data_master_restarts(2);    // its presence after its time message changes nothing
    host::restartTimeLock();         // a core that never locked: locked with no step back
    host::setTimeNextGap(host::timeStamp() + 1000);
    runTo(560100);
    EXPECT_FALSE(fifo_data_of_masters_new_run(2));
    EXPECT_EQ(fifo_data_put(9, dataSlot(560100, {4}).data()), 0);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "none from its time"), 0);
    EXPECT_EQ(countContaining(log, "2 records of the time master's new run lost, time stamps 497000 to 557000"), 1);

    // heard on the network alone
    fifo_data_master_restarts(2);
    runTo(560100 + 49000);
    EXPECT_EQ(fifo_data_put(9, dataSlot(560100 + 46000, {5}).data()), MF_ERR_TS_INVALID);
    runTo(560100 + 51000);
    EXPECT_EQ(fifo_data_put(9, dataSlot(560100 + 51000, {6}).data()), 0);
    EXPECT_FALSE(fifo_data_of_masters_new_run(2));
    EXPECT_EQ(drain(9), (std::vector<uint32_t>{499900, 560100, 611100}));
    ASSERT_EQ(fifo_data_release(9), 0);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "time master PID 0x2: a new run heard on the device network, none from its time "
                                   "within 5000 ms"),
              1);
    EXPECT_EQ(countContaining(log, "1 records of the time master's new run lost"), 1);
}
