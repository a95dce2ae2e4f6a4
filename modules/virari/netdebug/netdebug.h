// Network debug outputs: measurable variables of the device network for a
// calibration tool, a ping of a chosen PID with round-trip times and losses,
// and the free memory.
//
// Calibration parameters: VIRARI_DBG_PID_1 and VIRARI_DBG_PID_2 (PIDs whose
// counters are published, 0 = none), VIRARI_DBG_PING_PID (0 = off) and
// VIRARI_DBG_PING_FREQ (1 every 100 ms, 2 every 10 ms).
#pragma once

#include <cstdint>

#include "measurement/comint.h"

constexpr unsigned PING_SLOTS = 100;
constexpr uint16_t PING_PAYLOAD = 8;

// Counters of one watched PID: the device network's, then the gateway's.
struct NetDbgPid {
    uint32_t bcRemSeqCnt;
    uint8_t cmdState, dataState;
    uint16_t cmdTxCnt, cmdTxErr, cmdRxCnt, cmdRxErr;
    uint16_t dataTxCntOnline, dataTxCntOffline, dataTxErr;
    uint16_t dataRxCntOnline, dataRxCntOffline, dataRxErr;
    uint16_t remoteVer;
    uint16_t gw[19];
};

// The variables in the signal page.
struct NetDebugSignals {
    uint32_t virari_dataloss_offline;
    uint16_t virari_dbg_mcRxCnt, virari_dbg_mcRxErr, virari_dbg_bcRxCnt, reserved0;
    uint32_t virari_dbg_bcSeqCnt;
    NetDbgPid pid[2];
    uint16_t virari_dbg_ping_max;      // 0.1 ms
    uint16_t virari_dbg_ping_error;
    uint32_t virari_dbg_ping_cnt;
    uint16_t virari_dbg_ping_over;
    uint16_t reserved1;
    float mem_free_mb;
    float mem_biggest_free_blk_mb;
};

// Takes room in the signal page and names the variables; 1 on success.
int netdebug_publishSignals();
// The variables (a private copy until published).
NetDebugSignals& netdebugSignals();

// 100 ms raster: copies the counters.
void virari_dbg();
// 10 ms raster: the ping.
void virari_dbg_10ms();
// Answer of a ping (payload: send time stamp, slot, loop), on the command task.
void pingCallBack(const uint8_t* payload, uint16_t len);
// 1000 ms raster: the free memory.
void mem_usage_1s();

// Registers the three raster entries; 1 on success.
int netdebug_register_rasters();

// The ping counters, read consistently (tests).
struct PingStats {
    uint16_t max, error, over;
    uint32_t cnt;
};
PingStats netdebug_pingStats();
// Tests: back to the start state (ping table, memory log, private variables).
void netdebug_reset();

// Parts of netdebug_reset.
void netdebug_resetPing();
void netdebug_resetMemUsage();
void netdebug_resetSignals();

