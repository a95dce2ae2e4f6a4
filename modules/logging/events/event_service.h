// Event service: the sending half of the events. eventlogging_send turns an
// event into a command 0x1500 addressed to every device and queues it
// without waiting; the raster "EventService" empties the queue every 10 ms,
// at most 10 messages per cycle. A full queue is an overload: the dropped
// event is replaced by one overload event sent at once, and the error-memory
// entry EVENTSOURCE stays raised until an event is queued again.
#pragma once

#include <cstdint>

#include "logging/events/event_record.h"

constexpr int EVENT_QUEUE_DEPTH = 64;
constexpr int EVENT_SENDS_PER_CYCLE = 10;

// Creates the queue and hooks the raster "EventService" (priority 67,
// 10 ms). 1 on success, 0 on failure (logged).
int eventlogging_service_init();
// Builds and queues one event; never blocks. Any task, also before the
// service exists (the event is then dropped and counted).
void eventlogging_send(const EventRecord* ev, const char* name, const char* description);
// An event of the orderly stop, sent at once past the queue: the stop closes
// the files right after, before the command task would bring the event
// here, so it is served here on the caller's task, and goes to the other
// devices over the network.
void eventlogging_sendNow(const EventRecord* ev, const char* name, const char* description);
// The raster body: hands the queued messages to the command interface.
void eventloggingServiceTask();

// The error memory's event hook.
void eventlogging_errorMgrHook(uint32_t id, uint32_t timeStamp, uint32_t duration, uint8_t kind,
                               uint8_t severity, const char* name, const char* description);

// Tests: deletes the queue and resets the overload state (not the raster).
void eventlogging_service_resetForTest();
// Tests: creates the queue without the raster hook; 1 on success.
int eventlogging_service_createQueueForTest();
