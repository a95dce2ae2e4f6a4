// The open events of other devices, closed for them when they end.
#include "logging/events/event_peer_opens.h"

#include <cstring>
#include <mutex>

#include "host/kernel/kernel.h"
#include "logging/events/event_logger.h"
#include "logging/events/event_record.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

namespace {

struct Open {
    bool used;
    uint16_t pid;
    uint32_t id, start, length;
    uint32_t arrived;   // own count when it came (host::ownTimeStamp)
    uint32_t run;       // its device's run as the network counted it then
    uint8_t payload[EVENT_PAYLOAD_MAX];
};

// Events open at a time are few (a device's channels and error entries);
// when the table is full the oldest kept is dropped, and with it only the
// close this device would write for it.
constexpr unsigned kOpens = 64;
std::mutex gMx;
Open gOpen[kOpens];
unsigned gNext = 0;   // the slot taken when none is free

// Where a device's values stopped when the network counted its next run.
struct RunEnd {
    bool noted;
    uint32_t next;   // the run counted then
    bool stampKnown, arrivalKnown, signKnown;
    uint32_t stamp, arrival;   // its last value's stamp and when it came (own count)
    uint32_t sign;             // when its last message came (this device's time)
};

// The later of a last value's stamp and a last sign of life, neither after
// `now`; `now` when neither is known. A device sends its last value before
// its last message, yet the value's stamp is its own: whichever is later
// bounds what it did.
uint32_t lastOf(bool stampKnown, uint32_t stamp, bool signKnown, uint32_t sign, uint32_t now) {
    stampKnown = stampKnown && int32_t(now - stamp) >= 0;
    signKnown = signKnown && int32_t(now - sign) >= 0;
    if (stampKnown && signKnown) return int32_t(sign - stamp) > 0 ? sign : stamp;
    return stampKnown ? stamp : signKnown ? sign : now;
}
constexpr unsigned kPids = MEAS_PEERS;   // the PIDs the network counts runs of
RunEnd gEnds[kPids];   // under gMx

}  // namespace

void eventPeers_note(uint16_t pid, const uint8_t* payload, uint32_t length) {
    if (!payload || length < EVENT_PAYLOAD_FIXED || length > EVENT_PAYLOAD_MAX) return;
    const uint32_t id = be_get32(payload), start = be_get32(payload + 4), duration = be_get32(payload + 8);
    // Not under the table's lock: these take the network's. An open that
    // comes while the device is silent is of a run after the one heard last
    // (a restarted device's first events may come before its presence is
    // heard again); should the device come back in the same run, it is
    // that run's again (eventPeers_runGoesOn).
    uint32_t run = 0;
    if (!meas_man_peer_heard(pid, &run)) ++run;
    std::lock_guard<std::mutex> lk(gMx);
    Open* free = nullptr;
    // Opened again with another start, it is another event: the device ran
    // anew and its new run opened it, or the close of the first was lost.
    // The first stays open until its close or the device's end.
    for (Open& o : gOpen) {
        if (o.used && o.pid == pid && o.id == id && o.start == start) o.used = false;   // closed, or sent again
        if (!o.used && !free) free = &o;
    }
    if (duration != EVENT_DURATION_OPEN) return;
    if (!free) {
        free = &gOpen[gNext];
        gNext = (gNext + 1) % kOpens;
    }
    free->used = true;
    free->pid = pid;
    free->id = id;
    free->start = start;
    free->arrived = host::ownTimeStamp();
    free->run = run;
    free->length = length;
    std::memcpy(free->payload, payload, length);
}

namespace {

// An open that came this long after the device's last value came is of a
// new run of it: a device that ends sends nothing more, and one that starts
// again takes longer than this before it sends anything. Its events come
// through the command task, its values through the lists: a few ms apart.
constexpr int32_t kAfterLastValue = 2000;   // 200 ms

// An open stamped this much further behind the last value than it came
// before it is of another time: a new run whose clock started behind the
// old one's (its stamps say nothing of when it came). An open of the run
// that ended came when it was stamped, as its values did. The message
// carries no run: the stamps judge only an open that came before the
// network counted the new run; one that came after carries that count.
constexpr int32_t kStampedBehindItsArrival = 10000;   // 1 s

// Whether an open of pid began in a run after the one (`ended`) that ended
// at `end`: it came in a later run; else (the network may count a new run
// a moment after its first events came) begun after the last value's stamp,
// come well after that value came, or stamped far further behind it than
// it came.
bool ofNewRun(const Open& o, uint32_t ended, uint32_t end, bool arrivalKnown, uint32_t lastArrival) {
    if (int32_t(o.run - ended) > 0) return true;
    if (int32_t(o.start - end) > 0) return true;
    if (!arrivalKnown) return false;
    const int32_t cameAfter = int32_t(o.arrived - lastArrival);
    const int32_t stampedBehind = int32_t(end - o.start);
    return cameAfter > kAfterLastValue || int64_t(stampedBehind) + cameAfter > kStampedBehindItsArrival;
}

// Takes one open event of pid of the run that ended out of the table into
// `out`; false when none is left.
bool takeOpen(uint16_t pid, uint32_t ended, uint32_t end, bool arrivalKnown, uint32_t lastArrival, Open* out) {
    std::lock_guard<std::mutex> lk(gMx);
    for (Open& o : gOpen)
        if (o.used && o.pid == pid && !ofNewRun(o, ended, end, arrivalKnown, lastArrival)) {
            *out = o;
            o.used = false;
            return true;
        }
    return false;
}

}  // namespace

void eventPeers_runCounted(uint16_t pid, uint32_t run) {
    if (pid >= kPids) return;
    RunEnd e{true, run, false, false, false, 0, 0, 0};
    e.stampKnown = gw_pid_last_stamp(pid, &e.stamp);
    e.arrivalKnown = gw_pid_last_arrival(pid, &e.arrival);
    e.signKnown = meas_man_peer_last_sign(pid, &e.sign);   // the network notes the new run's presence after this
    std::lock_guard<std::mutex> lk(gMx);
    gEnds[pid] = e;
}

void eventPeers_runGoesOn(uint16_t pid, uint32_t run) {
    std::lock_guard<std::mutex> lk(gMx);
    for (Open& o : gOpen)
        if (o.used && o.pid == pid && int32_t(o.run - run) > 0) o.run = run;
}

unsigned eventPeers_close(uint16_t pid, uint32_t now, const char* why, uint32_t ended) {
    RunEnd kept{};
    if (pid < kPids) {
        std::lock_guard<std::mutex> lk(gMx);
        kept = gEnds[pid];
    }
    // Once the network counted the run after `ended`, the values and
    // messages that came are the new run's: the ended run's last ones are
    // those kept then.
    uint32_t end = now, lastArrival = 0;
    bool arrivalKnown = false;
    if (kept.noted && int32_t(kept.next - ended) > 0) {
        end = lastOf(kept.stampKnown, kept.stamp, kept.signKnown, kept.sign, now);
        arrivalKnown = kept.arrivalKnown;
        lastArrival = kept.arrival;
    } else {
        end = eventPeers_lastValue(pid, now);
        arrivalKnown = gw_pid_last_arrival(pid, &lastArrival);
    }
    unsigned n = 0;
    Open o;   // one at a time: the callers' stacks are small
    while (takeOpen(pid, ended, end, arrivalKnown, lastArrival, &o)) {
        ++n;
        const uint32_t duration = event_closeDuration(o.start, end);
        be_put32(o.payload + 8, duration);
        eventLoggerPutAll(o.payload, o.length, pid, o.start + duration);
        syslogx(150, "eventlogging: PID 0x%X %s: its event 0x%08X opened at %u closed at %u", unsigned(pid), why,
                unsigned(o.id), unsigned(o.start), unsigned(o.start + duration));
    }
    return n;
}

uint32_t eventPeers_lastValue(uint16_t pid, uint32_t now) {
    uint32_t last = 0, sign = 0;
    const bool stampKnown = gw_pid_last_stamp(pid, &last);
    const bool signKnown = meas_man_peer_last_sign(pid, &sign);
    return lastOf(stampKnown, last, signKnown, sign, now);
}

void eventPeers_resetForTest() {
    std::lock_guard<std::mutex> lk(gMx);
    for (Open& o : gOpen) o.used = false;
    for (RunEnd& e : gEnds) e = RunEnd{};
    gNext = 0;
}
