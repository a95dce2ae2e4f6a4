// Steps of the time stamp. A slave's stamp steps when its core takes its
// master's time: the lock at the first sync, the new lock on a master that
// runs anew or on another master, a step back of a second or more. The
// stamps before and after a step belong to two time bases, and a span that
// begins in one and ends in the other measures nothing. A slew moves the
// stamp by a few 0.1 ms a second and is no step.
//
// A step is seen against the device's own count, which nothing steps: the
// 1 ms raster of the time service notes the pair every millisecond, and
// whoever keeps a span open across steps (an open event) looks at the step
// count or listens.
#pragma once

#include <cstdint>

struct TimeStep {
    uint32_t before;   // the last stamp seen in the old time
    uint32_t after;    // the first stamp seen in the new time
};

// Notes a stamp and the own count of the same moment; true when the stamp
// stepped since the previous note (the step is kept and the listeners are
// called on the calling task). The first note sees no step.
bool time_stepNote(uint32_t stamp, uint32_t own);
// Reads the stamp and the own count together and notes them.
void time_stepCheck();
// Steps seen so far (wraps); with last, the newest of them (when there was one).
uint32_t time_stepCount(TimeStep* last = nullptr);
// The step count of the time the stamp reads now: time_stepCount, and one
// more when the stamp has stepped since the last note (the 1 ms raster has
// not noted it yet). For a stamp just read: the time base it was made in.
uint32_t time_stepCountNow();
// The stamp now, and in *steps the step count of the time it was made in
// (read together, as time_stepCountNow judges them).
uint32_t time_stampNow(uint32_t* steps);
// The step count of the time a stamp read with the own count `own` belongs
// to, judged against the newest note as that note's next would be.
uint32_t time_stepCountOf(uint32_t stamp, uint32_t own);
// The newest step that began a new time (the step count with it; 0 when
// there was none): a step back, or the core's lock onto the time master's
// new run ahead (host::timeRelocksAhead); either restarts the measurement.
// The steps forward that may follow it (a quicker message) go on in its time.
uint32_t time_stepBackCount(TimeStep* step = nullptr);
// The time base a stamp belongs to, as a step count, for a stamp whose source
// told none (another device's: its messages carry no time base); it came in at this
// device's stamp seenAt, when stepsThen steps had been seen (read before
// seenAt). Senders stamp what they send with their time of the moment: around
// the newest step that began a new time, the stamp belongs to the time it lies nearer to where
// that time stood when it came, the old one (a count before that step's) or
// the new (an event closed in the old time at the step and sent after it; a
// restarted master's event of its new time that came before this device
// stepped onto it). Otherwise: stepsThen.
uint32_t time_stepOfStamp(uint32_t stamp, uint32_t seenAt, uint32_t stepsThen);

// Called at each step on the noting task (the 1 ms raster): must not wait.
// Up to 8 listeners; registering one again changes nothing. False when full.
using TimeStepListener = void (*)(const TimeStep& step);
bool time_stepListen(TimeStepListener fn);

// Tests: forgets the notes (the next note sees no step) and the newest step
// that began a new time; the counts and the listeners stay.
void time_stepResetForTest();
