// Copy tasks as the stop sees them (copy_pending.h). The lock guards the list
// and each entry's fields; it is never held across a log line or a call to a
// drive, and the condition wait gives it up while it waits.
#include "logging/drives/copy_pending.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/syslogx.h"

struct MeasCopyEntry {
    std::string from, destDrive;
    int64_t size = -1;   // the source's bytes, -1 not known yet
    int64_t held = -1;   // the recording's bytes under its name on the destination, -1 not looked at yet
    bool cut = false;    // the stop gave the copy up
    bool named = false;  // ... and has said so in the log
};

namespace {

enum class Stop { RUNNING, RELEASED, ENDED };

std::mutex gMx;
std::condition_variable gCv;
std::vector<std::shared_ptr<MeasCopyEntry>> gCopies;
Stop gStop = Stop::RUNNING;

// The line that names a copy as not made (copied out under the lock).
void logNotMade(const MeasCopyEntry& e, const char* why) {
    char what[160];
    if (e.size >= 0 && e.held >= 0)
        std::snprintf(what, sizeof what, "the drive holds %lld of its %lld bytes", static_cast<long long>(e.held),
                      static_cast<long long>(e.size));
    else if (e.size >= 0)
        std::snprintf(what, sizeof what, "its %lld bytes are not copied", static_cast<long long>(e.size));
    else
        std::snprintf(what, sizeof what, "its source was not read");
    syslogx(147, "meas_app_copyLastFile() the copy of '%s' to '%s' is not made (%s): %s", e.from.c_str(),
            e.destDrive.c_str(), why, what);
}

}  // namespace

MeasPendingCopy::MeasPendingCopy(const std::string& from, const char* destDrive)
    : entry_(std::make_shared<MeasCopyEntry>()) {
    entry_->from = from;
    entry_->destDrive = destDrive ? destDrive : "?";
    std::lock_guard<std::mutex> lk(gMx);
    // one that comes after the stop's wait is not made; it names itself at its end
    if (gStop == Stop::ENDED) entry_->cut = true;
    else gCopies.push_back(entry_);
}

MeasPendingCopy::~MeasPendingCopy() {
    MeasCopyEntry unnamed;
    {
        std::lock_guard<std::mutex> lk(gMx);
        gCopies.erase(std::remove(gCopies.begin(), gCopies.end(), entry_), gCopies.end());
        if (entry_->cut && !entry_->named) unnamed = *entry_;
        entry_->named = true;
        gCv.notify_all();
    }
    if (unnamed.cut) logNotMade(unnamed, "the logging had ended");
}

void MeasPendingCopy::describe(const std::string& from, const char* destDrive) {
    std::lock_guard<std::mutex> lk(gMx);
    entry_->from = from;
    entry_->destDrive = destDrive ? destDrive : "?";
}

void MeasPendingCopy::sourceSize(int64_t bytes) {
    std::lock_guard<std::mutex> lk(gMx);
    entry_->size = bytes;
}

bool MeasPendingCopy::awaitStart(int ms) {
    std::unique_lock<std::mutex> lk(gMx);
    gCv.wait_for(lk, std::chrono::milliseconds(std::max(ms, 0)),
                 [this] { return gStop != Stop::RUNNING || entry_->cut; });
    return !entry_->cut;
}

bool MeasPendingCopy::awaitClosed(const std::function<bool()>& closed, int ms) {
    std::unique_lock<std::mutex> lk(gMx);
    // (closed() takes the lock of the writers' names: never the other way round)
    gCv.wait_for(lk, std::chrono::milliseconds(std::max(ms, 0)), [&] { return entry_->cut || closed(); });
    return !entry_->cut && closed();
}

void MeasPendingCopy::giveUp(const char* why) {
    MeasCopyEntry unnamed;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (entry_->named) return;
        entry_->cut = entry_->named = true;
        unnamed = *entry_;
    }
    logNotMade(unnamed, why);
}

bool MeasPendingCopy::cut() const {
    std::lock_guard<std::mutex> lk(gMx);
    return entry_->cut;
}

bool MeasPendingCopy::piece(int64_t heldAtName) {
    std::lock_guard<std::mutex> lk(gMx);
    if (!entry_->cut) entry_->held = heldAtName;
    return !entry_->cut;
}

void meas_app_finishPendingCopies(bool filesWhole, int limitMs) {
    std::vector<MeasCopyEntry> notMade;
    {
        std::unique_lock<std::mutex> lk(gMx);
        if (filesWhole) {
            gStop = Stop::RELEASED;
            gCv.notify_all();
            gCv.wait_for(lk, std::chrono::milliseconds(std::max(limitMs, 0)), [] { return gCopies.empty(); });
        }
        gStop = Stop::ENDED;
        for (const auto& e : gCopies) {
            e->cut = e->named = true;
            notMade.push_back(*e);
        }
        gCv.notify_all();
    }
    for (const MeasCopyEntry& e : notMade)
        logNotMade(e, filesWhole ? "the stop could not wait for it" : "the writers had not finished their files");
}

void meas_app_pendingCopiesLookAgain() {
    std::lock_guard<std::mutex> lk(gMx);
    gCv.notify_all();
}

void meas_app_allowPendingCopies() {
    std::lock_guard<std::mutex> lk(gMx);
    gStop = Stop::RUNNING;
}
