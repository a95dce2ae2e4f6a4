// Writer base: action execution, metadata blocks and the pending metadata of
// files not yet open.
#include "logging/store/writer.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "host/kernel/kernel.h"
#include "logging/format/meas_file.h"
#include "logging/store/backend.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

namespace measure::store {

namespace {
// Metadata kept for one file that has not opened yet on a writer.
constexpr size_t kPendingMetaMax = 1u << 20;
// The writer whose work this thread does (Work), if any.
thread_local Writer* tlsAtWork = nullptr;
}  // namespace

Writer::Work::Work(Writer& w) : w_(w) {
    w_.work_.lock();
    tlsAtWork = &w_;
}

Writer::Work::~Work() {
    tlsAtWork = nullptr;
    w_.work_.unlock();
}

Writer::Released::Released(Writer& w) : w_(w), released_(tlsAtWork == &w) {
    if (released_) w_.work_.unlock();
}

Writer::Released::~Released() {
    if (released_) w_.work_.lock();
}

bool Writer::haltHold(unsigned limitMs) {
    halted_.store(true);
    // looked at every millisecond (a plain mutex: its waits are the task's own)
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!work_.try_lock()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Writer::pendingToMissed(MissedActions& missed) const {
    for (const auto& [vf, p] : pending_) {
        if (!p.items) continue;
        MissedFile& f = missedFileOf(missed, measIdx_, vf);
        f.bytes += uint32_t(p.bytes.size());
        f.items += p.items;
    }
}

uint32_t writerClock() { return host::ownTimeStamp(); }

Writer::Writer(Backend& backend, uint8_t type)
    : created_(writerClock()), backend_(backend), type_(type), measIdx_(backend.measIdx()) {
    lastPass_.store(created_);
    backend_.adopt(this);
}

Writer::~Writer() {
    taskStop(WAIT_FOREVER);
    if (id() != 255) backend_.remove(*this);
    backend_.disown(this);
}

void Writer::setId(uint8_t id) {
    id_.store(id);
    notSubscribed_.store(id == 255);
}

bool Writer::write(int vfIdx, const uint8_t*, unsigned) { return isOpen(vfIdx) || open(vfIdx); }

bool Writer::close(int vfIdx) {
    dropPendingMeta(vfIdx);
    return true;
}

bool Writer::getQueueCnt(unsigned long* count) const { return backend_.getWriterQueueCnt(*this, count); }

bool Writer::writeMetaData(int vfIdx, const uint8_t* data, unsigned length, unsigned char type) {
    if (type >= MEAS_META_TYPES) {
        syslogx(147, "Writer::writeMetaData() called with invalid hdrType (%u)", unsigned(type));
        return false;
    }
    uint8_t head[MEAS_FILE_METAHEAD_LEN];
    meas_file_putMetaHead(head, type, length);
    uint8_t value[4] = {};
    bool replaced = false;
    if (type == MEAS_META_INIT_TS && length >= 4) {
        std::memcpy(value, data, 4);
        if (initTsPending_ && be_get32(value) == 0 && current_) {
            be_put32(value, current_->firstTimestamp());
            replaced = true;
        }
        data = value;
        length = 4;
        be_put32(head + 2, 4);
    }
    if (!isOpen(vfIdx)) {
        if (skipped(vfIdx)) {
            skippedBlock(vfIdx);   // this writer drops the file
            return true;
        }
        // keep it for when the file's first data open it
        auto& p = pending_[vfIdx];
        if (p.bytes.size() + sizeof head + length > kPendingMetaMax) {
            SYSLOGX_FLOOD(floodMeta_, 147 | SYSLOGX_LOSS, "Writer::writeMetaData() too much metadata for unopened vfile (%d)", vfIdx);
            return false;
        }
        if (type != MEAS_META_DYNAMIC) p.bytes.insert(p.bytes.end(), head, head + sizeof head);
        p.bytes.insert(p.bytes.end(), data, data + length);
        ++p.items;
        return true;
    }
    bool ok = true;
    if (type != MEAS_META_DYNAMIC) ok = writeBytes(vfIdx, head, sizeof head);
    if (ok && length) ok = writeBytes(vfIdx, data, length);
    if (ok) itemWritten(vfIdx);
    if (ok && replaced) initTsPending_ = 0;
    return ok;
}

bool Writer::writePendingMeta(int vfIdx) {
    auto it = pending_.find(vfIdx);
    if (it == pending_.end()) return true;
    bool ok = it->second.bytes.empty() || writeBytes(vfIdx, it->second.bytes.data(), unsigned(it->second.bytes.size()));
    pending_.erase(it);
    if (ok) itemWritten(vfIdx);
    return ok;
}

bool Writer::executeNext() {
    unsigned held = 0;
    Action* a = backend_.next(*this, &held);
    if (!a) return false;
    current_ = a;
    Step step(*this);
    a->execute(*this);
    current_ = nullptr;
    backend_.done(held);
    return true;
}

}  // namespace measure::store
