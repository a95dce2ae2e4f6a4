// Events in the measurement files: an error of the error memory and events of
// other devices pass the event service, the command task and the event
// logger of m01 and end up as type-6 blocks of the file, named from
// "cfg:/apps.xml", about DATADELAY after their time.
#include <map>
#include <string>

#include "logging/app_fixture.h"
#include "logging/events/event_logger.h"
#include "logging/events/event_record.h"
#include "logging/events/event_service.h"
#include "logging/events/event_signals.h"
#include "logging/fifo/meas_fifo.h"
#include "platform/error_mgr.h"
#include "platform/time_step.h"

namespace {

struct FileEvent {
    uint32_t id, ts, duration;
    uint16_t pid;
    std::string name, text, app;
    size_t length;
    bool whole;          // the three texts fill the block exactly
    std::string tail;    // its last bytes
};

class EventFilesTest : public MeasAppTest {
protected:
    void SetUp() override {
        MeasAppTest::SetUp();
        writeFile("cfg/apps.xml", "<Applicationlist><Application pid=\"1\" name=\"TESTDEV\"/>"
                                  "<Application pid=\"3\" name=\"THREE\"/><Application pid=\"5\" name=\"FIVE\"/>"
                                  "</Applicationlist>");
        cal().DATADELAY = 600;
        MeasAppStoreHooks hooks{};
        hooks.getFlags = meas_app_get_flags;
        hooks.eventFlushUntil = eventLoggerFlushIdx;
        hooks.eventsEndRun = eventLoggerEndRunIdx;
        MeasAppStore_setHooks(hooks);
        ci_register_command(CI_CMD_EVENT, eventlogging_cmd);
        ASSERT_EQ(comint_init(), 1);
        ASSERT_EQ(eventlogging_service_createQueueForTest(), 1);
        error_mgr_setEventHook(eventlogging_errorMgrHook);
        eventSignals() = EventSignals{};
    }
    void TearDown() override {
        meas_app_setStopEventsHook(nullptr);
        MeasAppTest::TearDown();   // destroys the measurements and with them the loggers
        MeasAppStore_setHooks(MeasAppStoreHooks{});
        comint_shutdown();
        eventlogging_service_resetForTest();
    }
    // The rasters, and the event service every 10 ms.
    void runEvents(unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            tick();
            if (ms % 10 == 0) eventloggingServiceTask();
        }
    }
    // m01 records every millisecond, with its event logger, for 300 ms.
    void startRecording() {
        writeConfig(0, "R1ms");
        start();
        runEvents(300);
        ASSERT_NE(meas[0].eventLogger, nullptr);
    }
    uint32_t written() { return event_counter(eventSignals().event_write_cnt); }
    bool runEventsUntil(uint32_t writes, unsigned maxMs) {
        for (unsigned i = 0; i < maxMs && written() < writes; ++i) runEvents(1);
        return written() >= writes;
    }
    // The rasters and the event service, and the time service's note of
    // the time every millisecond (which sees its steps).
    void runNoted(unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            time_stepCheck();
            runEvents(1);
        }
    }
    // Every event block of the files of a folder, in file order; perFile
    // (when given) gets the number of each file's, lastRecord the stamp of
    // each file's newest record.
    std::vector<FileEvent> fileEvents(const char* folder, std::vector<size_t>* perFile = nullptr,
                                      std::vector<uint32_t>* lastRecord = nullptr) {
        std::vector<FileEvent> out;
        std::map<std::string, std::vector<uint8_t>> files;
        for (auto& e : std::filesystem::directory_iterator(dir + "/" + folder)) {
            std::ifstream in(e.path(), std::ios::binary);
            files[e.path().filename().string()] = {std::istreambuf_iterator<char>(in), {}};
        }
        for (auto& [n, bytes] : files) {
            MeasFileContent c;
            std::string err;
            EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err)) << n << ": " << err;
            if (perFile) perFile->push_back(0);
            if (lastRecord) {
                lastRecord->push_back(0);
                for (const MeasFileRecord& r : c.records)
                    if (int32_t(r.timeStamp - lastRecord->back()) > 0 || !lastRecord->back())
                        lastRecord->back() = r.timeStamp;
            }
            for (auto& m : c.metas) {
                if (m.type != 6 || m.payload.size() < 20) continue;
                if (perFile) ++perFile->back();
                const uint8_t* p = m.payload.data();
                EXPECT_EQ(be_get32(p), 0x00010001u);
                FileEvent e{be_get32(p + 4), be_get32(p + 8), be_get32(p + 12), be_get16(p + 18), {}, {}, {},
                            m.payload.size(), false, {}};
                size_t pos = 20;
                for (std::string* s : {&e.name, &e.text, &e.app}) {
                    while (pos < m.payload.size() && p[pos]) *s += char(p[pos++]);
                    ++pos;
                }
                e.whole = pos == m.payload.size();   // block length = payload + 5 + name length
                e.tail.assign(m.payload.end() - std::min<size_t>(8, m.payload.size()), m.payload.end());
                out.push_back(e);
            }
        }
        return out;
    }
    // A command 0x1500 from another device.
    static void receive(uint16_t pid, uint32_t id, uint32_t ts, const char* name, uint16_t len = 0,
                        uint32_t duration = 0) {
        uint8_t buf[EVENT_MSG_SIZE];
        const EventRecord ev{id, ts, duration, EVENT_KIND_CHANNEL, EVENT_SEV_INFO};
        const uint16_t l = event_buildMsg(buf, ev, name, "from afar", pid);
        ci_msg_t m{};
        std::memcpy(&m, buf, sizeof buf);
        ci_set_len(&m, len ? len : l);
        ci_set_dst(&m, kPid);
        ci_serve_command(&m);   // as "r_Comint" serves it, before the test's next tick
    }
};

TEST_F(EventFilesTest, AnErrorAndItsClearingAreWrittenAfterTheDataDelay) {
    writeConfig(0, "R1ms");
    start();
    runEvents(200);
    ASSERT_NE(meas[0].eventLogger, nullptr);
    const uint32_t raised = time_getTimestamp();
    error_mgr_set(ERRMGR_PATH_CAN_IN, ERRMGR_TYPE_RANGE, 0);
    runEvents(150);
    EXPECT_EQ(written(), 0u) << "held back for DATADELAY (600 ms)";
    ASSERT_TRUE(runEventsUntil(1, 5000));
    EXPECT_GE(int32_t(time_getTimestamp() - raised), 5900);
    error_mgr_clear(ERRMGR_PATH_CAN_IN);
    ASSERT_TRUE(runEventsUntil(2, 5000));
    stopAndFlush();

    auto ev = fileEvents("meas");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].id, 0x01000000u + ERRMGR_PATH_CAN_IN);
    EXPECT_NEAR(double(ev[0].ts), double(raised), 2000.0);
    EXPECT_EQ(ev[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(ev[0].pid, kPid);
    EXPECT_EQ(ev[0].name, error_mgr_pathName(ERRMGR_PATH_CAN_IN));
    EXPECT_EQ(ev[0].text, error_mgr_typeText(ERRMGR_TYPE_RANGE));
    EXPECT_EQ(ev[0].app, "TESTDEV");
    EXPECT_TRUE(ev[0].whole);
    EXPECT_TRUE(ev[1].whole);
    EXPECT_EQ(ev[1].id, ev[0].id);
    EXPECT_EQ(ev[1].ts, ev[0].ts);
    EXPECT_GE(ev[1].duration, 5900u);   // at least the delay lies between raise and clear
    EXPECT_LT(ev[1].duration, 60000u);
}

TEST_F(EventFilesTest, SourcesAreWrittenInPidOrderAndLongEventsAreCut) {
    writeConfig(0, "R1ms");
    start();
    runEvents(600);
    ASSERT_NE(meas[0].eventLogger, nullptr);
    // both due in the same pass of the flush, 570 ms from now: stamped
    // close enough to their arrival that neither waits for a step of the
    // time, which would release each by its own arrival
    const uint32_t ts = time_getTimestamp() - 300;
    receive(5, EVENT_ID_CHANNEL + 5, ts, "five");
    receive(3, EVENT_ID_CHANNEL + 3, ts, "three");
    receive(5, EVENT_ID_CHANNEL + 6, ts + 1, std::string(60, 'L').c_str(), 120);   // a foreign, overlong event
    ASSERT_TRUE(runEventsUntil(3, 5000));
    stopAndFlush();
    auto ev = fileEvents("meas");
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].pid, 3);
    EXPECT_EQ(ev[0].app, "THREE");
    EXPECT_EQ(ev[1].pid, 5);
    EXPECT_EQ(ev[1].app, "FIVE");
    EXPECT_EQ(ev[1].text, "from afar");
    EXPECT_TRUE(ev[0].whole && ev[1].whole);
    EXPECT_EQ(ev[2].id, EVENT_ID_CHANNEL + 6);
    EXPECT_EQ(ev[2].length, 4u + 98u + 5u);   // cut to 98 bytes, its texts still ended
    EXPECT_EQ(ev[2].tail, std::string("\0\0\0FIVE\0", 8));   // the cut payload ends in two zeros
}

// The event channels at the fast stop, in short: the event opened at
// openTs closes at the stop's stamp, handed to the loggers at once.
constexpr uint32_t kOpenId = EVENT_ID_CHANNEL + 4;
uint32_t openTs = 0, stopStamp = 0;
void closeOpenEvent(uint32_t stopTs) {
    stopStamp = stopTs;
    uint8_t buf[EVENT_MSG_SIZE];
    const EventRecord ev{kOpenId, openTs, stopTs - openTs, EVENT_KIND_CHANNEL, EVENT_SEV_INFO};
    event_buildMsg(buf, ev, "Throttle", "still on", 1);
    ci_msg_t m{};
    std::memcpy(&m, buf, sizeof buf);
    eventlogging_cmd(&m);
}

// An event of this device still open at an orderly stop: the fast stop hands
// its stamp, the newest record of the files it closes, to the event
// channels before the files take their events, and the close made at that
// stamp goes into the file beside its open.
TEST_F(EventFilesTest, AnEventOpenAtTheFastStopIsClosedInItsFileAtTheStopsStamp) {
    ASSERT_NO_FATAL_FAILURE(startRecording());
    openTs = time_getTimestamp() - 1000;
    receive(kPid, kOpenId, openTs, "Throttle", 0, EVENT_DURATION_OPEN);
    runEvents(30);   // served here, held back for DATADELAY
    EXPECT_EQ(written(), 0u);
    meas_app_setStopEventsHook(closeOpenEvent);
    meas_app_remotefaststop();
    ASSERT_TRUE(runUntil([] { return meas_app_flushPending() == 0; }, 950));
    auto recs = records("meas");
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(stopStamp, recs.back().ts) << "the stop's stamp is the newest record";
    auto ev = fileEvents("meas");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].ts, openTs);
    EXPECT_EQ(ev[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(ev[1].ts, openTs);
    EXPECT_EQ(ev[1].duration, stopStamp - openTs);
}

}  // namespace

namespace {

// `meas stop` while events are open: a peer's and this device's own. Each
// file ends with the close of every event it holds open, at the stop's
// stamp (the newest record); the closes the events get later, and those
// of events opened while nothing recorded, reach no file of the next
// recording, which holds no open of them.
TEST_F(EventFilesTest, EventsOpenAtAStopAreClosedInTheirFilesAndNoLaterCloseReachesTheNextRecording) {
    ASSERT_NO_FATAL_FAILURE(startRecording());
    const uint32_t opened = time_getTimestamp() - 1000;
    receive(3, EVENT_ID_CHANNEL + 7, opened, "peer", 0, EVENT_DURATION_OPEN);
    receive(kPid, EVENT_ID_CHANNEL + 8, opened + 10, "own", 0, EVENT_DURATION_OPEN);
    ASSERT_TRUE(runEventsUntil(2, 5000));
    stopAndFlush();
    const uint32_t between = time_getTimestamp();
    auto first = fileEvents("meas");
    const uint32_t stopStamp = records("meas").back().ts;
    ASSERT_EQ(first.size(), 4u);
    for (const FileEvent& e : first) {
        EXPECT_TRUE(e.ts == opened || e.ts == opened + 10) << e.ts;
        if (e.duration != EVENT_DURATION_OPEN) {
            EXPECT_EQ(e.ts + e.duration, stopStamp) << "closed at the stop";
        }
    }
    EXPECT_EQ(first[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(first[1].duration, EVENT_DURATION_OPEN);

    // their own closes come later; one of an event opened between the
    // recordings comes in the next
    receive(3, EVENT_ID_CHANNEL + 7, opened, "peer", 0, between + 100 - opened);
    receive(kPid, EVENT_ID_CHANNEL + 9, between, "between", 0, EVENT_DURATION_OPEN);
    sp().meas_app_startreq = 1;
    runEvents(300);
    receive(kPid, EVENT_ID_CHANNEL + 8, opened + 10, "own", 0, time_getTimestamp() - opened - 10);
    receive(kPid, EVENT_ID_CHANNEL + 9, between, "between", 0, time_getTimestamp() - between);
    const uint32_t inSecond = time_getTimestamp() - 50;
    receive(5, EVENT_ID_CHANNEL + 10, inSecond, "second", 0, 0);
    ASSERT_TRUE(runEventsUntil(5, 5000));
    runEvents(1200);
    stopAndFlush();
    auto all = fileEvents("meas");
    ASSERT_GE(all.size(), first.size());
    std::vector<FileEvent> second(all.begin() + long(first.size()), all.end());
    ASSERT_EQ(second.size(), 1u) << "only the second recording's own event";
    EXPECT_EQ(second[0].ts, inSecond);
}

// An orderly stop holds the flush task from its beginning until it ends the
// recording: an event due meanwhile waits, and goes into the file at the
// stop (it is stamped before the stop's newest record); a stop that never
// ends the recording holds it for two seconds at most.
TEST_F(EventFilesTest, AStopHoldsTheFlushUntilItEndsTheRecording) {
    ASSERT_NO_FATAL_FAILURE(startRecording());
    eventLoggersHoldForStop();
    receive(5, EVENT_ID_CHANNEL + 5, time_getTimestamp() - 100, "waits");
    runEvents(1000);
    EXPECT_EQ(written(), 0u) << "written while the stop held the flush";
    runEvents(1100);
    EXPECT_EQ(written(), 1u) << "held longer than the bound";
    eventLoggersHoldForStop();
    receive(5, EVENT_ID_CHANNEL + 6, time_getTimestamp() - 100, "at the stop");
    runEvents(200);
    stopAndFlush();
    EXPECT_EQ(written(), 2u);
    EXPECT_EQ(fileEvents("meas").size(), 2u);
}

// The close of an event open at a stop, stamped after the newest record
// the files end at, is flushed before the stop closes the recording's open
// events: no file takes it, and the stop still closes the event at its
// stamp in the file that holds its open.
TEST_F(EventFilesTest, AClosePastTheFilesEndBeforeTheStopLeavesTheStopToCloseItsEvent) {
    ASSERT_NO_FATAL_FAILURE(startRecording());
    const uint32_t opened = time_getTimestamp() - 1000;
    receive(kPid, EVENT_ID_CHANNEL + 8, opened, "own", 0, EVENT_DURATION_OPEN);
    ASSERT_TRUE(runEventsUntil(1, 5000));
    const uint32_t end = MeasAppStore_endOpenFiles();
    receive(kPid, EVENT_ID_CHANNEL + 8, opened, "own", 0, end + 5 - opened);
    eventLoggerFlushIdx(0, end + 5);
    stopAndFlush();
    auto ev = fileEvents("meas");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(ev[1].ts, opened);
    EXPECT_EQ(ev[1].ts + ev[1].duration, end) << "closed at the stop";
}

// The time master (PID 3) runs anew behind this device's time: until this
// device's time follows it, its events are stamped in its new time, a
// little behind, and would pass for late events of this time's files. Those
// that came before its first time message are dropped when that comes,
// those after it as they come, each named; its old run's close at its last
// value (late as well) and another peer's go on, and once the time stepped
// onto the new run the master's are taken again.
TEST_F(EventFilesTest, TheTimeMastersNewRunsEventsStayOutOfTheOldTimesFiles) {
    ASSERT_NO_FATAL_FAILURE(startRecording());
    const uint32_t opened = time_getTimestamp() - 100;
    receive(3, EVENT_ID_CHANNEL + 7, opened, "old run", 0, EVENT_DURATION_OPEN);
    ASSERT_TRUE(runEventsUntil(1, 5000));
    takeLogTexts();
    const uint32_t ts = time_getTimestamp() - 4000;
    receive(3, EVENT_ID_CHANNEL + 7, opened, "old run", 0, ts - opened);   // closed at its last value
    receive(3, EVENT_ID_CHANNEL + 2, ts + 100, "new run, early", 0, EVENT_DURATION_OPEN);
    fifo_data_master_runs_anew(3);   // its first time message, as the time service hears it
    eventLoggerMasterRunsAnew(3);
    receive(3, EVENT_ID_CHANNEL + 3, ts + 200, "new run", 0, EVENT_DURATION_OPEN);
    receive(5, EVENT_ID_CHANNEL + 5, ts + 3900, "other");
    ASSERT_TRUE(runEventsUntil(3, 5000));
    runEvents(1100);
    EXPECT_EQ(written(), 3u);
    const auto log = takeLogTexts();
    for (const auto& [id, at] : {std::pair{"0x02000002", ts + 100}, std::pair{"0x02000003", ts + 200}})
        EXPECT_TRUE(logContains(log, std::string("event ") + id + " of PID 0x3 at " + std::to_string(at) +
                                         " not written: it is of the time master's new run"))
            << id;
    fifo_data_step_back();   // what the time's step back onto the new run counts
    EXPECT_FALSE(fifo_data_of_masters_new_run(3));
    stopAndFlush();
    auto ev = fileEvents("meas");
    ASSERT_EQ(ev.size(), 3u);
    std::map<uint32_t, uint32_t> durations;   // by id
    for (const FileEvent& e : ev) durations[e.id] += e.duration == EVENT_DURATION_OPEN ? 0 : e.duration;
    EXPECT_EQ(durations, (std::map<uint32_t, uint32_t>{{EVENT_ID_CHANNEL + 5, 0}, {EVENT_ID_CHANNEL + 7, ts - opened}}))
        << "the old run's open and close, and the other peer's";
}

}  // namespace

namespace {

// A step back of the time (0.5 s) restarts the measurement: a peer's event
// open then closes in the old time's file at its last record. A peer that
// steps a moment later sends events of the old time stamped after that
// record (its close, an open): they come in the new time's first moments
// and go into no file of the new time.
TEST_F(EventFilesTest, AnOldTimesEventsCloseInItsFileAndNeverReachTheNewTimesFile) {
    writeConfig(0, "R1ms");
    start();
    runNoted(300);
    ASSERT_NE(meas[0].eventLogger, nullptr);
    const uint32_t opened = time_getTimestamp() - 1000;
    receive(3, EVENT_ID_CHANNEL + 7, opened, "peer", 0, EVENT_DURATION_OPEN);
    ASSERT_TRUE(runEventsUntil(1, 5000));
    const uint32_t before = time_getTimestamp();
    host::setTimeStampOffset(uint32_t(-5000));   // 0.5 s back
    runNoted(100);
    receive(5, EVENT_ID_CHANNEL + 11, before + 1500, "late", 0, EVENT_DURATION_OPEN);
    receive(3, EVENT_ID_CHANNEL + 7, opened, "peer", 0, before + 1500 - opened);
    runNoted(2500);
    ASSERT_EQ(sp().meas_app_running, 1);
    stopAndFlush();
    std::vector<size_t> perFile;
    std::vector<uint32_t> lastRecord;
    auto ev = fileEvents("meas", &perFile, &lastRecord);
    ASSERT_EQ(perFile.size(), 2u) << "the old time's file and the new time's";
    EXPECT_EQ(perFile[1], 0u) << "an old time's event in the new time's file: " << ev.back().pid << " at "
                              << ev.back().ts << " for " << ev.back().duration;
    ASSERT_EQ(perFile[0], 2u);
    EXPECT_EQ(ev[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(ev[1].ts, opened);
    // the last record of the old time, however late the test's thread ran
    // after it
    EXPECT_LE(int32_t(lastRecord[0] - (ev[1].ts + ev[1].duration)), 20) << "closed at the old time's last record";
    EXPECT_GE(int32_t(lastRecord[0] - (ev[1].ts + ev[1].duration)), 0);
    EXPECT_GE(int32_t(before - lastRecord[0]), 0);
}

}  // namespace
