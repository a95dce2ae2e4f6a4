// Defaults of the calibration data page and the active-page view of it.
#include "measurement/calparams.h"

#include <cstring>

#include "measurement/seram.h"

static_assert(sizeof(CalPage) <= SERAM_PAGE_SIZE, "calibration page exceeds its page");

namespace {
const float kBgRow[6] = {0, 50, 60, 75, 85, 100};
const float kBg[6] = {0, 1, 3, 10, 30, 100};
const float kColsatRow[8] = {0, 1, 10, 20, 30, 40, 50, 100};
const float kColsat[8] = {40, 40, 55, 80, 120, 170, 255, 255};
const float kLedRow[11] = {0, 2, 8, 15, 25, 35, 50, 60, 75, 90, 100};
const float kLed[11] = {0.05f, 0.05f, 0.1f, 0.3f, 0.8f, 2, 8, 15, 30, 60, 100};
}  // namespace

void calPageDefaults(CalPage* p) {
    std::memset(p, 0, sizeof *p);
    p->magic = CAL_PAGE_MAGIC;
    p->layoutVersion = 1;
    std::strncpy(p->dataSetName, "TAV9 host defaults", sizeof p->dataSetName - 1);
    std::strncpy(p->EPK, "TAV9_HOST_DEFAULT_DATASET_V1", CAL_EPK_LEN - 1);
    p->PCODE = 0x0001;
    // A device with no ECU type never acts as time master and so never logs
    // unless another device leads the time; the stand-alone host device is
    // set up as the logger of an ECU, which makes it the time master.
    p->ECU_TYPE = 0x0604;
    p->DATADELAY = 0;
    p->OUTINGCTR_MODE = 0;
    p->MEAS_APP_DEBUG = 0;
    p->LOGGING2_TARGET_PARTITION = 1;
    p->FILEFRAGMENTATION_SIZE = 0;
    p->FILEFRAGMENTATION_TIME = 0;
    p->MEAS_MAXFILECNT_PART1 = 1000;
    p->MEAS_MAXFILECNT_PART2 = 1000;
    p->CfgMat_CanVersion = 5;
    // every CAN mailbox and entry unused, no time-out supervision
    std::memset(p->CfgMat_CanIn_Mb_CanIntf, 0xFF, sizeof p->CfgMat_CanIn_Mb_CanIntf);
    std::memset(p->CfgMat_CanIn_Mb_CanID, 0xFF, sizeof p->CfgMat_CanIn_Mb_CanID);
    std::memset(p->CfgMat_CanIn_Ch_MsgInd, 0xFF, sizeof p->CfgMat_CanIn_Ch_MsgInd);
    std::memset(p->CfgMat_CanIn_Ch_timeout_ms, 0xFF, sizeof p->CfgMat_CanIn_Ch_timeout_ms);
    std::memset(p->CfgMat_CanOut_Mb_CanIntf, 0xFF, sizeof p->CfgMat_CanOut_Mb_CanIntf);
    std::memset(p->CfgMat_CanOut_Mb_CanID, 0xFF, sizeof p->CfgMat_CanOut_Mb_CanID);
    std::memset(p->CfgMat_CanOut_Ch_MsgInd, 0xFF, sizeof p->CfgMat_CanOut_Ch_MsgInd);
    for (auto& f : p->CfgMat_CanOut_Ch_fact) f = 1.0f;
    // CCP master: both instances off, no start conditions, no supervision
    std::memset(p->CfgMat_CcpMr_CANINT, 0xFF, sizeof p->CfgMat_CcpMr_CANINT);
    std::memset(p->CfgMat_CcpMr_Cond1_Adr, 0xFF, sizeof p->CfgMat_CcpMr_Cond1_Adr);
    std::memset(p->CfgMat_CcpMr_Cond2_Adr, 0xFF, sizeof p->CfgMat_CcpMr_Cond2_Adr);
    std::memset(p->CfgMat_CcpMr_DAQ_MRID, 0xFF, sizeof p->CfgMat_CcpMr_DAQ_MRID);
    std::memset(p->CfgMat_CcpMr_CHAN_DAQ, 0xFF, sizeof p->CfgMat_CcpMr_CHAN_DAQ);
    std::memset(p->CfgMat_CcpMr_CHAN_TIMEOUT, 0xFF, sizeof p->CfgMat_CcpMr_CHAN_TIMEOUT);
    // no XCP master instance, DAQ row or channel in use; no start condition
    std::memset(p->CfgMat_XcpMr_ACTIVE, 0xFF, sizeof p->CfgMat_XcpMr_ACTIVE);
    std::memset(p->CfgMat_XcpMr_Cond_Adr, 0xFF, sizeof p->CfgMat_XcpMr_Cond_Adr);
    std::memset(p->CfgMat_XcpMr_Cond_Op, 6, sizeof p->CfgMat_XcpMr_Cond_Op);
    std::memset(p->CfgMat_XcpMr_TIMESTAMP_SIZE, 4, sizeof p->CfgMat_XcpMr_TIMESTAMP_SIZE);
    std::memset(p->CfgMat_XcpMr_TIMESTAMP_RESOLUTION, 5, sizeof p->CfgMat_XcpMr_TIMESTAMP_RESOLUTION);   // 100 us
    for (auto& t : p->CfgMat_XcpMr_TIMESTAMP_TICKS) t = 1;
    std::memset(p->CfgMat_XcpMr_DAQ_MRID, 0xFF, sizeof p->CfgMat_XcpMr_DAQ_MRID);
    std::memset(p->CfgMat_XcpMr_CHAN_DAQ, 0xFF, sizeof p->CfgMat_XcpMr_CHAN_DAQ);
    std::memset(p->CfgMat_XcpMr_CHAN_SIZE, 4, sizeof p->CfgMat_XcpMr_CHAN_SIZE);
    std::memset(p->CfgMat_XcpMr_CHAN_TIMEOUT, 0xFF, sizeof p->CfgMat_XcpMr_CHAN_TIMEOUT);
    std::memcpy(p->CL_DISP_BRIGHT_BG, kBg, sizeof kBg);
    std::memcpy(p->CL_DISP_BRIGHT_BG_row_, kBgRow, sizeof kBgRow);
    std::memcpy(p->CL_DISP_BRIGHT_COLSAT, kColsat, sizeof kColsat);
    std::memcpy(p->CL_DISP_BRIGHT_COLSAT_row_, kColsatRow, sizeof kColsatRow);
    for (float* y : {p->CL_DISP_BRIGHT_LED_RED, p->CL_DISP_BRIGHT_LED_GREEN, p->CL_DISP_BRIGHT_LED_BLUE})
        std::memcpy(y, kLed, sizeof kLed);
    for (float* x : {p->CL_DISP_BRIGHT_LED_RED_row_, p->CL_DISP_BRIGHT_LED_GREEN_row_,
                     p->CL_DISP_BRIGHT_LED_BLUE_row_})
        std::memcpy(x, kLedRow, sizeof kLedRow);
}

const CalPage& calActive() {
    return *reinterpret_cast<const CalPage*>(seramVirtToPtr(SERAM_REFPAGE_ADDR + seramActiveOffset.load()));
}

uint32_t calRefAddr(size_t memberOffset) { return SERAM_REFPAGE_ADDR + uint32_t(memberOffset); }
