// Loading "cfg:/display.xml": the whole file into memory, then the parse.
#include <cstdio>
#include <cstdlib>

#include "display/config/xml_reader.h"
#include "platform/files.h"

int XmlLoad(const char* path, display_s** out) {
    *out = nullptr;
    if (!fexist(path)) {
        xml_error("File not found !", nullptr);
        return -1;
    }
    // The scanner counts in 32 bits, and the buffer is taken whole: a size
    // beyond any display configuration is refused before it is allocated.
    long size = fsize(path);
    if (size <= 0 || size > DISPLAY_XML_MAX_SIZE) {
        xml_error("File not found, len invalid!", nullptr);
        return -1;
    }
    char* buf = static_cast<char*>(std::calloc(size_t(size), 1));
    if (!buf) {
        xml_error("Out of memory error!", nullptr);
        return -1;
    }
    FILE* f = dev_fopen(path, "rb");
    if (!f) {
        std::free(buf);
        xml_error("File open error!", nullptr);
        return -1;
    }
    // A read that stops early parses what arrived.
    size_t got = 0;
    while (got < size_t(size)) {
        size_t n = std::fread(buf + got, 1, size_t(size) - got, f);
        if (n == 0) break;
        got += n;
    }
    std::fclose(f);
    int r = XmlLoadText(buf, static_cast<int32_t>(got), out);
    std::free(buf);
    return r;
}
