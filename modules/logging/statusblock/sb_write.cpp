// Status blocks in the middle of a file: each periodic record of a
// status-block source also puts the current snapshot (versions, EPK, lap
// stack) into the measurement's current file, which stays open. A file cut
// off by a power loss thus still carries a recent status block.
#include <cstring>

#include "logging/counters/lapoutfra.h"
#include "logging/format/meas_file.h"
#include "logging/app/meas_runtime.h"
#include "logging/statusblock/sb_internal.h"
#include "logging/store/meas_app_store.h"

int sb_create_write(const MeasAppStore_SbRequest* req, unsigned /*type*/, unsigned measIdx) {
    if (!req || measIdx >= MEAS_COUNT || req->vfIdx < 0) return 0;
    const unsigned blk = measIdx == MEAS_IDX_M03 ? 1 : 0;
    // the store is used with the file queue held; taken before this module's lock
    MeasAppStoreQueueHold queue("sb_create_write()");
    std::lock_guard<std::mutex> lk(sb_lock());
    SbState& s = sb_state();
    if (!s.initialised) sb_init_all_locked();
    sb_check_vers_info_locked();
    // a copy: the block's own image may be waiting for a closing block
    static uint8_t image[SB_IMAGE_SIZE];   // under the lock
    std::memcpy(image, s.block[blk].image, sizeof image);
    const size_t len = sb_compose_image_locked(image, *req);
    meas_app_PreTrigPutMetaDataVfCopy(sb_store_of(measIdx), req->vfIdx, image, uint32_t(len), MEAS_META_STATUSBLOCK);
    return 1;
}

void sb_store_periodic(MeasBlock* block) {
    if (!block || block->measIdx >= MEAS_COUNT) return;
    MeasAppStoreQueueHold queue("sb_store_periodic()");
    void* store = sb_store_of(block->measIdx);
    if (!store || !meas_app_PreTrigMeasRunning(store) || !LapOutFra_isValid()) return;
    LapOutFraState lof{};
    LapOutFra_getState(&lof);
    MeasAppStore_FileInfo_s* file = nullptr;
    if (meas_app_get_lof_file(block, &file, &lof)) meas_app_store_statusblock(file, SB_PERIOD);
}
