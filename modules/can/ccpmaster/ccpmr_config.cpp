// Instance set-up from the calibration parameters: CAN bindings, DAQ records
// and the assignment of channels to ODT byte positions.
#include <new>

#include "can/ccpmaster/ccpmr_internal.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"


namespace {
// Puts a channel into the first ODT with room for it; its bytes point at the
// channel's slot bytes, least significant first for an Intel slave, most
// significant first for a Motorola slave.
bool daq_add_chan(CcpDaqList* d, unsigned c, unsigned size, bool bigEndian) {
    for (unsigned o = 0; o < d->odtReserved; ++o) {
        CcpOdt& odt = d->odt[o];
        if (odt.used + size > CCPMR_ODT_BYTES) continue;
        uint8_t* slot = reinterpret_cast<uint8_t*>(&ccpmr_measdata[c]);
        for (unsigned b = 0; b < size; ++b) {
            odt.dest[odt.used] = slot + (bigEndian ? size - 1 - b : b);
            ++odt.used;
        }
        odt.chan[odt.nchan++] = uint16_t(c);
        if (o + 1 > d->odtUsedCfg) d->odtUsedCfg = uint8_t(o + 1);
        return true;
    }
    return false;
}
}  // namespace

bool daq_init(CcpDaqList* d, bool bigEndian) {
    delete[] d->odt;
    d->odt = new (std::nothrow) CcpOdt[d->odtReserved ? d->odtReserved : 1];
    if (!d->odt) {
        syslogx(147, "CCPMR: cannot alloc memory for odts");
        return false;
    }
    d->odtUsedCfg = 0;
    const CalPage& p = calActive();
    // the big values first, so that small ones fill the gaps
    for (unsigned size : {4u, 2u, 1u}) {
        for (unsigned c = 0; c < CCPMR_CHANNELS; ++c) {
            if (calLoad(p.CfgMat_CcpMr_CHAN_DAQ[c]) != d->cfgIndex || calLoad(p.CfgMat_CcpMr_CHAN_SIZE[c]) != size) continue;
            if (!daq_add_chan(d, c, size, bigEndian)) {
                syslogx(147, "CCPMR: more channels in daq than possible");
                return false;
            }
        }
    }
    d->odtCount = d->odtReserved;
    d->odtUsed = d->odtUsedCfg;
    return true;
}

bool ccpmr_handler_ini(CcpMaster* m) {
    const CalPage& p = calActive();
    const unsigned i = m->instance;
    m->stationAddr = calLoad(p.CfgMat_CcpMr_STATIONADDRESS[i]);
    m->bigEndian = calLoad(p.CfgMat_CcpMr_BIGENDIAN[i]) != 0;
    m->canIntf = calLoad(p.CfgMat_CcpMr_CANINT[i]);
    ccpmr_setStatus(m, CCPMR_ST_READY);

    const uint32_t cmd = calLoad(p.CfgMat_CcpMr_CMD_CANID[i]);
    m->txHandle = canRegisterTxFunc(m->canIntf, getCanFormat(cmd), getCanId(cmd), 0, 0);
    if (m->txHandle < 0) {
        syslogx(147, "CCPMR: cannot bind CCP CAN-ID(TX) ccp master");
        return false;
    }
    const uint32_t ret = calLoad(p.CfgMat_CcpMr_CMDRET_CANID[i]);
    if (canRegisterRxFunc(m->canIntf, getCanFormat(ret), getCanId(ret), ccpmr_RxHandler, m) != 0) {
        syslogx(147, "CCPMR: cannot bind CCP CAN-ID(RX) ccp master");
        error_mgr_set(ERRMGR_PATH_CAN01 + m->canIntf, ERRMGR_TYPE_CANID_RX_MAX, 0);
        return false;
    }

    unsigned n = 0;
    for (unsigned d = 0; d < CCPMR_DAQS; ++d) n += calLoad(p.CfgMat_CcpMr_DAQ_MRID[d]) == i;
    m->nDaq = 0;
    if (n == 0) return true;
    m->daq = new (std::nothrow) CcpDaqList[n];
    if (!m->daq) {
        syslogx(147, "CCPMR: cannot alloc memory for daqs");
        return false;
    }
    for (unsigned d = 0; d < CCPMR_DAQS; ++d) {
        if (calLoad(p.CfgMat_CcpMr_DAQ_MRID[d]) != i) continue;
        CcpDaqList* r = &m->daq[m->nDaq++];
        r->master = m;
        r->cfgIndex = uint8_t(d);
        r->daqNo = calLoad(p.CfgMat_CcpMr_DAQ_ID[d]);
        r->odtReserved = calLoad(p.CfgMat_CcpMr_DAQ_ODT_NUM[d]);
        r->evtChan = calLoad(p.CfgMat_CcpMr_DAQ_EVT_CHAN[d]);
        r->prescaler = calLoad(p.CfgMat_CcpMr_DAQ_EVT_PRESC[d]);
        r->canIdWord = calLoad(p.CfgMat_CcpMr_DAQ_CANID[d]);
        r->canId = getCanId(calLoad(p.CfgMat_CcpMr_DAQ_CANID[d]));
        r->canFormat = getCanFormat(calLoad(p.CfgMat_CcpMr_DAQ_CANID[d]));
        if (canRegisterRxFunc(m->canIntf, r->canFormat, r->canId, ccpmr_DaqHandler, r) != 0) {
            syslogx(147, "CCPMR: cannot bind CCP CAN-ID(DAQ-RX)");
            error_mgr_set(ERRMGR_PATH_CAN01 + m->canIntf, ERRMGR_TYPE_CANID_RX_MAX, 0);
            return false;
        }
        if (!daq_init(r, m->bigEndian)) return false;
        ccpmr_daqByIndex[d] = r;
    }
    return true;
}
