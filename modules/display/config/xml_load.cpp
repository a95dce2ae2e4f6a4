// Loading "cfg:/display.xml": the whole file into memory, then the parse.
// The error texts are the reader's own and name no file; each failure also
// logs a line that names the file and, where the file itself is at fault,
// what is wrong with it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/config/xml_reader.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "xml/xml_file.h"

namespace {

int fileFault(const char* path, const char* text, const std::string& problem) {
    xml_error(text, nullptr);
    syslogx(155, "XmlLoad(): %s %s", path, problem.c_str());
    return -1;
}

}  // namespace

int XmlLoad(const char* path, display_s** out) {
    *out = nullptr;
    const char* name = path ? path : "";
    // The scanner counts in 32 bits, and the buffer is taken whole: a size
    // beyond any configuration is refused before it is allocated.
    const std::string problem = xmlFileProblem(path);
    if (problem == "not found") return fileFault(name, "File not found !", problem);
    if (!problem.empty()) return fileFault(name, "File not found, len invalid!", problem);
    // opened without waiting; the file opened may differ from the one checked
    std::string opened;
    size_t size = 0;
    FILE* f = dev_fopen_read(path, &opened, &size, kXmlFileMaxBytes);
    if (!f) {
        if (opened.rfind("cannot", 0) == 0) return fileFault(name, "File open error!", opened);
        return fileFault(name, "File not found, len invalid!", opened);
    }
    if (size == 0) {
        std::fclose(f);
        return fileFault(name, "File not found, len invalid!", "is empty");
    }
    char* buf = static_cast<char*>(std::calloc(size, 1));
    if (!buf) {
        std::fclose(f);
        return fileFault(name, "Out of memory error!", "needs too much memory");
    }
    // A read that stops early parses what arrived.
    size_t got = 0;
    while (got < size) {
        size_t n = std::fread(buf + got, 1, size - got, f);
        if (n == 0) break;
        got += n;
    }
    std::fclose(f);
    // The tokenizer takes a NUL byte for a blank, and inside a value it ends
    // the value early: the file is damaged, and said so where the byte is.
    const std::string nul = xmlNulByte(buf, got);
    if (!nul.empty()) {
        std::free(buf);
        xml_error(nul.c_str(), nullptr);
        syslogx(155, "XmlLoad(): %s of %s", nul.c_str(), name);
        return -1;
    }
    int r = XmlLoadText(buf, static_cast<int32_t>(got), out);
    std::free(buf);
    if (r != 0) {
        char text[255];
        xml_get_error_msg(text, sizeof text);
        syslogx(155, "XmlLoad(): %s: %s", name, text);
    }
    return r;
}
