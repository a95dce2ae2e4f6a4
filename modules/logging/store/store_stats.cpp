// Statistics of the store in the signal page.
#include <atomic>
#include <cstddef>

#include "logging/config/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "measurement/catalogue.h"
#include "measurement/seram.h"

namespace {
MeasStoreStats privateStats{};
MeasStoreStats* stats = &privateStats;

uint32_t published(uint32_t bytes) { return (bytes / 1024) * 200 / 1024; }
}  // namespace

MeasStoreStats& meas_store_stats() { return *stats; }

void meas_store_countLost(unsigned measIdx) {
    uint32_t* counter = measIdx == MEAS_IDX_M01   ? &stats->meas_lost_frames_m01
                        : measIdx == MEAS_IDX_M03 ? &stats->meas_lost_frames_m03
                                                  : nullptr;
    if (counter) std::atomic_ref<uint32_t>(*counter).fetch_add(1, std::memory_order_relaxed);
}

int meas_store_publishStats() {
    uint32_t vaddr = seramSignalAlloc(sizeof(MeasStoreStats));
    uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
    if (!p) return 0;
    auto* s = reinterpret_cast<MeasStoreStats*>(p);
    *s = *stats;
    stats = s;
#define STAT(field) catalogue_add(#field, vaddr + uint32_t(offsetof(MeasStoreStats, field)), TE_UINT32)
    STAT(meas_data_size_m01_uncompressed);
    STAT(meas_data_size_m01_compressed);
    STAT(meas_data_size_m03_uncompressed);
    STAT(meas_data_size_m03_compressed);
    STAT(meas_pretrig_buf_size_ecu);
    STAT(meas_pretrig_buf_size_ecu_max);
    STAT(meas_pretrig_buf_cnt_ecu);
    STAT(meas_pretrig_buf_cnt_ecu_max);
    STAT(meas_pretrig_buf_state_ecu);
    STAT(meas_backend_buf_size_ecu);
    STAT(meas_backend_buf_size_ecu_max);
    STAT(meas_backend_buf_cnt_ecu);
    STAT(meas_backend_buf_cnt_ecu_max);
    STAT(meas_pretrig_buf_size_fde);
    STAT(meas_pretrig_buf_size_fde_max);
    STAT(meas_pretrig_buf_cnt_fde);
    STAT(meas_pretrig_buf_cnt_fde_max);
    STAT(meas_pretrig_buf_state_fde);
    STAT(meas_backend_buf_size_fde);
    STAT(meas_backend_buf_size_fde_max);
    STAT(meas_backend_buf_cnt_fde);
    STAT(meas_backend_buf_cnt_fde_max);
    STAT(meas_lost_frames_m01);
    STAT(meas_lost_frames_m03);
#undef STAT
    return 1;
}

void meas_store_updateBufferStats(void* m01, void* m03) {
    struct Target {
        void* store;
        uint32_t *ps, *psm, *pc, *pcm, *pst, *bs, *bsm, *bc, *bcm;
    };
    MeasStoreStats& s = *stats;
    const Target targets[2] = {
        {m01, &s.meas_pretrig_buf_size_ecu, &s.meas_pretrig_buf_size_ecu_max, &s.meas_pretrig_buf_cnt_ecu,
         &s.meas_pretrig_buf_cnt_ecu_max, &s.meas_pretrig_buf_state_ecu, &s.meas_backend_buf_size_ecu,
         &s.meas_backend_buf_size_ecu_max, &s.meas_backend_buf_cnt_ecu, &s.meas_backend_buf_cnt_ecu_max},
        {m03, &s.meas_pretrig_buf_size_fde, &s.meas_pretrig_buf_size_fde_max, &s.meas_pretrig_buf_cnt_fde,
         &s.meas_pretrig_buf_cnt_fde_max, &s.meas_pretrig_buf_state_fde, &s.meas_backend_buf_size_fde,
         &s.meas_backend_buf_size_fde_max, &s.meas_backend_buf_cnt_fde, &s.meas_backend_buf_cnt_fde_max},
    };
    for (const Target& t : targets) {
        int state = 0;
        uint32_t size = 0, maxSize = 0, cnt = 0, maxCnt = 0;
        meas_app_PreTrigGetMeasVarsPT(t.store, &state, &size, &maxSize, &cnt, &maxCnt);
        *t.ps = published(size);
        *t.psm = published(maxSize);
        *t.pc = cnt;
        *t.pcm = maxCnt;
        *t.pst = uint32_t(state);
        meas_app_PreTrigGetMeasVarsBE(t.store, &size, &maxSize, &cnt, &maxCnt);
        *t.bs = published(size);
        *t.bsm = published(maxSize);
        *t.bc = cnt;
        *t.bcm = maxCnt;
    }
}
