// The line every stop of a recording measurement leaves: the stamp of the
// last record it took, so that whoever reads the log can tell a recording
// that ends there from one that lost its end.
//
// Each measurement keeps where its recording has got to in one word that
// the logging raster raises record by record and a stop takes once: the
// stop's guard may take it from its own thread while the raster still runs
// (or is stuck), without a lock, and the stop's own line and the guard's
// never both come.
#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

namespace {
// bit 32: a record was taken since the start (its stamp in the low word);
// bit 33: the stop's line has been said, later records change nothing
constexpr uint64_t kTaken = uint64_t(1) << 32;
constexpr uint64_t kSaid = uint64_t(1) << 33;
}  // namespace

void meas_app_recordingStarts(meas_t& m) { m.recordedTo = 0; }

void meas_app_noteRecorded(meas_t& m, uint32_t ts) {
    uint64_t was = m.recordedTo;
    for (;;) {
        if (was & kSaid) return;
        // the newest stamp, compared wrap-safe (a record drained late is older)
        if ((was & kTaken) && int32_t(ts - uint32_t(was)) <= 0) return;
        if (m.recordedTo.compareExchange(was, kTaken | ts)) return;
    }
}

void meas_app_noteRecordingStops() {
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (!(m.runFlags & 1u)) continue;
        const uint64_t was = m.recordedTo.exchange(kSaid);
        // never dropped to the log's limits (a check of the recordings relies
        // on it), and no error: not copied to stderr
        if ((was & kTaken) && !(was & kSaid))
            syslogx(150 | SYSLOGX_LOSS, "m%02u: recording stopped at time stamp %u", idx + 1, unsigned(uint32_t(was)));
    }
}

bool meas_app_recordedTo(unsigned measIdx, uint32_t* ts) {
    if (measIdx >= MEAS_COUNT || !ts) return false;
    const uint64_t was = meas[measIdx].recordedTo;
    if (!(was & kTaken) || (was & kSaid)) return false;
    *ts = uint32_t(was);
    return true;
}
