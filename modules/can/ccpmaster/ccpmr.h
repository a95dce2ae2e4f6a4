// CCP master: reads measured values of other control units over CAN with the
// CAN Calibration Protocol in data-acquisition mode.
//
// Up to two instances (one slave each) are configured by the calibration
// parameters CfgMat_CcpMr_*; together they acquire up to 200 channels in up
// to 20 DAQ lists. The values are measured values of measurement-address
// class 29: channel n (address bits 0..11) is value slot n.
#pragma once

#include <cstdint>

#include "measurement/types.h"

constexpr unsigned CCPMR_INSTANCES = 2;
constexpr unsigned CCPMR_DAQS = 20;
constexpr unsigned CCPMR_CHANNELS = 200;

// Instance status as published in the signal page (ccpmr_status).
enum : uint8_t {
    CCPMR_ST_READY = 0,      // ready to start
    CCPMR_ST_STOPPING = 2,
    CCPMR_ST_STOPPED = 3,
    CCPMR_ST_STARTING = 4,   // configuring the slave's DAQ lists
    CCPMR_ST_ACQUIRING = 5,
    CCPMR_ST_ERROR = 6,      // after failed attempts; ready again after 1 s
};

// Start-up: value slots, instance records, tasks, CAN bindings and the
// start-condition lists. 0, or -1 on a failed allocation, binding or task
// creation (later instances are then not started).
int ccpmr_ini();
// 10 ms raster entry: start, stop and keep-alive requests, value time-outs.
void ccpmr_10ms();
// Ends the tasks and frees the records; only once no CAN callback can run
// any more (tests).
void ccpmr_shutdown();

// Address of the value slot of a class-29 measurement address, nullptr for a
// channel number beyond the slots.
const uint8_t* ccpmr_GetAddr(measaddr_t addr);

// The measurement manager's hooks of this master (lists of one DAQ list are
// filled per DAQ cycle by the DAQ task).
struct meas_master_hooks;
const meas_master_hooks* ccpmr_masterHooks();

// Status of an instance (0 for an instance without record).
uint8_t ccpmr_getStatus(unsigned instance);
