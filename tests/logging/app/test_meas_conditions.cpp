// Evaluation of the global start conditions on records placed in the
// condition blocks' buffers, without a gateway.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "logging/app/meas_app.h"
#include "logging/app/meas_app_internal.h"
#include "logging/logging_fixture.h"
#include "measurement/signalpage.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"

namespace {

class MeasConditions : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        cfg = meas_app_alloc_MEASConfiguration();
        m.config = cfg;
        // the locks of a measurement stay for the life of the process
        if (!m.condLock) m.condLock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        m.stateFlags = 1 | 2;   // configured, waiting
    }
    void TearDown() override {
        meas_app_condlist[0] = nullptr;
        for (auto& b : blocks) std::free(b.condBuffer);
        meas_app_free_MEASConfiguration(cfg);
        meas_clearKeepingLocks(m);
        LoggingTest::TearDown();
    }
    // A COND block for condition bit with a value of `size` bytes.
    void addCondition(unsigned bit, unsigned size) {
        blocks.push_back(MeasBlock{});
        chanSizes.push_back(BlkInfo{});
        chanSizes.back().chanSizes[0] = uint8_t(size);
        bits.push_back(bit);
        cfg->globalStartMask |= uint64_t(1) << bit;
    }
    void link() {
        for (size_t i = 0; i < blocks.size(); ++i) {
            MeasBlock& b = blocks[i];
            b.owner = &m;
            b.config = &chanSizes[i];
            b.ownCondBit = uint64_t(1) << bits[i];
            b.condBuffer = std::calloc(1, 8);
            b.condState = 0x80;
            b.typeFlags = MEAS_BLK_COND;
        }
        for (auto& b : blocks) meas_list_push(&meas_app_condlist[0], &b);
        for (int bit = 62; bit >= 0; --bit)
            if (cfg->globalStartMask & (uint64_t(1) << bit)) {
                m.globalCondBit = uint64_t(1) << bit;
                break;
            }
    }
    void value(MeasBlock& b, uint32_t v) {
        auto* p = static_cast<uint8_t*>(b.condBuffer);
        be_put32(p, time_getTimestamp());
        const unsigned size = b.config->chanSizes[0];
        if (size == 1) p[4] = uint8_t(v);
        else if (size == 2) be_put16(p + 4, uint16_t(v));
        else be_put32(p + 4, v);
        b.condState = 1;
    }
    bool waiting() const { return m.stateFlags & 2; }

    meas_t& m = meas[0];
    MEASConfiguration* cfg = nullptr;
    std::vector<MeasBlock> blocks;
    std::vector<BlkInfo> chanSizes;
    std::vector<unsigned> bits;
};

}  // namespace

TEST_F(MeasConditions, OnlyTheHighestConditionBelow63Decides) {
    blocks.reserve(3);
    chanSizes.reserve(3);
    addCondition(3, 1);
    addCondition(5, 2);
    link();
    value(blocks[0], 1);
    value(blocks[1], 0);
    meas_app_check_measconditions();
    EXPECT_TRUE(waiting());
    EXPECT_EQ(signalPage()->meas_globcond_m01, 0);
    value(blocks[1], 0x0100);   // a 2-byte value is read whole
    meas_app_check_measconditions();
    EXPECT_FALSE(waiting());
    EXPECT_EQ(signalPage()->meas_globcond_m01, 1);
    value(blocks[0], 0);
    meas_app_check_measconditions();
    EXPECT_FALSE(waiting());
    value(blocks[1], 0);
    meas_app_check_measconditions();
    EXPECT_TRUE(waiting());
}

TEST_F(MeasConditions, Condition63AndOddSizesNeverDecide) {
    blocks.reserve(2);
    chanSizes.reserve(2);
    addCondition(63, 1);
    addCondition(2, 3);
    link();
    EXPECT_EQ(m.globalCondBit, uint64_t(1) << 2);
    value(blocks[0], 1);
    value(blocks[1], 0xFFFFFF);
    meas_app_check_measconditions();
    EXPECT_TRUE(waiting());
    EXPECT_EQ(m.activeConditions & (uint64_t(1) << 2), 0u);
}

TEST_F(MeasConditions, SourceInErrorCountsAsTrueAfterTwoSeconds) {
    blocks.reserve(1);
    chanSizes.reserve(1);
    addCondition(0, 1);
    link();
    blocks[0].condState = 0xFF;
    // 2.5 s of evaluations at 10 ms: true after more than 200 of them,
    // once the application has run 2 s
    int startedAt = -1;
    for (int i = 0; i < 250 && startedAt < 0; ++i) {
        meas_app_check_measconditions();
        if (!waiting()) startedAt = i;
    }
    timespec t{};
    clock_appltime(&t);
    if (t.tv_sec >= 2) EXPECT_EQ(startedAt, 201);
    else EXPECT_EQ(startedAt, -1);
}

TEST_F(MeasConditions, FutureRecordsAreIgnored) {
    blocks.reserve(1);
    chanSizes.reserve(1);
    addCondition(0, 4);
    link();
    value(blocks[0], 7);
    be_put32(blocks[0].condBuffer, time_getTimestamp() + 2000);
    takeLogTexts();
    meas_app_check_measconditions();
    EXPECT_TRUE(waiting());
    EXPECT_TRUE(logContains(takeLogTexts(), "Illegal condition timestamp! m01"));
}

// A condition source stamped in another time (a second time master 4000 s
// ahead) is evaluated every 10 ms: its illegal stamps are named once per
// source and spell and counted, rather than logged a hundred times a second.
// A stamp in time again ends the spell with its count; the next spell is
// named anew.
TEST_F(MeasConditions, IllegalStampsAreNamedOncePerSourceAndSpellAndCounted) {
    meas_app_foreignTimeReset();
    blocks.reserve(2);
    chanSizes.reserve(2);
    addCondition(0, 4);
    addCondition(1, 4);
    link();
    blocks[0].pid = 5;
    blocks[1].pid = 6;
    const auto ahead = [&](MeasBlock& b) {
        value(b, 1);
        be_put32(b.condBuffer, time_getTimestamp() + 40000000u);
    };
    ahead(blocks[0]);
    ahead(blocks[1]);
    takeLogTexts();
    for (int i = 0; i < 100; ++i) meas_app_check_measconditions();
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "Illegal condition timestamp! m01, BLK #0, PID 0x5"), 1);
    EXPECT_EQ(countContaining(log, "Illegal condition timestamp! m01, BLK #0, PID 0x6"), 1);
    EXPECT_EQ(log.size(), 2u);
    value(blocks[0], 1);
    meas_app_check_measconditions();
    ahead(blocks[0]);
    for (int i = 0; i < 50; ++i) meas_app_check_measconditions();
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "meas_app_check_measconditions: condition time stamps of PID 0x5 in this "
                                   "device's time again, 100 evaluations refused"),
              1);
    EXPECT_EQ(countContaining(log, "Illegal condition timestamp! m01, BLK #0, PID 0x5"), 1) << "a new spell";
    EXPECT_EQ(countContaining(log, "PID 0x6"), 0) << "still the first spell";
}
