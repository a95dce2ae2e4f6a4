// File helpers over the host's file system.
#include "platform/files.h"

#include "platform/syslogx.h"
#include "host/kernel/kernel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

std::string dev_path(const char* path) {
    if (!path) return {};
    return host::hostPath(path);
}

FILE* dev_fopen(const char* path, const char* mode) {
    std::string p = dev_path(path);
    if (p.empty() || !mode) {
        errno = ENOENT;
        return nullptr;
    }
    return fopen(p.c_str(), mode);
}

FILE* dev_fopen_read(const char* path, std::string* problem, size_t* size, uint64_t maxBytes) {
    if (size) *size = 0;
    uint64_t opened = 0;
    const int fd = host::openFileToRead(dev_path(path), problem, &opened, maxBytes);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        if (problem) *problem = std::string("cannot be opened (") + std::strerror(errno) + ")";
        ::close(fd);
        return nullptr;
    }
    if (size) *size = static_cast<size_t>(opened);
    return f;
}

int fexist(const char* path) {
    FILE* f = dev_fopen_read(path, nullptr, nullptr, UINT64_MAX);
    if (!f) return 0;
    fclose(f);
    return 1;
}

long fsize(const char* path) {
    size_t size = 0;
    FILE* f = dev_fopen_read(path, nullptr, &size, UINT64_MAX);
    if (!f) return 0;
    fclose(f);
    return static_cast<long>(size);
}

char* fload(const char* path, size_t* len) {
    if (len) *len = 0;
    const char* name = path ? path : "";
    std::string problem;
    size_t size = 0;
    FILE* f = dev_fopen_read(path, &problem, &size);
    if (!f) {
        if (problem == "not found")
            syslogx(151, "fload() fsize failed, could not read file '%s'", name);
        else if (problem.rfind("cannot", 0) == 0)
            syslogx(147, "fload() fopen file '%s' failed", name);
        else   // there, but no file to read: said as what it is
            syslogx(148, "fload() file '%s' %s, not read", name, problem.c_str());
        return nullptr;
    }
    char* buf = static_cast<char*>(calloc(size + 1, 1));
    if (!buf) {
        fclose(f);
        syslogx(147, "fload() calloc len %d Bytes error file '%s' failed", static_cast<int>(size), name);
        return nullptr;
    }
    size_t got = size ? fread(buf, 1, size, f) : 0;
    fclose(f);
    if (got != size) {
        free(buf);
        syslogx(147, "fload() fread file '%s' failed", name);
        return nullptr;
    }
    if (len) *len = size;
    return buf;
}

namespace {

void copyN(char* dst, const char* src, size_t n, size_t size) {
    if (!dst || size == 0) return;
    if (n > size - 1) n = size - 1;
    memcpy(dst, src, n);
    dst[n] = 0;
}

}  // namespace

void measPathSplitn(const char* path, char* drive, char* file, size_t size) {
    if (size == 0) return;
    if (drive) drive[0] = 0;
    if (file) file[0] = 0;
    if (!path) return;
    const char* sep = nullptr;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') sep = p;
    if (sep) {
        copyN(drive, path, static_cast<size_t>(sep - path), size);
        copyN(file, sep + 1, strlen(sep + 1), size);
        return;
    }
    const char* colon = strrchr(path, ':');
    if (colon) {
        copyN(drive, path, static_cast<size_t>(colon - path) + 1, size);
        copyN(file, colon + 1, strlen(colon + 1), size);
        return;
    }
    syslogx(151, "measPathSplitn: no drive or directory in '%s'", path);
    copyN(file, path, strlen(path), size);
}

char* strncpy_tail(char* dst, const char* src, size_t size) {
    if (!dst || size == 0) return dst;
    if (!src) {
        dst[0] = 0;
        return dst;
    }
    size_t n = strlen(src);
    if (n < size) {
        memcpy(dst, src, n + 1);
    } else {
        memcpy(dst, src + (n - (size - 1)), size - 1);
        dst[size - 1] = 0;
    }
    return dst;
}

int driveAvailable(const char* drive) {
    if (!drive) return -1;
    return host::driveAvailable(drive) ? 0 : -1;
}

int driveFileStatistics(const char* drive, uint32_t* used, uint32_t* total) {
    if (!drive) return -1;
    const int r = host::driveFileStatistics(drive, used, total) ? 0 : -1;
    // the drives are asked often: a damaged drive_format.cfg is said once per fault
    static std::mutex logMx;
    static std::string logged;
    const std::string problem = host::driveFormatProblem();
    std::lock_guard<std::mutex> lk(logMx);
    if (problem != logged) {
        logged = problem;
        if (!problem.empty()) syslogx(148, "driveFileStatistics: %s", problem.c_str());
    }
    return r;
}
