#include "platform/log_file.h"

#include <cstdio>
#include <utility>

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
