// The event service's queue, its overload handling and its raster body.
#include "logging/events/event_service.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/os/os.h"
#include "logging/events/event_own_times.h"
#include "logging/events/event_signals.h"
#include "measurement/comint.h"
#include "measurement/gateway.h"
#include "platform/appman.h"
#include "platform/error_mgr.h"
#include "platform/byteorder.h"
#include "platform/raster.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {

std::atomic<MSG_Q_ID> gQueue{nullptr};
// Overload state: the flag is set when the EVENTSOURCE entry is raised; the
// cleared flag records that the entry was cleared since. Both start at 0, so
// the first successful send also clears an entry left over from before.
std::atomic<uint8_t> gOverload{0};
std::atomic<uint8_t> gCleared{0};

uint8_t gFloodSend = 0, gFloodQueue = 0, gFloodEth = 0;

// The events travel to every device at once (destination 0xFFFE, mode 0):
// the other devices over the network, this one through its command task.
constexpr int kSendToAll = 0;

const char* errnoText(int e, char* buf, size_t size) {
    switch (e) {
    case S_objLib_OBJ_UNAVAILABLE: return "S_objLib_OBJ_UNAVAILABLE";
    case S_objLib_OBJ_TIMEOUT: return "S_objLib_OBJ_TIMEOUT";
    case S_objLib_OBJ_ID_ERROR: return "S_objLib_OBJ_ID_ERROR";
    case S_msgQLib_INVALID_MSG_LENGTH: return "S_msgQLib_INVALID_MSG_LENGTH";
    default: std::snprintf(buf, size, "0x%x", unsigned(e)); return buf;
    }
}

// The queue is full: raise the overload entry once and send one overload
// event in place of the dropped one, bypassing the queue.
void enterOverload(uint8_t* msg, uint32_t timeStamp, uint32_t timeOf) {
    gOverload.store(1);
    gCleared.store(0);
    error_mgr_set(EVENTSOURCE, ERRMGR_TYPE_EVENT_OVERLOAD, 0);
    const EventRecord ov{EVENT_ID_OVERLOAD, timeStamp, 0, EVENT_KIND_OVERLOAD, EVENT_SEV_ERROR};
    event_buildMsg(msg, ov, "Event(s) discarded", "", app_pid);
    eventOwnTimes_note(ov.id, ov.timeStamp, ov.duration, timeOf);
    if (!comint_put_cmd(msg, kSendToAll)) eventOwnTimes_forget(ov.id, ov.timeStamp, ov.duration);
    event_count(eventSignals().event_send_cnt);
}

int createQueue() {
    if (gQueue.load()) return 1;
    MSG_Q_ID q = msgQCreate(EVENT_QUEUE_DEPTH, int(EVENT_MSG_SIZE), MSG_Q_FIFO);
    if (!q) return 0;
    gQueue.store(q);
    return 1;
}

}  // namespace

void eventlogging_send(const EventRecord* ev, const char* name, const char* description) {
    if (!ev) return;
    EventSignals& sig = eventSignals();
    if (!meas_man_copy_offline_data_enabled()) {
        event_count(sig.event_send_discarded_cnt);
        return;
    }
    alignas(8) uint8_t msg[EVENT_MSG_SIZE];
    event_buildMsg(msg, *ev, name, description, app_pid);
    // The time it was stamped in (its producer stamps it as it happens) goes
    // with it to this device's loggers: the time may step while it waits in
    // the queue. Noted first, for the command task may serve it as soon as
    // it is queued.
    const uint32_t timeOf = time_stepCountNow();
    eventOwnTimes_note(ev->id, ev->timeStamp, ev->duration, timeOf);
    MSG_Q_ID q = gQueue.load();
    errno = 0;
    if (q && msgQSend(q, msg, sizeof msg, NO_WAIT, MSG_PRI_NORMAL) == OK) {
        if (!gCleared.exchange(1)) {
            gOverload.store(0);
            error_mgr_clear(EVENTSOURCE);
        }
        return;
    }
    const int err = q ? errno : S_objLib_OBJ_ID_ERROR;
    eventOwnTimes_forget(ev->id, ev->timeStamp, ev->duration);
    char buf[16];
    SYSLOGX_FLOOD(gFloodSend, 147 | SYSLOGX_LOSS, "eventlogging_send(): cannot send msg to queue, errno %s",
                  errnoText(err, buf, sizeof buf));
    // every dropped event counts, whether or not it starts an overload
    event_count(sig.event_send_discarded_cnt);
    if (err == S_objLib_OBJ_UNAVAILABLE && !gOverload.load()) enterOverload(msg, ev->timeStamp, timeOf);
}

void eventlogging_sendNow(const EventRecord* ev, const char* name, const char* description) {
    if (!ev) return;
    EventSignals& sig = eventSignals();
    if (!meas_man_copy_offline_data_enabled()) {
        event_count(sig.event_send_discarded_cnt);
        return;
    }
    ci_msg_t msg{};
    event_buildMsg(reinterpret_cast<uint8_t*>(&msg), *ev, name, description, app_pid);
    eventOwnTimes_note(ev->id, ev->timeStamp, ev->duration, time_stepCountNow());
    // the others first: the served copy is addressed to this device
    if (!comint_put_eth(&msg))
        SYSLOGX_FLOOD(gFloodEth, 148, "eventlogging_sendNow(): event 0x%08X at %u not sent to the other devices",
                      unsigned(ev->id), unsigned(ev->timeStamp));
    ci_set_dst(&msg, comint_own_pid());
    ci_serve_command(&msg);
    event_count(sig.event_send_cnt);
}

void eventloggingServiceTask() {
    MSG_Q_ID q = gQueue.load();
    if (!q) {
        SYSLOGX_FLOOD(gFloodQueue, 147, "eventloggingServiceTask, queue invalid!");
        return;
    }
    EventSignals& sig = eventSignals();
    alignas(8) uint8_t msg[EVENT_MSG_SIZE];
    for (int sent = 0; sent < EVENT_SENDS_PER_CYCLE;) {
        if (msgQReceive(q, msg, sizeof msg, NO_WAIT) <= 0) break;
        if (comint_put_cmd(msg, kSendToAll) != 0) {
            event_count(sig.event_send_cnt);
            ++sent;
        } else {
            // its id, stamp and duration begin the payload
            const uint8_t* p = msg + CI_HEADER_SIZE;
            eventOwnTimes_forget(be_get32(p), be_get32(p + 4), be_get32(p + 8));
            event_count(sig.event_send_discarded_cnt);
        }
    }
}

int eventlogging_service_createQueueForTest() { return createQueue(); }

int eventlogging_service_init() {
    static uint8_t floodQ = 0, floodHook = 0;
    if (!createQueue()) {
        SYSLOGX_FLOOD(floodQ, 147, "eventlogging_service_init(): could not create queue");
        return 0;
    }
    if (!raster_hookFunction("EventService", 67, 10, eventloggingServiceTask, 4096, -1, -1)) {
        SYSLOGX_FLOOD(floodHook, 147, "eventlogging_service_init, raster_hookFunction failed!");
        return 0;
    }
    syslogx(150, "Eventlogging service started.");
    return 1;
}

void eventlogging_errorMgrHook(uint32_t id, uint32_t timeStamp, uint32_t duration, uint8_t kind, uint8_t severity,
                               const char* name, const char* description) {
    const EventRecord ev{id, timeStamp, duration, kind, severity};
    eventlogging_send(&ev, name, description);
}

void eventlogging_service_resetForTest() {
    if (MSG_Q_ID q = gQueue.exchange(nullptr)) msgQDelete(q);
    gOverload.store(0);
    gCleared.store(0);
    eventOwnTimes_resetForTest();
    gFloodSend = gFloodQueue = gFloodEth = 0;
}
