// The time base of this device's own events in flight.
#include "logging/events/event_own_times.h"

#include <mutex>

#include "logging/events/event_service.h"

namespace {

struct Note {
    bool used;
    uint32_t id, stamp, duration, timeOf;
    uint32_t order;   // when it was noted: the oldest goes first
};

// The queue holds EVENT_QUEUE_DEPTH; the overload event and the stop's
// events pass it, and a few more may be on their way in the command task.
constexpr unsigned kNotes = EVENT_QUEUE_DEPTH + 32;
std::mutex gMx;   // a leaf: nothing is called under it
Note gNotes[kNotes];
uint32_t gOrder = 0;

bool names(const Note& n, uint32_t id, uint32_t stamp, uint32_t duration) {
    return n.used && n.id == id && n.stamp == stamp && n.duration == duration;
}

// The oldest note of the event (one sent twice is taken in order), or null.
Note* oldestOf(uint32_t id, uint32_t stamp, uint32_t duration) {
    Note* found = nullptr;
    for (Note& n : gNotes)
        if (names(n, id, stamp, duration) && (!found || int32_t(n.order - found->order) < 0)) found = &n;
    return found;
}

}  // namespace

void eventOwnTimes_note(uint32_t id, uint32_t stamp, uint32_t duration, uint32_t timeOf) {
    std::lock_guard<std::mutex> lk(gMx);
    Note* slot = nullptr;
    for (Note& n : gNotes) {
        if (!n.used) {
            slot = &n;
            break;
        }
        if (!slot || int32_t(n.order - slot->order) < 0) slot = &n;
    }
    *slot = Note{true, id, stamp, duration, timeOf, gOrder++};
}

void eventOwnTimes_forget(uint32_t id, uint32_t stamp, uint32_t duration) {
    std::lock_guard<std::mutex> lk(gMx);
    // the newest: it is the one just noted
    Note* found = nullptr;
    for (Note& n : gNotes)
        if (names(n, id, stamp, duration) && (!found || int32_t(n.order - found->order) > 0)) found = &n;
    if (found) found->used = false;
}

bool eventOwnTimes_take(uint32_t id, uint32_t stamp, uint32_t duration, uint32_t* timeOf) {
    std::lock_guard<std::mutex> lk(gMx);
    Note* n = oldestOf(id, stamp, duration);
    if (!n) return false;
    n->used = false;
    if (timeOf) *timeOf = n->timeOf;
    return true;
}

void eventOwnTimes_resetForTest() {
    std::lock_guard<std::mutex> lk(gMx);
    for (Note& n : gNotes) n.used = false;
    gOrder = 0;
}
