// The back end of one measurement: the central action queue that every
// writer of the measurement reads at its own pace through an iterator of its
// own, and the task that cuts off what all writers have passed, drops writers
// that died, and drops the writer that falls furthest behind while the queue
// stays oversized (25 MiB for 10 s).
//
// A writer that takes an action with next() holds its slot until done(): the
// node it executes is never freed under it, not even when the back end
// removes the writer meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <vector>

#include "logging/store/action.h"
#include "logging/store/list.h"
#include "logging/store/runnable.h"
#include "logging/store/virtual_file.h"

namespace measure::store {

class Writer;

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

    // Gives the writer a slot and a reading position: the head during the
    // start-up window, else the tail. false when refused.
    bool subscribe(Writer& w);
    // Takes the writer out of its slot; its id becomes 255.
    bool remove(Writer& w);
    // The next action for the writer, or null. On success *held names the
    // slot the writer holds until it calls done(*held).
    Action* next(Writer& w, unsigned* held);
    void done(unsigned held);

    // True when every subscribed file writer has executed the last action.
    bool isOfflineDataFlushed();
    void getMeasValues(uint32_t* size, uint32_t* maxSize, uint32_t* count, uint32_t* maxCount) const;
    bool getWriterQueueCnt(const Writer& w, unsigned long* count) const;
    unsigned measIdx() const { return measIdx_; }
    unsigned writerCount() const { return nWriters_.load(); }

    // A writer found files of its drive gone (the drive vanished, or its
    // folder was made anew), or a drive that was full when it dropped a file
    // has room again: the logging application reads the causes once (the
    // MEAS_STORE_* bits of meas_app_store.h) and goes on in new files.
    void noteDriveLoss(unsigned cause) { driveLost_.fetch_or(cause); }
    unsigned takeDriveLoss() { return driveLost_.exchange(0); }

    // Whether a USB drive writer made for this back end has not subscribed.
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
        char name[21] = {};
    };
    // Live files of the measurement from which the start-up window no longer
    // keeps the queue: half of its virtual file slots, so that the other half
    // is left for the files opened while the late writers catch up.
    static constexpr unsigned kStartupKeepFiles = VirtualFiles::kSlots / 2;

    bool checkOversizeTimeout();
    bool inStartupWindow();
    void finishDraining(Slot& s);       // with the queue lock held
    bool removeLocked(Writer& w);

    Slot slots_[kWriters];
    std::atomic<bool> startup_{true};
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
};

}  // namespace measure::store
