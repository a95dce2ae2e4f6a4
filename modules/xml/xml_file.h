// A whole XML file read into memory for XmlScan.
//
// The path may be a device path ("cfg:/m01.xml") or a host path. Throws (as
// `const char*`, see xml_error.h) "File not found : <path>",
// "File not found, len invalid : <path>", "Out of memory error" or
// "File open error".
#pragma once

#include <cstddef>
#include <memory>

class XmlFile {
public:
    explicit XmlFile(const char* path);
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    // The file's bytes followed by a terminating 0.
    const char* getBuffer() const { return buf_.get(); }
    size_t getLength() const { return len_; }

private:
    std::unique_ptr<char[]> buf_;
    size_t len_ = 0;
};
