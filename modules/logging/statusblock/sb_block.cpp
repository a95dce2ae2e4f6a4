// Life of a status block: started by the file store when a file ends,
// completed by the task once its frames, the version answers and the lap
// stack entry are in (or 0.5 s have passed), then written into the file,
// which is closed with it.
#include <cstring>

#include "logging/app/meas_app.h"
#include "logging/config/cfg_system.h"
#include "logging/format/meas_file.h"
#include "logging/app/meas_runtime.h"
#include "logging/statusblock/sb_internal.h"
#include "logging/statusblock/sb_lapstack.h"
#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "platform/appman.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

const char* blockName(const SbBlock& b) { return b.req.fileName; }
const char* typeName(const SbBlock& b) { return b.type == SB_LAPTRIG ? "LAP" : "PER"; }

void statusLine(const SbBlock& b) {
    const SbState& s = sb_state();
    syslogx(151,
            "sb_static_status: %s,  0x%X, sb_dyn_status: 0x%X, sb_ok: 0x%llX, sb_req: 0x%llX, Blks written SB %d/%d, LR %d/%d",
            blockName(b), unsigned(s.status), unsigned(b.busy), (unsigned long long)s.lapOk,
            (unsigned long long)s.lapReq, int(b.writtenSb), int(b.expectedSb), int(b.writtenLr),
            int(b.expectedLr));
}

// Appends the data sequence and puts the image into the file, then closes it.
void sb_create_file(SbBlock& b) {
    void* store = sb_store_of(b.measIdx);
    const size_t len = sb_compose_image_locked(b.image, b.req);
    meas_app_PreTrigPutMetaDataVfCopy(store, b.req.vfIdx, b.image, uint32_t(len), MEAS_META_STATUSBLOCK);
    meas_app_PreTrigCloseFile(store, b.req.vfIdx);
    sb_state().status |= SB_ST_WRITTEN;
}

void finish(SbBlock& b) {
    b.busy = 0;
    sb_check_idle_locked();
}

}  // namespace

size_t sb_compose_image_locked(uint8_t* image, const MeasAppStore_SbRequest& req) {
    uint8_t page01[SB_PAGE01_SIZE];
    SbPage01Input in{};
    in.created = req.created;
    in.now = req.now;
    in.versions = sb_state().versions;
    in.externalName = get_external_name();
    in.texts[0] = req.fileName;
    in.texts[1] = req.cfgName;
    in.texts[2] = req.logName;
    in.texts[3] = req.cfgText;
    char annotation[256];
    std::memcpy(annotation, ecu_annotation_info, sizeof annotation);
    annotation[255] = 0;
    in.annotation = annotation;
    char epk[CAL_EPK_LEN + 1];
    seramCopyEPK(epk, sizeof epk);
    in.epk = epk;
    sb_build_page01(page01, in);
    uint8_t lapStack[SB_LAPSTACK_MAX];
    const int lapLen = sb_lapstack_get(lapStack, sizeof lapStack);
    return sb_add_var_data(image, page01, lapStack, lapLen > 0 ? size_t(lapLen) : 0);
}

SbState& sb_state() {
    static SbState s{};
    return s;
}

std::mutex& sb_lock() {
    static std::mutex m;
    return m;
}

void* sb_store_of(unsigned measIdx) {
    return measIdx < MEAS_COUNT ? static_cast<void*>(meas[measIdx].store) : nullptr;
}

void sb_init(unsigned blk) {
    SbState& s = sb_state();
    SbBlock& b = s.block[blk];
    sb_image_init(b.image, cfg_system.ecuClass, cfg_system.ecuClassExt, PCODE());
    b.busy = 0;
    const uint16_t fuel = cfg_system.fuelPid;
    s.lapstackControllers = fuel != 0xFFFF && fuel != app_pid ? sb_pid_bit(fuel) : 0;
    sb_versions_init_locked();
    sb_check_vers_info_locked();
}

void sb_init_all_locked() {
    for (unsigned i = 0; i < SB_BLOCKS; ++i) sb_init(i);
    sb_state().initialised = true;
}

void sb_check_idle_locked() {
    const SbState& s = sb_state();
    for (const SbBlock& b : s.block)
        if (b.busy) return;
    sblk_task_fast = false;
    sb_state().slowWakes = 5;
}

int sb_create_check_locked(unsigned blk) {
    SbState& s = sb_state();
    sb_check_vers_info_locked();
    SbBlock& b = s.block[blk];
    const uint32_t now = time_getTimestamp();
    if ((s.status & SB_ST_LAPSTACK_PENDING) && now - s.lastLap.received >= SB_TIMEOUT) {
        // the lap-stack controller did not answer: the lap counts without fuel
        if (!sb_SwOff) sb_lapstack_add_entry(s.lastLap.lap, s.lastLap.lapTime, 0.0f);
        s.status &= ~SB_ST_LAPSTACK_PENDING;
    }
    if (!b.busy) return 0;
    const bool lap = b.type == SB_LAPTRIG;
    const uint32_t expectedTs = lap ? s.lastLap.timeStamp : 0;
    b.writtenSb += uint32_t(meas_app_store_frame_sb_dyn(b.req.vfIdx, b.measIdx, expectedTs));
    b.writtenLr += uint32_t(meas_app_store_frame_lr_dyn(b.req.vfIdx, b.measIdx, expectedTs));
    const bool framesMissing = b.writtenSb < b.expectedSb || b.writtenLr < b.expectedLr;
    const bool pending = lap && (s.status & (SB_ST_VERSIONS_PENDING | SB_ST_LAPSTACK_PENDING));
    if (framesMissing) b.busy |= SB_BUSY_DATA_MISSING;
    else b.busy &= ~SB_BUSY_DATA_MISSING;
    if (!framesMissing && !pending) {
        sb_create_file(b);
        syslogx(151, "sb_create_check(%s):%d - done, status %X, %X type: '%s'", blockName(b), int(blk),
                unsigned(s.status), unsigned(b.busy), typeName(b));
        finish(b);
        return 1;
    }
    if (now - b.startTs < SB_TIMEOUT) return 2;
    // A device that does not answer its version request must not cost the
    // file its status block: only a lap-stack entry still missing holds it back.
    if (lap && (s.status & SB_ST_LAPSTACK_PENDING)) {
        syslogx(147, "sb_create_check(%s): %s timeout no statusblock generated(laptrig)!, start %d diff %d",
                blockName(b), typeName(b), int(b.startTs), int(now - b.startTs));
        statusLine(b);
        meas_app_PreTrigCloseFile(sb_store_of(b.measIdx), b.req.vfIdx);
    } else {
        syslogx(148, lap ? "sb_create_check(%s): data timeout, static part of statusblock generated(laptrig)!"
                         : "sb_create_check(%s): data timeout, static part of statusblock generated(per)!",
                blockName(b));
        sb_create_file(b);
    }
    finish(b);
    return 1;
}

int sb_create(const MeasAppStore_SbRequest* req, unsigned type, unsigned measIdx) {
    if (!req || measIdx >= MEAS_COUNT) return 3;
    const unsigned blk = measIdx == MEAS_IDX_M03 ? 1 : 0;
    // the file store asks with its queue held (the lock is recursive); a
    // finished block closes its file under it
    MeasAppStoreQueueHold queue("sb_create()");
    std::lock_guard<std::mutex> lk(sb_lock());
    SbState& s = sb_state();
    if (!s.initialised) sb_init_all_locked();
    SbBlock& b = s.block[blk];
    // a lap block still waiting gets its chance to finish first
    if ((b.busy & SB_BUSY_LAP)) sb_create_check_locked(blk);
    if (b.busy) {
        syslogx(148, "sb_create(): busy / not finished yet, no LAP SB for '%s', status %X", req->fileName,
                unsigned(b.busy));
        return 3;
    }
    b.type = type == SB_LAPTRIG ? SB_LAPTRIG : SB_PERIOD;
    b.measIdx = measIdx;
    b.startTs = time_getTimestamp();
    b.req = *req;
    b.expectedSb = meas_app_get_sbblkcnt(measIdx);
    b.expectedLr = meas_app_get_lrblkcnt(measIdx);
    b.writtenSb = b.writtenLr = 0;
    b.busy = b.type == SB_LAPTRIG ? SB_BUSY_LAP : SB_BUSY_PER;
    int r = sb_create_check_locked(blk);
    if (r == 2) sblk_task_fast = true;   // the task finishes it
    return r;
}
