// Virtual files and their registry.
#include "logging/store/virtual_file.h"

#include <cstdlib>
#include <cstring>

#include "logging/format/meas_file.h"
#include "logging/app/meas_runtime.h"
#include "logging/store/file_info.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/virtual_file_unmade.h"
#include "logging/store/writer.h"
#include "measurement/calparams.h"
#include "platform/byteorder.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace {
MeasCarIdSource carIdSource = nullptr;
MeasMasterIdSource masterIdSource = nullptr;

uint8_t* copyBytes(const void* src, uint32_t len) {
    auto* p = static_cast<uint8_t*>(std::malloc(len ? len : 1));
    if (p && len) std::memcpy(p, src, len);
    return p;
}
}  // namespace

void meas_store_setCarIdSource(MeasCarIdSource src) { carIdSource = src; }
void meas_store_setMasterIdSource(MeasMasterIdSource src) { masterIdSource = src; }

namespace measure::store {

VirtualFiles virtualFiles;

VirtualFile::VirtualFile(int index, MeasAppStore_FileInfo_s* info, uint32_t writerMask)
    : index_(index), header_(true), info_(info), mask_(writerMask), timeOf_(time_stepCount()) {
    if (!createHeader()) {
        info_ = nullptr;   // stays with the caller
        throw "VirtualFile::VirtualFile() failed to create header!";
    }
    syslogx(151, "VirtualFile::VirtualFile() created with index %d, writers 0x%08Xh, %s", index, writerMask,
            info->name);
}

VirtualFile::~VirtualFile() {
    syslogx(151, "VirtualFile::~VirtualFile() destroying index %d, %s", index_, info_ ? info_->name : "");
    std::free(info_);
}

bool VirtualFile::addHeader(Action* a) {
    if (!a) return false;
    uint32_t sz = a->size();
    headerSize_ += a->dataSize();
    return header_.add(a, sz) == 1;
}

// File header, block descriptors, client configuration, initial time stamp,
// car id and (when the time service knows them) the time-master ids.
bool VirtualFile::createHeader() {
    if (!info_) return false;
    const unsigned m = info_->measIdx;
    const MEASConfiguration* cfg = m < MEAS_COUNT ? meas[m].config : nullptr;

    MeasFileHeaderInfo hi;
    hi.pcode = PCODE();
    hi.lap = info_->lap;
    hi.outing = info_->outing;
    hi.fragment = info_->fragment;
    hi.numBlocks = cfg ? uint8_t(cfg->numBlocks) : 0;
    hi.measIdx = uint8_t(m);
    std::memcpy(hi.bcdDate, info_->created, 6);
    hi.absLap = info_->absLap;
    auto* h = static_cast<uint8_t*>(std::malloc(MEAS_FILE_HEADER_LEN));
    if (!h) return false;
    meas_file_buildHeader(h, hi);
    auto* head = new (std::nothrow) ActionData(info_->initTs, info_->initTs, index_, h, MEAS_FILE_HEADER_LEN);
    if (!head) {
        std::free(h);
        return false;
    }
    head->setWriterType(WRITER_TYPES_FILE);
    if (!addHeader(head)) return false;

    // descriptors: data blocks, then condition blocks, each with a nonzero id
    unsigned capacity = cfg ? cfg->numBlocks : 0, used = 0;
    auto* desc = static_cast<uint8_t*>(std::malloc((capacity ? capacity : 1) * MEAS_FILE_BLOCKDESC_LEN));
    if (!desc) return false;
    bool complete = true;
    if (cfg) {
        const unsigned total = unsigned(cfg->numBlocks) + cfg->numConditions;
        for (unsigned i = 0; i < total && complete; ++i) {
            const BlkInfo& b = i < cfg->numBlocks ? cfg->blocks[i] : cfg->conditions[i - cfg->numBlocks];
            uint8_t id = uint8_t(b.blockNumber);
            if (id == 0) continue;
            if (used == capacity) {
                syslogx(147, "VirtualFile::createHeader() - tried to overflow blockdescr array!");
                void* bigger = total > capacity ? std::realloc(desc, total * MEAS_FILE_BLOCKDESC_LEN) : nullptr;
                if (!bigger) {
                    syslogx(147, "VirtualFile::createHeader() - failed to increase buffer size. Header incomplete!");
                    complete = false;
                    break;
                }
                desc = static_cast<uint8_t*>(bigger);
                capacity = total;
            }
            meas_file_putBlockDescriptor(desc + used * MEAS_FILE_BLOCKDESC_LEN, id, b.recordSize);
            ++used;
        }
    }
    if (used) {
        auto* d = new (std::nothrow)
            ActionData(info_->initTs, info_->initTs, index_, desc, used * MEAS_FILE_BLOCKDESC_LEN);
        if (!d) {
            std::free(desc);
            return false;
        }
        d->setWriterType(WRITER_TYPES_FILE);
        if (!addHeader(d)) return false;
    } else {
        std::free(desc);
    }

    const void* qov = m < MEAS_COUNT ? meas[m].qovBlob : nullptr;
    uint32_t qovLen = qov ? meas[m].qovSize : 0;
    uint8_t* q = copyBytes(qov, qovLen);
    if (!q || !addHeader(new (std::nothrow) ActionMetaData(index_, MEAS_META_CLIENTCFG, q, qovLen))) return false;

    uint8_t* ts = copyBytes("\0\0\0\0", 4);
    if (!ts) return false;
    be_put32(ts, info_->initTs);
    if (!addHeader(new (std::nothrow) ActionMetaData(index_, MEAS_META_INIT_TS, ts, 4))) return false;

    auto* car = static_cast<uint8_t*>(std::calloc(1, MEAS_META_CARID_LEN));
    if (!car) return false;
    be_put16(car, 1);
    be_put16(car + 2, 1);
    if (carIdSource) carIdSource(reinterpret_cast<char*>(car + 4), 32);
    car[MEAS_META_CARID_LEN - 1] = 0;
    if (!addHeader(new (std::nothrow) ActionMetaData(index_, MEAS_META_CARID, car, MEAS_META_CARID_LEN)))
        return false;

    uint32_t masterId = 0, bootCount = 0;
    if (masterIdSource && masterIdSource(&masterId, &bootCount)) {
        auto* tm = static_cast<uint8_t*>(std::malloc(MEAS_META_TIMEMASTER_LEN));
        if (!tm) return false;
        be_put32(tm, masterId);
        be_put32(tm + 4, bootCount);
        be_put32(tm + 8, meas_app_getLoggerId());
        if (!addHeader(new (std::nothrow) ActionMetaData(index_, MEAS_META_TIMEMASTER, tm, MEAS_META_TIMEMASTER_LEN)))
            return false;
    }
    info_->fileSize = headerSize_;
    return true;
}

bool VirtualFile::getFileName(char* buf, unsigned size) const {
    if (!info_ || !buf || size == 0) return false;
    unsigned limit = size < 40 ? size : 40;
    size_t n = strnlen(info_->name, sizeof info_->name);
    if (n + 1 > limit) return false;
    std::memcpy(buf, info_->name, n);
    buf[n] = 0;
    return true;
}

// Compared by signed differences: the 0.1 ms clock wraps at 2^32.
bool VirtualFile::checkFileInfoMatch(unsigned measIdx, uint32_t ts) const {
    if (!info_ || info_->measIdx != measIdx || int32_t(ts - info_->initTs) < 0) return false;
    // set by the logging raster while other tasks look files up
    const uint32_t closeTs = std::atomic_ref<uint32_t>(info_->closeTs).load(std::memory_order_relaxed);
    return closeTs == MEAS_TS_UNSET || int32_t(closeTs - ts) >= 0;
}

void VirtualFile::invalidateFileInfo() {
    if (!info_) return;
    closing_.store(true, std::memory_order_release);
    info_->vfIdx = -1;
    meas_app_file_queue_delete(info_);
    meas_app_set_next_closeable_file(info_->measIdx);
}

void VirtualFile::getLapValues(uint16_t* absLap, uint16_t* outing, uint16_t* lap, uint16_t* fragment,
                               uint32_t* initTs) const {
    if (!info_) return;
    if (absLap) *absLap = info_->absLap;
    if (outing) *outing = info_->outing;
    if (lap) *lap = info_->lap;
    if (fragment) *fragment = info_->fragment;
    if (initTs) *initTs = info_->initTs;
}

bool VirtualFile::writeHeader(Writer& w, const char** why) {
    auto fail = [&](const char* cause) {
        if (why) *why = cause;
        return false;
    };
    // the header list is complete from construction on and never changes
    bool executed = false;
    for (Node<Action>* n = header_.headNode(); n; n = n->next.load()) {
        int r = n->item->execute(w);
        if (r == 1) return fail(nullptr);
        if (r == 0) executed = true;
        if (!w.alive()) return fail("the writer no longer ran");
    }
    if (!executed) return fail("the header has no part for this writer");
    if (w.type() & WRITER_TYPES_FILE) {
        // both file writers set it; the logging raster reads and clears it
        if (info_ && info_->measIdx < MEAS_COUNT)
            std::atomic_ref<uint8_t>(meas[info_->measIdx].fileWritten).store(1, std::memory_order_relaxed);
    }
    return true;
}

// ---- registry ---------------------------------------------------------------------

VirtualFiles::~VirtualFiles() { reset(); }

VirtualFile* VirtualFiles::create(unsigned measIdx, MeasAppStore_FileInfo_s* info) {
    if (measIdx >= kMeas) {
        syslogx(147, "VirtualFiles::create() illegal measIdx (%d)", int(measIdx));
        return nullptr;
    }
    ScopeLock sl(this, "VirtualFiles::create");
    int idx = last_[measIdx].load() + 1;
    auto& slot = slots_[measIdx][unsigned(idx) % kSlots];
    if (slot.load()) {
        // every record of every block would say so
        SYSLOGX_FLOOD(floodFull_, 147 | SYSLOGX_LOSS, "VirtualFiles::create() file slots full");
        return nullptr;
    }
    VirtualFile* vf = nullptr;
    try {
        vf = new VirtualFile(idx, info, registered_);
    } catch (const char*) {
        vf = nullptr;
    } catch (const std::bad_alloc&) {
        vf = nullptr;
    }
    if (!vf) {
        syslogx(147, "VirtualFiles::create() failed to create virtual file");
        return nullptr;
    }
    slot.store(vf);
    last_[measIdx].store(idx);
    info->vfIdx = idx;
    return vf;
}

bool VirtualFiles::hasRoom(unsigned measIdx) {
    if (measIdx >= kMeas) return false;
    ScopeLock sl(this, "VirtualFiles::hasRoom");
    return !slots_[measIdx][unsigned(last_[measIdx].load() + 1) % kSlots].load();
}

VirtualFile* VirtualFiles::get(unsigned measIdx, int index) const {
    if (measIdx >= kMeas || index < lowest_[measIdx].load() || index > last_[measIdx].load()) return nullptr;
    VirtualFile* vf = slots_[measIdx][unsigned(index) % kSlots].load();
    return vf && vf->index() == index ? vf : nullptr;
}

// A step back restarts the measurement: a file made at or after the newest
// one holds the new time only, whatever stamps of the time before it (which
// stands ahead) its range may take. The files of earlier steps back are gone.
bool VirtualFiles::madeAfterStepBack(uint32_t fileTime, uint32_t timeOf, uint32_t stepBack) {
    return stepBack != 0 && int32_t(timeOf - stepBack) < 0 && int32_t(fileTime - stepBack) >= 0;
}

int VirtualFiles::find(unsigned measIdx, uint32_t ts, uint32_t timeOf) {
    if (measIdx >= kMeas) return -1;
    // A stamp well ahead of this device's time is of a time that has stepped
    // back since: the files still open reach up to now only.
    if (int32_t(ts - time_getTimestamp()) > kAheadOfNow) return -1;
    const uint32_t stepBack = time_stepBackCount();
    ScopeLock sl(this, "VirtualFiles::find");
    // A trigger opens the next file before the blocks leave the one before
    // and set its end: while that end is open both match a stamp after the
    // next file's start, which is the next file's. Files of an older time
    // base are never preferred so: their stamps are of another time.
    int found = -1;
    uint32_t foundTime = 0;
    for (int i = lowest_[measIdx].load(); i <= last_[measIdx].load(); ++i) {
        VirtualFile* vf = slots_[measIdx][unsigned(i) % kSlots].load();
        if (!vf || vf->index() != i || (found >= 0 && vf->timeOf() != foundTime)) continue;
        if (madeAfterStepBack(vf->timeOf(), timeOf, stepBack)) continue;
        if (vf->checkFileInfoMatch(measIdx, ts)) {
            found = i;
            foundTime = vf->timeOf();
        }
    }
    return found;
}

int VirtualFiles::findSteppedBack(unsigned measIdx, uint32_t ts, uint32_t timeOf) {
    if (measIdx >= kMeas) return -1;
    const uint32_t now = time_getTimestamp();
    if (int32_t(ts - now) <= kAheadOfNow) return -1;
    // a stamp of the time since the newest step back is of no time before it
    const uint32_t stepBack = time_stepBackCount();
    if (stepBack == 0 || int32_t(timeOf - stepBack) >= 0) return -1;
    ScopeLock sl(this, "VirtualFiles::findSteppedBack");
    for (int i = last_[measIdx].load(); i >= lowest_[measIdx].load(); --i) {
        VirtualFile* vf = slots_[measIdx][unsigned(i) % kSlots].load();
        const MeasAppStore_FileInfo_s* info = vf && vf->index() == i && !vf->closing() ? vf->fileInfo() : nullptr;
        if (!info || info->measIdx != measIdx) continue;
        if (int32_t(info->initTs - now) > kAheadOfNow && int32_t(ts - info->initTs) >= 0) return i;
    }
    return -1;
}

int VirtualFiles::findFollowing(unsigned measIdx, uint32_t ts, int32_t within) {
    if (measIdx >= kMeas) return -1;
    ScopeLock sl(this, "VirtualFiles::findFollowing");
    for (int i = lowest_[measIdx].load(); i <= last_[measIdx].load(); ++i) {
        VirtualFile* vf = slots_[measIdx][unsigned(i) % kSlots].load();
        const MeasAppStore_FileInfo_s* info = vf && vf->index() == i && !vf->closing() ? vf->fileInfo() : nullptr;
        if (!info || info->measIdx != measIdx) continue;
        const int32_t after = int32_t(info->initTs - ts);
        if (after >= 0 && after <= within) return i;
    }
    return -1;
}

int VirtualFiles::findInTime(unsigned measIdx, uint32_t timeOf, uint32_t ts, int32_t early, bool* older) {
    *older = false;
    if (measIdx >= kMeas) return -1;
    ScopeLock sl(this, "VirtualFiles::findInTime");
    int found = -1;
    for (int i = lowest_[measIdx].load(); i <= last_[measIdx].load(); ++i) {
        VirtualFile* vf = slots_[measIdx][unsigned(i) % kSlots].load();
        if (!vf || vf->index() != i) continue;
        // one of an earlier time counts until it is gone: a closing one
        // still matches its old stamps
        if (int32_t(vf->timeOf() - timeOf) < 0) {
            *older = true;
            continue;
        }
        if (found >= 0 || vf->closing()) continue;
        const MeasAppStore_FileInfo_s* info = vf->fileInfo();
        if (info && info->measIdx == measIdx &&
            (vf->checkFileInfoMatch(measIdx, ts) || uint32_t(info->initTs - ts) <= uint32_t(early)))
            found = i;
    }
    return found;
}

VirtualFile* VirtualFiles::remove(unsigned measIdx, int index) {
    if (measIdx >= kMeas || index < 0) return nullptr;
    ScopeLock sl(this, "VirtualFiles::removeEntry");
    auto& slot = slots_[measIdx][unsigned(index) % kSlots];
    VirtualFile* vf = slot.load();
    if (!vf || vf->index() != index) return nullptr;
    slot.store(nullptr);
    if (index == lowest_[measIdx].load()) {
        int low = index + 1;
        while (low <= last_[measIdx].load() && !slots_[measIdx][unsigned(low) % kSlots].load()) ++low;
        lowest_[measIdx].store(low);
    }
    return vf;
}

unsigned VirtualFiles::liveCount(unsigned measIdx) const {
    if (measIdx >= kMeas) return 0;
    unsigned n = 0;
    for (auto& s : slots_[measIdx]) n += s.load() != nullptr;
    return n;
}

// Looked up under the registry's lock: a file taken out of it (and deleted
// then) is not met half gone.
int VirtualFiles::oldest(unsigned measIdx) {
    if (measIdx >= kMeas) return -1;
    ScopeLock sl(this, "VirtualFiles::oldest");
    const int low = lowest_[measIdx].load();
    return get(measIdx, low) ? low : -1;
}

bool VirtualFiles::closing(unsigned measIdx, int index) {
    ScopeLock sl(this, "VirtualFiles::closing");
    const VirtualFile* vf = get(measIdx, index);
    return vf && vf->closing();
}

void VirtualFiles::endEvents(unsigned measIdx) {
    if (measIdx >= kMeas) return;
    ScopeLock sl(this, "VirtualFiles::endEvents");
    for (int i = lowest_[measIdx].load(); i <= last_[measIdx].load(); ++i)
        if (VirtualFile* vf = get(measIdx, i)) vf->endEvents();
}

bool VirtualFiles::eventsEnded(unsigned measIdx, int index) {
    ScopeLock sl(this, "VirtualFiles::eventsEnded");
    const VirtualFile* vf = get(measIdx, index);
    return vf && vf->eventsEnded();
}

bool VirtualFiles::registered(unsigned measIdx, int index, unsigned id) {
    ScopeLock sl(this, "VirtualFiles::registered");
    const VirtualFile* vf = get(measIdx, index);
    return vf && vf->isRegisteredWriter(measIdx, id);
}

uint32_t VirtualFiles::headerSize(unsigned measIdx, int index) {
    ScopeLock sl(this, "VirtualFiles::headerSize");
    const VirtualFile* vf = get(measIdx, index);
    return vf ? vf->headerSize() : 0;
}

int VirtualFiles::registerWriter(unsigned measIdx, unsigned id) {
    ScopeLock sl(this, "VirtualFiles::registerWriter");
    registered_ |= VirtualFile::bit(measIdx, id);
    return measIdx < kMeas ? last_[measIdx].load() + 1 : 0;
}

void VirtualFiles::deregisterWriter(unsigned measIdx, unsigned id) {
    if (measIdx >= kMeas) return;
    ScopeLock sl(this, "VirtualFiles::deregisterWriter");
    registered_ &= ~VirtualFile::bit(measIdx, id);
    for (auto& s : slots_[measIdx])
        if (VirtualFile* vf = s.load()) vf->deregisterWriter(measIdx, id);
}

std::vector<int> VirtualFiles::registeredFiles(unsigned measIdx, unsigned id) {
    std::vector<int> out;
    if (measIdx >= kMeas) return out;
    ScopeLock sl(this, "VirtualFiles::registeredFiles");
    for (auto& s : slots_[measIdx])
        if (VirtualFile* vf = s.load(); vf && vf->isRegisteredWriter(measIdx, id)) out.push_back(vf->index());
    return out;
}

// Under the registry's lock: a file taken out of it (and deleted then) is
// not met half gone.
void VirtualFiles::registerWriterWith(unsigned measIdx, unsigned id, const std::vector<int>& files) {
    ScopeLock sl(this, "VirtualFiles::registerWriterWith");
    for (int index : files)
        if (VirtualFile* vf = get(measIdx, index)) vf->registerWriter(measIdx, id);
}

bool VirtualFiles::fileName(unsigned measIdx, int index, char* buf, unsigned size) {
    ScopeLock sl(this, "VirtualFiles::fileName");
    const VirtualFile* vf = get(measIdx, index);
    return vf && vf->getFileName(buf, size);
}

void VirtualFiles::dropMeasurement(unsigned measIdx) {
    if (measIdx >= kMeas) return;
    unmadeFiles.name(measIdx);   // its store is gone: no record of it comes any more
    ScopeLock sl(this, "VirtualFiles::dropMeasurement");
    for (auto& s : slots_[measIdx]) delete s.exchange(nullptr);
    lowest_[measIdx].store(last_[measIdx].load() + 1);
}

void VirtualFiles::reset() {
    ScopeLock sl(this, "VirtualFiles::reset");
    for (unsigned m = 0; m < kMeas; ++m) {
        for (auto& s : slots_[m]) delete s.exchange(nullptr);
        lowest_[m].store(0);
        last_[m].store(-1);
    }
    registered_ = 0;
    floodFull_ = 0;
}

// ---- fragmenter ---------------------------------------------------------------------

void Fragmenter::init(int vfIdx, uint32_t initTs, uint32_t headerSize) {
    if (vfIdx <= vfIdx_.load()) return;
    vfIdx_.store(vfIdx);
    headerSize_.store(headerSize);
    handed_.store(0);
    held_.store(0);
    uint8_t mib = FILEFRAGMENTATION_SIZE();
    sizeLimit_.store(mib ? uint32_t(mib) << 20 : 0xFFFFFFFFu);
    uint16_t secs = FILEFRAGMENTATION_TIME();
    timeLimit_.store(secs ? meas_dueStamp((initTs ? initTs : time_getTimestamp()) + uint32_t(secs) * 10000u)
                          : MEAS_TS_UNSET);
    active_.store(true);
}

void Fragmenter::write(int vfIdx, uint32_t bytes) {
    if (!active_.load() || vfIdx != vfIdx_.load()) return;
    (passThrough_.load() ? handed_ : held_).fetch_add(bytes);
}

void Fragmenter::forward(int vfIdx, uint32_t bytes) {
    if (!active_.load() || vfIdx != vfIdx_.load()) return;
    handed_.fetch_add(bytes);
    takeHeld(bytes);
}

void Fragmenter::drop(int vfIdx, uint32_t bytes) {
    if (!active_.load() || vfIdx != vfIdx_.load()) return;
    takeHeld(bytes);
}

// Held bytes - n, not below 0; the logging raster adds to them meanwhile.
void Fragmenter::takeHeld(uint32_t n) {
    uint32_t h = held_.load();
    while (!held_.compare_exchange_weak(h, h > n ? h - n : 0)) {
    }
}

void Fragmenter::setPassThrough(bool on) {
    bool was = passThrough_.exchange(on);
    if (on && !was) handed_.fetch_add(held_.exchange(0));
}

int Fragmenter::checkFragment() const {
    if (!active_.load()) return 0;
    // the file holds its header and the bytes handed over since
    const uint64_t size = uint64_t(headerSize_.load()) + handed_.load();
    if (sizeLimit_.load() != 0xFFFFFFFFu && size >= sizeLimit_.load()) return 1;
    uint32_t limit = timeLimit_.load();
    if (limit != MEAS_TS_UNSET && int32_t(time_getTimestamp() - limit) >= 0 && handed_.load() > 0) return 2;
    return 0;
}

}  // namespace measure::store
