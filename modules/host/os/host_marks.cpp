// Marks that the devices of one host leave for each other: empty files in
// one folder of the machine, each locked (flock) by the process it stands
// for while that process holds what the mark names (a CPU, the named queues
// of its folder). The kernel drops a lock when its process ends, killed or
// not: a mark that nobody holds names something whose holder is gone, and a
// process number used again never makes a dead holder look alive.
//
// The folder lies in /dev/shm: in memory like the POSIX queues, it goes
// with them at the next boot. Every user's devices share it (sticky, like
// /tmp); it is used only when it is a real folder of root or of this user,
// as one that someone else made could have marks removed under their
// holders.
#include "host/os/os_internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

const char kMarksFolder[] = "/dev/shm/tav9-marks";

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

namespace hostos {

int openMarks() {
    if (::mkdir(kMarksFolder, 0755) == 0) ::chmod(kMarksFolder, 01777);   // the umask would narrow it
    const int dir = ::open(kMarksFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (dir < 0) return -1;
    struct stat st{};
    const bool owned = ::fstat(dir, &st) == 0 && (st.st_uid == 0 || st.st_uid == ::geteuid());
    // others may add marks only beside theirs, never remove them
    const bool guarded = (st.st_mode & S_IWOTH) == 0 || (st.st_mode & S_ISVTX) != 0;
    if (!owned || !guarded) {
        ::close(dir);
        return -1;
    }
    return dir;
}

int takeMark(int dir, const std::string& name, bool create, bool* heldElsewhere) {
    if (heldElsewhere) *heldElsewhere = false;
    // a few rounds: a sweep may remove the mark between our open and our lock
    for (int round = 0; round < 8; ++round) {
        const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
        const int fd = ::openat(dir, name.c_str(), flags, 0644);
        if (fd < 0) return -1;
        struct stat opened{}, linked{};
        // a FIFO or a device at the name is never read nor waited on
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return -1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (heldElsewhere) *heldElsewhere = errno == EWOULDBLOCK;
            ::close(fd);
            return -1;
        }
        if (::fstatat(dir, name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, linked)) return fd;
        ::close(fd);   // removed meanwhile: whoever comes now finds a new one
        if (!create) return -1;
    }
    return -1;
}

void dropMark(int dir, const std::string& name, int fd) {
    struct stat held{}, linked{};
    // only our own file goes: one made since at the name is another's
    if (::fstat(fd, &held) == 0 && ::fstatat(dir, name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(held, linked))
        ::unlinkat(dir, name.c_str(), 0);
    ::close(fd);
}

}  // namespace hostos
