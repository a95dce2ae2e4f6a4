// The time base of this device's own events on their way to its loggers.
// An event is stamped in the time of the moment it happens, and reaches the
// loggers through the queue and the command task some milliseconds later,
// maybe after the time has stepped; the message (the network's format)
// carries no time base. The sender notes the step count as it sends, and
// the command that brings the event here takes it back.
#pragma once

#include <cstdint>

// Notes the time base (a step count) of an own event about to be sent:
// its id, stamp and duration name it. When the table is full the oldest
// note goes (its event is judged by its stamp).
void eventOwnTimes_note(uint32_t id, uint32_t stamp, uint32_t duration, uint32_t timeOf);
// Forgets the note of an event that could not be sent.
void eventOwnTimes_forget(uint32_t id, uint32_t stamp, uint32_t duration);
// Takes the note of an own event that came: true with its time base in
// *timeOf, false when none was noted (or it was pushed out).
bool eventOwnTimes_take(uint32_t id, uint32_t stamp, uint32_t duration, uint32_t* timeOf);
// Tests: forgets every note.
void eventOwnTimes_resetForTest();
