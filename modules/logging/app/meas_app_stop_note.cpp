// The line every stop of a recording measurement leaves: the stamp of the
// last record it took, so that whoever reads the log can tell a recording
// that ends there from one that lost its end.
#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

void meas_app_noteRecordingStops() {
    bool recorded[MEAS_COUNT] = {};
    uint32_t last[MEAS_COUNT] = {};
    {
        // the measurement's own blocks, not the raster lists: a stop that
        // drained its blocks has taken them out of the lists already
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        for (unsigned idx = 0; idx < MEAS_COUNT; ++idx) {
            const meas_t& m = meas[idx];
            if (!(m.runFlags & 1u) || !m.firstDataTimeStamp || !m.blocks) continue;
            for (unsigned i = 0; i < blockCountOf(m); ++i) {
                const MeasBlock& b = m.blocks[i];
                // the data blocks' records are what the files hold
                if (b.typeFlags & (MEAS_BLK_SB | MEAS_BLK_TELE | MEAS_BLK_COND)) continue;
                // a block that took no record since this start holds an older one (or none)
                if (!b.latestTimeStamp || int32_t(b.latestTimeStamp - m.firstDataTimeStamp) < 0) continue;
                if (!recorded[idx] || int32_t(b.latestTimeStamp - last[idx]) > 0) last[idx] = b.latestTimeStamp;
                recorded[idx] = true;
            }
        }
    }
    // never dropped to the log's limits (a check of the recordings relies on
    // it), and no error: not copied to stderr
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx)
        if (recorded[idx])
            syslogx(150 | SYSLOGX_LOSS, "m%02u: recording stopped at time stamp %u", idx + 1, unsigned(last[idx]));
}
