// Common set-up of the measurement core for the tests: a fresh device folder,
// magic table, calibration memory, catalogue, routing and gateway.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/seram.h"

constexpr uint16_t kOwnPid = 5;

class MeasTest : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        dynkomm_init(0x1234);
        ASSERT_EQ(seram_init(), 1);
        ASSERT_EQ(catalogue_init(), 1);
        comint_set_own_pid(kOwnPid);
        routing_init(kOwnPid);
        ASSERT_EQ(gw_init(kOwnPid), 1);
        ASSERT_EQ(meas_man_init(), 1);
    }
    void TearDown() override {
        gw_shutdown();
        meas_man_shutdown();
        seram_shutdown();
        DeviceFolderTest::TearDown();
    }
};
