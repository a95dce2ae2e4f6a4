// Measurement and drive tables.
#include "logging/config/cfg_meas.h"

#include <cstring>

#include "measurement/calparams.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

cfg_meas_t cfg_meas[3];
cfg_meas_drv2Hw_t cfg_meas_drv2Hw[CFG_MEAS_DRIVES];
cfg_meas_devHwInfo_t* cfg_meas_devHwInfo = nullptr;
uint8_t LOGGING2_TARGET_PARTITION_ram = 1;

namespace {

const cfg_meas_t kMeas[3] = {
    {"cfg:", "cfg:/m01.xml", "cfg:/m01.dat", "cfg:/m01.qov", "meas:", "usb_meas:", 0},
    {"cfg:", "cfg:/m02.xml", "cfg:/m02.dat", "cfg:/none", "/tyCo/0", "none", 1},
    {"cfg:", "cfg:/m03.xml", "cfg:/m03.dat", "cfg:/m03.qov", "meas2:", "none", 0},
};

void setDrive(unsigned i, const char* name, int8_t hw, const uint32_t* cal, uint32_t* sig, uint8_t a,
              uint8_t b) {
    cfg_meas_drv2Hw_t& d = cfg_meas_drv2Hw[i];
    std::memset(&d, 0, sizeof d);
    std::strncpy(d.name, name, CFG_MEAS_STRLEN - 1);
    d.hwIdx = hw;
    d.maxFileCntCal = cal;
    d.maxFileCntSignal = sig;
    d.flagA = a;
    d.flagB = b;
}

void fillTables(bool withPointers) {
    std::memcpy(cfg_meas, kMeas, sizeof cfg_meas);
    SignalPage* sp = withPointers ? signalPage() : nullptr;
    const CalPage* cal = withPointers ? &calActive() : nullptr;
    setDrive(0, "cfg:", 0, nullptr, nullptr, 1, 0);
    setDrive(1, "meas:", 0, cal ? &cal->MEAS_MAXFILECNT_PART1 : nullptr, sp ? &sp->meas_maxFileCnt_part1 : nullptr, 1, 1);
    setDrive(2, "meas2:", 0, cal ? &cal->MEAS_MAXFILECNT_PART2 : nullptr, sp ? &sp->meas_maxFileCnt_part2 : nullptr, 1, 1);
    setDrive(3, "usb_meas:", 1, nullptr, nullptr, 0, 0);
}

// The names and flags hold before any start-up code runs; the pointers into
// the calibration memory are set by the logging start-up.
struct InitTables {
    InitTables() { fillTables(false); }
} initTables;

}  // namespace

void cfg_meas_applyTargetPartition(uint8_t logging2TargetPartition) {
    fillTables(true);
    LOGGING2_TARGET_PARTITION_ram = logging2TargetPartition;
    if (logging2TargetPartition == 0) {
        std::strcpy(cfg_meas[2].targetPartition, "meas:");
        std::strcpy(cfg_meas[2].copyPartition, "usb_meas:");
        cfg_meas_drv2Hw[2].flagB = 0;
    }
}

int cfg_meas_getDevIdxFromDrvName(const char* drv) {
    if (!drv) {
        syslogx(147, "cfg_meas_getDevIdxFromDrvName() drv NULL");
        return -1;
    }
    for (unsigned i = 0; i < CFG_MEAS_DRIVES; ++i)
        if (std::strncmp(cfg_meas_drv2Hw[i].name, drv, CFG_MEAS_STRLEN) == 0) return int(i);
    return -1;
}

int cfg_meas_getHwIdxFromDrvName(const char* drv) {
    if (!drv) {
        syslogx(147, "cfg_meas_getHwIdxFromDrvName() drv NULL");
        return -1;
    }
    int i = cfg_meas_getDevIdxFromDrvName(drv);
    if (i < 0) return -1;
    int hw = cfg_meas_drv2Hw[i].hwIdx;
    return hw == 0 || hw == 1 ? hw : -1;
}

const char* cfg_meas_getTargetPartition(unsigned measIdx) {
    unsigned i = measIdx & 0xFF;
    return i < 3 ? cfg_meas[i].targetPartition : "";
}

const char* cfg_meas_getCfgPartition(unsigned measIdx) {
    unsigned i = measIdx & 0xFF;
    return i < 3 ? cfg_meas[i].cfgPartition : "";
}
