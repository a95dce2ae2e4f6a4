// The log file of the device folder, kept bounded: once a line takes it past
// its size limit it is renamed to its backup name (the backup before it
// goes) and a new file begins, so that no flood of log lines can fill the
// drive the measurement files are written to. Only a plain file is written.
#pragma once

#include <cstdio>
#include <string>

// The line as the log writes it, so that the log stays text whatever bytes
// a message took from a file or a peer: bytes below 0x20 but the tab, DEL
// and bytes that are no part of a well-formed UTF-8 character become "\xHH"
// (a newline too, so that a record stays one line); the rest, UTF-8
// characters and backslashes, is kept as it is.
std::string logLineText(const char* line);

class LogFile {
public:
    LogFile(std::string path, std::string backup, long limit);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the file for appending, made when it is missing; false when it
    // cannot be opened or is no plain file (a FIFO, a device, a folder: such
    // a file is never written, nor waited on), with the words for why in
    // problem() ("is a FIFO", "cannot be opened (reason)").
    bool open();
    bool isOpen() const { return f_ != nullptr; }
    const std::string& problem() const { return problem_; }
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
    std::string problem_;
};
