#undef _FORTIFY_SOURCE   // its inline open() would clash with the one defined here
// Interposed open(): see refusing_creates.h. The kernel is called directly,
// so the calls that are let through need nothing from the C library's open.
#include "refusing_creates.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>

namespace {

std::mutex gMx;
std::string gFolder;   // empty: nothing refused
int gErr = 0;
bool gHiddenToo = true;
std::atomic<unsigned> gRefused{0};

// The error to fail with, or 0 to let the call through.
int refusal(int dirfd, const char* path, int flags) {
    if (!(flags & O_CREAT) || !path) return 0;
    std::lock_guard<std::mutex> lk(gMx);
    if (gFolder.empty() || dirfd != AT_FDCWD) return 0;
    const size_t n = gFolder.size();
    if (std::strncmp(path, gFolder.c_str(), n) != 0 || path[n] != '/') return 0;
    if (!gHiddenToo && path[n + 1] == '.') return 0;
    ++gRefused;
    return gErr;
}

int openAt(int dirfd, const char* path, int flags, mode_t mode) {
    if (const int err = refusal(dirfd, path, flags)) {
        errno = err;
        return -1;
    }
    return int(::syscall(SYS_openat, dirfd, path, flags, mode));
}

mode_t modeOf(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(ap, int)) : 0;
}

}  // namespace

namespace refusing_creates {

void refuseIn(const std::string& folder, int err, bool hiddenToo) {
    std::lock_guard<std::mutex> lk(gMx);
    gFolder = folder;
    gErr = err;
    gHiddenToo = hiddenToo;
    gRefused = 0;
}

void allow() {
    std::lock_guard<std::mutex> lk(gMx);
    gFolder.clear();
}

unsigned refused() { return gRefused.load(); }

}  // namespace refusing_creates

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return openAt(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return openAt(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return openAt(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    return openAt(dirfd, path, flags, mode);
}

}
