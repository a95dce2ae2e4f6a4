// Logging drives: debounced availability, readiness of the measurements'
// drives and the client configuration file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "logging/config/cfg_meas.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/logging_fixture.h"
#include "platform/io.h"

using MeasDrives = LoggingTest;

TEST_F(MeasDrives, DebounceRestartsWhenTheDriveComesBack) {
    meas_app_setDriveDebounce(1, 300);
    EXPECT_EQ(meas_app_driveAvDebounce("usb_meas:"), -1);   // not there
    makeDrive("usb_meas");
    int wait = meas_app_driveAvDebounce("usb_meas:");
    EXPECT_GT(wait, 0);
    EXPECT_LE(wait, 300);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(meas_app_driveAvDebounce("usb_meas:"), 0);
    std::filesystem::remove_all(dir + "/usb_meas");
    EXPECT_EQ(meas_app_driveAvDebounce("usb_meas:"), -1);
    makeDrive("usb_meas");
    EXPECT_GT(meas_app_driveAvDebounce("usb_meas:"), 200);   // a new debounce from its return
    // the internal medium has none; unknown drives are never available
    makeDrive("meas");
    EXPECT_EQ(meas_app_driveAvDebounce("meas:"), 0);
    EXPECT_EQ(meas_app_driveAvDebounce("nodrive:"), -1);
    EXPECT_EQ(meas_app_driveAvDebounce(nullptr), -1);
    meas_app_setDriveDebounce(1, 0);
}

TEST_F(MeasDrives, ReadinessOfEveryMeasurementsDrives) {
    cfg_meas_applyTargetPartition(1);
    meas_led_clr_status(0x8000);
    makeDrive("cfg");
    makeDrive("meas");
    EXPECT_EQ(meas_app_DiskReady(0), 0);
    EXPECT_EQ(meas_app_DiskReady(1), 0);    // m02 writes no files
    EXPECT_EQ(meas_app_DiskReady(2), -1);   // "meas2:" missing
    char drive[CFG_MEAS_STRLEN + 1];
    EXPECT_EQ(meas_app_DiskReadyDrive(2, drive), -1);
    EXPECT_STREQ(drive, "meas2:");
    EXPECT_EQ(meas_app_DisksReady(), -1);
    EXPECT_EQ(meas_led_get_status() & 0x8000, 0u);
    makeDrive("meas2");
    EXPECT_EQ(meas_app_DiskReadyDrive(2, drive), 0);
    EXPECT_STREQ(drive, "");
    EXPECT_EQ(meas_app_DisksReady(), 0);
    EXPECT_EQ(meas_led_get_status() & 0x8000, 0x8000u);
    EXPECT_EQ(meas_app_DiskReady(4), -1);
}

TEST_F(MeasDrives, ClientConfigurationOfM01AndM03Only) {
    cfg_meas_applyTargetPartition(1);
    writeFile("cfg/m01.qov", "client cfg");
    uint32_t len = 99;
    void* q = meas_app_get_QOVConfiguration(0, &len);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(len, 10u);
    EXPECT_EQ(std::string(static_cast<char*>(q), len), "client cfg");
    std::free(q);
    EXPECT_EQ(meas_app_get_QOVConfiguration(1, &len), nullptr);
    EXPECT_EQ(len, 0u);
    takeLogTexts();
    EXPECT_EQ(meas_app_get_QOVConfiguration(2, &len), nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_get_QOVConfiguration file 'cfg:/m03.qov' not found"));
    // one that is there but cannot be taken says what it is
    std::filesystem::create_symlink("m03.qov", dir + "/cfg/m03.qov");
    EXPECT_EQ(meas_app_get_QOVConfiguration(2, &len), nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"meas_app_get_QOVConfiguration file 'cfg:/m03.qov' is "
                                                               "a link loop, not used"});
}

// An empty client configuration is taken as it is (every file of the
// measurement then carries none) and named as empty.
TEST_F(MeasDrives, AnEmptyClientConfigurationIsNamedAndTakenAsEmpty) {
    cfg_meas_applyTargetPartition(1);
    writeFile("cfg/m01.qov", "");
    takeLogTexts();
    uint32_t len = 99;
    void* q = meas_app_get_QOVConfiguration(0, &len);
    EXPECT_EQ(len, 0u);
    std::free(q);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_get_QOVConfiguration file 'cfg:/m01.qov' is empty"));
}
