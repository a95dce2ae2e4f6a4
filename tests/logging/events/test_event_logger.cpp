// The event logger on its own: the application names of "cfg:/apps.xml", the
// delay, the pool and its overload entry, and the commands it accepts.
#include <atomic>
#include <cstring>
#include <string>

#include "events_fixture.h"
#include "host/kernel/kernel.h"
#include "logging/nested_xml.h"
#include "logging/events/event_apps.h"
#include "logging/events/event_logger.h"
#include "logging/events/event_peer_opens.h"
#include "logging/events/event_run_opens.h"
#include "measurement/measman.h"
#include "platform/error_mgr.h"
#include "platform/timebase.h"

namespace {

class EventLoggerTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        makeDrive("cfg");
        eventApps_resetForTest();
        eventLogger_resetForTest();
        cal().DATADELAY = 0;
    }
    void TearDown() override {
        eventLoggerDelete(logger);
        eventApps_resetForTest();
        EventsTest::TearDown();
    }
    void writeApps(const std::string& body) { writeFile("cfg/apps.xml", body); }
    static std::string appName(unsigned pid) {
        char n[EVENT_APP_NAME_MAX + 1];
        eventApps_name(pid, n);
        return n;
    }
    // A received command 0x1500 from a device.
    static ci_msg_t eventMsg(uint16_t pid, uint32_t ts, uint32_t duration, const char* name = "ev",
                             uint16_t len = 0) {
        ci_msg_t m{};
        const EventRecord ev{EVENT_ID_CHANNEL + 1, ts, duration, EVENT_KIND_CHANNEL, EVENT_SEV_INFO};
        uint8_t buf[EVENT_MSG_SIZE];
        const uint16_t l = event_buildMsg(buf, ev, name, "", pid);
        std::memcpy(&m, buf, sizeof buf);
        ci_set_len(&m, len ? len : l);
        return m;
    }
    static void deliver(uint16_t pid, uint32_t ts, uint32_t duration) {
        ci_msg_t m = eventMsg(pid, ts, duration);
        eventlogging_cmd(&m);
    }
    static bool waitWrites(uint32_t n, int ms) {
        for (int i = 0; i < ms && event_counter(eventSignals().event_write_cnt) < n; ++i) taskDelay(1);
        return event_counter(eventSignals().event_write_cnt) >= n;
    }
    eventlogger* logger = nullptr;
};

TEST_F(EventLoggerTest, AppsXmlNamesTheDevicesOnceAndOnlyByEmptyApplicationElements) {
    writeApps("<?xml version=\"1.0\"?>\n"
              "<Applicationlist version=\"3\">\n"
              "  <Group><Application pid=\"2\" name=\"HIDDEN\"/></Group>\n"
              "  <Application pid=\"5\" name=\"ENGINE_CTRL_LONG_NAME\"/>\n"
              "  <Application pid=\"6\" name=\"WITH_CONTENT\">x</Application>\n"
              "  <Other pid=\"7\" name=\"OTHER\"/>\n"
              "  <Application pid=\"0\" name=\"ZERO\"/>\n"
              "</Applicationlist>\n");
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "Eventlogging logger setup for m01"));
    EXPECT_EQ(appName(5), "ENGINE_CTRL_LONG");   // 16 characters
    EXPECT_EQ(appName(0), "ZERO");
    EXPECT_EQ(appName(6), "PID06");              // an element with content names nothing
    EXPECT_EQ(appName(7), "PID07");
    EXPECT_EQ(appName(2), "PID02");              // other elements are skipped whole
    EXPECT_EQ(appName(64), "");
    // read once per process: a changed file is not read again
    writeApps("<Applicationlist><Application pid=\"5\" name=\"NEW\"/></Applicationlist>");
    eventlogger* second = eventLoggerInit(2, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(appName(5), "ENGINE_CTRL_LONG");
    eventLoggerDelete(second);
}

TEST_F(EventLoggerTest, BadAppsXmlCreatesNoLogger) {
    for (const char* body : {"<Applicationlist><Application pid=\"64\" name=\"X\"/></Applicationlist>",
                             "<Applicationlist><Application pid=\"-1\" name=\"X\"/></Applicationlist>",
                             "<Applicationlist><Application pid=\"3\" name=\"X\"/>",
                             "<Applicationlist><Application name=\"X\"/></Applicationlist>"}) {
        writeApps(body);
        EXPECT_EQ(eventLoggerInit(0, nullptr), nullptr) << body;
        EXPECT_FALSE(eventApps_read());
    }
    // (the same text twice in a row is folded by the log)
    EXPECT_EQ(countContaining(takeLogTexts(), "eventLoggerInit(): "), 3);
    writeApps("<Applicationlist><Application pid=\"64\" name=\"X\"/></Applicationlist>");
    eventLoggerInit(0, nullptr);
    auto log = takeLogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("eventLoggerInit(): pid too high (pid) in line 1", 0), 0u) << log[0];
}

TEST_F(EventLoggerTest, MissingAppsXmlIsLoggedOnceAndNoEventIsKept) {
    EXPECT_EQ(eventLoggerInit(0, nullptr), nullptr);
    EXPECT_EQ(eventLoggerInit(2, nullptr), nullptr);
    auto log = takeLogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "eventLoggerInit(): File not found : cfg:/apps.xml");
    deliver(3, 100, 0);   // no logger: nothing kept, nothing written
    EXPECT_EQ(event_counter(eventSignals().event_write_cnt), 0u);
    // once the file is there the next measurement gets its logger
    writeApps("<Applicationlist/>");
    logger = eventLoggerInit(0, nullptr);
    EXPECT_NE(logger, nullptr);
}

// What is wrong with apps.xml names the file and is said once for all the
// measurements that ask for a logger.
TEST_F(EventLoggerTest, BrokenOrEmptyAppsXmlIsNamedAndSaidOnce) {
    writeApps("\x01garbage");
    EXPECT_EQ(eventLoggerInit(0, nullptr), nullptr);
    EXPECT_EQ(eventLoggerInit(2, nullptr), nullptr);
    auto log = takeLogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "eventLoggerInit(): not well-formed (invalid token) in line 1 column 1 of cfg:/apps.xml");
    writeApps("");
    EXPECT_EQ(eventLoggerInit(0, nullptr), nullptr);
    EXPECT_EQ(eventLoggerInit(2, nullptr), nullptr);
    log = takeLogTexts();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "eventLoggerInit(): File not found, len invalid : cfg:/apps.xml is empty");
}

// A well-formed apps.xml without an Applicationlist is a warning that names
// the file; the built-in names stay.
TEST_F(EventLoggerTest, AnAppsXmlWithoutApplicationlistIsAWarningThatNamesIt) {
    writeApps(nestedElements("a", 5000));
    takeLogTexts();
    logger = eventLoggerInit(0, nullptr);
    EXPECT_NE(logger, nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4),
              std::vector<std::string>{"eventApps_readOnce(): cfg:/apps.xml holds no Applicationlist element, all of it "
                                       "ignored"});
}

TEST_F(EventLoggerTest, EventsWaitForTheDelayAndForTheirEnd) {
    writeApps("<Applicationlist/>");
    cal().DATADELAY = 200;   // ms
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->delay(), 2000u);
    const uint32_t now = time_getTimestamp();
    deliver(3, now, EVENT_DURATION_OPEN);   // open: sorted by its start, due in 200 ms
    deliver(4, now - 1000, 4000);           // ends in 300 ms: due in 500 ms
    taskDelay(30);
    EXPECT_EQ(event_counter(eventSignals().event_write_cnt), 0u);
    ASSERT_TRUE(waitWrites(1, 5000));
    EXPECT_GE(int32_t(time_getTimestamp() - now), 1900);
    EXPECT_EQ(event_counter(eventSignals().event_write_cnt), 1u) << "the closed event waits for its end";
    ASSERT_TRUE(waitWrites(2, 5000));
    EXPECT_GE(int32_t(time_getTimestamp() - now), 4900);
}

// The clock's wrap is no step: an event stamped just before it waits out
// the delay as every other, though the time is below the delay then.
TEST_F(EventLoggerTest, AnEventStampedJustBeforeTheClocksWrapWaitsForTheDelay) {
    writeApps("<Applicationlist/>");
    cal().DATADELAY = 200;   // ms
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    host::setTimeStampOffset(0);
    host::setTimeStampOffset(0u - host::timeStamp());   // the clock wraps now
    const uint32_t stamp = 0u - 100u;                   // 10 ms before the wrap
    deliver(3, stamp, 0);
    ASSERT_TRUE(waitWrites(1, 5000));
    EXPECT_GE(int32_t(time_getTimestamp() - stamp), 2000) << "written before the delay was over";
    host::setTimeStampOffset(0);
}

// After this device's time stepped back, events of the old time come
// stamped ahead of it (their close at the step, sent after it): they go out
// at once, to the file of their time, rather than wait for the new time to
// reach them and hold back every later event of their source meanwhile.
TEST_F(EventLoggerTest, EventsOfATimeThatSteppedBackDoNotHoldTheirSourceBack) {
    writeApps("<Applicationlist/>");
    cal().DATADELAY = 200;   // ms
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    const uint32_t now = time_getTimestamp();
    deliver(3, now + 259000, 100);   // closed at a step 25.9 s back
    deliver(3, now, EVENT_DURATION_OPEN);
    ASSERT_TRUE(waitWrites(2, 5000));
    EXPECT_LT(int32_t(time_getTimestamp() - now), 20000);
    deliver(3, now + 9000, 0);   // within a second ahead: in this time, it waits
    taskDelay(50);
    EXPECT_EQ(event_counter(eventSignals().event_write_cnt), 2u);
}

// An event that comes stamped well behind this device's time (0.3 s: a
// master restarted behind, whose first gap stamps have yet to step this
// device onto its new time, some 0.5 s after its first events) waits for
// that step before it is written; one stamped in this device's time goes out
// at once.
TEST_F(EventLoggerTest, AnEventStampedWellBehindWaitsAMomentForAStepOfTheTime) {
    writeApps("<Applicationlist/>");
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    const uint32_t now = time_getTimestamp();
    deliver(3, now - 3000, 0);
    deliver(4, now, 0);
    ASSERT_TRUE(waitWrites(1, 5000));
    ASSERT_TRUE(waitWrites(2, 5000));
    EXPECT_GE(int32_t(time_getTimestamp() - now), 6000) << "the late event did not wait for the step";
}

TEST_F(EventLoggerTest, FullPoolDropsEventsAndRaisesEventLoggingUntilAnItemIsFreeAgain) {
    writeApps("<Applicationlist/>");
    cal().DATADELAY = 60000;   // nothing is due while the pool fills
    logger = eventLoggerInit(2, nullptr);
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->freeItems(), EVENT_POOL_ITEMS);
    const uint32_t now = time_getTimestamp();
    for (unsigned i = 0; i < EVENT_POOL_ITEMS + 5; ++i) deliver(3, now + i, 0);
    EXPECT_EQ(logger->freeItems(), 0u);
    EXPECT_TRUE(errorActive(EVENTLOGGING));
    EXPECT_EQ(raiseCount(EVENTLOGGING), 1u);
    deliver(9, now, 0);   // a new source finds no item for its bucket either
    auto log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "eventlogger::putEvent(): pool full (4), discarding event from pid 3"), 6);
    EXPECT_EQ(countContaining(log, "eventlogger::putEvent(): pool full (3), discarding event from pid 9"), 1);
    ASSERT_TRUE(logger->flushUntil(now + 10));
    EXPECT_EQ(event_counter(eventSignals().event_write_cnt), 11u);
    deliver(3, now + 5000, 0);
    EXPECT_FALSE(errorActive(EVENTLOGGING));
    EXPECT_EQ(logger->freeItems(), 10u);
}

TEST_F(EventLoggerTest, ShortOrOverlongCommandsAreHandledSafely) {
    writeApps("<Applicationlist/>");
    cal().DATADELAY = 60000;
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    const uint32_t now = time_getTimestamp();
    ci_msg_t m = eventMsg(5, now, 0, "x", 10);   // too short to hold the fixed fields
    eventlogging_cmd(&m);
    EXPECT_EQ(logger->freeItems(), EVENT_POOL_ITEMS);
    m = eventMsg(5, now, 0, "x", 120);   // a foreign device's long event is cut
    eventlogging_cmd(&m);
    EXPECT_EQ(logger->freeItems(), EVENT_POOL_ITEMS - 2);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "eventlogging_cmd(): event from pid 0x05 with length 10 ignored"));
    EXPECT_TRUE(logContains(log, "eventlogger::putEvent(): event from pid 0x05 truncated from 120 to 98 bytes"));
    EXPECT_EQ(eventlogging_cmd(nullptr), 0);
}

}  // namespace

// The runs of each device as a test's network counts them.
std::atomic<uint32_t> gRuns[MEAS_PEERS];
std::atomic<bool> gSilent[MEAS_PEERS];
uint32_t runOf(unsigned pid) { return pid < MEAS_PEERS ? gRuns[pid].load() : 0; }
bool heardIn(unsigned pid, uint32_t* run) {
    *run = runOf(pid);
    return !(pid < MEAS_PEERS && gSilent[pid].load());
}

// Every peer in its first run and heard.
void peersInTheirFirstRun() {
    eventPeers_resetForTest();
    for (auto& r : gRuns) r = 0;
    for (auto& g : gSilent) g = false;
}

// Another device's events still open when it restarts or falls silent are
// closed for it, once, at the end given (none before its start), also one
// it opened again without its close; what it closed itself, what its new
// run opened (after that end, or once the network counted that run or had
// the device silent, however it is stamped), or an event of this device is no
// such. Back from a silence in the same run, what came meanwhile is its.
TEST_F(EventLoggerTest, APeersEventsOpenAtItsEndAreClosedForIt) {
    writeApps("<Applicationlist/>");
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    peersInTheirFirstRun();
    meas_man_set_peer_runs(runOf);
    meas_man_set_peer_heard(heardIn);
    const uint32_t now = time_getTimestamp();
    deliver(3, now - 5000, EVENT_DURATION_OPEN);
    deliver(3, now - 3000, EVENT_DURATION_OPEN);   // the same event opened again, not closed
    deliver(2, now - 4000, EVENT_DURATION_OPEN);
    deliver(2, now - 4000, 3000);                   // closed by its device
    deliver(comint_own_pid(), now - 4000, EVENT_DURATION_OPEN);
    deliver(4, now + 200, EVENT_DURATION_OPEN);     // begun after the end given: its new run's
    deliver(5, now - 6000, EVENT_DURATION_OPEN);
    gRuns[5] = 1;                                   // it restarted, a time behind
    deliver(5, now - 4500, EVENT_DURATION_OPEN);
    gSilent[6] = gSilent[7] = true;                     // fallen silent: they restart, or come back
    deliver(6, now - 4000, EVENT_DURATION_OPEN);
    deliver(7, now - 4000, EVENT_DURATION_OPEN);
    ASSERT_TRUE(waitWrites(10, 5000));
    takeLogTexts();

    EXPECT_EQ(eventPeers_close(2, now, "runs anew", 0), 0u);
    EXPECT_EQ(eventPeers_close(comint_own_pid(), now, "runs anew", 0), 0u);
    EXPECT_EQ(eventPeers_close(3, now, "fell silent", 0), 2u);
    EXPECT_EQ(eventPeers_close(3, now, "fell silent", 0), 0u) << "closed twice";
    EXPECT_EQ(eventPeers_close(4, now, "runs anew", 0), 0u);
    EXPECT_EQ(eventPeers_close(4, now + 300, "runs anew", 0), 1u) << "the new run ended too";
    EXPECT_EQ(eventPeers_close(5, now, "runs anew", 0), 1u) << "only the first run's event";
    EXPECT_EQ(eventPeers_close(5, now + 100, "fell silent", 1), 1u) << "the second run ended too";
    EXPECT_EQ(eventPeers_close(6, now, "fell silent", 0), 0u) << "it came once its run had ended";
    gRuns[6] = 1;
    gSilent[6] = false;
    EXPECT_EQ(eventPeers_close(6, now, "runs anew", 0), 0u) << "its restart's event";
    EXPECT_EQ(eventPeers_close(7, now, "fell silent", 0), 0u);
    gSilent[7] = false;
    eventPeers_runGoesOn(7, 0);                     // back, not restarted
    EXPECT_EQ(eventPeers_close(7, now, "fell silent", 0), 1u) << "back in its run, the event was of that run";
    EXPECT_EQ(eventPeers_lastValue(3, now), now) << "no value of it came: it ends now";
    EXPECT_TRUE(waitWrites(15, 5000));
    auto log = takeLogTexts();
    for (uint32_t opened : {now - 5000, now - 3000})
        EXPECT_TRUE(logContains(log, "eventlogging: PID 0x3 fell silent: its event 0x02000001 opened at " +
                                         std::to_string(opened) + " closed at " + std::to_string(now)));
    EXPECT_TRUE(logContains(log, "eventlogging: PID 0x4 runs anew: its event 0x02000001 opened at " +
                                     std::to_string(now + 200) + " closed at " + std::to_string(now + 300)));
    EXPECT_TRUE(logContains(log, "eventlogging: PID 0x5 runs anew: its event 0x02000001 opened at " +
                                     std::to_string(now - 6000) + " closed at " + std::to_string(now)));
    EXPECT_TRUE(logContains(log, "eventlogging: PID 0x5 fell silent: its event 0x02000001 opened at " +
                                     std::to_string(now - 4500) + " closed at " + std::to_string(now + 100)));
    meas_man_set_peer_runs(nullptr);
    meas_man_set_peer_heard(nullptr);
    eventPeers_resetForTest();
}

// When this device last heard each device (any message of it), in its time.
std::atomic<uint64_t> gSign[MEAS_PEERS];   // stamp + 1, 0: never heard
bool signOf(unsigned pid, uint32_t* stamp) {
    const uint64_t v = pid < MEAS_PEERS ? gSign[pid].load() : 0;
    if (v) *stamp = uint32_t(v - 1);
    return v != 0;
}

// A device whose values this one does not record still bounds its events by
// its last sign of life: killed, or restarted, its events close where it was
// heard last (in its ended run), not when the network notices.
TEST_F(EventLoggerTest, APeersEventsCloseAtItsLastSignOfLife) {
    writeApps("<Applicationlist/>");
    logger = eventLoggerInit(0, nullptr);
    ASSERT_NE(logger, nullptr);
    peersInTheirFirstRun();
    for (auto& s : gSign) s = 0;
    meas_man_set_peer_runs(runOf);
    meas_man_set_peer_heard(heardIn);
    meas_man_set_peer_sign(signOf);
    const uint32_t now = time_getTimestamp();
    deliver(3, now - 50000, EVENT_DURATION_OPEN);
    deliver(4, now - 50000, EVENT_DURATION_OPEN);
    ASSERT_TRUE(waitWrites(2, 5000));
    takeLogTexts();

    gSign[3] = uint64_t(now - 30000) + 1;   // killed then; noticed 3 s later
    gSilent[3] = true;
    EXPECT_EQ(eventPeers_close(3, now, "fell silent", 0), 1u);

    gSign[4] = uint64_t(now - 20000) + 1;   // its last message of the run that ended
    gRuns[4] = 1;
    eventPeers_runCounted(4, 1);
    gSign[4] = uint64_t(now) + 1;           // the new run's presence
    EXPECT_EQ(eventPeers_close(4, now, "runs anew", 0), 1u);

    EXPECT_TRUE(waitWrites(4, 5000));
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "eventlogging: PID 0x3 fell silent: its event 0x02000001 opened at " +
                                     std::to_string(now - 50000) + " closed at " + std::to_string(now - 30000)));
    EXPECT_TRUE(logContains(log, "eventlogging: PID 0x4 runs anew: its event 0x02000001 opened at " +
                                     std::to_string(now - 50000) + " closed at " + std::to_string(now - 20000)));
    meas_man_set_peer_runs(nullptr);
    meas_man_set_peer_heard(nullptr);
    meas_man_set_peer_sign(nullptr);
    eventPeers_resetForTest();
}

// A stop closes what its recording holds open at the stop's stamp; one that
// stamp lies before (an open of a step not yet noted, a stop taken in the
// old time) ends where it began, with a duration all the same: a duration
// of 0 is an event of a moment, which would leave the open unclosed in the
// file. Across the wrap the duration is the stamps' distance.
TEST(EventRunOpensTest, AStopClosesEachOpenWithADuration) {
    struct Case { uint32_t start, end, duration; };
    for (const Case c : {Case{5000, 4950, 1}, Case{5000, 5000, 1}, Case{0xFFFFFF00u, 0x100u, 0x200u}}) {
        SCOPED_TRACE(c.start);
        EventRunOpens opens;
        uint8_t payload[EVENT_PAYLOAD_FIXED + 2] = {};
        be_put32(payload, EVENT_ID_CHANNEL + 1);
        be_put32(payload + 4, c.start);
        be_put32(payload + 8, EVENT_DURATION_OPEN);
        ASSERT_TRUE(opens.opened(2, payload, sizeof payload, false, 0));
        uint32_t duration = 0;
        const auto inNoFile = [](const EventRunOpens::Open&) { return false; };
        EXPECT_EQ(opens.endRun(c.end, inNoFile, [&](const EventRunOpens::Open& o) { duration = be_get32(o.payload + 8); }),
                  1u);
        EXPECT_EQ(duration, c.duration);
    }
}
