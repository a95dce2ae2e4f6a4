// Lap-trigger events between devices and the sibling application's values.
#include "measurement/laptrigger.h"

#include <atomic>

#include "platform/byteorder.h"
#include "measurement/calparams.h"
#include "measurement/comint.h"
#include "platform/syslogx.h"

namespace {
const laptrigger_hooks* gHooks = nullptr;
std::atomic<uint8_t> gMaster{0};
uint8_t gFloodIgnore = 0, gFloodShort = 0;

void putInfo(ci_msg_t* m, const LaptrigInfo& i) {
    be_put16(m->payload + 0, i.kind);
    be_put16(m->payload + 2, i.lap);
    be_put16(m->payload + 4, i.outing);
    be_put32(m->payload + 6, i.lapTime);
}
bool getInfo(const ci_msg_t* m, LaptrigInfo* i) {
    if (ci_get_len(m) < 10) {
        SYSLOGX_FLOOD(gFloodShort, 147, "laptrigger: message 0x%04x too short (%u bytes)", ci_get_cmd(m),
                      ci_get_len(m));
        return false;
    }
    i->kind = be_get16(m->payload + 0);
    i->lap = be_get16(m->payload + 2);
    i->outing = be_get16(m->payload + 4);
    i->lapTime = be_get32(m->payload + 6);
    return true;
}

// The master answers an information request with its current counters.
int laptrigger_info_req_cmd(ci_msg_t* m) {
    LaptrigInfo i{2, 0, 0, 0};
    if (!gHooks || !gHooks->getLapOutCnt || !gHooks->getLapOutCnt(&i.lap, &i.outing)) return 1;
    ci_msg_t r;
    ci_init_msg(&r, CI_CMD_LAPTRIG_INFO_REPLY, ci_get_src(m), 10);
    putInfo(&r, i);
    comint_put_cmd(&r, 0);
    return 1;
}

int laptrigger_info_reply_cmd(ci_msg_t* m) {
    LaptrigInfo i;
    if (!getInfo(m, &i)) return 0;
    if (gHooks && gHooks->initLapOutCnt && !(gHooks->lapOutCntValid && gHooks->lapOutCntValid()))
        gHooks->initLapOutCnt(i.lap, i.outing);
    return 1;
}

int laptrigger_meas_req_cmd(ci_msg_t* m) {
    if (gHooks && gHooks->measRequest) gHooks->measRequest(ci_get_src(m));
    return 1;
}
}  // namespace

void laptrigger_set_hooks(const laptrigger_hooks* hooks) { gHooks = hooks; }
void laptrigger_set_master(uint8_t pid) { gMaster = pid; }

int laptrigger_init() {
    ci_register_command(CI_CMD_LAPTRIG_SIGNAL, laptrigger_signal_cmd);
    ci_register_command(CI_CMD_LAPTRIG_INFO_REQ, laptrigger_info_req_cmd);
    ci_register_command(CI_CMD_LAPTRIG_INFO_REPLY, laptrigger_info_reply_cmd);
    ci_register_command(CI_CMD_LAPTRIG_MEAS_REQ, laptrigger_meas_req_cmd);
    return 1;
}

int laptrigger_get_info_req(uint8_t masterPid) {
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_LAPTRIG_INFO_REQ, masterPid, 0);
    return comint_put_cmd(&m, 0);
}

int laptrigger_meas_req() {
    uint8_t master = gMaster;
    if (!master) return 0;
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_LAPTRIG_MEAS_REQ, master, 0);
    return comint_put_cmd(&m, 0);
}

int laptrigger_send(uint16_t kind, uint16_t lap, uint16_t outing, uint32_t lapTime) {
    ci_msg_t m;
    ci_init_msg(&m, CI_CMD_LAPTRIG_SIGNAL, CI_PID_ALL, 10);
    putInfo(&m, LaptrigInfo{kind, lap, outing, lapTime});
    return comint_put_cmd(&m, 0);
}

int laptrigger_signal_cmd(ci_msg_t* m) {
    LaptrigInfo i;
    if (!m || !getInfo(m, &i)) return 0;
    if (OUTINGCTR_MODE() == 1) return 1;   // test-bench mode: the counters are set by hand
    uint16_t src = ci_get_src(m);
    if (src != gMaster.load()) {
        SYSLOGX_FLOOD(gFloodIgnore, 148,
                      "Ignoring received Laptrigger Event from non-LTM (%d). Outing: %d, Lap: %d, Laptime %d,%.2d",
                      src, i.outing, i.lap, int(i.lapTime / 10000), int(i.lapTime / 100 % 100));
        return 1;
    }
    if (!gHooks) return 1;
    if (i.kind == 1) {
        if (gHooks->chngLapOutCnt) gHooks->chngLapOutCnt(i.lap, i.outing);
        return 1;
    }
    if (gHooks->setLapOutCnt) gHooks->setLapOutCnt(i.lap, i.outing, i.lapTime);
    if (gHooks->isLapstackController && gHooks->isLapstackController() && gHooks->lapstackAddEntry)
        gHooks->lapstackAddEntry(i.lap, i.outing, i.lapTime);
    if (gHooks->sblkLaptrigger) gHooks->sblkLaptrigger();
    return 1;
}
