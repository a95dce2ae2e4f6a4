// Identification texts of the devices of the vehicle network: asked for
// with 0x0F00 once a device is connected, answered with 0x0F01, kept in PID
// order in the version table of the status blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "logging/statusblock/sb_internal.h"
#include "measurement/comint.h"
#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "platform/syslogx.h"

namespace {

std::atomic<uint64_t (*)()> connectSource{nullptr};
uint8_t floodShortReply = 0, floodBadPid = 0;

bool validPid(unsigned pid) { return pid >= 1 && pid <= 64; }

// Enters a text at its PID's place: an entry of the PID is replaced,
// otherwise it is inserted in PID order (larger PIDs move up, the last falls
// off a full table).
void enterVersion(SbVersionEntry* t, unsigned pid, const char* text) {
    size_t i = 0;
    while (i < SB_VERSION_ENTRIES && t[i].pid != 0xFFFF && t[i].pid < pid) ++i;
    if (i == SB_VERSION_ENTRIES) return;
    if (t[i].pid != pid) {
        std::memmove(&t[i + 1], &t[i], (SB_VERSION_ENTRIES - 1 - i) * sizeof *t);
        t[i].pid = uint16_t(pid);
    }
    std::memset(t[i].text, 0, SB_VERSION_TEXT);
    std::memcpy(t[i].text, text, strnlen(text, SB_VERSION_TEXT - 1));
}

void updatePending(SbState& s) {
    if (s.versionAsked & ~s.versionAnswered) s.status |= SB_ST_VERSIONS_PENDING;
    else s.status &= ~SB_ST_VERSIONS_PENDING;
}

}  // namespace

uint64_t sb_pid_bit(unsigned pid) { return validPid(pid) ? uint64_t(1) << (pid - 1) : 0; }

void sblk_setConnectMaskSource(uint64_t (*source)()) { connectSource = source; }

void sb_own_version_text(char* out) {
    static const char* const kPosition[8] = {"FL ", "FR ", "RL ", "RR ", "F ", "R ", "C ", "GB "};
    char epk[CAL_EPK_LEN + 1];
    seramCopyEPK(epk, sizeof epk);
    const unsigned pid = app_pid;
    std::memset(out, 0, SB_VERSION_TEXT);
    // the wheel position, then as much of the EPK as the text holds
    const char* position = pid >= 40 && pid <= 47 ? kPosition[pid - 40] : "";
    const size_t posLen = std::strlen(position);
    const size_t epkLen = std::min(std::strlen(epk), size_t(SB_VERSION_TEXT) - 1 - posLen);
    std::memcpy(out, position, posLen);
    std::memcpy(out + posLen, epk, epkLen);
}

void sb_versions_init_locked() {
    SbState& s = sb_state();
    for (SbVersionEntry& e : s.versions) {
        e.pid = 0xFFFF;
        std::memset(e.text, 0, sizeof e.text);
    }
    s.versionAsked = s.versionUnreachable = 0;
    s.versionAnswered = sb_pid_bit(app_pid);
    char own[SB_VERSION_TEXT];
    sb_own_version_text(own);
    if (validPid(app_pid)) enterVersion(s.versions, app_pid, own);
    updatePending(s);
}

void sb_check_vers_info_locked() {
    SbState& s = sb_state();
    uint64_t (*source)() = connectSource.load();
    // the device network counts bit n for PID n, the status block bit PID - 1
    const uint64_t connected = ((source ? source() : 0) >> 1) | sb_pid_bit(app_pid);
    // a device that went away before it answered is asked again when it is
    // back; waiting for it would cost every lap its status block
    s.versionAsked &= connected;
    s.versionUnreachable &= connected;
    uint64_t fresh = connected & ~(s.versionAsked | s.versionAnswered | s.versionUnreachable);
    for (unsigned pid = 1; fresh && pid <= 64; ++pid) {
        const uint64_t bit = sb_pid_bit(pid);
        if (!(fresh & bit)) continue;
        fresh &= ~bit;
        ci_msg_t m;
        ci_init_msg(&m, CI_CMD_VERSION_INFO_REQ, uint16_t(pid), 4);
        std::memset(m.payload, 0, 4);
        // a request that could not leave is not waited for; the device is
        // asked again once it has been away and is back
        if (comint_put_cmd(&m, 0)) s.versionAsked |= bit;
        else s.versionUnreachable |= bit;
    }
    updatePending(s);
}

int ci_get_version_info_req(ci_msg_t* msg) {
    if (!msg) return 0;
    ci_msg_t r;
    ci_init_msg(&r, CI_CMD_VERSION_INFO_REPLY, ci_get_src(msg), uint16_t(SB_VERSION_TEXT));
    sb_own_version_text(reinterpret_cast<char*>(r.payload));
    comint_put_cmd(&r, 0);
    return 1;
}

int ci_get_version_info_reply(ci_msg_t* msg) {
    if (!msg) return 0;
    const unsigned pid = ci_get_src(msg);
    if (ci_get_len(msg) < SB_VERSION_TEXT) {
        SYSLOGX_FLOOD(floodShortReply, 147, "ci_get_version_info_reply(): payload of %u bytes from PID 0x%X too short",
                      unsigned(ci_get_len(msg)), pid);
        return 0;
    }
    if (!validPid(pid)) {
        SYSLOGX_FLOOD(floodBadPid, 147, "ci_get_version_info_reply(): invalid PID 0x%X", pid);
        return 0;
    }
    char text[SB_VERSION_TEXT + 1] = {};
    std::memcpy(text, msg->payload, SB_VERSION_TEXT);
    std::lock_guard<std::mutex> lk(sb_lock());
    SbState& s = sb_state();
    enterVersion(s.versions, pid, text);
    s.versionAsked &= ~sb_pid_bit(pid);
    s.versionAnswered |= sb_pid_bit(pid);
    updatePending(s);
    return 1;
}
