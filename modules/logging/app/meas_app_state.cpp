// State, request flags, names and small helpers of the logging application.
#include <cstdio>
#include <cstdlib>

#include "logging/app/meas_app_internal.h"
#include "platform/syslogx.h"

MeasAppState gApp;

std::mutex& meas_app_listLock() {
    static std::mutex mx;
    return mx;
}

void meas_app_setTeleHooks(const MeasAppTeleHooks& hooks) { gApp.tele = hooks; }

void meas_app_setStopEventsHook(void (*closeOpenEvents)(uint32_t)) { gApp.stopEvents.store(closeOpenEvents); }

uint32_t meas_app_get_flags() {
    SignalPage& s = sp();
    const uint8_t bits[] = {flag(s.meas_app_stopreq).load(),    flag(s.meas_app_reinitreq).load(),
                            flag(s.meas_app_destroyreq).load(), flag(s.meas_app_startreq).load(),
                            flag(s.meas_app_blkstopreq).load(), flag(s.meas_app_faststopreq).load(),
                            flag(s.meas_app_hstinitreq).load(), flag(s.meas_app_running).load()};
    uint32_t f = 0;
    for (unsigned i = 0; i < sizeof bits; ++i)
        if (bits[i]) f |= 1u << i;
    if (meas_app_get_remotectrl_remotestart_lock()) f |= MEAS_FLAG_REMOTESTART_LOCK;
    if (meas_app_get_remotestop_active()) f |= MEAS_FLAG_REMOTESTOP_ACTIVE;
    if (flag(s.meas_app_remoteread).load()) f |= MEAS_FLAG_REMOTEREAD;
    return f;
}

void meas_app_setForcedFrag(unsigned idx) {
    if (idx < MEAS_COUNT) std::atomic_ref<uint16_t>(meas[idx].forcedFragment).store(1);
}

int meas_app_measExists() {
    for (meas_t& m : meas) {
        // created and destroyed under the condition lock
        SEM_ID lock = m.condLock;
        if (!lock || semTake(lock, WAIT_FOREVER) != OK) continue;
        const bool configured = (m.stateFlags & 1) != 0;
        semGive(lock);
        if (configured) return 1;
    }
    return 0;
}

int meas_app_startable() {
    if (meas_app_measExists()) return 1;
    for (unsigned i = 0; i < MEAS_COUNT; ++i)
        if (meas_app_driveWaiting(i, nullptr)) return 1;
    return 0;
}

int meas_app_getMeasStopped(unsigned idx) { return idx < MEAS_COUNT && (meas[idx].stateFlags & 2) ? 1 : 0; }
int meas_app_get_meas_state_sb() { return meas[MEAS_IDX_M01].stateFlags & 1; }
void meas_app_saveblock_lap() {}
uint32_t meas_app_get_sbblkcnt(unsigned idx) {
    return idx < MEAS_COUNT ? meas[idx].typeCounts[MEAS_CNT_SBLAP_STARTED] : 0;
}
uint32_t meas_app_get_lrblkcnt(unsigned idx) {
    return idx < MEAS_COUNT ? meas[idx].typeCounts[MEAS_CNT_LAP_STARTED] : 0;
}


const char* conv_gwerrors2ascii(unsigned err, char* buf) {
    static const char* const kNames[] = {"NO_ERROR", "DENIED", "ADDRESS", "TIMEOUT",  "STATE",  "NO_CONNECTION", "NO_DATA",
                                         "MEAS_FIFO", "OFFLINE", "SENDING", "PID", "OFFLINE2", "MEASLIST"};
    if (err < sizeof kNames / sizeof kNames[0]) return kNames[err];
    std::snprintf(buf, 24, "Unknown #%u", err);
    return buf;
}

const char* meas_app_typeName(const MeasBlock* b) {
    uint16_t t = b ? b->typeFlags : 0;
    if (t & MEAS_BLK_TELE) return "TELE";
    if (t & MEAS_BLK_COND) return "COND";
    if (t & MEAS_BLK_FIFOCOND) return "FIFOCOND";
    return "DATA";
}

void meas_app_logBlock(int level, const char* prefix, const MeasBlock* b) {
    char rn[16];
    syslogx(level, "%s: m0%d PID: 0x%X, Type: %s, BLK #%d, Ch #%d, Raster: %s", prefix, b->measIdx + 1, b->pid,
            meas_app_typeName(b), b->config->blockNumber, int(b->config->channelCount),
            convraster2ascii(b->config->raster, rn));
}

void* buffer_request(uint32_t size) {
    if (size == 0) return nullptr;
    void* p = std::calloc(1, size);
    if (!p) syslogx(147, "buffer_request malloc failed");
    return p;
}

void buffer_release(void* p) { std::free(p); }

void meas_app_add2pidlist(MeasBlock* b, uint16_t pid) {
    auto* n = static_cast<ext_pidnode*>(std::calloc(1, sizeof(ext_pidnode)));
    if (!n) {
        syslogx(147, "buffer_request malloc failed");
        return;
    }
    n->block = b;
    n->pid = pid;
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    n->next = ext_pidlist;
    if (ext_pidlist) ext_pidlist->prev = n;
    ext_pidlist = n;
}

void meas_app_free_pidlist(bool keepTele) {
    std::lock_guard<std::mutex> lk(meas_app_listLock());
    ext_pidnode* n = ext_pidlist;
    ext_pidnode* kept = nullptr;
    while (n) {
        ext_pidnode* next = n->next;
        if (keepTele && n->block && (n->block->typeFlags & MEAS_BLK_TELE)) {
            n->prev = nullptr;
            n->next = kept;
            if (kept) kept->prev = n;
            kept = n;
        } else {
            std::free(n);
        }
        n = next;
    }
    ext_pidlist = kept;
}

uint64_t meas_app_get_sbControllers(unsigned idx) {
    return idx < MEAS_COUNT ? std::atomic_ref<uint64_t>(gApp.sbControllers[idx]).load() : 0;
}
