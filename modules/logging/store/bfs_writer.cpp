// File writers of the internal drives and the USB drive.
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/kernel/kernel.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/drive_entry.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/store/backend.h"
#include "logging/store/virtual_file.h"
#include "logging/store/writer.h"
#include "platform/files.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"

namespace measure::store {

namespace {
constexpr uint32_t kFlushBytes = 16384;
constexpr uint32_t kFlushAge = 5000;    // 0.5 s in 0.1 ms
// Item ends kept before the writer asks the drive which of them it holds.
constexpr size_t kItemEndsMax = 1024;
// Names tried after the one of a file that is taken on the drive: a whole
// round of fragments.
constexpr unsigned kNameTries = 256;

// Makes a measurement file where nothing stands at its name, noted first as
// one of this run's: the look for empty files left behind never takes it
// while it is still empty. What stood there already is not this run's, and
// is not noted. Readable by all, written only by the device.
int makeAnew(const std::string& host) {
    if (host.empty()) {
        errno = ENOENT;
        return -1;
    }
    const bool noted = meas_app_noteFileMade(host);
    const int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && noted) {
        const int err = errno;
        meas_app_forgetFileMade(host);
        errno = err;
    }
    return fd;
}

// A file reaches the drive only once the counters that name it are on the
// NVRAM's disk: after a cut they never go back behind a file that carries
// them. The writer waits (never a raster). A store that fails does not hold
// the file back, whose records are not to be lost for it: that is said, and
// the NVRAM goes on trying.
void awaitCounters(const VirtualFile& vf, const std::string& drive, const char* name) {
    static thread_local uint8_t flood = 0;
    const MeasAppStore_FileInfo_s* info = vf.fileInfo();
    if (!info || nvram_dbs_stored(info->countersStamp)) return;
    syslogx(151, "BFSWriter::open(): '%s/%s' waits for its counters to be stored", drive.c_str(), name);
    if (!nvram_dbs_flushTo(info->countersStamp))
        SYSLOGX_FLOOD(flood, 147, "BFSWriter::open(): the counters of '%s/%s' are not stored: the file is made all "
                                  "the same", drive.c_str(), name);
}

// Moves a file's last whole item on the drive up to the last item end within
// the first onDrive bytes and forgets the ends before it.
template <class Entry>
void settle(Entry& e, uint64_t onDrive) {
    size_t n = 0;
    while (n < e.itemEnds.size() && e.itemEnds[n].end <= onDrive) e.whole = e.itemEnds[n++].end;
    e.itemEnds.erase(e.itemEnds.begin(), e.itemEnds.begin() + long(n));
}
}  // namespace

BFSWriter::BFSWriter(Backend& backend, const char* drive, dataWriteCounts_t counts)
    : BFSWriter(WRITER_TYPE_BFS, backend, drive, counts) {}

BFSWriter::BFSWriter(uint8_t type, Backend& backend, const char* drive, dataWriteCounts_t counts)
    : Writer(backend, type), drive_(drive ? drive : ""), counts_(counts) {}

BFSWriter::~BFSWriter() { taskStop(WAIT_FOREVER); }

USBWriter::USBWriter(Backend& backend, const char* drive, dataWriteCounts_t counts)
    : BFSWriter(WRITER_TYPE_USB, backend, drive, counts) {
    mediaAvailable_.store(false);
}

// A writer that waits for its drive or its counters runs: only one that has
// stopped passing its loop outside such a wait counts as dead. (One whose
// drive holds it for good gives up its oldest files when the files run short
// of slots, and is removed by the back end's rule for a queue that stays
// oversized; either way the back end keeps aside only the action it
// executes, and names what it misses.)
bool BFSWriter::alive() const {
    if (inStep()) return true;
    // The writer's task may note a pass between the reading of the clock and
    // of its pass: that pass lies after `now`, a difference below 0.
    const uint32_t now = writerClock();
    return int32_t(now - lastPass_.load()) <= int32_t(aliveTimeout_) ||
           int32_t(now - created_) <= int32_t(2 * aliveTimeout_);
}

bool BFSWriter::skipped(int vfIdx) const {
    const WriterFileEntry_t& e = entry(vfIdx);
    return e.vfIdx == vfIdx && (e.state == SKIP || e.state == LOST);
}

bool BFSWriter::isOpen(int vfIdx) {
    const WriterFileEntry_t& e = entry(vfIdx);
    return e.vfIdx == vfIdx && e.state == OPEN && e.stream && e.fd >= 0;
}

bool BFSWriter::write(int vfIdx, const uint8_t* data, unsigned length) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx == vfIdx && e.state == LOST) {
        countFailure();
        tallyAbsent(e);
        return false;
    }
    if (e.vfIdx == vfIdx && e.state == SKIP) {
        // a file dropped for a fault of the drive: its records are lost
        if (e.refused) countFailure();
        tallyAbsent(e);
        return true;
    }
    // the internal drive, gone a moment ago, may be back for a new file
    if (!mediaAvailable_.load() && type() == WRITER_TYPE_BFS && driveThere()) mediaAvailable_.store(true);
    if (!mediaAvailable_.load()) {
        // records for the internal drive are lost; no USB stick is the usual state
        if (type() == WRITER_TYPE_BFS) countFailure();
        dropForAbsence(e, vfIdx);
        return false;
    }
    if (!isOpen(vfIdx) && !open(vfIdx)) {
        // the record that was to open a file the drive refused is lost too
        if (skipped(vfIdx) && e.refused) countFailure();
        return false;
    }
    if (!writeBytes(vfIdx, data, length)) return false;
    itemWritten(vfIdx);
    return true;
}

void BFSWriter::dropForAbsence(WriterFileEntry_t& e, int vfIdx) {
    const bool lost = type() == WRITER_TYPE_BFS;
    if (e.vfIdx != -1 && e.vfIdx != vfIdx) {
        // the entry is another file's: this block is named on its own
        WriterFileEntry_t one;
        one.vfIdx = vfIdx;
        one.absent = true;
        tallyAbsent(one);
        nameAbsentGap(one);
        dropPendingMeta(vfIdx);
        return;
    }
    // (a USB drive's open streams were dropped when it went)
    e.vfIdx = vfIdx;
    e.state = lost ? LOST : SKIP;
    e.absent = true;
    // the metadata kept for its opening goes with it
    const auto p = pending_.find(vfIdx);
    if (p != pending_.end()) {
        e.gapBytes += uint32_t(p->second.bytes.size());
        e.gapItems += p->second.items;
    }
    dropPendingMeta(vfIdx);
    // what it missed before, still to be named once it was made, is part of
    // what the drive lacks of it now: one line names it all
    for (auto g = afterGap_.begin(); g != afterGap_.end(); ++g) {
        if (g->file.vfIdx != vfIdx) continue;
        addToGap(e, g->file.bytes, g->file.items, g->file.firstTs, g->file.lastTs);
        afterGap_.erase(g);
        break;
    }
    tallyAbsent(e);
    // said once by its name; all it lacks is named when it is done on this writer
    char path[40];
    pathForLine(vfIdx, e.gapName, path, sizeof path);
    syslogx(148 | SYSLOGX_LOSS, "BFSWriter::write() - skipping '%s' due to media absence", path);
}

void BFSWriter::skippedBlock(int vfIdx) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx == vfIdx) tallyAbsent(e);
}

void BFSWriter::tallyAbsent(WriterFileEntry_t& e) {
    if (!e.absent || !current_ || current_->vfIdx() != e.vfIdx) return;
    addToGap(e, current_->dataSize(), 1, current_->firstTimestamp(), current_->timestamp());
}

void BFSWriter::addToGap(WriterFileEntry_t& e, uint32_t bytes, uint32_t items, uint32_t first, uint32_t last) {
    if (!e.gapName[0]) {
        virtualFiles.fileName(measIdx_, e.vfIdx, e.gapName, sizeof e.gapName);
        e.gapHeader = headerTold(e.vfIdx) ? 0 : virtualFiles.headerSize(measIdx_, e.vfIdx);
    }
    e.gapBytes += bytes;
    e.gapItems += items;
    // the blocks' frames interleave: the earliest and the latest stamp of any
    if (first && last) {
        if (!e.gapFirst || int32_t(first - e.gapFirst) < 0) e.gapFirst = first;
        if (!e.gapLast || int32_t(last - e.gapLast) > 0) e.gapLast = last;
    }
}

void BFSWriter::tallyHeld(WriterFileEntry_t& e, uint32_t onDrive) {
    settle(e, onDrive);   // the items whole on the drive are not lost
    if (e.total <= onDrive) return;
    e.absent = true;
    uint32_t first = 0, last = 0;
    for (const auto& i : e.itemEnds) {
        if (!i.firstTs || !i.lastTs) continue;
        if (!first || int32_t(i.firstTs - first) < 0) first = i.firstTs;
        if (!last || int32_t(i.lastTs - last) > 0) last = i.lastTs;
    }
    // (an item cut on the drive is one of them)
    addToGap(e, e.total - onDrive, std::max<uint32_t>(uint32_t(e.itemEnds.size()), 1u), first, last);
}

bool BFSWriter::writeBytes(int vfIdx, const uint8_t* data, unsigned length) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx != vfIdx || !e.stream) {
        SYSLOGX_FLOOD(floodPtr_, 147 | SYSLOGX_LOSS, "BFSWriter::write() - failed to get fileptr with index (%d)", vfIdx);
        return false;
    }
    if (length && std::fwrite(data, 1, length, e.stream) != length) {
        const int err = errno ? errno : EIO;
        countFailure();
        SYSLOGX_FLOOD(floodWrite_, 147 | SYSLOGX_LOSS, "BFSWriter::write() - failed to write to file with index (%d) '%s': %s",
                      vfIdx, e.path, std::strerror(err));
        if (!backToWholeItem(e, err)) dropFile(e, err);
        return false;
    }
    bytesWritten(e, length);
    return true;
}

void BFSWriter::itemWritten(int vfIdx) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx != vfIdx || !e.stream) return;
    // with the stamps of the action that wrote it: named should the drive never get it
    WriterFileEntry_t::ItemEnd end;
    end.end = e.total;
    if (current_) {
        end.firstTs = current_->firstTimestamp();
        end.lastTs = current_->timestamp();
    }
    e.itemEnds.push_back(end);
    if (e.itemEnds.size() < kItemEndsMax) return;
    // the drive holds all but the last few kilobytes the stream buffers
    struct stat st {};
    if (::fstat(e.fd, &st) == 0) settle(e, uint64_t(st.st_size));
}

// The stream loses track of what reached the drive when a write fails: the
// drive may hold part of an item, and the stream may still hold items and
// write them later at the wrong place. So the file is cut back to the end of
// the last whole item the drive holds and the stream starts afresh there:
// nothing of a broken item stays, and what follows is readable again.
bool BFSWriter::backToWholeItem(WriterFileEntry_t& e, int err) {
    struct stat st {};
    const uint64_t onDrive = ::fstat(e.fd, &st) == 0 ? uint64_t(st.st_size) : e.whole;
    settle(e, onDrive);
    const uint32_t lost = uint32_t(e.itemEnds.size());   // written, but not (whole) on the drive
    e.itemEnds.clear();
    __fpurge(e.stream);
    std::clearerr(e.stream);
    const bool cut = ::ftruncate(e.fd, off_t(e.whole)) == 0 && ::fseeko(e.stream, off_t(e.whole), SEEK_SET) == 0;
    e.total = e.whole;
    countFailure(lost);
    SYSLOGX_FLOOD(floodCut_, 147 | SYSLOGX_LOSS, "BFSWriter: '%s' taken back to its last whole item at byte %u (%s), %u items lost%s",
                  e.path, unsigned(e.whole), std::strerror(err), unsigned(lost), cut ? "" : ", cut failed");
    return cut && e.whole >= e.headerEnd;
}

void BFSWriter::dropFile(WriterFileEntry_t& e, int err, const char* cause) {
    uint64_t onDrive = 0;
    if (e.stream) {
        // A flush that failed before leaves nothing in the stream, and the
        // next one succeeds without writing: only the file's size tells
        // what of it reached the drive.
        const bool flushed = std::fflush(e.stream) == 0;
        const int flushErr = errno;
        struct stat st {};
        const bool sized = ::fstat(e.fd, &st) == 0;
        if (flushed && sized && uint64_t(st.st_size) >= e.total) settle(e, e.total);
        else backToWholeItem(e, flushed ? (err ? err : EIO) : flushErr);
        if (::fstat(e.fd, &st) == 0) onDrive = uint64_t(st.st_size);
        std::fclose(e.stream);
        meas_app_noteFileLetGo(e.path);
    }
    const bool noHeader = e.whole < e.headerEnd;
    if (noHeader) {
        // its header did not reach the drive whole: no file is better than an empty or broken one
        const std::string host = dev_path(e.path);
        if (!host.empty() && ::unlink(host.c_str()) == 0) {
            onDrive = 0;
            noteMade(e, nullptr);
        }
        meas_app_forgetFileMade(host);
    }
    // a limit of its own: the refusals before it must not silence it
    SYSLOGX_FLOOD(floodDrop_, 147 | SYSLOGX_LOSS, "BFSWriter: '%s' dropped: %s (%s, %u bytes on the drive)", e.path,
                  noHeader ? "its header did not reach the drive, removed" : "no cut possible",
                  err ? std::strerror(err) : cause ? cause : "not the drive", unsigned(onDrive));
    e.stream = nullptr;
    e.fd = -1;
    e.state = SKIP;
    e.refused = true;
    // any drive that refused it is looked at again, as a full one is
    e.waitsForDrive = err != 0;
    e.roomTold = false;
}

void BFSWriter::dropStream(WriterFileEntry_t& e) {
    if (!e.stream) return;
    struct stat st {};
    const unsigned onDrive = ::fstat(e.fd, &st) == 0 ? unsigned(st.st_size) : 0u;
    // what the drive did not get of the file (what its stream held, a
    // last item the drive took in part) is named with the rest it misses
    tallyHeld(e, onDrive);
    // closed without a write: the buffer is emptied first, and the fd goes with the stream
    __fpurge(e.stream);
    std::fclose(e.stream);
    meas_app_noteFileLetGo(e.path);
    syslogx(148 | SYSLOGX_LOSS, "BFSWriter: '%s' dropped due to media absence: %u bytes of it reached the drive, nothing more is "
                 "written to it",
            e.path, onDrive);
    if (type() == WRITER_TYPE_USB && onDrive) noteCut(e);
    e.stream = nullptr;
    e.fd = -1;
    e.state = SKIP;
    e.refused = false;
    e.waitsForDrive = false;
    e.absent = true;
    e.itemEnds.clear();
    dropPendingMeta(e.vfIdx);
}

void BFSWriter::noteCut(const WriterFileEntry_t& e) {
    // a drive still there whose name leads elsewhere now (its folder made
    // anew) holds no start of this file
    if (mediaAvailable_.load() && !superseded()) return;
    // only a start under the counters' own name: the copy comes by the counters
    char name[16];
    const char* slash = std::strrchr(e.path, '/');
    if (slash && virtualFiles.fileName(measIdx_, e.vfIdx, name, sizeof name) && std::strcmp(slash + 1, name) == 0)
        backend_.noteCutOnDrive(drive_.c_str(), name);
}

bool BFSWriter::stillNamed(const WriterFileEntry_t& e) const {
    struct stat own {}, named {};
    const std::string host = dev_path(e.path);
    return ::fstat(e.fd, &own) == 0 && !host.empty() && ::lstat(host.c_str(), &named) == 0 &&
           own.st_dev == named.st_dev && own.st_ino == named.st_ino;
}

void BFSWriter::dropStreamsOfGoneDrive() {
    for (auto& e : files_)
        if (e.vfIdx != -1 && e.stream) dropStream(e);
}

void BFSWriter::dropStreamsNoLongerNamed() {
    for (auto& e : files_)
        if (e.vfIdx != -1 && e.stream && !stillNamed(e)) dropStream(e);
}

void BFSWriter::bytesWritten(WriterFileEntry_t& e, uint32_t n) {
    e.total += n;
    if (e.sinceFlush == 0) e.firstUnflushed = writerClock();
    e.sinceFlush += n;
    if (e.sinceFlush >= kFlushBytes) {
        dirDirty_ = true;
        e.firstUnflushed = writerClock();
        e.sinceFlush %= kFlushBytes;
        // keep "something unflushed" visible to the flush timing
        if (e.sinceFlush == 0) e.sinceFlush = kFlushBytes;
    }
    // the logging raster reads the counters for the write rates
    if (counts_.writes) std::atomic_ref<uint32_t>(*counts_.writes).fetch_add(1, std::memory_order_relaxed);
    if (counts_.bytes) std::atomic_ref<uint32_t>(*counts_.bytes).fetch_add(n, std::memory_order_relaxed);
}

void BFSWriter::countFailure(uint32_t n) {
    if (counts_.failures && n)
        std::atomic_ref<uint32_t>(*counts_.failures).fetch_add(n, std::memory_order_relaxed);
}

bool BFSWriter::open(int vfIdx) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx == vfIdx) {
        syslogx(147, "BFSWriter::open(): tried opening a file more than once, with failed attempts in the past");
        e.state = SKIP;
        return false;
    }
    if (e.vfIdx != -1) {
        syslogx(147, "BFSWriter::open(): no empty file entry slot");
        return false;
    }
    auto skip = [&] {
        e.vfIdx = vfIdx;
        e.state = SKIP;
        dropPendingMeta(vfIdx);
        return false;
    };
    VirtualFile* vf = virtualFiles.get(measIdx_, vfIdx);
    if (!vf) {
        SYSLOGX_FLOOD(floodInvalid_, 147 | SYSLOGX_LOSS, "BFSWriter::open(): trying to access invalid vfile (%d/%d)", int(measIdx_),
                      vfIdx);
        return skip();
    }
    if (!vf->isRegisteredWriter(measIdx_, id())) {
        char skipped[39] = "";
        if (!vf->getFileName(skipped, sizeof skipped)) std::snprintf(skipped, sizeof skipped, "(file %d)", vfIdx);
        syslogx(148, "BFSWriter::open(): Skipping file %s - writer not registered", skipped);
        return skip();
    }
    char name[39];
    if (!vf->getFileName(name, sizeof name)) {
        syslogx(147, "BFSWriter::open(): trying to access file, without name available (vfIdx %d)", vfIdx);
        return skip();
    }
    {
        // the wait for the NVRAM's disk: the stop's halt may come meanwhile,
        // and this action is then lost (it names it)
        countersWait_ = true;
        Released wait(*this);
        awaitCounters(*vf, drive_, name);
    }
    countersWait_ = false;
    if (halted()) return false;   // the file is not made: the halt named it
    int err = 0;
    if (!openFileAtomic(e, vfIdx, name, &err)) {
        SYSLOGX_FLOOD(floodOpen_, 147 | SYSLOGX_LOSS, "BFSWriter::open(): failed to open file (%s/%s)", drive_.c_str(), name);
        skip();
        // its records are lost; a drive that refused it (full, read-only,
        // not allowed, failing) is looked at again until it takes a new file
        e.refused = true;
        e.waitsForDrive = err != 0;
        return false;
    }
    const char* why = nullptr;
    if (!vf->writeHeader(*this, &why) || !writePendingMeta(vfIdx)) {
        SYSLOGX_FLOOD(floodHeader_, 147 | SYSLOGX_LOSS, "BFSWriter::open(): failed to write header (%s)", e.path);
        // a write the drive refused dropped it already, naming the drive's error
        if (e.stream)
            dropFile(e, 0, !mediaAvailable_.load() ? "the drive went away" : why ? why : "a header block was refused");
        return skip();
    }
    // The header goes through to the file now, not with the first timed
    // flush: a file cut off by a power cut in its first moments still reads
    // up to the cut instead of being left empty.
    if (std::fflush(e.stream) != 0) {
        err = errno;
        countFailure();
        SYSLOGX_FLOOD(floodHeader_, 147 | SYSLOGX_LOSS, "BFSWriter::open(): failed to write header (%s): %s", e.path,
                      std::strerror(err));
        dropFile(e, err);
        return skip();
    }
    settle(e, e.total);
    e.headerEnd = e.total;
    // with its header on the drive the file is no empty leftover: the note
    // that spared it goes, so the notes stay as few as the files being made
    meas_app_forgetFileMade(dev_path(e.path));
    tellAfterGap(vfIdx, true);
    return true;
}

bool BFSWriter::openFileAtomic(WriterFileEntry_t& e, int vfIdx, const char* name, int* err) {
    char path[40];
    int n = std::snprintf(path, sizeof path, "%s/%s", drive_.c_str(), name);
    *err = 0;
    if (n < 0 || size_t(n) >= sizeof path) {
        syslogx(147, "BFSWriter::openFileAtomic() - failed to generate output name (%s)", name);
        return false;
    }
    // later lines about a file that could not be made name it too
    std::memcpy(e.path, path, sizeof path);
    // The file is made anew, never over what stands at its name: an earlier
    // recording keeps its bytes, a FIFO is never written into (it would take
    // the records, or hold the writer for good), and no link is followed.
    // The lap counters skip names in use; one that appears after them (or
    // that they could not see) makes the file go to the next free name on
    // this drive, by the rule of the splits, so that no record is lost to it.
    std::string host = dev_path(path);
    int fd = makeAnew(host);
    if (fd < 0 && errno == EEXIST) {
        const char* what = meas_driveEntryKind(host);
        const std::string taken = path;
        char next[16];
        std::snprintf(next, sizeof next, "%s", name);
        for (unsigned tries = 0; fd < 0 && errno == EEXIST && tries < kNameTries; ++tries) {
            if (!LapOutFra_nextFileName(next, next, sizeof next)) break;
            n = std::snprintf(path, sizeof path, "%s/%s", drive_.c_str(), next);
            if (n < 0 || size_t(n) >= sizeof path) break;
            host = dev_path(path);
            fd = makeAnew(host);
        }
        if (fd >= 0) {
            syslogx(148, "BFSWriter::openFileAtomic: '%s' is in use (%s): the file is made as '%s' on this drive",
                    taken.c_str(), what ? what : "gone again", path);
            std::memcpy(e.path, path, sizeof path);
        }
    }
    if (fd < 0) {
        *err = host.empty() ? ENOENT : errno;
        countFailure();
        if (*err == EEXIST) {
            syslogx(147, "BFSWriter::openFileAtomic: '%s' and the %u names after it are in use: the file is not "
                         "made on this drive now",
                    e.path, kNameTries);
        } else {
            syslogx(147, "BFSWriter::openFileAtomic: fd open err %d '%s': %s", *err, path, std::strerror(*err));
        }
        return false;
    }
    syslogx(151, "BFSWriter::openFileAtomic: fd %d opened and checked '%s', opening pF", fd, path);
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        syslogx(147, "BFSWriter::openFileAtomic: fdopen failed - releasing fd %d - errno %d", fd, errno);
        ::close(fd);
        ::unlink(host.c_str());   // made just now and empty: no file is better than an empty one
        meas_app_forgetFileMade(host);
        return false;
    }
    meas_app_noteFileMadeAs(drive_ + "/" + name, path);   // a copy takes this file for the counters' name
    e = WriterFileEntry_t{};
    e.vfIdx = vfIdx;
    e.state = OPEN;
    e.fd = fd;
    e.stream = f;
    std::memcpy(e.path, path, sizeof path);
    noteMade(e, path);
    filesOpen_ = true;
    return true;
}

void BFSWriter::noteMade(const WriterFileEntry_t& e, const char* path) {
    std::lock_guard<std::mutex> lk(madeMx_);
    Made& m = made_[entryIndex(e)];
    m.vfIdx = path ? e.vfIdx : -1;
    std::snprintf(m.path, sizeof m.path, "%s", path ? path : "");
}

bool BFSWriter::madeOnDrive(int vfIdx, char* path, unsigned size) const {
    std::lock_guard<std::mutex> lk(madeMx_);
    const Made& m = made_[unsigned(vfIdx) % kFiles];
    if (m.vfIdx != vfIdx) return false;
    std::snprintf(path, size, "%s", m.path);
    return true;
}

void BFSWriter::nameOnDrive(int vfIdx, const char* name, char* path, unsigned size) const {
    if (name[0]) std::snprintf(path, size, "%s/%s", drive_.c_str(), name);
    else std::snprintf(path, size, "%s/(file %d)", drive_.c_str(), vfIdx);
}

bool BFSWriter::pathForLine(int vfIdx, const char* name, char* path, unsigned size) const {
    if (madeOnDrive(vfIdx, path, size)) return true;
    nameOnDrive(vfIdx, name, path, size);
    return false;
}

bool BFSWriter::setAttrib(int vfIdx, uint32_t attrib) {
    if (!mediaAvailable_.load()) return true;
    WriterFileEntry_t& e = entry(vfIdx);
    if (e.vfIdx != vfIdx || e.fd < 0) {
        syslogx(147, "BFSWriter::setAttrib() - failed due to invalid FD, vfIdx %d, attrib %d", vfIdx, int(attrib));
        return false;
    }
    // The attribute is set by the file's name: only while that name still
    // leads to the file this writer made (a drive that went and came back
    // may hold another file there).
    if (!stillNamed(e)) {
        syslogx(147, "BFSWriter::setAttrib() - '%s' is no longer the file written, its attributes are left alone",
                e.path);
        return false;
    }
    uint32_t st = 0;
    if (!host::getFileAttributes(e.path, &st)) {
        syslogx(147, "BFSWriter::setAttrib() - failed to get file attributes, vfIdx %d", vfIdx);
        return false;
    }
    if (!host::setFileAttributes(e.path, st | attrib)) {
        syslogx(147, "BFSWriter::setAttrib() - failed to set file attributes, vfIdx %d, attrib %X, st_attrib %X",
                vfIdx, attrib, st);
        return false;
    }
    return true;
}

bool BFSWriter::close(int vfIdx) {
    dropPendingMeta(vfIdx);
    tellAfterGap(vfIdx, false);
    WriterFileEntry_t& e = entry(vfIdx);
    // (its last lines name what its entry holds)
    const auto told = std::find(headerTold_.begin(), headerTold_.end(), vfIdx);
    if (told != headerTold_.end()) headerTold_.erase(told);
    if (e.vfIdx == vfIdx && e.stream && !mediaAvailable_.load()) dropStream(e);
    if (e.vfIdx == vfIdx && e.stream) {
        // what the stream holds goes out first: a refusal leaves the file at its last whole item
        bool ok = std::fflush(e.stream) == 0;
        int err = errno;
        if (!ok) {
            countFailure();
            if (!backToWholeItem(e, err)) dropFile(e, err);
        }
        if (e.stream) {
            {
                closing_ = &e;
                DriveWait noted(*this, e.fd, e.path);
                Released wait(*this);   // (the attribute store may sync)
                setAttrib(vfIdx, host::ATTR_READ_ONLY);
            }
            closing_ = nullptr;
            if (std::fclose(e.stream) != 0 && ok) {
                ok = false;
                err = errno;
                countFailure();
            }
            e.stream = nullptr;
            // a copy may complete the file now (the writer no longer writes to it)
            meas_app_noteFileLetGo(e.path);
        }
        if (!ok) {
            // the bytes still buffered did not reach the drive
            syslogx(147, "BFSWriter::close() - failed to close file with index (%d) '%s': %s", vfIdx, e.path,
                    std::strerror(err));
            freeEntry(e);
            return false;
        }
        dirDirty_ = true;
        freeEntry(e);
        flushDir();
        return true;
    }
    if (e.vfIdx == vfIdx && e.state == OPEN) {
        syslogx(147, "BFSWriter::close() - failed to get fileptr with index (%d)", vfIdx);
        return false;
    }
    // (said by its name; one gone already is said by nothing)
    char virt[39] = "";
    if (virtualFiles.fileName(measIdx_, vfIdx, virt, sizeof virt))
        syslogx(151, "BFSWriter::close() - purely virtual file %s", virt);
    if (e.vfIdx == vfIdx) freeEntry(e);
    return true;
}

bool BFSWriter::flush(int vfIdx) {
    WriterFileEntry_t& e = entry(vfIdx);
    if (!mediaAvailable_.load() || e.vfIdx != vfIdx || e.sinceFlush == 0) return false;
    if (e.fd < 0 || !e.stream) {
        SYSLOGX_FLOOD(floodFlush_, 147, "BFSWriter::flush(): file invalid: fd=%d, pFile=0x%08X", e.fd, 0u);
        return false;
    }
    if (std::fflush(e.stream) != 0) {
        const int err = errno;
        countFailure();
        SYSLOGX_FLOOD(floodFlush_, 147, "BFSWriter::flush(): fflush failed '%s': %s", e.path, std::strerror(err));
        if (!backToWholeItem(e, err)) dropFile(e, err);
        return false;
    }
    settle(e, e.total);   // every whole item is on the drive now
    // its drive went while it waited on it, and another came
    if (superseded()) return false;
    // the halt may drop the entry while the task waits without its hold
    const int fd = e.fd;
    int synced;
    {
        DriveWait noted(*this, fd, e.path);
        Released wait(*this);
        synced = ::fdatasync(fd);
    }
    if (synced != 0) {
        const int err = errno;
        countFailure();
        SYSLOGX_FLOOD(floodFlush_, 147, "BFSWriter::flush(): FIOFLUSH failed '%s': %s", e.path, std::strerror(err));
        return false;
    }
    dirDirty_ = true;
    e.sinceFlush = 0;
    e.firstUnflushed = writerClock();
    return true;
}

bool BFSWriter::flushDir() {
    if (!dirDirty_ || !mediaAvailable_.load() || superseded()) return true;
    const std::string host = dev_path(drive_.c_str());
    int fd = host.empty() ? -1 : ::open(host.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        syslogx(147, "BFSWriter::flushDir() open '%s' failed.", drive_.c_str());
        return false;
    }
    int r;
    {
        DriveWait noted(*this, fd, drive_.c_str());
        Released wait(*this);
        r = ::fsync(fd);
    }
    ::close(fd);
    if (r != 0) {
        syslogx(147, "BFSWriter::flushDir() ioctl '%s' failed - ret %X", drive_.c_str(), unsigned(r));
        return false;
    }
    dirDirty_ = false;
    return true;
}

bool BFSWriter::flushAll() {
    if (!mediaAvailable_.load()) return false;
    for (auto& e : files_)
        if (e.state == OPEN && e.sinceFlush) flush(e.vfIdx);
    flushDir();
    return true;
}

void BFSWriter::closeAllFiles() {
    filesOpen_ = false;
    for (auto& e : files_)
        if (e.vfIdx != -1 && !close(e.vfIdx)) freeEntry(e);
    tellAllAfterGap();
    headerTold_.clear();
    pending_.clear();
}

void BFSWriter::checkForFlush() {
    const uint32_t now = writerClock();
    const uint32_t limit = now - kFlushAge;
    bool noted = false;
    uint32_t earliest = 0;
    for (auto& e : files_) {
        if (e.state != OPEN || e.sinceFlush == 0) continue;
        if (int32_t(e.firstUnflushed - limit) <= 0) {
            flush(e.vfIdx);
        } else if (!noted || int32_t(e.firstUnflushed - earliest) < 0) {
            earliest = e.firstUnflushed;
            noted = true;
        }
    }
    flushDir();
    nextFlushCheck_ = (noted ? earliest : now) + kFlushAge;
}

// Not subscribed: before the drive was there, or removed by the back end.
// A removed writer keeps its files open (what their streams hold still goes
// to the drive) and goes on in them when it is back.
void BFSWriter::disconnectedStateHandler() {
    if (filesOpen_) checkForFlush();
    armChecks();
    mediaAvailable_.store(meas_app_driveAvDebounce(drive_.c_str()) == 0);
    if (mediaAvailable_.load()) {
        // a USB drive that arrives: the room probes a cut left on it go first
        if (type() == WRITER_TYPE_USB) meas_app_removeRoomProbes(drive_.c_str());
        subscribeAgain();
    } else {
        Released idle(*this);
        sleepMs(200);
    }
}

void BFSWriter::subscribeAgain() {
    if (superseded()) return;   // the drive that came has a writer of its own
    MissedActions missed;
    if (!backend_.subscribe(*this, &missed)) return;
    syslogx(150, "BFSWriter::taskMain() - mediaAvailable, renewed subscription to backend");
    tellMissed(missed, kMissedWhileRemoved, false);
}

namespace {
const char* const kMissedWhileAbsent = "while the drive was absent";
const char* const kNotOnDrive = "they are not on this drive";
const char* const kFileEnds = "the file ends before them";
const char* const kGoesOn = "the file goes on after the gap";
const char* const kMadeAfter = "the file is made after the gap";
const char* const kCopyBrings = "a copy brings the whole file to this drive";
}  // namespace

void BFSWriter::logMissed(const char* path, const MissedFile& given, const char* when, const char* outcome,
                          bool counted) {
    MissedFile f = given;
    // the file that a drive's arrival copies onto it is there whole then
    if ((outcome == kNotOnDrive || outcome == kFileEnds) && f.name[0] && backend_.copyBrings(drive_.c_str(), f.name))
        outcome = kCopyBrings;
    if (outcome == kNotOnDrive && f.header) {
        // none of the file is on the drive: its header is not either
        f.bytes += f.header;
        ++f.items;
    }
    if (!counted) countFailure(f.items);
    char stamps[48] = "";
    if (f.firstTs)
        std::snprintf(stamps, sizeof stamps, " (time stamps %u to %u)", unsigned(f.firstTs), unsigned(f.lastTs));
    syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': %u bytes in %u blocks%s not written %s: %s", path, unsigned(f.bytes),
            unsigned(f.items), stamps, when, outcome);
}

void BFSWriter::nameAbsentGap(WriterFileEntry_t& e) {
    if (!e.absent || !e.gapItems) return;
    MissedFile f;
    f.vfIdx = e.vfIdx;
    std::snprintf(f.name, sizeof f.name, "%s", e.gapName);
    f.bytes = e.gapBytes;
    f.items = e.gapItems;
    f.firstTs = e.gapFirst;
    f.lastTs = e.gapLast;
    f.header = e.gapHeader;
    char path[40];
    const bool onDrive = pathForLine(e.vfIdx, f.name, path, sizeof path);
    // counted as failed here by neither: an internal drive's writes count one
    // by one as they come, and a USB drive that is not there counts nothing
    logMissed(path, f, kMissedWhileAbsent, onDrive ? kFileEnds : kNotOnDrive, true);
    // what comes after (a stop's last blocks) is named on its own: the header was named already
    e.gapItems = e.gapBytes = e.gapFirst = e.gapLast = 0;
    if (!onDrive) e.gapHeader = 0;
}

// The back end's task, for a file whose close the writer passed: the file on
// the drive, when there is one, ends before what it missed.
void BFSWriter::nameMissed(const MissedFile& f, const char* when) {
    if (successorWrites(f.vfIdx)) return;
    char path[40];
    const bool made = pathForLine(f.vfIdx, f.name, path, sizeof path);
    if (f.items) logMissed(path, f, when, made ? kFileEnds : kNotOnDrive);
    else if (made) syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': its closing blocks not written %s", path, when);
}

void BFSWriter::tellMissed(const MissedActions& missed, const char* when, bool atStop, bool closeMissed) {
    for (const MissedFile& f : missed.files) {
        if (successorWrites(f.vfIdx)) continue;   // written by the new drive's writer
        WriterFileEntry_t& e = entry(f.vfIdx);
        const bool mine = e.vfIdx == f.vfIdx;
        const bool open = mine && e.stream;
        char path[40];
        if (open) std::snprintf(path, sizeof path, "%s", e.path);
        else nameOnDrive(f.vfIdx, f.name, path, sizeof path);
        if (f.told) {
            // named when its close passed
        } else if (f.items && mine && e.absent) {
            // dropped for its absent drive: named once, with all the drive lacks of it
            if (type() == WRITER_TYPE_BFS) countFailure(f.items);
            addToGap(e, f.bytes, f.items, f.firstTs, f.lastTs);
            if (!e.gapName[0]) {
                std::snprintf(e.gapName, sizeof e.gapName, "%s", f.name);
                e.gapHeader = headerTold(f.vfIdx) ? 0 : f.header;
            }
        } else if (f.items) {
            // a file it has not made yet, still live and its own, is made
            // with its first records after the gap
            const bool madeAfter = !mine && !f.closed && !atStop && virtualFiles.registered(measIdx_, f.vfIdx, id());
            if (madeAfter && !open) {
                // told once it is known: made with its next records, or
                // closed before any came
                deferAfterGap(f, when);
            } else if (open) {
                logMissed(path, f, when, f.closed || atStop ? kFileEnds : kGoesOn);
            } else {
                // a file named not on the drive, whose further blocks may be named later
                MissedFile g = f;
                if (headerTold(f.vfIdx)) g.header = 0;
                logMissed(path, g, when, kNotOnDrive);
                if (g.header && !f.closed) {
                    // its later blocks (also those queued after the stop's
                    // halt) are named without it; a file whose close it
                    // never gets is forgotten with the oldest
                    if (headerTold_.size() >= 2 * kFiles) headerTold_.erase(headerTold_.begin());
                    headerTold_.push_back(f.vfIdx);
                }
            }
        } else if (open && f.closed) {
            syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': its closing blocks not written %s", path, when);
        } else if (atStop && f.opened && !mine) {
            // begun for this drive, but none of it reached the writer
            syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': not made %s: it held no blocks yet", path, when);
        }
        if (closeMissed && mine && f.closed) close(f.vfIdx);
    }
    if (missed.copies)
        syslogx(147 | SYSLOGX_LOSS, "BFSWriter: %u copies of files to the USB drive not started %s", unsigned(missed.copies), when);
}

void BFSWriter::deferAfterGap(const MissedFile& f, const char* when) {
    for (AfterGap& g : afterGap_) {
        if (g.file.vfIdx != f.vfIdx) continue;
        // missed again before it was made: one gap, the earliest and latest stamps of both
        g.file.bytes += f.bytes;
        g.file.items += f.items;
        if (f.firstTs && (!g.file.firstTs || int32_t(f.firstTs - g.file.firstTs) < 0)) g.file.firstTs = f.firstTs;
        if (f.lastTs && (!g.file.lastTs || int32_t(f.lastTs - g.file.lastTs) > 0)) g.file.lastTs = f.lastTs;
        return;
    }
    afterGap_.push_back(AfterGap{f, when});
}

void BFSWriter::tellAfterGap(int vfIdx, bool made) {
    for (auto g = afterGap_.begin(); g != afterGap_.end(); ++g) {
        if (g->file.vfIdx != vfIdx) continue;
        char path[40];
        if (made) std::snprintf(path, sizeof path, "%s", entry(vfIdx).path);
        else nameOnDrive(vfIdx, g->file.name, path, sizeof path);
        logMissed(path, g->file, g->when, made ? kMadeAfter : kNotOnDrive);
        afterGap_.erase(g);
        return;
    }
}

void BFSWriter::tellAllAfterGap() {
    while (!afterGap_.empty()) tellAfterGap(afterGap_.front().file.vfIdx, false);
}

void BFSWriter::haltFiles(MissedActions& missed, bool held) {
    if (!held) {
        // inside a write of its own that does not end: what it holds is not known
        syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': m0%u: the writer did not halt within the stop's wait: what it had not written "
                     "is not known, its open files end where the drive has them",
                drive_.c_str(), measIdx_ + 1);
        // what it had not read yet is known: named by file (its entries are
        // its task's, only the files it made are looked at)
        for (const MissedFile& f : missed.files) {
            if (!f.items || successorWrites(f.vfIdx)) continue;
            char path[40];
            const bool made = pathForLine(f.vfIdx, f.name, path, sizeof path);
            logMissed(path, f, "at the stop", made ? kFileEnds : kNotOnDrive);
        }
        if (missed.copies)
            syslogx(147 | SYSLOGX_LOSS, "BFSWriter: %u copies of files to the USB drive not started at the stop",
                    unsigned(missed.copies));
        return;
    }
    // the action under way waits for its file's counters: that file is not made
    if (countersWait_ && current_) missedAdd(missed, measIdx_, *current_);
    pendingToMissed(missed);
    pending_.clear();
    // the drive may have gone while the task waited in a sync (without its
    // hold): its files are not written again, as the task itself would not
    const bool there = driveThere();
    if (!there) mediaAvailable_.store(false);
    for (auto& e : files_)
        if (e.vfIdx != -1 && e.stream && &e != closing_ && (!there || !stillNamed(e))) dropStream(e);
    // what the streams hold goes to the drive (no sync: the process ends,
    // the kernel writes it out)
    for (auto& e : files_) {
        if (!e.stream) continue;
        const size_t held = __fpending(e.stream);
        if (held && std::fflush(e.stream) != 0) {
            const int err = errno;
            countFailure();
            syslogx(147 | SYSLOGX_LOSS, "BFSWriter: '%s': %u bytes its stream held not written at the stop: %s", e.path,
                    unsigned(__fpending(e.stream)), std::strerror(err));
        }
    }
    tellMissed(missed, "at the stop", true, false);
    // the files dropped for an absent drive, or still to be made after a gap, end here
    for (auto& e : files_) nameAbsentGap(e);
    tellAllAfterGap();
}

bool BFSWriter::mainPass() {
    lastPass_.store(writerClock());
    if (!subscribed()) {
        Step step(*this);
        disconnectedStateHandler();
        return true;
    }
    {
        Step step(*this);
        // files given up for a drive that fell behind are closed first: the
        // back end hands on no action before
        MissedActions gaveUp;
        if (backend_.takeGivenUp(*this, gaveUp)) tellMissed(gaveUp, kMissedFellBehind, false);
        if (int32_t(writerClock() - nextDriveCheck_) >= 0) checkDrive();
        if (int32_t(writerClock() - nextFlushCheck_) >= 0) checkForFlush();
    }
    if (!executeNext()) {
        Released idle(*this);
        sleepMs(50);
    }
    return true;
}

bool BFSWriter::taskMain() {
    Work work(*this);
    if (halted()) {
        // the stop named what is left: nothing more goes to the drive
        Released idle(*this);
        sleepMs(50);
        return true;
    }
    return mainPass();
}

bool USBWriter::taskMain() {
    Work work(*this);
    if (halted()) {
        Released idle(*this);
        sleepMs(50);
        return true;
    }
    if (superseded()) {
        endForNewDrive();
        return false;
    }
    {
        Step step(*this);
        mediaAvailable_.store(meas_app_driveAvDebounce(drive()) == 0);
        if (!mediaAvailable_.load()) dropStreamsOfGoneDrive();
    }
    return mainPass();
}

void BFSWriter::armChecks() { nextDriveCheck_ = nextFlushCheck_ = writerClock(); }

void BFSWriter::taskStartCallback() {
    armChecks();
    int d = meas_app_driveAvDebounce(drive_.c_str());
    if (d < 0) {
        mediaAvailable_.store(false);
        // no USB stick is the usual state; a missing internal drive is not
        syslogx(type() == 2 ? 150 : 148, "BFSWriter::taskStartCallback() - drive not recognized (%s)",
                drive_.c_str());
        return;
    }
    lastPass_.store(writerClock());
    mediaAvailable_.store(true);
    if (backend_.subscribe(*this))
        syslogx(150, "BFSWriter::taskStartCallback() - mediaAvailable, subscribed to backend (debounce %dms)", d);
    if (d > 0) sleepMs(d);
}

void BFSWriter::taskStopCallback() {
    MissedActions missed;
    if (backend_.takeMissed(*this, missed)) tellMissed(missed, "at the stop", true);
    closeAllFiles();
}

void USBWriter::taskStopCallback() {
    mediaAvailable_.store(meas_app_driveAvDebounce(drive()) == 0);
    // (a superseded writer's files went with the drive that went)
    if (!mediaAvailable_.load() || superseded()) dropStreamsOfGoneDrive();
    BFSWriter::taskStopCallback();
}

}  // namespace measure::store
