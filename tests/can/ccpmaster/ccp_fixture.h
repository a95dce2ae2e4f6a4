// The CCP master against scripted slaves on the loopback CAN bus, with the
// measurement core and gateway; the test thread plays the 1 ms and 10 ms
// rasters.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "can/can_fixture.h"
#include "can/ccpmaster/ccp_slave.h"
#include "can/ccpmaster/ccpmr_internal.h"
#include "measurement/calparams.h"
#include "measurement/meas_master.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/timebase.h"

inline measaddr_t ccpAddr(unsigned chan) { return (MEASADDR_CLASS_CCPMR << 18) | chan; }

class CcpTest : public CanTest {
protected:
    void SetUp() override {
        CanTest::SetUp();
        app_pid = kOwnPid;   // start conditions of PID 0 are this device's values
    }
    void TearDown() override {
        gw_shutdown();   // linked lists are unlinked while the master still runs
        ccpmr_shutdown();
        meas_man_set_master_hooks(MEAS_MASTER_CCP, nullptr);
        CanTest::TearDown();
    }

    // The reference page is the active page: the master reads its parameters there.
    static CalPage* cal() { return reinterpret_cast<CalPage*>(seramVirtToPtr(SERAM_REFPAGE_ADDR)); }

    static void instance(unsigned i, uint8_t intf, uint32_t cmd, uint32_t ret, uint8_t mode, bool big = false,
                         uint16_t station = 0x1234) {
        CalPage* p = cal();
        p->CfgMat_CcpMr_CANINT[i] = intf;
        p->CfgMat_CcpMr_CMD_CANID[i] = cmd;
        p->CfgMat_CcpMr_CMDRET_CANID[i] = ret;
        p->CfgMat_CcpMr_MODE[i] = mode;
        p->CfgMat_CcpMr_BIGENDIAN[i] = big;
        p->CfgMat_CcpMr_STATIONADDRESS[i] = station;
        p->CfgMat_CcpMr_ACTIVE[i] = 1;
    }
    static void daq(unsigned d, uint8_t inst, uint8_t daqNo, uint8_t odts, uint32_t canId, uint8_t evt = 1,
                    uint16_t presc = 1) {
        CalPage* p = cal();
        p->CfgMat_CcpMr_DAQ_MRID[d] = inst;
        p->CfgMat_CcpMr_DAQ_ID[d] = daqNo;
        p->CfgMat_CcpMr_DAQ_ODT_NUM[d] = odts;
        p->CfgMat_CcpMr_DAQ_CANID[d] = canId;
        p->CfgMat_CcpMr_DAQ_EVT_CHAN[d] = evt;
        p->CfgMat_CcpMr_DAQ_EVT_PRESC[d] = presc;
    }
    static void chan(unsigned c, uint8_t d, uint8_t size, uint32_t addr, uint32_t def = 0,
                     uint32_t timeout = 0xFFFFFFFF, uint8_t ext = 0) {
        CalPage* p = cal();
        p->CfgMat_CcpMr_CHAN_DAQ[c] = d;
        p->CfgMat_CcpMr_CHAN_SIZE[c] = size;
        p->CfgMat_CcpMr_CHAN_ADR[c] = addr;
        p->CfgMat_CcpMr_CHAN_ADEXTR[c] = ext;
        p->CfgMat_CcpMr_CHAN_DEFAULT[c] = def;
        p->CfgMat_CcpMr_CHAN_TIMEOUT[c] = timeout;
    }

    // Starts the master and installs its list hooks.
    void start() {
        ASSERT_EQ(ccpmr_ini(), 0);
        meas_man_set_master_hooks(MEAS_MASTER_CCP, ccpmr_masterHooks());
    }

    // One millisecond of the device: the slaves answer, the 1 ms raster polls
    // CAN, every tenth the 10 ms raster supervises and the gateway delivers.
    void tick() {
        for (CcpSlave* s : slaves) s->serve();
        canPoll_1ms();
        if (++ticks % 10 == 0) {
            ccpmr_10ms();
            meas_man_copy_raster(3, time_getTimestamp());
            gw_distribute(3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void run(int ms) {
        for (int i = 0; i < ms; ++i) tick();
    }
    // Runs until cond holds; false after limitMs.
    bool runUntil(const std::function<bool()>& cond, int limitMs = 5000) {
        for (int i = 0; i < limitMs; ++i) {
            if (cond()) return true;
            tick();
        }
        return cond();
    }

    static uint32_t value(unsigned c, unsigned size) {
        const uint8_t* p = ccpmr_GetAddr(c);
        switch (size) {
        case 1: return __atomic_load_n(p, __ATOMIC_RELAXED);
        case 2: return __atomic_load_n(reinterpret_cast<const uint16_t*>(p), __ATOMIC_RELAXED);
        default: return __atomic_load_n(reinterpret_cast<const uint32_t*>(p), __ATOMIC_RELAXED);
        }
    }

    std::vector<CcpSlave*> slaves;
    unsigned ticks = 0;
};

// A gateway consumer that keeps every slot it receives.
struct SlotConsumer {
    std::vector<std::vector<uint8_t>> slots;
    unsigned len = 0;
    gw_conn_t conn = nullptr;

    static int read(unsigned long status, void* data, void* user) {
        auto* c = static_cast<SlotConsumer*>(user);
        if (status == 0 && data) {
            const auto* p = static_cast<const uint8_t*>(data);
            c->slots.emplace_back(p, p + c->len);
        }
        return 1;
    }
    // Subscribes and starts a list of the values on the 10 ms raster.
    uint32_t subscribe(const std::vector<uint32_t>& desc, unsigned slotLen) {
        static const callback_list cb = {{{read, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}, {nullptr, 0}}};
        if (!conn) conn = gw_connect(&cb);
        len = slotLen;
        uint32_t h = gw_setup_list(conn, desc.data(), this, uint16_t(desc.size() * 4), 3, 0, 0, DYNKOMM_MODE_QUEUE, 0,
                                   0, 0, 0);
        if (h) gw_start_list(h);
        return h;
    }
};
