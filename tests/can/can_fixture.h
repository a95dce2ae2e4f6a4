// CAN input and output over the loopback bus, with the measurement core,
// NVRAM and error memory of a fresh device folder.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "can/can_in.h"
#include "can/can_out.h"
#include "host/kernel/kernel.h"
#include "log_capture.h"
#include "measurement/meas_fixture.h"
#include "measurement/signalpage.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

class CanTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        writeFile("start.cfg", "can_bus = loopback\n");
        host::loadStartParams(1);
        host::canOpen(1);
        canFront_resetForTest();
        nvram_resetForTest();
        nvram_dbs_init();
        error_mgr_resetForTest();
        error_mgr_init();
        CanIn_resetForTest();
        CanOut_resetForTest();
        syslogx_setThreshold(7);
        static int boundary = 0;
        syslogx(7, "can test boundary %d", ++boundary);   // ends repeat folding of earlier tests
        takeLogRecords();
    }
    void TearDown() override {
        CanOut_resetForTest();
        CanIn_resetForTest();
        canFront_resetForTest();
        host::canClose();
        error_mgr_resetForTest();
        takeLogRecords();
        MeasTest::TearDown();
    }

    static host::CanFrame frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
        host::CanFrame f;
        f.id = id;
        for (uint8_t b : bytes) f.data[f.len++] = b;
        return f;
    }
    // The frame arrives on the bus and the 1 ms task polls the front end.
    static void receive(unsigned intf, const host::CanFrame& f) {
        host::canLoopbackInject(intf, f);
        canPoll_1ms();
    }
    static std::vector<uint8_t> bytesOf(const host::CanFrame& f) {
        return std::vector<uint8_t>(f.data, f.data + f.len);
    }
    static uint32_t slot(unsigned ch) { return signalPage()->memory_canin[ch]; }
    static std::vector<host::CanFrame> sent(unsigned intf = 0) { return host::canLoopbackTake(intf); }

    // Error memory entry of a path: its type, or -1 when it is not active.
    static int activeErrorType(unsigned path) {
        uint8_t buf[ERRMGR_MAX_ENTRIES * ERRMGR_ENTRY_SIZE];
        int n = error_mgr_get_data(buf, sizeof buf);
        for (int i = 0; i + int(ERRMGR_ENTRY_SIZE) <= n; i += int(ERRMGR_ENTRY_SIZE)) {
            unsigned p = unsigned(buf[i] | buf[i + 1] << 8);
            if (p == path && (buf[i + 3] & 1)) return buf[i + 2];
        }
        return -1;
    }
};
