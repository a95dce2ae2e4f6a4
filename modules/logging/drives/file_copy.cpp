// Copy of a finished measurement file to another drive (the USB stick):
// started by the internal-drive writer when a USB drive arrives, and by
// meas_app_copyLastFileTask. The file is streamed in pieces, so a file of any
// size is copied with a small buffer, and the destination drive is checked
// before every piece because the stick can be pulled at any time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "logging/config/cfg_meas.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_drives.h"
#include "platform/files.h"
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

// The source, non-empty and open for reading, after up to 10 attempts a second apart.
FILE* openSource(const char* from) {
    const std::string host = dev_path(from);
    for (int i = 0; i < kOpenAttempts; ++i) {
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
    int fd = host.empty() ? -1 : host::createFileAnew(host, 0777);
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
// when the destination drive went away.
bool stream(FILE* in, FILE* out, const char* from, const char* to, const char* destDrive) {
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

void copyFile(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment, unsigned measIdx,
              const char* destDrive) {
    taskDelay(startDelayS.load() * sysClkRateGet());
    char name[64];
    if (measIdx >= 3 || LapOutFra_genFilenameAbsLap(name, sizeof name, uint8_t(measIdx), outing, lap, fragment,
                                                    absLap) < 0)
        return;
    char from[CFG_MEAS_STRLEN + sizeof name + 1];
    std::snprintf(from, sizeof from, "%s/%s", cfg_meas_getTargetPartition(measIdx), name);
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
    File in{openSource(from)};
    if (!in.f) return;
    if (meas_app_driveAvDebounce(destDrive) != 0) {
        syslogx(147, "meas_app_copyLastFile() err open '%s', usb not available", to);
        return;
    }
    // Written beside and renamed into place: the USB drive's own writer may
    // still hold the file open, and its bytes must not mix with the copy's.
    char part[sizeof to + 8];
    std::snprintf(part, sizeof part, "%s.part", to);
    File out{createDestination(part, to)};
    if (!out.f) return;
    const std::string partHost = dev_path(part), toHost = dev_path(to);
    if (!stream(in.f, out.f, from, to, destDrive)) {
        ::unlink(partHost.c_str());   // no half copy left behind where the drive is still there
        return;
    }
    if (std::fclose(out.f) != 0 || ::rename(partHost.c_str(), toHost.c_str()) != 0) {
        out.f = nullptr;
        ::unlink(partHost.c_str());
        syslogx(147, "meas_app_copyLastFile() err fwrite '%s'", to);
        return;
    }
    out.f = nullptr;
    copyStatus(in.f, to, from);
    syslogx(150, "meas_app_copyLastFile() copy success from '%s' to '%s'", from, to);
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
    if (!destDrive) return;
    copyFile(outing, lap, absLap, fragment, measIdx, destDrive);
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
