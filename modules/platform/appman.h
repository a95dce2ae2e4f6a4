// Front end of the application manager: the process's start parameters and
// the page the sibling application shares with it.
#pragma once

#include <cstdint>

// The application number (the process's one argument); first argument of the
// kernel-side service calls. 1 until AppMan_init sets it.
extern int RtpIndex;
// This device's PID on the vehicle network (set at start-up).
extern uint16_t app_pid;
// The device's IPv4 address as dotted text.
extern char device_ip_addr[20];

// Sets RtpIndex, checks the application manager's interface and reads the
// start parameters (app_pid is set from them). 1 on success, 0 (logged) on
// failure, the defaults staying in place.
int AppMan_init(int appNumber);

uint8_t AppMan_getPID();
uint16_t AppMan_getXCPPort();
uint16_t AppMan_getBC2PortOffset();

// Page "/shm/ApplComm" of the sibling application: byte 0 the lap-trigger
// master PID, byte 1 the fuel-consumption master PID (0 = none).
constexpr unsigned APPLCOMM_OFS_LAPTRIG_PID = 0;
constexpr unsigned APPLCOMM_OFS_FUELCONS_PID = 1;
uint8_t applComm_getLaptrigPID();
uint8_t applComm_getFuelconsPID();
