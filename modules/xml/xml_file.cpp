#include "xml/xml_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <string>

#include "platform/files.h"
#include "xml/xml_error.h"

namespace {
// Configuration files are small; anything above this is not one of ours.
constexpr off_t kMaxXmlFile = 64 * 1024 * 1024;
}

XmlFile::XmlFile(const char* path) {
    const char* name = path ? path : "";
    std::string host = dev_path(path);
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        throw XmlErrorText("File not found : ", name);
    if (st.st_size <= 0) throw XmlErrorText("File not found, len invalid : ", name);
    if (st.st_size > kMaxXmlFile) throw "Out of memory error";
    len_ = static_cast<size_t>(st.st_size);
    buf_.reset(new (std::nothrow) char[len_ + 1]);
    if (!buf_) throw "Out of memory error";
    FILE* f = fopen(host.c_str(), "rb");
    if (!f) throw "File open error";
    size_t got = fread(buf_.get(), 1, len_, f);
    fclose(f);
    if (got != len_) throw "File open error";
    buf_[len_] = 0;
}
