// The last error text of the display.xml reader: one buffer, replaced by
// every failure, so the caller reads the text of the outermost report.
#include "display/config/xml_scan.h"

#include <cstdio>
#include <cstring>

namespace {
char error_msg[255];
}

void xml_error(const char* msg, const xml_scan_s* s) {
    if (!msg) msg = "";
    if (s)
        std::snprintf(error_msg, 254, "%s in line %d column %d", msg, s->line, s->col);
    else
        std::snprintf(error_msg, 254, "%s", msg);
}

void xml_get_error_msg(char* dest, int n) {
    if (!dest || n <= 0) return;
    if (n > 254) n = 254;
    size_t len = strnlen(error_msg, sizeof error_msg - 1);
    if (len > size_t(n) - 1) len = size_t(n) - 1;
    std::memcpy(dest, error_msg, len);
    dest[len] = 0;
}
