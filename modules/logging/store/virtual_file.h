// Virtual files: the back end's view of one measurement file (its file info,
// the actions that make up its start, the writers that are to write it), the
// registry of the live files of the three measurements, and the fragmenter
// that tells when a new file fragment is due by size or time.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "logging/store/action.h"
#include "logging/store/file_info.h"
#include "logging/store/list.h"

namespace measure::store {

class VirtualFile {
public:
    // Builds the header actions; throws "VirtualFile::VirtualFile() failed to
    // create header!" when that fails. Takes the file info on success.
    VirtualFile(int index, MeasAppStore_FileInfo_s* info, uint32_t writerMask);
    virtual ~VirtualFile();
    VirtualFile(const VirtualFile&) = delete;
    VirtualFile& operator=(const VirtualFile&) = delete;

    int index() const { return index_; }
    bool getFileName(char* buf, unsigned size) const;
    bool checkFileInfoMatch(unsigned measIdx, uint32_t ts) const;
    void invalidateFileInfo();
    // Its close is under way (the file info invalidated): it takes nothing more.
    bool closing() const { return closing_.load(std::memory_order_acquire); }
    // Its recording has stopped and the events it held open are closed in
    // it: it takes no event after that.
    void endEvents() { eventsEnded_.store(true, std::memory_order_release); }
    bool eventsEnded() const { return eventsEnded_.load(std::memory_order_acquire); }
    void getLapValues(uint16_t* absLap, uint16_t* outing, uint16_t* lap, uint16_t* fragment, uint32_t* initTs) const;
    void registerWriter(unsigned measIdx, unsigned id) { mask_.fetch_or(bit(measIdx, id)); }
    void deregisterWriter(unsigned measIdx, unsigned id) { mask_.fetch_and(~bit(measIdx, id)); }
    bool isRegisteredWriter(unsigned measIdx, unsigned id) const { return (mask_.load() & bit(measIdx, id)) != 0; }
    // Executes the header actions on a writer that opens the file. On
    // failure *why (when given) names the cause, unless a write of the
    // writer failed (the writer names that one).
    bool writeHeader(Writer& w, const char** why = nullptr);
    // Bytes the header actions put into a file.
    uint32_t headerSize() const { return headerSize_; }
    const MeasAppStore_FileInfo_s* fileInfo() const { return info_; }
    // The time base it was made in (time_stepCount then).
    uint32_t timeOf() const { return timeOf_; }
    static uint32_t bit(unsigned measIdx, unsigned id) { return id < 8 ? 1u << (measIdx * 8 + id) : 0; }

private:
    bool createHeader();
    bool addHeader(Action* a);

    int index_;
    List<Action> header_;
    MeasAppStore_FileInfo_s* info_;
    std::atomic<uint32_t> mask_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> eventsEnded_{false};
    uint32_t headerSize_ = 0;
    uint32_t timeOf_;
};

class VirtualFiles : private Lock {
public:
    static constexpr unsigned kSlots = 32;
    static constexpr unsigned kMeas = 3;
    // How far ahead of this device's time a stamp may lie (senders' clocks
    // differ by a few milliseconds): 1 s.
    static constexpr int32_t kAheadOfNow = 10000;
    VirtualFiles() : Lock(true) {}
    ~VirtualFiles() override;

    // A new file with the next index; null (logged) when its slot is taken.
    VirtualFile* create(unsigned measIdx, MeasAppStore_FileInfo_s* info);
    // Whether the slot of the measurement's next file is free.
    bool hasRoom(unsigned measIdx);
    VirtualFile* get(unsigned measIdx, int index) const;
    // Index of the first live file whose time range holds ts, stamped in the
    // time base timeOf (a step count), else -1 (also for a stamp more than
    // kAheadOfNow ahead of the device's time). A file made after a step back
    // that came after timeOf holds no stamp of it.
    int find(unsigned measIdx, uint32_t ts, uint32_t timeOf);
    // Index of the file that took the records up to ts when ts is of a time
    // that has stepped back since (more than kAheadOfNow ahead of now, and
    // its time base timeOf before the newest step back): the newest file not
    // yet closed that began in that time, at or before ts. -1 when there is
    // none (or ts is of the time now).
    int findSteppedBack(unsigned measIdx, uint32_t ts, uint32_t timeOf);
    // The oldest file not yet closed that began at ts or up to `within` after
    // it (the first file of a time for an event of its start), else -1.
    int findFollowing(unsigned measIdx, uint32_t ts, int32_t within);
    // Index of the first live file made in the time base timeOf or later
    // whose time holds ts, or begins up to `early` after it; -1 when there is
    // none. *older tells whether a file made in an earlier time is there.
    int findInTime(unsigned measIdx, uint32_t timeOf, uint32_t ts, int32_t early, bool* older);
    // Takes the file out of the registry; the caller deletes it.
    VirtualFile* remove(unsigned measIdx, int index);
    // Registers the writer with the files made from now on: returns the
    // index of the first of them.
    int registerWriter(unsigned measIdx, unsigned id);
    void deregisterWriter(unsigned measIdx, unsigned id);
    // Indexes of the live files of a measurement with the writer registered.
    std::vector<int> registeredFiles(unsigned measIdx, unsigned id);
    // Registers the writer with those of the files that are still live.
    void registerWriterWith(unsigned measIdx, unsigned id, const std::vector<int>& files);
    // The name of a live file; false when it is gone.
    bool fileName(unsigned measIdx, int index, char* buf, unsigned size);
    // Live files of a measurement.
    unsigned liveCount(unsigned measIdx) const;
    // The index of the oldest live file of a measurement, -1 when none.
    int oldest(unsigned measIdx);
    // Whether the live file's close is under way.
    bool closing(unsigned measIdx, int index);
    // The recording of the measurement's live files has stopped: they take
    // no event any more (VirtualFile::endEvents).
    void endEvents(unsigned measIdx);
    // Whether the live file takes no event any more.
    bool eventsEnded(unsigned measIdx, int index);
    // Whether the writer is registered with the live file.
    bool registered(unsigned measIdx, int index, unsigned id);
    // The header size of a live file, 0 when it is gone.
    uint32_t headerSize(unsigned measIdx, int index);
    // Deletes every live file of a measurement (its store is gone).
    void dropMeasurement(unsigned measIdx);
    // Deletes every live file (tests, shutdown).
    void reset();

private:
    // Whether a file made in the time base fileTime lies after the newest
    // step back (stepBack, a step count; 0: none) and timeOf before it.
    static bool madeAfterStepBack(uint32_t fileTime, uint32_t timeOf, uint32_t stepBack);

    std::atomic<VirtualFile*> slots_[kMeas][kSlots] = {};
    std::atomic<int> lowest_[kMeas] = {};
    std::atomic<int> last_[kMeas] = {-1, -1, -1};
    uint32_t registered_ = 0;
    uint8_t floodFull_ = 0;
};

extern VirtualFiles virtualFiles;

class Fragmenter {
public:
    void init(int vfIdx, uint32_t initTs, uint32_t headerSize);
    void write(int vfIdx, uint32_t bytes);
    void forward(int vfIdx, uint32_t bytes);
    // Bytes dropped from the pretrigger ring: no longer held, never handed over.
    void drop(int vfIdx, uint32_t bytes);
    void setPassThrough(bool on);
    void clearBuffer() { held_ = 0; }
    void triggerFragment() { active_ = false; }
    // 0 none, 1 size limit reached, 2 time limit reached.
    int checkFragment() const;
    uint32_t handedOver() const { return handed_; }
    uint32_t held() const { return held_; }

private:
    void takeHeld(uint32_t n);

    std::atomic<bool> active_{false};
    std::atomic<int> vfIdx_{-1};
    std::atomic<uint32_t> timeLimit_{0xFFFFFFFFu};
    std::atomic<uint32_t> handed_{0};
    std::atomic<uint32_t> headerSize_{0};
    std::atomic<uint32_t> sizeLimit_{0xFFFFFFFFu};
    std::atomic<bool> passThrough_{true};
    std::atomic<uint32_t> held_{0};
};

}  // namespace measure::store

// Car id (at most 31 characters) and time-master ids for new files; the
// diagnostic services and the time service provide them once they run.
using MeasCarIdSource = void (*)(char* out, unsigned size);
using MeasMasterIdSource = bool (*)(uint32_t* masterId, uint32_t* masterBootCount);
void meas_store_setCarIdSource(MeasCarIdSource src);
void meas_store_setMasterIdSource(MeasMasterIdSource src);
