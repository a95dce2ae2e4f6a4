// The XCP slave: calibration tools connect over XCP on UDP, read and write the
// calibration memory, switch, copy and store its pages and measure values
// through DAQ lists fired by the rasters.
//
// One connection (instance 0) on the UDP port of the start parameters. Start:
// xcpInitialize() as the last start-up step; rasters: xcpSendDAQ(2) in r1ms,
// xcpSendDAQ(1) in r10ms, xcp_100ms() and xcpSendDAQ(0) in r100ms; shutdown:
// xcp_shutdown_now().
#pragma once

#include <cstdint>

// Sets the slave up and starts its UDP transport on every local address.
// 0 on success, 1 on failure (the process then ends).
int xcpInitialize();
// The same bound to one IPv4 address (host byte order; tests use loopback).
int xcpInitializeOn(uint32_t ipv4);

// Sends the DAQ list attached to the event channel (0 100 ms, 1 10 ms, 2 1 ms).
void xcpSendDAQ(int event);
// Entry of r100ms: DTOs packed so far go out before the next one is added.
void xcp_100ms();

// 1 while a tool polls GET_STATUS at least every 4 s.
uint8_t xcpMasterPresent();
// 0 disconnected, 2 connected, 3 for an instance that does not exist.
uint32_t xcpConnectionGetState(unsigned instance);
// Forced disconnect when the keep-alive time-out expires (flag == 1); off by
// default and left off by the system.
void xcp_activate_xcp_comms_reset(int flag);
// Shutdown notice: no new connection, every further command ignored, the
// session-terminated event sent and all DAQ lists stopped.
void xcp_shutdown_now();

// Number of connections set up (1 after a successful xcpInitialize).
unsigned xcpConnectionCount();

// Tests and benchmarks: ends the slave's tasks, timer and socket and frees
// everything, so that xcpInitialize can run again.
void xcpTerminate();
// Tests and benchmarks: source of the DTO and DAQ-clock time stamps (0.1 ms);
// nullptr restores the time-synchronisation core.
void xcp_setTimeSource(uint32_t (*now)());
