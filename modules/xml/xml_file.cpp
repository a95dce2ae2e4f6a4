#include "xml/xml_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <string>

#include "host/kernel/kernel.h"
#include "platform/files.h"
#include "xml/xml_error.h"

std::string xmlFileProblem(const char* path, size_t maxBytes) {
    uint64_t size = 0;
    const std::string problem = host::fileProblem(dev_path(path), &size);
    if (!problem.empty()) return problem;
    if (size > maxBytes) return "is too large (" + std::to_string(size) + " bytes)";
    return "";
}

std::string xmlNulByte(const char* text, size_t len) {
    if (!text) return "";
    int line = 1, column = 1;
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0) return "NUL byte in line " + std::to_string(line) + " column " + std::to_string(column);
        if (c == '\n' || (c == '\r' && (i + 1 >= len || text[i + 1] != '\n'))) {
            ++line;
            column = 1;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            ++column;   // the continuation bytes of a UTF-8 character add none
        }
    }
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
