// Copy of the device network's and the gateway's counters into the debug
// variables, every 100 ms.
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/netdebug/netdebug.h"

namespace {
void copyPid(unsigned pid, NetDbgPid* out) {
    NetDbgPid v{};
    if (pid) {
        BC2_PidDebug b{};
        BC2_debugoutPID(pid, &b);
        v.bcRemSeqCnt = b.seq;
        v.cmdState = b.ciState;
        v.dataState = b.dkState;
        v.cmdTxCnt = b.ciTx;
        v.cmdTxErr = b.ciTxErr;
        v.cmdRxCnt = b.ciRx;
        v.cmdRxErr = b.ciRxErr;
        v.dataTxCntOnline = b.dkTxOnline;
        v.dataTxCntOffline = b.dkTxOffline;
        v.dataTxErr = b.dkTxErr;
        v.dataRxCntOnline = b.dkRxUdp;
        v.dataRxCntOffline = b.dkRx;
        v.dataRxErr = b.dkRxErr;
        v.remoteVer = b.version;
        gw_debugoutPID(pid, v.gw);
    }
    *out = v;
}
}  // namespace

void virari_dbg() {
    NetDebugSignals& s = netdebugSignals();
    s.virari_dataloss_offline = meas_man_get_data_loss_cnt();
    BC2_GlobDebug g{};
    BC2_debugoutGlob(&g);
    s.virari_dbg_bcSeqCnt = g.seq;
    s.virari_dbg_bcRxCnt = g.bcRx;
    s.virari_dbg_mcRxCnt = g.mcRx;
    s.virari_dbg_mcRxErr = g.mcRxErr;
    const CalPage& cal = calActive();
    copyPid(calLoad(cal.VIRARI_DBG_PID_1), &s.pid[0]);
    copyPid(calLoad(cal.VIRARI_DBG_PID_2), &s.pid[1]);
}
