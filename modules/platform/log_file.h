// The log file of the device folder, kept bounded: once a line takes it past
// its size limit it is renamed to its backup name (the backup before it
// goes) and a new file begins, so that no flood of log lines can fill the
// drive the measurement files are written to.
#pragma once

#include <cstdio>
#include <string>

class LogFile {
public:
    LogFile(std::string path, std::string backup, long limit);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the file for appending; false when it cannot be opened.
    bool open();
    bool isOpen() const { return f_ != nullptr; }
    // Appends the line and a newline; then renames the file when it has
    // passed the limit.
    void write(const char* line);
    void flush();

private:
    void rotate();

    std::string path_, backup_;
    long limit_;
    FILE* f_ = nullptr;
    long size_ = 0;
};
