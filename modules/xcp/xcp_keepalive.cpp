// Keep-alive of the calibration tool: every GET_STATUS (re)arms a one-shot
// timer of the connection's time-out; while it runs the master counts as
// present. Its expiry clears the flag and, only with the forced-disconnect
// switch on, ends the session.
#include <cerrno>

#include "platform/syslogx.h"
#include "xcp/xcp_internal.h"

namespace {

uint8_t gFloodTimerError = 0;

void xcpMasterPresentTimeout(TIMER_ID, intptr_t instance) {
    if (instance < 0 || unsigned(instance) >= XCP_MAX_CONNECTIONS) return;
    xcpHandle* c = &xcpConnections[instance];
    c->masterPresent = 0;
    if (xcp_comms_reset_is_active == 1) {
        syslogx(149, "XCP: Force Disconnect");
        xcpDisconnect(c);
    }
    syslogx(148, "XCP: TIMEOUT on instance number %d", int(instance));
}

void timerFailed(xcpHandle* c, const char* what) {
    syslogx(147, "XCP: %s failed! errno %x", what, unsigned(errno));
    c->keepAliveTimerError = true;
}

}  // namespace

void xcpMasterPresentStartTimer(xcpHandle* c) {
    if (!(c->resource & XCP_RESOURCE_CALPAG)) return;
    if (c->keepAliveTimerError) {
        SYSLOGX_FLOOD(gFloodTimerError, 147, "XCP: timer error: master present will not be released");
        c->masterPresent = 1;
        return;
    }
    if (!c->keepAliveTimer) {
        TIMER_ID t = timerCreate();
        if (!t) return timerFailed(c, "timer_create");
        if (timerConnect(t, xcpMasterPresentTimeout, intptr_t(c->instance)) != OK) {
            timerDelete(t);
            return timerFailed(c, "timer_connect");
        }
        c->keepAliveTimer = t;
        syslogx(150, "XCP: master present timeout timer setup done");
    } else if (timerCancel(c->keepAliveTimer) != OK) {
        syslogx(147, "XCP: timer_cancel failed!");
    }
    if (timerArm(c->keepAliveTimer, int(c->keepAliveTimeout * 1000), 0) != OK) {
        timerDelete(c->keepAliveTimer);
        c->keepAliveTimer = nullptr;
        return timerFailed(c, "timer_settime");
    }
    c->masterPresent = 1;
}

void xcpMasterPresentStopTimer(xcpHandle* c) {
    if (c->keepAliveTimer) timerCancel(c->keepAliveTimer);
    c->masterPresent = 0;
}

void xcpMasterPresentDeleteTimer(xcpHandle* c) {
    if (c->keepAliveTimer) timerDelete(c->keepAliveTimer);
    c->keepAliveTimer = nullptr;
    c->keepAliveTimerError = false;
}
