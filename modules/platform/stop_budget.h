// The time an orderly stop has, from its request to the end of the process.
//
// Every wait of the stop (the shell's commands, the logger's flush and halt,
// the copies, the NVRAM's disk, the log reader, the kernel side's services)
// takes its share from this one budget, leaving what the steps after it need:
// however the disks and the clients behave, the process ends within the
// limit of its request.
#pragma once

// What a stop needs after the end is claimed: the log written out, the
// kernel side's services stopped, the process ended.
constexpr unsigned kStopTailMs = 900;
// Kept from the budget for the end itself, after the last wait.
constexpr unsigned kStopExitMarginMs = 100;
// The exit code of a stop ended by its limit that may have left something it
// could not name (the logger's halt not done, the log not written out).
constexpr int kExitStopUnnamed = 3;

// The whole budget in ms (0: none, the default: every wait has its own bound).
void stopBudget_setLimit(unsigned ms);
unsigned stopBudget_limit();
// Notes the request of the stop; later calls keep the first instant. The
// first caller is the thread that takes the signal (at the stop's priority,
// platform/stop_priority.h): the budget counts from the signal.
void stopBudget_begin();
// How long a step may wait: `most`, but no longer than leaves `reserveMs` of
// the budget to the steps after it (0 once that is spent). Without a limit,
// or before the request, `most`.
unsigned stopBudget_waitMs(unsigned most, unsigned reserveMs);
// True once a stop has been requested: a start-up step that waits for a
// task ends its wait then, so that the stop is not held up by the start.
bool stopBudget_requested();
// Milliseconds since the request (0 before it).
unsigned stopBudget_elapsedMs();
// The step the stop is in, as its main task notes it ("the logger's flush"):
// a stop its guard ends says where it was held up. Texts that live as long
// as the process; "its request" before the first note.
void stopBudget_noteStep(const char* step);
const char* stopBudget_step();
