// The network debug variables in the signal page and their names.
#include <cstddef>
#include <cstdio>
#include <new>

#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "platform/raster.h"
#include "virari/netdebug/netdebug.h"

namespace {
NetDebugSignals gPrivate{};   // until the signal page has room for them
std::atomic<NetDebugSignals*> gSignals{&gPrivate};

struct Var {
    const char* name;
    size_t offset;
    TypeEnum_t type;
};
#define DBG_VAR(name, field, type) {name, offsetof(NetDebugSignals, field), type}
const Var kGlobal[] = {
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
const Var kPerPid[] = {
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
const char* const kGateway[19] = {
    "virari_gw_pid_state",
    "virari_gw_pid_state_req",
    "virari_gw_pid_state_run",
    "virari_gw_mlistCnt",
    "virari_gw_dataCntOnline",
    "virari_gw_dataCntOffline",
    "virari_gw_noDataCnt",
    "virari_gw_mlistCnt_cfg",
    "virari_gw_mlistCnt_init",
    "virari_gw_mlistCnt_entry",
    "virari_gw_mlistCnt_cbstart_err",
    "virari_gw_mlistCnt_setup",
    "virari_gw_mlistCnt_meas",
    "virari_gw_mlistCnt_meas_PID_NOMEAS",
    "virari_gw_mlistCnt_destroy",
    "virari_gw_mlistCnt_instant_destroy",
    "virari_gw_mlistCnt_offline_entry",
    "virari_gw_mlistCnt_offline_cbdata_err",
    "virari_gw_mlistCnt_mlist_err",
};

bool addSuffixed(const char* base, int n, uint32_t addr, TypeEnum_t type) {
    char name[48];
    std::snprintf(name, sizeof name, "%s_%d", base, n);
    return catalogue_add(name, addr, type) == 1;
}
}  // namespace

NetDebugSignals& netdebugSignals() { return *gSignals.load(std::memory_order_acquire); }

int netdebug_publishSignals() {
    const uint32_t vaddr = seramSignalAlloc(sizeof(NetDebugSignals));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    bool ok = true;
    for (const Var& v : kGlobal) ok &= catalogue_add(v.name, vaddr + uint32_t(v.offset), v.type) == 1;
    for (int i = 0; i < 2; ++i) {
        const uint32_t base = vaddr + uint32_t(offsetof(NetDebugSignals, pid) + i * sizeof(NetDbgPid));
        for (const Var& v : kPerPid) ok &= addSuffixed(v.name, i + 1, base + uint32_t(v.offset), v.type);
        for (int k = 0; k < 19; ++k)
            ok &= addSuffixed(kGateway[k], i + 1, base + uint32_t(offsetof(NetDbgPid, gw) + 2 * k), TE_UINT16);
    }
    gSignals.store(new (p) NetDebugSignals{}, std::memory_order_release);
    return ok ? 1 : 0;
}

int netdebug_register_rasters() {
    return raster_addEntry(RB_10MS, "virari_dbg_10ms", [](intptr_t) { virari_dbg_10ms(); }, 0) &
           raster_addEntry(RB_100MS, "virari_dbg", [](intptr_t) { virari_dbg(); }, 0) &
           raster_addEntry(RB_1000MS, "mem_usage_1s", [](intptr_t) { mem_usage_1s(); }, 0);
}

void netdebug_resetSignals() {
    gSignals.store(&gPrivate, std::memory_order_release);
    gPrivate = NetDebugSignals{};
}

void netdebug_reset() {
    netdebug_resetPing();
    netdebug_resetMemUsage();
    netdebug_resetSignals();
}
