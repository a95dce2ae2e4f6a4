// The network debug variables in the signal page and their names.
#include <cstddef>

#include "measurement/signal_block.h"
#include "platform/raster.h"
#include "virari/netdebug/netdebug.h"

namespace {
SignalBlock<NetDebugSignals> gSignals;

#define DBG_VAR(name, field, type) {name, offsetof(NetDebugSignals, field), type}
const SignalVar kGlobal[] = {
    DBG_VAR("virari_dataloss_offline", virari_dataloss_offline, TE_UINT32),
    DBG_VAR("virari_dbg_mcRxCnt", virari_dbg_mcRxCnt, TE_UINT16),
    DBG_VAR("virari_dbg_mcRxErr", virari_dbg_mcRxErr, TE_UINT16),
    DBG_VAR("virari_dbg_bcRxCnt", virari_dbg_bcRxCnt, TE_UINT16),
    DBG_VAR("virari_dbg_bcSeqCnt", virari_dbg_bcSeqCnt, TE_UINT32),
    DBG_VAR("virari_dbg_ping_max", virari_dbg_ping_max, TE_UINT16),
    DBG_VAR("virari_dbg_ping_cnt", virari_dbg_ping_cnt, TE_UINT32),
    DBG_VAR("virari_dbg_ping_error", virari_dbg_ping_error, TE_UINT16),
    DBG_VAR("virari_dbg_ping_over", virari_dbg_ping_over, TE_UINT16),
    DBG_VAR("mem_free_mb", mem_free_mb, TE_FLOAT),
    DBG_VAR("mem_biggest_free_blk_mb", mem_biggest_free_blk_mb, TE_FLOAT),
};
#undef DBG_VAR

#define PID_VAR(name, field, type) {name, offsetof(NetDbgPid, field), type}
const SignalVar kPerPid[] = {
    PID_VAR("virari_dbg_bcRemSeqCnt", bcRemSeqCnt, TE_UINT32),
    PID_VAR("virari_dbg_cmdState", cmdState, TE_UINT8),
    PID_VAR("virari_dbg_dataState", dataState, TE_UINT8),
    PID_VAR("virari_cmdTxCnt", cmdTxCnt, TE_UINT16),
    PID_VAR("virari_cmdTxErr", cmdTxErr, TE_UINT16),
    PID_VAR("virari_cmdRxCnt", cmdRxCnt, TE_UINT16),
    PID_VAR("virari_cmdRxErr", cmdRxErr, TE_UINT16),
    PID_VAR("virari_dataTxCntOnline", dataTxCntOnline, TE_UINT16),
    PID_VAR("virari_dataTxCntOffline", dataTxCntOffline, TE_UINT16),
    PID_VAR("virari_dataTxerr", dataTxErr, TE_UINT16),
    PID_VAR("virari_dataRxCntOnline", dataRxCntOnline, TE_UINT16),
    PID_VAR("virari_dataRxCntOffline", dataRxCntOffline, TE_UINT16),
    PID_VAR("virari_dataRxErr", dataRxErr, TE_UINT16),
    PID_VAR("virari_remote_ver", remoteVer, TE_UINT16),
};
#undef PID_VAR

// The gateway's counters of a PID, in the order of its record.
const SignalVar kGateway[19] = {
    {"virari_gw_pid_state", offsetof(NetDbgPid, gw) + 0, TE_UINT16},
    {"virari_gw_pid_state_req", offsetof(NetDbgPid, gw) + 2, TE_UINT16},
    {"virari_gw_pid_state_run", offsetof(NetDbgPid, gw) + 4, TE_UINT16},
    {"virari_gw_mlistCnt", offsetof(NetDbgPid, gw) + 6, TE_UINT16},
    {"virari_gw_dataCntOnline", offsetof(NetDbgPid, gw) + 8, TE_UINT16},
    {"virari_gw_dataCntOffline", offsetof(NetDbgPid, gw) + 10, TE_UINT16},
    {"virari_gw_noDataCnt", offsetof(NetDbgPid, gw) + 12, TE_UINT16},
    {"virari_gw_mlistCnt_cfg", offsetof(NetDbgPid, gw) + 14, TE_UINT16},
    {"virari_gw_mlistCnt_init", offsetof(NetDbgPid, gw) + 16, TE_UINT16},
    {"virari_gw_mlistCnt_entry", offsetof(NetDbgPid, gw) + 18, TE_UINT16},
    {"virari_gw_mlistCnt_cbstart_err", offsetof(NetDbgPid, gw) + 20, TE_UINT16},
    {"virari_gw_mlistCnt_setup", offsetof(NetDbgPid, gw) + 22, TE_UINT16},
    {"virari_gw_mlistCnt_meas", offsetof(NetDbgPid, gw) + 24, TE_UINT16},
    {"virari_gw_mlistCnt_meas_PID_NOMEAS", offsetof(NetDbgPid, gw) + 26, TE_UINT16},
    {"virari_gw_mlistCnt_destroy", offsetof(NetDbgPid, gw) + 28, TE_UINT16},
    {"virari_gw_mlistCnt_instant_destroy", offsetof(NetDbgPid, gw) + 30, TE_UINT16},
    {"virari_gw_mlistCnt_offline_entry", offsetof(NetDbgPid, gw) + 32, TE_UINT16},
    {"virari_gw_mlistCnt_offline_cbdata_err", offsetof(NetDbgPid, gw) + 34, TE_UINT16},
    {"virari_gw_mlistCnt_mlist_err", offsetof(NetDbgPid, gw) + 36, TE_UINT16},
};

}  // namespace

NetDebugSignals& netdebugSignals() { return gSignals.get(); }

// The per-PID records are named with the suffix _1 and _2.
int netdebug_publishSignals() {
    return gSignals.publishNamed([](uint32_t vaddr) {
        bool ok = signalVars_name(vaddr, kGlobal);
        for (int i = 0; i < 2; ++i) {
            const uint32_t base = vaddr + uint32_t(offsetof(NetDebugSignals, pid) + i * sizeof(NetDbgPid));
            ok &= signalVars_name(base, kPerPid, i + 1);
            ok &= signalVars_name(base, kGateway, i + 1);
        }
        return ok;
    });
}

int netdebug_register_rasters() {
    return raster_addEntry(RB_10MS, "virari_dbg_10ms", [](intptr_t) { virari_dbg_10ms(); }, 0) &
           raster_addEntry(RB_100MS, "virari_dbg", [](intptr_t) { virari_dbg(); }, 0) &
           raster_addEntry(RB_1000MS, "mem_usage_1s", [](intptr_t) { mem_usage_1s(); }, 0);
}

void netdebug_resetSignals() { gSignals.reset(); }

void netdebug_reset() {
    netdebug_resetPing();
    netdebug_resetMemUsage();
    netdebug_resetSignals();
}
