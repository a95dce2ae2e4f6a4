// Checks of the format texts of the display's boxes.
#include "display/config/display_format.h"

#include <cstring>

#include "display/config/display_config.h"

namespace {

// A number of at most three digits and at most 255 at p; moves p past it.
bool smallNumber(const char*& p, const char* end)
{
    int v = 0, n = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (++n > 3) return false;
    }
    return v <= 255;
}

// At most one conversion whose letter is in `kinds`, with the given flags.
bool check(const char* p, const char* end, const char* flags, const char* kinds, bool allowLong)
{
    int conversions = 0;
    while (p < end) {
        if (*p++ != '%') continue;
        if (p < end && *p == '%') {
            ++p;
            continue;
        }
        while (p < end && *p && std::strchr(flags, *p)) ++p;
        if (!smallNumber(p, end)) return false;
        if (p < end && *p == '.') {
            ++p;
            if (!smallNumber(p, end)) return false;
        }
        if (allowLong && p < end && *p == 'l') ++p;
        if (p >= end || !*p || !std::strchr(kinds, *p)) return false;
        ++p;
        if (++conversions > 1) return false;
    }
    return true;
}

}  // namespace

bool display_format_piece_ok(const char* piece, int len)
{
    if (!piece || len < 0) return false;
    return check(piece, piece + len, "-+ #0", "fFeEgGaA", true);
}

bool display_format_ok(const char* format, uint32_t mode)
{
    if (!format) return false;
    const int n = int(strnlen(format, DISPLAY_TEXT_LEN));
    if (mode == DISP_NORMAL) {
        int start = 0;
        for (int i = 0; i < n; ++i) {
            if (format[i] != DISP_FORMAT_SEPARATOR && i + 1 < n) continue;
            if (!display_format_piece_ok(format + start, i + 1 - start)) return false;
            start = i + 1;
        }
        return true;
    }
    if (mode >= DISP_TIME_HH_MM_SS && mode <= DISP_ASCII) return check(format, format + n, "-", "s", false);
    return true;
}
