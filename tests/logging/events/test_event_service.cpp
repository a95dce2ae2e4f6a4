// The event service: the message every device receives, the queue with its
// 10-per-cycle limit, the overload event and the error memory's events.
#include <string>

#include "events_fixture.h"
#include "host/kernel/kernel.h"
#include "logging/events/event_own_times.h"
#include "platform/error_mgr.h"
#include "platform/time_step.h"

namespace {

class EventServiceTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        ASSERT_EQ(eventlogging_service_createQueueForTest(), 1);
    }
    static void send(uint32_t id, uint32_t ts = 1000, const char* name = "n", const char* text = "t") {
        const EventRecord ev{id, ts, 0, EVENT_KIND_CHANNEL, EVENT_SEV_INFO};
        eventlogging_send(&ev, name, text);
    }
    EventSignals& sig() { return eventSignals(); }
};

TEST_F(EventServiceTest, MessageCarriesTheEventToAllDevicesWithTextsCutTo80) {
    const EventRecord ev{0x02000007, 123456, 5000, EVENT_KIND_CHANNEL, EVENT_SEV_WARNING};
    eventlogging_send(&ev, "Brake", "pressed hard");
    const std::string longName(100, 'N');
    eventlogging_send(&ev, longName.c_str(), "gone");
    eventlogging_send(&ev, std::string(30, 'a').c_str(), std::string(70, 'b').c_str());
    eventloggingServiceTask();

    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 3u);
    const SentEvent& e = net[0];
    EXPECT_EQ(e.dst, CI_PID_ALL);
    EXPECT_EQ(e.src, kPid);
    EXPECT_EQ(e.id, 0x02000007u);
    EXPECT_EQ(e.ts, 123456u);
    EXPECT_EQ(e.duration, 5000u);
    EXPECT_EQ(e.kind, EVENT_KIND_CHANNEL);
    EXPECT_EQ(e.severity, EVENT_SEV_WARNING);
    EXPECT_EQ(e.name, "Brake");
    EXPECT_EQ(e.text, "pressed hard");
    EXPECT_EQ(e.len, 18 + 5 + 12);
    // a name of 100 characters keeps 80 and leaves no room for the description
    EXPECT_EQ(net[1].name, std::string(80, 'N'));
    EXPECT_EQ(net[1].text, "");
    EXPECT_EQ(net[1].len, 98);
    EXPECT_EQ(net[2].text, std::string(50, 'b'));
    EXPECT_EQ(net[2].len, 98);
    // every device: this one gets them too, through its command task
    auto here = servedHere(3);
    ASSERT_EQ(here.size(), 3u);
    EXPECT_EQ(here[0].dst, kPid);
    EXPECT_EQ(here[0].id, 0x02000007u);
    EXPECT_EQ(sig().event_send_cnt, 3u);
}

TEST_F(EventServiceTest, AtMostTenLeavePerCycle) {
    for (uint32_t i = 0; i < 25; ++i) send(EVENT_ID_CHANNEL + i);
    eventloggingServiceTask();
    EXPECT_EQ(sentToNetwork().size(), 10u);
    eventloggingServiceTask();
    EXPECT_EQ(sentToNetwork().size(), 20u);
    eventloggingServiceTask();
    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 25u);
    for (uint32_t i = 0; i < 25; ++i) EXPECT_EQ(net[i].id, EVENT_ID_CHANNEL + i) << "first in, first out";
    EXPECT_EQ(sig().event_send_cnt, 25u);
    EXPECT_EQ(sig().event_send_discarded_cnt, 0u);
}

TEST_F(EventServiceTest, FullQueueSendsOneOverloadEventAndRaisesEventSourceUntilQueueingWorksAgain) {
    for (uint32_t i = 0; i < 64; ++i) send(EVENT_ID_CHANNEL + i);
    EXPECT_EQ(sentToNetwork().size(), 0u);
    send(EVENT_ID_CHANNEL + 64, 777);   // the 65th: overload
    send(EVENT_ID_CHANNEL + 65, 778);   // still overloaded: only logged and counted
    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].id, EVENT_ID_OVERLOAD);
    EXPECT_EQ(net[0].kind, EVENT_KIND_OVERLOAD);
    EXPECT_EQ(net[0].severity, EVENT_SEV_ERROR);
    EXPECT_EQ(net[0].duration, 0u);
    EXPECT_EQ(net[0].ts, 777u);
    EXPECT_EQ(net[0].name, "Event(s) discarded");
    EXPECT_EQ(net[0].text, "");
    EXPECT_TRUE(errorActive(EVENTSOURCE));
    EXPECT_EQ(raiseCount(EVENTSOURCE), 1u);
    EXPECT_EQ(sig().event_send_cnt, 1u);
    EXPECT_EQ(sig().event_send_discarded_cnt, 2u);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "eventlogging_send(): cannot send msg to queue, errno S_objLib_OBJ_UNAVAILABLE"));

    eventloggingServiceTask();   // room again
    send(EVENT_ID_CHANNEL + 66);
    EXPECT_FALSE(errorActive(EVENTSOURCE));
    EXPECT_EQ(raiseCount(EVENTSOURCE), 1u);
    // the queued events were not lost: 64 + the last one
    for (int i = 0; i < 7; ++i) eventloggingServiceTask();
    net = sentToNetwork();
    ASSERT_EQ(net.size(), 1u + 65u);
    EXPECT_EQ(net.back().id, EVENT_ID_CHANNEL + 66);
}

// The time an event was stamped in goes with it to this device's loggers,
// however the time steps while it waits in the queue, and also when the
// step is not noted yet as it is sent; one the queue refused leaves no note
// behind, the overload event sent in its place does.
TEST_F(EventServiceTest, AnOwnEventKeepsTheTimeItWasSentInWhileQueuedAcrossAStep) {
    time_stepResetForTest();
    time_stepCheck();
    const uint32_t sentIn = time_stepCount();
    send(EVENT_ID_CHANNEL + 1, 499990);
    // a time 0.5 s ahead noted, and the stamp read in this one after it: a
    // step back the 1 ms raster has not noted yet
    time_stepNote(host::timeStamp() + 5000, host::ownTimeStamp());
    ASSERT_EQ(time_stepCount(), sentIn + 1);
    send(EVENT_ID_CHANNEL + 2, 495020);
    time_stepCheck();
    ASSERT_EQ(time_stepCount(), sentIn + 2);
    eventloggingServiceTask();
    ASSERT_EQ(servedHere(2).size(), 2u);
    uint32_t timeOf = 0;
    ASSERT_TRUE(eventOwnTimes_take(EVENT_ID_CHANNEL + 1, 499990, 0, &timeOf));
    EXPECT_EQ(timeOf, sentIn);
    EXPECT_FALSE(eventOwnTimes_take(EVENT_ID_CHANNEL + 1, 499990, 0, &timeOf)) << "taken once";
    ASSERT_TRUE(eventOwnTimes_take(EVENT_ID_CHANNEL + 2, 495020, 0, &timeOf));
    EXPECT_EQ(timeOf, sentIn + 2);

    for (uint32_t i = 0; i < 64; ++i) send(EVENT_ID_CHANNEL + 100 + i);
    send(EVENT_ID_CHANNEL + 64, 777);   // refused: the overload event goes instead
    EXPECT_FALSE(eventOwnTimes_take(EVENT_ID_CHANNEL + 64, 777, 0, &timeOf));
    EXPECT_TRUE(eventOwnTimes_take(EVENT_ID_OVERLOAD, 777, 0, &timeOf));
    for (uint32_t i = 0; i < 64; ++i) EXPECT_TRUE(eventOwnTimes_take(EVENT_ID_CHANNEL + 100 + i, 1000, 0, &timeOf)) << i;
}

TEST_F(EventServiceTest, WithoutQueueEventsAreDroppedAndCounted) {
    eventlogging_service_resetForTest();
    send(EVENT_ID_CHANNEL);
    eventloggingServiceTask();
    EXPECT_EQ(sig().event_send_discarded_cnt, 1u);
    EXPECT_EQ(sentToNetwork().size(), 0u);
    EXPECT_FALSE(errorActive(EVENTSOURCE));   // no overload without a queue
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "eventloggingServiceTask, queue invalid!"));
}

TEST_F(EventServiceTest, ErrorMemoryRaisesAndClearsEventsExceptForItsOwnPaths) {
    error_mgr_setEventHook(eventlogging_errorMgrHook);
    error_mgr_set(ERRMGR_PATH_CAN_IN, ERRMGR_TYPE_RANGE, 0);
    taskDelay(3);
    error_mgr_clear(ERRMGR_PATH_CAN_IN);
    error_mgr_set(EVENTLOGGING, ERRMGR_TYPE_EVENT_OVERLOAD, 0);   // the event paths send nothing
    error_mgr_set(ERRMGR_PATH_DIRECT + 3, 1, 0);                   // nor do direct path codes
    eventloggingServiceTask();
    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 2u);
    EXPECT_EQ(net[0].id, EVENT_ID_ERRMGR + ERRMGR_PATH_CAN_IN);
    EXPECT_EQ(net[0].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[0].kind, EVENT_KIND_ERRMGR);
    EXPECT_EQ(net[0].severity, EVENT_SEV_ERROR);
    EXPECT_EQ(net[0].name, error_mgr_pathName(ERRMGR_PATH_CAN_IN));
    EXPECT_EQ(net[0].text, error_mgr_typeText(ERRMGR_TYPE_RANGE));
    EXPECT_EQ(net[1].id, net[0].id);
    EXPECT_EQ(net[1].ts, net[0].ts) << "the closing event keeps the time of the raise";
    EXPECT_GE(net[1].duration, 20u);
    EXPECT_LT(net[1].duration, EVENT_DURATION_OPEN);
}

}  // namespace
