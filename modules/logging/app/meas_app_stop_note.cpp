// The line every stop of a recording measurement leaves: the stamp of the
// last record it took, so that whoever reads the log can tell a recording
// that ends there from one that lost its end.
//
// Each measurement keeps where its recording has got to in one word that
// the logging raster raises record by record and a stop takes once: the
// stop's guard may take it from its own thread while the raster still runs
// (or is stuck), without a lock, and the stop's own line and the guard's
// never both come.
#include <atomic>

#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

namespace {
// bit 32: a record was taken since the start (its stamp in the low word);
// bit 33: the stop's line has been said, later records change nothing
constexpr uint64_t kTaken = uint64_t(1) << 32;
constexpr uint64_t kSaid = uint64_t(1) << 33;

std::atomic_ref<uint64_t> recordedTo(meas_t& m) { return std::atomic_ref<uint64_t>(m.recordedTo); }
}  // namespace

void meas_app_recordingStarts(meas_t& m) { recordedTo(m).store(0, std::memory_order_release); }

void meas_app_noteRecorded(meas_t& m, uint32_t ts) {
    auto word = recordedTo(m);
    uint64_t was = word.load(std::memory_order_acquire);
    for (;;) {
        if (was & kSaid) return;
        // the newest stamp, compared wrap-safe (a record drained late is older)
        if ((was & kTaken) && int32_t(ts - uint32_t(was)) <= 0) return;
        if (word.compare_exchange_weak(was, kTaken | ts, std::memory_order_acq_rel, std::memory_order_acquire))
            return;
    }
}

void meas_app_noteRecordingStops() {
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
        meas_t& m = meas[idx];
        if (!(m.runFlags & 1u)) continue;
        const uint64_t was = recordedTo(m).exchange(kSaid, std::memory_order_acq_rel);
        // never dropped to the log's limits (a check of the recordings relies
        // on it), and no error: not copied to stderr
        if ((was & kTaken) && !(was & kSaid))
            syslogx(150 | SYSLOGX_LOSS, "m%02u: recording stopped at time stamp %u", idx + 1, unsigned(uint32_t(was)));
    }
}
