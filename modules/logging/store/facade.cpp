// C facade over the pretrigger, back end and writers of each measurement.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "logging/config/cfg_meas.h"
#include "logging/config/meas_config.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/pretrigger.h"
#include "logging/store/writer.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"
#include "host/os/os.h"

using namespace measure::store;

namespace {

std::atomic<Pretrigger*> gStores[MEAS_COUNT];
MeasStoreWriteCounters gCounters[MEAS_COUNT][2];
uint8_t floodOpen = 0;

Pretrigger* pt(void* h) { return static_cast<Pretrigger*>(h); }

uint8_t* copyOf(const uint8_t* data, uint32_t length) {
    auto* p = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (p && length && data) std::memcpy(p, data, length);
    return p;
}

}  // namespace

MeasStoreWriteCounters& meas_store_writeCounters(unsigned measIdx, unsigned usb) {
    return gCounters[measIdx % MEAS_COUNT][usb ? 1 : 0];
}

void* meas_app_PreTrigInit(unsigned measIdx, float pretriggerSeconds) {
    if (measIdx >= MEAS_COUNT) return nullptr;
    Backend* be = nullptr;
    try {
        be = new Backend(measIdx);
    } catch (...) {
        be = nullptr;
    }
    if (!be) {
        syslogx(147, "meas_app_PreTrigInit%u failed (Backend could not be created)", measIdx);
        return nullptr;
    }
    Pretrigger* p = nullptr;
    try {
        p = new Pretrigger(measIdx, pretriggerSeconds, be);
    } catch (...) {
        p = nullptr;
    }
    if (!p) {
        syslogx(147, "meas_app_PreTrigInit%u failed (Pretrigger could not be started)", measIdx);
        delete be;
        return nullptr;
    }
    unsigned bfs = 0, usb = 0;
    char name[24];
    try {
        auto& c = meas_store_writeCounters(measIdx, 0);
        auto* w = new BFSWriter(*be, cfg_meas[measIdx].targetPartition, {&c.writes, &c.bytes, &c.failures});
        std::snprintf(name, sizeof name, "r_BFSWriter%u", measIdx + 1);
        if (w->taskStart(name, 146, 10000, VX_FP_TASK, 0)) ++bfs;
        const char* usbDrive = cfg_meas[measIdx].copyPartition;
        if (cfg_meas_getHwIdxFromDrvName(usbDrive) != -1) {
            auto& u = meas_store_writeCounters(measIdx, 1);
            auto* uw = new USBWriter(*be, usbDrive, {&u.writes, &u.bytes, &u.failures});
            std::snprintf(name, sizeof name, "r_USBWriter%u", measIdx + 1);
            if (uw->taskStart(name, 146, 10000, VX_FP_TASK, 0)) ++usb;
        }
    } catch (const char* text) {
        syslogx(147, "meas_app_PreTrigInit%u failure (%s)", measIdx, text);
    } catch (...) {
        syslogx(147, "meas_app_PreTrigInit%u failure (%s)", measIdx, "out of memory");
    }
    if (bfs + usb == 0) {
        syslogx(147, "meas_app_PreTrigInit%u - no writer available - shutdown", measIdx);
        delete p;
        return nullptr;
    }
    syslogx(150, "meas_app_PreTrigInit%u - any writer available - BFS %u - USB %u", measIdx, bfs, usb);
    gStores[measIdx].store(p);
    return p;
}

namespace {

// A drive that keeps up writes what a stop leaves in the ring and the back
// end well within 3 s; a slower one is not waited for longer, since the
// logging raster that destroys the measurement stands still meanwhile (what
// is left stays in the files the writers have on the drives).
constexpr int kDrainMs = 3000;
// Looked at every 10 ms: a drain ends within 10 ms of the writers finishing,
// and the looking costs next to nothing while they write.
constexpr int kDrainPollMs = 10;

// The store has written everything it holds. The ring is looked at first: an
// action on its way to the back end is then already there.
bool storeFlushed(Pretrigger* p) {
    if (!p->ringEmpty()) return false;
    Backend* be = p->getBackend();
    return !be || be->isOfflineDataFlushed();
}

// One step of a stop's drain: the files that can close now close (a file
// that has become the oldest meanwhile too), the ring goes on to the back
// end and everything after it straight there. True once the measurement's
// files are all closed (a file stays queued until its status block is
// written and it is closed) and written.
bool drainStep(Pretrigger* p) {
    const unsigned m = p->measIdx();
    MeasAppStore_closeFiles(m);
    p->passOn();
    return MeasAppStore_queuedFiles(m) == 0 && storeFlushed(p);
}

}  // namespace

void meas_app_PreTrigDrain(void* h) {
    if (!h) return;
    Pretrigger* p = pt(h);
    for (int waited = 0;; waited += kDrainPollMs) {
        if (drainStep(p)) return;
        Backend* be = p->getBackend();
        if (!be || be->writerCount() == 0) return;   // nobody would write it
        if (waited >= kDrainMs) {
            syslogx(148, "meas_app_PreTrigDrain(m0%u): not all data written after %d ms", p->measIdx() + 1, waited);
            return;
        }
        taskDelay(std::max(1, kDrainPollMs * sysClkRateGet() / 1000));
    }
}

int meas_app_PreTrigDrainStep() {
    bool drained = true;
    for (auto& s : gStores)
        if (Pretrigger* p = s.load(); p && !drainStep(p)) drained = false;
    return drained ? 1 : 0;
}

void meas_app_PreTrigDelete(void* h) {
    if (!h) return;
    for (auto& s : gStores) {
        Pretrigger* expected = pt(h);
        s.compare_exchange_strong(expected, nullptr);
    }
    const unsigned m = pt(h)->measIdx();
    delete pt(h);
    // no writer runs any more: files left open go with their file infos
    MeasAppStore_dropFiles(m);
    virtualFiles.dropMeasurement(m);
}

void meas_app_PreTrigArm(void* h) {
    if (h) pt(h)->trigArm();
}

void meas_app_PreTrigTrigger(void* h) {
    if (h) pt(h)->trigTrigger();
}

void meas_app_PreTrigOpenFile(void* h, MeasAppStore_FileInfo_s* file) {
    if (!h) return;
    try {
        pt(h)->openFile(file);
    } catch (const char* text) {
        SYSLOGX_FLOOD(floodOpen, 147 | SYSLOGX_LOSS, "meas_app_PreTrigOpenFile(): %s", text);
    }
}

void meas_app_PreTrigPutMeasFrame(void* h, int vfIdx, uint8_t* data, uint32_t length, uint32_t firstTs,
                                  uint32_t lastTs) {
    if (!h) {
        std::free(data);
        return;
    }
    if (!data || vfIdx < 0) {
        std::free(data);
        meas_store_countLost(pt(h)->measIdx());
        return;
    }
    pt(h)->putFrame(vfIdx, data, length, firstTs, lastTs);
}

void meas_app_PreTrigPutMeasFrameCopy(void* h, int vfIdx, const uint8_t* data, uint32_t length, uint32_t firstTs,
                                      uint32_t lastTs) {
    if (!h) return;
    uint8_t* copy = copyOf(data, length);
    if (!copy) {
        syslogx(147, "meas_app_PreTrigPutMeasFrameCopy failed to allocate memory.");
        meas_store_countLost(pt(h)->measIdx());
        return;
    }
    meas_app_PreTrigPutMeasFrame(h, vfIdx, copy, length, firstTs, lastTs);
}

int meas_app_PreTrigPutMetaDataCopy(void* h, const uint8_t* data, uint32_t length, uint32_t ts, uint8_t type,
                                    uint32_t timeOf) {
    static_assert(META_NONE == Pretrigger::kMetaNone && META_HELD == Pretrigger::kMetaHeld);
    if (!h) return META_NONE;
    uint8_t* copy = copyOf(data, length);
    if (!copy) {
        syslogx(147, "meas_app_PreTrigPutMetaDataCopy failed to allocate memory.");
        return META_NONE;
    }
    return pt(h)->putMetaData(copy, length, ts, type, timeOf);
}

void meas_app_PreTrigPutMetaDataCopy(void* h, const uint8_t* data, uint32_t length, uint32_t ts, uint8_t type) {
    // The caller told no time base: the stamp is all there is to judge it by.
    const uint32_t steps = time_stepCount();
    meas_app_PreTrigPutMetaDataCopy(h, data, length, ts, type, time_stepOfStamp(ts, time_getTimestamp(), steps));
}

void meas_app_PreTrigPutMetaDataVfCopy(void* h, int vfIdx, const uint8_t* data, uint32_t length, uint8_t type) {
    if (!h) return;
    uint8_t* copy = copyOf(data, length);
    if (!copy) {
        syslogx(147, "meas_app_PreTrigPutStatusBlockCopy failed to allocate memory.");
        return;
    }
    pt(h)->putMetaDataVf(vfIdx, copy, length, type);
}

unsigned meas_app_PreTrigTakeDroppedOpens(void* h, MeasDroppedOpen* out, unsigned max) {
    return h ? pt(h)->takeDroppedOpens(out, max) : 0;
}

bool meas_app_PreTrigHoldsOpen(void* h, const MeasDroppedOpen& open) {
    return h && pt(h)->holdsOpen(ActionMetaData::EventKey{open.pid, open.id, open.start});
}

void meas_app_PreTrigEndEvents(void* h) {
    if (h) virtualFiles.endEvents(pt(h)->measIdx());
}

void meas_app_PreTrigCloseFile(void* h, int vfIdx) {
    if (h) pt(h)->closeFile(vfIdx);
}

void meas_app_PreTrigFlushFile(void* h, int vfIdx) {
    if (h) pt(h)->flushFile(vfIdx);
}

void meas_app_PreTrigFlushDir(void* h) {
    if (h) pt(h)->flushDir();
}

void meas_app_PreTrigCopyFile(void* h, const CopyFile_t* copy) {
    if (h && copy) pt(h)->copyFile(*copy);
}

int meas_app_PreTrigMeasRunning(void* h) { return h && pt(h)->measRunning() ? 1 : 0; }

uint32_t meas_app_PreTrigArmTime(void* h) { return h ? pt(h)->armTime() : 0; }

int meas_app_PreTrigCheckFragment(void* h) { return h ? pt(h)->checkFragment() : 0; }

void meas_app_PreTrigTriggerFragment(void* h) {
    if (h) pt(h)->triggerFragment();
}

int meas_app_PreTrigTakeDriveLoss(void* h) {
    Backend* be = h ? pt(h)->getBackend() : nullptr;
    return be ? int(be->takeDriveLoss()) : 0;
}

int meas_app_PreTrigUsbWriterWaiting(void* h) {
    Backend* be = h ? pt(h)->getBackend() : nullptr;
    return be && be->usbWriterWaiting() ? 1 : 0;
}

void meas_app_PreTrigGetMeasVarsPT(void* h, int* state, uint32_t* size, uint32_t* maxSize, uint32_t* count,
                                   uint32_t* maxCount) {
    int s = 0;
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (h) pt(h)->getMeasValues(&s, &a, &b, &c, &d);
    if (state) *state = s;
    if (size) *size = a;
    if (maxSize) *maxSize = b;
    if (count) *count = c;
    if (maxCount) *maxCount = d;
}

void meas_app_PreTrigGetMeasVarsBE(void* h, uint32_t* size, uint32_t* maxSize, uint32_t* count,
                                   uint32_t* maxCount) {
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (h && pt(h)->getBackend()) pt(h)->getBackend()->getMeasValues(&a, &b, &c, &d);
    if (size) *size = a;
    if (maxSize) *maxSize = b;
    if (count) *count = c;
    if (maxCount) *maxCount = d;
}

int meas_app_PreTrigIsOfflineDataFlushed() {
    for (auto& s : gStores) {
        Pretrigger* p = s.load();
        if (p && !storeFlushed(p)) return 0;
    }
    return 1;
}

void meas_app_PreTrigHaltWriters(unsigned limitMs) {
    for (auto& s : gStores) {
        Pretrigger* p = s.load();
        if (Backend* be = p ? p->getBackend() : nullptr) be->haltWriters(limitMs);
    }
}

void meas_app_PreTrigMeasStop(int skipTelemetry) {
    for (unsigned i = 0; i < MEAS_COUNT; ++i) {
        if (skipTelemetry && i == MEAS_IDX_M02) continue;
        if (Pretrigger* p = gStores[i].load()) {
            syslogx(151, "meas_app_PreTrigMeasStop(%u)", i);
            p->measStop();
        }
    }
}
