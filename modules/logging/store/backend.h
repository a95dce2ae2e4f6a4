// The back end of one measurement: the central action queue that every
// writer of the measurement reads at its own pace through an iterator of its
// own, and the task that cuts off what all writers have passed, drops writers
// that died, and drops the writer that falls furthest behind while the queue
// stays oversized (25 MiB for 10 s). What a dropped writer misses is tallied
// by file: a file it will not write is named once its close has passed, the
// others when it comes back.
//
// A drive that falls behind the others until the measurement's files are
// about to run out of virtual-file slots gives up its oldest file: its
// writer is moved past that file's close (what it passes is its loss,
// named), so that the slot is free for the drives that keep up.
//
// A writer that takes an action with next() holds it until done(): the
// action, and the virtual file it belongs to, are never freed under it, not
// even when the back end removes the writer or moves it on meanwhile (the
// action is then kept aside until done()). So a writer held for good by its
// drive holds one action and one file, never the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "logging/store/action.h"
#include "logging/store/list.h"
#include "logging/store/runnable.h"
#include "logging/store/virtual_file.h"

namespace measure::store {

class Writer;

// What a writer did not execute: the actions the back end passed on its
// behalf while it was removed (or left unread at its stop), by file.
struct MissedFile {
    int vfIdx = -1;
    char name[16] = {};      // the file's name, "" when it was no longer known
    uint32_t bytes = 0;      // the bytes its data and metadata actions held
    uint32_t items = 0;      // those actions
    uint32_t firstTs = 0;    // the earliest and the latest time stamp of their records (0: none had one)
    uint32_t lastTs = 0;
    uint32_t header = 0;     // the bytes of the file's header (0: not known)
    bool opened = false;     // its announcement was among them (a file begun meanwhile)
    bool closed = false;     // its close was among them
    bool told = false;       // its loss is named already (its close passed while the writer was away)
};
struct MissedActions {
    std::vector<MissedFile> files;
    uint32_t copies = 0;     // copies to the USB drive not started
    bool empty() const { return files.empty() && copies == 0; }
};
// The entry of a file of the measurement in missed (made, with the file's
// name, when it has none yet).
MissedFile& missedFileOf(MissedActions& missed, unsigned measIdx, int vfIdx);
// Adds one action that a writer of the measurement will not execute.
void missedAdd(MissedActions& missed, unsigned measIdx, const Action& a);

// Why a writer missed actions, in the lines that name them.
extern const char* const kMissedWhileRemoved;   // "while the writer was removed from the back end"
extern const char* const kMissedFellBehind;     // "as the drive fell behind the others"

// Timings of the back end; the defaults are the device's.
struct BackendTiming {
    int loopMs = 100;                   // main-loop period
    int oversizeMs = 10000;             // oversize period
    uint32_t oversizeBytes = 26214400;  // queue size that counts as oversized
    int startupMs = 25000;              // writers joining in this window read from the head
};
// Applies to back ends created afterwards (tests shorten the start-up window).
void backendSetTiming(const BackendTiming& t);
BackendTiming backendTiming();

class Backend : public List<Action>, public Runnable {
public:
    static constexpr unsigned kWriters = 8;

    // Starts the task "r_MeasBackend%d"; throws "Backend::Backend() taskStart failed."
    explicit Backend(unsigned measIdx);
    // Stops the task, then stops and deletes every writer made for this back end.
    ~Backend() override;

    // Stops the back end's task and its writers (each is given 3 s) and
    // deletes those that stopped. false when one would not stop: it may
    // still use the back end, which must then not be deleted.
    bool stopWriters();

    // Gives the writer a slot and a reading position: the head during the
    // start-up window, else the tail. false when refused. A writer the back
    // end removed reads on from the tail, and the live files it was to write
    // and those begun while it was away are its to write again (it goes on
    // in the files it has open): *missed gets what it did not read meanwhile.
    bool subscribe(Writer& w, MissedActions* missed = nullptr);
    // Takes the writer out of its slot; its id becomes 255. From then on the
    // back end tallies the actions the writer misses, until it subscribes
    // again or takes them (takeMissed).
    bool remove(Writer& w);
    // At a writer's stop: what it missed while removed, or what it has not
    // read yet while subscribed (nothing is cut behind it meanwhile: the back
    // end's task is stopped before its writers). false when there was nothing.
    bool takeMissed(Writer& w, MissedActions& out);
    // The end of a stop's wait for the writers: they execute no more actions
    // and subscribe no more; each writer, taken within limitMs where it is not
    // at work on its files (Writer::haltHold), names what it had not written,
    // file by file. A writer inside a write that does not end by then names
    // its drive only. The process ends after it: nothing is closed.
    void haltWriters(unsigned limitMs);
    bool halted() const { return halted_.load(); }

    // The next action for the writer, or null. On success *held names the
    // slot the writer holds until it calls done(*held). Null while the
    // writer has not taken what it gave up (takeGivenUp).
    Action* next(Writer& w, unsigned* held);
    void done(unsigned held);
    // What the back end made the writer give up because its drive fell
    // behind: the files whose close it passed are named already, the others
    // go on after the gap. false when there was nothing.
    bool takeGivenUp(Writer& w, MissedActions& out);

    // True when every subscribed file writer has executed the last action.
    bool isOfflineDataFlushed();
    void getMeasValues(uint32_t* size, uint32_t* maxSize, uint32_t* count, uint32_t* maxCount) const;
    bool getWriterQueueCnt(const Writer& w, unsigned long* count) const;
    unsigned measIdx() const { return measIdx_; }
    unsigned writerCount() const { return nWriters_.load(); }
    // The memory the queue holds: its nodes' sizes and the heap's upkeep of each.
    uint32_t heldBytes() const;

    // A writer found files of its drive gone (the drive vanished, or its
    // folder was made anew), or a drive that was full when it dropped a file
    // has room again: the logging application reads the causes once (the
    // MEAS_STORE_* bits of meas_app_store.h) and goes on in new files.
    void noteDriveLoss(unsigned cause) { driveLost_.fetch_or(cause); }
    unsigned takeDriveLoss() { return driveLost_.exchange(0); }

    // A copy of one of the measurement's files to a drive is asked for (a
    // USB drive's arrival): that drive's writers name what they miss of the
    // file as brought by the copy, not as lacking on the drive. The last
    // few asked are kept.
    void noteCopyAsked(const CopyFile_t& copy);
    bool copyBrings(const char* drive, const char* fileName) const;
    // A drive went while its writer wrote the file (fileName, under its
    // counters' name): the drive keeps the start of it. When the drive is
    // back, a copy completes the files its time away cut, the ones closed
    // meanwhile too; takeCutOnDrive gives their counters (name unset), oldest
    // first, and forgets them. The last few cut are kept.
    void noteCutOnDrive(const char* drive, const char* fileName);
    std::vector<CopyFile_t> takeCutOnDrive(const char* drive);

    // Whether a USB drive writer made for this back end has not subscribed,
    // or waits on its drive (it may be one that went while another came:
    // the drive that came gets a writer of its own).
    bool usbWriterWaiting();

    // Writers made for this back end belong to it (called by the writer).
    void adopt(Writer* w);
    void disown(Writer* w);

protected:
    void taskStartCallback() override;
    bool taskMain() override;

private:
    struct Slot {
        std::atomic<Writer*> writer{nullptr};
        std::atomic<Iterator<Action>*> iter{nullptr};
        std::atomic<int> busy{0};       // readers between next() and done()
        bool draining = false;          // writer removed while it still executed an action
        Writer* removed = nullptr;      // the writer removed from the slot while it drains
        // Taken by the writer's steps and by the back end when it moves the
        // iterator or keeps an action aside; never held across a wait.
        std::mutex step;
        Action* current = nullptr;      // the action between next() and done()
        std::vector<Action*> parked;    // cut from the queue while current: freed at done()
        MissedActions givenUp;          // (queue lock) what the writer gave up, not yet taken
        std::atomic<bool> gaveUp{false};
        // (queue lock) the writer's reading position at the last pass and
        // since when it stands there
        const Writer* seenWriter = nullptr;
        uint32_t seenPosition = 0;
        uint32_t seenSince = 0;
        char name[21] = {};
    };
    // A removed writer's reading position, stepped on by the back end:
    // what it passes is the writer's loss, named when it comes back.
    struct Behind {
        Writer* writer;
        Iterator<Action>* iter;
        std::vector<int> files;         // the live files it was to write when removed
        MissedActions missed;
    };
    // Live files of the measurement from which the start-up window no longer
    // keeps the queue: half of its virtual file slots, so that the other half
    // is left for the files opened while the late writers catch up.
    static constexpr unsigned kStartupKeepFiles = VirtualFiles::kSlots / 2;
    // Live files of the measurement from which the writers behind the oldest
    // file's close give it up: the slots left take the new files of the
    // passes to come (a pass frees one slot).
    static constexpr unsigned kGiveUpFiles = VirtualFiles::kSlots - 8;
    // A writer gives up files only when it has not read on for a second
    // (its drive holds it): one that reads on catches up, unless the files
    // have all but run out (then every writer behind gives up).
    static constexpr uint32_t kStillTicks = 10000;
    static constexpr unsigned kGiveUpAllFiles = VirtualFiles::kSlots - 2;

    bool checkOversizeTimeout();
    // A USB drive writer held by a drive that went while another came
    // (Writer::heldByReplacedDrive): the drive that came gets a writer of its
    // own, the held one is removed and superseded.
    void giveNewDrivesWriters();
    bool inStartupWindow();
    void finishDraining(Slot& s);       // with the queue lock held
    bool removeLocked(Writer& w);
    // With the queue lock held: steps the iterator to the last action,
    // adding the actions for the writer to *missed.
    void tally(Iterator<Action>* it, const Writer& w, MissedActions& missed);
    void tallyOne(const Action* a, const Writer& w, MissedActions& missed);
    // With the queue lock held: names the files of the tally whose close
    // passed, and forgets those the writer never met.
    void nameFinished(Writer& w, MissedActions& m, const char* when);
    // The file of the action the writer executes, -1 when none.
    int executingFile(const Writer& w);
    // With the queue lock held: when the files run short of slots, the
    // writers behind the oldest file's close give that file up.
    void giveUpOldestFile();
    // Keeps the action aside when a writer still executes it, or it closes
    // the file of the action a writer executes (its slot is freed now);
    // true when kept.
    bool parkIfExecuted(Action* a);
    void parkExecuted(List<Action>* cut);
    // With the queue lock held: ends the writer's tally and gives it.
    bool endBehind(Writer& w, MissedActions* out);
    // With the queue lock held and the writer halted: what it had not read
    // (atWork: the writer could not be held, its steps are waited for).
    void tallyRest(Writer& w, MissedActions& out, bool atWork = false);
    // Names what a writer that would not stop did not write.
    void tellLost(const MissedActions& m, const char* writer) const;

    Slot slots_[kWriters];
    std::atomic<bool> startup_{true};
    std::atomic<bool> halted_{false};
    std::atomic<unsigned> driveLost_{0};
    timespec started_{};                // task start (application clock)
    std::atomic<unsigned> nWriters_{0};
    unsigned nextSlot_ = 0;
    unsigned measIdx_;
    uint32_t oversizeRef_ = 0;
    int oversizeLeft_ = 0;
    BackendTiming timing_;
    uint8_t floodNext_ = 0;
    std::vector<Writer*> owned_;
    std::vector<Behind> behind_;
    // the copies asked for: the destination drive and the file's name
    static constexpr size_t kCopiesKept = 16;
    mutable std::mutex copiesMx_;
    std::deque<std::pair<std::string, std::string>> copies_;
    // the files cut by a drive's going: the drive and the file's counters
    std::deque<std::pair<std::string, CopyFile_t>> cuts_;
};

}  // namespace measure::store
