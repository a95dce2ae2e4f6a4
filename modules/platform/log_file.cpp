#include "platform/log_file.h"

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

bool LogFile::open() {
    if (f_) return true;
    f_ = fopen(path_.c_str(), "a");
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
    f_ = fopen(path_.c_str(), "w");
    size_ = 0;
}
