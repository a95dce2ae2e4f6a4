// The lap stack: entry conversion, the ring of 256 laps, NVRAM across a
// restart, damaged NVRAM, the power-down copy and a short buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "logging/logging_fixture.h"
#include "logging/statusblock/sb_lapstack.h"
#include "logging/statusblock/statusblock.h"
#include "platform/byteorder.h"

namespace {

struct Entry {
    unsigned lap, minutes, seconds, hundredths, fuel;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> stack() {
    std::vector<uint8_t> buf(2 + 256 * 6);
    int n = sb_lapstack_get(buf.data(), uint32_t(buf.size()));
    EXPECT_GE(n, 2);
    std::vector<Entry> out;
    const unsigned count = be_get16(buf.data());
    EXPECT_EQ(unsigned(n), 2 + 6 * count);
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* e = buf.data() + 2 + 6 * i;
        out.push_back({e[0], e[1], e[2], e[3], be_get16(e + 4)});
    }
    return out;
}

void writeCounts(uint16_t begun, uint16_t completed) {
    uint8_t c[4] = {uint8_t(begun), uint8_t(begun >> 8), uint8_t(completed), uint8_t(completed >> 8)};
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_LAPSTACK_COUNTERS, 0, c, 4), 4);
}

class LapStackTest : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        sb_lapstack_resetForTest();
        sb_lapstack_reset_history();
        takeLogTexts();
    }
    void TearDown() override {
        sb_lapstack_resetForTest();
        LoggingTest::TearDown();
    }
};

}  // namespace

TEST(LapStackEntry, LapTimeAndFuelConversion) {
    SbLapEntry e = sb_lapstack_makeEntry(300, 8345, 2.345f);
    EXPECT_EQ(e.lap, 300 & 0xFF);
    EXPECT_EQ(e.minutes, 1);
    EXPECT_EQ(e.seconds, 23);
    EXPECT_EQ(e.hundredths, 45);
    EXPECT_EQ(e.fuel, 235);
    EXPECT_EQ(sb_lapstack_makeEntry(1, 0, -1.0f).fuel, 0);
    EXPECT_EQ(sb_lapstack_makeEntry(1, 0, 1000.0f).fuel, 65535);   // clamped, not wrapped
    EXPECT_EQ(sb_lapstack_makeEntry(1, 0, 0.125f).fuel, 13);       // half away from zero
    // an hour and more still fits the minutes byte
    EXPECT_EQ(sb_lapstack_makeEntry(1, 6000 * 300, 0).minutes, 255);
}

TEST_F(LapStackTest, RingKeepsTheLast256LapsOldestFirstAndSurvivesARestart) {
    EXPECT_TRUE(stack().empty());
    sb_lapstack_add_entry(7, 8345, 2.345f);
    EXPECT_EQ(stack(), (std::vector<Entry>{{7, 1, 23, 45, 235}}));
    sb_lapstack_reset_history();
    for (unsigned lap = 0; lap < 300; ++lap) sb_lapstack_add_entry(uint16_t(lap), 6000 + lap, 0);
    std::vector<Entry> s = stack();
    ASSERT_EQ(s.size(), 256u);
    EXPECT_EQ(s.front().lap, 44u);
    EXPECT_EQ(s.front().hundredths, 44u);
    EXPECT_EQ(s.back().lap, 299u & 0xFF);

    restart();
    sb_lapstack_resetForTest();
    sb_lapstack_check_read();
    EXPECT_EQ(stack(), s);
}

TEST_F(LapStackTest, DamagedCountersOnlyLoseWhatIsInDoubt) {
    for (unsigned lap = 1; lap <= 3; ++lap) sb_lapstack_add_entry(uint16_t(lap), 100 * lap, 1.0f);
    // cut after the first write of an append: the three laps before it stay
    writeCounts(4, 3);
    sb_lapstack_check_read();
    EXPECT_TRUE(logged(takeLogTexts(), "sb_lapstack_check_read: last entry not written correctly, deleting last entry"));
    EXPECT_EQ(stack().size(), 3u);
    sb_lapstack_add_entry(4, 400, 1.0f);
    EXPECT_EQ(stack().size(), 4u);
    EXPECT_EQ(stack().back().lap, 4u);

    // counters that make no sense: the stack starts again
    writeCounts(9, 2);
    sb_lapstack_check_read();
    EXPECT_TRUE(logged(takeLogTexts(), "sb_lapstack_check_read: lapstack corrupt, deleting..."));
    EXPECT_TRUE(stack().empty());
    uint16_t begun = 1, completed = 1;
    sb_lapstack_counts(&begun, &completed);
    EXPECT_EQ(begun, 0);
    EXPECT_EQ(completed, 0);
}

TEST_F(LapStackTest, PowerDownKeepsTheStackForTheLastBlock) {
    sb_lapstack_add_entry(1, 100, 0);
    sb_lapstack_add_entry(2, 200, 0);
    sb_lapstack_reset_history();   // no power-down: gone
    EXPECT_TRUE(stack().empty());
    sb_lapstack_add_entry(3, 300, 0);
    sb_lapstack_setPowerDown();
    sb_lapstack_reset_history();   // e.g. a new outing during shutdown
    EXPECT_EQ(stack().size(), 1u);
    EXPECT_EQ(stack()[0].lap, 3u);
}

TEST_F(LapStackTest, ShortBufferStopsBeforeTheEntryThatDoesNotFit) {
    for (unsigned lap = 1; lap <= 5; ++lap) sb_lapstack_add_entry(uint16_t(lap), 0, 0);
    uint8_t buf[2 + 6 * 3 + 5];
    EXPECT_EQ(sb_lapstack_get(buf, sizeof buf), 2 + 6 * 3);
    EXPECT_EQ(be_get16(buf), 3);
    EXPECT_TRUE(logged(takeLogTexts(),
                       "sb_lapstack_get(): canceled copy of LapStack to SB. Size error. alloc. remsize: 5, size: 6 "));
    EXPECT_EQ(sb_lapstack_get(buf, 1), 0);
}

// Laps added while outings reset the stack and the rasters copy it: the
// NVRAM, which the resets and appends write outside the lock the copies
// take, holds the stack as the RAM has it, and every copy is a whole stack.
TEST_F(LapStackTest, ResetsAndAppendsTogetherLeaveTheNvramAsTheRamHasIt) {
    std::atomic<bool> done{false};
    std::atomic<unsigned> badCopies{0};
    std::thread raster([&] {
        std::vector<uint8_t> buf(2 + 256 * 6);
        while (!done.load()) {
            const int n = sb_lapstack_get(buf.data(), uint32_t(buf.size()));
            if (n != int(2 + 6 * be_get16(buf.data()))) ++badCopies;
        }
    });
    std::thread outings([] {
        for (int i = 0; i < 30; ++i) sb_lapstack_reset_history();
    });
    for (unsigned lap = 0; lap < 400; ++lap) sb_lapstack_add_entry(uint16_t(lap), 100 + lap, 0.5f);
    outings.join();
    sb_lapstack_add_entry(999, 1, 0);
    done = true;
    raster.join();
    EXPECT_EQ(badCopies.load(), 0u);
    const std::vector<Entry> ram = stack();
    ASSERT_FALSE(ram.empty());
    EXPECT_EQ(ram.back().lap, 999u & 0xFF);

    restart();
    sb_lapstack_resetForTest();
    sb_lapstack_check_read();
    EXPECT_EQ(stack(), ram);
    EXPECT_FALSE(logContains(takeLogTexts(), "sb_lapstack_check_read"));
}
