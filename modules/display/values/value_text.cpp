// The text of a box's value by its display mode. Every output is bounded by
// the box's text buffer and every format is checked before printf sees it.
#include <cstdio>
#include <cstring>

#include "display/config/display_format.h"
#include "display/config/xml_vtab.h"
#include "display/values/cdata.h"
#include "display/values/value_text.h"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

namespace {

constexpr size_t kWorkLen = 256;

// snprintf's count of what was written (not of what would have been).
int written(int r, size_t room)
{
    if (r < 0) return 0;
    return size_t(r) >= room ? int(room ? room - 1 : 0) : r;
}

// Three fields of |v|: v / div1, (v mod div1) / div2, v mod div2; signed.
void signedClock(char* work, int32_t v, int32_t div1, int32_t div2)
{
    // The magnitude in 64 bits: |INT32_MIN| does not fit 32.
    const int64_t a = v < 0 ? -int64_t(v) : int64_t(v);
    std::snprintf(work, kWorkLen, "%s%02lld:%02lld:%02lld", v < 0 ? "-" : "", (long long)(a / div1),
                  (long long)((a % div1) / div2), (long long)(a % div2));
}

}  // namespace

int sprintf_w0x81(char* out, const char* format, double value, size_t outSize)
{
    if (!out || outSize == 0) return 0;
    out[0] = 0;
    if (!format) return 0;
    const size_t n = strnlen(format, DISPLAY_TEXT_LEN);
    size_t used = 0, total = 0;
    char piece[DISPLAY_TEXT_LEN + 1];
    while (used < n) {
        size_t len = 0;
        while (used < n) {
            const char ch = format[used++];
            piece[len++] = ch;
            if (ch == DISP_FORMAT_SEPARATOR) break;
        }
        piece[len] = 0;
        // A piece that does not fit the value is left out.
        if (!display_format_piece_ok(piece, int(len))) continue;
        const size_t room = outSize - total;
        const int r = std::memchr(piece, '%', len) ? std::snprintf(out + total, room, piece, value)
                                                   : std::snprintf(out + total, room, "%s", piece);
        total += size_t(written(r, room));
    }
    return int(total);
}

void CDataMeas::getDataStr(const char* format, char* out)
{
    if (!out) return;
    out[0] = 0;
    if (!format || !getMeasUpdateState()) return;
    const double v = physical;
    if (dispMode == DISP_NORMAL) {
        const int len = sprintf_w0x81(out, format, v, DISP_VALUE_TEXT_LEN);
        disp_trim_number(out, len);
        return;
    }
    if (dispMode < DISP_TIME_HH_MM_SS || dispMode > DISP_ASCII) return;
    char work[kWorkLen] = "";
    switch (dispMode) {
    case DISP_TIME_HH_MM_SS: signedClock(work, disp_round_s32(v), 3600, 60); break;
    case DISP_TIME_MM_SS_MS: signedClock(work, disp_round_s32(v * 100.0), 6000, 100); break;
    case DISP_TIME_U_SSS_MS: {
        const uint32_t u = v >= 0 ? disp_round_u32(v * 100.0) : 0;
        std::snprintf(work, sizeof work, "%03u:%02u", u / 100, u % 100);
        break;
    }
    case DISP_TIME_S_SSS_MS: {
        const int32_t t = disp_trunc_s32(v * 100.0);
        const int64_t a = t < 0 ? -int64_t(t) : int64_t(t);
        std::snprintf(work, sizeof work, "%s%03lld:%02lld", t < 0 ? "-" : " ", (long long)(a / 100),
                      (long long)(a % 100));
        break;
    }
    case DISP_VERBAL: {
        // The verbal table orders its entries by num as unsigned 32-bit
        // words: a negative value (a signed channel's) is looked up by its
        // two's complement, a value above INT32_MAX (an unsigned channel's)
        // as it is.
        const uint32_t index = v < 0 ? uint32_t(disp_round_s32(v)) : disp_round_u32(v);
        XmlVTabOutput(vtab, index, work);
        break;
    }
    case DISP_ASCII: std::snprintf(work, sizeof work, "%c", int(disp_round_u32(v) & 0xFFu)); break;
    }
    if (!display_format_ok(format, dispMode)) return;
    std::snprintf(out, DISP_VALUE_TEXT_LEN, format, work);
}

void disp_trim_number(char* text, int len)
{
    if (!text || len <= 0) return;
    if (text[len - 1] == '.') text[--len] = 0;
    if (len <= 3 && std::strcmp(text, "-0") == 0) std::strcpy(text, "0");
}
