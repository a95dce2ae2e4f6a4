// XCP master: reads values of other control units over XCP on UDP or CAN.
//
// Up to 8 instances, each talking to one slave, configure dynamic DAQ lists
// on their slave from the CfgMat_XcpMr_* calibration parameters and decode
// the DTOs into the value slots of 1000 master channels. A slot is measurable
// through the measurement addresses of class 28 (channel = address AND
// 0xFFF), falls back to its default value after its time-out, and the
// measurement lists that consist only of the channels of one DAQ are written
// directly when that DAQ has arrived.
//
// Start: xcpmr_ini() once; raster r10ms: xcpmr_10ms(). The measurement
// manager's hooks (xcpmr_checkMeasList, xcpmr_measlist_create) and the class
// 28 slot resolver are installed by xcpmr_ini.
#pragma once

#include <cstdint>

#include "measurement/meas_master.h"
#include "measurement/types.h"

constexpr unsigned XCPMR_INSTANCES = 8;
constexpr unsigned XCPMR_DAQ_ROWS = 32;
constexpr unsigned XCPMR_CHANNELS = 1000;
constexpr uint32_t XCPMR_NO_TIMEOUT = 65535;

// Instance status (xcpmr_status).
enum : uint8_t {
    XCPMR_STOPPED = 0,      // may start
    XCPMR_STOPPING = 2,
    XCPMR_READY = 3,
    XCPMR_CONFIGURING = 4,
    XCPMR_RUNNING = 5,
    XCPMR_FAILED = 6,       // retried after 1 s
    XCPMR_SETUP_FAILED = 7,
};

// 0, or -1 when the master could not be set up.
int xcpmr_ini();
void xcpmr_10ms();

// Measurement manager hooks.
int xcpmr_checkMeasList(const uint32_t* elems, unsigned lenBytes, void** daq, int bigEndian);
meas_master_unlink_fn xcpmr_measlist_create(uint32_t listId, void* daq);
void xcpmr_measlist_destroy(uint32_t listId);

// What the application installs: the hooks with meas_man_set_master_hooks
// (MEAS_MASTER_XCP) and the resolver with seramSetSlotResolver (class 28).
extern const meas_master_hooks xcpmr_meas_hooks;
const uint8_t* xcpmr_slot_resolver(measaddr_t addr, unsigned raster);

// Slot of a class-28 address, nullptr for a channel beyond the table (or
// before xcpmr_ini).
uint8_t* xcpmr_GetAddr(measaddr_t addr);
void xcpmr_reset_timeout(unsigned channel);

// Signal-page values of an instance (0 for an instance beyond 7).
uint8_t xcpmr_get_status(unsigned instance);
uint8_t xcpmr_get_timestamp_state(unsigned instance);
int32_t xcpmr_get_wander(unsigned instance);
// Packets dropped because a queue was full or a datagram did not fit, and
// packets from the slave that named a DAQ, ODT or PID not configured.
uint32_t xcpmr_dropped();
uint32_t xcpmr_rejected();

// Tests and benchmarks: ends every task, closes the sockets and frees the
// instances, so that xcpmr_ini can run again.
void xcpmr_terminate();
