// A device with "meas:" and "usb_meas:", valid lap counters and measurement
// m01 configured with two data blocks: block 1 of two 4-byte channels at 1 ms
// and block 2, a sub-sampled block of one 2-byte channel with two samples per
// record. Records fed through the file store are kept to compare with what
// the files give back.
#pragma once

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/events/event_apps.h"
#include "logging/format/meas_file_reader.h"
#include "logging/format/meas_frame.h"
#include "logging/app/meas_runtime.h"
#include "logging/logging_fixture.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/pretrigger.h"
#include "logging/store/virtual_file.h"
#include "platform/byteorder.h"
#include "platform/time_step.h"

class StoreTest : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        makeDrive("meas");
        makeDrive("usb_meas");
        cfg_meas_applyTargetPartition(1);
        LapOutFra_init();
        LapOutFra_initLapOutCnt(1, 1);
        measure::store::BackendTiming t;
        t.startupMs = 200;
        measure::store::backendSetTiming(t);
        ASSERT_EQ(MeasAppStore_init(), 0);
        meas_store_stats() = MeasStoreStats{};
        for (unsigned m = 0; m < 3; ++m) meas_store_writeCounters(m, 0) = meas_store_writeCounters(m, 1) = {};
        takeLogTexts();
    }
    void TearDown() override {
        stopStore();
        for (auto& b : blocks) {
            if (!b.storeData) continue;
            uint8_t* left = nullptr;   // records never handed over
            MeasFrame_get(b.storeData->frame, 0, &left, nullptr, nullptr, nullptr);
            std::free(left);
            MeasAppStore_deinitData(&b);
        }
        meas_app_free_MEASConfiguration(meas[0].config);
        meas_clearKeepingLocks(meas[0]);
        measure::store::virtualFiles.reset();
        MeasAppStore_deinit();
        measure::store::backendSetTiming(measure::store::BackendTiming{});
        LoggingTest::TearDown();
    }

    // m01 with its blocks; the store made with the pretrigger time.
    void configure(float pretrigger = 0.0f) {
        MEASConfiguration* c = meas_app_alloc_MEASConfiguration();
        c->numBlocks = 2;
        c->blocks = static_cast<BlkInfo*>(std::calloc(2, sizeof(BlkInfo)));
        describeBlock(c->blocks[0], 1, 2, 4, 1);
        describeBlock(c->blocks[1], 2, 1, 2, 2);
        std::snprintf(c->projectFileName, sizeof c->projectFileName, "store test");
        meas[0].config = c;
        static const char qov[] = "<qov/>";
        meas[0].qovBlob = const_cast<char*>(qov);
        meas[0].qovSize = sizeof qov - 1;
        blocks.assign(2, MeasBlock{});
        for (unsigned i = 0; i < 2; ++i) {
            blocks[i].owner = &meas[0];
            blocks[i].measIdx = 0;
            blocks[i].config = &c->blocks[i];
            ASSERT_EQ(MeasAppStore_initData(&blocks[i], 64, 4096), 0);
        }
        meas[0].store = meas_app_PreTrigInit(0, pretrigger);
        ASSERT_NE(static_cast<void*>(meas[0].store), nullptr);
    }
    // Block `number` of `channels` channels of `width` bytes (2 or 4) with
    // `samples` samples of each per record.
    static void describeBlock(BlkInfo& k, uint16_t number, unsigned channels, unsigned width, unsigned samples) {
        k.blockNumber = number;
        k.recordSize = 4 + channels * width * samples;
        k.channelCount = channels;
        k.align4Count = width == 4 ? uint16_t(channels) : 0;
        k.align2Count = width == 2 ? uint16_t(channels) : 0;
        k.divider = uint16_t(samples);
    }
    // The name of m01's file of the counters now.
    static std::string fileOfCounters() {
        LapOutFraState s{};
        LapOutFra_getState(&s);
        char name[40];
        LapOutFra_genFilename(name, sizeof name, 0, s.outing, s.lap, s.fragment);
        return name;
    }
    // m01 configured as configure() does, with an empty application list:
    // its event logger writes events.
    void configureWithEvents() {
        makeDrive("cfg");
        writeFile("cfg/apps.xml", "<Applicationlist/>");
        eventApps_resetForTest();
        configure();
    }
    measure::store::Pretrigger* pretrigger() { return static_cast<measure::store::Pretrigger*>(static_cast<void*>(meas[0].store)); }
    // Waits until both drives' writers have joined the back end: a file made
    // before a writer joined is not on its drive (as the writer names).
    void awaitBothWriters() {
        ASSERT_TRUE(waitFor([&] { return pretrigger()->getBackend()->writerCount() == 2; }, 10000));
    }

    // One record of block i (0 or 1) at ts, values derived from ts.
    void feed(unsigned i, uint32_t ts) {
        std::vector<uint8_t> r(blocks[i].config->recordSize);
        be_put32(r.data(), ts);
        for (size_t k = 4; k < r.size(); ++k) r[k] = uint8_t(ts * 7 + k * 13 + i);
        meas_app_store_block(&blocks[i], r.data());
        fed[uint8_t(i + 1)].push_back({ts, std::vector<uint8_t>(r.begin() + 4, r.end())});
    }
    // An old time's file (both blocks at `old`, block 1 again 1 s later),
    // then a step of the time from `before` to `after`, as the 1 ms raster
    // notes it.
    void feedOldFileThenStep(uint32_t old, uint32_t before, uint32_t after) {
        feed(0, old);
        feed(1, old);
        feed(0, old + 10000);
        time_stepResetForTest();
        time_stepNote(before, 0);
        time_stepNote(after, 1);
    }
    // `count` records of block 1 at ts in steps of 10, block 2's at every
    // other one; ts is left after the last.
    void feedBoth(uint32_t& ts, unsigned count) {
        for (unsigned n = 0; n < count; ++n, ts += 10) {
            feed(0, ts);
            if ((ts / 10) % 2 == 0) feed(1, ts);
        }
    }
    // Closes every block's file and waits until the writers have it all.
    void closeAndDrain() {
        for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
        ASSERT_TRUE(waitFor([] { return meas_app_PreTrigIsOfflineDataFlushed() == 1; }, 10000));
    }
    // Drains and deletes the store, as a destroy does.
    void stopStore() {
        meas_app_PreTrigDrain(meas[0].store);
        meas_app_PreTrigDelete(meas[0].store);
        meas[0].store = nullptr;
    }
    static bool waitFor(const std::function<bool()>& cond, int ms) {
        for (int t = 0; t < ms; t += 10) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return cond();
    }
    // Files of a drive folder, by name.
    std::map<std::string, std::vector<uint8_t>> files(const char* folder) {
        std::map<std::string, std::vector<uint8_t>> out;
        for (auto& e : std::filesystem::directory_iterator(dir + "/" + folder)) {
            if (!e.is_regular_file() || e.path().filename().string()[0] == '.') continue;
            std::ifstream in(e.path(), std::ios::binary);
            out[e.path().filename().string()] = {std::istreambuf_iterator<char>(in), {}};
        }
        return out;
    }
    // The event payloads of the files of meas/, by each file's initial time
    // stamp, in file order; a file that cannot be read fails the test.
    std::map<uint32_t, std::vector<std::vector<uint8_t>>> eventsByFileStart() {
        std::map<uint32_t, std::vector<std::vector<uint8_t>>> events;
        for (auto& [name, bytes] : files("meas")) {
            MeasFileContent c;
            std::string err;
            EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
            uint32_t start = 0;
            for (auto& m : c.metas) {
                if (m.type == MEAS_META_INIT_TS) start = be_get32(m.payload.data());
                if (m.type == MEAS_META_EVENT) events[start].push_back(m.payload);
            }
        }
        return events;
    }
    static const std::map<uint8_t, MeasFileBlockLayout>& layouts() {
        static const std::map<uint8_t, MeasFileBlockLayout> l = {{1, {1, 2, 0, 0}}, {2, {2, 0, 1, 0}}};
        return l;
    }

    struct Fed {
        uint32_t ts;
        std::vector<uint8_t> values;
    };
    // The time stamps of the records in the newest (last by name) of a
    // drive's files, by block id, added to `got`.
    static void newestFileStamps(const std::map<std::string, std::vector<uint8_t>>& drive,
                                 std::map<uint8_t, std::vector<uint32_t>>& got) {
        const auto& [name, bytes] = *drive.rbegin();
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        for (auto& r : c.records) got[r.blockId].push_back(r.timeStamp);
    }
    // The time stamps of the records fed after `from`.
    static std::vector<uint32_t> fedAfter(const std::vector<Fed>& records, uint32_t from) {
        std::vector<uint32_t> late;
        for (auto& f : records)
            if (int32_t(f.ts - from) > 0) late.push_back(f.ts);
        return late;
    }
    std::vector<MeasBlock> blocks;
    std::map<uint8_t, std::vector<Fed>> fed;
};
