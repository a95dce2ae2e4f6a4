// The time service's command handlers: the master's time message on every
// device, the new system time from a tool and the time suggestion of a
// device with a better clock; and the setting of the clocks.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/kernel/kernel.h"
#include "logging/events/event_logger.h"
#include "logging/events/event_peer_opens.h"
#include "logging/fifo/meas_fifo.h"
#include "measurement/comint.h"
#include "measurement/measman.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"
#include "virari/timeserv/timeserv.h"
#include "virari/timeserv/timeserv_internal.h"

namespace {

constexpr int64_t kAgreeMs = 500;           // clocks this close count as equal
constexpr unsigned kMasterChangeCount = 9;  // the tenth message in a row changes the master
constexpr int kConflictLatch = 1000;
constexpr int kConflictLimit = 20;
constexpr unsigned kMinTimePayload = 16;    // gap stamp and date up to the seconds
constexpr uint32_t kGapPeriod = 1000;       // 0.1 ms: the master's gap stamps lie 100 ms apart
// The master's gap stamps going back this far (0.1 ms) from the last one of
// its run: its count started over, though its boot count did not go on (it
// lost its NVRAM). No late message of a run comes a second after a later one.
constexpr int32_t kRunBack = 10000;
// A time message that waited longer than two of the master's periods (a
// stall of this device: what came meanwhile is read at once) carries a date
// that old: stale, it sets no clock.
constexpr int32_t kStaleAfter = 2 * int32_t(kGapPeriod);

#define DATE_ARGS(d) (d).day, (d).month, (d).year, (d).hour, (d).minute, (d).second, (d).millisecond

// Master date minus own clock in ms; false when the date is not valid.
bool clockDifference(const date_t& master, int64_t* diffMs) {
    struct timespec m, own;
    if (!conv_date_to_time(&master, &m)) return false;
    clock_devicetime(&own);
    *diffMs = (int64_t(m.tv_sec) - own.tv_sec) * 1000 + (m.tv_nsec - own.tv_nsec) / 1000000;
    return true;
}

// The host's calendar clock is the real-time clock: the operating-system
// clock alone is set through the same call.
bool setOSTime(const date_t& d) {
    if (rtc_writeAndSetSystemTime(&d)) return true;
    syslogx(147, "Failed to set system time (user): %s", strerror(errno ? errno : EINVAL));
    return false;
}

int64_t nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Another unit id under the master's PID while the master's run is still
// heard: two units send as the master (a swapped unit left on the network,
// or two devices given the same PID). Named once per pair of units, whatever
// their boot counts do; the slave stays with the unit it follows. idMx held.
void noteSecondUnit(TimeServState& s, uint16_t src, uint32_t id, uint32_t boot) {
    if (s.secondNamed && s.secondId == id) return;
    s.secondNamed = true;
    s.secondId = id;
    s.secondBootCnt = boot;
    syslogx(147,
            "timeserv_distributeTime_cmd: two units send as time master PID 0x%02X: id 0x%08X boot count %u and "
            "id 0x%08X boot count %u; this device follows id 0x%08X",
            src, unsigned(s.masterId), unsigned(s.masterBootCnt), unsigned(id), unsigned(boot),
            unsigned(s.masterId));
}

// Watches who the master is. Another device is accepted as master with its
// tenth message in a row. Every unit has an id of its own: the master's id
// with a newer boot count is its restart, taken at once, as its time base
// has changed with it, however soon after the old run's last message it
// comes; with an older boot count while its current run is heard, it is a
// late message of a run that ended, and is not followed. Another id under
// the master's PID is a second unit while the master's unit is heard, and
// is not followed; once that unit has gone quiet it is the master's unit
// swapped (or one that lost its boot count) and is taken at once. The
// master's unit whose gap stamps go back by a second or more, with a boot
// count that did not go on, runs anew too: it lost its boot count with its
// NVRAM, and its clock started over. False for a message not followed.
bool trackMaster(TimeServState& s, const ci_msg_t* m) {
    const uint16_t src = ci_get_src(m);
    const uint32_t gap = be_get32(m->payload);
    const uint32_t id = be_get32(m->payload + 24), boot = be_get32(m->payload + 28);
    const int64_t now = nowMs();
    std::lock_guard<std::mutex> lk(s.idMx);
    if (!s.idsValid) {
        s.masterId = id;
        s.masterBootCnt = boot;
        s.masterPid = src;
        s.idsValid = true;
        s.masterHeardMs = now;
        s.masterGap = gap;
        return true;
    }
    const bool newerBoot = int32_t(boot - s.masterBootCnt) > 0;   // wrap-safe
    const bool lostBoot = src == s.masterPid && id == s.masterId && !newerBoot &&
                          int32_t(gap - s.masterGap) <= -kRunBack;
    const bool differs = lostBoot || id != s.masterId || boot != s.masterBootCnt || src != s.masterPid;
    if (!differs) {
        s.masterHeardMs = now;
        s.masterGap = gap;
    }
    if (!differs && s.changeCnt == 0) return true;
    if (differs && src == s.masterPid) {
        const bool heard = now - s.masterHeardMs <= TIMESERV_MASTER_QUIET_MS;
        if (id != s.masterId && heard) {
            noteSecondUnit(s, src, id, boot);
            return false;
        }
        if (id == s.masterId && !newerBoot && !lostBoot && heard) return false;   // a run that ended
        syslogx(150, "timeserv_distributeTime_cmd: time master PID 0x%02X runs anew (boot count %u)", src,
                unsigned(boot));
        s.masterId = id;
        s.masterBootCnt = boot;
        s.masterHeardMs = now;
        s.masterGap = gap;
        ++s.masterRun;
        s.masterRunIsRestart = true;
        s.changeCnt = 0;
        return true;
    }
    if (s.changeCnt == 0) {
        s.candidatePid = src;
        s.changeCnt = 1;
        syslogx(148, "timeserv_distributeTime_cmd: trying to change time master PID to 0x%02X", src);
    } else if (src == s.candidatePid) {
        if (++s.changeCnt > kMasterChangeCount) {
            syslogx(150, "timeserv_distributeTime_cmd: changing time master to PID 0x%02X", src);
            s.masterId = id;
            s.masterBootCnt = boot;
            s.masterPid = src;
            s.masterHeardMs = now;
            s.masterGap = gap;
            ++s.masterRun;
            s.masterRunIsRestart = false;
            s.changeCnt = 0;
        }
    } else {
        s.candidatePid = src;
        s.changeCnt = 1;
    }
    return true;
}

// Whether the master's own unit began a new run since the count `before`
// (not another device taking over: the old master may still be on).
bool masterRunsAnew(TimeServState& s, uint32_t before) {
    std::lock_guard<std::mutex> lk(s.idMx);
    return s.masterRun != before && s.masterRunIsRestart;
}

// Hands the gap stamp to the slave core when it is the current master's:
// the stamps of a second master (a misconfiguration) or of one not yet
// accepted would pull the core onto another time base. The first stamp of a
// new run of the master, or of a new master, locks the core anew. A message
// too short to carry the master's id and boot count is taken by its source
// PID alone.
void feedCore(TimeServState& s, const ci_msg_t* m, bool named, uint32_t gap) {
    const uint16_t src = ci_get_src(m);
    uint16_t pid = 0;
    uint32_t id = 0, boot = 0, run = 0;
    bool known = false, restart = false;
    {
        std::lock_guard<std::mutex> lk(s.idMx);
        known = s.idsValid;
        pid = s.masterPid;
        id = s.masterId;
        boot = s.masterBootCnt;
        run = s.masterRun;
        restart = s.masterRunIsRestart;
    }
    if (known && src != pid) return;
    if (named) {   // the message is the current master's run (trackMaster took it)
        if (!s.lockedValid || s.lockedPid != pid || s.lockedId != id || s.lockedBootCnt != boot ||
            s.lockedRun != run) {
            if (s.lockedValid)
                syslogx(150, "timeserv_distributeTime_cmd: time base of master PID 0x%02X is new: time locked anew",
                        src);
            // the same master's new run: its records are of its new time from now on
            if (s.lockedValid && restart && s.lockedPid == pid && s.lockedRun != run) {
                fifo_data_master_runs_anew(pid);
                eventLoggerMasterRunsAnew(pid);   // and so are its events that came before this message
            }
            host::restartTimeLock();
            s.lockedPid = pid;
            s.lockedId = id;
            s.lockedBootCnt = boot;
            s.lockedRun = run;
            s.lockedValid = true;
        }
    }
    time_putNextGapTimestamp(gap);
}

void suggestOwnTime(const TimeServState& s) {
    date_t d{};
    if (!timeserv_readSystemTime(&d)) return;
    ci_msg_t m;
    ci_init_msg(&m, TIMESERV_CMD_SUGGEST_TIME, CI_PID_ALL, TIMESERV_DATE_PAYLOAD);
    std::memset(m.payload, 0, TIMESERV_DATE_PAYLOAD);
    timeserv_putDate(m.payload, d);
    be_put32(m.payload + 16, s.qualifier);
    comint_put_cmd(&m, 1);
}

// Another master sends at our rate: the counter climbs by one per period.
void checkConflict(TimeServState& s, uint16_t src) {
    if (s.conflictCnt >= kConflictLatch) return;
    if (src == app_pid) {
        if (s.conflictCnt > 0) --s.conflictCnt;
    } else {
        s.conflictCnt += 2;
    }
    if (s.conflictCnt > kConflictLimit) {
        error_mgr_set(ERRMGR_PATH_TIMESERVICE, ERRMGR_TYPE_MULTIPLE_TIME_MASTERS, 0);
        syslogx(147, "timeserv_distributeTime_cmd: multiple time masters detected");
        s.conflictCnt = kConflictLatch;
    }
}

// Whether the message with this gap stamp waited: the master sent it one
// period before the gap it announces, and the core, in sync, stamps in the
// master's time.
bool stale(uint32_t gap) {
    const int32_t age = int32_t(time_getTimestamp() - (gap - kGapPeriod));   // wrap-safe
    return age > kStaleAfter || age < -kStaleAfter;
}

// Takes the master's date into the clocks. The clocks agree when they lie
// within half a second of each other either way: a clock ahead of the master
// is pulled back like one behind it, and a better qualifier is taken only
// by a clock that agrees with the master's or was just set from it. A stale
// message's date is not taken: after a stall of this device the messages of
// that while come all at once, and the clock takes the date of a fresh one.
void updateClock(TimeServState& s, const date_t& d, bool qPresent, uint32_t q, uint32_t gap) {
    if (time_getSyncState() != 3) {
        s.firstSyncPending = true;
        return;
    }
    if (stale(gap)) return;
    int64_t diff = 0;
    const bool computed = clockDifference(d, &diff);
    const bool apart = !computed || std::llabs(diff) > kAgreeMs;
    const uint32_t own = s.qualifier;
    if (s.firstSyncPending) {
        const bool setRtc = qPresent ? (q > own || (q == own && apart)) : apart;
        if (setRtc && rtc_writeAndSetSystemTime(&d)) {
            syslogx(150, "Sync on timemaster systemtime: %.2d.%.2d.%.4d  %.2d:%.2d:%.2d.%.3d, q:%d", DATE_ARGS(d),
                    int(q));
            s.firstSyncPending = false;
            s.qualifier = q;
        } else if (setOSTime(d)) {
            syslogx(150, "Sync on timemaster systemtime w/o RTC update: %.2d.%.2d.%.4d  %.2d:%.2d:%.2d.%.3d, q:%d",
                    DATE_ARGS(d), int(q));
            s.firstSyncPending = false;
        } else {
            syslogx(147, "Failed to sync on timemaster systemtime: %.2d.%.2d.%.4d  %.2d:%.2d:%.2d.%.3d, q:%d",
                    DATE_ARGS(d), int(q));
        }
        return;
    }
    if (!qPresent || q <= own) return;
    if (!apart) {
        s.qualifier = q;
    } else if (rtc_writeAndSetSystemTime(&d)) {
        syslogx(150,
                "timeserv_distributeTime_cmd: update rtc on better qualifier: %.2d.%.2d.%.4d  %.2d:%.2d:%.2d.%.3d, "
                "q:%d",
                DATE_ARGS(d), int(q));
        s.qualifier = q;
    }
}

}  // namespace

void timeserv_masterRestartHeard(uint16_t pid, uint32_t unit, uint32_t boot) {
    TimeServState& s = timeserv();
    if (s.isMaster) return;
    {
        std::lock_guard<std::mutex> lk(s.idMx);
        // the master followed, heard in a run after the one its time is taken of
        if (!s.idsValid || pid != s.masterPid || unit != s.masterId || int32_t(boot - s.masterBootCnt) <= 0) return;
    }
    fifo_data_master_restarts(pid);
}

int timeserv_distributeTime_cmd(ci_msg_t* m) {
    TimeServState& s = timeserv();
    const unsigned len = ci_get_len(m);
    if (len < kMinTimePayload) {
        SYSLOGX_FLOOD(s.floodShort, 147, "timeserv_distributeTime_cmd: time message of %u bytes from PID 0x%02X ignored",
                      len, unsigned(ci_get_src(m)));
        return 1;
    }
    const bool qPresent = len >= 24;
    const uint32_t q = qPresent ? be_get32(m->payload + 20) : 0;
    const uint32_t gap = be_get32(m->payload);

    if (!s.isMaster) {
        const bool named = len >= 32;
        uint32_t runBefore = 0;
        {
            std::lock_guard<std::mutex> lk(s.idMx);
            runBefore = s.masterRun;
        }
        if (named && !trackMaster(s, m)) return 1;   // a second unit under the master's PID
        if (masterRunsAnew(s, runBefore)) {
            // its run ended: what it left open ends at its last value, in
            // the time it stood in, before the core may step onto its new time.
            // The network may not have counted its new run yet: the run it
            // counts now may be the one that ended.
            const uint16_t src = ci_get_src(m);
            eventPeers_close(src, time_getTimestamp(), "runs anew", meas_man_peer_run(src));
        }
        feedCore(s, m, named, gap);
        if (qPresent && q < s.qualifier) suggestOwnTime(s);
    } else {
        time_putNextGapTimestamp(gap);
        checkConflict(s, ci_get_src(m));
    }

    date_t d = timeserv_getDate(m->payload + 4);
    if (len <= 16) d.millisecond = 0;
    updateClock(s, d, qPresent, q, gap);
    return 1;
}

int timeserv_newSystemTime_cmd(ci_msg_t* m) {
    const unsigned len = ci_get_len(m);
    if (len < sizeof(date_t)) {
        SYSLOGX_FLOOD(timeserv().floodShort, 147, "timeserv_newSystemTime_cmd: date of %u bytes ignored", len);
        return 1;
    }
    const uint32_t q = len >= 24 ? be_get32(m->payload + 16) : RTC_Q_SET_BY_TOOL;
    const date_t d = timeserv_getDate(m->payload);
    timeserv_setTime(&d, q);
    return 1;
}

int timeserv_suggestOwnTime_cmd(ci_msg_t* m) {
    TimeServState& s = timeserv();
    if (!s.isMaster) return 1;
    if (ci_get_len(m) < TIMESERV_DATE_PAYLOAD) {
        SYSLOGX_FLOOD(s.floodShort, 147, "timeserv_suggestOwnTime_cmd: suggestion of %u bytes ignored",
                      unsigned(ci_get_len(m)));
        return 1;
    }
    const uint32_t q = be_get32(m->payload + 16);
    if (q <= s.qualifier) return 1;
    const date_t d = timeserv_getDate(m->payload);
    timeserv_setTime(&d, q);
    return 1;
}

int timeserv_newSystemTime(const date_t* date) {
    if (!date) return 0;
    ci_msg_t m;
    ci_init_msg(&m, TIMESERV_CMD_NEW_SYSTEM_TIME, CI_PID_ALL, TIMESERV_DATE_PAYLOAD);
    std::memset(m.payload, 0, TIMESERV_DATE_PAYLOAD);
    timeserv_putDate(m.payload, *date);
    be_put32(m.payload + 16, RTC_Q_SET_BY_TOOL);
    return comint_put_cmd(&m, 1);
}

int timeserv_setTime(const date_t* date, uint32_t qualifier) {
    if (!date_valid(date)) {
        syslogx(148, "timeserv_setTime: Illegal date values, RTC not set!");
        return 0;
    }
    if (!rtc_writeAndSetSystemTime(date) && !setOSTime(*date)) return 0;
    timeserv().qualifier = qualifier;
    return 1;
}
