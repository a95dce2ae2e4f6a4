// The line a stop of the process leaves per recording measurement: the stamp
// of the last record it took, so that whoever reads the log can tell a
// recording that ends there from one that lost its end.
#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

void meas_app_noteRecordingStops() {
    bool recorded[MEAS_COUNT] = {};
    uint32_t last[MEAS_COUNT] = {};
    {
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        for (unsigned r = 0; r < MEAS_RASTER_CODES; ++r)
            for (const MeasBlock* b = meas_app_measlist[r]; b; b = b->next) {
                // the data blocks' records are what the files hold
                if (b->typeFlags & (MEAS_BLK_SB | MEAS_BLK_TELE)) continue;
                const meas_t& m = *b->owner;
                if (!(m.runFlags & 1u) || !m.firstDataTimeStamp || b->measIdx >= MEAS_COUNT) continue;
                const unsigned idx = b->measIdx;
                if (!recorded[idx] || int32_t(b->latestTimeStamp - last[idx]) > 0) last[idx] = b->latestTimeStamp;
                recorded[idx] = true;
            }
    }
    // never dropped to the log's limits (a check of the recordings relies on
    // it), and no error: not copied to stderr
    for (unsigned idx = 0; idx < MEAS_COUNT; ++idx)
        if (recorded[idx])
            syslogx(150 | SYSLOGX_LOSS, "m%02u: recording stopped at time stamp %u", idx + 1, unsigned(last[idx]));
}
