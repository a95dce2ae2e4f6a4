// System configuration, measurement and drive tables, raster codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/kernel/kernel.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/config/meas_config.h"
#include "logging/logging_fixture.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"

class CfgModel : public LoggingTest {
protected:
    void ini(uint16_t ecuType, uint32_t deviceConfig, uint8_t outingMode = 0) {
        cal().ECU_TYPE = ecuType;
        cal().DEVICE_CONFIG = deviceConfig;
        cal().OUTINGCTR_MODE = outingMode;
        cfg_system_ini();
    }
    // DEVICE_CONFIG whose bytes in memory order are b0, b1, b2.
    static uint32_t devCfg(uint8_t b0, uint8_t b1, uint8_t b2) {
        uint8_t b[4] = {b0, b1, b2, 0};
        uint32_t v;
        std::memcpy(&v, b, 4);
        return v;
    }
    void TearDown() override {
        host::applCommPage()[APPLCOMM_OFS_LAPTRIG_PID] = 0;
        host::applCommPage()[APPLCOMM_OFS_FUELCONS_PID] = 0;
        cfg_meas_applyTargetPartition(1);
        LoggingTest::TearDown();
    }
};

TEST_F(CfgModel, EcuTypeRows) {
    ini(0x505, 0xFFFFFFFF);
    EXPECT_STREQ(get_external_name(), "VK2");
    EXPECT_EQ(cfg_system.extLaptrigMaster, 1);
    EXPECT_EQ(cfg_system.laptrigPid, 10);
    ini(0x1234, 0);
    EXPECT_STREQ(get_external_name(), "UNKNOWN");
    EXPECT_EQ(cfg_system.ecuClass, 0x3412);
    ini(0xFFFF, 0);
    EXPECT_EQ(cfg_system.ecuClass, 0);
    EXPECT_EQ(cfg_system.ecuClassExt, 0);
}

TEST_F(CfgModel, DeviceConfigAndOverrides) {
    takeLogTexts();
    ini(0x604, devCfg(3, 0, 0));                 // logging, time master, no lap-trigger master
    EXPECT_EQ(cfg_system.loggingActive, 1);
    EXPECT_EQ(cfg_system.notTimeMaster, 0);
    EXPECT_EQ(cfg_system.laptrigPid, 0xFFFF);
    EXPECT_TRUE(logged(takeLogTexts(), "cfg_system_ini() no laptrigger master defined in config"));
    uint8_t state = 0;
    error_mgr_get_state(&state);
    EXPECT_EQ(state, 2);

    ini(0x604, devCfg(0, 7, 9), 1);              // inactive, not time master
    EXPECT_EQ(cfg_system.loggingActive, 0);
    EXPECT_EQ(cfg_system.notTimeMaster, 1);
    EXPECT_EQ(cfg_system.laptrigPid, 7);
    EXPECT_EQ(cfg_system.extLaptrigMaster, app_pid != 7);
    EXPECT_EQ(cfg_system.fuelPid, 9);

    // the sibling application's PIDs win over DEVICE_CONFIG
    host::applCommPage()[APPLCOMM_OFS_LAPTRIG_PID] = uint8_t(app_pid);
    host::applCommPage()[APPLCOMM_OFS_FUELCONS_PID] = 12;
    takeLogTexts();
    ini(0x604, devCfg(1, 7, 9));
    EXPECT_EQ(cfg_system.laptrigPid, app_pid);
    EXPECT_EQ(cfg_system.extLaptrigMaster, 0);
    EXPECT_EQ(cfg_system.fuelPid, 12);
    char line[64];
    std::snprintf(line, sizeof line, "PID override: ltm_pid: 0x%02X, fcm_pid: 0x0C", app_pid);
    EXPECT_TRUE(logged(takeLogTexts(), line));
}

TEST_F(CfgModel, MeasurementAndDriveTables) {
    EXPECT_STREQ(cfg_meas[0].xmlFile, "cfg:/m01.xml");
    EXPECT_STREQ(cfg_meas[1].targetPartition, "/tyCo/0");
    EXPECT_EQ(cfg_meas[1].noFile, 1u);
    EXPECT_STREQ(cfg_meas[2].qovFile, "cfg:/m03.qov");
    cfg_meas_applyTargetPartition(0);
    EXPECT_STREQ(cfg_meas_getTargetPartition(2), "meas:");
    EXPECT_STREQ(cfg_meas[2].copyPartition, "usb_meas:");
    EXPECT_EQ(cfg_meas_drv2Hw[2].flagB, 0);
    EXPECT_EQ(LOGGING2_TARGET_PARTITION_ram, 0);
    cfg_meas_applyTargetPartition(5);
    EXPECT_STREQ(cfg_meas_getTargetPartition(0x102), "meas2:");   // low 8 bits of the index
    EXPECT_STREQ(cfg_meas[2].copyPartition, "none");
    EXPECT_EQ(cfg_meas_drv2Hw[2].flagB, 1);
    EXPECT_EQ(cfg_meas_drv2Hw[1].maxFileCntCal, &calActive().MEAS_MAXFILECNT_PART1);

    EXPECT_EQ(cfg_meas_getDevIdxFromDrvName("usb_meas:"), 3);
    EXPECT_EQ(cfg_meas_getHwIdxFromDrvName("usb_meas:"), 1);
    EXPECT_EQ(cfg_meas_getHwIdxFromDrvName("meas2:"), 0);
    EXPECT_EQ(cfg_meas_getDevIdxFromDrvName("c:"), -1);
    EXPECT_EQ(cfg_meas_getDevIdxFromDrvName(nullptr), -1);
    EXPECT_EQ(cfg_meas_getHwIdxFromDrvName(nullptr), -1);
    // a row name fills its 40 characters; a longer name matching them is found
    std::memset(cfg_meas_drv2Hw[0].name, 'd', CFG_MEAS_STRLEN);
    EXPECT_EQ(cfg_meas_getDevIdxFromDrvName((std::string(40, 'd') + "x").c_str()), 0);
    EXPECT_EQ(cfg_meas_getDevIdxFromDrvName(std::string(39, 'd').c_str()), -1);
}

TEST_F(CfgModel, FileCountsOfTheDrives) {
    uint32_t count = 1, max = 1;
    EXPECT_EQ(cfg_meas_getBfsFileCounts("meas:", &count, &max), -1);   // no drive folder
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(max, 0xFFFFFFFFu);
    EXPECT_EQ(cfg_meas_getBfsFileCounts(nullptr, &count, &max), -1);
    makeDrive("meas");
    EXPECT_EQ(cfg_meas_getBfsFileCounts("meas:", &count, &max), 0);
    EXPECT_LE(count, max);
    EXPECT_EQ(cfg_meas_getBfsFileCounts("meas:", nullptr, nullptr), 0);

    SignalPage* sp = signalPage();
    sp->meas_maxFileCnt_part1 = 0;
    sp->meas_maxFileCnt_part2 = 77;
    cfg_meas_formatInfos();                     // meas2: missing: left alone
    EXPECT_EQ(sp->meas_maxFileCnt_part1, max);
    EXPECT_EQ(sp->meas_maxFileCnt_part2, 77u);
}

TEST(RasterCodes, NamesSamplesAndBinaryCodes) {
    char buf[16];
    EXPECT_STREQ(convraster2ascii(MEAS_RASTER_100MS, buf), "100ms");
    EXPECT_STREQ(convraster2ascii(MEAS_RASTER_OFF, buf), "Off");
    EXPECT_STREQ(convraster2ascii(13, buf), "R:0xD");              // no row of its own
    EXPECT_STREQ(convraster2ascii(MEAS_RASTER_5US, buf), "R:0xE");
    EXPECT_STREQ(convraster2ascii(25, buf), "R:0x19");
    EXPECT_EQ(meas_app_samplesPerRecord(MEAS_RASTER_5US), 200u);
    EXPECT_EQ(meas_app_samplesPerRecord(MEAS_RASTER_500US), 2u);
    for (uint32_t r : {0u, 9u, 13u, 19u, 20u, 0xFFFFFFFFu}) EXPECT_EQ(meas_app_samplesPerRecord(r), 1u) << r;
    EXPECT_EQ(meas_app_getslotnum(13), meas_app_getslotnum(MEAS_RASTER_OFF));
    EXPECT_EQ(meas_app_convraster(0x10B), MEAS_RASTER_5US);
    EXPECT_EQ(meas_app_convraster(0x401), MEAS_RASTER_SBLAP);
    EXPECT_EQ(meas_app_convraster(0), MEAS_RASTER_1S);
    EXPECT_EQ(meas_app_convraster(0x999), MEAS_RASTER_1S);
}
