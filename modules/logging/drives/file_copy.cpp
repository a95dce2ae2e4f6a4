// Copy of a finished measurement file to another drive (the USB stick):
// started by the internal-drive writer when a USB drive arrives, and by
// meas_app_copyLastFileTask. The file is streamed in pieces, so a file of any
// size is copied with a small buffer, and the destination drive is checked
// before every piece because the stick can be pulled at any time. The copy
// never replaces what stands on the destination drive: the start of this
// very recording under its name (the USB writer's, cut off by a pull) is
// completed there; anything else keeps its name, and the copy takes the
// next free name there, by the rule of the splits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>   // renameat2
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "logging/config/cfg_meas.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/copy_own_start.h"
#include "logging/drives/copy_parts.h"
#include "logging/drives/copy_pending.h"
#include "logging/drives/drive_entry.h"
#include "logging/drives/meas_app_drives.h"
#include "platform/files.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"

namespace {

constexpr size_t kPiece = 64 * 1024;
constexpr int kOpenAttempts = 10;
std::atomic<int> startDelayS{5};

struct File {
    FILE* f = nullptr;
    ~File() {
        if (f) std::fclose(f);
    }
};

// The source, non-empty and open for reading, after up to 10 attempts a second
// apart; nullptr (not logged) when the stop gives the copy up meanwhile.
FILE* openSource(const char* from, const MeasPendingCopy& pending) {
    const std::string host = dev_path(from);
    for (int i = 0; i < kOpenAttempts; ++i) {
        if (i && pending.cut()) return nullptr;
        if (i) taskDelay(sysClkRateGet());
        struct stat st{};
        if (host.empty() || ::stat(host.c_str(), &st) != 0 || st.st_size == 0) continue;
        int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            syslogx(147, "meas_app_copyLastFile() open file '%s' failed, '%s'", from, std::strerror(errno));
            continue;
        }
        FILE* f = ::fdopen(fd, "rb");
        if (!f) {
            syslogx(147, "meas_app_copyLastFile() fopen file '%s' failed, '%s'", from, std::strerror(errno));
            ::close(fd);
            continue;
        }
        return f;
    }
    syslogx(147, "meas_app_copyLastFile() timeout open '%s'", from);
    return nullptr;
}

// Creates path anew: what stands at the copy's own temporary name (a part
// left by a cut, a FIFO, a link) is removed first and never opened, so the
// copy is never written into a pipe or through a link. Messages name the file
// the copy is for (to).
FILE* createDestination(const char* path, const char* to) {
    const std::string host = dev_path(path);
    int fd = host.empty() ? -1 : host::createFileAnew(host, 0644);
    if (fd < 0) {
        syslogx(147, "meas_app_copyLastFile() err open '%s', '%s'", to, std::strerror(errno ? errno : ENOENT));
        return nullptr;
    }
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        syslogx(147, "meas_app_copyLastFile() err fopen '%s', '%s'", to, std::strerror(errno));
        ::close(fd);
    }
    return f;
}

// Source to destination in pieces; false (logged) on a read or write error or
// when the destination drive went away, false unlogged when the stop gave the
// copy up.
bool stream(FILE* in, FILE* out, const char* from, const char* to, const char* destDrive, MeasPendingCopy& pending) {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kPiece]);
    if (!buf) {
        syslogx(147, "meas_app_copyLastFile() mem alloc read buffer");
        return false;
    }
    for (;;) {
        size_t n = std::fread(buf.get(), 1, kPiece, in);
        if (n < kPiece && std::ferror(in)) {
            syslogx(147, "meas_app_copyLastFile() err fread '%s'", from);
            return false;
        }
        if (n == 0) break;
        if (!pending.piece(0)) return false;   // nothing under its name yet
        if (meas_app_driveAvDebounce(destDrive) != 0) {
            syslogx(147, "meas_app_copyLastFile() err fwrite '%s', USB removed", to);
            return false;
        }
        if (std::fwrite(buf.get(), 1, n, out) != n) {
            syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
            return false;
        }
    }
    if (std::fflush(out) != 0 || ::fsync(::fileno(out)) != 0) {
        syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
        return false;
    }
    return true;
}

// The source's time stamps and attributes on the copy, made read-only.
void copyStatus(FILE* in, const char* to, const char* from) {
    struct stat st{};
    uint32_t attrs = 0;
    if (::fstat(::fileno(in), &st) != 0 || !host::getFileAttributes(from, &attrs)) {
        syslogx(155, "meas_app_copyLastFile() FIOFSTATGET @ %s failed", from);
        return;
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    const std::string path = dev_path(to);
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    host::setFileAttributes(to, attrs | host::ATTR_READ_ONLY);
}

// The whole part into a file made at `to` where nothing stands (O_EXCL, no
// link followed), then the part goes; false with errno EEXIST when
// something stands there. A copy that fails halfway removes the file it
// made: no half copy under a recording's name.
bool copyIntoNewFile(const std::string& part, const std::string& to) {
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0) return false;
    const int in = ::open(part.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool ok = in >= 0;
    std::unique_ptr<char[]> buf(ok ? new (std::nothrow) char[kPiece] : nullptr);
    ok = ok && buf;
    while (ok) {
        const ssize_t n = ::read(in, buf.get(), kPiece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t put = 0; ok && put < n;) {
            const ssize_t w = ::write(out, buf.get() + put, size_t(n - put));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            if (ok) put += w;
        }
    }
    ok = ok && ::fsync(out) == 0;
    // still at its name: the removal of empty files may have taken it while it was empty
    struct stat st {};
    if (ok && (::fstat(out, &st) != 0 || st.st_nlink == 0)) {
        ok = false;
        errno = ENOENT;
    }
    const int err = ok ? 0 : (errno && errno != EEXIST ? errno : EIO);
    if (in >= 0) ::close(in);
    ok = ::close(out) == 0 && ok;
    if (!ok) {
        ::unlink(to.c_str());   // made by this copy just now
        errno = err ? err : EIO;
        return false;
    }
    ::unlink(part.c_str());
    return true;
}

// Moves the whole copy from its part file to `to` only where nothing stands;
// false with errno EEXIST when something does. The step never replaces:
// a rename that refuses to replace, or on file systems without one a hard
// link (made only where nothing stands) and the part's unlink. Where
// neither is there (FAT), the part is copied into a file made only where
// nothing stands: a look at the name and a rename after it would replace a
// file the USB writer made in between.
bool moveWhereNothingStands(const std::string& part, const std::string& to) {
    if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    if (::link(part.c_str(), to.c_str()) == 0) {
        ::unlink(part.c_str());   // a part left by a failure here goes at the next start
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    return copyIntoNewFile(part, to);
}

struct CopyName {
    unsigned measIdx;
    uint16_t outing, lap, absLap, fragment;
};

// Puts the whole copy (its part at partHost) under the first name from the
// source's own on that is free on destDrive, searched as a split searches
// (LapOutFra_findFreeName); a name taken between the search and the move is
// passed as well. Gives the device path the copy now has, empty (logged)
// when it has none (unlogged when the stop gave the copy up); a name other
// than to is logged with what stood there.
std::string placeCopy(const std::string& partHost, const char* destDrive, CopyName n, const char* from,
                      const char* to, const MeasPendingCopy& pending) {
    constexpr int kAttempts = 8;
    for (int i = 0; i < kAttempts; ++i) {
        char name[64];
        LapOutFraNameUse taken;   // the first entry that kept the copy off a name
        const int skipped = LapOutFra_findFreeName(uint8_t(n.measIdx), n.outing, n.lap, &n.absLap, &n.fragment, name,
                                                   sizeof name, [&](const char* tried) {
                                                       LapOutFraNameUse use = LapOutFra_nameUse(destDrive, tried);
                                                       // another name than its own is taken from the counters
                                                       if (use.path.empty())
                                                           return std::string(destDrive) + "/" + tried != to &&
                                                                  !LapOutFra_takeCopyName(n.outing, n.lap, n.absLap,
                                                                                          n.fragment);
                                                       if (taken.path.empty()) taken = use;
                                                       return true;
                                                   });
        if (skipped < 0) {
            syslogx(147, "meas_app_copyLastFile() err open '%s', no free name on %s", to, destDrive);
            return {};
        }
        const std::string dest = std::string(destDrive) + "/" + name;
        if (dest != to) nvram_dbs_flush();   // the counters past it on the disk first
        if (pending.cut()) return {};         // the stop named it as not made meanwhile
        if (moveWhereNothingStands(partHost, dev_path(dest.c_str()))) {
            if (dest != to)
                syslogx(150, "meas_app_copyLastFile() '%s' is in use (%s): the copy of '%s' goes to '%s'",
                        taken.path.c_str(), taken.what ? taken.what : "taken", from, dest.c_str());
            return dest;
        }
        if (errno != EEXIST) break;
    }
    syslogx(147, "meas_app_copyLastFile() err fwrite '%s', '%s'", to, std::strerror(errno));
    return {};
}

// The file that a split closes is closed once its status block is
// collected, which may be after the copy's start: a copy made before would
// hold part of the recording and no closing status block. So the copy waits
// for the writer to let the file go. False (named) when it is still written
// after the longest wait, or the stop gave the copy up meanwhile.
bool awaitWholeSource(const char* from, MeasPendingCopy& pending) {
    const std::string source = from;
    auto closed = [&source] { return !meas_app_writerHolds(source); };
    if (closed()) return !pending.cut();
    syslogx(150, "meas_app_copyLastFile() '%s' is still being written: the copy waits for its close", from);
    if (pending.awaitClosed(closed, MEAS_COPY_CLOSE_WAIT_S * 1000)) return true;
    char why[64];
    std::snprintf(why, sizeof why, "its writer had not closed it after %d s", MEAS_COPY_CLOSE_WAIT_S);
    if (!pending.cut()) pending.giveUp(why);
    return false;
}

constexpr size_t kNameMax = 64;
using SourcePath = char[CFG_MEAS_STRLEN + kNameMax + 1];

// The path of the measurement's file of these counters on its drive; false
// for none.
bool copySource(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment, unsigned measIdx,
                SourcePath& from) {
    char name[kNameMax];
    if (measIdx >= 3 || LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(measIdx), outing, lap, fragment,
                                                    absLap) < 0)
        return false;
    std::snprintf(from, sizeof from, "%s/%s", cfg_meas_getTargetPartition(measIdx), name);
    return true;
}

void copyFile(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment, unsigned measIdx, SourcePath& from,
              const char* destDrive, MeasPendingCopy& pending) {
    // a stop lets the copy go at once
    if (!pending.awaitStart(startDelayS.load() * 1000)) return;
    // The file the writer made for these counters: under the next free name
    // where theirs was in use on the drive (what stands there is another
    // recording). The copy carries that name and its numbers.
    const std::string made = meas_app_fileMadeAs(from);
    if (made != from && made.size() < sizeof from) {
        const size_t cut = made.rfind('/');
        MeasNameCounters c{};
        if (cut != std::string::npos && meas_countersOfName(made.c_str() + cut + 1, &c)) {
            absLap = c.absLap;
            fragment = c.fragment;
            std::snprintf(from, sizeof from, "%s", made.c_str());
        }
        pending.describe(from, destDrive);
    }
    if (!awaitWholeSource(from, pending)) return;
    if (!fexist(from)) {
        syslogx(151, "meas_app_copyLastFile() failed, does not exist %s", from);
        return;
    }
    const char* slash = std::strchr(from, '/');
    if (!slash) {
        syslogx(147, "meas_app_copyLastFile() failed, from file invalid %s", from);
        return;
    }
    char to[sizeof from + CFG_MEAS_STRLEN];
    std::snprintf(to, sizeof to, "%s%s", destDrive, slash);
    File in{openSource(from, pending)};
    if (!in.f) return;
    struct stat src {};
    if (::fstat(::fileno(in.f), &src) == 0) pending.sourceSize(src.st_size);
    if (meas_app_driveAvDebounce(destDrive) != 0) {
        syslogx(147, "meas_app_copyLastFile() err open '%s', usb not available", to);
        return;
    }
    switch (meas_copyCompleteOwnStart(::fileno(in.f), to, from, destDrive,
                                      [&](int64_t held) { return pending.piece(held); })) {
    case MeasOwnStart::COMPLETED:
        copyStatus(in.f, to, from);
        syslogx(150, "meas_app_copyLastFile() copy success from '%s' to '%s'", from, to);
        return;
    case MeasOwnStart::FAILED:
        return;
    case MeasOwnStart::NONE:
        break;
    }
    // Written beside and moved into place: the USB drive's own writer may
    // still hold the file open, and its bytes must not mix with the copy's.
    const std::string part = meas_copyPartName(to), partHost = dev_path(part.c_str());
    struct Writing {   // the removal of cut copies' parts leaves this one alone
        const std::string& path;
        explicit Writing(const std::string& p) : path(p) { meas_copyPartBegin(path); }
        ~Writing() { meas_copyPartEnd(path); }
    } writing{partHost};
    File out{createDestination(part.c_str(), to)};
    if (!out.f) return;
    if (!stream(in.f, out.f, from, to, destDrive, pending)) {
        ::unlink(partHost.c_str());   // no half copy left behind where the drive is still there
        return;
    }
    const int closed = std::fclose(out.f);
    out.f = nullptr;
    if (closed != 0) {
        ::unlink(partHost.c_str());
        syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
        return;
    }
    if (!pending.piece(0)) {   // the stop gave it up and named it: the whole copy is not placed after that
        ::unlink(partHost.c_str());
        return;
    }
    const std::string placed =
        placeCopy(partHost, destDrive, {measIdx, outing, lap, absLap, fragment}, from, to, pending);
    if (placed.empty()) {
        ::unlink(partHost.c_str());
        return;
    }
    copyStatus(in.f, placed.c_str(), from);
    syslogx(150, "meas_app_copyLastFile() copy success from '%s' to '%s'", from, placed.c_str());
}

}  // namespace

void meas_app_setCopyStartDelay(int seconds) { startDelayS.store(seconds < 0 ? 0 : seconds); }

void meas_app_copyFileTask(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment, unsigned measIdx,
                           char* destDrive, uint8_t destOwned) {
    // the name is freed however the task ends, a delete at shutdown included
    struct Owned {
        char* p;
        bool own;
        ~Owned() {
            if (own) std::free(p);
        }
    } dest{destDrive, destOwned != 0};
    SourcePath from;
    if (!destDrive || !copySource(outing, lap, absLap, fragment, measIdx, from)) return;
    MeasPendingCopy pending(from, destDrive);
    copyFile(outing, lap, absLap, fragment, measIdx, from, destDrive, pending);
}

void meas_app_copyLastFileTask() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    const uint16_t previous = uint16_t(s.fragment - 1);   // the file before the current one
    TASK_ID t = taskSpawn("r_FileCpy_4tst", 160, VX_FP_TASK, 20480, [s, previous] {
        meas_app_copyFileTask(s.outing, s.lap, s.absLap, previous, 0, const_cast<char*>("usb_meas:"), 0);
    });
    if (!t) syslogx(147, "meas_app_copyLastFileTask(): start of r_FileCpy_4tst task failed!");
}
