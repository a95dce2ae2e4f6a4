// Receive machine of an XCP master instance: takes the answer to the command
// the send machine is waiting for and moves its state on.
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "xcp/xcp_codes.h"

namespace {
uint16_t get16(const uint8_t* p, int be) { return word_conv(uint32_t(p[0] | p[1] << 8), be); }
uint32_t get32(const uint8_t* p, int be) {
    return adr_conv(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24, be);
}
std::atomic<uint8_t> gFloodStray{0}, gFloodWood{0};

// GET_DAQ_CLOCK: relates the slave's clock to the local one. Within 0.5 s
// the slave's time is used as it is, else shifted by the difference.
void relateClock(XcpmrInstance* h, const uint8_t* p, unsigned len) {
    if (len < 8) return;
    const double slave = double(get32(p + 4, h->bigEndian)) * h->tsFactor;
    const int64_t wander = int64_t(xcpmr_local_ts()) - int64_t(slave);
    const int32_t w = int32_t(wander);
    xcpmr_set_wander(h->instance, w);
    if (w > -5000 && w < 5000) {
        h->tsOffset = 0;
        xcpmr_set_timestamp_state(h->instance, 3);
    } else {
        h->tsOffset = w;
        xcpmr_set_timestamp_state(h->instance, 2);
    }
}

// START_STOP_DAQ_LIST answers FIRST_PID: with absolute ODT numbers the PIDs
// from it on name the ODTs of the list.
void mapPids(XcpmrInstance* h, const uint8_t* p, unsigned len) {
    if ((h->keyByte >> 6) != 0 || len < 2 || h->daqCursor >= h->daqs.size()) return;
    XcpmrDaq* daq = h->daqs[h->daqCursor].get();
    daq->firstPid = p[1];
    for (unsigned k = 0; k < daq->odtsInUse; ++k) {
        const unsigned pid = p[1] + k;
        if (pid >= XCPMR_PID_MAP) break;   // only PIDs below the CTO range name ODTs
        h->pidMap[pid] = xcpmrPidEntry(h->daqCursor, k);
    }
}
}  // namespace

int xcpmr_statemachine_receive(XcpmrInstance* h, const uint8_t* p, unsigned len) {
    if (len == 0) return XRM_IGNORED;
    if (p[0] == XCP_PID_ERR) return XRM_ERROR;
    if (p[0] != XCP_PID_RES) return XRM_IGNORED;   // events and service requests
    const uint32_t state = h->sendState;
    if (state == XS_STOP) {
        SYSLOGX_FLOOD(gFloodStray, 147, "XCPMR: receive returncode without command");
        return XRM_STRAY;
    }
    if (state >= XS_STATES) {
        SYSLOGX_FLOOD(gFloodWood, 147, "XCPMR: state machine in the wood on receive");
        return XRM_STRAY;
    }
    if (state == XS_IDLE || state == XS_INIT) return XRM_STRAY;   // nothing was asked
    ++h->answerCount;
    switch (state) {
    case XS_PROC_INFO:
        if (len >= 8) {
            h->info = XcpmrProcInfo{p[0], p[1], get16(p + 2, h->bigEndian), get16(p + 4, h->bigEndian), p[6], p[7]};
            h->keyByte = p[7];
        }
        break;
    case XS_START_LIST: mapPids(h, p, len); break;
    case XS_CLOCK_START:
    case XS_CLOCK_RESYNC: relateClock(h, p, len); break;
    default: break;
    }
    h->sendState = h->nextState;
    h->daqCursor = h->nextDaq;
    h->odtCursor = h->nextOdt;
    h->entryCursor = h->nextEntry;
    switch (state) {
    case XS_DISCONNECT_STOP:
    case XS_KEEPALIVE:
    case XS_CLOCK_RESYNC: return XRM_DONE;
    default: return XRM_GO_ON;
    }
}
