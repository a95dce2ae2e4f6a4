// System configuration: engine control unit type, lap-trigger and
// fuel-consumption masters, time master and logging on/off.
#include "logging/config/cfg_system.h"

#include <cstring>

#include "measurement/calparams.h"
#include "platform/appman.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"

cfg_system_t cfg_system;

namespace {

char external_name[8];

void setName(const char* n) {
    std::strncpy(external_name, n, sizeof external_name - 1);
    external_name[7] = 0;
}

}  // namespace

const char* get_external_name() { return external_name; }

void cfg_system_ini() {
    const CalPage& cal = calActive();
    const uint16_t ecuType = calLoad(cal.ECU_TYPE);
    const uint32_t devCfg = calLoad(cal.DEVICE_CONFIG);
    cfg_system_t s{};
    external_name[7] = 0;
    s.loggingActive = 1;
    s.laptrigPid = 0xFFFF;
    s.fuelPid = 0xFFFF;
    switch (ecuType) {
    case 0:
        setName("None");
        s.notTimeMaster = 1;
        break;
    case 0x500: case 0x501: case 0x502: case 0x505:
        setName("VK2");
        s.extLaptrigMaster = 1;
        s.laptrigPid = 10;
        s.fuelPid = 10;
        s.ecuClass = 5;
        break;
    case 0x604: setName("VK3"); s.ecuClass = 0x406; break;
    case 0x704: setName("VK4"); s.ecuClass = 0x407; break;
    case 0xFF01: setName("ZTU"); s.ecuClass = 0x1FF; break;
    case 0xFF02: setName("SFN"); s.ecuClass = 0x2FF; break;
    default:
        setName("UNKNOWN");
        s.ecuClass = ecuType == 0xFFFF ? 0 : uint16_t(ecuType << 8 | ecuType >> 8);
        break;
    }
    s.ecuClassExt = 0;

    const uint8_t ltmOverride = applComm_getLaptrigPID();
    const uint8_t fcmOverride = applComm_getFuelconsPID();
    if (ltmOverride) {
        s.laptrigPid = ltmOverride;
        s.extLaptrigMaster = ltmOverride != app_pid;
    }
    if (fcmOverride) s.fuelPid = fcmOverride;

    if (devCfg == 0 || devCfg == 0xFFFFFFFF) {
        syslogx(151, "ECU_TYPE: 0x%.4x, DEVICE_CONFIG: 0x%.8x, fcm_pid: 0x%02X, extName: %s", ecuType, devCfg,
                s.fuelPid, external_name);
    } else {
        // the bytes in memory order
        uint8_t b[4];
        std::memcpy(b, &devCfg, 4);
        const uint8_t active = b[0] & 1;
        if (!ltmOverride) {
            if (b[1]) {
                s.laptrigPid = b[1];
                s.extLaptrigMaster = b[1] != app_pid;
            } else {
                s.laptrigPid = 0xFFFF;
                s.extLaptrigMaster = 0;
                if (active && calLoad(cal.OUTINGCTR_MODE) == 0) {
                    error_mgr_set(ERRMGR_PATH_SYSTEM, ERRMGR_TYPE_LAPTRIGGER_MASTER, 0);
                    syslogx(147, "cfg_system_ini() no laptrigger master defined in config");
                }
            }
        }
        if (!fcmOverride && b[2]) s.fuelPid = b[2];
        s.notTimeMaster = (b[0] & 2) ? 0 : 1;
        s.loggingActive = active;
        syslogx(150, "ECU_TYPE: 0x%.4X, DEVICE_CONFIG: 0x%.8X ltm_pid: 0x%02X logging %s, fcm_pid: 0x%02X, extName: %s",
                ecuType, devCfg, s.laptrigPid, active ? "active" : "INACTIVE", s.fuelPid, external_name);
    }
    if (ltmOverride || fcmOverride)
        syslogx(150, "PID override: ltm_pid: 0x%02X, fcm_pid: 0x%02X", s.laptrigPid, s.fuelPid);
    cfg_system = s;
}
