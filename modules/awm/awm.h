// Evaluation helpers used outside the evaluation modules, and the scheduler's
// stop.
#pragma once

#include <cstdint>

namespace awm {
// Half away from zero: x >= 0 gives x + 0.5 truncated to an unsigned 32-bit
// integer, x < 0 gives x - 0.5 truncated to a signed 32-bit integer.
double round(double x);
}  // namespace awm
// The same under a name that does not collide with ::round.
double awm_round(double x);

// Characteristic curve: linear interpolation over the last + 1 points of the
// ascending row xrow with the values y; the first and last segments are
// extended beyond the row. A curve of one point gives that point's value.
void awm_0x02_lookup(float* out, const float* y, float x, const float* xrow, int last);

// Stops the evaluation-module scheduler: its raster lists no longer run.
void awm_man_stop();
// 1 while the scheduler runs.
int awm_man_running();
// Starts it again (start-up, after a download completed); registers the stop
// hook with the calibration memory.
void awm_man_start();

// Re-phases the soft scheduler to a time stamp (0.1 ms), taking account of the
// sample sets still queued. On the host the raster tasks drive the gateway
// directly and no sample sets queue up, so there is nothing to re-phase.
void softSchedSyncTo100ms(uint32_t timeStamp);
