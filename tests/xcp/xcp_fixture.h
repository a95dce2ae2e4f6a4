// A running XCP slave on 127.0.0.1 (PID 5, a free UDP port taken into
// start.cfg) over a fresh calibration memory, and a test master connected to
// nothing yet.
#pragma once

#include <netinet/in.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "awm/awm.h"
#include "host/device_fixture.h"
#include "log_capture.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "platform/startup.h"
#include "xcp/xcp_slave.h"
#include "xcp_test_master.h"

constexpr uint8_t kPid = 5;
constexpr uint32_t kPidBits = uint32_t(kPid) << 24;
constexpr int kPostrunApp = 77;   // "/SemPostDrive77"

inline Bytes errorAnswer(uint8_t code) { return {0xFE, code}; }
inline const Bytes kOk = {0xFF};

class XcpSlaveTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        port = freeUdpPort();
        writeFile("start.cfg", "pid = 5\nxcp_port = " + std::to_string(port) + "\n");
        ASSERT_EQ(AppMan_init(1), 1);
        ASSERT_EQ(AppMan_getXCPPort(), port);
        ASSERT_EQ(seram_init(), 1);
        awm_man_start();
        // before the slave's tasks exist, as at start-up
        ASSERT_EQ(startup_postrunInit(kPostrunApp), 1);
        takeLogRecords();
        ASSERT_EQ(xcpInitializeOn(INADDR_LOOPBACK), 0);
        master = std::make_unique<XcpTestMaster>(port);
    }
    void TearDown() override {
        master.reset();
        xcpTerminate();
        xcp_setTimeSource(nullptr);
        seram_shutdown();
        DeviceFolderTest::TearDown();
    }
    void connect() { ASSERT_EQ(master->connect().size(), 8u); }
    // Switches the ECU to the working page (segment 0, page 1).
    void useWorkingPage() { ASSERT_EQ(master->command({0xEB, 0x83, 0, 1}), kOk); }

    uint16_t port = 0;
    std::unique_ptr<XcpTestMaster> master;
};
