// The pretrigger at its edges: a measurement going away while actions still
// arrive, and an arm on the far side of the wrap of the 0.1 ms counter.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "host/kernel/kernel.h"
#include "platform/timebase.h"
#include "store_fixture.h"

using namespace measure::store;

namespace {

class PretriggerEdges : public StoreTest {
protected:
    void TearDown() override {
        StoreTest::TearDown();
        host::setTimeStampOffset(0);
    }
    std::set<uint32_t> storedTimeStamps(uint8_t block) {
        std::set<uint32_t> ts;
        for (auto& [name, bytes] : files("meas")) {
            MeasFileContent c;
            std::string err;
            EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
            for (auto& r : c.records)
                if (r.blockId == block) ts.insert(r.timeStamp);
        }
        return ts;
    }
};

}  // namespace

// Handing the ring over and passing through from then on is one step: an
// action put in between would stay in a ring that nobody empties any more,
// and the drain would wait for it in vain.
TEST_F(PretriggerEdges, PassingOnLeavesNothingInTheRingWhileActionsArrive) {
    configure(2.5f);
    Pretrigger* p = pretrigger();
    std::atomic<bool> stop{false};
    std::vector<std::thread> putters;
    for (int k = 0; k < 3; ++k)
        putters.emplace_back([&] {
            while (!stop.load()) p->flushDir();
        });
    unsigned leftBehind = 0;
    for (int i = 0; i < 20000 && leftBehind == 0; ++i) {
        p->setState(PRETRIG_BUFFERING);
        p->passOn();
        if (!p->ringEmpty()) ++leftBehind;
    }
    stop = true;
    for (auto& t : putters) t.join();
    EXPECT_EQ(leftBehind, 0u);
}

// The 0.1 ms counter wraps after 4.97 days. Records stamped before an arm that
// comes just after the wrap are still the triggered part: they reach the file,
// those stamped after the arm stay in the ring.
TEST_F(PretriggerEdges, RecordsStampedBeforeAnArmAcrossTheWrapReachTheFile) {
    host::setTimeStampOffset(0);
    host::setTimeStampOffset(uint32_t(0 - 3000u) - host::timeStamp());   // 0.3 s before the wrap
    configure(2.5f);
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_FLUSHED; }, 2000));
    const uint32_t before = time_getTimestamp() - 5000;
    for (uint32_t n = 0; n < 20; ++n) feed(0, before + n * 10);
    ASSERT_TRUE(waitFor([] { return time_getTimestamp() < 0x80000000u; }, 2000));
    meas_app_PreTrigArm(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return pretrigger()->state() == PRETRIG_BUFFERING; }, 2000));
    ASSERT_NE(pretrigger()->armTime(), 0u);
    for (uint32_t n = 20; n < 30; ++n) feed(0, before + n * 10);   // drained late
    const uint32_t after = time_getTimestamp() + 10;
    for (uint32_t n = 0; n < 10; ++n) feed(0, after + n * 10);
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    meas_app_PreTrigMeasStop(0);
    ASSERT_TRUE(waitFor([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, 5000));
    stopStore();

    const auto got = storedTimeStamps(1);
    for (auto& r : fed[1]) {
        const bool beforeArm = int32_t(r.ts - after) < 0;
        EXPECT_EQ(got.count(r.ts), beforeArm ? 1u : 0u) << "record at " << r.ts;
    }
}

// A buffering pretrigger keeps an event's close (its open may be in the file
// from an earlier window), but not the close of an open that aged out of
// the ring: that one would stand in the file without its open.
TEST_F(PretriggerEdges, AnEventsCloseGoesWithItsOpenOutOfTheRing) {
    configure(2.5f);
    const uint32_t t = time_getTimestamp() - 20000;
    feed(0, t);
    const auto event = [](uint32_t id, uint32_t start, uint32_t duration) {
        uint8_t b[24] = {0, 1, 0, 1};
        be_put32(b + 4, id);
        be_put32(b + 8, start);
        be_put32(b + 12, duration);
        be_put16(b + 18, 3);
        return std::vector<uint8_t>(b, b + sizeof b);
    };
    const auto put = [&](const std::vector<uint8_t>& b, uint32_t ts) {
        meas_app_PreTrigPutMetaDataCopy(meas[0].store, b.data(), uint32_t(b.size()), ts, 6);
    };
    put(event(7, t + 10, 0xFFFFFFFFu), t + 10);
    pretrigger()->flushUntil(t + 20);   // the open ages out
    put(event(7, t + 10, 500), t + 510);
    put(event(8, t + 20, 600), t + 620);   // its open went with an earlier window
    pretrigger()->measStop();
    pretrigger()->setState(PRETRIG_PASS);   // a record that reaches the file, with the events before it
    feed(0, t + 700);
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    meas_app_PreTrigMeasStop(0);
    ASSERT_TRUE(waitFor([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, 5000));
    stopStore();
    std::vector<uint32_t> ids;
    for (auto& [name, bytes] : files("meas")) {
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        for (auto& m : c.metas)
            if (m.type == 6 && m.payload.size() >= 8) ids.push_back(be_get32(m.payload.data() + 4));
    }
    EXPECT_EQ(ids, std::vector<uint32_t>{8u});
}
