// Events of other devices sent open and not yet closed. A device that is
// killed, restarts or falls silent never sends their close: it is written
// here for it, so that none of its events stays open in the files across
// its end (and across a step of the time that its restart may bring).
#pragma once

#include <cstdint>

// Notes an event payload (big-endian, as received) of a source PID: an open
// one is kept with the run of its device as the network counts it when it
// came (the run after it while the device is silent), its close (or a close of
// the same id and start) forgets it; an open of the same id with another
// start is another event.
void eventPeers_note(uint16_t pid, const uint8_t* payload, uint32_t length);
// The device network counted the run `run` of the device of `pid` (its
// presence began anew): the values delivered here so far are those of the
// runs before it, as none of the new run is asked for before that count.
// Where they stopped is kept as the end of the run before.
void eventPeers_runCounted(uint16_t pid, uint32_t run);
// The device of `pid` is heard and still in the run `run` (as the network
// counted it while hearing it): an open that came while it was silent is
// of that run.
void eventPeers_runGoesOn(uint16_t pid, uint32_t run);
// The run `ended` of the device of `pid` (as the network counts its runs)
// is over (it restarted or fell silent): each of its events still open from
// that run or one before is closed at the run's last value (this device's
// time, not before the event's start; `now` when none is known) in every
// event logger, and logged with `why`; the number closed. The run's last
// value is the later of the one delivered and the device's last message
// heard before the network counted the run after it, else the newest of
// those. The events of its new run stay open: those
// that came in a run counted after `ended`, and, where the network had not
// counted the new run yet when they came (its first events may come before
// its presence), those begun after that last value and those that came well
// after it came (a new run in a time behind).
unsigned eventPeers_close(uint16_t pid, uint32_t now, const char* why, uint32_t ended);
// The later of the stamp of the device's last value delivered here and
// when its last message came, or `now` when there is none before it.
uint32_t eventPeers_lastValue(uint16_t pid, uint32_t now);
// Tests: forgets every open event.
void eventPeers_resetForTest();
