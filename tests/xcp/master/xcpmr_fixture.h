// The XCP master's parts over a fresh measurement core: its calibration
// parameters written straight into the reference page, its slots in the
// signal page and an application clock the test sets.
#pragma once

#include <atomic>
#include <vector>

#include "log_capture.h"
#include "measurement/meas_fixture.h"
#include "measurement/meas_master.h"
#include "platform/syslogx.h"
#include "xcp/master/xcpmr_internal.h"

inline std::atomic<uint32_t> gXcpmrFakeMs{5000};
inline uint32_t xcpmrFakeMs() { return gXcpmrFakeMs; }

class XcpMasterTest : public MeasTest {
protected:
    void SetUp() override {
        MeasTest::SetUp();
        gXcpmrFakeMs = 5000;
        xcpmr_setClock(xcpmrFakeMs, nullptr);
        seramSetSlotResolver(MEASADDR_CLASS_XCPMR, xcpmr_slot_resolver);
        meas_man_set_master_hooks(MEAS_MASTER_XCP, &xcpmr_meas_hooks);
        syslogx_setThreshold(7);
        static int boundary = 0;
        syslogx(7, "xcpmr test boundary %d", ++boundary);   // ends repeat folding of earlier tests
        takeLogRecords();
    }
    void TearDown() override {
        xcpmr_terminate();
        meas_man_set_master_hooks(MEAS_MASTER_XCP, nullptr);
        seramSetSlotResolver(MEASADDR_CLASS_XCPMR, nullptr);
        xcpmr_setClock(nullptr, nullptr);
        takeLogRecords();
        MeasTest::TearDown();
    }
    static CalPage& cal() { return *reinterpret_cast<CalPage*>(seramVirtToPtr(SERAM_REFPAGE_ADDR)); }
    static void row(unsigned r, unsigned inst, unsigned odts, unsigned evt = 1, uint32_t canId = 0) {
        cal().CfgMat_XcpMr_DAQ_MRID[r] = uint8_t(inst);
        cal().CfgMat_XcpMr_DAQ_ODT_NUM[r] = uint8_t(odts);
        cal().CfgMat_XcpMr_DAQ_EVT_CHAN[r] = uint8_t(evt);
        cal().CfgMat_XcpMr_DAQ_CANID[r] = canId;
    }
    static void chan(unsigned ch, unsigned r, uint32_t adr, unsigned size, uint32_t def = 0,
                     uint32_t timeout = 0xFFFFFFFFu) {
        cal().CfgMat_XcpMr_CHAN_DAQ[ch] = uint8_t(r);
        cal().CfgMat_XcpMr_CHAN_ADR[ch] = adr;
        cal().CfgMat_XcpMr_CHAN_SIZE[ch] = uint8_t(size);
        cal().CfgMat_XcpMr_CHAN_DEFAULT[ch] = def;
        cal().CfgMat_XcpMr_CHAN_TIMEOUT[ch] = timeout;
    }
    static uint32_t slot32(unsigned ch) { return __atomic_load_n(reinterpret_cast<uint32_t*>(xcpmr_slot(ch)), __ATOMIC_RELAXED); }
    static uint16_t slot16(unsigned ch) { return __atomic_load_n(reinterpret_cast<uint16_t*>(xcpmr_slot(ch)), __ATOMIC_RELAXED); }
    static uint8_t slot8(unsigned ch) { return __atomic_load_n(xcpmr_slot(ch), __ATOMIC_RELAXED); }
    static constexpr uint32_t classAddr(unsigned ch) { return uint32_t(MEASADDR_CLASS_XCPMR) << 18 | ch; }
};
