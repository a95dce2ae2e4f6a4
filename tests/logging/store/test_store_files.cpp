// The file store's decisions: which file a record joins, when a file closes,
// frames handed over by age, the D-flag cleanup of a drive.
#include <gtest/gtest.h>

#include "host/kernel/kernel.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/events/event_apps.h"
#include "logging/app/meas_app_internal.h"
#include "logging/events/event_logger.h"
#include "logging/store/virtual_file.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

#include <atomic>
#include "store_fixture.h"

namespace {
// An event of one byte (its id) stamped ts, as m01's event logger hands it on.
void putEventOfM01(uint8_t id, uint32_t ts) {
    const uint8_t e[] = {id};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, e, 1, ts, MEAS_META_EVENT);
}

// An event of PID 2 opened at `start` as the command brings it to the
// logger (id, start, duration, kind, severity, PID, name and description),
// written at once.
void putEventOfPid2(eventlogger& logger, uint32_t id, uint32_t start, uint32_t duration) {
    uint8_t p[EVENT_PAYLOAD_FIXED + 4] = {};
    be_put32(p, id);
    be_put32(p + 4, start);
    be_put32(p + 8, duration);
    p[12] = 2;
    p[13] = 6;
    be_put16(p + 14, 2);
    p[16] = 'T';
    const uint32_t sortTime = duration == EVENT_DURATION_OPEN ? start : start + duration;
    logger.putEvent(p, sizeof p, 2, sortTime, time_getTimestamp(), time_stepCount());
    logger.flushUntil(sortTime);
}
}  // namespace

namespace {

std::vector<std::string> closings;
int recordClosing(const MeasAppStore_SbRequest* r, unsigned, unsigned) {
    closings.push_back(r->fileName);
    return 3;   // busy: the store closes the file itself
}
uint32_t flags = 0;
uint32_t getFlags() { return flags; }

}  // namespace

TEST_F(StoreTest, LateRecordsJoinTheirFileAndTheLastBlockClosesIt) {
    closings.clear();
    MeasAppStoreHooks h{};
    h.sbCreate = recordClosing;
    MeasAppStore_setHooks(h);
    configure();
    feed(0, 1000);
    feed(1, 1000);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);   // block 1 opens the next file
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 2u);
    EXPECT_TRUE(closings.empty());   // block 2 still writes into the first
    feed(1, 1490);   // late, but before the trigger: the old file
    EXPECT_TRUE(closings.empty());
    feed(1, 1520);   // the second block leaves: now the first file closes
    ASSERT_EQ(closings.size(), 1u);
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 1u);
    closeAndDrain();
    ASSERT_EQ(closings.size(), 2u);
    stopStore();
    MeasAppStore_setHooks(MeasAppStoreHooks{});

    auto f = files("meas");
    ASSERT_EQ(f.size(), 2u);
    MeasFileContent first, second;
    std::string err;
    ASSERT_TRUE(meas_file_read(f[closings[0]].data(), f[closings[0]].size(), first, err, &layouts())) << err;
    ASSERT_TRUE(meas_file_read(f[closings[1]].data(), f[closings[1]].size(), second, err, &layouts())) << err;
    std::vector<uint32_t> ts1, ts2;
    for (auto& r : first.records) ts1.push_back(r.timeStamp);
    for (auto& r : second.records) ts2.push_back(r.timeStamp);
    EXPECT_EQ(ts1, (std::vector<uint32_t>{1000, 1000, 1490}));
    EXPECT_EQ(ts2, (std::vector<uint32_t>{1510, 1520}));
    // the first file names its closing time stamp
    bool closeTs = false;
    for (auto& m : first.metas) closeTs |= m.type == MEAS_META_CLOSE_TS && be_get32(m.payload.data()) == 1500;
    EXPECT_TRUE(closeTs);
}

// A block whose first record comes after the file of its time closed (the
// other blocks passed the trigger first): the record is named lost, not put
// into the next file ahead of its initial time stamp.
TEST_F(StoreTest, ARecordOfAFileClosedBeforeItsBlockJoinedIsNamedLost) {
    configure();
    feed(0, 1000);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);   // block 1 leaves the first file, the only block in it: it closes
    feed(1, 1490);
    feed(1, 1520);
    closeAndDrain();
    stopStore();
    EXPECT_TRUE(logContains(takeLogTexts(), "m01 block #2: 1 records of time stamps 1490 to 1490 lost: no file took them"));
    for (auto& [name, bytes] : files("meas")) {
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        uint32_t start = 0;
        for (auto& m : c.metas)
            if (m.type == MEAS_META_INIT_TS) start = be_get32(m.payload.data());
        for (auto& r : c.records) EXPECT_GE(r.timeStamp, start) << name;
    }
}

// A start's first file begins at the first record taken; a slower block's
// record stamped before it (another device's values delivered late) is
// named lost, not put into that file ahead of its initial time stamp.
TEST_F(StoreTest, ARecordBeforeTheFirstRecordOfAStartIsNamedLost) {
    configure();
    feed(0, 1000);
    feed(1, 990);
    feed(1, 1010);
    closeAndDrain();
    stopStore();
    EXPECT_TRUE(logContains(takeLogTexts(), "m01 block #2: 1 records of time stamps 990 to 990 lost: no file took them"));
    auto f = files("meas");
    ASSERT_EQ(f.size(), 1u);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(f.begin()->second.data(), f.begin()->second.size(), c, err, &layouts())) << err;
    std::vector<uint32_t> stamps;
    for (auto& r : c.records) stamps.push_back(r.timeStamp);
    EXPECT_EQ(stamps, (std::vector<uint32_t>{1000, 1010}));
}

// Without a lap or fragment trigger since the start (a first start, or any
// start after a stop) a file begins with the record that opens it: its
// initial time stamp is that record's, and an event is put only into the
// file whose time holds it, not one from before its first record, nor one
// far ahead of the device's time (a time that has stepped back since). A
// stop ends the file's time at its newest record.
TEST_F(StoreTest, AFileBeginsAtItsFirstRecordAndTakesOnlyTheEventsOfItsTime) {
    configure();
    const uint32_t now = time_getTimestamp();
    const auto event = [](uint8_t id, uint32_t ts) { putEventOfM01(id, ts); };
    feed(0, now - 30000);
    feed(1, now - 30000);
    event(1, now - 31000);      // before the file's first record
    event(2, now - 29000);
    event(3, now + 5000000);    // 500 s ahead
    feed(0, now - 20000);
    // a stop: the file's time ends at its newest record when its first block leaves
    meas_app_close_file(&blocks[0], SB_PERIOD);
    event(6, now - 21000);
    event(7, now - 15000);      // after it
    closeAndDrain();
    LapOutFra_setFragmentTrig(0);   // as a stop does
    feed(0, now - 10000);
    feed(1, now - 10000);
    event(4, now - 25000);      // the first file's time, that file is closed
    event(5, now - 9000);
    closeAndDrain();
    stopStore();

    auto f = files("meas");
    ASSERT_EQ(f.size(), 2u);
    std::vector<uint32_t> starts;
    std::vector<std::vector<uint8_t>> events;
    for (auto& [name, bytes] : f) {
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        for (auto& m : c.metas) {
            if (m.type == MEAS_META_INIT_TS) starts.push_back(be_get32(m.payload.data()));
            if (m.type == MEAS_META_EVENT) events.push_back(m.payload);
        }
    }
    EXPECT_EQ(starts, (std::vector<uint32_t>{now - 30000, now - 10000}));
    EXPECT_EQ(events, (std::vector<std::vector<uint8_t>>{{2}, {6}, {5}}));
}

// After a step back of the time, the file that recorded the old time (its
// start far ahead of the device's time now) takes the events of that time,
// such as an event closed at the step after its last record, until its
// close is under way; a stamp before its start finds no file. The events of
// the new time (opened again at the step, stamped at the new time's start or
// just before the step was noted, or later) go into the new time's first
// file, which the restart begins at the step; one that finds no file is
// dropped with a line that names it.
TEST_F(StoreTest, TheEventsOfATimeThatSteppedBackGoIntoItsFileWhileItIsOpen) {
    configure();
    const uint32_t now = time_getTimestamp();
    const uint32_t old = now + 10000000;   // 1000 s ahead
    const uint32_t step = now - 20000;     // the new time began 2 s ago
    const auto event = [](uint8_t id, uint32_t ts) { putEventOfM01(id, ts); };
    feedOldFileThenStep(old, old + 12000, step);
    event(1, old + 12000);   // closed at the step, after the last record
    event(2, old - 1000);
    event(4, step);          // opened again at the step, before the new time's file
    event(5, step + 1000);   // in the new time, before its file
    closeAndDrain();
    event(3, old + 13000);   // the file is closed
    LapOutFra_setFragmentTrig(0);   // as the stop at the step does
    LapOutFra_beginAt(step);        // as the restart's start does
    feed(0, step + 10000);
    feed(1, step + 10000);
    event(6, step - 100);    // opened in the new time just before the step was noted
    // a stop closed the recording's events: a later one of the new time is
    // named, once
    meas_app_PreTrigEndEvents(meas[0].store);
    takeLogTexts();
    event(8, step + 10000);
    EXPECT_EQ(countContaining(takeLogTexts(), "the recording of its file has ended"), 1);
    // the old time's file is gone once written: then the new time's closes
    std::vector<std::string> seen;
    ASSERT_TRUE(waitFor([&] {
        for (auto& t : takeLogTexts()) seen.push_back(t);
        return logContains(seen, "destroying index 0,");
    }, 10000));
    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    event(7, step);          // its file is closing: none is left to take it
    closeAndDrain();
    stopStore();
    EXPECT_TRUE(logContains(takeLogTexts(), "no file of its time came"));

    auto events = eventsByFileStart();
    for (auto& [k, v] : events) std::printf("DBG file %u (now %u): %zu events %d\n", k, now, v.size(), v.empty() ? -1 : int(v[0][0]));
    for (auto& l : takeLogTexts()) if (l.find("retrig") != std::string::npos || l.find("event") != std::string::npos) std::printf("DBG log %s\n", l.c_str());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[old], (std::vector<std::vector<uint8_t>>{{1}}));
    EXPECT_EQ(events[step], (std::vector<std::vector<uint8_t>>{{4}, {5}, {6}}));
}

// An event opened again at a step waits, past the stop at the step, for the
// new time's first file; the next file begins well after it, so it is
// dropped and named, as is one that finds no room to wait. The event logger
// that wrote it forgets it: no file ever holds its end, neither its own
// close nor the next stop's.
TEST_F(StoreTest, AnOpenHeldAtAStepAndDroppedIsClosedInNoFile) {
    configureWithEvents();
    const uint32_t now = time_getTimestamp();
    const uint32_t step = now - 40000;   // the new time began 4 s ago
    const uint32_t next = step + 30000;  // the next file's first record, 3 s after the step
    feedOldFileThenStep(now + 10000000, now + 10012000, step);
    auto logger = std::make_unique<eventlogger>(0, meas[0].store, 0);
    const auto event = [&](uint32_t id, uint32_t duration) { putEventOfPid2(*logger, id, step, duration); };
    takeLogTexts();
    event(0x010001E3, EVENT_DURATION_OPEN);   // closed later by its source
    event(0x02000001, EVENT_DURATION_OPEN);   // open at the next stop
    for (uint32_t id = 0x02000010; id < 0x0200002E; ++id) event(id, EVENT_DURATION_OPEN);
    event(0x0200002E, EVENT_DURATION_OPEN);   // no room is left to hold it
    EXPECT_EQ(countContaining(takeLogTexts(), "events of a step wait for its file already"), 1);
    logger->endRun(-1, step);   // the stop at the step: they wait for the next recording's file
    closeAndDrain();
    LapOutFra_setFragmentTrig(0);
    feed(0, next);
    feed(1, next);
    EXPECT_EQ(countContaining(takeLogTexts(), "opened at a step of the time, dropped: no file of its time came"), 32);
    event(0x010001E3, 35000);   // in the next file's time
    const int vf = measure::store::virtualFiles.find(0, next, time_stepCount());
    ASSERT_GE(vf, 0);
    logger->endRun(vf, next);   // the next recording's stop
    logger.reset();
    closeAndDrain();
    stopStore();
    EXPECT_EQ(countContaining(takeLogTexts(), "closed at the stop"), 0);

    auto events = eventsByFileStart();
    EXPECT_TRUE(events[next].empty()) << events[next].size() << " ends of events the file never held";
}

// Events of a new time wait for its first file whether they come before the
// stop at the step or after it, while the old time's file is still being
// written: either way the new file takes them, and the stop of its own
// recording closes them there. The stop at the step closes neither into the
// old file, nor does an event of the new time stamped in that file's time
// go into it.
TEST_F(StoreTest, AnOpenHeldBeforeOrAfterTheStopAtAStepIsClosedByItsNewFilesStop) {
    configureWithEvents();
    const uint32_t now = time_getTimestamp();
    const uint32_t step = now - 40000;   // the new time began 4 s ago
    const uint32_t old = now + 10000000;
    feedOldFileThenStep(old, old + 12000, step);
    auto logger = std::make_unique<eventlogger>(0, meas[0].store, 0);
    takeLogTexts();
    putEventOfPid2(*logger, 0x02000001, step, EVENT_DURATION_OPEN);          // before the stop at the step
    // of the new time, yet stamped in the old file's time far ahead of it:
    // no file of the time now holds it, and the old one is of another time
    const uint8_t ahead[] = {1};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, ahead, 1, old + 11000, MEAS_META_EVENT, time_stepCount());
    logger->endRun(measure::store::virtualFiles.find(0, old, time_stepCount()), old + 12000);   // the stop at the step
    putEventOfPid2(*logger, 0x010001E3, step + 1000, EVENT_DURATION_OPEN);   // after it, before the new file
    EXPECT_EQ(countContaining(takeLogTexts(), "closed at the stop"), 0);
    closeAndDrain();
    LapOutFra_setFragmentTrig(0);   // as the stop at the step does
    LapOutFra_beginAt(step);        // as the restart's start does
    feed(0, step + 10000);
    feed(1, step + 10000);
    const int vf = measure::store::virtualFiles.find(0, step + 10000, time_stepCount());
    ASSERT_GE(vf, 0);
    logger->endRun(vf, step + 20000);   // the new recording's stop
    EXPECT_EQ(countContaining(takeLogTexts(), "closed at the stop"), 2);
    logger.reset();
    closeAndDrain();
    stopStore();

    auto events = eventsByFileStart();
    ASSERT_EQ(events.size(), 1u) << "an event in the old time's file";
    std::map<uint32_t, std::vector<uint32_t>> durations;   // by id, in file order
    for (auto& p : events[step]) {
        ASSERT_GE(p.size(), 16u);
        durations[be_get32(p.data() + 4)].push_back(be_get32(p.data() + 12));
    }
    EXPECT_EQ(durations[0x02000001], (std::vector<uint32_t>{EVENT_DURATION_OPEN, 20000}));
    EXPECT_EQ(durations[0x010001E3], (std::vector<uint32_t>{EVENT_DURATION_OPEN, 19000}));
}

// A measurement that records another device's values only: when that
// device falls silent, the file takes no record after its last one, while
// this device's events go on in its time. An event waits until the
// recording has taken a record at or after its stamp; the stop ends the file
// at its newest record and closes there the events the file holds, and an
// event stamped after that end never reaches it (it is dropped with a line
// once the recording has ended), nor does its close at the stop.
TEST_F(StoreTest, AnEventAfterTheNewestRecordWaitsForRecordsAndTheStopBeforeItKeepsItOut) {
    configureWithEvents();
    const uint32_t now = time_getTimestamp();
    const uint32_t last = now - 20000;   // the newest record so far
    const auto recorded = [&](uint32_t ts) {
        feed(0, ts);
        meas_app_noteRecorded(meas[0], ts);   // as the logging raster notes what it takes
    };
    meas_app_recordingStarts(meas[0]);
    feed(1, now - 30000);
    recorded(now - 30000);
    recorded(last);
    auto logger = std::make_unique<eventlogger>(0, meas[0].store, 0);
    putEventOfPid2(*logger, 0x02000001, last - 1000, EVENT_DURATION_OPEN);   // before the newest record
    putEventOfPid2(*logger, 0x02000002, last + 500, EVENT_DURATION_OPEN);    // after it: waits
    const size_t free = logger->freeItems();
    recorded(last + 1000);   // the source goes on past it, then falls silent
    ASSERT_TRUE(logger->flushPass(last + 500, now));
    EXPECT_EQ(logger->freeItems(), free + 1) << "the event did not wait for the records";
    putEventOfPid2(*logger, 0x02000003, last + 2000, EVENT_DURATION_OPEN);   // after the last record
    const int vf = measure::store::virtualFiles.find(0, last, time_stepCount());
    ASSERT_GE(vf, 0);
    takeLogTexts();
    logger->endRun(vf, last + 1000);   // the stop: the file ends at its newest record
    EXPECT_EQ(countContaining(takeLogTexts(), "closed at the stop"), 2);
    meas_app_recordingStarts(meas[0]);   // none of this recording's records is taken any more
    ASSERT_TRUE(logger->flushPass(last + 2000, now));
    EXPECT_TRUE(logContains(takeLogTexts(), "the recording of its file has ended"));
    logger.reset();
    closeAndDrain();
    stopStore();

    auto events = eventsByFileStart();
    ASSERT_EQ(events.size(), 1u);
    std::map<uint32_t, std::vector<uint32_t>> durations;   // by id, in file order
    for (auto& p : events[now - 30000]) {
        ASSERT_GE(p.size(), 16u);
        durations[be_get32(p.data() + 4)].push_back(be_get32(p.data() + 12));
    }
    EXPECT_EQ(durations[0x02000001], (std::vector<uint32_t>{EVENT_DURATION_OPEN, 2000}));
    EXPECT_EQ(durations[0x02000002], (std::vector<uint32_t>{EVENT_DURATION_OPEN, 500}));
    EXPECT_TRUE(durations[0x02000003].empty()) << "an event after the file's end";
}

// A step back smaller than the old file's time (a master back 0.3 s behind):
// the stamps of the new time lie in the old file's time, yet its events
// (opened again at the step, a restarted master's) never go into it. They
// wait for the new time's first file, which the restart begins at the step,
// or with one sent before this device stepped onto it (up to a second: a
// master's new run is stepped onto after its first gap stamps; a step forward after it
// goes on in the new time); one stamped in the old
// time (judged as it came, or by how far ahead of the new time it lies)
// goes into the old file, and into none once that file is gone. One stamped
// far ahead of this device's time goes into none.
TEST_F(StoreTest, AfterASmallStepBackTheEventsOfTheNewTimeWaitForItsFirstFile) {
    configure();
    const uint32_t now = time_getTimestamp();
    const uint32_t old = now - 20000;   // the old file's first record, 2 s ago
    const auto event = [](uint8_t id, uint32_t ts) { putEventOfM01(id, ts); };
    feedOldFileThenStep(old, now + 3000, now);   // 0.3 s back: the new time is now
    TimeStep step{};
    const uint32_t timeNow = time_stepBackCount(&step);
    ASSERT_EQ(step.after, now);
    time_stepNote(now + 1502, 2);   // and 0.15 s forward (a quicker message): the new time goes on
    ASSERT_EQ(time_stepCount(), timeNow + 1);
    event(1, now + 3000);   // closed at the step, in the old time
    event(2, now);          // opened again at the step
    event(3, now + 1000);   // a restarted master's, 0.1 s into the new time
    const uint8_t late[] = {4}, early[] = {6}, earlier[] = {7};
    // came before the step: the old time's, and the restarted master's (the
    // earlier one sent 0.9 s before this device stepped onto its new run)
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, late, 1, old + 15000, MEAS_META_EVENT, timeNow - 1);
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, early, 1, now - 800, MEAS_META_EVENT, timeNow);
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, earlier, 1, now - 9000, MEAS_META_EVENT, timeNow);
    closeAndDrain();
    LapOutFra_setFragmentTrig(0);   // as the stop at the step does
    LapOutFra_beginAt(now);         // as the restart's start does
    feed(0, now + 4000);
    feed(1, now + 4000);
    // of the new time (this test's clock stands while its records go on)
    const uint8_t newer[] = {5};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, newer, 1, now + 4500, MEAS_META_EVENT, time_stepCount());
    // the old time's, come late: its stamp lies in the new file's time, yet
    // its own file is gone, and no file of the new time takes it
    const uint8_t stale[] = {9};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, stale, 1, now + 2000, MEAS_META_EVENT, timeNow - 1);
    // 500 s ahead, judged of the new time: of no time this device has been
    // in, the new file's neither, open as it is
    const uint8_t ahead[] = {8};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, ahead, 1, now + 5000000, MEAS_META_EVENT, timeNow + 1);
    closeAndDrain();
    stopStore();

    auto events = eventsByFileStart();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[old], (std::vector<std::vector<uint8_t>>{{1}, {4}}));
    EXPECT_EQ(events[now - 9000], (std::vector<std::vector<uint8_t>>{{2}, {3}, {6}, {7}, {5}}));
}

// An event stamped 0.1 s before a step back of 0.05 s that comes after the
// step: its stamp lies nearer the new time where it came, yet its source
// knew the time it was stamped in, and it goes into that time's file.
TEST_F(StoreTest, AnEventOfTheOldTimeThatComesAfterASmallStepBackGoesIntoTheOldFile) {
    configureWithEvents();
    const uint32_t now = time_getTimestamp();
    const uint32_t old = now - 11500;
    feedOldFileThenStep(old, now + 500, now);   // 0.05 s back: the new time is now
    const uint32_t oldTime = time_stepCount() - 1;
    auto logger = std::make_unique<eventlogger>(0, meas[0].store, 0);
    uint8_t p[EVENT_PAYLOAD_FIXED + 4] = {};
    be_put32(p, 0x01000011);
    be_put32(p + 4, now - 1000);
    p[16] = 'T';
    logger->putEvent(p, sizeof p, 1, now - 1000, time_getTimestamp(), time_stepCount(), &oldTime);
    logger->flushUntil(now - 1000);
    logger.reset();
    closeAndDrain();
    stopStore();

    auto events = eventsByFileStart();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[old].size(), 1u);
    EXPECT_EQ(be_get32(events[old][0].data() + 4), 0x01000011u);
}

// The slave's lock onto its master's new run 0.15 s ahead is a new time,
// as a step back is: the events of the new run never go into the old run's
// file, open as it is; they wait for the new time's first file, which the
// restart begins at the step. A move as far forward within the run (a
// quicker message) is no new time, and its events go on in the open file.
TEST_F(StoreTest, AfterALockOntoTheMastersNewRunAheadItsEventsWaitForItsFirstFile) {
    configure();
    const uint32_t now = time_getTimestamp();
    const uint32_t old = now - 20000;
    // an event of the time it was stamped in, as this device's own are put
    const auto event = [](uint8_t id, uint32_t ts) {
        const uint8_t e[] = {id};
        meas_app_PreTrigPutMetaDataCopy(meas[0].store, e, 1, ts, MEAS_META_EVENT, time_stepCount());
    };
    feed(0, old);
    feed(1, old);
    feed(0, old + 10000);
    time_stepResetForTest();
    time_stepNote(now, 0);
    time_stepNote(now + 1502, 2);   // a quicker message
    event(1, now + 1600);
    // the core, locked where this device's time stands, locks anew 0.15 s ahead
    const uint32_t offset = time_getTimestamp() - host::ownTimeStamp();
    for (const uint32_t ahead : {0u, 0u, 1500u}) {
        if (ahead) host::restartTimeLock();
        host::setTimeNextGap(host::ownTimeStamp() + offset + ahead + 1000u);
    }
    time_stepNote(now + 3004, 4);
    event(2, now + 3100);   // the new run's
    closeAndDrain();
    LapOutFra_setFragmentTrig(0);   // as the stop at the step does
    LapOutFra_beginAt(now + 3004);  // as the restart's start does
    feed(0, now + 3200);
    feed(1, now + 3200);
    closeAndDrain();
    stopStore();

    auto events = eventsByFileStart();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[old], (std::vector<std::vector<uint8_t>>{{1}}));
    EXPECT_EQ(events[now + 3004], (std::vector<std::vector<uint8_t>>{{2}}));
    time_stepResetForTest();   // the fake step judges no later test's stamps
}

TEST_F(StoreTest, OldFramesAreWrittenAndDeadlinesCloseFiles) {
    MeasAppStoreHooks h{};
    h.getFlags = getFlags;
    MeasAppStore_setHooks(h);
    configure();
    awaitBothWriters();
    feed(1, 1000);
    feed(0, 1000);
    feed(0, 1010);
    MeasAppStore_checkForFlush();
    EXPECT_TRUE(waitFor([&] { return files("meas").empty(); }, 100));   // nothing written yet
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    MeasAppStore_checkForFlush();
    // the writer flushes what it wrote within half a second
    ASSERT_TRUE(waitFor(
        [&] {
            auto f = files("meas");
            return f.size() == 1 && f.begin()->second.size() > 100;
        },
        3000));

    // block 1 moves on, block 2 falls silent in the first file; its deadline
    // passes while a stop is pending: the file stays open until that is served
    LapOutFra_setFragmentTrig(1100);
    feed(0, 1110);
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 2u);
    flags = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    MeasAppStore_checkForFlush();
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 2u);
    flags = 0;
    MeasAppStore_checkForFlush();
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 1u);
    closeAndDrain();
    stopStore();
    MeasAppStore_setHooks(MeasAppStoreHooks{});
    EXPECT_EQ(files("meas").size(), 2u);
}

TEST_F(StoreTest, DriveWithTheDFlagLosesItsFilesButTheArchived) {
    writeFile("meas/A0101001.001", "old");
    writeFile("meas/A0101001.002", "keep");
    ASSERT_TRUE(host::setFileAttributes("meas:/A0101001.002", host::ATTR_ARCHIVE));
    EXPECT_EQ(MeasAppStore_driveCheckDirectoryFlags("meas:"), 0);   // no flag: nothing happens
    EXPECT_EQ(files("meas").size(), 2u);
    ASSERT_TRUE(host::setFileAttributes("meas:", 0x01));
    EXPECT_EQ(MeasAppStore_driveCheckDirectoryFlags("meas:"), 1);
    auto f = files("meas");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f.begin()->first, "A0101001.002");
    uint32_t attrs = 0;
    ASSERT_TRUE(host::getFileAttributes("meas:", &attrs));
    EXPECT_EQ(attrs & 0x01, 0u);
    EXPECT_EQ(MeasAppStore_driveCheckDirectoryFlags("meas2:"), -1);
}

TEST_F(StoreTest, StoreDeletedWithFilesOpenLeavesNothingBehind) {
    configure();
    for (uint32_t ts = 1000; ts < 3000; ts += 10) feed(0, ts);
    feed(1, 1000);
    ASSERT_EQ(MeasAppStore_queuedFiles(0), 1u);
    ASSERT_TRUE(waitFor([&] { return files("meas").size() == 1; }, 5000));
    stopStore();
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 0u);
    EXPECT_EQ(blocks[0].storeData->file, nullptr);
    feed(0, 3000);   // no store: the record is counted lost
    EXPECT_GE(meas_store_stats().meas_lost_frames_m01, 1u);
    EXPECT_EQ(files("meas").size(), 1u);
}

// The writers halted at the stop before the fast stop queued the closes (a
// logging raster that ran it late): every file still open is named as not
// closed, by its measurement and name, on a line that is never dropped.
TEST_F(StoreTest, FilesOpenWhenTheWritersHaltBeforeTheFastStopAreNamed) {
    configure();
    feed(0, 1000);
    feed(1, 1000);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);   // block 1 opens the next file, block 2 still writes into the first
    ASSERT_EQ(MeasAppStore_queuedFiles(0), 2u);
    takeLogTexts();
    meas_app_PreTrigHaltWriters(200);
    MeasAppStore_nameOpenFilesAtHalt();
    std::vector<std::string> named;
    for (const std::string& t : takeLogTexts())
        if (t.find("not closed at the stop: the fast stop had not run when the writers halted") != std::string::npos)
            named.push_back(t);
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].rfind("logging: m01: '", 0), 0u) << named[0];
    EXPECT_NE(named[0].find("(from time stamp 1000)"), std::string::npos) << named[0];
    EXPECT_NE(named[1].find("(from time stamp 1500)"), std::string::npos) << named[1];
    EXPECT_NE(named[0], named[1]);
    stopStore();
}

namespace {
std::atomic<int> copies{0};
std::string copiedName;
uint16_t copiedFragment = 0;
void copyTask(uint16_t, uint16_t, uint16_t, uint16_t fragment, unsigned measIdx, char* name, uint8_t owned) {
    copiedName = name ? name : "";
    copiedFragment = fragment;
    EXPECT_EQ(measIdx, 0u);
    if (owned) std::free(name);
    copies.fetch_add(1);
}
}  // namespace

TEST_F(StoreTest, FileCopyRunsOnceOnTheInternalWriter) {
    meas_app_setCopyFileTask(copyTask);
    copies = 0;
    configure();
    awaitBothWriters();
    char drive[] = "usb_meas:";
    CopyFile_t c{1, 2, 3, 4, drive, 1};
    meas_app_PreTrigCopyFile(meas[0].store, &c);
    drive[0] = 'x';   // the action keeps its own copy of the name
    ASSERT_TRUE(waitFor([&] { return copies.load() == 1; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(copies.load(), 1);   // the USB writer does not run it
    EXPECT_EQ(copiedName, "usb_meas:");
    EXPECT_EQ(copiedFragment, 4);
    meas_app_setCopyFileTask(nullptr);
    meas_app_PreTrigCopyFile(meas[0].store, &c);
    ASSERT_TRUE(waitFor([&] { return logContains(takeLogTexts(), "start of r_FileCpyTaskA task failed!"); }, 3000));
}

// A file whose name stands on its drive already (an earlier run's file) is
// made under the next free name: the copy asked for by the file's counters
// takes the file the writer made, not what stands under the counters' name,
// and it carries that file's name on the USB drive too.
TEST_F(StoreTest, TheCopyTakesTheFileTheWriterMade) {
    std::filesystem::remove_all(dir + "/usb_meas");   // no USB writer: only the copy writes there
    LapOutFraState s{};
    LapOutFra_getState(&s);
    char named[64];
    ASSERT_GT(LapOutFra_genFilenameAbsLap(named, sizeof named, 0, s.outing, s.lap, s.fragment, s.absLap), 0);
    writeFile(std::string("meas/") + named, "an earlier run's file");
    configure();
    feed(0, 1000);
    feed(1, 1000);
    closeAndDrain();
    auto f = files("meas");
    ASSERT_EQ(f.size(), 2u);
    std::string made;
    for (auto& [n, bytes] : f)
        if (n != named) made = n;
    makeDrive("usb_meas");
    meas_app_setCopyStartDelay(0);
    meas_app_copyFileTask(s.outing, s.lap, s.absLap, s.fragment, 0, const_cast<char*>("usb_meas:"), 0);
    meas_app_setCopyStartDelay(5);
    auto u = files("usb_meas");
    EXPECT_EQ(u.size(), 1u);
    EXPECT_TRUE(u.count(made) && u[made] == f[made]) << "not the recording of " << made;
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_copyLastFile() copy success from 'meas:/" + made +
                                           "' to 'usb_meas:/" + made + "'"));
}

// The writers' time stamp runs from the upper half of its range, and from
// just below its wrap across it: the flush timing still puts what a writer
// wrote on the drive within half a second, and the drive check still notices
// a drive that went.
class StoreClockLate : public StoreTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        StoreTest::SetUp();   // starts the clock from 0
        host::setTimeStampOffset(GetParam() - host::timeStamp());
    }
    void TearDown() override {
        StoreTest::TearDown();
        host::setTimeStampOffset(0);
    }
    // one frame of block 1, stamped from now on
    void feedFrame() {
        for (unsigned n = 0; n < 64; ++n, ts += 10) feed(0, ts);
    }
    uintmax_t bytesOnDrive() {
        uintmax_t n = 0;
        for (auto& e : std::filesystem::directory_iterator(dir + "/meas"))
            if (e.is_regular_file()) n += e.file_size();
        return n;
    }
    uint32_t ts = 0;
};

TEST_P(StoreClockLate, FlushTimingAndDriveCheckRun) {
    configure();
    awaitBothWriters();
    ts = time_getTimestamp();
    feedFrame();   // a frame's bytes stay in the stream until the flush timing writes them
    ASSERT_TRUE(waitFor([&] { return bytesOnDrive() > 500; }, 3000)) << "not flushed at " << std::hex << ts;
    // past the wrap (where the clock started below it) the timing goes on
    const bool wraps = GetParam() > 0x80000000u;
    ASSERT_TRUE(waitFor([&] { return !wraps || time_getTimestamp() < 0x80000000u; }, 5000));
    const uintmax_t before = bytesOnDrive();
    feedFrame();
    ASSERT_TRUE(waitFor([&] { return bytesOnDrive() > before + 500; }, 3000))
        << "not flushed at " << std::hex << time_getTimestamp();
    std::filesystem::rename(dir + "/meas", dir + "/meas.gone");
    EXPECT_TRUE(waitFor([&] { return meas_app_PreTrigTakeDriveLoss(meas[0].store) == 1; }, 3000))
        << "the drive check did not run at " << std::hex << time_getTimestamp();
    std::filesystem::rename(dir + "/meas.gone", dir + "/meas");
}

INSTANTIATE_TEST_SUITE_P(UpperHalfAndWrap, StoreClockLate, ::testing::Values(0x80000000u, 0xFFFFFFFFu - 15000u));
