// The time service of a device with PID 5 over a fresh device folder, its
// command task running, and time messages built here.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "host/device_fixture.h"
#include "host/kernel/kernel.h"
#include "log_capture.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/error_mgr.h"
#include "virari/timeserv/timeserv.h"

class TimeServTest : public DeviceFolderTest {
protected:
    static constexpr uint16_t kOwn = 5;

    void SetUp() override {
        DeviceFolderTest::SetUp();
        writeFile("start.cfg", "pid = 5\n");
        ASSERT_EQ(AppMan_init(1), 1);
        dynkomm_init(1);
        comint_set_own_pid(kOwn);
        ASSERT_EQ(comint_init(), 1);
        error_mgr_resetForTest();
        takeLogTexts();
    }
    void TearDown() override {
        timeserv_shutdown();
        comint_shutdown();
        error_mgr_resetForTest();
        DeviceFolderTest::TearDown();
    }

    // A time message 0x0600 from src with the given payload length (at most 32).
    static ci_msg_t timeMsg(uint16_t src, uint32_t gap, const date_t& d, uint32_t q, uint32_t id = 0x1111,
                            uint32_t boot = 7, uint16_t len = TIMESERV_TIME_PAYLOAD) {
        ci_msg_t m;
        ci_init_msg(&m, TIMESERV_CMD_TIME, CI_PID_ALL, len);
        ci_set_src(&m, src);
        std::memset(m.payload, 0, 32);
        be_put32(m.payload, gap);
        const uint16_t f[7] = {d.year, d.month, d.day, d.hour, d.minute, d.second, d.millisecond};
        for (int i = 0; i < 7; ++i) be_put16(m.payload + 4 + 2 * i, f[i]);
        be_put32(m.payload + 20, q);
        be_put32(m.payload + 24, id);
        be_put32(m.payload + 28, boot);
        return m;
    }

    // The device clock moved by ms as a date.
    static date_t clockPlus(int64_t ms) {
        struct timespec t;
        clock_devicetime(&t);
        int64_t total = int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000 + ms;
        struct timespec s{time_t(total / 1000), long(total % 1000) * 1000000};
        date_t d{};
        conv_time_to_date(&s, &d);
        return d;
    }

    // Device clock minus the date in ms.
    static int64_t clockMinus(const date_t& d) {
        struct timespec t, m;
        clock_devicetime(&t);
        conv_date_to_time(&d, &m);
        return (int64_t(t.tv_sec) - m.tv_sec) * 1000 + (t.tv_nsec - m.tv_nsec) / 1000000;
    }
};
