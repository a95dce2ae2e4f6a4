// What a file the device reads is when it is no file to read, and the one
// way to open such a file. A link is followed; one that ends nowhere is told
// apart from a missing file, so that a broken link is named as what it is.
// What stands where the device writes a file is looked at without following
// a link: the device never writes through one.
// A FIFO or a device is never opened for what it holds: a FIFO without a
// writer would hold the reader for good, a device like /dev/zero never ends.
#include "host/kernel/kernel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

namespace {

// The words for what a path that exists is, "" for a plain file of a size
// that can be taken.
std::string kindOf(const struct stat& st, uint64_t maxBytes) {
    if (S_ISDIR(st.st_mode)) return "is a folder";
    if (S_ISFIFO(st.st_mode)) return "is a FIFO";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device";
    if (S_ISSOCK(st.st_mode)) return "is a socket";
    if (!S_ISREG(st.st_mode)) return "is no file";
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return "is too large (" + std::to_string(static_cast<uint64_t>(st.st_size)) + " bytes)";
    return "";
}

// The words for a path that stat or open could not reach.
std::string unreachable(const std::string& path, int cause) {
    if (cause == ELOOP) return "is a link loop";
    struct stat link;
    if (cause == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return "is a link that leads nowhere";
    if (cause == ENOENT || cause == ENOTDIR) return "not found";
    return std::string("cannot be opened (") + std::strerror(cause) + ")";
}

FileStamp stampOf(const struct stat& st) {
    FileStamp s;
    s.device = static_cast<uint64_t>(st.st_dev);
    s.inode = static_cast<uint64_t>(st.st_ino);
    s.size = static_cast<uint64_t>(st.st_size);
    s.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

}  // namespace

std::string fileProblem(const std::string& path, uint64_t* size, uint64_t maxBytes) {
    if (size) *size = 0;
    struct stat st;
    if (path.empty()) return "not found";
    if (stat(path.c_str(), &st) != 0) {
        const std::string words = unreachable(path, errno);
        // stat reaches what open would: any other failure leaves it unnamed
        return words.rfind("cannot", 0) == 0 ? "not found" : words;
    }
    std::string kind = kindOf(st, maxBytes);
    if (kind.empty() && st.st_size <= 0) kind = "is empty";
    if (kind.empty() && size) *size = static_cast<uint64_t>(st.st_size);
    return kind;
}

std::string fileProblemToWrite(const std::string& path) {
    struct stat st;
    if (path.empty()) return "not found";
    if (lstat(path.c_str(), &st) != 0) {
        const int cause = errno;
        if (cause == ENOENT || cause == ENOTDIR) return "not found";
        return std::string("cannot be opened (") + std::strerror(cause) + ")";
    }
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (stat(path.c_str(), &target) == 0) return "is a link";
        return errno == ENOENT ? "is a link that leads nowhere" : errno == ELOOP ? "is a link loop" : "is a link";
    }
    return kindOf(st, UINT64_MAX);
}

int openFileToRead(const std::string& path, std::string* problem, uint64_t* size, uint64_t maxBytes,
                   FileStamp* stamp) {
    std::string words;
    if (problem) problem->clear();
    if (size) *size = 0;
    auto refuse = [&](int fd, std::string why) {
        if (fd >= 0) ::close(fd);
        if (problem) *problem = std::move(why);
        return -1;
    };
    if (path.empty()) return refuse(-1, "not found");
    // Looked at first, so that a FIFO or a device is not even opened; the
    // opened descriptor is looked at again below, for one put there since.
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        words = kindOf(st, maxBytes);
        if (!words.empty()) return refuse(-1, words);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return refuse(-1, unreachable(path, errno));
    if (fstat(fd, &st) != 0) return refuse(fd, std::string("cannot be opened (") + std::strerror(errno) + ")");
    words = kindOf(st, maxBytes);
    if (!words.empty()) return refuse(fd, words);
    // reads of a plain file wait for the disk as any read does
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(fd, std::string("cannot be opened (") + std::strerror(errno) + ")");
    if (size) *size = static_cast<uint64_t>(st.st_size);
    if (stamp) *stamp = stampOf(st);
    return fd;
}

}  // namespace host
