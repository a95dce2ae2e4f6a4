// The command state machine of an instance: it connects to the slave,
// configures its DAQ lists element by element, starts them, keeps the
// session alive and disconnects. Runs on the instance task only.
//
// States: 0 reset, 1 disconnect before a new start, 2 stop, 3 idle,
// 4 CONNECT, 5 GET_DAQ_SIZE, 6 SET_DAQ_PTR, 7 WRITE_DAQ, 8 START_STOP,
// 9 DISCONNECT at the end, 10 and 11 SET_S_STATUS, 12 GET_S_STATUS.
#include <algorithm>
#include <cstring>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/can_front.h"
#include "platform/syslogx.h"

namespace {
enum : uint8_t {
    S_RESET = 0, S_DISC_RESTART = 1, S_STOP = 2, S_IDLE = 3, S_CONNECT = 4, S_DAQ_SIZE = 5, S_DAQ_PTR = 6,
    S_WRITE_DAQ = 7, S_START = 8, S_DISCONNECT = 9, S_SSTATUS_CAL = 10, S_SSTATUS_RUN = 11, S_GET_SSTATUS = 12,
};

void put32(const CcpMaster* m, uint8_t* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[m->bigEndian ? 3 - b : b] = uint8_t(v >> (8 * b));
}
void put16(const CcpMaster* m, uint8_t* p, uint16_t v) {
    p[m->bigEndian ? 1 : 0] = uint8_t(v);
    p[m->bigEndian ? 0 : 1] = uint8_t(v >> 8);
}

void send(CcpMaster* m, uint8_t* msg, uint8_t cmd) {
    msg[0] = cmd;
    msg[1] = m->ctr;
    if (cmd != CCP_DISCONNECT) m->waitDisconnect = false;
    canTxMsg(m->txHandle, 8, msg);
}

void sendDisconnect(CcpMaster* m) {
    uint8_t msg[8] = {};
    msg[2] = 1;   // end of session
    msg[4] = uint8_t(m->stationAddr);
    msg[5] = uint8_t(m->stationAddr >> 8);
    send(m, msg, CCP_DISCONNECT);
    m->waitDisconnect = true;
}

void clearStarted(CcpMaster* m) {
    for (unsigned i = 0; i < m->nDaq; ++i) m->daq[i].started = false;
}

// After the last DAQ list: its start, or the session status first.
uint8_t afterLastDaq(CcpMaster* m) {
    m->daqIdx = 0;
    return m->mode() & CCPMR_MODE_S_STATUS ? S_SSTATUS_RUN : S_START;
}
}  // namespace

int ccpmr_statemachine_send(CcpMaster* m) {
    uint8_t msg[8] = {};
    const uint8_t mode = m->mode();
    switch (m->state.load()) {
    case S_RESET:
        for (unsigned i = 0; i < m->nDaq; ++i) {
            m->daq[i].ptrOdt = m->daq[i].ptrElem = 0;
            m->daq[i].started = false;
        }
        m->daqIdx = 0;
        m->state = mode & CCPMR_MODE_CONNECT ? S_CONNECT : S_DAQ_SIZE;
        return 0;
    case S_DISC_RESTART:
        if (!(mode & CCPMR_MODE_CONNECT)) {
            m->state = S_RESET;
            return 0;
        }
        sendDisconnect(m);
        m->state = S_RESET;
        m->next = S_RESET;
        return CCPMR_ANSWER_WAIT;
    case S_STOP:
        if (mode & CCPMR_MODE_CONNECT) {
            m->state = S_DISCONNECT;
            return 0;
        }
        m->state = S_IDLE;
        clearStarted(m);
        // after failed attempts the error status stays for its second
        if (m->status != CCPMR_ST_ERROR) ccpmr_setStatus(m, CCPMR_ST_STOPPED);
        return -1;
    case S_CONNECT:
        msg[2] = uint8_t(m->stationAddr);
        msg[3] = uint8_t(m->stationAddr >> 8);
        send(m, msg, CCP_CONNECT);
        m->next = mode & CCPMR_MODE_S_STATUS ? S_SSTATUS_CAL : S_DAQ_SIZE;
        return CCPMR_ANSWER_WAIT;
    case S_DAQ_SIZE: {
        if (m->daqIdx >= m->nDaq) {   // no DAQ list: straight to the start
            m->state = afterLastDaq(m);
            return 0;
        }
        const CcpDaqList& d = m->daq[m->daqIdx];
        msg[2] = d.daqNo;
        put32(m, msg + 4, d.canIdWord);
        send(m, msg, CCP_GET_DAQ_SIZE);
        m->next = S_DAQ_PTR;
        return CCPMR_ANSWER_WAIT;
    }
    case S_DAQ_PTR: {
        const CcpDaqList& d = m->daq[m->daqIdx];
        msg[2] = d.daqNo;
        msg[3] = d.ptrOdt;
        msg[4] = d.ptrElem;
        send(m, msg, CCP_SET_DAQ_PTR);
        m->next = S_WRITE_DAQ;
        return CCPMR_ANSWER_WAIT;
    }
    case S_WRITE_DAQ: {
        CcpDaqList& d = m->daq[m->daqIdx];
        const CcpOdt& odt = d.odt[d.ptrOdt];
        const unsigned c = odt.chan[d.ptrElem];
        const CalPage& p = calActive();
        msg[2] = calLoad(p.CfgMat_CcpMr_CHAN_SIZE[c]);
        msg[3] = calLoad(p.CfgMat_CcpMr_CHAN_ADEXTR[c]);
        put32(m, msg + 4, calLoad(p.CfgMat_CcpMr_CHAN_ADR[c]));
        send(m, msg, CCP_WRITE_DAQ);
        if (d.ptrElem + 1u < odt.nchan) {
            ++d.ptrElem;
            m->next = S_DAQ_PTR;
        } else if (d.ptrOdt + 1u < d.odtUsed) {
            ++d.ptrOdt;
            d.ptrElem = 0;
            m->next = S_DAQ_PTR;
        } else if (m->daqIdx + 1 < m->nDaq) {
            ++m->daqIdx;
            m->next = S_DAQ_SIZE;
        } else {
            m->next = afterLastDaq(m);
        }
        return CCPMR_ANSWER_WAIT;
    }
    case S_START: {
        bool sent = false;
        if (m->daqIdx < m->nDaq) {
            CcpDaqList& d = m->daq[m->daqIdx];
            const uint8_t used = d.odtUsed;
            if (used > 0) {
                msg[2] = 1;   // start
                msg[3] = d.daqNo;
                msg[4] = uint8_t(used - 1);
                msg[5] = d.evtChan;
                put16(m, msg + 6, d.prescaler);
                send(m, msg, CCP_START_STOP);
                d.started = true;
                sent = true;
            }
        }
        if (m->daqIdx + 1 >= m->nDaq) {
            m->next = S_IDLE;
            m->errCount = 0;   // configured: the next failure is a first one again
            ccpmr_setStatus(m, CCPMR_ST_ACQUIRING);
            if (!sent) {
                m->state = S_IDLE;
                return -1;
            }
            return CCPMR_ANSWER_WAIT;
        }
        ++m->daqIdx;
        m->next = S_START;
        if (!sent) return 0;   // state stays 8: the next DAQ list at once
        return CCPMR_ANSWER_WAIT;
    }
    case S_DISCONNECT:
        sendDisconnect(m);
        m->state = S_IDLE;
        m->next = S_IDLE;
        clearStarted(m);
        return CCPMR_ANSWER_WAIT;
    case S_SSTATUS_CAL:
    case S_SSTATUS_RUN:
        msg[2] = m->state == S_SSTATUS_CAL ? 0x00 : 0x02;
        send(m, msg, CCP_SET_S_STATUS);
        m->next = m->state == S_SSTATUS_CAL ? S_DAQ_SIZE : S_START;
        return CCPMR_ANSWER_WAIT;
    case S_GET_SSTATUS:
        send(m, msg, CCP_GET_S_STATUS);
        m->next = S_IDLE;
        return CCPMR_ANSWER_WAIT;
    default:   // S_IDLE
        return -1;
    }
}

int ccpmr_statemachine_receive(CcpMaster* m, const uint8_t* msg) {
    if (msg[0] < CCP_CRM) return 0;   // event messages
    const bool wasDisconnect = m->waitDisconnect;
    m->waitDisconnect = false;
    if (msg[1] != 0 || msg[2] != m->ctr) {
        ++m->ctr;
        syslogx(147, "CCPMR: got negative response");
        return 0;
    }
    switch (m->state.load()) {
    case S_RESET:
    case S_CONNECT:
    case S_DAQ_PTR:
    case S_WRITE_DAQ:
    case S_START:
    case S_DISCONNECT:
    case S_SSTATUS_CAL:
    case S_SSTATUS_RUN:
        m->state = m->next.load();
        ++m->ctr;
        return 1;
    case S_IDLE:
        ++m->ctr;
        // the answer to the closing DISCONNECT ends a stop
        if (wasDisconnect && m->status == CCPMR_ST_STOPPING) ccpmr_setStatus(m, CCPMR_ST_STOPPED);
        return 1;
    case S_STOP:
        syslogx(147, "CCPMR: receive returncode without command");
        return 0;
    case S_GET_SSTATUS:
        m->state = S_IDLE;
        ++m->ctr;
        return 1;
    case S_DAQ_SIZE: {
        m->state = m->next.load();
        ++m->ctr;
        CcpDaqList& d = m->daq[m->daqIdx];
        unsigned count = d.odtReserved;
        if (msg[3] != count) {
            syslogx(147, "CCPMR: number of ODT differ");
            count = std::min<unsigned>(count, msg[3]);
        }
        const unsigned first = msg[4];
        // PIDs are one byte: ODTs whose PID would pass 255 cannot be told apart
        count = std::min(count, 256u - first);
        d.firstPid = uint8_t(first);
        d.odtCount = uint8_t(count);
        d.odtUsed = uint8_t(std::min<unsigned>(d.odtUsedCfg, count));
        d.ptrOdt = d.ptrElem = 0;
        if (d.odtCount == 0 || d.odtUsed == 0) {   // nothing to configure in this list
            if (m->daqIdx + 1 < m->nDaq) {
                ++m->daqIdx;
                m->state = S_DAQ_SIZE;
            } else {
                m->state = afterLastDaq(m);
            }
        }
        return 1;
    }
    default:
        syslogx(147, "CCPMR: state machine in the wood on receive");
        return 0;
    }
}
