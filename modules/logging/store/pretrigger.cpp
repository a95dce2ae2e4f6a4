#include "logging/store/pretrigger.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "logging/store/meas_app_store.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/time_step.h"
#include "platform/timebase.h"

namespace measure::store {

namespace {

// An event opened again at a step of the time is stamped at the new time's
// first noted stamp, or up to this much before it (opened in the new time
// before the step was noted).
constexpr int32_t kStepNoteLag = 500;   // 50 ms

// A restarted master's events of its new time may come stamped before this
// device stepped onto that time: sent before the master's first time
// message, which a just-started master sends late, or while this device
// waits for the first gap stamps of its new run (the event logger keeps
// them up to a second for the step).
constexpr int32_t kNewTimeEarly = 15000;   // 1.5 s

// The event a held block opens: an event block (type 6: 4 bytes of head, then
// id, start, duration, kind, severity and source PID) with an open duration.
bool opensAnEvent(const uint8_t* data, uint32_t length, uint8_t type, ActionMetaData::EventKey* key) {
    if (type != 6 || !data || length < 20 || be_get32(data + 12) != 0xFFFFFFFFu) return false;
    key->id = be_get32(data + 4);
    key->start = be_get32(data + 8);
    key->pid = be_get16(data + 18);
    return true;
}

// Opened again at the newest step (in its new time): stamped at most the
// note's lag before the new time's first noted stamp. One stamped in the
// time before that step is no open of the new time, wherever its stamp lies.
bool openedAtStep(uint32_t ts, uint32_t timeOf) {
    TimeStep step{};
    const uint32_t steps = time_stepCount(&step);
    if (steps == 0 || int32_t(timeOf - steps) < 0) return false;
    const int32_t before = int32_t(step.after - ts);
    return before >= 0 && before <= kStepNoteLag;
}

}  // namespace

Pretrigger::Pretrigger(unsigned measIdx, float seconds, Backend* backend)
    : measIdx_(measIdx), bufferTime_(seconds > 0.0f ? uint32_t(seconds * 10000.0f) : 0), ring_(true),
      backend_(backend) {
    setState(seconds > 0.0f ? PRETRIG_BUFFERING : PRETRIG_PASS);
    syslogx(150, "Pretrigger::Pretrigger(%d): buffer time %.1f", int(measIdx + 1), double(seconds));
    char name[24];
    std::snprintf(name, sizeof name, "r_MeasPretrig%u", measIdx);
    if (!taskStart(name, 142, 65536, VX_FP_TASK, 0)) {
        syslogx(147, "Pretrigger::Pretrigger(): could not spawn task errno %s", std::strerror(errno));
        setState(PRETRIG_PASS);
    }
}

Pretrigger::~Pretrigger() {
    request_.store(0);
    state_.store(PRETRIG_ENDING);
    fragmenter_.setPassThrough(false);
    taskStop(WAIT_FOREVER);
    {
        ScopeLock sl(&heldLock_, "Pretrigger::~Pretrigger");
        while (heldCount_.load()) dropHeld(0, "the measurement went away");
    }
    // A writer held by its drive beyond its stop still uses the back end:
    // it is left to it (a stop must not wait for a drive without end).
    if (backend_ && !backend_->stopWriters())
        syslogx(147, "Pretrigger::~Pretrigger() m%02u: a writer did not stop, its back end is left to it",
                backend_->measIdx() + 1);
    else
        delete backend_;
    backend_ = nullptr;
}

void Pretrigger::setState(preTrig_state_e s) {
    state_.store(s);
    fragmenter_.setPassThrough(s == PRETRIG_FLUSHED || s == PRETRIG_PASS);
}

bool Pretrigger::measRunning() const {
    preTrig_state_e s = state_.load();
    return s == PRETRIG_FLUSH || s == PRETRIG_FLUSHED || s == PRETRIG_PASS;
}

bool Pretrigger::passThrough() const {
    preTrig_state_e s = state_.load();
    return s == PRETRIG_FLUSHED || s == PRETRIG_PASS;
}

void Pretrigger::trigTrigger() {
    request_.store(1);
    if (state_.load() == PRETRIG_BUFFERING) {
        uint32_t now = time_getTimestamp();
        triggerTime_.store(now);
        windowStart_.store(now - bufferTime_);   // may wrap, as the stamps do
    } else {
        syslogx(148, "Pretrigger::trigTrigger(): trigger came without being armed, not updating trigger timestamp (%d)",
                int(state_.load()));
    }
}

void Pretrigger::putAction(Action* a) {
    if (!a) {
        SYSLOGX_FLOOD(floodNull_, 147 | SYSLOGX_LOSS, "Pretrigger::putAction() - received NULL ptr! Out of memory?");
        return;
    }
    // The state is read under the ring's lock, which the task holds while it
    // hands the ring over: an action can never overtake one put before it.
    ScopeLock sl(&ring_, "Pretrigger::putAction");
    if (passThrough())
        backend_->add(a, a->size());
    else
        ring_.add(a, a->size());
}

void Pretrigger::openFile(MeasAppStore_FileInfo_s* info) {
    if (!info) {
        syslogx(147, "Pretrigger::openFile() NULL fileInfoPtr is invalid");
        return;
    }
    // the events held for it see the file only with its open announced
    ScopeLock sl(&heldLock_, "Pretrigger::openFile");
    beginAtHeld(info);
    VirtualFile* vf = virtualFiles.create(measIdx_, info);
    if (!vf) throw "VFile.create() returned NULL";
    fragmenter_.init(vf->index(), info->initTs, vf->headerSize());
    putAction(new (std::nothrow) ActionOpen(measIdx_, vf, vf->index()));
    putHeld(*vf);
}

// Puts a content action and counts its bytes for the fragmenter; the data go
// with the action, or are freed when no action could be made.
void Pretrigger::putContent(ActionData* a, uint8_t* data) {
    if (!a) {
        std::free(data);
        putAction(nullptr);
        return;
    }
    fragmenter_.write(a->vfIdx(), a->dataSize());
    putAction(a);
}

void Pretrigger::putFrame(int vfIdx, uint8_t* data, uint32_t length, uint32_t firstTs, uint32_t lastTs) {
    putContent(new (std::nothrow) ActionData(firstTs, lastTs, vfIdx, data, length), data);
}

// An event of the time since the newest step back: the new time's first
// file exists (its index) or is still to come (held) while a file of the
// old time is there; kMetaNone when none is (looked up as always),
// kMetaDropped when its file's recording has ended or no room is left to
// hold it.
int Pretrigger::putOfNewTime(uint8_t* data, uint32_t length, uint32_t ts, uint8_t type, uint32_t timeOf) {
    TimeStep step{};
    const uint32_t steps = time_stepBackCount(&step);
    if (steps == 0 || int32_t(timeOf - steps) < 0 || int32_t(ts - step.after) < -kNewTimeEarly) return kMetaNone;
    // A stamp well ahead of this device's time is of no time it is in (one
    // that stepped back since, or a run it has not followed): no file of the
    // new time, open to later records, holds it. Looked up as always.
    if (int32_t(ts - time_getTimestamp()) > VirtualFiles::kAheadOfNow) return kMetaNone;
    ScopeLock sl(&heldLock_, "Pretrigger::putOfNewTime");
    bool older = false;
    const int vf = virtualFiles.findInTime(measIdx_, steps, ts, kStepNoteLag, &older);
    if (vf >= 0) {
        const int put = putInFile(vf, data, length, ts, type);
        if (put != kMetaClosing) return put;
    }
    if (!older) return kMetaNone;
    return holdEvent(HeldEvent{data, length, ts, type}) ? kMetaHeld : kMetaDropped;
}

// Into a file found for its stamp, unless that file's recording has ended
// (its events were closed at the stop): what comes for it after that is of
// a recording that is over. kMetaClosing when the file's close is under way:
// a writer that has closed it would keep the event for good.
int Pretrigger::putInFile(int vf, uint8_t* data, uint32_t length, uint32_t ts, uint8_t type) {
    if (virtualFiles.eventsEnded(measIdx_, vf)) {
        syslogx(151, "Pretrigger::putMetaData(%d): event of type %u at %u not written: the recording of its file "
                     "has ended", int(measIdx_ + 1), unsigned(type), unsigned(ts));
        std::free(data);
        return kMetaDropped;
    }
    // A close is marked before it is put into the ring, under this lock: one
    // not marked now goes in after the event.
    ScopeLock sl(&ring_, "Pretrigger::putInFile");
    if (virtualFiles.closing(measIdx_, vf)) return kMetaClosing;
    putContent(new (std::nothrow) ActionMetaData(vf, type, data, length, ts), data);
    return vf;
}

int Pretrigger::putMetaData(uint8_t* data, uint32_t length, uint32_t ts, uint8_t type, uint32_t timeOf) {
    const int placed = putOfNewTime(data, length, ts, type, timeOf);
    if (placed == kMetaDropped) return kMetaNone;
    if (placed != kMetaNone) return placed;
    int vf = virtualFiles.find(measIdx_, ts, timeOf);
    // An event of a time that stepped back since (one closed where that time
    // ended) goes into the file that recorded that time, while it is open.
    if (vf < 0) vf = virtualFiles.findSteppedBack(measIdx_, ts, timeOf);
    // The file of its stamp is closing: it finds none (below), as once that
    // file is gone.
    if (vf >= 0 && virtualFiles.closing(measIdx_, vf)) vf = -1;
    if (vf < 0 && openedAtStep(ts, timeOf)) {
        // Opened again at a step: the new time's first file begins with its
        // first record (or trigger) after it, which may still be to come
        // (the measurement restarts at a step back).
        ScopeLock sl(&heldLock_, "Pretrigger::putMetaData");
        vf = virtualFiles.findFollowing(measIdx_, ts, kHeldLimit);
        if (vf < 0) return holdEvent(HeldEvent{data, length, ts, type}) ? kMetaHeld : kMetaNone;
    }
    if (vf >= 0) {
        const int put = putInFile(vf, data, length, ts, type);
        if (put != kMetaClosing) return put == kMetaDropped ? kMetaNone : put;
    }
    // events from before the measurement's first file come at every start
    SYSLOGX_FLOOD(floodMeta_, 150 | SYSLOGX_LOSS, "Pretrigger::putMetaData() no VFile timestamp match available (%u)", ts);
    std::free(data);
    return kMetaNone;
}

bool Pretrigger::holdEvent(const HeldEvent& e) {
    ageHeld(time_getTimestamp());
    const unsigned n = heldCount_.load();
    if (n == kHeldMax) {
        syslogx(147 | SYSLOGX_LOSS, "Pretrigger::putMetaData(%d): event of type %u at %u dropped: %u events of a step wait for "
                     "its file already", int(measIdx_ + 1), unsigned(e.type), unsigned(e.ts), kHeldMax);
        std::free(e.data);
        return false;
    }
    held_[n] = e;
    heldCount_.store(n + 1);
    return true;
}

void Pretrigger::dropHeld(unsigned i, const char* why) {
    const HeldEvent e = held_[i];
    syslogx(147 | SYSLOGX_LOSS, "Pretrigger(%d): event of type %u at %u, opened at a step of the time, dropped: no file of its "
                 "time came (%s)", int(measIdx_ + 1), unsigned(e.type), unsigned(e.ts), why);
    // the logger that holds it open learns it is in no file
    ActionMetaData::EventKey key{};
    if (opensAnEvent(e.data, e.length, e.type, &key)) {
        unsigned d = droppedHeldCount_.load();
        if (d == kDroppedHeld) {
            for (unsigned k = 1; k < d; ++k) droppedHeld_[k - 1] = droppedHeld_[k];
            --d;
        }
        droppedHeld_[d] = key;
        droppedHeldCount_.store(d + 1);
    }
    std::free(e.data);
    const unsigned n = heldCount_.load() - 1;
    for (unsigned k = i; k < n; ++k) held_[k] = held_[k + 1];   // the others keep their order
    heldCount_.store(n);
}

// A new file is the measurement's next: the events held for it go into it
// when its time holds them, or begins just after them (opened in the new
// time before the step was noted), in the order they came; each is at its
// stamp, before the file's first record.
void Pretrigger::putHeld(const VirtualFile& vf) {
    const MeasAppStore_FileInfo_s* info = vf.fileInfo();
    const unsigned n = heldCount_.load();
    if (!n || !info) return;
    unsigned kept = 0;
    for (unsigned i = 0; i < n; ++i) {
        const HeldEvent e = held_[i];
        const int32_t after = int32_t(info->initTs - e.ts);
        if (after < -kHeldLimit || after > kStepNoteLag) {
            held_[kept++] = e;   // dropped in order below
            continue;
        }
        putContent(new (std::nothrow) ActionMetaData(vf.index(), e.type, e.data, e.length, e.ts), e.data);
    }
    heldCount_.store(kept);
    while (heldCount_.load()) dropHeld(0, "the next file is of another time, or begins after it");
}

// A file that will take held events stamped just before its start (of the
// new time, sent before this device stepped onto it) begins with the first
// of them: its time is theirs.
void Pretrigger::beginAtHeld(MeasAppStore_FileInfo_s* info) {
    const uint32_t start = info->initTs;
    for (unsigned i = 0; i < heldCount_.load(); ++i) {
        const int32_t after = int32_t(start - held_[i].ts);
        if (after > 0 && after <= kNewTimeEarly && int32_t(info->initTs - held_[i].ts) > 0) info->initTs = held_[i].ts;
    }
}

// Drops the held events whose time has passed by the bound (or stepped back
// past them) without a file.
void Pretrigger::ageHeld(uint32_t now) {
    for (unsigned i = 0; i < heldCount_.load();) {
        const int32_t age = int32_t(now - held_[i].ts);
        if (age > kHeldLimit || age < -VirtualFiles::kAheadOfNow) dropHeld(i, "none within 30 s");
        else ++i;
    }
}

unsigned Pretrigger::takeDroppedOpens(MeasDroppedOpen* out, unsigned max) {
    if (!out || !max || droppedHeldCount_.load() == 0) return 0;
    ScopeLock sl(&heldLock_, "Pretrigger::takeDroppedOpens");
    const unsigned d = droppedHeldCount_.load();
    const unsigned n = d < max ? d : max;
    for (unsigned k = 0; k < n; ++k) out[k] = MeasDroppedOpen{droppedHeld_[k].pid, droppedHeld_[k].id, droppedHeld_[k].start};
    for (unsigned k = n; k < d; ++k) droppedHeld_[k - n] = droppedHeld_[k];
    droppedHeldCount_.store(d - n);
    return n;
}

bool Pretrigger::holdsOpen(const ActionMetaData::EventKey& open) {
    ScopeLock sl(&heldLock_, "Pretrigger::holdsOpen");
    for (unsigned i = 0; i < heldCount_.load(); ++i) {
        ActionMetaData::EventKey key{};
        if (opensAnEvent(held_[i].data, held_[i].length, held_[i].type, &key) && key == open) return true;
    }
    for (unsigned k = 0; k < droppedHeldCount_.load(); ++k)
        if (droppedHeld_[k] == open) return true;
    return false;
}

void Pretrigger::putMetaDataVf(int vfIdx, uint8_t* data, uint32_t length, uint8_t type) {
    putContent(new (std::nothrow) ActionMetaData(vfIdx, type, data, length), data);
}

void Pretrigger::closeFile(int vfIdx) { putAction(new (std::nothrow) ActionClose(measIdx_, vfIdx)); }

void Pretrigger::flushFile(int vfIdx) {
    Action* a = new (std::nothrow) ActionFlushFile(vfIdx);
    if (!a) syslogx(147, "Pretrigger::flushFile(): failed to create action %d", vfIdx);
    else putAction(a);
}

void Pretrigger::flushDir() {
    Action* a = new (std::nothrow) ActionFlushDir();
    if (!a) syslogx(147, "Pretrigger::flushDir(): failed to create action");
    else putAction(a);
}

void Pretrigger::copyFile(const CopyFile_t& copy) {
    if (backend_) backend_->noteCopyAsked(copy);
    Action* a = new (std::nothrow) ActionFileCopy(copy);
    if (!a) syslogx(147, "Pretrigger::copyFile(): failed to create action");
    else putAction(a);
}

void Pretrigger::flushBackend() {
    Action* a = new (std::nothrow) ActionFlushAll();
    if (!a) syslogx(147, "Pretrigger::flushBackend(): failed to create action");
    else putAction(a);
}

// Takes actions off the ring's head (all, or those older than ts): the
// forward-flagged ones and the records stamped before the last arm go on to
// the back end, the others are dropped. Time stamps are compared by their
// signed difference: the 0.1 ms counter wraps at 2^32. An action without a
// time stamp (0) goes with the one before it.
void Pretrigger::forwardRing(bool all, uint32_t ts, unsigned* cleaned, unsigned* forwarded) {
    const uint32_t arm = armTs_.load();
    for (;;) {
        Node<Action>* head = ring_.headNode();
        if (!head) break;
        const uint32_t headTs = head->item->timestamp();
        if (!all && headTs != 0 && int32_t(headTs - ts) >= 0) break;
        Node<Action>* n = ring_.del();
        Action* a = n->item;
        // 0 is "no arm" and "no time stamp"
        const bool beforeArm = arm != 0 && a->timestamp() != 0 && int32_t(a->timestamp() - arm) < 0;
        const bool forward = a->forward() || beforeArm;
        if (closesDroppedOpen(a, !forward)) {
            fragmenter_.drop(a->vfIdx(), a->dataSize());
            ++*cleaned;
        } else if (forward) {
            n->item = nullptr;
            fragmenter_.forward(a->vfIdx(), a->dataSize());
            backend_->add(a, a->size());
            ++*forwarded;
        } else {
            fragmenter_.drop(a->vfIdx(), a->dataSize());
            ++*cleaned;
        }
        delete n;
    }
}

bool Pretrigger::closesDroppedOpen(const Action* a, bool dropped) {
    const auto* meta = dynamic_cast<const ActionMetaData*>(a);
    ActionMetaData::EventKey key{};
    bool open = false;
    if (!meta || !meta->eventKey(&key, &open)) return false;
    if (open) {
        if (dropped) {
            droppedOpens_[droppedNext_] = key;
            droppedNext_ = (droppedNext_ + 1) % kDroppedOpens;
        }
        return false;
    }
    for (const auto& k : droppedOpens_)
        if (k == key) return true;
    return false;
}

void Pretrigger::flushUntil(uint32_t ts) {
    ScopeLock sl(&ring_, "Pretrigger::flushUntil");
    unsigned cleaned = 0, forwarded = 0;
    forwardRing(false, ts, &cleaned, &forwarded);
}

void Pretrigger::measStop() {
    ScopeLock sl(&ring_, "Pretrigger::measStop");
    unsigned cleaned = 0, forwarded = 0;
    forwardRing(true, 0, &cleaned, &forwarded);
    armTs_.store(0);
    fragmenter_.clearBuffer();
    if (cleaned || forwarded)
        syslogx(150, "Pretrigger::measStop(%d): cleaned %u, forwarded %u nodes", int(measIdx_), cleaned, forwarded);
}

void Pretrigger::passOn() {
    // one hold of the ring's lock: an action put between the hand-over and
    // the new state would stay in a ring that nobody empties any more
    ScopeLock sl(&ring_, "Pretrigger::passOn");
    measStop();
    setState(PRETRIG_PASS);
}

bool Pretrigger::ringEmpty() {
    // an action being moved to the back end is in one of the two lists
    // whenever the ring's lock is free
    ScopeLock sl(&ring_, "Pretrigger::ringEmpty");
    return ring_.count() == 0;
}

void Pretrigger::getMeasValues(int* state, uint32_t* size, uint32_t* maxSize, uint32_t* count,
                               uint32_t* maxCount) const {
    if (state) *state = int(state_.load());
    if (size) *size = ring_.totalSize();
    if (maxSize) *maxSize = ring_.highestTotal();
    if (count) *count = ring_.count();
    if (maxCount) *maxCount = ring_.highestCount();
}

bool Pretrigger::taskMain() {
    const uint32_t now = time_getTimestamp();
    if (heldCount_.load()) {
        ScopeLock sl(&heldLock_, "Pretrigger::ageHeld");
        ageHeld(now);
    }
    const uint32_t limit = now - bufferTime_;   // may wrap, as the stamps do
    const int req = request_.load();
    if (req != lastRequest_) {
        lastRequest_ = req;
        preTrig_state_e s = state_.load();
        if (s == PRETRIG_BUFFERING && req == 1) {
            setState(PRETRIG_FLUSH);
        } else if (s == PRETRIG_FLUSH) {
            SYSLOGX_FLOOD(floodFlush_, 147, "Pretrigger::taskMain(): STATE_FLUSH should not happen here!");
        } else if (s == PRETRIG_FLUSHED && req == 2) {
            armTs_.store(now ? now : 1);   // 0 would read as "no arm"
            MeasAppStore_armFlushIdx(1u << measIdx_);
            Action* a = new (std::nothrow) ActionFlushAll();
            if (a) backend_->add(a, a->size());
            ScopeLock sl(&ring_, "Pretrigger::arm");
            setState(PRETRIG_BUFFERING);
        }
    }
    switch (state_.load()) {
    case PRETRIG_BUFFERING:
        flushUntil(limit);
        break;
    case PRETRIG_FLUSH: {
        ScopeLock sl(&ring_, "Pretrigger::flush");
        unsigned cleaned = 0, forwarded = 0;
        forwardRing(false, windowStart_.load(), &cleaned, &forwarded);
        syslogx(150, "Pretrigger::taskMain(): forwarding %u entries to backend", ring_.count());
        backend_->appendAndClearSrc(ring_);
        setState(PRETRIG_FLUSHED);
        break;
    }
    case PRETRIG_FLUSHED:
        if (ring_.count()) {
            ScopeLock sl(&ring_, "Pretrigger::flushed");
            backend_->appendAndClearSrc(ring_);
            SYSLOGX_FLOOD(floodCount_, 147, "Pretrigger::taskMain(): STATE_FLUSHED: should not see a count here!");
        }
        break;
    default:
        break;
    }
    if (state_.load() == PRETRIG_ENDING) return false;
    taskDelay(1);
    return state_.load() != PRETRIG_ENDING;
}

}  // namespace measure::store
