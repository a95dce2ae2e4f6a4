// System configuration of the device, written once at start-up from
// ECU_TYPE, DEVICE_CONFIG and the sibling application's overrides, and read
// without a lock afterwards.
#pragma once

#include <cstdint>

struct cfg_system_t {
    uint8_t loggingActive;      // 1: the logging application records
    uint8_t notTimeMaster;      // 1: this device does not act as time master
    uint8_t extLaptrigMaster;   // 1: the lap-trigger master is another device
    uint16_t laptrigPid;        // 0xFFFF = none
    uint16_t fuelPid;           // 0xFFFF = none
    uint16_t ecuClass;          // 0 = none or unknown
    uint16_t ecuClassExt;       // always 0
};
extern cfg_system_t cfg_system;

void cfg_system_ini();
// Name of the configured engine control unit type (at most 7 characters).
const char* get_external_name();
