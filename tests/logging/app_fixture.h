// A device that logs: measurement core with gateway, drives "cfg:", "meas:"
// and "meas2:", valid lap counters, a synchronised clock and the logging
// application with its raster entries. tick() plays one millisecond of the
// rasters in real time; the values of the signal page follow a counter whose
// value at every sample time is kept to compare with the files.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/app/meas_app.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/cfg_system.h"
#include "logging/counters/lapoutfra.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/format/meas_file_reader.h"
#include "logging/store/backend.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/virtual_file.h"
#include "logging_fixture.h"
#include "measurement/catalogue.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "measurement/routing.h"
#include "measurement/signalpage.h"
#include "platform/appman.h"
#include "platform/raster_bodies.h"
#include "platform/timebase.h"

class MeasAppTest : public LoggingTest {
public:
    struct Rec {
        uint32_t ts;
        uint32_t value;
    };

protected:
    static constexpr uint16_t kPid = 1;

    void SetUp() override {
        LoggingTest::SetUp();
        app_pid = kPid;
        dynkomm_init(0x1234);
        ASSERT_EQ(catalogue_init(), 1);
        comint_set_own_pid(kPid);
        routing_init(kPid);
        ASSERT_EQ(gw_init(kPid), 1);
        ASSERT_EQ(meas_man_init(), 1);
        for (const char* d : {"cfg", "meas", "meas2"}) makeDrive(d);
        cfg_system.loggingActive = 1;
        cfg_system.ecuClass = 5;
        LapOutFra_init();
        LapOutFra_initLapOutCnt(1, 1);
        host::setTimeSyncState(1);
        measure::store::BackendTiming t;
        t.startupMs = 100;
        measure::store::backendSetTiming(t);
        meas_store_stats() = MeasStoreStats{};
        // what the shell summary counts starts at 0 in each test
        for (unsigned m = 0; m < MEAS_COUNT; ++m) meas_store_writeCounters(m, 0) = meas_store_writeCounters(m, 1) = {};
        meas_fifo_signals().fifo_full_ctr = 0;
        rasterBodies_reset();
        ASSERT_EQ(meas_app_addRasterEntries(), 1);
        takeLogTexts();
    }
    void TearDown() override {
        if (started) {
            sp().meas_app_destroyreq = 1;
            runUntil([] { return !(meas[0].stateFlags & 1) && !(meas[2].stateFlags & 1) && !(meas[1].stateFlags & 1); },
                     3000);
        }
        meas_app_resetForTest();
        for (auto& m : meas) meas_clearKeepingLocks(m);
        MeasAppStore_deinit();
        measure::store::virtualFiles.reset();
        measure::store::backendSetTiming(measure::store::BackendTiming{});
        rasterBodies_reset();
        gw_shutdown();
        meas_man_shutdown();
        host::setTimeStampOffset(0);
        LoggingTest::TearDown();
    }

    SignalPage& sp() { return *signalPage(); }

    // "0x01xxxxxx": a signal-page variable of this device.
    static std::string adr(const char* name) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%08X", unsigned(catalogue_addr(name) & 0xFFFFFF) | (unsigned(kPid) << 24));
        return b;
    }
    // m0<idx+1>.xml with one block of stim_tick (4 bytes) on the raster and,
    // when cond, a global start condition on stim_active.
    void writeConfig(unsigned idx, const char* raster = "R1ms", bool cond = false, const char* extra = "") {
        std::string x = "<AcqInfo ident=\"t\" num_blocks=\"1\" num_conditions=\"" + std::to_string(cond ? 1 : 0) +
                        "\" version=\"1\" protocol=\"0\">\n";
        if (cond) x += "<GlobStartCond idx=\"0\"/>\n";
        x += extra;
        x += std::string("<Block name=\"b\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"") + raster +
             "\"><CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"><adr adr=\"" + adr("stim_tick") +
             "\" idx=\"0\"/></CopySeq></Block>\n";
        if (cond) x += "<Condition adr=\"" + adr("stim_active") + "\" idx=\"0\" size=\"1\" pretrigger=\"0\"/>\n";
        x += "</AcqInfo>\n";
        char name[32];
        std::snprintf(name, sizeof name, "cfg/m%02u.xml", idx + 1);
        writeFile(name, x);
    }
    // m02.xml, the telemetry measurement: one block of stim_tick on R10ms.
    void writeTeleConfig() {
        writeFile("cfg/m02.xml", "<AcqInfo ident=\"t\" num_blocks=\"1\" num_conditions=\"0\" version=\"1\" protocol=\"1\">\n"
                                 "<Block name=\"f\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R10ms\" "
                                 "tele_blk=\"0\"><CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"><adr adr=\"" +
                                     adr("stim_tick") + "\" idx=\"0\"/></CopySeq></Block>\n</AcqInfo>\n");
    }
    void start() {
        ASSERT_EQ(meas_app_ini(), 1);
        started = true;
    }

    // One millisecond: new values, the due rasters of the measurement core,
    // the conditions and the logging raster.
    void tick() {
        // one sample time per tick, even when the test runs late
        uint32_t ts = time_getTimestamp();
        if (ms && int32_t(ts - lastTs) < 10 && int32_t(ts - lastTs) > -1000) ts = lastTs + 10;
        lastTs = ts;
        ++counter;
        sp().stim_tick = counter;
        sp().stim_active = active ? 1 : 0;
        valueAt[ts] = counter;
        activeAt[ts] = active;
        for (int r : {0, 1, 2, 3, 6}) {
            if (ms % unsigned(raster2rate(r)) != 0) continue;
            meas_man_copy_raster(unsigned(r), ts);
            gw_distribute(unsigned(r));
        }
        if (ms % 10 == 0) rasterBodies_run(RB_10MS);
        if (!measHeld) rasterBodies_run(RB_MEAS);
        ++ms;
        next += std::chrono::microseconds(1000);
        if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(next);
    }
    void run(unsigned n) {
        for (unsigned i = 0; i < n; ++i) tick();
    }
    bool runUntil(const std::function<bool()>& cond, unsigned maxMs) {
        for (unsigned i = 0; i < maxMs; ++i) {
            if (cond()) return true;
            tick();
        }
        return cond();
    }
    // Stops logging and waits until the files are on the drive.
    void stopAndFlush() {
        sp().meas_app_stopreq = 1;
        ASSERT_TRUE(runUntil([&] { return !sp().meas_app_stopreq && !sp().meas_app_blkstopreq; }, 2000));
        ASSERT_TRUE(runUntil([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, 3000));
        run(50);
    }

    // Records of block 1 in every file of the folder, in file-name order.
    std::vector<Rec> records(const char* folder, std::vector<std::string>* names = nullptr) {
        std::vector<Rec> out;
        std::map<std::string, std::vector<uint8_t>> files;
        for (auto& e : std::filesystem::directory_iterator(dir + "/" + folder)) {
            std::string n = e.path().filename().string();
            if (!e.is_regular_file() || n[0] == '.') continue;
            std::ifstream in(e.path(), std::ios::binary);
            files[n] = {std::istreambuf_iterator<char>(in), {}};
        }
        for (auto& [n, bytes] : files) {
            if (names) names->push_back(n);
            MeasFileContent c;
            std::string err;
            EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err)) << n << ": " << err;
            for (auto& r : c.records)
                if (r.blockId == 1 && r.values.size() == 4)
                    out.push_back({r.timeStamp, uint32_t(r.values[0]) << 24 | uint32_t(r.values[1]) << 16 |
                                                    uint32_t(r.values[2]) << 8 | r.values[3]});
        }
        return out;
    }

    bool started = false;
    bool active = true;
    bool measHeld = false;   // the logging raster is held off its CPU
    uint32_t counter = 0;
    unsigned ms = 0;
    uint32_t lastTs = 0;
    std::map<uint32_t, uint32_t> valueAt;
    std::map<uint32_t, bool> activeAt;
    std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now();
};
