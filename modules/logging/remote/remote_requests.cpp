// The remote-control requests to the logging application. The requests are
// flags of the logging application that its raster acts on; these functions
// only decide whether a request may be made now and tell the supervision
// task which client to watch.
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_system.h"
#include "logging/remote/meas_app_remote.h"
#include "logging/remote/remote_state.h"
#include "logging/store/meas_app_store.h"
#include "platform/syslogx.h"
#include "platform/task_stop.h"

namespace {

uint8_t on(uint8_t& f) { return flag(f).load(); }
void set(uint8_t& f, uint8_t v) { flag(f).store(v); }

bool loggingActive() { return cfg_system.loggingActive != 0; }

}  // namespace

RemoteState& remoteState() {
    static RemoteState* s = new RemoteState;   // tasks may outlive statics
    return *s;
}

bool RemoteEvents::init() {
    if (wake_.load()) return true;
    SEM_ID s = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
    wake_.store(s);
    return s != nullptr;
}

// The semaphore stays: a request from the shell may be sending right now.
void RemoteEvents::destroy() { bits_.store(0); }

bool RemoteEvents::send(uint32_t bits) {
    SEM_ID s = wake_.load();
    if (!s) return false;
    bits_.fetch_or(bits);
    return semGive(s) == OK;
}

uint32_t RemoteEvents::receive(uint32_t mask, int timeoutTicks) {
    const uint64_t end = tickGet() + uint64_t(timeoutTicks < 0 ? 0 : timeoutTicks);
    for (;;) {
        if (uint32_t got = bits_.fetch_and(~mask) & mask) return got;
        SEM_ID s = wake_.load();
        if (!s) return 0;
        int wait = WAIT_FOREVER;
        if (timeoutTicks != WAIT_FOREVER) {
            const uint64_t now = tickGet();
            if (now >= end) return 0;
            wait = int(end - now);
        }
        semTake(s, wait);
    }
}

namespace {

// Why an init cannot be requested now; null when it can. The lock is no
// reason for a caller that may lift it.
const char* initRefusal(bool ignoreLock) {
    SignalPage& s = sp();
    if (on(s.meas_app_destroyreq)) return "a destroy is pending, init refused";
    if (on(s.meas_app_stopreq)) return "a stop is pending, init refused";
    if (on(s.meas_app_blkstopreq)) return "a stop is still running, init refused";
    if (on(s.meas_app_reinitreq) || on(s.meas_app_hstinitreq)) return "an init is pending, init refused";
    if (ignoreLock) return nullptr;
    switch (remoteState().initLock.load()) {
    case 0: return nullptr;
    case RCTRL_INITLOCK_LOST: return "the measurements were set up again for a lost remote client, init refused";
    default: return "the shell's meas destroy holds the measurements destroyed, init refused (meas init sets them up)";
    }
}

// An init request, refused while another request is pending or, unless the
// caller may lift it, while the init is locked.
int requestInit(bool ignoreLock, const char** refusal) {
    RemoteState& r = remoteState();
    SignalPage& s = sp();
    if (const char* why = initRefusal(ignoreLock)) {
        syslogx(151, "meas_app_remoteinit: failed %03X", unsigned(meas_app_get_flags()));
        if (refusal) *refusal = why;
        return 0;
    }
    if (loggingActive()) {
        set(s.meas_app_reinitreq, 1);
        if (r.events.send(RCTRL_EV_REMOTEINIT_DONE)) {
            r.retries = 0;
            r.address = 0;
        } else {
            syslogx(147, "meas_app_remoteinit: Event Send failed");
        }
    }
    return 1;
}

}  // namespace

int meas_app_remoteinit(const char** refusal) { return requestInit(false, refusal); }

int meas_app_shellinit() {
    // A destroy from the shell locks the remote init so that the supervision
    // does not undo it; the shell's own init lifts the lock. Refused for a
    // pending request, the lock stays as it was. Only the lock seen before
    // the request is lifted: a client's destroy or the supervision may store
    // another one meanwhile, and theirs stays.
    RemoteState& r = remoteState();
    uint8_t seen = r.initLock.load();
    if (!requestInit(true, nullptr)) return 0;
    r.initLock.compare_exchange_strong(seen, 0);
    return 1;
}

int meas_app_remotedestroy(uint32_t address, const char** refusal) {
    RemoteState& r = remoteState();
    SignalPage& s = sp();
    // a destroy stops first: not while another stop is still under way
    const char* why = on(s.meas_app_destroyreq)   ? "a destroy is pending, destroy refused"
                      : on(s.meas_app_stopreq)    ? "a stop is pending, destroy refused (try again when it is done)"
                      : on(s.meas_app_blkstopreq) ? "a stop is still running, destroy refused (try again when it is done)"
                                                  : nullptr;
    if (why) {
        if (refusal) *refusal = why;
        return 0;
    }
    if (loggingActive()) {
        set(s.meas_app_reinitreq, 0);
        set(s.meas_app_hstinitreq, 0);
        set(s.meas_app_startreq, 0);
        set(s.meas_app_stopreq, 1);
        set(s.meas_app_destroyreq, 1);
        if (address) {
            r.initLock = 0;
            r.address = address;
            if (!r.events.send(RCTRL_EV_REMOTEDESTROY)) syslogx(147, "meas_app_remotedestroy: Event Send failed");
        } else {
            r.initLock = RCTRL_INITLOCK_SHELL;
        }
    }
    if (address) {
        const auto* b = reinterpret_cast<const uint8_t*>(&address);
        syslogx(150, "meas_app_remotedestroy %03X, ip %u.%u.%u.%u", unsigned(meas_app_get_flags()), b[0], b[1], b[2],
                b[3]);
    }
    return 1;
}

namespace {
// Why a start cannot be requested now; null when it can. A stop still under
// way is no reason: the logging raster starts once it is done.
const char* startRefusal() {
    SignalPage& s = sp();
    if (on(s.meas_app_startreq)) return "a start is pending, start refused";
    if (on(s.meas_app_reinitreq) || on(s.meas_app_hstinitreq))
        return "an init is pending, start refused (the init starts logging)";
    if (on(s.meas_app_destroyreq)) return "a destroy is pending, start refused";
    if (remoteState().startLock.load())
        return "logging was started again for a lost remote client, start refused";
    return nullptr;
}
}  // namespace

int meas_app_remotestart(const char** refusal) {
    RemoteState& r = remoteState();
    SignalPage& s = sp();
    const char* why = startRefusal();
    if (why) {
        syslogx(151, "meas_app_remotestart: failed %03X", unsigned(meas_app_get_flags()));
        if (refusal) *refusal = why;
        return 0;
    }
    if (loggingActive()) {
        // Running is cleared only once a stop is done (meas_app_main): while
        // one is pending or drains its blocks, the start comes after it.
        const bool afterStop = on(s.meas_app_stopreq) || on(s.meas_app_blkstopreq);
        if (!meas_app_startable()) {
            // refused; a watched client's restart has nothing to wait for
            // either: the init that creates a measurement starts it
            why = "no measurement, start refused (meas init first)";
            syslogx(150, "meas_app_remotestart: %s", why);
        } else if (!afterStop && on(s.meas_app_running)) {
            syslogx(150, "meas_app_remotestart: already running %03X, clear events ", unsigned(meas_app_get_flags()));
        } else {
            set(s.meas_app_startreq, 1);
            syslogx(150, "meas_app_remotestart: %03X", unsigned(meas_app_get_flags()));
        }
        if (r.events.send(RCTRL_EV_REMOTESTART_DONE)) {
            r.retries = 0;
            r.stopActive = 0;
            r.address = 0;
        } else {
            syslogx(147, "meas_app_remotestart: Event Send failed");
        }
    }
    if (why && refusal) *refusal = why;
    return why ? 0 : 1;
}

namespace {
// Why a stop or a transfer cannot be requested now (logging is about to
// start or another request is pending); null when it can.
const char* stopRefusal() {
    SignalPage& s = sp();
    if (on(s.meas_app_destroyreq)) return "a destroy is pending, stop refused";
    if (on(s.meas_app_reinitreq) || on(s.meas_app_hstinitreq))
        return "an init is pending, stop refused (try again once logging runs)";
    if (meas_app_startreq_condition()) return "a start is pending, stop refused (try again once logging runs)";
    if (on(s.meas_app_stopreq)) return "a stop is pending, stop refused";
    if (on(s.meas_app_blkstopreq)) return "a stop is still running, stop refused";
    return nullptr;
}
}  // namespace

int meas_app_remotestop(uint32_t address, const char** refusal) {
    RemoteState& r = remoteState();
    SignalPage& s = sp();
    if (const char* why = stopRefusal()) {
        if (refusal) *refusal = why;
        return 0;
    }
    if (loggingActive()) {
        set(s.meas_app_stopreq, 1);
        set(s.meas_app_startreq, 0);
        r.startLock = 0;
        r.initLock = 0;
        r.address = address;
        if (!r.events.send(RCTRL_EV_REMOTESTOP)) syslogx(147, "meas_app_remotestop: Event Send failed");
    }
    return 1;
}

int meas_app_remoteTransfer(uint32_t) {
    SignalPage& s = sp();
    if (stopRefusal()) return 0;
    if (!loggingActive()) {
        syslogx(150, "meas_app_remotedatatransfer: nothing to do bc logging inactive.");
    } else if (!on(s.meas_app_running)) {
        syslogx(150, "meas_app_remotedatatransfer: nothing to do bc meas app not running.");
    } else {
        set(s.meas_app_remoteread, 1);
    }
    return 1;
}

int meas_app_remotefaststop() {
    if (loggingActive()) set(sp().meas_app_faststopreq, 1);
    return 1;
}

int meas_app_remotedestroy_busy() { return on(sp().meas_app_destroyreq) ? 1 : 0; }

int meas_app_remotestop_busy() {
    SignalPage& s = sp();
    return on(s.meas_app_stopreq) || on(s.meas_app_blkstopreq) || !meas_app_PreTrigIsOfflineDataFlushed() ? 1 : 0;
}

int meas_app_remoteTransferBusy() {
    SignalPage& s = sp();
    return on(s.meas_app_stopreq) || on(s.meas_app_blkstopreq) ? 1 : 0;
}

uint8_t meas_app_get_remotectrl_remotestart_lock() { return remoteState().startLock.load(); }
uint8_t meas_app_get_remotestop_active() { return remoteState().stopActive.load(); }
uint32_t meas_app_remote_watchedAddress() { return remoteState().address.load(); }

void meas_app_remote_setXcpMasterPresent(uint8_t (*present)()) { remoteState().xcpMasterPresent.store(present); }

int meas_app_remote_ini() {
    RemoteState& r = remoteState();
    meas_app_remote_exit();
    r.address = 0;
    r.startLock = 0;
    r.initLock = 0;
    r.retries = 0;
    r.stopActive = 0;
    if (!r.events.init()) {
        syslogx(147, "meas_app_ini: taskSpawn error %s", "no event semaphore");
        return 0;
    }
    TASK_ID lost = taskSpawn("r_rCtrlLost", 131, VX_FP_TASK, 8192, [] { remotectrl_lost_task(); });
    if (!lost) {
        syslogx(147, "meas_app_ini: taskSpawn error %s", "r_rCtrlLost");
        return 0;
    }
    r.lostTask = lost;
    TASK_ID listen = taskSpawn("r_rCtrlLisQ", 131, VX_FP_TASK, 8192, [] { remotectrl_listenQueue(); });
    if (!listen) {
        syslogx(147, "meas_app_ini: taskSpawn error %s", "r_rCtrlLisQ");
        return 0;
    }
    r.listenTask = listen;
    return 1;
}

void meas_app_remote_exit() {
    RemoteState& r = remoteState();
    bool ended = task_stop(r.listenTask.exchange(nullptr), "meas_app_remote_exit()", "the remote-control events");
    if (!task_stop(r.lostTask.exchange(nullptr), "meas_app_remote_exit()", "the remote-control events")) ended = false;
    // a task given up in a system call may use them when its call returns
    if (ended) r.events.destroy();
    r.address = 0;
}
