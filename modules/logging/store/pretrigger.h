// Pretrigger of one measurement: stands between the logging application and
// the back end. With a pretrigger time it keeps the measurement's actions in
// a ring for that time while the measurement waits for its trigger and, on
// the trigger, hands the last pretrigger time of data and everything after it
// to the back end; without one it passes every action straight through. It
// owns the back end (and through it the writers) and the fragmenter.
#pragma once

#include <atomic>
#include <cstdint>

#include "logging/store/action.h"
#include "logging/store/backend.h"
#include "logging/store/list.h"
#include "logging/store/meas_app_store.h"
#include "logging/store/runnable.h"
#include "logging/store/virtual_file.h"

namespace measure::store {

enum preTrig_state_e {
    PRETRIG_BUFFERING = 1,      // armed, waiting for the trigger
    PRETRIG_FLUSH = 2,          // trigger received, the ring is being handed over
    PRETRIG_FLUSHED = 3,        // triggered, passing through
    PRETRIG_ENDING = 4,
    PRETRIG_PASS = 5,           // no pretrigger
};

class Pretrigger : private Runnable {
public:
    // Takes the back end. Starts the task "r_MeasPretrig%d".
    Pretrigger(unsigned measIdx, float pretriggerSeconds, Backend* backend);
    ~Pretrigger() override;

    void trigArm() { request_.store(2); }
    void trigTrigger();
    void putAction(Action* a);
    // Creates the file's virtual file and announces it; throws
    // "VFile.create() returned NULL" when the file cannot be made.
    void openFile(MeasAppStore_FileInfo_s* info);
    // Takes the frame buffer (malloc'ed).
    void putFrame(int vfIdx, uint8_t* data, uint32_t length, uint32_t firstTs, uint32_t lastTs);
    // Metadata for the file whose time range holds ts (events). An event
    // opened again at a step of the time, before the new time's first file,
    // goes into that file: it is held until the file exists. timeOf: the
    // time base the stamp belongs to (a step count); an event of the
    // time that began with a step back never goes into a file of the time
    // before, which its stamp may lie in: it waits for its own time's file.
    // Returns the index of the file it went into, kMetaHeld (waits for a
    // file of the new time) or kMetaNone (dropped: no file, or the file's
    // recording has ended).
    static constexpr int kMetaNone = -1;
    static constexpr int kMetaHeld = -2;
    int putMetaData(uint8_t* data, uint32_t length, uint32_t ts, uint8_t type, uint32_t timeOf);
    void putMetaDataVf(int vfIdx, uint8_t* data, uint32_t length, uint8_t type);
    // The event opens held for a new time's file and dropped without one,
    // since the last call: up to max go to out, the count is returned. The
    // event logger forgets them, so that neither their close nor a stop
    // writes an end of an event no file holds.
    unsigned takeDroppedOpens(MeasDroppedOpen* out, unsigned max);
    // Whether an event open is in no file yet: held for a new time's file
    // still, or dropped from there and not taken by takeDroppedOpens yet.
    bool holdsOpen(const ActionMetaData::EventKey& open);
    void closeFile(int vfIdx);
    void flushFile(int vfIdx);
    void flushDir();
    void copyFile(const CopyFile_t& copy);
    void flushBackend();
    void flushUntil(uint32_t ts);
    void measStop();
    // The measurement is going away: the ring is handed over as at a stop and
    // whatever comes after (status blocks, closes) passes straight through.
    void passOn();
    bool ringEmpty();
    bool measRunning() const;
    bool passThrough() const;
    int checkFragment() const { return fragmenter_.checkFragment(); }
    void triggerFragment() { fragmenter_.triggerFragment(); }
    Backend* getBackend() { return backend_; }
    void getMeasValues(int* state, uint32_t* size, uint32_t* maxSize, uint32_t* count, uint32_t* maxCount) const;
    void setState(preTrig_state_e s);
    preTrig_state_e state() const { return state_.load(); }
    unsigned measIdx() const { return measIdx_; }
    // Start of the window handed over at the last trigger (0.1 ms).
    uint32_t windowStart() const { return windowStart_.load(); }
    uint32_t bufferTime() const { return bufferTime_; }
    // Time of the last arm (0.1 ms; 0 = none since the last stop). Records
    // stamped before it belong to the triggered part: they may still come
    // (a raster's FIFO drains late) and are handed on, not aged out.
    uint32_t armTime() const { return armTs_.load(); }

private:
    // Events held for the new time's first file: at most kHeldMax, each for
    // up to kHeldLimit; one that finds no file in that time is dropped, logged.
    static constexpr unsigned kHeldMax = 32;
    static constexpr int32_t kHeldLimit = 300000;   // 30 s in 0.1 ms
    // What putInFile did besides putting it: dropped (freed, logged), or
    // not put because the file is closing (the data are still the caller's).
    static constexpr int kMetaDropped = -3;
    static constexpr int kMetaClosing = -4;

    struct HeldEvent {
        uint8_t* data;
        uint32_t length;
        uint32_t ts;
        uint8_t type;
    };

    bool taskMain() override;
    void putContent(ActionData* a, uint8_t* data);
    void forwardRing(bool all, uint32_t ts, unsigned* cleaned, unsigned* forwarded);
    // With heldLock_ held.
    // False when no room is left: the event is dropped (freed, logged).
    bool holdEvent(const HeldEvent& e);
    void beginAtHeld(MeasAppStore_FileInfo_s* info);
    int putOfNewTime(uint8_t* data, uint32_t length, uint32_t ts, uint8_t type, uint32_t timeOf);
    int putInFile(int vf, uint8_t* data, uint32_t length, uint32_t ts, uint8_t type);
    void dropHeld(unsigned i, const char* why);
    void putHeld(const VirtualFile& vf);
    void ageHeld(uint32_t now);

    unsigned measIdx_;
    uint32_t bufferTime_;
    std::atomic<preTrig_state_e> state_{PRETRIG_PASS};
    std::atomic<int> request_{0};
    int lastRequest_ = 0;
    std::atomic<uint32_t> triggerTime_{0};
    std::atomic<uint32_t> windowStart_{0};
    std::atomic<uint32_t> armTs_{0};
    List<Action> ring_;
    Backend* backend_;
    Fragmenter fragmenter_;
    // Taken before the file registry's and the ring's locks: a file opened
    // while an event of a step looks for one either is found or takes it.
    Lock heldLock_{true};
    HeldEvent held_[kHeldMax] = {};
    std::atomic<unsigned> heldCount_{0};
    // Opens dropped from held_ that the event logger has not taken yet (under
    // heldLock_); the oldest give way when it does not come for them.
    static constexpr unsigned kDroppedHeld = 2 * kHeldMax;
    ActionMetaData::EventKey droppedHeld_[kDroppedHeld] = {};
    std::atomic<unsigned> droppedHeldCount_{0};
    uint8_t floodNull_ = 0, floodMeta_ = 0, floodFlush_ = 0, floodCount_ = 0;
    // The events whose open aged out of the ring (under the ring's lock):
    // their close, which the ring keeps, goes with it.
    static constexpr unsigned kDroppedOpens = 32;
    ActionMetaData::EventKey droppedOpens_[kDroppedOpens] = {};
    unsigned droppedNext_ = 0;
    // Whether the action is the close of an event whose open aged out;
    // notes such an open when `dropped`.
    bool closesDroppedOpen(const Action* a, bool dropped);
};

}  // namespace measure::store
