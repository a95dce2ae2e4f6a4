// Send machine of an XCP master instance: one command per step, each
// answered before the next (the receive machine moves the state on).
//
// The cursors of a step (DAQ, ODT, entry) move only when its answer is in,
// so that a step repeated after a time-out sends the same command again.
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"
#include "xcp/xcp_codes.h"

namespace {
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

// Index of the first DAQ record from `from` on that has ODTs; nDaq when none.
uint8_t withOdts(const XcpmrInstance* h, unsigned from) {
    for (unsigned i = from; i < h->daqs.size(); ++i)
        if (h->daqs[i]->odtsInUse) return uint8_t(i);
    return uint8_t(h->daqs.size());
}

// Sets the state and cursors that follow once the answer is in.
void then(XcpmrInstance* h, uint32_t next, uint8_t daq, uint8_t odt = 0, uint8_t entry = 0) {
    h->nextState = next;
    h->nextDaq = daq;
    h->nextOdt = odt;
    h->nextEntry = entry;
}
}  // namespace

int xcpmr_statemachine_send(XcpmrInstance* h) {
    if (h->nDaqOdt == 0) return XSM_IDLE;   // nothing to measure on this slave
    uint8_t cmd[8] = {};
    unsigned n = 1;
    const int be = h->bigEndian;
    const uint32_t state = h->sendState;
    XcpmrDaq* daq = h->daqCursor < h->daqs.size() ? h->daqs[h->daqCursor].get() : nullptr;
    h->ignoreTimeout = 0;
    const bool perDaq = state == XS_ALLOC_ODT || state == XS_ALLOC_ENTRY || state == XS_SET_PTR ||
                        state == XS_WRITE_DAQ || state == XS_LIST_MODE || state == XS_START_LIST;
    if (perDaq && (!daq || !daq->odtsInUse)) {   // the cursors always stand on a DAQ with ODTs
        syslogx(147, "XCPMR: state machine in the wood on send");
        h->sendState = XS_IDLE;
        return XSM_IDLE;
    }
    switch (state) {
    case XS_INIT:
        h->daqCursor = h->odtCursor = h->entryCursor = 0;
        for (auto& d : h->daqs) d->active = 0;
        for (auto& p : h->pidMap) p = 0;
        h->keyByte = 0;
        h->info = XcpmrProcInfo{};
        h->sendState = XS_DISCONNECT_START;
        return XSM_GO_ON;
    case XS_STOP:
        h->sendState = XS_DISCONNECT_STOP;
        return XSM_GO_ON;
    case XS_DISCONNECT_START:
    case XS_DISCONNECT_STOP:
        cmd[0] = CC_DISCONNECT;
        h->ignoreTimeout = 1;   // a slave that is not connected does not answer
        for (auto& d : h->daqs) d->active = 0;
        xcpmr_set_timestamp_state(h->instance, 0);
        then(h, state == XS_DISCONNECT_START ? XS_CONNECT : XS_IDLE, 0);
        break;
    case XS_CONNECT:
        cmd[0] = CC_CONNECT;
        cmd[1] = 0;
        n = 2;
        then(h, XS_GET_STATUS, 0);
        break;
    case XS_GET_STATUS:
        cmd[0] = CC_GET_STATUS;
        then(h, h->transport == 1 ? XS_FREE_DAQ : XS_PROC_INFO, 0);
        break;
    case XS_PROC_INFO:
        cmd[0] = CC_GET_DAQ_PROCESSOR_INFO;
        then(h, XS_FREE_DAQ, 0);
        break;
    case XS_FREE_DAQ:
        cmd[0] = CC_FREE_DAQ;
        then(h, XS_ALLOC_DAQ, 0);
        break;
    case XS_ALLOC_DAQ:
        cmd[0] = CC_ALLOC_DAQ;
        put16(cmd + 2, word_conv(h->nDaqOdt, be));
        n = 4;
        then(h, XS_ALLOC_ODT, withOdts(h, 0));
        break;
    case XS_ALLOC_ODT: {
        cmd[0] = CC_ALLOC_ODT;
        put16(cmd + 2, word_conv(daq->listNo, be));
        cmd[4] = daq->odtsInUse;
        n = 5;
        const uint8_t next = withOdts(h, h->daqCursor + 1u);
        if (next < h->daqs.size()) then(h, XS_ALLOC_ODT, next);
        else then(h, XS_ALLOC_ENTRY, withOdts(h, 0));
        break;
    }
    case XS_ALLOC_ENTRY: {
        cmd[0] = CC_ALLOC_ODT_ENTRY;
        put16(cmd + 2, word_conv(daq->listNo, be));
        cmd[4] = h->odtCursor;
        cmd[5] = daq->odts[h->odtCursor].entryCount;
        n = 6;
        if (h->odtCursor + 1u < daq->odtsInUse) {
            then(h, XS_ALLOC_ENTRY, h->daqCursor, uint8_t(h->odtCursor + 1));
        } else {
            const uint8_t next = withOdts(h, h->daqCursor + 1u);
            if (next < h->daqs.size()) then(h, XS_ALLOC_ENTRY, next);
            else then(h, XS_SET_PTR, withOdts(h, 0));
        }
        break;
    }
    case XS_SET_PTR:
        cmd[0] = CC_SET_DAQ_PTR;
        put16(cmd + 2, word_conv(daq->listNo, be));
        cmd[4] = h->odtCursor;
        cmd[5] = 0;
        n = 6;
        then(h, XS_WRITE_DAQ, h->daqCursor, h->odtCursor, 0);
        break;
    case XS_WRITE_DAQ: {
        const XcpmrEntry& e = daq->odts[h->odtCursor].entries[h->entryCursor];
        const CalPage& c = xcpmrCal();
        cmd[0] = CC_WRITE_DAQ;
        cmd[1] = 0xFF;   // no bit offset
        cmd[2] = e.size;
        cmd[3] = calLoad(c.CfgMat_XcpMr_CHAN_ADEXTR[e.channel]);
        put32(cmd + 4, adr_conv(calLoad(c.CfgMat_XcpMr_CHAN_ADR[e.channel]), be));
        n = 8;
        if (h->entryCursor + 1u < daq->odts[h->odtCursor].entryCount) {
            then(h, XS_WRITE_DAQ, h->daqCursor, h->odtCursor, uint8_t(h->entryCursor + 1));
        } else if (h->odtCursor + 1u < daq->odtsInUse) {
            then(h, XS_SET_PTR, h->daqCursor, uint8_t(h->odtCursor + 1));
        } else {
            const uint8_t next = withOdts(h, h->daqCursor + 1u);
            if (next < h->daqs.size()) then(h, XS_SET_PTR, next);
            else then(h, XS_LIST_MODE, withOdts(h, 0));
        }
        break;
    }
    case XS_LIST_MODE: {
        cmd[0] = CC_SET_DAQ_LIST_MODE;
        cmd[1] = h->tsUsed ? 0x10 : 0x00;
        put16(cmd + 2, word_conv(daq->listNo, be));
        put16(cmd + 4, word_conv(daq->evtChan, be));
        cmd[6] = uint8_t(daq->prescaler);   // the low byte is what the command carries
        cmd[7] = 0;
        n = 8;
        daq->active = 1;
        const uint8_t next = withOdts(h, h->daqCursor + 1u);
        if (next < h->daqs.size()) then(h, XS_LIST_MODE, next);
        else then(h, XS_START_LIST, withOdts(h, 0));
        break;
    }
    case XS_START_LIST: {
        cmd[0] = CC_START_STOP_DAQ_LIST;
        cmd[1] = 2;   // select
        put16(cmd + 2, word_conv(daq->listNo, be));
        n = 4;
        const uint8_t next = withOdts(h, h->daqCursor + 1u);
        if (next < h->daqs.size()) then(h, XS_START_LIST, next);
        else then(h, h->tsUsed ? XS_CLOCK_START : XS_SYNCH, 0);
        break;
    }
    case XS_CLOCK_START:
    case XS_CLOCK_RESYNC:
        cmd[0] = CC_GET_DAQ_CLOCK;
        then(h, state == XS_CLOCK_START ? XS_SYNCH : XS_IDLE, h->daqCursor);
        break;
    case XS_SYNCH:
        cmd[0] = CC_START_STOP_SYNCH;
        cmd[1] = 1;   // start selected
        n = 2;
        xcpmr_set_status(h->instance, XCPMR_RUNNING);
        then(h, XS_IDLE, 0);
        break;
    case XS_KEEPALIVE:
        cmd[0] = CC_GET_STATUS;
        then(h, XS_IDLE, h->daqCursor);
        break;
    case XS_IDLE:
        return XSM_IDLE;
    default:
        syslogx(147, "XCPMR: state machine in the wood on send");
        h->sendState = XS_IDLE;
        return XSM_IDLE;
    }
    if (h->send(h, cmd, n) != 0) ++h->sendFailCount;   // the answer's time-out repeats the step
    ++h->msgCount;
    return XSM_WAIT;
}
