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

const char* const kMissedWhileRemoved = "while the writer was removed from the back end";
const char* const kMissedFellBehind = "as the drive fell behind the others";

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
        // kept aside for a writer that would not stop: it may still execute them
        if (s.busy.load() == 0) {
            for (Action* a : s.parked) delete a;
            s.parked.clear();
        }
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
    for (Writer* o : owned_)
        if (o->predecessor() == w) o->setPredecessor(nullptr);
    for (auto& s : slots_)
        if (s.removed == w) finishDraining(s);
    endBehind(*w, nullptr);
}

bool Backend::usbWriterWaiting() {
    ScopeLock sl(this, "Backend::usbWriterWaiting");
    // (one superseded never joins again; one that waits on its drive may
    // wait on one that went, and the drive that came then gets a writer of
    // its own within a pass of this task)
    return std::any_of(owned_.begin(), owned_.end(), [](const Writer* w) {
        return w->type() == WRITER_TYPE_USB && !w->superseded() && (!w->subscribed() || w->waitsOnDrive());
    });
}

bool Backend::subscribe(Writer& w, MissedActions* missed) {
    ScopeLock sl(this, "Backend::subscribe");
    if (halted_.load() || w.id() != 255 || nWriters_.load() >= kWriters) return false;
    // the slot it was removed from has drained: the writer executes nothing while it asks
    for (auto& s : slots_)
        if (s.removed == &w) finishDraining(s);
    const auto behind = std::find_if(behind_.begin(), behind_.end(), [&](const Behind& b) { return b.writer == &w; });
    // A writer that comes back reads on from the tail, also in the start-up
    // window: from the head it would write again what it wrote before. So
    // does a new drive's writer: the backlog is not the new drive's.
    const bool atHead = startup_.load() && behind == behind_.end() && !w.predecessor();
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
    const int firstFile = virtualFiles.registerWriter(measIdx_, slot);
    // a new drive's writer: the files from here on are its, not those of the one it took over from
    if (Writer* p = w.predecessor()) p->successorJoined(firstFile);
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
    Iterator<Action>* it = nullptr;
    {
        // the writer steps no more: its iterator goes on at once for it,
        // what it passes is tallied (the action it may still execute is
        // kept aside for it, the queue is not)
        std::lock_guard<std::mutex> lk(s.step);
        s.writer.store(nullptr);
        it = s.iter.exchange(nullptr);
    }
    // its slot waits until it is done with the action it took
    s.draining = true;
    s.removed = &w;
    std::vector<int> files = virtualFiles.registeredFiles(measIdx_, id);
    nWriters_.fetch_sub(1);
    w.setId(255);
    virtualFiles.deregisterWriter(measIdx_, id);
    syslogx(150, "Backend::remove() writer disconnected %s (%u)", s.name, id);
    s.name[0] = 0;
    if (it) behind_.push_back(Behind{&w, it, std::move(files), std::move(s.givenUp)});
    s.givenUp = MissedActions{};
    s.gaveUp.store(false);
    finishDraining(s);
    return true;
}

void Backend::finishDraining(Slot& s) {
    if (!s.draining || s.busy.load() != 0) return;
    s.removed = nullptr;
    s.draining = false;
}

MissedFile& missedFileOf(MissedActions& m, unsigned measIdx, int vfIdx) {
    for (MissedFile& f : m.files)
        if (f.vfIdx == vfIdx) return f;
    MissedFile f;
    f.vfIdx = vfIdx;
    virtualFiles.fileName(measIdx, vfIdx, f.name, sizeof f.name);
    f.header = virtualFiles.headerSize(measIdx, vfIdx);
    m.files.push_back(f);
    return m.files.back();
}

void missedAdd(MissedActions& missed, unsigned measIdx, const Action& a) {
    if (dynamic_cast<const ActionFileCopy*>(&a)) {
        ++missed.copies;
    } else if (dynamic_cast<const ActionOpen*>(&a)) {
        missedFileOf(missed, measIdx, a.vfIdx()).opened = true;
    } else if (dynamic_cast<const ActionClose*>(&a)) {
        missedFileOf(missed, measIdx, a.vfIdx()).closed = true;
    } else if (auto* d = dynamic_cast<const ActionData*>(&a)) {
        MissedFile& f = missedFileOf(missed, measIdx, d->vfIdx());
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

void Backend::tally(Iterator<Action>* it, const Writer& w, MissedActions& missed) {
    while (Action* a = it->step()) tallyOne(a, w, missed);
}

void Backend::tallyOne(const Action* a, const Writer& w, MissedActions& missed) {
    if (a->isValidType(w)) missedAdd(missed, measIdx_, *a);
}

int Backend::executingFile(const Writer& w) {
    for (auto& s : slots_) {
        if (s.writer.load() != &w && s.removed != &w) continue;
        std::lock_guard<std::mutex> lk(s.step);
        return s.current ? s.current->vfIdx() : -1;
    }
    return -1;
}

// A file whose close the writer passed is lost to it for good: named now,
// also while the writer is held by its drive for good. A file begun while
// it was away that it does not execute an action of is none of its own:
// nothing is left for it to do. The others (its own files, which it closes
// when it is back) stay.
void Backend::nameFinished(Writer& w, MissedActions& m, const char* when) {
    const int executing = executingFile(w);
    for (auto f = m.files.begin(); f != m.files.end();) {
        if (f->closed && !f->told) {
            w.nameMissed(*f, when);
            f->told = true;
        }
        if (f->told && f->opened && f->vfIdx != executing) f = m.files.erase(f);
        else ++f;
    }
}

// Kept with the first writer found in it; that one hands it on at done()
// when another is still in it.
bool Backend::parkIfExecuted(Action* a) {
    const bool close = dynamic_cast<ActionClose*>(a) != nullptr;
    for (auto& s : slots_) {
        std::lock_guard<std::mutex> lk(s.step);
        if (!s.current || (s.current != a && !(close && s.current->vfIdx() == a->vfIdx()))) continue;
        // the slot of a closed file is free now; the file goes with the action
        if (close) static_cast<ActionClose*>(a)->release();
        s.parked.push_back(a);
        return true;
    }
    return false;
}

void Backend::parkExecuted(List<Action>* cut) {
    if (!cut) return;
    bool any = false;
    for (auto& s : slots_) any = any || s.busy.load() != 0;
    if (!any) return;
    for (Node<Action>* n = cut->headNode(); n; n = n->next.load())
        if (n->item && parkIfExecuted(n->item)) n->item = nullptr;
}

void Backend::giveUpOldestFile() {
    const uint32_t now = writerClock();
    for (auto& s : slots_) {
        const Writer* w = s.writer.load();
        const Iterator<Action>* it = s.iter.load();
        const uint32_t read = it ? it->position() + (it->hasCurrent() ? 1 : 0) : 0;
        if (s.seenWriter != w || s.seenPosition != read) {
            s.seenWriter = w;
            s.seenPosition = read;
            s.seenSince = now;
        }
    }
    const unsigned live = virtualFiles.liveCount(measIdx_);
    if (live < kGiveUpFiles) return;
    const int oldest = virtualFiles.oldest(measIdx_);
    if (oldest < 0 || !virtualFiles.closing(measIdx_, oldest)) return;   // not ours: the logger holds it open
    uint32_t at = cutCount();
    Node<Action>* close = headNode();
    for (; close; close = close->next.load(), ++at) {
        const Action* a = close->item;
        if (a && a->vfIdx() == oldest && dynamic_cast<const ActionClose*>(a)) break;
    }
    if (!close) return;   // still in the pretrigger's ring
    char name[16] = "";
    virtualFiles.fileName(measIdx_, oldest, name, sizeof name);
    for (unsigned i = 0; i < kWriters; ++i) {
        Slot& s = slots_[i];
        Writer* w = s.writer.load();
        Iterator<Action>* it = s.iter.load();
        if (!w || !it || (it->hasCurrent() && it->position() >= at)) continue;
        if (now - s.seenSince < kStillTicks && live < kGiveUpAllFiles) continue;   // it reads on
        {
            // the writer may execute an action meanwhile: it is kept aside
            // for it when the cut reaches it
            std::lock_guard<std::mutex> lk(s.step);
            while (!(it->hasCurrent() && it->position() >= at)) {
                const Action* a = it->step();
                if (!a) break;
                tallyOne(a, *w, s.givenUp);
            }
            s.gaveUp.store(true);
        }
        syslogx(148 | SYSLOGX_LOSS, "Backend::taskMain(): writer %s (%u) fell behind, %u files of m0%u live: it gives up '%s'", s.name,
                i, live, measIdx_ + 1, name);
        nameFinished(*w, s.givenUp, kMissedFellBehind);
    }
    // A writer on the close itself (its drive holds it there) keeps its
    // node, not the file: the close is taken out of the queue, the file's
    // slot is free now.
    if (!close->item || close->item->writerMask() == 0) return;
    Action* a = nullptr;
    {
        // no writer steps meanwhile: one that reads the close now has it
        std::unique_lock<std::mutex> steps[kWriters];
        bool sits = false;
        for (unsigned i = 0; i < kWriters; ++i) {
            Slot& s = slots_[i];
            steps[i] = std::unique_lock<std::mutex>(s.step);
            const Iterator<Action>* it = s.iter.load();
            if (!it || !s.writer.load()) continue;
            if (!it->hasCurrent() || it->position() < at) return;   // one still to execute it
            sits = sits || it->position() == at;
        }
        for (const Behind& b : behind_) {
            if (!b.iter->hasCurrent() || b.iter->position() < at) return;
            sits = sits || b.iter->position() == at;
        }
        if (!sits) return;   // the cut takes it
        auto* gone = new (std::nothrow) ActionDone();
        if (!gone) return;
        a = close->item;
        close->item = gone;
    }
    if (!parkIfExecuted(a)) delete a;
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
        Slot& s = slots_[id];
        // what it gave up comes first: it closes the files among them
        out = std::move(s.givenUp);
        s.givenUp = MissedActions{};
        s.gaveUp.store(false);
        if (Iterator<Action>* it = s.iter.load()) tally(it, w, out);
    }
    return !out.empty();
}

void Backend::tallyRest(Writer& w, MissedActions& out, bool atWork) {
    for (auto& s : slots_)
        if (s.removed == &w) finishDraining(s);
    if (endBehind(w, &out)) return;
    for (auto& s : slots_) {
        if (s.writer.load() != &w) continue;
        // a writer still at work may be in a step of its own meanwhile
        std::unique_lock<std::mutex> steps(s.step, std::defer_lock);
        if (atWork) steps.lock();
        // what it gave up comes first, as when it takes what it missed
        out = std::move(s.givenUp);
        s.givenUp = MissedActions{};
        s.gaveUp.store(false);
        // (a slot still busy: its iterator's action is the one under way)
        if (Iterator<Action>* it = s.iter.load()) tally(it, w, out);
        return;
    }
}

void Backend::haltWriters(unsigned limitMs) {
    halted_.store(true);
    std::vector<Writer*> writers;
    {
        ScopeLock sl(this, "Backend::haltWriters");
        writers = owned_;
    }
    for (Writer* w : writers) {
        // the writer first, then the queue: the order of its own work
        const bool held = w->haltHold(limitMs);
        MissedActions missed;
        {
            // a writer inside a write that does not end reads no more
            // either (next() refuses after the halt): what it had not read
            // is known all the same
            ScopeLock sl(this, "Backend::haltWriters");
            tallyRest(*w, missed, !held);
        }
        w->haltFiles(missed, held);
        if (held) w->haltRelease();
    }
}

bool Backend::takeGivenUp(Writer& w, MissedActions& out) {
    const unsigned id = w.id();
    if (id >= kWriters || !slots_[id].gaveUp.load()) return false;
    ScopeLock sl(this, "Backend::takeGivenUp");
    Slot& s = slots_[id];
    if (s.writer.load() != &w) return false;
    std::lock_guard<std::mutex> lk(s.step);
    out = std::move(s.givenUp);
    s.givenUp = MissedActions{};
    s.gaveUp.store(false);
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
    std::lock_guard<std::mutex> lk(s.step);
    Iterator<Action>* it = s.iter.load();
    // a writer that gave up files closes them before it reads on
    if (s.writer.load() != &w || !it || s.gaveUp.load() || halted_.load()) return nullptr;
    Action* a = it->step();
    if (!a) return nullptr;
    s.current = a;
    s.busy.fetch_add(1);
    *held = id;
    return a;
}

void Backend::done(unsigned held) {
    if (held >= kWriters) return;
    Slot& s = slots_[held];
    std::vector<Action*> parked;
    {
        std::lock_guard<std::mutex> lk(s.step);
        s.current = nullptr;
        parked.swap(s.parked);
        s.busy.fetch_sub(1);
    }
    // A file's close goes only when no writer is in the file any more:
    // another may still execute an action of it (its opening holds the file).
    for (Action* a : parked)
        if (!parkIfExecuted(a)) delete a;
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

namespace {
// What the heap takes for a node beyond the bytes it counts (its size():
// the data and 44 bytes): the node, the action and the data each in a heap
// block of their own, with the heap's head and rounding (16 bytes a block).
constexpr uint32_t kHeapBlock = 16;
constexpr uint32_t kCounted = 44;
constexpr uint32_t kNodeUpkeep =
    uint32_t(sizeof(Node<Action>) + sizeof(ActionData) + 3 * kHeapBlock) > kCounted
        ? uint32_t(sizeof(Node<Action>) + sizeof(ActionData) + 3 * kHeapBlock) - kCounted
        : 0;
}  // namespace

uint32_t Backend::heldBytes() const {
    const uint64_t held = uint64_t(totalSize()) + uint64_t(count()) * kNodeUpkeep;
    return held > UINT32_MAX ? UINT32_MAX : uint32_t(held);
}

// The rule bounds the memory the queue holds: it counts the heap's upkeep
// of each node too, not only the bytes the node says it holds.
bool Backend::checkOversizeTimeout() {
    const uint32_t S = heldBytes();
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
    if (halted_.load()) {
        // The halt moved the writers' positions past what they had not
        // executed (it is named): nothing is cut any more, not even the
        // action a writer still executes, and no writer is removed.
        sleepMs(timing_.loopMs);
        return true;
    }
    giveNewDrivesWriters();
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
        // (a halt that came since the look above has moved the positions)
        const bool halted = halted_.load();
        uint32_t lowest = lastPosition();
        int slowest = -1;
        // what the removed writers miss is tallied as it comes; their
        // positions keep the node each has read last
        for (Behind& b : behind_) {
            tally(b.iter, *b.writer, b.missed);
            nameFinished(*b.writer, b.missed, kMissedWhileRemoved);
        }
        // (after a halt the writers' positions are the stop's: nothing more is given up)
        if (!halted) giveUpOldestFile();
        for (Behind& b : behind_) lowest = std::min(lowest, b.iter->position());
        for (unsigned i = 0; i < kWriters; ++i) {
            Slot& s = slots_[i];
            finishDraining(s);
            Iterator<Action>* it = s.iter.load();
            Writer* w = s.writer.load();
            if (!it || !w) continue;
            if (it->position() < lowest) {
                lowest = it->position();
                if (w) slowest = int(i);
            }
            if (w && !halted && !w->alive()) {
                syslogx(147, "Backend::taskMain(): removing writer %s (%u) that is no longer alive!", s.name, i);
                removeLocked(*w);
            }
        }
        if (mayCut && !halted && cutCount() < lowest) cut = removeSublist(lowest - cutCount());
        if (oversized && !halted && slowest >= 0) {
            if (Writer* w = slots_[slowest].writer.load()) {
                syslogx(147, "Backend::taskMain(): removing writer %s (%u) list size exceeded!", slots_[slowest].name,
                        unsigned(slowest));
                removeLocked(*w);
            }
        }
    }
    // outside the lock: closing actions delete their virtual files here
    // (not those of the actions a writer still executes)
    parkExecuted(cut);
    delete cut;
    sleepMs(timing_.loopMs);
    return true;
}

}  // namespace measure::store
