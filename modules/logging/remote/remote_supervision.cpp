// The supervision task "r_rCtrlLost": after a client stopped (or destroyed)
// logging it pings the client every half second; when the fifth ping in a
// row goes unanswered the client is taken as lost and logging is started
// again (or re-initialised) without it.
#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "host/bus/ping.h"
#include "logging/remote/meas_app_remote.h"
#include "logging/remote/remote_state.h"
#include "platform/syslogx.h"

namespace {

constexpr int kQuietFailures = 4;       // failures before the client counts as lost
constexpr int kPassMs = 500;

bool clientAnswers(RemoteState& r, uint32_t address, int* err) {
    auto present = r.xcpMasterPresent.load();
    if (present && present()) return true;
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    errno = 0;
    if (ping(text, 1, PING_OPT_SILENT) == OK) return true;
    *err = errno;
    return false;
}

// Watches the client until it is lost and logging was restarted, or the
// client ends the watch itself (its disconnect starts or re-initialises).
void watch(RemoteState& r, bool stopWatched, bool destroyWatched) {
    int failures = 0;
    while (uint32_t address = r.address.load()) {
        int err = 0;
        if (clientAnswers(r, address, &err)) {
            failures = 0;
        } else if (++failures <= kQuietFailures) {
            syslogx(150, "remote lost, ping returns errno %s(%d)", std::strerror(err), err);
        } else {
            if (stopWatched) {
                syslogx(150, "remote lost, do a remotestart");
                if (meas_app_remotestart()) r.startLock = 1;
            }
            if (destroyWatched) {
                syslogx(150, "remote lost, do a remoteinit");
                if (meas_app_remoteinit()) r.initLock = RCTRL_INITLOCK_LOST;
            }
            r.retries.fetch_add(1);
        }
        const uint32_t done = r.events.receive(RCTRL_EV_REMOTESTART_DONE | RCTRL_EV_REMOTEINIT_DONE, 0);
        if (done & RCTRL_EV_REMOTESTART_DONE) stopWatched = false;
        if (done & RCTRL_EV_REMOTEINIT_DONE) destroyWatched = false;
        if (!stopWatched && !destroyWatched) break;
        // paced also once the client is lost: a refused restart is tried again
        taskDelay(kPassMs * sysClkRateGet() / 1000);
    }
    r.address = 0;
    r.events.clear(~0u);
}

}  // namespace

void remotectrl_lost_task() {
    RemoteState& r = remoteState();
    syslogx(150, "remotectrl_lost_task: init:");
    pingSetReplyTimeout(1);
    for (;;) {
        const uint32_t ev = r.events.receive(RCTRL_EV_REMOTESTOP | RCTRL_EV_REMOTEDESTROY, WAIT_FOREVER);
        if (!ev) {
            syslogx(147, "remotectrl_lost_task(): receiving event failed");
            taskDelay(sysClkRateGet());
            continue;
        }
        if (ev & RCTRL_EV_REMOTESTOP) r.stopActive = 1;
        // a start or init done before this watch began does not end it
        r.events.clear(RCTRL_EV_REMOTESTART_DONE | RCTRL_EV_REMOTEINIT_DONE);
        watch(r, (ev & RCTRL_EV_REMOTESTOP) != 0, (ev & RCTRL_EV_REMOTEDESTROY) != 0);
    }
}
