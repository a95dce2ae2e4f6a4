// The open events of the recording that runs, per event logger.
#include "logging/events/event_run_opens.h"

#include <cstring>

#include "platform/byteorder.h"

namespace {

bool sameEvent(const EventRunOpens::Open& o, uint16_t pid, const uint8_t* payload) {
    // id and start name the event; its duration is what differs
    return o.used && o.pid == pid && std::memcmp(o.payload, payload, 8) == 0;
}

}  // namespace

bool EventRunOpens::opened(uint16_t pid, const uint8_t* payload, uint32_t length, bool held, uint32_t timeOf) {
    if (!payload || length < EVENT_PAYLOAD_FIXED || length > EVENT_PAYLOAD_MAX) return false;
    Open* free = nullptr;
    for (Open& o : opens_) {
        if (sameEvent(o, pid, payload)) {
            o.held = o.held && held;   // sent again: one open
            return true;
        }
        if (!o.used && !free) free = &o;
    }
    if (!free) return false;
    free->used = true;
    free->held = held;
    free->pid = pid;
    free->timeOf = timeOf;
    free->length = length;
    std::memcpy(free->payload, payload, length);
    return true;
}

bool EventRunOpens::isOpen(uint16_t pid, const uint8_t* payload, uint32_t* timeOf) const {
    for (const Open& o : opens_)
        if (sameEvent(o, pid, payload)) {
            *timeOf = o.timeOf;
            return true;
        }
    return false;
}

void EventRunOpens::closed(uint16_t pid, const uint8_t* payload) {
    for (Open& o : opens_)
        if (sameEvent(o, pid, payload)) o.used = false;
}

unsigned EventRunOpens::count() const {
    unsigned n = 0;
    for (const Open& o : opens_) n += o.used ? 1u : 0u;
    return n;
}

void EventRunOpens::closeAt(Open& o, uint32_t end) {
    be_put32(o.payload + 8, event_closeDuration(be_get32(o.payload + 4), end));
}
