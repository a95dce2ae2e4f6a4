// A temporary device folder per test with the host services reset, and access
// to the log records queued by syslogx.
#pragma once

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class PlatformTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        syslogx_setThreshold(7);
        // Ends any repeat folding left by an earlier test of this thread.
        static int boundary = 0;
        syslogx(7, "test boundary %d", ++boundary);
        syslogx_reportHeld();   // counts an earlier test left held back
        takeLogRecords();
    }
    void TearDown() override {
        takeLogRecords();
        DeviceFolderTest::TearDown();
    }
    std::string readFile(const std::string& name) {
        std::ifstream in(std::filesystem::path(dir) / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};
