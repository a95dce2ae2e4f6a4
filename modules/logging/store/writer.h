// Writers: tasks that read a measurement's back end and carry each action out
// on their medium. A BFSWriter writes the internal drive, a USBWriter the USB
// drive, which may come and go while the device runs. A file opens on the
// first data written to it, with its header actions first; at most 32 files
// are open at a time (entry = file index modulo 32).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sys/types.h>
#include <mutex>
#include <string>
#include <vector>

#include "logging/store/action.h"
#include "logging/store/backend.h"
#include "logging/store/runnable.h"

namespace measure::store {

class Backend;
struct MissedActions;
struct MissedFile;

// Write statistics of a writer: +1 write and +n bytes per successful write,
// +1 failure per write, flush or close that the drive refused.
struct dataWriteCounts_t {
    uint32_t* writes;
    uint32_t* bytes;
    uint32_t* failures;
};

// The writers' own timing (liveness, age of unflushed bytes, drive checks),
// in 0.1 ms of the device's own count (wraps at 2^32 as the time stamp does).
// Not the time stamp itself: that steps when a slave takes its master's
// time, and would make a writer seem dead or hold its checks back for as
// long as the step.
uint32_t writerClock();

class Writer : public Runnable {
public:
    Writer(Backend& backend, uint8_t type);
    ~Writer() override;

    virtual bool alive() const { return true; }
    virtual bool write(int vfIdx, const uint8_t* data, unsigned length);
    // Writes a metadata block; for a file that is not open yet on this writer
    // the block is kept and written right after the file's header.
    virtual bool writeMetaData(int vfIdx, const uint8_t* data, unsigned length, unsigned char type);
    virtual bool close(int vfIdx);
    virtual bool flush(int vfIdx) { (void)vfIdx; return true; }
    virtual bool flushDir() { return true; }
    virtual bool flushAll() { return true; }
    virtual bool getQueueCnt(unsigned long* count) const;
    virtual bool isOpen(int vfIdx) = 0;
    virtual bool open(int vfIdx) = 0;

    // The end of a stop's wait for the writers (Backend::haltWriters): takes
    // the writer where it is not at work on its files (it may wait for the
    // disk meanwhile), waiting up to limitMs; from then on it executes no
    // more actions and writes nothing more. false when it could not be taken.
    bool haltHold(unsigned limitMs);
    void haltRelease() { work_.unlock(); }
    bool halted() const { return halted_.load(); }
    // With the writer held (held: haltHold succeeded): what its streams hold
    // goes to the drive, and what it will not write is named, file by file:
    // `missed` (what it had not read of the queue) and what it took but
    // keeps (the action under way when that is lost, metadata kept for files
    // not open).
    virtual void haltFiles(MissedActions& missed, bool held) { (void)missed; (void)held; }

    uint8_t type() const { return type_; }
    unsigned measIdx() const { return measIdx_; }
    uint8_t id() const { return id_.load(); }
    void setId(uint8_t id);
    bool subscribed() const { return !notSubscribed_.load(); }
    Backend& backend() { return backend_; }
    // Names a file's records that the writer will never write (`when`: why
    // it missed them), and counts them. Called by the back end's task, also
    // while the writer's own task is held by its drive.
    virtual void nameMissed(const MissedFile& f, const char* when) { (void)f; (void)when; }

    // A drive pulled while the writer's task waits on it (a sync), and
    // another drive there at its name: a new drive, which starts without the
    // backlog of the one that went. The back end gives it a writer of its
    // own (writerForNewDrive) that writes the files begun after it joined;
    // this one is superseded: it writes nothing more, and names only what
    // that one does not write.
    virtual bool heldByReplacedDrive() const { return false; }
    virtual Writer* writerForNewDrive() { return nullptr; }
    // Whether its task waits on its drive now (no look at the drive).
    virtual bool waitsOnDrive() const { return false; }
    void supersede() { superseded_.store(true); }
    bool superseded() const { return superseded_.load(); }
    // The writer a new drive's writer took over from (the back end's lock:
    // it is forgotten when that one is deleted); told the first file the
    // new one writes when it joins.
    Writer* predecessor() const { return predecessor_; }
    void setPredecessor(Writer* w) { predecessor_ = w; }
    void successorJoined(int firstFile) {
        int none = kNoSuccessor;
        successorFrom_.compare_exchange_strong(none, firstFile);
    }
    // Whether the file is written by the writer of the drive that came.
    bool successorWrites(int vfIdx) const { return vfIdx >= successorFrom_.load(); }

protected:
    // A step of the task that may wait for the drive or for the NVRAM (an
    // action, a look at the drive, a flush): the writer is alive throughout,
    // however long it waits; the pass stamp is taken again at its end.
    class Step {
    public:
        explicit Step(Writer& w) : w_(w) { w_.steps_.fetch_add(1); }
        ~Step() {
            w_.lastPass_.store(writerClock());
            w_.steps_.fetch_sub(1);
        }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        Writer& w_;
    };
    // Whether the task is within a step.
    bool inStep() const { return steps_.load() != 0; }
    // The task at work on its files: the stop's halt waits for it to end
    // (or to wait for the disk, within it: Released).
    class Work {
    public:
        explicit Work(Writer& w);
        ~Work();
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;

    private:
        Writer& w_;
    };
    // A wait of the task within its work (a sync, the NVRAM, a sleep): the
    // halt may take the writer meanwhile. Nothing when the thread is not at
    // work (the task's stop, a test's direct call).
    class Released {
    public:
        explicit Released(Writer& w);
        ~Released();
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

    private:
        Writer& w_;
        bool released_;
    };
    // Takes the next action of the back end and executes it; false when there was none.
    bool executeNext();
    // Writes the bytes as they are to an open file (no head).
    virtual bool writeBytes(int vfIdx, const uint8_t* data, unsigned length) = 0;
    // Whether the writer drops this file (its writes succeed without effect).
    virtual bool skipped(int vfIdx) const { (void)vfIdx; return false; }
    // A block of a file the writer drops (the action under way): noted where
    // it is a loss to be named.
    virtual void skippedBlock(int vfIdx) { (void)vfIdx; }
    // Marks the end of a whole item (file header part, metadata block, frame)
    // of a file: the point a file goes back to when the drive refuses bytes.
    virtual void itemWritten(int vfIdx) { (void)vfIdx; }
    // Writes the metadata kept for a file that has just opened.
    bool writePendingMeta(int vfIdx);
    void dropPendingMeta(int vfIdx) { pending_.erase(vfIdx); }
    // With the writer held: the metadata kept for files not open, into missed.
    void pendingToMissed(MissedActions& missed) const;

    Action* current_ = nullptr;
    uint8_t initTsPending_ = 1;
    std::atomic<bool> notSubscribed_{true};
    std::atomic<bool> mediaAvailable_{true};
    std::atomic<uint32_t> lastPass_{0};
    std::atomic<int> steps_{0};
    uint32_t created_;
    Backend& backend_;
    uint8_t type_;
    unsigned measIdx_;
    std::atomic<uint8_t> id_{255};
    struct PendingMeta {
        std::vector<uint8_t> bytes;
        uint32_t items = 0;   // metadata blocks
    };
    std::map<int, PendingMeta> pending_;
    uint8_t floodMeta_ = 0;
    std::mutex work_;                   // held by the task at work (Work)
    std::atomic<bool> halted_{false};

private:
    static constexpr int kNoSuccessor = 0x7fffffff;
    std::atomic<bool> superseded_{false};
    std::atomic<int> successorFrom_{kNoSuccessor};
    Writer* predecessor_ = nullptr;
};

class BFSWriter : public Writer {
public:
    static constexpr unsigned kFiles = 32;
    BFSWriter(Backend& backend, const char* drive, dataWriteCounts_t counts);
    ~BFSWriter() override;

    bool alive() const override;
    bool write(int vfIdx, const uint8_t* data, unsigned length) override;
    bool close(int vfIdx) override;
    bool flush(int vfIdx) override;
    bool flushDir() override;
    bool flushAll() override;
    bool isOpen(int vfIdx) override;
    bool open(int vfIdx) override;
    bool setAttrib(int vfIdx, uint32_t attrib);
    void closeAllFiles();
    const char* drive() const { return drive_.c_str(); }
    void haltFiles(MissedActions& missed, bool held) override;
    void nameMissed(const MissedFile& f, const char* when) override;
    bool heldByReplacedDrive() const override;
    Writer* writerForNewDrive() override;
    bool waitsOnDrive() const override;

protected:
    BFSWriter(uint8_t type, Backend& backend, const char* drive, dataWriteCounts_t counts);
    void taskStartCallback() override;
    bool taskMain() override;
    void taskStopCallback() override;
    virtual void disconnectedStateHandler();
    bool writeBytes(int vfIdx, const uint8_t* data, unsigned length) override;
    void itemWritten(int vfIdx) override;
    bool skipped(int vfIdx) const override;
    void skippedBlock(int vfIdx) override;
    bool mainPass();
    // The internal drive while its files are written: a drive that vanished,
    // or a file that is no longer on it, ends the files open on it (they are
    // lost) and is told to the back end; a drive that is there again is
    // written again. On either drive, a file dropped because the drive was
    // full is told to the back end once a new file can be made there: its
    // header never reached the drive, so the measurement has to go on in a
    // new one.
    void checkDrive();
    bool driveThere() const;
    void checkRoom();
    // The drive went away under the open files: each stream is closed
    // without writing what it still holds, and the file is never written
    // again. The drive may come back in another device's hands, or hold
    // another file at the name by then; the records not on it stay on the
    // internal drive.
    void dropStreamsOfGoneDrive();
    // A USB drive that went and came back between two looks: the open files
    // no longer at their names went with it.
    void dropStreamsNoLongerNamed();
    // Superseded: its files went with its drive; what it missed of the
    // queue is named (not what the new drive's writer writes), and it ends.
    void endForNewDrive();
    // The task waits on the drive (a sync) of the file at fd, at `path` on
    // the drive: noted for the back end (heldByReplacedDrive).
    class DriveWait {
    public:
        DriveWait(BFSWriter& w, int fd, const char* path);
        ~DriveWait();
        DriveWait(const DriveWait&) = delete;
        DriveWait& operator=(const DriveWait&) = delete;

    private:
        BFSWriter& w_;
    };

private:
    // LOST: the file was open when it went from the drive; its further
    // writes are counted as failed.
    enum State { FREE = 0, OPEN = 1, SKIP = 2, LOST = 3 };
    struct WriterFileEntry_t {
        int vfIdx = -1;
        int state = FREE;
        int fd = -1;
        FILE* stream = nullptr;
        char path[40] = {};
        uint32_t firstUnflushed = 0;
        uint32_t sinceFlush = 0;
        uint32_t total = 0;
        // End of the last whole item known to be on the drive, the whole
        // items after it (the stream may still hold them: their ends and
        // stamps), and the end of the file's header (UINT32_MAX while it is
        // being written).
        uint32_t whole = 0;
        struct ItemEnd {
            uint32_t end = 0;
            uint32_t firstTs = 0, lastTs = 0;   // 0: the item has no stamps
        };
        std::vector<ItemEnd> itemEnds;
        uint32_t headerEnd = UINT32_MAX;
        // dropped for a fault of the drive: its writes count as failed
        bool refused = false;
        // dropped because the drive refused it (full, read-only, not
        // allowed, failing); told once the drive takes a new file again
        bool waitsForDrive = false;
        bool roomTold = false;
        // dropped because the drive was absent (or went): what it did not
        // get is tallied and named when the file is done on this writer
        bool absent = false;
        char gapName[16] = {};
        uint32_t gapBytes = 0, gapItems = 0, gapFirst = 0, gapLast = 0, gapHeader = 0;
    };
    WriterFileEntry_t& entry(int vfIdx) { return files_[unsigned(vfIdx) % kFiles]; }
    unsigned entryIndex(const WriterFileEntry_t& e) const { return unsigned(&e - files_); }
    const WriterFileEntry_t& entry(int vfIdx) const { return files_[unsigned(vfIdx) % kFiles]; }
    // err: the error of the drive when it refused the file, else 0
    bool openFileAtomic(WriterFileEntry_t& e, int vfIdx, const char* name, int* err);
    void bytesWritten(WriterFileEntry_t& e, uint32_t n);
    void checkForFlush();
    // Both checks due now: before their first look, and while the writer is
    // not subscribed, so that a due time never lies half the clock's range away.
    void armChecks();
    void freeEntry(WriterFileEntry_t& e) {
        nameAbsentGap(e);
        noteMade(e, nullptr);
        e = WriterFileEntry_t{};
    }
    // The drive absent: the file is dropped on this writer from the action
    // under way on (with the metadata kept for it), its loss tallied.
    void dropForAbsence(WriterFileEntry_t& e, int vfIdx);
    // Adds the action under way to the file's tally of what the absent drive lacks.
    void tallyAbsent(WriterFileEntry_t& e);
    // Adds bytes and items with their stamps to that tally.
    void addToGap(WriterFileEntry_t& e, uint32_t bytes, uint32_t items, uint32_t firstTs, uint32_t lastTs);
    // What the drive that went lacks of an open file: the bytes past onDrive
    // that the stream held or the drive did not take, to the tally.
    void tallyHeld(WriterFileEntry_t& e, uint32_t onDrive);
    // Names the file's tally (once): by its name, with its stamps.
    void nameAbsentGap(WriterFileEntry_t& e);
    // After the drive refused bytes: takes the file back to its last whole
    // item; false when it cannot go on (its header is not whole).
    bool backToWholeItem(WriterFileEntry_t& e, int err);
    // Closes a file that cannot go on and drops it on this writer; its later
    // writes count as failed. err: why the drive refused its bytes (0: not
    // the drive, `cause` says why).
    void dropFile(WriterFileEntry_t& e, int err, const char* cause = nullptr);
    // Names and counts what the writer did not write (`when`: while it was
    // removed, because its drive fell behind, at its stop; atStop: its files
    // end here; the files named already are not named again) and, with
    // closeMissed, closes its files whose close it missed; the others go on,
    // unless the writer stops.
    void tellMissed(const MissedActions& missed, const char* when, bool atStop, bool closeMissed = true);
    // counted: its blocks were counted as failed writes already
    void logMissed(const char* path, const MissedFile& f, const char* when, const char* outcome, bool counted = false);
    // Notes the file made on the drive at its entry (path), or that there is
    // none any more (null): the back end asks while the task may be held.
    void noteMade(const WriterFileEntry_t& e, const char* path);
    // Whether the file is made on the drive, with its path.
    bool madeOnDrive(int vfIdx, char* path, unsigned size) const;
    // The file on this drive for a line: by its name (empty: not known, by
    // its slot).
    void nameOnDrive(int vfIdx, const char* name, char* path, unsigned size) const;
    // Its path where it is made on the drive (true), else as nameOnDrive.
    bool pathForLine(int vfIdx, const char* name, char* path, unsigned size) const;
    void subscribeAgain();
    // A file the writer missed blocks of while away, still to be made with
    // its next blocks: named once it is made ("the file is made after the
    // gap") or closed without it ("they are not on this drive").
    struct AfterGap {
        MissedFile file;
        const char* when;
    };
    std::vector<AfterGap> afterGap_;
    // Files not on this drive whose header a line has named while they go
    // on (their further blocks are named without it), until they close.
    std::vector<int> headerTold_;
    bool headerTold(int vfIdx) const {
        return std::find(headerTold_.begin(), headerTold_.end(), vfIdx) != headerTold_.end();
    }
    void deferAfterGap(const MissedFile& f, const char* when);
    void tellAfterGap(int vfIdx, bool made);
    void tellAllAfterGap();
    // Counts a write, flush or close that the drive refused.
    void countFailure(uint32_t n = 1);
    void dropStream(WriterFileEntry_t& e);
    // The drive keeps the start of the file dropped for its going: noted
    // with the back end, whose copy completes it when the drive is back.
    void noteCut(const WriterFileEntry_t& e);
    // Whether the file's name on the drive still leads to the file of its stream.
    bool stillNamed(const WriterFileEntry_t& e) const;

    bool filesOpen_ = false;
    // the task waits for the counters of the file its current action opens
    // (an action lost when the stop's halt comes meanwhile)
    bool countersWait_ = false;
    // The file whose close waits for its attributes without the hold: the halt
    // leaves its entry to the task (its stream holds nothing then).
    const WriterFileEntry_t* closing_ = nullptr;
    uint32_t aliveTimeout_ = 100000;
    // due times of the checks, set from the clock when the task starts and
    // while it is not subscribed (they never lag half the clock's range)
    uint32_t nextFlushCheck_ = 0;
    uint32_t nextDriveCheck_ = 0;
    std::string drive_;
    dataWriteCounts_t counts_;
    bool dirDirty_ = false;
    WriterFileEntry_t files_[kFiles];
    // The files made on the drive by entry, for the back end's task.
    struct Made {
        int vfIdx = -1;
        char path[40] = {};
    };
    mutable std::mutex madeMx_;
    Made made_[kFiles];
    // What the task waits on (DriveWait): the host path of the file and its
    // identity on the drive.
    struct Waited {
        bool on = false;
        std::string host;
        dev_t dev = 0;
        ino_t ino = 0;
    };
    mutable std::mutex waitMx_;
    Waited waited_;
    // Looks for room (checkRoom): the wait before the next one, doubled each
    // time a new file is refused right after the room was told (0: every
    // drive check looks), and since when it runs; the newest file told with
    // room again, whether the file made for it is still to come, and whether
    // a drive that shows room but refuses files has been named.
    uint32_t roomWait_ = 0;
    uint32_t roomWaitFrom_ = 0;
    int roomToldVf_ = -1;
    bool afterRoom_ = false;
    bool refusalTold_ = false;
    uint8_t floodWrite_ = 0, floodPtr_ = 0, floodOpen_ = 0, floodInvalid_ = 0, floodHeader_ = 0,
            floodFlush_ = 0, floodCut_ = 0, floodDrop_ = 0;
};

class USBWriter : public BFSWriter {
public:
    USBWriter(Backend& backend, const char* drive, dataWriteCounts_t counts);

protected:
    bool taskMain() override;
    void taskStopCallback() override;
};

}  // namespace measure::store
