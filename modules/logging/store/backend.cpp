#include "logging/store/backend.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "logging/store/action.h"
#include "logging/store/virtual_file.h"
#include "logging/store/writer.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace measure::store {

namespace {
std::mutex timingMx;
BackendTiming gTiming;
}  // namespace

void backendSetTiming(const BackendTiming& t) {
    std::lock_guard<std::mutex> lk(timingMx);
    gTiming = t;
}

BackendTiming backendTiming() {
    std::lock_guard<std::mutex> lk(timingMx);
    return gTiming;
}

Backend::Backend(unsigned measIdx) : List<Action>(true), measIdx_(measIdx), timing_(backendTiming()) {
    char name[24];
    std::snprintf(name, sizeof name, "r_MeasBackend%u", measIdx + 1);
    if (!taskStart(name, 146, 10000, VX_FP_TASK, 0)) throw "Backend::Backend() taskStart failed.";
}

bool Backend::stopWriters() {
    taskStop(WAIT_FOREVER);
    std::vector<Writer*> writers;
    {
        ScopeLock sl(this, "Backend::stopWriters");
        writers = owned_;
    }
    for (Writer* w : writers) w->taskStopAsync();
    bool allStopped = true;
    for (Writer* w : writers) {
        if (!w->taskStop(3 * sysClkRateGet())) {
            syslogx(147, "Backend::stopWriters() writer %u did not stop: its back end stays for it", unsigned(w->id()));
            allStopped = false;
            continue;
        }
        delete w;   // removes itself from its slot and from owned_
    }
    return allStopped;
}

Backend::~Backend() {
    // The owner keeps a back end whose writers would not stop (they still
    // use it); one deleted all the same names what those had not written.
    if (!stopWriters())
        syslogx(147, "Backend::~Backend() a writer did not stop - dangling reference!");
    ScopeLock sl(this, "~Backend");
    // What the writers that would not stop had not written goes with the
    // queue: it is named here, as they cannot.
    for (auto& s : slots_) {
        Writer* w = s.writer.load() ? s.writer.load() : s.removed;
        Iterator<Action>* it = s.iter.load();
        if (!w || !it) continue;
        MissedActions m;
        tally(it, *w, m);
        tellLost(m, s.name);
    }
    for (Behind& b : behind_) {
        tally(b.iter, *b.writer, b.missed);
        tellLost(b.missed, "a removed writer");
        delete b.iter;
    }
    behind_.clear();
    for (auto& s : slots_) {
        if (s.writer.load() || s.removed) continue;   // a writer that would not stop keeps its iterator
        if (Iterator<Action>* it = s.iter.exchange(nullptr)) delete it;
    }
}

void Backend::tellLost(const MissedActions& m, const char* writer) const {
    for (const MissedFile& f : m.files)
        if (f.items)
            syslogx(147 | SYSLOGX_LOSS,
                    "Backend::~Backend(): m0%u '%s': %u bytes in %u blocks (time stamps %u to %u) not written by "
                    "%s, which would not stop",
                    measIdx_ + 1, f.name, unsigned(f.bytes), unsigned(f.items), unsigned(f.firstTs),
                    unsigned(f.lastTs), writer);
}

void Backend::adopt(Writer* w) {
    ScopeLock sl(this, "Backend::adopt");
    owned_.push_back(w);
}

void Backend::disown(Writer* w) {
    ScopeLock sl(this, "Backend::disown");
    owned_.erase(std::remove(owned_.begin(), owned_.end(), w), owned_.end());
    for (auto& s : slots_)
        if (s.removed == w) finishDraining(s);
    endBehind(*w, nullptr);
}

bool Backend::usbWriterWaiting() {
    ScopeLock sl(this, "Backend::usbWriterWaiting");
    return std::any_of(owned_.begin(), owned_.end(),
                       [](const Writer* w) { return w->type() == WRITER_TYPE_USB && !w->subscribed(); });
}

bool Backend::subscribe(Writer& w, MissedActions* missed) {
    ScopeLock sl(this, "Backend::subscribe");
    if (w.id() != 255 || nWriters_.load() >= kWriters) return false;
    // the slot it was removed from has drained: the writer executes nothing while it asks
    for (auto& s : slots_)
        if (s.removed == &w) finishDraining(s);
    const auto behind = std::find_if(behind_.begin(), behind_.end(), [&](const Behind& b) { return b.writer == &w; });
    // A writer that comes back reads on from the tail, also in the start-up
    // window: from the head it would write again what it wrote before.
    const bool atHead = startup_.load() && behind == behind_.end();
    Iterator<Action>* it = createIterator(atHead ? "List::iterator" : "List::tailIterator", !atHead);
    if (!it) return false;
    unsigned slot = kWriters;
    for (unsigned k = 0; k < kWriters; ++k) {
        unsigned i = (nextSlot_ + k) % kWriters;
        Slot& s = slots_[i];
        if (!s.writer.load() && !s.draining && s.busy.load() == 0) {
            slot = i;
            break;
        }
    }
    if (slot == kWriters) {
        delete it;
        return false;
    }
    Slot& s = slots_[slot];
    if (Iterator<Action>* old = s.iter.exchange(nullptr)) delete old;
    s.iter.store(it);
    virtualFiles.registerWriter(measIdx_, slot);
    if (behind != behind_.end()) {
        // The files it was to write, and those begun while it was away, are
        // its again from here on (not those closed meanwhile: they may be
        // gone). Nothing is added while the lock is held: the tally ends
        // right before the new iterator's first action.
        std::vector<int> files = std::move(behind->files);
        MissedActions m;
        endBehind(w, &m);
        for (const MissedFile& f : m.files)
            if (f.opened) files.push_back(f.vfIdx);
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](int vf) {
                                       return std::any_of(m.files.begin(), m.files.end(), [&](const MissedFile& f) {
                                           return f.vfIdx == vf && f.closed;
                                       });
                                   }),
                    files.end());
        virtualFiles.registerWriterWith(measIdx_, slot, files);
        if (missed) *missed = std::move(m);
    }
    w.setId(uint8_t(slot));
    const char* caller = taskName(nullptr);
    std::snprintf(s.name, sizeof s.name, "%s", caller ? caller : "");
    s.writer.store(&w);
    nWriters_.fetch_add(1);
    syslogx(150, "Backend::subscribe() writer connected %s (%u)", s.name, slot);
    nextSlot_ = (slot + 1) % kWriters;
    return true;
}

bool Backend::remove(Writer& w) {
    ScopeLock sl(this, "Backend::remove");
    return removeLocked(w);
}

bool Backend::removeLocked(Writer& w) {
    unsigned id = w.id();
    if (id >= kWriters || slots_[id].writer.load() != &w) return false;
    Slot& s = slots_[id];
    s.writer.store(nullptr);
    s.draining = true;
    s.removed = &w;
    s.removedFiles = virtualFiles.registeredFiles(measIdx_, id);
    nWriters_.fetch_sub(1);
    w.setId(255);
    virtualFiles.deregisterWriter(measIdx_, id);
    syslogx(150, "Backend::remove() writer disconnected %s (%u)", s.name, id);
    s.name[0] = 0;
    finishDraining(s);
    return true;
}

void Backend::finishDraining(Slot& s) {
    // the writer may still execute the action it took; its node stays until
    // it is done (the cut below keeps the iterator's position meanwhile)
    if (!s.draining || s.busy.load() != 0) return;
    Iterator<Action>* it = s.iter.load();
    if (it && s.removed) {
        // the iterator goes on for the writer: what it passes is tallied
        behind_.push_back(Behind{s.removed, it, std::move(s.removedFiles), {}});
        s.iter.store(nullptr);
    } else if (it) {
        removeIterator(it);
    }
    s.removed = nullptr;
    s.removedFiles.clear();
    s.draining = false;
}

namespace {
MissedFile& missedFile(MissedActions& m, unsigned measIdx, int vfIdx) {
    for (MissedFile& f : m.files)
        if (f.vfIdx == vfIdx) return f;
    MissedFile f;
    f.vfIdx = vfIdx;
    virtualFiles.fileName(measIdx, vfIdx, f.name, sizeof f.name);
    m.files.push_back(f);
    return m.files.back();
}
}  // namespace

void Backend::tally(Iterator<Action>* it, const Writer& w, MissedActions& missed) {
    while (Action* a = it->step()) {
        if (!a->isValidType(w)) continue;
        if (dynamic_cast<ActionFileCopy*>(a)) {
            ++missed.copies;
        } else if (dynamic_cast<ActionOpen*>(a)) {
            missedFile(missed, measIdx_, a->vfIdx()).opened = true;
        } else if (dynamic_cast<ActionClose*>(a)) {
            missedFile(missed, measIdx_, a->vfIdx()).closed = true;
        } else if (auto* d = dynamic_cast<ActionData*>(a)) {
            MissedFile& f = missedFile(missed, measIdx_, d->vfIdx());
            f.bytes += d->dataSize();
            ++f.items;
            // the blocks' frames interleave: the earliest and the latest
            // stamp of any (compared wrap-safe)
            if (d->firstTimestamp() && d->timestamp()) {
                if (!f.firstTs || int32_t(d->firstTimestamp() - f.firstTs) < 0) f.firstTs = d->firstTimestamp();
                if (!f.lastTs || int32_t(d->timestamp() - f.lastTs) > 0) f.lastTs = d->timestamp();
            }
        }
    }
}

bool Backend::endBehind(Writer& w, MissedActions* out) {
    const auto b = std::find_if(behind_.begin(), behind_.end(), [&](const Behind& x) { return x.writer == &w; });
    if (b == behind_.end()) return false;
    tally(b->iter, w, b->missed);
    removeIterator(b->iter);
    delete b->iter;
    if (out) *out = std::move(b->missed);
    behind_.erase(b);
    return true;
}

bool Backend::takeMissed(Writer& w, MissedActions& out) {
    ScopeLock sl(this, "Backend::takeMissed");
    out = MissedActions{};
    for (auto& s : slots_)
        if (s.removed == &w) finishDraining(s);
    if (!endBehind(w, &out)) {
        const unsigned id = w.id();
        if (id >= kWriters || slots_[id].writer.load() != &w || slots_[id].busy.load() != 0) return false;
        if (Iterator<Action>* it = slots_[id].iter.load()) tally(it, w, out);
    }
    return !out.empty();
}

Action* Backend::next(Writer& w, unsigned* held) {
    unsigned id = w.id();
    if (id >= kWriters) {
        // 255: removed between its look at its id and this call; it subscribes again
        if (id != 255) SYSLOGX_FLOOD(floodNext_, 147, "Backend::next() called with illegal writer id (%u)", id);
        return nullptr;
    }
    Slot& s = slots_[id];
    s.busy.fetch_add(1);
    // checked after the busy mark: a removal either sees the mark or is seen here
    Iterator<Action>* it = s.iter.load();
    if (s.writer.load() != &w || !it) {
        s.busy.fetch_sub(1);
        return nullptr;
    }
    Action* a = it->step();
    if (!a) {
        s.busy.fetch_sub(1);
        return nullptr;
    }
    *held = id;
    return a;
}

void Backend::done(unsigned held) {
    if (held < kWriters) slots_[held].busy.fetch_sub(1);
}

bool Backend::isOfflineDataFlushed() {
    ScopeLock sl(this, "Backend::isOfflineDataFlushed");
    if (count() == 0) return true;
    const uint32_t last = lastPosition();
    bool anyFileWriter = false;
    for (auto& s : slots_) {
        Writer* w = s.writer.load();
        if (!w || !(w->type() & WRITER_TYPES_FILE)) continue;
        anyFileWriter = true;
        Iterator<Action>* it = s.iter.load();
        if (!it || !it->hasCurrent() || it->position() != last || s.busy.load() != 0) return false;
    }
    // Queued data that no file writer has taken yet (the writers subscribe
    // when their tasks start) is not written.
    return anyFileWriter;
}

void Backend::getMeasValues(uint32_t* size, uint32_t* maxSize, uint32_t* cnt, uint32_t* maxCount) const {
    if (size) *size = totalSize();
    if (maxSize) *maxSize = highestTotal();
    if (cnt) *cnt = count();
    if (maxCount) *maxCount = highestCount();
}

bool Backend::getWriterQueueCnt(const Writer& w, unsigned long* cnt) const {
    unsigned id = w.id();
    if (id >= kWriters || !cnt) return false;
    Iterator<Action>* it = slots_[id].iter.load();
    *cnt = count() + (it ? it->position() : 0) - cutCount();
    return true;
}

void Backend::taskStartCallback() { clock_appltime(&started_); }

// The start-up window runs alongside the task's passes: closed files must
// free their slots from the first pass on.
bool Backend::inStartupWindow() {
    if (!startup_.load()) return false;
    timespec now{}, diff{};
    clock_appltime(&now);
    if (clock_difftime(&now, &started_, &diff) != 0 ||
        diff.tv_sec * 1000 + diff.tv_nsec / 1000000 >= timing_.startupMs)
        startup_.store(false);
    return startup_.load();
}

bool Backend::checkOversizeTimeout() {
    const uint32_t S = totalSize();
    if (oversizeRef_ == 0) {
        if (S > timing_.oversizeBytes) {
            oversizeRef_ = S;
            oversizeLeft_ = timing_.oversizeMs;
        }
        return false;
    }
    oversizeLeft_ -= timing_.loopMs;
    if (S <= timing_.oversizeBytes) {
        oversizeRef_ = 0;
        return false;
    }
    if (oversizeLeft_ < 1) {
        bool notShrunk = oversizeRef_ <= S;
        oversizeRef_ = S;
        oversizeLeft_ = timing_.oversizeMs;
        return notShrunk;
    }
    return false;
}

bool Backend::taskMain() {
    const bool startup = inStartupWindow();
    // the queue kept for writers still to come is not oversize
    const bool oversized = !startup && checkOversizeTimeout();
    // In the start-up window the queue is kept from its head for writers that
    // subscribe late, but never at the cost of new files: once half of the
    // measurement's file slots are taken, what every writer has passed goes
    // (deleting the close actions frees the slots of closed files).
    const bool mayCut = !startup || virtualFiles.liveCount(measIdx_) >= kStartupKeepFiles;
    List<Action>* cut = nullptr;
    {
        ScopeLock sl(this, "Backend::run_checkWriters");
        uint32_t lowest = lastPosition();
        int slowest = -1;
        // what the removed writers miss is tallied as it comes; their
        // positions keep the node each has read last
        for (Behind& b : behind_) {
            tally(b.iter, *b.writer, b.missed);
            lowest = std::min(lowest, b.iter->position());
        }
        for (unsigned i = 0; i < kWriters; ++i) {
            Slot& s = slots_[i];
            finishDraining(s);
            Iterator<Action>* it = s.iter.load();
            Writer* w = s.writer.load();
            if (!it || (!w && !s.draining)) continue;
            if (it->position() < lowest) {
                lowest = it->position();
                if (w) slowest = int(i);
            }
            if (w && !w->alive()) {
                syslogx(147, "Backend::taskMain(): removing writer %s (%u) that is no longer alive!", s.name, i);
                removeLocked(*w);
            }
        }
        if (mayCut && cutCount() < lowest) cut = removeSublist(lowest - cutCount());
        if (oversized && slowest >= 0) {
            if (Writer* w = slots_[slowest].writer.load()) {
                syslogx(147, "Backend::taskMain(): removing writer %s (%u) list size exceeded!", slots_[slowest].name,
                        unsigned(slowest));
                removeLocked(*w);
            }
        }
    }
    delete cut;   // outside the lock: closing actions delete their virtual files here
    sleepMs(timing_.loopMs);
    return true;
}

}  // namespace measure::store
