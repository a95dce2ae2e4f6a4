// The log file of the device folder, kept bounded: once a line takes it past
// its size limit it is renamed to its backup name (the backup before it
// goes) and a new file begins, so that no flood of log lines can fill the
// drive the measurement files are written to. Only a plain file is written,
// only whole lines stay in it.
#pragma once

#include <functional>
#include <string>

// The line as the log writes it, so that the log stays text whatever bytes
// a message took from a file or a peer: bytes below 0x20 but the tab, DEL
// and bytes that are no part of a well-formed UTF-8 character become "\xHH"
// (a newline too, so that a record stays one line), as do the bytes of a
// character that shows nothing or turns the text around (a byte-order mark,
// zero-width and direction marks, C1 controls); the rest, UTF-8 characters
// and backslashes, is kept as it is.
std::string logLineText(const char* line);

class LogFile {
public:
    // Makes the log line of a note the log file writes about itself (the
    // records it could not write, a file that went away); without it the
    // note's text is the line.
    using NoteLine = std::function<std::string(const std::string& text)>;

    // The files are reached at path and backup; messages name them as
    // shownPath and shownBackup (the same when not given).
    LogFile(std::string path, std::string backup, long limit, NoteLine noteLine = {}, std::string shownPath = "",
            std::string shownBackup = "");
    // Writes the lines still kept; what could not be written and was never
    // said in the file is said on stderr.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the file for appending, made when it is missing; false when it
    // cannot be opened or is no plain file (a FIFO, a device, a folder: such
    // a file is never written, nor waited on), with the words for why in
    // problem() ("is a FIFO", "cannot be opened (reason)").
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& problem() const { return problem_; }
    // Closes the file; the lines not yet written are kept for the next one.
    void close();

    // Appends the line and a newline. Lines are kept and written whole, a
    // buffer's worth in one write, at the latest by flush(); then the file
    // is renamed when it has passed the limit. A write the drive refuses
    // (full, gone read-only) leaves the file at its last whole line: the
    // lines are kept (64 KiB of them) and written as soon as the file takes
    // a write again; those past that are counted, and the count is said in
    // their place ("log: N log records could not be written (reason)"); the
    // first refusal of a spell is said on stderr.
    void write(const char* line);
    void flush();
    // Writes a note of the log's own, made through the NoteLine.
    void note(const std::string& text);
    // Lines not written (refused or cut back) and not yet said in the file.
    unsigned long unwritten() const { return unwritten_; }
    // Lines are kept that the file refused: a later flush tries them again.
    bool refusing() const { return refusing_ && !pending_.empty(); }

    // What stands at the path now, against the file open: the same file,
    // nothing (removed, or renamed away), another file or anything else.
    enum class Place { Same, Gone, Replaced, NotOpen };
    Place place() const;
    // Says in the file why it is a new one: the one before was `was`
    // (NotOpen: the file could not be written, for problemBefore).
    void noteMoved(Place was, const std::string& problemBefore);

private:
    void rotate();
    bool writePending();

    std::string path_, backup_;
    std::string shownPath_, shownBackup_;
    long limit_;
    NoteLine noteLine_;
    int fd_ = -1;
    long size_ = 0;
    std::string pending_;          // whole lines, each with its newline
    unsigned long pendingLines_ = 0;
    unsigned long unwritten_ = 0;
    size_t countedAt_ = std::string::npos;   // where in pending_ the lines counted came
    std::string refusal_;          // why the last write was refused
    bool refusing_ = false;        // in a spell of refused writes (said on stderr)
    std::string problem_;
};
