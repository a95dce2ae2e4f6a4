// A USB stick pulled while its writer's task waits on it (a sync that the
// stick holds, for seconds on a slow one), and another stick plugged in: the
// stick that came is a new drive. Left to the waiting writer it would get
// nothing until that wait ends, and then the backlog of the stick that went,
// file by file behind the others, until the back end gives its files up. So
// the back end gives it a writer of its own, which joins at the queue's end
// and writes the files begun from then on; the waiting writer writes nothing
// more once its wait ends, names what it missed of the files the new writer
// does not write, and ends.
#include <sys/stat.h>

#include "logging/drives/meas_app_drives.h"
#include "logging/store/backend.h"
#include "logging/store/writer.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace measure::store {

BFSWriter::DriveWait::DriveWait(BFSWriter& w, int fd, const char* path) : w_(w) {
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    std::string host = dev_path(path);
    std::lock_guard<std::mutex> lk(w_.waitMx_);
    w_.waited_.on = known && !host.empty();
    w_.waited_.host = std::move(host);
    w_.waited_.dev = st.st_dev;
    w_.waited_.ino = st.st_ino;
}

BFSWriter::DriveWait::~DriveWait() {
    std::lock_guard<std::mutex> lk(w_.waitMx_);
    w_.waited_.on = false;
}

bool BFSWriter::waitsOnDrive() const {
    std::lock_guard<std::mutex> lk(waitMx_);
    return waited_.on;
}

bool BFSWriter::heldByReplacedDrive() const {
    if (type() != WRITER_TYPE_USB) return false;
    Waited w;
    {
        std::lock_guard<std::mutex> lk(waitMx_);
        if (!waited_.on) return false;
        w = waited_;
    }
    // no drive there (yet): the one it waits on may come back
    if (meas_app_driveAvDebounce(drive_.c_str()) != 0) return false;
    // the drive there holds something else at the name, or nothing
    struct stat st {};
    return ::lstat(w.host.c_str(), &st) != 0 || st.st_dev != w.dev || st.st_ino != w.ino;
}

Writer* BFSWriter::writerForNewDrive() {
    if (type() != WRITER_TYPE_USB) return nullptr;
    try {
        return new USBWriter(backend_, drive_.c_str(), counts_);
    } catch (...) {
        return nullptr;
    }
}

void BFSWriter::endForNewDrive() {
    Step step(*this);
    dropStreamsOfGoneDrive();
    MissedActions missed;
    if (backend_.takeMissed(*this, missed)) tellMissed(missed, kMissedWhileRemoved, true);
    closeAllFiles();
    syslogx(150, "USBWriter: m0%u: the writer of the drive that went ends, the drive that came has its own",
            measIdx_ + 1);
}

void Backend::giveNewDrivesWriters() {
    std::vector<Writer*> writers;
    {
        ScopeLock sl(this, "Backend::giveNewDrivesWriters");
        writers = owned_;
    }
    for (Writer* w : writers) {
        if (w->superseded() || !w->subscribed() || !w->heldByReplacedDrive()) continue;
        Writer* fresh = w->writerForNewDrive();   // owned by this back end from here on
        if (!fresh) {
            syslogx(147, "Backend::taskMain(): m0%u: no writer could be made for the drive that came", measIdx_ + 1);
            continue;
        }
        {
            ScopeLock sl(this, "Backend::giveNewDrivesWriters");
            // the stop's halt came meanwhile: it named what the writer left
            // (the writer made is deleted with the others)
            if (halted_.load()) return;
            const unsigned id = w->id();
            syslogx(148, "Backend::taskMain(): writer %s (%u) waits on a drive that went while another came: the "
                         "drive that came gets a writer of its own",
                    id < kWriters ? slots_[id].name : "", id);
            fresh->setPredecessor(w);
            w->supersede();
            // what it passes from here on is named by it when its wait ends
            removeLocked(*w);
        }
        char name[24];
        std::snprintf(name, sizeof name, "r_USBWriter%u", measIdx_ + 1);
        if (!fresh->taskStart(name, 146, 10000, VX_FP_TASK, 0))
            syslogx(147, "Backend::taskMain(): m0%u: the writer for the drive that came did not start", measIdx_ + 1);
    }
}

}  // namespace measure::store
