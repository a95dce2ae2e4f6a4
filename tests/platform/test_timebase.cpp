// Date conversion, time differences, the device clock and the time core.
#include "platform/timebase.h"
#include "platform/time_step.h"
#include "platform/syslog_reader.h"

#include "platform_fixture.h"

#include <ctime>
#include <string>
#include <vector>

namespace {

date_t mk(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return date_t{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), static_cast<uint16_t>(d),
                  static_cast<uint16_t>(h), static_cast<uint16_t>(mi), static_cast<uint16_t>(s),
                  static_cast<uint16_t>(ms)};
}

}  // namespace

using TimeBase = PlatformTest;

TEST_F(TimeBase, DateRoundTripsAgreeWithTheCLibrary) {
    // Every 0x1234567 s from 1970 to past 2100, and the edges of leap years.
    std::vector<int64_t> secs = {0, 951782399, 951782400, 951868800, 4107542399, 4107542400, 253402300799};
    for (int64_t s = 0; s < 4200000000; s += 0x1234567) secs.push_back(s);
    for (int64_t s : secs) {
        timespec t{static_cast<time_t>(s), 987654321};
        date_t d{};
        ASSERT_EQ(conv_time_to_date(&t, &d), 1) << s;
        time_t tt = static_cast<time_t>(s);
        struct tm ref;
        gmtime_r(&tt, &ref);
        EXPECT_EQ(d.year, ref.tm_year + 1900) << s;
        EXPECT_EQ(d.month, ref.tm_mon + 1) << s;
        EXPECT_EQ(d.day, ref.tm_mday) << s;
        EXPECT_EQ(d.hour, ref.tm_hour) << s;
        EXPECT_EQ(d.minute, ref.tm_min) << s;
        EXPECT_EQ(d.second, ref.tm_sec) << s;
        EXPECT_EQ(d.millisecond, 987);
        timespec back{};
        ASSERT_EQ(conv_date_to_time(&d, &back), 1);
        EXPECT_EQ(back.tv_sec, t.tv_sec);
        EXPECT_EQ(back.tv_nsec, 987000000);
    }
}

TEST_F(TimeBase, InvalidDatesAreRefusedAndLogged) {
    timespec out{};
    const date_t bad[] = {mk(2023, 2, 29), mk(1900, 2, 29), mk(2024, 13, 1), mk(2024, 0, 1), mk(2024, 4, 31),
                          mk(2024, 1, 0), mk(2024, 1, 1, 24), mk(2024, 1, 1, 0, 60), mk(2024, 1, 1, 0, 0, 60),
                          mk(2024, 1, 1, 0, 0, 0, 1000), mk(1969, 12, 31)};
    for (const date_t& d : bad) EXPECT_EQ(conv_date_to_time(&d, &out), 0) << d.year << "-" << d.month << "-" << d.day;
    EXPECT_TRUE(logContains(takeLogTexts(), "conv_date_to_time: invalid date 29.02.2023"));
    date_t leap = mk(2024, 2, 29, 23, 59, 59, 999);
    EXPECT_EQ(conv_date_to_time(&leap, &out), 1);
    EXPECT_EQ(conv_date_to_time(nullptr, &out), 0);

    date_t d{};
    timespec neg{-1, 0}, badNs{0, 1000000000}, huge{static_cast<time_t>(253402300800LL), 0};
    EXPECT_EQ(conv_time_to_date(&neg, &d), 0);
    EXPECT_EQ(conv_time_to_date(&badNs, &d), 0);
    EXPECT_EQ(conv_time_to_date(&huge, &d), 0);
    EXPECT_EQ(conv_time_to_date(nullptr, &d), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "conv_time_to_date: invalid time -1 s"));
}

TEST_F(TimeBase, DifftimeBorrowsNanosecondsAndRefusesNegative) {
    timespec a{10, 100}, b{8, 200}, out{5, 5};
    EXPECT_EQ(clock_difftime(&a, &b, &out), 0);
    EXPECT_EQ(out.tv_sec, 1);
    EXPECT_EQ(out.tv_nsec, 999999900);
    testing::internal::CaptureStdout();
    out = {5, 5};
    EXPECT_EQ(clock_difftime(&b, &a, &out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "clock_difftime() calculated negative time \n");
    EXPECT_EQ(out.tv_sec, 0);
    EXPECT_EQ(out.tv_nsec, 0);
    EXPECT_EQ(clock_difftime(&a, &a, &out), 0);
    EXPECT_EQ(out.tv_sec, 0);
}

TEST_F(TimeBase, RtcWriteSetsTheDeviceClockOnly) {
    time_t hostBefore = time(nullptr);
    date_t d = mk(2031, 7, 14, 12, 30, 15, 250);
    ASSERT_EQ(rtc_writeAndSetSystemTime(&d), 1);
    date_t now{};
    ASSERT_EQ(rtc_readDate(&now), 1);
    EXPECT_EQ(now.year, 2031);
    EXPECT_EQ(now.month, 7);
    EXPECT_EQ(now.day, 14);
    EXPECT_EQ(now.hour, 12);
    EXPECT_EQ(now.minute, 30);
    EXPECT_LE(time(nullptr) - hostBefore, 5);   // the host clock is untouched
    date_t bad = mk(2031, 2, 30);
    EXPECT_EQ(rtc_writeAndSetSystemTime(&bad), 0);
    EXPECT_EQ(rtc_readDate(&now), 1);
    EXPECT_EQ(now.year, 2031);
}

TEST_F(TimeBase, SyncStateChangesAreLoggedOnce) {
    host::setTimeSyncState(0);
    time_getSyncState();
    takeLogTexts();
    host::setTimeSyncState(1);
    EXPECT_EQ(time_getSyncState(), 3u);
    EXPECT_EQ(time_getSyncState(), 3u);
    auto texts = takeLogTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("syncState FULLSYNC at LocTime"), std::string::npos);
    host::setTimeSyncState(7);
    EXPECT_EQ(time_getSyncXState(), 7u);
    EXPECT_EQ(time_getSyncState_reg(), 3u);
}

// Steps of the time stamp seen against the own count: a slew (the offset
// falls by 0.1 ms a gap) or a quicker time message (it rises by a few ms) is
// no step; the lock on a master's time, back or forward, is one, with the
// last stamp of the old time and the first of the new, told to listeners.
namespace {
std::vector<TimeStep> gHeardSteps;
void hearStep(const TimeStep& s) { gHeardSteps.push_back(s); }
}  // namespace

TEST(TimeStep, SlewsAreNoStepsAndALockIsOneEitherWay) {
    time_stepResetForTest();
    ASSERT_TRUE(time_stepListen(hearStep));
    ASSERT_TRUE(time_stepListen(hearStep));   // once only
    gHeardSteps.clear();
    takeLogTexts();
    const uint32_t steps = time_stepCount();
    uint32_t own = 0xFFFFF000u, stamp = own + 5;   // across the wrap of both
    EXPECT_FALSE(time_stepNote(stamp, own));
    for (int i = 0; i < 20; ++i) {
        own += 10;
        stamp += i % 2 ? 9 : 10;   // slewed back 0.1 ms every other note
        EXPECT_FALSE(time_stepNote(stamp, own)) << i;
    }
    own += 10;
    stamp += 10 + 10;   // 1 ms forward: the 1 ms raster's next record is missing
    EXPECT_FALSE(time_stepNote(stamp, own));
    own += 10;
    stamp += 10 + 500;   // a quicker message: 50 ms forward
    EXPECT_FALSE(time_stepNote(stamp, own));
    EXPECT_EQ(time_stepCount(), steps);

    const uint32_t before = stamp;
    own += 10;
    stamp += 10 - 300000;   // locked anew, 30 s back
    EXPECT_TRUE(time_stepNote(stamp, own));
    own += 10;
    stamp += 10 + 50000000;   // 5000 s forward
    // a hole in the records is named whatever the log's threshold
    syslogx_setThreshold(3);
    EXPECT_TRUE(time_stepNote(stamp, own));
    syslogx_setThreshold(7);
    // the moves forward leave holes in the records: each is named with the
    // stamps it lies between, the slews and the step back are not
    const std::vector<std::string> moves = takeLogTexts();
    EXPECT_EQ(countContaining(moves, "the time stamp moved forward"), 3) << ::testing::PrintToString(moves);
    EXPECT_EQ(countContaining(moves, ("moved forward 1.0 ms from " + std::to_string(before - 530) + " to " +
                                      std::to_string(before - 510)).c_str()), 1);
    EXPECT_EQ(countContaining(moves, ("time: the time stamp moved forward 50.0 ms from " + std::to_string(before - 510) +
                                      " to " + std::to_string(before)).c_str()), 1);
    EXPECT_EQ(countContaining(moves, ("moved forward 5000000.0 ms from " + std::to_string(before + 10 - 300000) +
                                      " to " + std::to_string(stamp)).c_str()), 1);
    TimeStep last{};
    EXPECT_EQ(time_stepCount(&last), steps + 2);
    EXPECT_EQ(last.after, stamp);
    ASSERT_EQ(gHeardSteps.size(), 2u);
    EXPECT_EQ(gHeardSteps[0].before, before);
    EXPECT_EQ(gHeardSteps[0].after, before + 10 - 300000);
    EXPECT_EQ(gHeardSteps[1].before, gHeardSteps[0].after);
}

// Around a step back (0.3 s here), a stamp belongs to the time it lies
// nearer to where that time stood when it came: one that came after the
// step and lies well ahead of the new time is the old time's (a close at the
// step); one that came before it and lies well behind the old time is the
// new time's (a restarted master's event that came before this device
// stepped onto its time). A step forward after it (a quicker message) goes
// on in the new time.
TEST(TimeStep, AStampBelongsToTheTimeItLiesNearerTo) {
    time_stepResetForTest();
    const uint32_t old = 0xFFFFFF00u;   // across the wrap
    EXPECT_FALSE(time_stepNote(old, 0));
    const uint32_t before = time_stepCount();
    ASSERT_TRUE(time_stepNote(old + 10 - 3000, 10));   // 0.3 s back
    const uint32_t now = old + 10 - 3000, after = time_stepCount();
    EXPECT_EQ(time_stepOfStamp(old + 10, now + 5, after), before);   // closed at the step, came after it
    EXPECT_EQ(time_stepOfStamp(now + 3, now + 5, after), after);
    EXPECT_EQ(time_stepOfStamp(now - 400, now + 5, after), after);   // late, of the new time all the same
    EXPECT_EQ(time_stepOfStamp(old - 2990, old - 20, before), after);   // the new time's, before the step
    EXPECT_EQ(time_stepOfStamp(old - 100, old - 20, before), before);   // a little late, the old time's
    EXPECT_EQ(time_stepOfStamp(old, old - 20, before - 1), before - 1);

    ASSERT_TRUE(time_stepNote(now + 20 + 50000, 30));   // 5 s forward
    const uint32_t later = time_stepCount();
    EXPECT_EQ(time_stepBackCount(), after);
    EXPECT_EQ(time_stepOfStamp(old + 10, now + 5, after), before);
    EXPECT_EQ(time_stepOfStamp(now + 50025, now + 50030, later), later);
    EXPECT_EQ(time_stepOfStamp(now + 50025 + 3000, now + 50030, later), before);
}

// A slave core's lock onto its master's new run 50 ms ahead is a new time,
// though a quicker message moves the stamp as far with no step: the stamp
// read just after the lock is already of the new time, and the note that
// first sees it counts the step, which begins a new time as a step back does.
TEST(TimeStep, TheCoresLockOntoANewRunAheadIsAStepHoweverSmall) {
    host::resetForTest();
    time_stepResetForTest();
    const uint32_t master = 0x40000000u;
    const auto gapFromMaster = [](uint32_t masterMinusOwn) {
        host::setTimeNextGap(host::ownTimeStamp() + masterMinusOwn + 1000u);
    };
    gapFromMaster(master);
    gapFromMaster(master);
    ASSERT_EQ(host::timeSyncState(), 1u);
    time_stepCheck();
    const uint32_t steps = time_stepCount();
    host::restartTimeLock();
    gapFromMaster(master + 500u);
    EXPECT_EQ(time_stepCountNow(), steps + 1);
    time_stepCheck();
    EXPECT_EQ(time_stepCount(), steps + 1);
    time_stepCheck();
    EXPECT_EQ(time_stepCount(), steps + 1) << "one step, counted once";
    // the old run's last event that comes after the step lies behind it,
    // nearer the old time; one of the new run lies at the new time
    TimeStep step{};
    ASSERT_EQ(time_stepBackCount(&step), steps + 1);
    const uint32_t seenAt = time_getTimestamp();
    EXPECT_EQ(time_stepOfStamp(step.before, seenAt, steps + 1), steps);
    EXPECT_EQ(time_stepOfStamp(seenAt - 10, seenAt, steps + 1), steps + 1);
    EXPECT_EQ(time_stepOfStamp(step.after + 5, seenAt + 20000, steps + 1), steps + 1) << "late, of the new run";
    EXPECT_EQ(time_stepOfStamp(seenAt, step.before - 2, steps), steps + 1) << "came just before the step";
    host::resetForTest();
    time_stepResetForTest();
}
