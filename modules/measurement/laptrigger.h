// Lap-trigger events between devices and the values the sibling application
// publishes in the shared page.
#pragma once

#include <cstdint>

// applComm_getLaptrigPID / applComm_getFuelconsPID: the lap-trigger and
// fuel-consumption master PIDs of the shared page (platform front end).
#include "platform/appman.h"

// Command codes.
constexpr uint16_t CI_CMD_LAPTRIG_SIGNAL = 0x1200;     // lap event or lap update
constexpr uint16_t CI_CMD_LAPTRIG_INFO_REQ = 0x1201;   // information request
constexpr uint16_t CI_CMD_LAPTRIG_INFO_REPLY = 0x1202;
constexpr uint16_t CI_CMD_LAPTRIG_MEAS_REQ = 0x1203;

// Payload of 0x1200 and 0x1202 (big-endian on the wire).
struct LaptrigInfo {
    uint16_t kind;       // 0 lap event, 1 lap update
    uint16_t lap;
    uint16_t outing;
    uint32_t lapTime;    // time stamp of the lap, 0.1 ms
};

// The logging side installs these (lap and outing counters, lap stack, status
// block); until then events are received and dropped.
struct laptrigger_hooks {
    void (*setLapOutCnt)(uint16_t lap, uint16_t outing, uint32_t lapTime);
    void (*chngLapOutCnt)(uint16_t lap, uint16_t outing);
    void (*initLapOutCnt)(uint16_t lap, uint16_t outing);
    int (*lapOutCntValid)();
    int (*isLapstackController)();
    void (*lapstackAddEntry)(uint16_t lap, uint16_t outing, uint32_t lapTime);
    void (*sblkLaptrigger)();
    void (*measRequest)(uint16_t requesterPid);
    // Current counters for the information reply of a lap-trigger master.
    int (*getLapOutCnt)(uint16_t* lap, uint16_t* outing);
};
void laptrigger_set_hooks(const laptrigger_hooks* hooks);
// Registers the command handlers; the master PID comes from the caller (the
// logging configuration) through laptrigger_set_master. 1.
int laptrigger_init();
void laptrigger_set_master(uint8_t pid);

int laptrigger_get_info_req(uint8_t masterPid);
int laptrigger_meas_req();
// Sends a lap event (kind 0) or update (kind 1) to all devices.
int laptrigger_send(uint16_t kind, uint16_t lap, uint16_t outing, uint32_t lapTime);
struct ci_msg_t;
int laptrigger_signal_cmd(ci_msg_t* msg);
