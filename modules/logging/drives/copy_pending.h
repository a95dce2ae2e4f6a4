// The copies to another drive (the USB stick) that wait for their start or
// run, as the stop sees them. A copy waits a few seconds before it starts,
// and then for the writer to close its file; a stop in that time would end
// the process before the copy is made. The stop, once the writers are done, lets
// the waiting copies go at once and waits a bounded time for them; a copy
// that has not ended by then is cut at its next piece and named in the log
// (the file, and what the destination holds of it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct MeasCopyEntry;

// A copy task's registration, from its start to its end (scope), with what
// it copies (device paths: the source file, the destination drive): a stop
// that comes at once names it so.
class MeasPendingCopy {
public:
    MeasPendingCopy(const std::string& from, const char* destDrive);
    ~MeasPendingCopy();
    MeasPendingCopy(const MeasPendingCopy&) = delete;
    MeasPendingCopy& operator=(const MeasPendingCopy&) = delete;

    // What the copy is of, where the source found differs, and, once known,
    // the source's size in bytes.
    void describe(const std::string& from, const char* destDrive);
    void sourceSize(int64_t bytes);
    // Waits up to ms before the start; returns at once when the stop lets
    // the copies go. False when the copy is not to be made (the stop gave it
    // up: it is named in the log already, or is named when this ends).
    bool awaitStart(int ms);
    // Waits up to ms until closed() holds (asked again whenever a writer
    // lets a file go, meas_app_pendingCopiesLookAgain). The stop does not
    // end this wait when it lets the copies go, as the file is not whole
    // yet; it gives the copy up at the end of its own wait. True once
    // closed() holds; false when the time is up or the stop gave it up
    // (cut()).
    bool awaitClosed(const std::function<bool()>& closed, int ms);
    // The copy is not made, for the reason why: named in the log once.
    void giveUp(const char* why);
    // Before each piece written: the bytes of the recording the destination
    // holds under its name by then. False when the stop gave the copy up:
    // the copy ends here, leaving no part of its own behind.
    bool piece(int64_t heldAtName);
    // Whether the stop gave the copy up (it ends without a word of its own).
    bool cut() const;

private:
    std::shared_ptr<MeasCopyEntry> entry_;
};

// The stop: with filesWhole (the writers closed their files) the waiting
// copies start now and are given up to limitMs to end; without, none starts.
// Each copy not ended is named in the log as not made; a copy that registers
// after this call names itself. Called once, by the orderly shutdown.
void meas_app_finishPendingCopies(bool filesWhole, int limitMs);
// A writer let a file go: the copies that wait for a close look again.
void meas_app_pendingCopiesLookAgain();
// Copies are waited for again (tests that run the logging more than once).
void meas_app_allowPendingCopies();
