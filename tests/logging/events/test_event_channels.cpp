// Event channels: the reader of "cfg:/eventcfg.xml", the conversion of an
// input and the edge detection on values delivered by the gateway.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "events_fixture.h"
#include "logging/nested_xml.h"
#include "logging/events/event_channels.h"
#include "logging/fifo/meas_fifo.h"
#include "measurement/catalogue.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/signalpage.h"
#include "platform/time_step.h"

namespace {

uint32_t gNow = 1000;
uint32_t gOwn = 0;   // the own count, for the time base of gNow
uint32_t fakeNow(uint32_t* steps) {
    if (steps) *steps = time_stepCountOf(gNow, gOwn);
    return gNow;
}

class EventChannelsTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        dynkomm_init(0x1234);
        ASSERT_EQ(catalogue_init(), 1);
        routing_init(kPid);
        ASSERT_EQ(gw_init(kPid), 1);
        ASSERT_EQ(meas_man_init(), 1);
        makeDrive("cfg");
        ASSERT_EQ(eventlogging_service_createQueueForTest(), 1);
        gNow = 1000;
        eventChannels_setTimeSource(fakeNow);
    }
    void TearDown() override {
        eventChannelsDelete();
        eventChannels_setTimeSource(nullptr);
        gw_shutdown();
        meas_man_shutdown();
        EventsTest::TearDown();
    }
    static std::string adr(const char* name) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%08X", unsigned(catalogue_addr(name) & 0xFFFFFF) | (unsigned(kPid) << 24));
        return b;
    }
    // The address as configuration tools write it: in decimal.
    static std::string decimalAdr(const char* name) {
        return std::to_string(unsigned(catalogue_addr(name) & 0xFFFFFF) | (unsigned(kPid) << 24));
    }
    static std::string input(const char* var, const char* type = "FLOAT", const char* coeff = "b=\"1\" c=\"0\" f=\"1\"",
                             const char* mask = "0", const std::string& address = "") {
        return std::string("<triggerInput type=\"") + type + "\" adr=\"" + (address.empty() ? adr(var) : address) +
               "\" mask=\"" + mask + "\" a=\"0\" " + coeff + " d=\"0\" e=\"0\" name=\"" + var + "\" vtab=\"\"/>";
    }
    static std::string event(const std::string& attrs, const std::string& body) {
        return "<Event " + attrs + ">" + body + "</Event>\n";
    }
    // Reads the file as the start-up does; the log of the reading.
    std::vector<std::string> load(const std::string& events) {
        writeFile("cfg/eventcfg.xml", "<?xml version=\"1.0\"?>\n<EventList version=\"1\">\n" + events + "</EventList>\n");
        takeLogTexts();
        eventChannelsInitTask();
        return takeLogTexts();
    }
    // One 10 ms cycle: the values go through the gateway (unless the source
    // is silent), the detection runs and the service sends.
    void cycle(bool data = true) {
        gNow += 100;
        if (data) meas_man_copy_raster(EVENTCH_RASTER, gNow);
        gw_distribute(EVENTCH_RASTER);
        eventChannels_10ms();
        eventloggingServiceTask();
    }
    SignalPage& sp() { return *signalPage(); }
    uint8_t flag(unsigned idx) { return eventSignals().Cfg_events_arr[idx]; }
};

TEST(EventChDataTest, ConversionMasksUnsignedShiftsSignedAndScales) {
    const float unit[6] = {0, 1, 0, 0, 0, 1};
    EventChData u16(0x01000010, 0x0F00, TE_UINT16, "u", "", unit);
    EXPECT_EQ(u16.elemType(), GW_UINT16);
    EXPECT_EQ(u16.shift(), 8);
    const uint8_t v1234[2] = {0x12, 0x34};
    EXPECT_FALSE(u16.getMeasUpdateState());
    u16.putData(v1234);
    EXPECT_TRUE(u16.getMeasUpdateState());
    EXPECT_EQ(u16.getQuantDataU32(), 2u);
    EXPECT_EQ(u16.getRawDataU32(), 0x1234u);

    EventChData s16(0x01000010, 0xFF00, TE_SINT16, "s", "", unit);   // shifted arithmetically, not masked
    const uint8_t vFF10[2] = {0xFF, 0x10};
    s16.putData(vFF10);
    EXPECT_EQ(s16.getQuantDataS32(), -1);
    EXPECT_EQ(s16.getQuantDataU32(), 0u) << "negative values count as 0";

    const float lin[6] = {9, 4, 1, 9, 9, 2};   // (2 x - 1) / 4; a, d and e unused
    EventChData f(0x01000010, 0, TE_FLOAT, "f", "", lin);
    uint8_t v[4];
    be_putf(v, 3.5f);
    f.putData(v);
    EXPECT_DOUBLE_EQ(f.getQuantData(), 1.5);
    be_putf(v, 0.25f);
    f.putData(v);   // a new value is converted anew
    EXPECT_DOUBLE_EQ(f.getQuantData(), -0.125);
    f.setTimeout();
    EXPECT_FALSE(f.getMeasUpdateState());

    EventChData b(0x01000010, 0, TE_BOOL, "b", "", unit);
    EXPECT_EQ(b.elemType(), GW_BOOL8);
    EXPECT_EQ(b.width(), 1u);
}

TEST_F(EventChannelsTest, BrokenConfigurationsAreRefusedWithTheirPosition) {
    const std::string in = input("p_fuel");
    std::string many;
    for (int i = 0; i < 51; ++i) many += event("idx=\"" + std::to_string(i % 50) + "\"", in);
    const std::pair<std::string, std::string> cases[] = {
        {many, "events exceed supported number"},
        {event("idx=\"0\"", in) + "<Event idx=\"1\"><triggerInput adr=\"0x01000000\" mask=\"0x1000000000\" "
                                        "b=\"1\" name=\"x\" vtab=\"\"/></Event>", "attribute has wrong number (mask)"},
        {event("idx=\"0\" severity=\"Fatal\"", in), "unsupported severity (severity)"},
        {event("idx=\"0\" triggerEdge=\"up\"", in), "illegal trigger mode (triggerEdge)"},
        {event("idx=\"50\"", in), "illegal index (idx)"},
        {event("idx=\"0\"", "<triggerInput type=\"UINT8\" adr=\"0x01000000\" b=\"1\" vtab=\"\"/>"),
         "mandatory attribute not found (name)"},
    };
    for (const auto& [body, text] : cases) {
        auto log = load(body);
        EXPECT_TRUE(logContains(log, "eventChannelsInitTask(): " + text)) << text << "\n" << (log.empty() ? "" : log[0]);
        EXPECT_EQ(eventChannels_config(), nullptr) << text;
    }
}

TEST_F(EventChannelsTest, ErrorsOfTheFileNameIt) {
    auto log = load("<Event idx=\"0\">");   // the list ends inside an event
    EXPECT_TRUE(logContains(log, "eventChannelsInitTask(): mismatched tag in line 3 column 18 of cfg:/eventcfg.xml"))
        << (log.empty() ? "" : log[0]);
    writeFile("cfg/eventcfg.xml", "");
    eventChannelsInitTask();
    EXPECT_TRUE(logContains(takeLogTexts(),
                            "eventChannelsInitTask(): File not found, len invalid : cfg:/eventcfg.xml is empty"));
    EXPECT_EQ(eventChannels_config(), nullptr);
}

// A well-formed file without an EventList is a warning that names the file.
TEST_F(EventChannelsTest, AFileWithoutEventListIsAWarningThatNamesIt) {
    writeFile("cfg/eventcfg.xml", nestedElements("EventList2", 5000));
    takeLogTexts();
    eventChannelsInitTask();
    EXPECT_EQ(takeTextsAtSeverity(4),
              std::vector<std::string>{"eventChannelsInitTask(): cfg:/eventcfg.xml holds no EventList element, all of it ignored"});
}

TEST_F(EventChannelsTest, OneBadEventIsRefusedWithItsPositionAndTheOthersStay) {
    const std::string in = input("p_fuel");
    auto log = load(event("name=\"Good1\" idx=\"0\"", in) +
                    event("name=\"NoDivisor\" idx=\"1\"", input("p_fuel", "FLOAT", "c=\"0\" f=\"1\"")) +
                    event("name=\"ZeroDivisor\" idx=\"2\"", input("p_fuel", "FLOAT", "b=\"0\" c=\"0\" f=\"1\"")) +
                    event("name=\"BadType\" idx=\"3\"", input("p_fuel", "FLOAT64")) +
                    event("name=\"NoType\" idx=\"4\"",
                          "<triggerInput adr=\"0x01000000\" b=\"1\" name=\"x\" vtab=\"\"/>") +
                    event("name=\"Lonely\" idx=\"5\"", "<note/>") + event("name=\"Good2\" idx=\"6\"", in));
    ASSERT_NE(eventChannels_config(), nullptr) << (log.empty() ? "" : log[0]);
    EXPECT_TRUE(logContains(log, "Eventlogging channel setup with 2/50 events"));
    const auto& d = eventChannels_config()->definitions();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_STREQ(d[0].name, "Good2");
    EXPECT_STREQ(d[1].name, "Good1");
    for (const char* text : {"divisor missing or 0 (b) in line 4", "divisor missing or 0 (b) in line 5",
                             "unsupported type (type) in line 6", "unsupported type (type) in line 7",
                             "event without triggerInput (idx) in line 8"})
        EXPECT_TRUE(logContains(log, std::string("eventChannelsInitTask(): ") + text)) << text;
    // only the inputs of the kept events are subscribed
    EXPECT_EQ(eventChannels_config()->manager().inputCount(), 2u);
    // an unknown type word is no element type of the gateway
    EXPECT_EQ(EventChData::convDataType(TE_NONE), 255);

    // the kept events fire
    sp().p_fuel = 0;
    for (int i = 0; i < 3; ++i) cycle();
    sp().p_fuel = 2;
    cycle();
    const auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 2u);
    EXPECT_EQ(flag(0), 1);
    EXPECT_EQ(flag(6), 1);
    for (unsigned i = 1; i < 6; ++i) EXPECT_EQ(flag(i), 0) << i;
}

TEST_F(EventChannelsTest, AddressesAndMasksAreIntegersInDecimalOrHexadecimal) {
    sp().p_fuel = 0;
    sp().gear = 0;
    // "24913664" is 0x017C2A00: PID 1; the mask 3840 is 0x0F00
    load(event("name=\"Fuel\" idx=\"0\"", input("p_fuel", "FLOAT", "b=\"1\" c=\"0\" f=\"1\"", "0", decimalAdr("p_fuel"))) +
         event("name=\"Gear\" idx=\"1\"", input("gear", "UINT8", "b=\"1\" c=\"0\" f=\"1\"", "2", decimalAdr("gear"))) +
         event("name=\"Hex\" idx=\"2\"", input("p_fuel", "FLOAT", "b=\"1\" c=\"0\" f=\"1\"", "0x0")) +
         event("name=\"Wide\" idx=\"3\"",
               input("p_fuel", "UINT32", "b=\"1\" c=\"0\" f=\"1\"", "4294967295")));
    ASSERT_NE(eventChannels_config(), nullptr);
    const auto& d = eventChannels_config()->definitions();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[3].input->address(), (catalogue_addr("p_fuel") & 0xFFFFFF) | 0x01000000u);
    EXPECT_EQ(d[3].input->address() >> 24, 1u) << "the source is this device, PID 1";
    EXPECT_EQ(d[2].input->mask(), 2u);
    EXPECT_EQ(d[2].input->shift(), 1u);
    EXPECT_EQ(d[1].input->address(), d[3].input->address());
    EXPECT_EQ(d[0].input->mask(), 0xFFFFFFFFu);
    EXPECT_EQ(d[0].input->address(), d[3].input->address());

    for (int i = 0; i < 3; ++i) cycle();
    sp().p_fuel = 3;
    sp().gear = 2;   // bit 1
    cycle();
    auto net = sentToNetwork();
    std::set<uint32_t> ids;
    for (const auto& e : net) ids.insert(e.id);
    EXPECT_TRUE(ids.count(0x02000000u)) << "the decimal address fires";
    EXPECT_TRUE(ids.count(0x02000001u)) << "the decimal mask selects its bit";
    EXPECT_TRUE(ids.count(0x02000002u));
}

TEST_F(EventChannelsTest, EachEventStartsFromDefaultsAndHoldTimesAreCycles) {
    const std::string in = input("p_fuel");
    auto log = load(event("name=\"First\" text=\"t1\" severity=\"Alert\" triggerEdge=\"falling\" "
                          "evMeasChDelayTime=\"100\" eventId=\"7\" idx=\"3\"", in) +
                    event("idx=\"4\"", in) + event("idx=\"5\" evMeasChDelayTime=\"400\"", in) +
                    event("idx=\"6\" evMeasChDelayTime=\"5\"", in) + "<Event name=\"empty\" idx=\"9\"/>\n" +
                    "<Other><Event idx=\"8\">" + in + "</Event></Other>\n");
    ASSERT_NE(eventChannels_config(), nullptr);
    EXPECT_TRUE(logContains(log, "Eventlogging channel setup with 4/50 events"));
    EXPECT_TRUE(logContains(log, "eventchannels::eventchannels(): illegal delay time 400 ms, using 250 ms instead"));
    const auto& d = eventChannels_config()->definitions();   // newest first
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[3].index, 3);
    EXPECT_EQ(d[3].id, 0x02000003u);
    EXPECT_EQ(d[3].severity, 1);
    EXPECT_EQ(d[3].edge, EVENT_EDGE_FALLING);
    EXPECT_STREQ(d[3].name, "First");
    EXPECT_EQ(d[3].holdCycles, 9);
    // nothing of the first event carries over into the second
    EXPECT_EQ(d[2].index, 4);
    EXPECT_EQ(d[2].severity, 6);
    EXPECT_EQ(d[2].edge, EVENT_EDGE_RISING);
    EXPECT_STREQ(d[2].name, "");
    EXPECT_STREQ(d[2].text, "");
    EXPECT_EQ(d[2].holdCycles, 0);
    EXPECT_EQ(d[1].holdCycles, 24);
    EXPECT_EQ(d[0].holdCycles, 0);
    // a second reading while one exists is refused
    eventChannelsInitTask();
    EXPECT_TRUE(logContains(takeLogTexts(), "eventchannels::eventchannels(): init called a 2nd time?!"));
}

TEST_F(EventChannelsTest, MissingFileLeavesTheChannelsUnconfigured) {
    eventChannelsInitTask();
    EXPECT_TRUE(logContains(takeLogTexts(), "eventChannelsInitTask(): could not find cfg:/eventcfg.xml, no event config!"));
    EXPECT_EQ(eventChannels_config(), nullptr);
    cycle();   // nothing to do, nothing breaks
}

// A file that is there but no file to read is named as what it is, and a
// FIFO is never waited on.
TEST_F(EventChannelsTest, AFileThatIsNoFileToReadIsNamed) {
    const std::string path = dir + "/cfg/eventcfg.xml";
    std::filesystem::create_directories(dir + "/cfg");
    const std::pair<std::function<void()>, std::string> kinds[] = {
        {[&] { std::filesystem::create_symlink("eventcfg.xml", path); }, "is a link loop"},
        {[&] { std::filesystem::create_symlink("gone.xml", path); }, "is a link that leads nowhere"},
        {[&] { std::filesystem::create_directory(path); }, "is a folder"},
        {[&] { makeFifo("cfg/eventcfg.xml"); }, "is a FIFO"},
    };
    for (const auto& [make, says] : kinds) {
        std::filesystem::remove(path);
        make();
        EXPECT_TRUE(returnsBesideFifo("cfg/eventcfg.xml", [] { eventChannelsInitTask(); })) << says;
        EXPECT_TRUE(logContains(takeLogTexts(),
                                "eventChannelsInitTask(): File not found, len invalid : cfg:/eventcfg.xml " + says))
            << says;
        EXPECT_EQ(eventChannels_config(), nullptr);
    }
}

TEST_F(EventChannelsTest, EdgesFireTheirEventsAndHoldTheFlag) {
    sp().p_fuel = 0;
    sp().p_oil = 0;
    sp().gear = 0;
    load(event("name=\"Fuel\" text=\"fuel up\" severity=\"Warning\" triggerEdge=\"rising\" evMeasChDelayTime=\"100\" "
               "idx=\"2\"",
               input("p_fuel")) +
         event("name=\"Oil\" text=\"oil\" severity=\"Error\" triggerEdge=\"both\" idx=\"7\"", input("p_oil")) +
         event("name=\"Gear\" text=\"gear to neutral\" triggerEdge=\"falling\" idx=\"9\"", input("gear", "SINT8")));
    ASSERT_NE(eventChannels_config(), nullptr);
    // the first value after the start never fires, whatever it is
    sp().p_fuel = 3;
    sp().gear = 2;
    for (int i = 0; i < 3; ++i) cycle();
    EXPECT_TRUE(sentToNetwork().empty());

    sp().p_fuel = 0;
    cycle();   // a fall does not fire a rising event
    sp().p_fuel = 5;
    cycle();
    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].id, 0x02000002u);
    EXPECT_EQ(net[0].ts, gNow);
    EXPECT_EQ(net[0].duration, 0u);
    EXPECT_EQ(net[0].kind, EVENT_KIND_CHANNEL);
    EXPECT_EQ(net[0].severity, EVENT_SEV_WARNING);
    EXPECT_EQ(net[0].name, "Fuel");
    EXPECT_EQ(net[0].text, "fuel up");
    // 100 ms: the firing cycle and 9 more
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(flag(2), 1) << i;
        cycle();
    }
    EXPECT_EQ(flag(2), 1);
    cycle();
    EXPECT_EQ(flag(2), 0);

    // both edges: the open event, then the closing one with its duration
    sp().p_oil = 2.5f;
    cycle();
    const uint32_t rise = gNow;
    for (int i = 0; i < 49; ++i) cycle();
    sp().p_oil = 0.5f;   // below 1: off
    cycle();
    sp().gear = 0;
    cycle();
    net = sentToNetwork();
    ASSERT_EQ(net.size(), 4u);
    EXPECT_EQ(net[1].id, 0x02000007u);
    EXPECT_EQ(net[1].ts, rise);
    EXPECT_EQ(net[1].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[2].ts, rise);
    EXPECT_EQ(net[2].duration, 5000u);
    EXPECT_EQ(net[2].severity, EVENT_SEV_ERROR);
    EXPECT_EQ(net[3].name, "Gear");
    EXPECT_EQ(net[3].severity, EVENT_SEV_INFO);
    EXPECT_EQ(eventSignals().event_send_cnt, 4u);
}

// A both-edges event open while the time steps (a slave takes its master's
// time, back or forward) is closed at the step in the old time and opened
// again in the new: no event spans two time bases, none has a negative
// duration.
TEST_F(EventChannelsTest, AnEventOpenAcrossATimeStepIsClosedAtTheStepAndOpenedAgain) {
    time_stepResetForTest();
    sp().p_oil = 0;
    load(event("name=\"Oil\" text=\"oil\" triggerEdge=\"both\" idx=\"7\"", input("p_oil")));
    ASSERT_NE(eventChannels_config(), nullptr);
    for (int i = 0; i < 3; ++i) cycle();
    gOwn = 5000;
    time_stepNote(gNow, gOwn);
    size_t seen = 0;
    for (const int32_t jump : {-300000, 50100000}) {   // 30 s back, 5010 s forward
        sp().p_oil = 3;
        cycle();
        const uint32_t rise = gNow;
        for (int i = 0; i < 5; ++i) {
            cycle();
            time_stepNote(gNow, gOwn += 100);
        }
        const uint32_t before = gNow;
        gNow += uint32_t(jump);
        time_stepNote(gNow, gOwn += 10);
        const uint32_t after = gNow;
        for (int i = 0; i < 3; ++i) {
            cycle();
            time_stepNote(gNow, gOwn += 100);
        }
        sp().p_oil = 0;
        cycle();
        const auto net = sentToNetwork();
        ASSERT_EQ(net.size(), seen + 4) << "opened, closed at the step, opened again, closed";
        EXPECT_EQ(net[seen].ts, rise);
        EXPECT_EQ(net[seen].duration, EVENT_DURATION_OPEN);
        EXPECT_EQ(net[seen + 1].ts, rise);
        EXPECT_EQ(net[seen + 1].duration, before - rise);
        EXPECT_EQ(net[seen + 2].ts, after);
        EXPECT_EQ(net[seen + 2].duration, EVENT_DURATION_OPEN);
        EXPECT_EQ(net[seen + 3].ts, after);
        EXPECT_EQ(net[seen + 3].duration, gNow - after);
        for (size_t i = seen; i < net.size(); ++i) {
            if (net[i].duration == EVENT_DURATION_OPEN) continue;
            EXPECT_LT(net[i].duration, 10000u) << i;
        }
        seen = net.size();
    }
    // the step came just before a cycle read the time and is noted only
    // after it, or cycles later (the noting raster held up): the event that
    // cycle opened is of the new time and stays
    for (const auto& [jump, held] : {std::pair{-300000, 0}, {50100000, 0}, {-300000, 3}}) {
        gNow += uint32_t(jump);
        sp().p_oil = 3;
        cycle();
        const uint32_t rise = gNow;
        for (int i = 0; i < held; ++i) cycle();
        time_stepNote(gNow + 10, gOwn += 10 + 100 * held);
        for (int i = 0; i < 3; ++i) {
            cycle();
            time_stepNote(gNow, gOwn += 100);
        }
        sp().p_oil = 0;
        cycle();
        const auto net = sentToNetwork();
        ASSERT_EQ(net.size(), seen + 2) << "opened and closed, not moved";
        EXPECT_EQ(net[seen + 1].ts, rise);
        EXPECT_EQ(net[seen + 1].duration, gNow - rise);
        seen = net.size();
    }
}

TEST_F(EventChannelsTest, ASilentSourceLosesItsValueAndAnEdgeDuringTheSilenceNeverFires) {
    sp().p_fuel = 0;
    load(event("name=\"Fuel\" idx=\"0\"", input("p_fuel")));
    for (int i = 0; i < 3; ++i) cycle();
    const auto& in = *eventChannels_config()->definitions()[0].input;
    ASSERT_TRUE(in.getMeasUpdateState());
    int silent = 0;
    while (in.getMeasUpdateState() && silent < 30) {
        cycle(false);
        ++silent;
    }
    EXPECT_FALSE(in.getMeasUpdateState());
    EXPECT_GE(silent, 9) << "five reports without data after the gateway's time-out";
    sp().p_fuel = 4;
    cycle();   // back: the first value is not compared
    cycle();
    EXPECT_TRUE(sentToNetwork().empty());
    sp().p_fuel = 0;
    cycle();
    sp().p_fuel = 4;
    cycle();
    EXPECT_EQ(sentToNetwork().size(), 1u);
}

// A both-edges event spans what its source said without a break: when the
// source falls silent (a gap, or its restart) the open event closes at the
// source's last value; when it comes back on the event opens anew. A fall
// of an event that was never opened (its source on from its first value)
// closes nothing.
TEST_F(EventChannelsTest, AnEventClosesAtItsSourcesLastValueBeforeASilenceAndOpensAnew) {
    sp().p_oil = 3;
    load(event("name=\"Oil\" triggerEdge=\"both\" idx=\"7\"", input("p_oil")));
    ASSERT_NE(eventChannels_config(), nullptr);
    for (int i = 0; i < 3; ++i) cycle();
    sp().p_oil = 0;
    cycle();
    EXPECT_TRUE(sentToNetwork().empty()) << "closed without being opened";

    sp().p_oil = 3;
    cycle();
    const uint32_t rise = gNow;
    for (int i = 0; i < 4; ++i) cycle();
    const uint32_t last = gNow;
    const auto& in = *eventChannels_config()->definitions()[0].input;
    for (int silent = 0; in.getMeasUpdateState() && silent < 30; ++silent) cycle(false);
    cycle(false);
    auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 2u);
    EXPECT_EQ(net[1].ts, rise);
    EXPECT_EQ(net[1].duration, last - rise) << "closed at the last value, not when the silence was noticed";

    // the source is the time master and back in a new run: its values are
    // of a time this device does not follow yet, and open nothing in this one
    fifo_data_master_runs_anew(kPid);
    for (int i = 0; i < 3; ++i) cycle();
    EXPECT_EQ(sentToNetwork().size(), 2u) << "opened by the master's new run before this device's time followed it";
    fifo_data_step_back();   // this device's time follows it

    cycle();   // back, still on
    const uint32_t back = gNow;
    for (int i = 0; i < 5; ++i) cycle();
    sp().p_oil = 0;
    cycle();
    net = sentToNetwork();
    ASSERT_EQ(net.size(), 4u);
    EXPECT_EQ(net[2].ts, back);
    EXPECT_EQ(net[2].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[3].ts, back);
    EXPECT_EQ(net[3].duration, gNow - back);

    // the master's new run is heard in the cycle right after a rise: the
    // event ends where it began, and that end is a close all the same (a
    // duration of 0 is an event of a moment, and every logger would keep
    // the open to the stop); whatever the values do meanwhile, the event
    // follows them again once this device's time has followed that run
    sp().p_oil = 3;
    cycle();
    const uint32_t rise2 = gNow;
    fifo_data_master_runs_anew(kPid);
    for (const float v : {0.f, 3.f, 0.f, 3.f}) {
        sp().p_oil = v;
        cycle();
    }
    fifo_data_step_back();
    cycle();   // back, still on
    const uint32_t back2 = gNow;
    sp().p_oil = 0;
    cycle();
    const uint32_t fall2 = gNow;
    sp().p_oil = 3;
    cycle();
    net = sentToNetwork();
    ASSERT_EQ(net.size(), 9u);
    EXPECT_EQ(net[4].ts, rise2);
    EXPECT_EQ(net[4].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[5].ts, rise2);
    EXPECT_EQ(net[5].duration, 1u) << "closed where it began, as a close";
    EXPECT_EQ(net[6].ts, back2);
    EXPECT_EQ(net[6].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[7].ts, back2);
    EXPECT_EQ(net[7].duration, fall2 - back2);
    EXPECT_EQ(net[8].ts, gNow);
    EXPECT_EQ(net[8].duration, EVENT_DURATION_OPEN);

    // off when the master's new run is heard, on by the time this device
    // follows it: the event opens then, in the new time
    sp().p_oil = 0;
    cycle();
    fifo_data_master_runs_anew(kPid);
    sp().p_oil = 3;
    for (int i = 0; i < 3; ++i) cycle();
    fifo_data_step_back();
    cycle();
    const uint32_t back3 = gNow;
    sp().p_oil = 0;
    cycle();
    net = sentToNetwork();
    ASSERT_EQ(net.size(), 12u) << "the rise the values made meanwhile opens the event once they are taken";
    EXPECT_EQ(net[10].ts, back3);
    EXPECT_EQ(net[10].duration, EVENT_DURATION_OPEN);
    EXPECT_EQ(net[11].ts, back3);
    EXPECT_EQ(net[11].duration, gNow - back3);
}

// An orderly stop closes an event still open at the stop's stamp, at once:
// the close reaches this device's event loggers before the stop closes its
// files (not through the command task), and the other devices over the
// network. A fall after the stop closes nothing more; a rise-only event and
// one already closed are left alone.
TEST_F(EventChannelsTest, AnEventOpenAtAnOrderlyStopIsClosedAtTheStopsStamp) {
    sp().p_oil = 0;
    sp().p_fuel = 0;
    load(event("name=\"Oil\" text=\"oil\" severity=\"Error\" triggerEdge=\"both\" idx=\"7\"", input("p_oil")) +
         event("name=\"Fuel\" triggerEdge=\"both\" idx=\"2\"", input("p_fuel")) +
         event("name=\"Gear\" triggerEdge=\"rising\" idx=\"9\"", input("gear", "SINT8")));
    ASSERT_NE(eventChannels_config(), nullptr);
    sp().gear = 0;
    for (int i = 0; i < 3; ++i) cycle();
    sp().p_oil = 3;
    sp().p_fuel = 3;
    sp().gear = 2;
    cycle();
    const uint32_t rise = gNow;
    for (int i = 0; i < 5; ++i) cycle();
    sp().p_fuel = 0;
    cycle();   // Fuel is closed before the stop
    ASSERT_EQ(servedHere(4).size(), 4u);   // two opens, the gear, the close of Fuel

    const uint32_t stop = gNow + 50;
    eventChannels_closeAtStop(stop);
    std::vector<SentEvent> here;
    {
        std::lock_guard<std::mutex> lk(mx);
        here = local;
    }
    ASSERT_EQ(here.size(), 5u) << "served here at once";
    EXPECT_EQ(here[4].id, 0x02000007u);
    EXPECT_EQ(here[4].src, kPid);
    EXPECT_EQ(here[4].ts, rise);
    EXPECT_EQ(here[4].duration, stop - rise);
    EXPECT_EQ(here[4].severity, EVENT_SEV_ERROR);
    EXPECT_EQ(here[4].name, "Oil");
    const auto net = sentToNetwork();
    ASSERT_EQ(net.size(), 5u);
    EXPECT_EQ(net[4].ts, rise);
    EXPECT_EQ(net[4].duration, stop - rise);

    eventChannels_closeAtStop(stop + 100);   // nothing open any more
    sp().p_oil = 0;
    cycle();
    cycle();
    EXPECT_EQ(sentToNetwork().size(), 5u);
}

TEST_F(EventChannelsTest, InitRunsOnceInItsTaskAndDeleteAllowsANewConfiguration) {
    load(event("idx=\"0\"", input("p_fuel")));
    ASSERT_NE(eventChannels_config(), nullptr);
    eventChannelsDelete();
    EXPECT_EQ(eventChannels_config(), nullptr);
    eventChannelsInit();
    for (int i = 0; i < 2000 && !eventChannels_config(); ++i) taskDelay(1);
    EXPECT_NE(eventChannels_config(), nullptr);
    eventChannelsInit();
    EXPECT_TRUE(logContains(takeLogTexts(), "eventChannelsInit(): called a 2nd time?!"));
}

}  // namespace
