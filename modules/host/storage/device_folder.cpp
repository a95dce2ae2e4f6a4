// The device folder and the atomic file write that every persisted service uses.
#include "host/kernel/kernel_internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace host {

namespace {
std::mutex folderMx;
std::string folder;        // the folder's name, as set or as the process started in it
bool folderNamed = false;  // folder holds the name
bool folderGiven = false;  // set by setDeviceFolder: its files are reached through its name
int lockedFolderFd = -1;   // the folder lockDeviceFolder locked, open for the process's life
bool folderGoneSaid = false;
}  // namespace

void setDeviceFolder(const std::string& f) {
    std::lock_guard<std::mutex> lk(folderMx);
    folder = f;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folderNamed = true;
    folderGiven = !folder.empty();
}

const std::string& deviceFolder() {
    std::lock_guard<std::mutex> lk(folderMx);
    if (!folderNamed) {
        char buf[4096];
        folder = getcwd(buf, sizeof buf) ? buf : ".";
        folderNamed = true;
    }
    return folder;
}

std::string inDeviceFolder(const std::string& name) {
    std::lock_guard<std::mutex> lk(folderMx);
    // A relative name resolves through the working directory itself, not
    // its name: renamed while the device runs, the folder keeps its files.
    return folderGiven ? folder + "/" + name : name;
}

FileRead readWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* why, FileStamp* stamp) {
    out->clear();
    std::string problem;
    uint64_t size = 0;
    const int fd = openFileToRead(path, &problem, &size, kFileMaxBytes, stamp);
    if (fd < 0) {
        if (problem == "not found") return FileRead::Missing;
        if (why) *why = problem;
        return FileRead::Unreadable;
    }
    // The size opened is a hint: a file that grows meanwhile is read up to
    // the limit and no further.
    out->reserve(static_cast<size_t>(size));
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (why) *why = std::string("cannot be read (") + std::strerror(errno) + ")";
            ::close(fd);
            out->clear();
            return FileRead::Unreadable;
        }
        if (n == 0) break;
        if (out->size() + static_cast<size_t>(n) > kFileMaxBytes) {
            if (why) *why = "is too large (more than " + std::to_string(kFileMaxBytes) + " bytes)";
            ::close(fd);
            out->clear();
            out->shrink_to_fit();
            return FileRead::Unreadable;
        }
        out->insert(out->end(), buf, buf + n);
    }
    ::close(fd);
    return FileRead::Ok;
}

namespace {

// The number device.lock holds ("" when it holds none or is no plain file);
// read without making the file or following a link.
std::string pidInLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat st;
    char buf[32] = {};
    const ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, buf, sizeof buf - 1, 0) : -1;
    ::close(fd);
    std::string pid = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    return pid;
}

// The process that holds the flock on the open folder, as the kernel's
// table of locks names it ("" when it does not): it is known even when
// device.lock has been removed.
std::string folderLockHolder(int dirFd) {
    struct stat st;
    if (fstat(dirFd, &st) != 0) return "";
    FILE* locks = std::fopen("/proc/locks", "re");
    if (!locks) return "";
    std::string holder;
    char line[256];
    while (holder.empty() && std::fgets(line, sizeof line, locks)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line
        // reads "1: -> FLOCK ..." and does not match
        char kind[16];
        long pid = 0;
        unsigned maj = 0, min = 0;
        unsigned long long ino = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%llu", kind, &pid, &maj, &min, &ino) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && pid > 0 && maj == major(st.st_dev) && min == minor(st.st_dev) &&
            ino == st.st_ino)
            holder = std::to_string(pid);
    }
    std::fclose(locks);
    return holder;
}

}  // namespace

bool lockDeviceFolder(std::string* why) {
    // The folder's name is taken as it is at the start: messages keep it if
    // it is renamed later (the queues other programs open are named from the
    // folder itself, which a rename keeps).
    deviceFolder();
    // The folder itself is locked: removing device.lock does not free it,
    // and a folder renamed while its device runs stays locked under its new
    // name. device.lock says who holds it.
    const int dirFd = ::open(inDeviceFolder(".").c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    if (dirFd < 0) {
        if (why) *why = std::string("cannot be locked: it cannot be opened (") + std::strerror(errno) + ")";
        return false;
    }
    const std::string path = inDeviceFolder("device.lock");
    auto inUse = [&](std::string pid) {
        if (why) {
            if (pid.empty()) pid = pidInLockFile(path);
            *why = pid.empty() ? "is in use by another process" : "is in use by process " + pid;
        }
        ::close(dirFd);
        return false;
    };
    if (::flock(dirFd, LOCK_EX | LOCK_NB) != 0) return inUse(folderLockHolder(dirFd));
    auto cannot = [&](const std::string& what) {
        if (why) *why = "cannot be locked: device.lock " + what;
        ::close(dirFd);
        return false;
    };
    // Never through a link: the process number would be written into
    // whatever file it leads to (or one made wherever it points).
    // Non-blocking: a FIFO in its place is not waited on.
    struct stat st;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int cause = errno;
        const std::string what = fileProblemToWrite(path);
        return cannot(what.empty() || what == "not found" ? std::string("cannot be opened (") + std::strerror(cause) + ")"
                                                          : what);
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        const std::string what = fileProblemToWrite(path);
        return cannot(what.empty() || what == "not found" ? "is no file" : what);
    }
    // the file is locked too, as a device of an earlier build locks it
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return inUse("");
    }
    // A read lock of the open folder description says to other programs
    // that a device runs here: they test for it (measrctrl) without taking
    // the folder's lock even for a moment, so they never keep a device from
    // starting, and unlike the table of locks this holds on every file
    // system (btrfs gives each subvolume's files a device number of their
    // own, which that table does not show).
    struct flock running{};
    running.l_type = F_RDLCK;
    running.l_whence = SEEK_SET;
    if (::fcntl(dirFd, F_OFD_SETLK, &running) != 0) {
        const int cause = errno;
        ::close(fd);
        if (why) *why = std::string("cannot be locked: its lock for other programs failed (") + std::strerror(cause) + ")";
        ::close(dirFd);
        return false;
    }
    // both descriptors stay open, and so the locks held, for the process's life
    {
        std::lock_guard<std::mutex> lk(folderMx);
        lockedFolderFd = dirFd;
        folderGoneSaid = false;
    }
    char buf[32];
    int len = std::snprintf(buf, sizeof buf, "%d\n", static_cast<int>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, buf, static_cast<size_t>(len), 0) != len) {
        // the lock holds all the same; only the holder's number is missing
    }
    return true;
}

std::string deviceFolderGone() {
    std::lock_guard<std::mutex> lk(folderMx);
    struct stat st;
    // the open folder has no name left once it is removed: moved to another
    // file system, it was copied there and removed here
    if (folderGoneSaid || lockedFolderFd < 0 || ::fstat(lockedFolderFd, &st) != 0 || st.st_nlink > 0) return "";
    folderGoneSaid = true;
    return "the device folder " + folder +
           " is gone (removed, or moved to another file system): the device runs on without it, and nothing "
           "it writes from now on (recordings, log, NVRAM) is kept; a folder made at that name is not this "
           "device's. Stop the device and start it again in a folder";
}

long deviceRunningIn(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    // a test, no lock: a device that starts meanwhile is never kept from it
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    // the table of locks names the holder where its numbers match the
    // folder's; device.lock otherwise
    std::string holder = held ? folderLockHolder(fd) : "";
    ::close(fd);
    if (!held) return 0;
    if (holder.empty()) holder = pidInLockFile(path + "/device.lock");
    const long pid = holder.empty() ? 0 : std::atol(holder.c_str());
    return pid > 0 ? pid : -1;
}

int createFileAnew(const std::string& path, unsigned mode) {
    // Whatever stands at the name (a file left by a cut write, a FIFO, a
    // link) goes first: opening it as found could wait for a reader for
    // good or write through a link into another file. A folder is not
    // removed; its unlink fails and names it.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
}

namespace detail {

namespace {

// The folder part of a path ("." for a bare name).
std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the folder's entries (a rename into it) survive a power cut, as far
// as the file system lets it; errno stays as it was.
void syncFolder(const std::string& dir) {
    const int saved = errno;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        while (::fsync(fd) != 0 && errno == EINTR) {
        }
        ::close(fd);
    }
    errno = saved;
}

}  // namespace

// The new content is on the disk before it takes the old one's place, and the
// folder is synced after the rename: a power cut at any moment leaves the old
// file or the new one, whole. Once renamed, the new file is in place and the
// write is done, whether the folder sync works or not (a sync that fails
// leaves the rename to the file system's own time; the next write syncs the
// folder again): telling the caller otherwise would have it believe the old
// content is what the disk holds.
// On failure errno holds the cause (the clean-up keeps it).
bool writeFileAtomic(const std::string& path, const void* data, size_t len, std::string* failedOn) {
    const DiskWriteNote underWay(path);
    std::string tmp = path + ".tmp";
    bool made = false;
    auto fail = [&](int fd, const std::string& on) {
        int cause = errno ? errno : EIO;
        if (failedOn) *failedOn = on;
        if (fd >= 0) ::close(fd);
        // only the file this call made is removed, never what it found there
        if (made) ::unlink(tmp.c_str());
        errno = cause;
        return false;
    };
    errno = 0;
    int fd = createFileAnew(tmp);
    if (fd < 0) return fail(-1, tmp);
    made = true;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::write(fd, p + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return fail(fd, tmp);
        }
        done += static_cast<size_t>(n);
    }
    int r;
    do r = ::fsync(fd);
    while (r != 0 && errno == EINTR);
    if (r != 0) return fail(fd, tmp);
    if (::close(fd) != 0) return fail(-1, tmp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) return fail(-1, path);
    made = false;
    syncFolder(folderOf(path));
    return true;
}

}  // namespace detail
}  // namespace host
