#include "platform/log_file.h"

#include "host/kernel/kernel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// The length of the well-formed UTF-8 character at p (of n bytes left), 0
// when it is none: a byte that cannot begin one, a character cut short, an
// overlong form, a surrogate or a code point above U+10FFFF.
size_t utf8Length(const unsigned char* p, size_t n) {
    const unsigned char c = p[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;   // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;        // overlong
        if (c == 0xED) hi = 0x9F;        // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;        // overlong
        if (c == 0xF4) hi = 0x8F;        // above U+10FFFF
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string logLineText(const char* line) {
    std::string out;
    if (!line) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(line);
    const size_t n = std::strlen(line);
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t len = 1;
        bool keep = (c >= 0x20 && c < 0x7F) || c == '\t';
        if (c >= 0x80) {
            len = utf8Length(p + i, n - i);
            keep = len > 0;
            if (!keep) len = 1;
        }
        if (keep) {
            out.append(line + i, len);
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        i += len;
    }
    return out;
}

LogFile::LogFile(std::string path, std::string backup, long limit)
    : path_(std::move(path)), backup_(std::move(backup)), limit_(limit) {}

LogFile::~LogFile() {
    if (f_) fclose(f_);
}

namespace {

// Opens the plain file at path for appending (emptied first with truncate),
// made when it is missing. Anything else there is not written: a FIFO would
// hold the writer for good (until a reader comes, then whenever it stops
// reading), a device takes what it is given. It is looked at first and
// opened without waiting, and the opened file is looked at again, for a FIFO
// put there since. Null with the words for what is there in *problem.
FILE* openPlainToAppend(const std::string& path, bool truncate, std::string* problem) {
    const std::string before = host::fileProblem(path);
    if (before != "" && before != "not found" && before != "is empty" && before.rfind("is too large", 0) != 0) {
        *problem = before;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                            (truncate ? O_TRUNC : 0),
                          0644);
    if (fd < 0) {
        const int cause = errno;
        const std::string what = host::fileProblem(path);
        *problem = (what != "" && what != "not found" && what != "is empty")
                       ? what
                       : std::string("cannot be opened (") + std::strerror(cause) + ")";
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        const std::string what = host::fileProblem(path);
        *problem = what.empty() || what == "not found" ? "is no plain file" : what;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "a");
    if (!f) {
        *problem = std::string("cannot be opened (") + std::strerror(errno) + ")";
        ::close(fd);
    }
    return f;
}

}  // namespace

bool LogFile::open() {
    if (f_) return true;
    problem_.clear();
    f_ = openPlainToAppend(path_, false, &problem_);
    if (!f_) return false;
    fseek(f_, 0, SEEK_END);
    size_ = ftell(f_);
    if (size_ < 0) size_ = 0;
    if (size_ >= limit_) rotate();   // left over from a run before
    return f_ != nullptr;
}

void LogFile::write(const char* line) {
    if (!f_) return;
    const int n = fprintf(f_, "%s\n", line);
    if (n > 0) size_ += n;
    if (size_ >= limit_) rotate();
}

void LogFile::flush() {
    if (f_) fflush(f_);
}

void LogFile::rotate() {
    fclose(f_);
    // rename replaces the backup in one step: the older lines go
    if (rename(path_.c_str(), backup_.c_str()) != 0)
        fprintf(stderr, "log: cannot rename %s to %s, the log starts again\n", path_.c_str(), backup_.c_str());
    problem_.clear();
    f_ = openPlainToAppend(path_, true, &problem_);
    if (!f_) fprintf(stderr, "log: %s %s: the log is not written\n", path_.c_str(), problem_.c_str());
    size_ = 0;
}
