// The three measurements with their configuration files and drives, the
// drive-to-hardware table and the drive file counts.
#pragma once

#include <cstdint>

constexpr unsigned CFG_MEAS_STRLEN = 40;

struct cfg_meas_t {
    char cfgPartition[CFG_MEAS_STRLEN];
    char xmlFile[CFG_MEAS_STRLEN];
    char binFile[CFG_MEAS_STRLEN];
    char qovFile[CFG_MEAS_STRLEN];
    char targetPartition[CFG_MEAS_STRLEN];
    char copyPartition[CFG_MEAS_STRLEN];
    uint32_t noFile;                    // 1: the measurement writes no files
};
extern cfg_meas_t cfg_meas[3];

struct cfg_meas_drv2Hw_t {
    char name[CFG_MEAS_STRLEN];
    int8_t hwIdx;                       // 0 internal medium, 1 USB medium
    const uint32_t* maxFileCntCal;      // calibration value of the maximum file count, or null
    uint32_t* maxFileCntSignal;         // signal-page variable of the maximum file count, or null
    uint8_t flagA;
    uint8_t flagB;
};
constexpr unsigned CFG_MEAS_DRIVES = 4;
extern cfg_meas_drv2Hw_t cfg_meas_drv2Hw[CFG_MEAS_DRIVES];

// Per hardware index (internal, USB); the records belong to the drive code.
struct cfg_meas_devHwInfo_t;
extern cfg_meas_devHwInfo_t* cfg_meas_devHwInfo;

// LOGGING2_TARGET_PARTITION as read at start-up, for later readers.
extern uint8_t LOGGING2_TARGET_PARTITION_ram;

// Sets the tables to their start state and applies LOGGING2_TARGET_PARTITION:
// 0 moves m03 to "meas:" with copies to "usb_meas:" and clears flag B of "meas2:".
void cfg_meas_applyTargetPartition(uint8_t logging2TargetPartition);

int cfg_meas_getDevIdxFromDrvName(const char* drv);
int cfg_meas_getHwIdxFromDrvName(const char* drv);
const char* cfg_meas_getTargetPartition(unsigned measIdx);
const char* cfg_meas_getCfgPartition(unsigned measIdx);

// File entries used and in all of the drive's file system; 0, or -1 with
// count 0 and maximum 0xFFFFFFFF when the drive cannot be read.
int cfg_meas_getBfsFileCounts(const char* drive, uint32_t* count, uint32_t* maximum);
// File counts into the signal page: with USB in the task "r_CfgMeasFrmtInfo"
// (1000 ms raster), without USB at once in the caller's task.
void cfg_meas_formatInfos_1s();
void cfg_meas_formatInfos();
// Ends the file-count task (shutdown, tests).
void cfg_meas_formatInfos_stop();
