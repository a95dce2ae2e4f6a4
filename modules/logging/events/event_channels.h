// Event channels: edges of measured signals become events. "cfg:/eventcfg.xml"
// lists up to 50 events, each with one input read at the 10 ms raster, an
// edge (rising, falling or both), a severity, a name and a text:
//   <EventList>
//     <Event name="BrakeOn" text="brake pressed" severity="Info" triggerEdge="rising"
//            evMeasChDelayTime="100" idx="0">
//       <triggerInput type="FLOAT" adr="0x01040020" mask="0" a="0" b="1" c="0" d="0" e="0" f="1"
//                     name="p_brake_front" vtab=""/>
//     </Event>
//   </EventList>
// Every 10 ms each input's level (physical value (f x - c) / b, as an
// unsigned integer, not 0) is compared with the previous one; a configured
// edge sends an event and raises the event's Cfg_events_arr flag for the
// configured hold time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/os/os.h"
#include "platform/time_step.h"
#include "logging/events/event_channel_manager.h"

constexpr const char* EVENTCFG_FILE = "cfg:/eventcfg.xml";
constexpr unsigned EVENTCH_RASTER = 3;   // 10 ms

enum EventEdge : uint8_t { EVENT_EDGE_RISING = 0, EVENT_EDGE_FALLING = 1, EVENT_EDGE_BOTH = 2 };

// One configured event.
struct EventDef {
    uint32_t startTime = 0;    // 0.1 ms: creation, then each rise of a both-edges event
    uint32_t id = 0;           // 0x02000000 + idx
    uint8_t severity = 6;
    uint8_t edge = EVENT_EDGE_RISING;
    uint8_t lastLevel = 0;
    uint8_t lastUpdated = 0;
    uint8_t index = 0;
    uint8_t holdCycles = 0;
    uint8_t countdown = 0;
    bool open = false;         // a both-edges event sent open and not yet closed
    bool closedByGap = false;  // its source fell silent, or its values were not taken (the time master's new
                               // run): the event opens anew when they come back on
    uint32_t lastValueTs = 0;  // 0.1 ms: the cycle that saw the input's newest value
    uint32_t valuesSeen = 0;   // the input's value count at that cycle
    uint32_t openedIn = 0;     // the time base (step count) of its start
    char name[21] = {};
    char text[61] = {};
    EventChData* input = nullptr;   // owned by the manager
};

class XmlScan;

class eventchannels {
public:
    // Reads the file and starts the lists. Throws a constant text: "could not
    // create semaphore", or an XML error with its position.
    explicit eventchannels(const char* path);
    ~eventchannels();
    eventchannels(const eventchannels&) = delete;
    eventchannels& operator=(const eventchannels&) = delete;

    // The edge detection, every 10 ms.
    void cyclic();
    // An orderly stop: every event still open ends at the stop's stamp.
    void closeAtStop(uint32_t stopTs);

    size_t eventCount() const { return defs_.size(); }
    EventChDataManager& manager() { return *manager_; }
    // In list order (newest first).
    const std::vector<EventDef>& definitions() const { return defs_; }

private:
    void parse(XmlScan& scan);
    void parseList(XmlScan& scan);
    // One input; null with the reason (and its position) when the input cannot
    // be used, so that only its event is refused.
    std::unique_ptr<EventChData> parseTriggerInput(XmlScan& scan, std::string& refusal);

    SEM_ID mutex_ = nullptr;
    std::unique_ptr<EventChDataManager> manager_;
    std::vector<EventDef> defs_;
    uint8_t floodRefused_ = 0;
    uint32_t stepsSeen_ = 0;   // steps of the time the open events were moved across
};

// Start-up: reads the configuration in the task "evChInit" once "cfg:" is there.
void eventChannelsInit();
void eventChannelsInitTask();
// The 10 ms raster hook.
void eventChannels_10ms();
// An orderly stop (the logging's fast stop, before it closes its files):
// every both-edges event still open is closed at the stop's stamp and sent
// at once (eventlogging_sendNow), so that the files hold its end.
void eventChannels_closeAtStop(uint32_t stopTs);
// Ends the configuration (and a running init task); a new init may follow.
void eventChannelsDelete();

// Tests: the configuration now, the time source of the detection (null:
// time_stampNow).
eventchannels* eventChannels_config();
void eventChannels_setTimeSource(uint32_t (*now)(uint32_t* steps));
// Time stamp (0.1 ms) of the detection; *steps (when given) gets the time
// base it is of, as time_stampNow tells it.
uint32_t eventChannels_now(uint32_t* steps = nullptr);
