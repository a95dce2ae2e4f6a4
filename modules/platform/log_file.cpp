#include "platform/log_file.h"

#include "host/kernel/kernel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// The code point of the well-formed UTF-8 character of len bytes at p.
uint32_t codePoint(const unsigned char* p, size_t len) {
    uint32_t cp = len == 2 ? (p[0] & 0x1F) : len == 3 ? (p[0] & 0x0F) : (p[0] & 0x07);
    for (size_t i = 1; i < len; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

// Characters that show nothing or turn the text around, so that a name
// holding one would read as another: C1 controls, the soft hyphen, the
// zero-width and direction marks and embeddings, the separators of lines
// and paragraphs, the byte-order mark, the annotation marks and the tags.
bool invisible(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0xAD || cp == 0x61C || cp == 0x180E ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) ||
           cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp >= 0xE0000 && cp <= 0xE007F);
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
            keep = len > 0 && !invisible(codePoint(p + i, len));
            if (len == 0) len = 1;
        }
        if (keep) {
            out.append(line + i, len);
        } else {
            static const char hex[] = "0123456789abcdef";
            for (size_t k = 0; k < len; ++k) {   // each byte of a character not kept
                out += "\\x";
                out += hex[p[i + k] >> 4];
                out += hex[p[i + k] & 15];
            }
        }
        i += len;
    }
    return out;
}

namespace {

// Lines are kept up to this many bytes before they are written in one go.
constexpr size_t kPendingBytes = 8192;
// Lines a refusing drive did not take are kept up to this many bytes and
// written once it takes writes again: a line that names lost data must not
// be lost itself when the log shares the full drive with the data.
constexpr size_t kHoldBytes = 65536;

// Opens the plain file at path for appending (emptied first with truncate),
// made when it is missing. Anything else there is not written: a FIFO would
// hold the writer for good (until a reader comes, then whenever it stops
// reading), a device takes what it is given, and a link would have the log
// written into whatever file it leads to. It is looked at first and opened
// without waiting and without following a link, and the opened file is
// looked at again, for a FIFO put there since. -1 with the words for what is
// there in *problem.
int openPlainToAppend(const std::string& path, bool truncate, std::string* problem) {
    const std::string before = host::fileProblemToWrite(path);
    if (before != "" && before != "not found") {
        *problem = before;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                                            O_CLOEXEC | (truncate ? O_TRUNC : 0),
                          0644);
    if (fd < 0) {
        const int cause = errno;
        const std::string what = host::fileProblemToWrite(path);
        *problem = (what != "" && what != "not found") ? what
                                                       : std::string("cannot be opened (") + std::strerror(cause) + ")";
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        const std::string what = host::fileProblemToWrite(path);
        *problem = what.empty() || what == "not found" ? "is no plain file" : what;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Writes all of text; the number of bytes written, with the cause in *cause
// when it is short.
size_t writeAll(int fd, const std::string& text, int* cause) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            *cause = n < 0 ? errno : ENOSPC;   // a write of nothing: no room
            break;
        }
    }
    return done;
}

}  // namespace

LogFile::LogFile(std::string path, std::string backup, long limit, NoteLine noteLine, std::string shownPath,
                 std::string shownBackup)
    : path_(std::move(path)),
      backup_(std::move(backup)),
      shownPath_(shownPath.empty() ? path_ : std::move(shownPath)),
      shownBackup_(shownBackup.empty() ? backup_ : std::move(shownBackup)),
      limit_(limit),
      noteLine_(std::move(noteLine)) {}

LogFile::~LogFile() {
    try {
        if (!writePending() && fd_ >= 0) unwritten_ += pendingLines_;
        if (unwritten_ > 0)
            fprintf(stderr, "log: %lu log records could not be written to %s (%s)\n", unwritten_, shownPath_.c_str(),
                    refusal_.c_str());
    } catch (...) {
        // nothing leaves a destructor; the file is closed below in any case
    }
    if (fd_ >= 0) ::close(fd_);
}

bool LogFile::open() {
    if (fd_ >= 0) return true;
    problem_.clear();
    fd_ = openPlainToAppend(path_, false, &problem_);
    if (fd_ < 0) return false;
    struct stat st;
    size_ = fstat(fd_, &st) == 0 ? static_cast<long>(st.st_size) : 0;
    if (size_ >= limit_) rotate();   // left over from a run before
    return fd_ >= 0;
}

void LogFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void LogFile::write(const char* line) {
    const size_t len = std::strlen(line) + 1;
    if (pending_.size() + len > kPendingBytes) writePending();
    // Past what is kept for a refusing drive, lines are counted; once one is,
    // the later ones are too, until a write is taken, so that the count
    // stands where they were in the log.
    if (!pending_.empty() && (pending_.size() + len > kHoldBytes || countedAt_ != std::string::npos)) {
        if (countedAt_ == std::string::npos) countedAt_ = pending_.size();
        ++unwritten_;
        return;
    }
    pending_ += line;
    pending_ += '\n';
    ++pendingLines_;
    if (size_ + static_cast<long>(pending_.size()) >= limit_) {
        writePending();
        if (fd_ >= 0 && size_ >= limit_) rotate();
    }
}

void LogFile::flush() { writePending(); }

void LogFile::note(const std::string& text) { write((noteLine_ ? noteLine_(text) : text).c_str()); }

LogFile::Place LogFile::place() const {
    if (fd_ < 0) return Place::NotOpen;
    struct stat mine, there;
    if (fstat(fd_, &mine) != 0) return Place::Gone;
    // a link put at the name is something else, wherever it leads
    if (lstat(path_.c_str(), &there) != 0) return errno == ENOENT || errno == ENOTDIR ? Place::Gone : Place::Same;
    return there.st_dev == mine.st_dev && there.st_ino == mine.st_ino ? Place::Same : Place::Replaced;
}

// Writes the kept lines in one write, with the count of those not kept
// where they stood (first when they came before the kept ones). A write cut
// short leaves part of a line behind: the file is cut back to where it ended
// before, so that the next line begins on a line of its own, and the lines
// stay kept for the next write. Lines kept while no file is open go nowhere
// (the file that is not written was named on stderr).
bool LogFile::writePending() {
    if (pending_.empty()) return true;
    if (fd_ < 0) {
        pending_.clear();
        pendingLines_ = 0;
        countedAt_ = std::string::npos;
        return false;
    }
    std::string text;
    std::string note;
    const size_t at = countedAt_ <= pending_.size() ? countedAt_ : 0;
    if (unwritten_ > 0) {
        const std::string said = std::string("log: ") + std::to_string(unwritten_) +
                                 " log records could not be written (" + refusal_ + ")";
        note = (noteLine_ ? noteLine_(said) : said) + "\n";
        text = pending_.substr(0, at) + note + pending_.substr(at);
    } else {
        text = pending_;
    }
    struct stat st;
    const long whole = fstat(fd_, &st) == 0 ? static_cast<long>(st.st_size) : size_;
    int cause = 0;
    const size_t done = writeAll(fd_, text, &cause);
    if (done == text.size()) {
        size_ = whole + static_cast<long>(done);
        pending_.clear();
        pendingLines_ = 0;
        unwritten_ = 0;
        countedAt_ = std::string::npos;
        refusing_ = false;
        return true;
    }
    refusal_ = std::strerror(cause);
    // The whole lines the drive took stay in the file (a nearly full drive
    // still takes a few); the rest is cut off and stays kept.
    const size_t end = text.rfind('\n', done ? done - 1 : 0);
    const size_t took = done && end != std::string::npos ? end + 1 : 0;
    if (done > took && ftruncate(fd_, whole + static_cast<long>(took)) != 0) {
        // part of a line stays in the file: the kept lines are given up
        // (counted), or they would be written twice
        size_ = whole + static_cast<long>(done);
        unwritten_ += pendingLines_;
        pending_.clear();
        pendingLines_ = 0;
        countedAt_ = std::string::npos;
    } else if (took > 0) {
        size_ = whole + static_cast<long>(took);
        // the note is one line: the lines taken end before it or after it
        const bool noteTaken = !note.empty() && took >= at + note.size();
        const size_t fromPending = noteTaken ? took - note.size() : took;
        pendingLines_ -= static_cast<unsigned long>(std::count(pending_.begin(), pending_.begin() + long(fromPending), '\n'));
        pending_.erase(0, fromPending);
        if (noteTaken) {
            unwritten_ = 0;
            countedAt_ = std::string::npos;
        } else if (countedAt_ != std::string::npos) {
            countedAt_ -= fromPending;
        }
    }
    if (!refusing_)
        fprintf(stderr, "log: %s cannot be written (%s): the records not written are kept, then counted\n",
                shownPath_.c_str(), refusal_.c_str());
    refusing_ = true;
    return false;
}

void LogFile::noteMoved(Place was, const std::string& problemBefore) {
    switch (was) {
    case Place::Same: break;
    case Place::Gone: note("log: " + shownPath_ + " was removed while in use: the log goes on in a new one"); break;
    case Place::Replaced: note("log: " + shownPath_ + " was replaced while in use: the log goes on in the file now there"); break;
    case Place::NotOpen: {
        const std::string then =
            problemBefore.rfind("is ", 0) == 0 ? "was " + problemBefore.substr(3) : problemBefore;
        note("log: " + shownPath_ + " is written again: the records before reached stderr only (it " + then + ")");
        break;
    }
    }
}

void LogFile::rotate() {
    // the file is no longer at its name (removed, replaced): the log goes on
    // in what is there now, and nothing else is renamed
    if (const Place was = place(); was != Place::Same) {
        close();
        if (open())
            noteMoved(was, "");
        else
            fprintf(stderr, "log: %s %s: the log is not written\n", shownPath_.c_str(), problem_.c_str());
        return;
    }
    // rename replaces the backup in one step: the older lines go. One that
    // fails (a folder at the backup's name) keeps the file as it is: it is
    // not written further, for the log stays bounded, and the cause is named
    // as the file's problem, on stderr by the one who opens it next.
    if (rename(path_.c_str(), backup_.c_str()) != 0) {
        const int cause = errno;
        close();
        problem_ = "is at its limit and cannot be renamed to " + shownBackup_ + " (" + std::strerror(cause) + ")";
        return;
    }
    close();
    problem_.clear();
    fd_ = openPlainToAppend(path_, true, &problem_);
    if (fd_ < 0) fprintf(stderr, "log: %s %s: the log is not written\n", shownPath_.c_str(), problem_.c_str());
    size_ = 0;
}
