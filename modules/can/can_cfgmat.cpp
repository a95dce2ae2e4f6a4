// CAN input and output configured from calibration parameters (used when
// CfgMat_CanVersion is below 5).
#include "can/can_in.h"
#include "can/can_out.h"
#include "measurement/calparams.h"
#include "platform/can_front.h"

void CanIn_CfgMat_configure() {
    const CalPage& c = calActive();
    for (unsigned i = 0; i < CANIN_MAILBOXES; ++i) {
        CanInMailBoxConf[i].intf = calLoad(c.CfgMat_CanIn_Mb_CanIntf[i]);
        CanInMailBoxConf[i].canId = calLoad(c.CfgMat_CanIn_Mb_CanID[i]);
    }
    for (unsigned i = 0; i < CANIN_SIGNALS; ++i) {
        CanInSignal& s = CanInSignalConf[i];
        const uint16_t fmt = calLoad(c.CfgMat_CanIn_Ch_data_format[i]);
        s.msgIdx = calLoad(c.CfgMat_CanIn_Ch_MsgInd[i]);
        s.sBit = calLoad(c.CfgMat_CanIn_Ch_data_pos[i]) & 63;
        s.len = fmt & 0x3F;
        s.valueKind = fmt & 0x80 ? CANIN_FLOAT : fmt & 0x40 ? CANIN_SIGNED : CANIN_UNSIGNED;
        s.bigEndian = (fmt >> 8) & 1;
        s.RCType = calLoad(c.CfgMat_CanIn_Ch_RZ_type[i]);
        s.RCValue = calLoad(c.CfgMat_CanIn_Ch_RZ_value[i]);
        s.timeout = calLoad(c.CfgMat_CanIn_Ch_timeout_ms[i]);
        s.timeoutValue = calLoad(c.CfgMat_CanIn_Ch_timeout_value[i]);
    }
}

void CanOut_CfgMat_configure() {
    const CalPage& c = calActive();
    for (unsigned i = 0; i < CANOUT_INTERFACES; ++i) {
        CanOutIntfConf[i].startDelay = calLoad(c.CanOut_startdelay[i]);
        CanOutIntfConf[i].rateLimt = calLoad(c.CanOut_rate_limit[i]);
    }
    for (unsigned i = 0; i < CANOUT_MAILBOXES; ++i) {
        CanOutMailBox& m = CanOutMailBoxConf[i];
        m.canId = calLoad(c.CfgMat_CanOut_Mb_CanID[i]);
        m.intf = calLoad(c.CfgMat_CanOut_Mb_CanIntf[i]);
        m.canDlc = calLoad(c.CfgMat_CanOut_Mb_CanDlc[i]);
        m.length = uint8_t(canDLC2length(m.canDlc));
        m.event = calLoad(c.CfgMat_CanOut_Mb_Event[i]);
        m.evAddr = calLoad(c.CfgMat_CanOut_Mb_Event_address[i]);
        m.evMask = calLoad(c.CfgMat_CanOut_Mb_Event_mask[i]);
        m.evType = calLoad(c.CfgMat_CanOut_Mb_Event_data_type[i]);
        m.edge = calLoad(c.CfgMat_CanOut_Mb_Event_edge[i]);
        const float* q[6] = {c.CfgMat_CanOut_Mb_Event_quant_a, c.CfgMat_CanOut_Mb_Event_quant_b,
                             c.CfgMat_CanOut_Mb_Event_quant_c, c.CfgMat_CanOut_Mb_Event_quant_d,
                             c.CfgMat_CanOut_Mb_Event_quant_e, c.CfgMat_CanOut_Mb_Event_quant_f};
        for (int k = 0; k < 6; ++k) {
            const float v = calLoad(q[k][i]);
            m.quant[k] = v > -2147483648.0f && v < 2147483648.0f ? int32_t(v) : 0;
        }
    }
    for (unsigned i = 0; i < CANOUT_ENTRIES; ++i) {
        CanOutSignal& s = CanOutSignalConf[i];
        const uint16_t fmt = calLoad(c.CfgMat_CanOut_Ch_data_format[i]);
        const uint16_t pos = calLoad(c.CfgMat_CanOut_Ch_data_pos[i]);
        s.msgIdx = calLoad(c.CfgMat_CanOut_Ch_MsgInd[i]);
        s.RCValue = calLoad(c.CfgMat_CanOut_Ch_RZ_value[i]);
        s.addr = calLoad(c.CfgMat_CanOut_Ch_address[i]);
        s.mask = calLoad(c.CfgMat_CanOut_Ch_mask[i]);
        s.fact = calLoad(c.CfgMat_CanOut_Ch_fact[i]);
        s.offs = calLoad(c.CfgMat_CanOut_Ch_offs[i]);
        s.dataType = calLoad(c.CfgMat_CanOut_Ch_data_type[i]);
        s.len = fmt & 0x3F;
        s.isSigned = (fmt >> 6) & 1;
        s.isFloat = (fmt >> 7) & 1;
        s.bigEndian = (fmt >> 8) & 1;
        s.sBit = pos & 0x3F;
        s.rightShift = uint8_t((pos >> 6) & 0x3F);
        s.kind = calLoad(c.CfgMat_CanOut_Ch_RZ_type[i]);
        if (s.addr == 0 && (s.kind == CANOUT_SIGNAL || s.kind == CANOUT_MSIGNAL)) {
            // an entry without a value is a constant: its mask is the value
            s.kind = s.kind == CANOUT_SIGNAL ? CANOUT_CONSTANT : CANOUT_MCONSTANT;
            s.constant = s.mask;
        }
        if (s.msgIdx < CANOUT_MAILBOXES) {
            s.start = calLoad(c.CfgMat_CanOut_Mb_CounterStart[s.msgIdx]);
            s.end = calLoad(c.CfgMat_CanOut_Mb_CounterEnd[s.msgIdx]);
            s.chkType = calLoad(c.CfgMat_CanOut_Mb_ChksumType[s.msgIdx]);
            s.chkSumByteMask = calLoad(c.CfgMat_CanOut_Mb_ChksumMask[s.msgIdx]);
        }
    }
}
