// Time service: taking the master's date, following a better clock both
// ways, master changes and conflicts, suggestions, the new system time and
// the measurement time.
#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <chrono>
#include <thread>
#include <tuple>

#include "host/os/os.h"
#include "logging/events/event_peer_opens.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/config/meas_config.h"
#include "platform/byteorder.h"
#include "platform/time_step.h"
#include "timeserv_fixture.h"
#include "virari/timeserv/timeserv_internal.h"

namespace {
const date_t k2031{2031, 5, 17, 10, 20, 30, 456};

std::atomic<int> gSuggested{0};
std::atomic<uint32_t> gSuggestedQ{0};
int captureSuggestion(ci_msg_t* m) {
    gSuggestedQ = be_get32(m->payload + 16);
    ++gSuggested;
    return 1;
}

// The device's own count (0.1 ms) without the core's offset.
uint32_t ownCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 10000u + uint64_t(ts.tv_nsec) / 100000u);
}

// FIFO 7: the master's (PID 3) values, of this time; it takes one.
void mastersFifoTakesARecord() {
    MeasFifoDataRequest req{};
    req.fifoNum = 7;
    req.elemCount = 1;
    req.elemSizes[0] = 4;
    req.raster = MEAS_RASTER_10MS;
    req.mult[0] = req.mult[1] = 1;
    req.pid = 3;
    ASSERT_EQ(fifo_data_request(req), 0);
    uint8_t slot[8] = {};
    be_put32(slot, host::timeStamp());
    ASSERT_EQ(fifo_data_put(7, slot), 0);
}

// The slave hears a gap stamp some time after the master made it, and lags
// the master by the quickest of those times: on a loaded host (a sanitizer
// build) milliseconds. A lag up to the longest time a gap stamp of the test
// took from its making to the check after it is no fault of the slave.
uint32_t gMadeAt = 0;
int32_t gLagSeen = 0;
const void* gLagTest = nullptr;

// The gap stamp a master announces whose count stands masterMinusOwn from this device's.
uint32_t gapOf(uint32_t masterMinusOwn) {
    gMadeAt = ownCount();
    return gMadeAt + masterMinusOwn + 1000u;
}

// This device's stamp minus that master's count, now, less the lag the gap
// stamps' own delays explain (above).
int32_t slaveMinusMaster(uint32_t masterMinusOwn) {
    const uint32_t own = ownCount();
    const int32_t d = int32_t(host::timeStamp() - (own + masterMinusOwn));
    const void* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test != gLagTest) {
        gLagTest = test;
        gLagSeen = 0;
    }
    gLagSeen = std::max(gLagSeen, int32_t(own - gMadeAt));
    return d < 0 ? std::min(0, d + gLagSeen) : d;
}

// Lets the master's run go quiet, as a master that restarts does.
void masterFallsSilent() {
    std::this_thread::sleep_for(std::chrono::milliseconds(TIMESERV_MASTER_QUIET_MS + 100));
}

template <class Pred>
bool waitFor(Pred p) {
    for (int i = 0; i < 2000 && !p(); ++i) taskDelay(1);
    return p();
}
}  // namespace

// A slave that follows master PID 3 (unit 0x3333, boot count 7), its count
// base ahead of this device's, in sync.
class TimeServFollowing : public TimeServTest {
protected:
    void followMaster3(const date_t& d, uint32_t base) {
        ASSERT_EQ(timeserv_init(1, false), 1);
        for (int i = 0; i < 2; ++i) {
            ci_msg_t m = timeMsg(3, gapOf(base), d, 1, 0x3333, 7);
            timeserv_distributeTime_cmd(&m);
        }
        ASSERT_EQ(host::timeSyncState(), 1u);
    }
};

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

// A master that runs anew (its boot count, or as a swapped unit its id, new
// under its PID) falls silent and comes back with its count started over:
// the slave takes the new run as its master with its first message and
// steps onto its time, in sync throughout: at once when it is a second or
// more behind, on more of its messages when it is a fraction of a second
// behind (as a late message of the same time looks).
TEST_F(TimeServFollowing, SlaveStepsOntoItsMastersNewRunWithItsFirstMessage) {
    const date_t d = clockPlus(0);
    const uint32_t base = 0x50000000u;
    ASSERT_NO_FATAL_FAILURE(followMaster3(d, base));
    ASSERT_LE(std::abs(slaveMinusMaster(base)), 10);
    struct Run { const char* what; uint32_t id, boot, base; bool atOnce; };
    const Run runs[] = {
        {"300 s behind", 0x3333, 8, base - 3000000u, true},
        {"0.3 s behind", 0x3333, 9, base - 3000000u - 3000u, false},
        {"0.08 s behind", 0x3333, 10, base - 3000000u - 3800u, false},
        {"a swapped unit, 2 s behind", 0x5555, 1, base - 3000000u - 3800u - 20000u, true},
    };
    // a FIFO of the master's values, of the time before its new runs
    ASSERT_NO_FATAL_FAILURE(mastersFifoTakesARecord());
    uint8_t slot[8] = {};
    uint32_t before = base;
    for (const Run& r : runs) {
        SCOPED_TRACE(r.what);
        masterFallsSilent();
        ci_msg_t m = timeMsg(3, gapOf(r.base), d, 1, r.id, r.boot);
        timeserv_distributeTime_cmd(&m);
        if (!r.atOnce) {
            EXPECT_LE(std::abs(slaveMinusMaster(before)), 10);
            // the new run's records, stamped 0.3 s behind, stay out of the old time's FIFO
            be_put32(slot, r.base + ownCount());
            EXPECT_EQ(fifo_data_put(7, slot), MF_ERR_TS_INVALID);
            for (int i = 0; i < 11; ++i) {
                taskDelay(100);
                m = timeMsg(3, gapOf(r.base), d, 1, r.id, r.boot);
                timeserv_distributeTime_cmd(&m);
            }
        }
        before = r.base;
        EXPECT_LE(std::abs(slaveMinusMaster(r.base)), 10);
        EXPECT_EQ(host::timeSyncState(), 1u);
        uint32_t id = 0, boot = 0;
        ASSERT_TRUE(timeserv_getMasterIds(&id, &boot));
        EXPECT_EQ(id, r.id);
        EXPECT_EQ(boot, r.boot);
        timeserv_distributeTime_cmd(&m);
        EXPECT_LE(std::abs(slaveMinusMaster(r.base)), 10);
    }
    ASSERT_EQ(fifo_data_release(7), 0);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "time master PID 0x03 runs anew (boot count 8)"));
    EXPECT_FALSE(logContains(log, "trying to change time master"));
    EXPECT_TRUE(logContains(log, "records of the time master's new run lost, time stamps"));
}

// The device network may hear the master's new run (its presence with a
// newer boot count) before its first time message, and ask for its values
// on channels made anew: from then on its records stay out of the FIFOs of
// the time before. Another device's new run, the run followed, an older one
// or another unit under the master's PID hold nothing; nor does the new run's
// presence once its time message was taken and the time followed it.
TEST_F(TimeServFollowing, MastersNewRunHeardFirstOnTheNetworkStaysOutOfTheOldTimesFifos) {
    const date_t d = clockPlus(0);
    const uint32_t base = 0x50000000u;
    ASSERT_NO_FATAL_FAILURE(followMaster3(d, base));
    for (auto [pid, unit, boot] : {std::tuple<uint16_t, uint32_t, uint32_t>{4, 0x3333, 8}, {3, 0x3333, 7},
                                   {3, 0x3333, 6}, {3, 0x5555, 8}}) {
        timeserv_masterRestartHeard(pid, unit, boot);
        EXPECT_FALSE(fifo_data_of_masters_new_run(3)) << pid << " " << unit << " " << boot;
    }
    ASSERT_NO_FATAL_FAILURE(mastersFifoTakesARecord());
    uint8_t slot[8] = {};

    timeserv_masterRestartHeard(3, 0x3333, 8);
    EXPECT_TRUE(fifo_data_of_masters_new_run(3));
    be_put32(slot, host::timeStamp() - 3000);   // stamped 0.3 s behind, in its new time
    EXPECT_EQ(fifo_data_put(7, slot), MF_ERR_TS_INVALID);
    // its time message, 300 s behind: the time steps back onto it (the
    // 1 ms raster notes the step)
    masterFallsSilent();
    time_stepResetForTest();
    time_stepCheck();
    ci_msg_t m = timeMsg(3, gapOf(base - 3000000u), d, 1, 0x3333, 8);
    timeserv_distributeTime_cmd(&m);
    EXPECT_LE(std::abs(slaveMinusMaster(base - 3000000u)), 10);
    time_stepCheck();
    EXPECT_FALSE(fifo_data_of_masters_new_run(3));
    timeserv_masterRestartHeard(3, 0x3333, 8);   // its presence, late
    EXPECT_FALSE(fifo_data_of_masters_new_run(3));
    ASSERT_EQ(fifo_data_release(7), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "1 records of the time master's new run lost"));
}

// A master whose boot count was lost with its NVRAM comes back with the
// count it had before, or a lower one, and its time far behind (its clock
// started over): its gap stamps going back by more than a second tell its
// new run, which the slave follows with its first message, at once or
// after a silence, while a late message of its run is no new run.
TEST_F(TimeServTest, MasterThatLostItsBootCountIsFollowedWithItsFirstMessage) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const date_t d = clockPlus(0);
    uint32_t base = 0x50000000u;
    auto send = [&](uint32_t b, uint32_t boot, uint32_t late = 0) {
        ci_msg_t m = timeMsg(3, gapOf(b) - late, d, 1, 0x3333, boot);
        timeserv_distributeTime_cmd(&m);
    };
    send(base, 4);
    send(base, 4);
    ASSERT_EQ(host::timeSyncState(), 1u);
    send(base, 4, 3000);   // 0.3 s late: the same run
    EXPECT_LE(std::abs(slaveMinusMaster(base)), 10);
    struct Run { const char* what; uint32_t boot; bool silent; };
    const Run runs[] = {{"its boot count again", 4, false}, {"a lower boot count, at once", 1, false},
                        {"its boot count again after a silence", 1, true}};
    for (const Run& r : runs) {
        SCOPED_TRACE(r.what);
        uint8_t open[18] = {};   // an event of the master's, open
        be_put32(open, 0x02000005);
        const uint32_t openedAt = host::timeStamp();
        be_put32(open + 4, openedAt);
        be_put32(open + 8, 0xFFFFFFFFu);
        eventPeers_note(3, open, sizeof open);
        if (r.silent) masterFallsSilent();
        takeLogTexts();
        base -= 10000000u;   // 1000 s behind
        send(base, r.boot);
        EXPECT_LE(std::abs(slaveMinusMaster(base)), 10);
        EXPECT_EQ(host::timeSyncState(), 1u);
        send(base, r.boot);
        EXPECT_LE(std::abs(slaveMinusMaster(base)), 10);
        auto log = takeLogTexts();
        EXPECT_EQ(countContaining(log, "time master PID 0x03 runs anew (boot count " + std::to_string(r.boot) + ")"),
                  1);
        EXPECT_EQ(countContaining(log, "time locked anew"), 1);
        EXPECT_EQ(countContaining(log, "eventlogging: PID 0x3 runs anew: its event 0x02000005 opened at " +
                                           std::to_string(openedAt) + " closed at "),
                  1)
            << "the event it left open is closed in the time it stood in";
    }
    eventPeers_resetForTest();
}

// A slave put aside for 2.5 s (a stall of its own) loses its sync; the
// master's time messages of that while wait in its socket and come at once,
// each with the date it was sent at. The clock takes the date of a fresh
// one, never of one that waited, and stays with the master's.
TEST_F(TimeServTest, ClockAfterAStallTakesTheDateOfAFreshMessage) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const uint32_t base = 0x50000000u;
    const int64_t masterAhead = 5000;   // the master's clock 5 s ahead of this device's
    for (int i = 0; i < 2; ++i) {
        ci_msg_t m = timeMsg(3, gapOf(base), clockPlus(masterAhead), 1);
        timeserv_distributeTime_cmd(&m);
    }
    ASSERT_EQ(host::timeSyncState(), 1u);
    takeLogTexts();

    const uint32_t stallStart = ownCount();
    const date_t masterAtStall = clockPlus(0);   // the clock holds the master's date now
    taskDelay(2500);
    ASSERT_EQ(host::timeSyncState(), 0u);
    // the master's date `ms` after the stall began
    const auto masterAt = [&](int64_t ms) {
        date_t dk = masterAtStall;
        struct timespec t;
        conv_date_to_time(&dk, &t);
        ms += int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
        struct timespec u{time_t(ms / 1000), long(ms % 1000) * 1000000};
        conv_time_to_date(&u, &dk);
        return dk;
    };
    for (uint32_t k = 0; k < 25; ++k) {   // sent 100 ms apart meanwhile, read at once
        ci_msg_t m = timeMsg(3, stallStart + base + 1000u * (k + 1), masterAt(100 * k), 1);
        timeserv_distributeTime_cmd(&m);
    }
    ci_msg_t fresh = timeMsg(3, gapOf(base), masterAt((ownCount() - stallStart) / 10), 1);
    timeserv_distributeTime_cmd(&fresh);
    EXPECT_EQ(host::timeSyncState(), 1u);
    EXPECT_LT(std::llabs(clockMinus(masterAt((ownCount() - stallStart) / 10))), 150)
        << "the clock took the date of a message that waited";
    EXPECT_TRUE(logContains(takeLogTexts(), "Sync on timemaster systemtime"));
}

// A master killed and started again at once: its unit id with a newer boot
// count, while its old run's messages are still fresh. The slave steps onto
// the new run with its first message and calls nothing two units; a late
// message of the old run is not followed. Another unit id under the PID is a
// second unit, named once with both ids however its boot count changes.
TEST_F(TimeServTest, RestartedMasterIsFollowedAtOnceAndASecondUnitNamedOnce) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const date_t d = clockPlus(0);
    const uint32_t old = 0x50000000u, fresh = old - 20000u;   // 2 s behind
    auto send = [&](uint32_t base, uint32_t id, uint32_t boot) {
        ci_msg_t m = timeMsg(3, gapOf(base), d, 1, id, boot);
        timeserv_distributeTime_cmd(&m);
    };
    send(old, 0x3333, 64);
    send(old, 0x3333, 64);
    ASSERT_EQ(host::timeSyncState(), 1u);
    send(fresh, 0x3333, 65);   // no silence before it
    EXPECT_LE(std::abs(slaveMinusMaster(fresh)), 10);
    uint32_t id = 0, boot = 0;
    ASSERT_TRUE(timeserv_getMasterIds(&id, &boot));
    EXPECT_EQ(boot, 65u);
    send(old, 0x3333, 64);     // late, from the run that ended
    EXPECT_LE(std::abs(slaveMinusMaster(fresh)), 10);
    timeserv_getMasterIds(&id, &boot);
    EXPECT_EQ(boot, 65u);
    send(fresh, 0x3333, 65);
    EXPECT_LE(std::abs(slaveMinusMaster(fresh)), 10);
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "time master PID 0x03 runs anew (boot count 65)"), 1);
    EXPECT_FALSE(logContains(log, "two units"));

    for (uint32_t n = 0; n < 6; ++n) {   // a second unit, restarting meanwhile
        send(fresh, 0x3333, 65);
        send(old - 40000u, 0x5555, 1 + n / 2);
        EXPECT_LE(std::abs(slaveMinusMaster(fresh)), 10) << n;
    }
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "two units send as time master PID 0x03: id 0x00003333 boot count 65 and id "
                                   "0x00005555 boot count 1; this device follows id 0x00003333"),
              1);
    EXPECT_EQ(countContaining(log, "two units"), 1);
    EXPECT_FALSE(logContains(log, "runs anew"));
}

// Two units send as master under one PID (a swapped unit left on the
// network), their messages alternating: the slave keeps to the one it
// follows, with no step to the other's time (300 s behind) and no new lock,
// and names the pair once. Once the unit it follows falls silent, the other
// is taken with its next message, in one step.
TEST_F(TimeServTest, TwoUnitsUnderTheMastersPidAlternatingMakeNoSteps) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const date_t d = clockPlus(0);
    const uint32_t first = 0x50000000u, second = first - 3000000u;
    auto send = [&](bool fromFirst) {
        ci_msg_t m = fromFirst ? timeMsg(3, gapOf(first), d, 1, 0x3333, 7) : timeMsg(3, gapOf(second), d, 1, 0x5555, 1);
        timeserv_distributeTime_cmd(&m);
    };
    send(true);
    send(true);
    ASSERT_EQ(host::timeSyncState(), 1u);
    for (int i = 0; i < 20; ++i) {
        send(i % 2 == 0);
        EXPECT_LE(std::abs(slaveMinusMaster(first)), 10) << i;
        uint32_t id = 0;
        ASSERT_TRUE(timeserv_getMasterIds(&id, nullptr));
        EXPECT_EQ(id, 0x3333u) << i;
    }
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "two units send as time master PID 0x03: id 0x00003333 boot count 7 and id "
                                   "0x00005555 boot count 1; this device follows id 0x00003333"),
              1);
    EXPECT_FALSE(logContains(log, "runs anew"));
    EXPECT_FALSE(logContains(log, "time locked anew"));
    masterFallsSilent();
    send(false);
    EXPECT_LE(std::abs(slaveMinusMaster(second)), 10);
    send(false);
    EXPECT_LE(std::abs(slaveMinusMaster(second)), 10);
    EXPECT_EQ(host::timeSyncState(), 1u);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "time master PID 0x03 runs anew (boot count 1)"), 1u);
    EXPECT_EQ(countContaining(log, "time locked anew"), 1);
}

// Two masters (a misconfiguration): the slave keeps its master's time, not
// the other's 4000 s ahead, nor from a message too short to name its master;
// once the other is accepted as master (ten messages in a row) the slave
// locks onto its time.
TEST_F(TimeServTest, SlaveTakesOnlyItsCurrentMastersStamps) {
    ASSERT_EQ(timeserv_init(1, false), 1);
    const date_t d = clockPlus(0);
    const uint32_t own = 0x20000000u, other = own + 40000000u;
    auto send = [&](uint16_t src, uint32_t base, uint16_t len = TIMESERV_TIME_PAYLOAD) {
        ci_msg_t m = timeMsg(src, gapOf(base), d, 1, src == 3 ? 0x3333 : 0x4444, 1, len);
        timeserv_distributeTime_cmd(&m);
    };
    send(3, own);
    send(3, own);
    ASSERT_EQ(host::timeSyncState(), 1u);
    for (int i = 0; i < 20; ++i) {
        send(i % 2 ? 3 : 4, i % 2 ? own : other);
        EXPECT_LE(std::abs(slaveMinusMaster(own)), 10) << i;
    }
    send(4, other, 16);
    EXPECT_LE(std::abs(slaveMinusMaster(own)), 10) << "a short message of the other master";
    for (int i = 0; i < 9; ++i) send(4, other);
    EXPECT_LE(std::abs(slaveMinusMaster(own)), 10);
    send(4, other);
    EXPECT_LE(std::abs(slaveMinusMaster(other)), 10) << "the new master's time";
    EXPECT_TRUE(logContains(takeLogTexts(), "changing time master to PID 0x04"));
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
