// Completion of a recording's start on the destination drive. Only what is
// this recording's own is written into: the file is opened without
// following a link and without waiting (a FIFO is refused by what the
// opened descriptor is), it must be a plain file with no second name, hold
// at least the whole file header, and match the source byte for byte over
// all it holds. Then only the bytes after its end are written, at their
// place: what it holds is never rewritten, and a file cut again (the drive
// pulled once more) is still a start of the recording. The one exception is
// the file the drive's own writer of this run made under that name and has
// closed, which differs after the file header (it gave up blocks of the
// recording, or went on after a time away): it is this recording too, cut
// back to its first byte that differs and completed from there, so that the
// name holds one recording on every drive.
#include "logging/drives/copy_own_start.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/format/meas_file.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

constexpr size_t kPiece = 64 * 1024;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads n bytes at off (fewer only at the file's end); -1 on an error.
ssize_t readAt(int fd, char* buf, size_t n, off_t off) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, buf + got, n - got, off + off_t(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return ssize_t(got);
}

bool writeAt(int fd, const char* buf, size_t n, off_t off) {
    size_t put = 0;
    while (put < n) {
        const ssize_t w = ::pwrite(fd, buf + put, n - put, off + off_t(put));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        put += size_t(w);
    }
    return true;
}

// How many of the first `length` bytes of both files are the same; -1 when
// either cannot be read that far.
off_t samePrefix(int a, int b, off_t length, char* bufA, char* bufB) {
    for (off_t off = 0; off < length;) {
        const size_t n = size_t(std::min<off_t>(off_t(kPiece), length - off));
        if (readAt(a, bufA, n, off) != ssize_t(n) || readAt(b, bufB, n, off) != ssize_t(n)) return -1;
        const auto at = std::mismatch(bufA, bufA + n, bufB).first;
        if (at != bufA + n) return off + off_t(at - bufA);
        off += off_t(n);
    }
    return length;
}

}  // namespace

MeasOwnStart meas_copyCompleteOwnStart(int src, const char* to, const char* from, const char* destDrive,
                                       const std::function<bool(int64_t held)>& piece) {
    const std::string host = dev_path(to);
    if (host.empty() || src < 0) return MeasOwnStart::NONE;
    Fd dst{::open(host.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (dst.fd < 0) return MeasOwnStart::NONE;   // nothing there, a link, or not to be written: not ours
    struct stat d {}, s {};
    if (::fstat(dst.fd, &d) != 0 || ::fstat(src, &s) != 0) return MeasOwnStart::NONE;
    if (!S_ISREG(d.st_mode) || d.st_nlink != 1) return MeasOwnStart::NONE;
    if (d.st_size < off_t(MEAS_FILE_HEADER_LEN) || d.st_size > s.st_size) return MeasOwnStart::NONE;
    std::unique_ptr<char[]> a(new (std::nothrow) char[kPiece]), b(new (std::nothrow) char[kPiece]);
    if (!a || !b) {
        syslogx(147, "meas_app_copyLastFile() mem alloc read buffer");
        return MeasOwnStart::FAILED;
    }
    const off_t same = samePrefix(src, dst.fd, d.st_size, a.get(), b.get());
    if (same < 0) return MeasOwnStart::NONE;
    if (same == d.st_size) {
        syslogx(150, "meas_app_copyLastFile() '%s' holds the start of '%s' (%lld bytes): the copy completes it", to,
                from, static_cast<long long>(d.st_size));
    } else if (same >= off_t(MEAS_FILE_HEADER_LEN) && meas_app_writerLetGo(to)) {
        syslogx(150, "meas_app_copyLastFile() '%s' holds its writer's file of '%s' with a gap after byte %lld: the "
                     "copy completes it from there",
                to, from, static_cast<long long>(same));
        if (::ftruncate(dst.fd, same) != 0) {
            syslogx(147, "meas_app_copyLastFile() err fwrite '%s', '%s'", to, std::strerror(errno));
            return MeasOwnStart::FAILED;
        }
    } else {
        return MeasOwnStart::NONE;
    }
    for (off_t off = same;;) {
        const ssize_t n = readAt(src, a.get(), kPiece, off);
        if (n < 0) {
            syslogx(147, "meas_app_copyLastFile() err fread '%s'", from);
            return MeasOwnStart::FAILED;
        }
        if (n == 0) break;
        if (piece && !piece(off)) return MeasOwnStart::FAILED;   // given up, said by the one who gave it up
        if (meas_app_driveAvDebounce(destDrive) != 0) {
            syslogx(147, "meas_app_copyLastFile() err fwrite '%s', USB removed", to);
            return MeasOwnStart::FAILED;
        }
        if (!writeAt(dst.fd, a.get(), size_t(n), off)) {
            syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
            return MeasOwnStart::FAILED;
        }
        off += n;
    }
    if (::fsync(dst.fd) != 0) {
        syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
        return MeasOwnStart::FAILED;
    }
    return MeasOwnStart::COMPLETED;
}
