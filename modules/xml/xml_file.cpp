#include "xml/xml_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <string>

#include "platform/files.h"
#include "xml/xml_error.h"

std::string xmlFileProblem(const char* path, size_t maxBytes) {
    std::string host = dev_path(path);
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0) return "not found";
    if (S_ISDIR(st.st_mode)) return "is a folder";
    if (st.st_size <= 0) return "is empty";
    if (static_cast<unsigned long long>(st.st_size) > maxBytes)
        return "is too large (" + std::to_string(static_cast<long long>(st.st_size)) + " bytes)";
    return "";
}

XmlFile::XmlFile(const char* path) : name_(path ? path : "") {
    const char* name = name_.c_str();
    const std::string problem = xmlFileProblem(path);
    if (problem == "not found" || problem == "is a folder") throw XmlErrorText("File not found : ", name);
    if (!problem.empty())
        throw XmlErrorText("File not found, len invalid : ", (name_ + " " + problem).c_str());
    std::string host = dev_path(path);
    FILE* f = fopen(host.c_str(), "rb");
    if (!f) throw "File open error";
    // the size of the file opened, which may differ from the one checked
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<unsigned long long>(st.st_size) > kXmlFileMaxBytes) {
        fclose(f);
        throw "File open error";
    }
    len_ = static_cast<size_t>(st.st_size);
    buf_.reset(new (std::nothrow) char[len_ + 1]);
    if (!buf_) {
        fclose(f);
        throw "Out of memory error";
    }
    size_t got = fread(buf_.get(), 1, len_, f);
    fclose(f);
    if (got != len_) throw "File open error";
    buf_[len_] = 0;
}
