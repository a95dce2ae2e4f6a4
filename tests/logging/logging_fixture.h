// Device folder, NVRAM, calibration memory and counters reset around each test.
#pragma once

#include <filesystem>

#include "host/device_fixture.h"
#include "log_capture.h"
#include "logging/counters/lapoutfra.h"
#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"

class LoggingTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        nvram_resetForTest();
        nvram_dbs_init();
        seram_init();
        error_mgr_resetForTest();
        LapOutFra_resetForTest();
    }
    void TearDown() override {
        LapOutFra_resetForTest();
        error_mgr_resetForTest();
        DeviceFolderTest::TearDown();
    }
    // Calibration parameters as the active page shows them.
    CalPage& cal() { return const_cast<CalPage&>(calActive()); }
    void makeDrive(const char* folder) { std::filesystem::create_directories(dir + "/" + folder); }
    // A process restart as far as NVRAM and the counters are concerned.
    void restart() {
        LapOutFra_resetForTest();
        host::nvramReload();
        nvram_resetForTest();
        nvram_dbs_init();
    }
};

#include <string>
#include <vector>

#include "host/os/os.h"
#include "platform/syslog_reader.h"

inline bool logged(const std::vector<std::string>& log, const std::string& text) {
    for (const auto& l : log)
        if (l == text) return true;
    return false;
}
