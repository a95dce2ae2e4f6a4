// The 10 ms supervisor of the instances: start and stop by the ACTIVE
// parameter, the start delay and up to two start conditions on measured
// values, keep-alive and DAQ watchdog while acquiring, and the value
// time-outs. It only queues requests; the protocol runs on the instance task.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

std::atomic<uint32_t> ccpmr_measerr{0};

namespace {
gw_conn_t gConn = nullptr;
uint8_t gFloodSend = 0, gFloodSetup = 0;

uint32_t applMs() {
    timespec t{};
    clock_appltime(&t);
    return uint32_t(uint64_t(t.tv_sec) * 1000u + uint64_t(t.tv_nsec) / 1000000u);
}

void queueRequest(CcpMaster* m, uint32_t type) {
    CcpQueueMsg q{type, {}};
    // the raster must never wait: a full queue drops the request (the next
    // cycle asks again)
    if (msgQSend(m->queue, &q, sizeof q, NO_WAIT, MSG_PRI_NORMAL) != OK) {
        ++m->lost;
        SYSLOGX_FLOOD(gFloodSend, 147, "ccpmr_10ms(): _msgq_send() error: %s", std::strerror(errno));
        return;
    }
    ++m->queued;
}

bool isActive(CcpMaster* m, uint32_t now) {
    const CalPage& p = calActive();
    const unsigned i = m->instance;
    bool active = calLoad(p.CfgMat_CcpMr_ACTIVE[i]) != 0;
    // the conditions' values need a moment to arrive after the start
    if ((m->condConfigured[0] || m->condConfigured[1]) && now < 1000) active = false;
    if (now <= calLoad(p.CfgMat_CcpMr_STARTDELAY[i])) active = false;
    bool valid[2], res[2];
    const uint32_t val[2] = {calLoad(p.CfgMat_CcpMr_Cond1_Val[i]), calLoad(p.CfgMat_CcpMr_Cond2_Val[i])};
    const uint8_t op[2] = {calLoad(p.CfgMat_CcpMr_Cond1_Op[i]), calLoad(p.CfgMat_CcpMr_Cond2_Op[i])};
    for (int c = 0; c < 2; ++c) {
        valid[c] = m->condConfigured[c] && m->cond[c].valid;
        res[c] = valid[c] && calc_cond(m->cond[c].value, m->cond[c].size, val[c], op[c]);
    }
    if (valid[0] && valid[1]) {
        bool comb;
        switch (calLoad(p.CfgMat_CcpMr_CondComb_Op[i])) {
        case 0: comb = res[0] && res[1]; break;
        case 1: comb = res[0] || res[1]; break;
        case 2: comb = res[0] != res[1]; break;
        default: comb = res[0]; break;
        }
        active = active && comb;
    } else if (valid[0]) {
        active = active && res[0];
    } else if (valid[1]) {
        active = active && res[1];
    }
    return active;
}

void supervise(CcpMaster* m, uint32_t now) {
    if (m->status == CCPMR_ST_ERROR) {
        if (++m->errWait < CCPMR_ERRWAIT_CYCLES) return;
        m->errWait = 0;
        ccpmr_setStatus(m, CCPMR_ST_READY);
    }
    const bool active = isActive(m, now);
    const uint8_t st = m->status;
    uint32_t req = 0;
    if (active && (st == CCPMR_ST_STOPPED || st == CCPMR_ST_READY)) req = CCPMR_MSG_START;
    else if (!active && st == CCPMR_ST_ACQUIRING) req = CCPMR_MSG_STOP;
    const uint8_t mode = m->mode();
    if (st == CCPMR_ST_ACQUIRING && m->state == 3 && (mode & CCPMR_MODE_KEEPALIVE)) {
        if (++m->keepAlive >= CCPMR_KEEPALIVE_CYCLES) {
            m->keepAlive = 0;
            if (!req) req = CCPMR_MSG_KEEPALIVE;
        }
        // no DAQ message for too long: stop, and the following cycles start again
        if ((mode & CCPMR_MODE_DAQ_WATCHDOG) && m->daqWatchdog.fetch_add(1) + 1u > CCPMR_DAQ_WATCHDOG_CYCLES) {
            m->daqWatchdog = 0;
            if (!req || req == CCPMR_MSG_KEEPALIVE) req = CCPMR_MSG_STOP;
        }
    } else {
        m->keepAlive = 0;
        m->daqWatchdog = 0;
    }
    if (req) queueRequest(m, req);
}

// Start-condition list: one value on the 10 ms raster of the device that owns it.
int ccpmr_setup_gw_meas(CcpMaster* m, unsigned c, uint32_t addr, int size) {
    if (addr == 0 || !gConn) return 0;
    if (size != 1 && size != 2 && size != 4) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "CcpMr start condition: Error for address 0x%.8x, invalid data size: %d",
                      addr, size);
        m->cond[c].list = 0;
        return 0;
    }
    m->cond[c].size = uint8_t(size);
    uint32_t list[4] = {uint32_t(-size), addr & 0xFFFFFFu, 0, 0};
    unsigned pid = addr >> 24;
    if (pid == 0) pid = app_pid;
    m->cond[c].list = gw_setup_list(gConn, list, &m->cond[c], sizeof list, 3, uint16_t(pid), 0, 0, 0, 0, 8, 0);
    if (!m->cond[c].list || !gw_start_list(m->cond[c].list)) {
        SYSLOGX_FLOOD(gFloodSetup, 147, "ccpmr_setup_gw_meas(): Error gw_setup_list");
        return 0;
    }
    return 1;
}

int ccpmr_meas_read(unsigned long status, void* data, void* user) {
    auto* cond = static_cast<CcpCond*>(user);
    if (!cond) return 0;
    const auto* slot = static_cast<const uint8_t*>(data);
    if (status != 0 || !slot) {
        cond->valid = false;
        return 1;
    }
    switch (cond->size) {
    case 1: cond->value = slot[4]; break;
    case 2: cond->value = be_get16(slot + 4); break;
    case 4: cond->value = be_get32(slot + 4); break;
    default: cond->valid = false; return 1;
    }
    cond->valid = true;
    return 1;
}

int ccpmr_meas_stop(unsigned long status, void*, void*) {
    if (status) {
        ++ccpmr_measerr;
        return 0;
    }
    return 1;
}

int ccpmr_meas_start(unsigned long status, void*, void*) {
    if (status) {
        ++ccpmr_measerr;
        return 0;
    }
    return 1;
}

const callback_list ccpmr_callbacks = {{{ccpmr_meas_read, 0},
                                        {ccpmr_meas_stop, 0},
                                        {ccpmr_meas_start, 0},
                                        {nullptr, 0},
                                        {nullptr, 0},
                                        {nullptr, 0}}};
}  // namespace

int ccpmr_meas_ini() {
    gConn = gw_connect(&ccpmr_callbacks);
    if (!gConn) {
        syslogx(147, "CCPMR: cannot connect to gateway.");
        return 0;
    }
    const CalPage& p = calActive();
    for (unsigned i = 0; i < CCPMR_INSTANCES; ++i) {
        CcpMaster* m = ccpmr_handle[i];
        if (!m) continue;
        // condition 2 only together with condition 1
        if (calLoad(p.CfgMat_CcpMr_Cond1_Adr[i]) == 0xFFFFFFFFu) continue;
        int s1 = calLoad(p.CfgMat_CcpMr_Cond1_size[i]);
        if (ccpmr_setup_gw_meas(m, 0, calLoad(p.CfgMat_CcpMr_Cond1_Adr[i]), s1 < 0 ? -s1 : s1)) m->condConfigured[0] = true;
        if (calLoad(p.CfgMat_CcpMr_Cond2_Adr[i]) == 0xFFFFFFFFu) continue;
        int s2 = calLoad(p.CfgMat_CcpMr_Cond2_size[i]);
        if (ccpmr_setup_gw_meas(m, 1, calLoad(p.CfgMat_CcpMr_Cond2_Adr[i]), s2 < 0 ? -s2 : s2)) m->condConfigured[1] = true;
    }
    return 1;
}

void ccpmr_meas_end() {
    if (gConn) gw_disconnect(gConn);
    gConn = nullptr;
    gFloodSend = gFloodSetup = 0;
}

void ccpmr_10ms() {
    const uint32_t now = applMs();
    for (unsigned i = 0; i < CCPMR_INSTANCES; ++i)
        // an instance whose start-up failed has no task to ask
        if (CcpMaster* m = ccpmr_handle[i]; m && m->task) supervise(m, now);
    ccpmr_data_10ms();
}
