// A whole XML file read into memory for XmlScan.
//
// The path may be a device path ("cfg:/m01.xml") or a host path. Throws (as
// `const char*`, see xml_error.h) "File not found : <path>",
// "File not found, len invalid : <path> is empty" (or "... is a folder",
// "... is a FIFO", "... is too large (N bytes)", the words of
// xmlFileProblem), "Out of memory error" or "File open error". A FIFO or a
// device is never waited on. A scanner made over the file names it in
// every error it throws.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "host/kernel/kernel.h"

// Largest configuration file read whole: the one limit of every file the
// device reads whole; anything above is not one of ours (the largest,
// display.xml, is some tens of kilobytes).
constexpr size_t kXmlFileMaxBytes = host::kFileMaxBytes;

// Why the configuration file at path (device or host path) cannot be read
// whole, as words that follow its name: "not found", "is a link loop",
// "is a link that leads nowhere", "is a folder", "is a FIFO", "is a
// device", "is a socket", "is empty", "is too large (N bytes)" (above
// maxBytes); "" when it can (host::fileProblem). Every configuration reader
// checks its file through this, so that each says the same about the same
// fault.
std::string xmlFileProblem(const char* path, size_t maxBytes = kXmlFileMaxBytes);

// Where the first NUL byte of a configuration text stands, as "NUL byte in
// line L column C" (lines and columns from 1, a column per character, as
// the XML classes count), "" when the text holds none. A NUL would end the
// text early for a reader that takes it as a C string.
std::string xmlNulByte(const char* text, size_t len);

class XmlFile {
public:
    explicit XmlFile(const char* path);
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    // The file's bytes followed by a terminating 0.
    const char* getBuffer() const { return buf_.get(); }
    size_t getLength() const { return len_; }
    // The path it was read from, as given.
    const char* getName() const { return name_.c_str(); }

private:
    std::unique_ptr<char[]> buf_;
    size_t len_ = 0;
    std::string name_;
};
