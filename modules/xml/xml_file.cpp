#include "xml/xml_file.h"

#include <cstdio>
#include <new>
#include <string>

#include "host/kernel/kernel.h"
#include "platform/files.h"
#include "xml/xml_error.h"

std::string xmlFileProblem(const char* path, size_t maxBytes) {
    return host::fileProblem(dev_path(path), nullptr, maxBytes);
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
    std::string problem;
    size_t size = 0;
    // opened without waiting: what it is is said by the descriptor opened,
    // so that a FIFO put in its place after any check is named too
    FILE* f = dev_fopen_read(path, &problem, &size, kXmlFileMaxBytes);
    if (f && size == 0) {
        fclose(f);
        f = nullptr;
        problem = "is empty";
    }
    if (!f) {
        if (problem == "not found") throw XmlErrorText("File not found : ", name);
        if (problem.rfind("cannot", 0) == 0) throw "File open error";
        throw XmlErrorText("File not found, len invalid : ", (name_ + " " + problem).c_str());
    }
    len_ = size;
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
