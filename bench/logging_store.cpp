// Sustained write rate of the measurement file store to a drive folder: 20
// blocks of 64-byte records at 1 ms go through the file store, the back end
// and the internal-drive writer into measurement files. Reported: MB/s of
// records written and CPU seconds per MB (all tasks of the process).
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/app/meas_runtime.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/virtual_file.h"
#include "measurement/seram.h"
#include "platform/byteorder.h"
#include "platform/nvram.h"

namespace {

constexpr unsigned kBlocks = 20;
constexpr uint32_t kRecord = 64;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_StoreSustainedWrite(benchmark::State& state) {
    char tmpl[] = "/tmp/tav9_bench_store_XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    host::setDeviceFolder(dir);
    host::resetForTest();
    std::filesystem::create_directories(dir + "/meas");
    nvram_dbs_init();
    seram_init();
    cfg_meas_applyTargetPartition(1);
    std::snprintf(cfg_meas[0].copyPartition, CFG_MEAS_STRLEN, "none");
    LapOutFra_init();
    LapOutFra_initLapOutCnt(1, 1);
    MeasAppStore_init();

    MEASConfiguration* cfg = meas_app_alloc_MEASConfiguration();
    cfg->numBlocks = kBlocks;
    cfg->blocks = static_cast<BlkInfo*>(std::calloc(kBlocks, sizeof(BlkInfo)));
    std::vector<MeasBlock> blocks(kBlocks);
    meas[0].config = cfg;
    for (unsigned i = 0; i < kBlocks; ++i) {
        BlkInfo& b = cfg->blocks[i];
        b.blockNumber = uint16_t(i + 1);
        b.recordSize = kRecord;
        b.channelCount = (kRecord - 4) / 4;
        b.align4Count = uint16_t(b.channelCount);
        b.divider = 1;
        blocks[i].owner = &meas[0];
        blocks[i].config = &b;
        MeasAppStore_initData(&blocks[i], 64, 4096);
    }
    meas[0].store = meas_app_PreTrigInit(0, 0.0f);

    std::vector<uint8_t> rec(kRecord);
    uint32_t ts = 1000, n = 0;
    uint64_t bytes = 0;
    const double cpu0 = cpuSeconds();
    for (auto _ : state) {
        // ten seconds of logging: 10000 records per block, values that change like
        // signals; the writer's idle poll (50 ms) is paid once per iteration
        for (unsigned ms = 0; ms < 10000; ++ms, ts += 10) {
            for (unsigned i = 0; i < kBlocks; ++i, ++n) {
                be_put32(rec.data(), ts);
                for (uint32_t k = 4; k < kRecord; k += 4) be_put32(rec.data() + k, (n * 2654435761u) >> (k % 24));
                meas_app_store_block(&blocks[i], rec.data());
            }
        }
        bytes += uint64_t(10000) * kBlocks * kRecord;
        for (auto& b : blocks) meas_app_store_frame(&b);
        while (!meas_app_PreTrigIsOfflineDataFlushed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double cpu = cpuSeconds() - cpu0;
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["cpu_s_per_MB"] = bytes ? cpu / (double(bytes) / 1e6) : 0.0;

    for (auto& b : blocks) meas_app_close_file(&b, SB_PERIOD);
    while (!meas_app_PreTrigIsOfflineDataFlushed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    meas_app_PreTrigDelete(meas[0].store);
    for (auto& b : blocks) MeasAppStore_deinitData(&b);
    meas_app_free_MEASConfiguration(cfg);
    meas[0] = meas_t{};
    measure::store::virtualFiles.reset();
    MeasAppStore_deinit();
    host::resetForTest();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StoreSustainedWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
