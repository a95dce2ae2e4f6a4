// Time service: taking the master's date, following a better clock both
// ways, master changes and conflicts, suggestions, the new system time and
// the measurement time.
#include <atomic>
#include <cstdlib>

#include "host/os/os.h"
#include "timeserv_fixture.h"

namespace {
const date_t k2031{2031, 5, 17, 10, 20, 30, 456};

std::atomic<int> gSuggested{0};
std::atomic<uint32_t> gSuggestedQ{0};
int captureSuggestion(ci_msg_t* m) {
    gSuggestedQ = be_get32(m->payload + 16);
    ++gSuggested;
    return 1;
}

template <class Pred>
bool waitFor(Pred p) {
    for (int i = 0; i < 2000 && !p(); ++i) taskDelay(1);
    return p();
}
}  // namespace

TEST_F(TimeServTest, SlaveTakesTheMasterDateOnlyInFullSync) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    EXPECT_EQ(timeserv_getQualifier(), RTC_Q_YEAR_AFTER_2000);
    ci_msg_t m = timeMsg(3, 0xABCD0000, k2031, 5);
    timeserv_distributeTime_cmd(&m);
    EXPECT_EQ(host::timeNextGap(), 0xABCD0000u);   // the gap stamp reaches the core
    date_t now{};
    ASSERT_EQ(timeserv_readSystemTime(&now), 1);
    EXPECT_NE(now.year, 2031);                     // no full sync yet

    host::setTimeSyncState(1);
    timeserv_distributeTime_cmd(&m);
    EXPECT_LT(std::llabs(clockMinus(k2031)), 200);
    EXPECT_EQ(timeserv_getQualifier(), 5u);
    EXPECT_TRUE(logContains(takeLogTexts(), "Sync on timemaster systemtime: 17.05.2031  10:20:30.456, q:5"));

    // master identity from the first message
    uint32_t id = 0, boot = 0;
    ASSERT_TRUE(timeserv_getMasterIds(&id, &boot));
    EXPECT_EQ(id, 0x1111u);
    EXPECT_EQ(boot, 7u);
}

TEST_F(TimeServTest, FirstSyncWithEqualQualifierSetsTheClockOnlyWhenApart) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    host::setTimeSyncState(1);
    ci_msg_t m = timeMsg(3, 0, clockPlus(200), 1);
    timeserv_distributeTime_cmd(&m);
    EXPECT_TRUE(logContains(takeLogTexts(), "Sync on timemaster systemtime w/o RTC update"));

    timeserv_shutdown();
    ASSERT_EQ(timeserv_init(1, false), 1);
    m = timeMsg(3, 0, clockPlus(-3000), 1);   // behind counts as apart too
    timeserv_distributeTime_cmd(&m);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "Sync on timemaster systemtime: "));
    EXPECT_FALSE(logContains(log, "w/o RTC update"));
}

TEST_F(TimeServTest, ShortTimeMessagesHaveNoQualifierOrMillisecondsAndTooShortOnesAreIgnored) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    host::setTimeSyncState(1);
    ci_msg_t m = timeMsg(3, 0x42, k2031, 9, 0x1111, 7, 16);
    timeserv_distributeTime_cmd(&m);
    EXPECT_TRUE(logContains(takeLogTexts(), "Sync on timemaster systemtime: 17.05.2031  10:20:30.000, q:0"));
    EXPECT_EQ(timeserv_getQualifier(), 0u);
    uint32_t id;
    EXPECT_FALSE(timeserv_getMasterIds(&id, nullptr));   // no identity in 16 bytes

    m = timeMsg(3, 0x77, k2031, 9, 0x1111, 7, 12);
    timeserv_distributeTime_cmd(&m);
    EXPECT_EQ(host::timeNextGap(), 0x42u);
    EXPECT_TRUE(logContains(takeLogTexts(), "time message of 12 bytes from PID 0x03 ignored"));
}

// Once synchronised, a better qualifier is taken only with a clock that
// agrees with the master's: a clock off either way is set first.
TEST_F(TimeServTest, SynchronisedClockFollowsABetterMasterAheadOrBehind) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    host::setTimeSyncState(1);
    ci_msg_t m = timeMsg(3, 0, clockPlus(0), 1);
    timeserv_distributeTime_cmd(&m);   // first sync
    takeLogTexts();

    m = timeMsg(3, 0, clockPlus(300), 2);
    timeserv_distributeTime_cmd(&m);
    EXPECT_EQ(timeserv_getQualifier(), 2u);
    EXPECT_FALSE(logContains(takeLogTexts(), "update rtc"));

    date_t ahead = clockPlus(2000);
    m = timeMsg(3, 0, ahead, 3);
    timeserv_distributeTime_cmd(&m);
    EXPECT_EQ(timeserv_getQualifier(), 3u);
    EXPECT_LT(std::llabs(clockMinus(ahead)), 200);
    EXPECT_TRUE(logContains(takeLogTexts(), "update rtc on better qualifier"));

    date_t behind = clockPlus(-5000);
    m = timeMsg(3, 0, behind, 4);
    timeserv_distributeTime_cmd(&m);
    EXPECT_EQ(timeserv_getQualifier(), 4u);
    EXPECT_LT(std::llabs(clockMinus(behind)), 200) << "a clock ahead of the master is pulled back";
    takeLogTexts();

    // not better: nothing, however far apart
    m = timeMsg(3, 0, clockPlus(60000), 4);
    timeserv_distributeTime_cmd(&m);
    EXPECT_GT(std::llabs(clockMinus(clockPlus(-60000))), 1000);
    EXPECT_FALSE(logContains(takeLogTexts(), "update rtc"));

    // losing full sync makes the next one a first synchronisation again
    host::setTimeSyncState(0);
    timeserv_distributeTime_cmd(&m);
    host::setTimeSyncState(1);
    timeserv_distributeTime_cmd(&m);
    EXPECT_TRUE(logContains(takeLogTexts(), "Sync on timemaster systemtime"));
}

TEST_F(TimeServTest, ANewMasterIsTakenWithItsTenthMessageInARow) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const date_t d = clockPlus(0);
    ci_msg_t from3 = timeMsg(3, 0, d, 1, 0x3333, 1), from4 = timeMsg(4, 0, d, 1, 0x4444, 1);
    timeserv_distributeTime_cmd(&from3);
    uint32_t id = 0;
    for (int i = 0; i < 20; ++i) {
        timeserv_distributeTime_cmd(i % 2 ? &from3 : &from4);
        ASSERT_TRUE(timeserv_getMasterIds(&id, nullptr));
        EXPECT_EQ(id, 0x3333u);
    }
    timeserv_distributeTime_cmd(&from3);
    for (int i = 0; i < 9; ++i) timeserv_distributeTime_cmd(&from4);
    timeserv_getMasterIds(&id, nullptr);
    EXPECT_EQ(id, 0x3333u);
    timeserv_distributeTime_cmd(&from4);
    timeserv_getMasterIds(&id, nullptr);
    EXPECT_EQ(id, 0x4444u);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "trying to change time master PID to 0x04"));
    EXPECT_TRUE(logContains(log, "changing time master to PID 0x04"));
}

TEST_F(TimeServTest, MasterReportsASecondMasterOnceAndTakesOnlyBetterSuggestions) {
    ASSERT_EQ(timeserv_init(1, true), 1);
    EXPECT_TRUE(timeserv_isMaster());
    EXPECT_TRUE(host::timeMasterMode());
    uint32_t id = 0;
    EXPECT_TRUE(timeserv_getMasterIds(&id, nullptr));   // its own identity
    const date_t d = clockPlus(0);
    ci_msg_t own = timeMsg(kOwn, 0, d, 1), other = timeMsg(9, 0, d, 1);
    int periods = 0;
    for (; periods < 100; ++periods) {
        timeserv_distributeTime_cmd(&own);
        timeserv_distributeTime_cmd(&other);
        uint8_t st = 0;
        error_mgr_get_state(&st);
        if (st == 2) break;
    }
    EXPECT_GE(periods, 15);
    EXPECT_LE(periods, 25);
    for (int i = 0; i < 100; ++i) timeserv_distributeTime_cmd(&other);
    EXPECT_EQ(countContaining(takeLogTexts(), "multiple time masters detected"), 1);

    // suggestions: only a better clock than the master's own
    ci_msg_t s;
    ci_init_msg(&s, TIMESERV_CMD_SUGGEST_TIME, CI_PID_ALL, TIMESERV_DATE_PAYLOAD);
    std::memset(s.payload, 0, 20);
    const uint16_t f[7] = {k2031.year, k2031.month, k2031.day, k2031.hour, k2031.minute, k2031.second, 0};
    for (int i = 0; i < 7; ++i) be_put16(s.payload + 2 * i, f[i]);
    be_put32(s.payload + 16, 3);
    ASSERT_EQ(timeserv_setTime(&d, 4), 1);
    timeserv_suggestOwnTime_cmd(&s);
    EXPECT_EQ(timeserv_getQualifier(), 4u);
    be_put32(s.payload + 16, 6);
    timeserv_suggestOwnTime_cmd(&s);
    EXPECT_EQ(timeserv_getQualifier(), 6u);
    EXPECT_LT(std::llabs(clockMinus(k2031)), 1000);
}

TEST_F(TimeServTest, SlaveWithTheBetterClockSuggestsItsTime) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    ASSERT_EQ(timeserv_setTime(&k2031, 3), 1);
    ci_register_command(TIMESERV_CMD_SUGGEST_TIME, captureSuggestion);
    gSuggested = 0;
    ci_msg_t m = timeMsg(3, 0, clockPlus(0), 1);
    timeserv_distributeTime_cmd(&m);
    ASSERT_TRUE(waitFor([] { return gSuggested > 0; }));
    EXPECT_EQ(gSuggestedQ.load(), 3u);
    m = timeMsg(3, 0, clockPlus(0), 3);   // not worse: no suggestion
    timeserv_distributeTime_cmd(&m);
    taskDelay(20);
    EXPECT_EQ(gSuggested.load(), 1);
}

TEST_F(TimeServTest, NewSystemTimeReachesTheClockThroughTheCommandTask) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    ASSERT_NE(timeserv_newSystemTime(&k2031), 0);
    ASSERT_TRUE(waitFor([] { return timeserv_getQualifier() == RTC_Q_SET_BY_TOOL; }));
    EXPECT_LT(std::llabs(clockMinus(k2031)), 1000);

    const date_t bad{2031, 2, 30, 0, 0, 0, 0};
    EXPECT_EQ(timeserv_setTime(&bad, 5), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "timeserv_setTime: Illegal date values, RTC not set!"));
    ci_msg_t m;
    ci_init_msg(&m, TIMESERV_CMD_NEW_SYSTEM_TIME, kOwn, 6);
    timeserv_newSystemTime_cmd(&m);   // too short: ignored
    EXPECT_LT(std::llabs(clockMinus(k2031)), 1000);
}

TEST_F(TimeServTest, MeasurementTimeFollowsTheCoreInSyncAndRunsOnWithout) {
    timeserv_MeasTime_1ms();
    EXPECT_EQ(timeserv_getMeasTime(), 0u);   // not enabled yet
    host::setTimeStampOffset(0xFFFFFF00u);   // near the wrap
    timeserv_MeasTime_ini();
    timeserv_MeasTime_1ms();
    const uint32_t first = timeserv_getMeasTime();
    EXPECT_LT(uint32_t(time_getTimestamp() - first), 50u);
    EXPECT_TRUE(logContains(takeLogTexts(), "timeserv_MeasTime_1ms: Initial sync"));
    for (int i = 0; i < 5; ++i) timeserv_MeasTime_1ms();
    EXPECT_EQ(timeserv_getMeasTime(), first + 50);

    host::setTimeSyncState(7);   // full external sync
    timeserv_MeasTime_1ms();
    EXPECT_LT(uint32_t(time_getTimestamp() - timeserv_getMeasTime()), 50u);
    timeserv_MeasTime_1ms();
    EXPECT_EQ(countContaining(takeLogTexts(), "timeserv_MeasTime_1ms: External sync"), 1);
}

// The core of a master raises its gap interrupt each 100 ms; the master task
// takes it (the time message needs the device network, which is not up).
TEST_F(TimeServTest, MasterTaskRunsOnTheGapInterrupt) {
    ASSERT_EQ(timeserv_init(1, true), 1);
    ASSERT_TRUE(waitFor([] { return (time_controlReg() & 0x10u) != 0; }));   // interrupt connected
    EXPECT_EQ(time_getSyncState(), 3u);
    const uint32_t next = time_getNextGapTimestamp();
    EXPECT_LE(next - time_getTimestamp(), 1000u);
    host::baseTick();
    timeserv_shutdown();
    EXPECT_FALSE(host::timeMasterMode());
}
