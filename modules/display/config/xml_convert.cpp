// Value and keyword converters of the display.xml reader.
#include "display/config/xml_scan.h"

#include <cmath>
#include <cstdio>
#include <cstring>

int XmlGetBool(const char* text, uint8_t* out) {
    if (!text) return -1;
    if (std::strcmp(text, "true") == 0) *out = 1;
    else if (std::strcmp(text, "false") == 0) *out = 0;
    else return -1;
    return 0;
}

int XmlGetInt(const char* text, int32_t* out, int32_t min, int32_t max) {
    if (!text) return -1;
    const char* c = text;
    bool neg = false;
    if (*c == '+' || *c == '-') neg = *c++ == '-';
    uint32_t v = 0;   // wraps around at 32 bits
    for (; isDigit(*c); ++c) v = v * 10u + uint32_t(*c - '0');
    if (*c) return -1;
    if (neg) v = 0u - v;
    int32_t sv = static_cast<int32_t>(v);
    if (sv < min || sv > max) return -1;
    *out = sv;
    return 0;
}

int XmlGetUInt(const char* text, uint32_t* out, uint32_t min, uint32_t max) {
    if (!text) return -1;
    uint64_t v = 0;
    const char* c = text;
    for (; isDigit(*c); ++c) {
        v = v * 10u + uint64_t(*c - '0');
        if (v > 0xFFFFFFFFu) return -1;   // beyond 32 bits: no wrap-around to a small number
    }
    if (*c) return -1;
    uint32_t u = static_cast<uint32_t>(v);
    if (u < min || u > max) return -1;
    *out = u;
    return 0;
}

int XmlGetHex(const char* text, uint32_t* out, uint32_t min, uint32_t max) {
    if (!text) return -1;
    uint32_t v = 0;
    int n = 0;
    for (; text[n]; ++n) {
        if (n == 8) return -1;
        char c = text[n];
        uint32_t d;
        if (c >= '0' && c <= '9') d = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
        else return -1;
        v = v << 4 | d;
    }
    if (v < min || v > max) return -1;
    *out = v;
    return 0;
}

namespace {

// The reading that takes over where "%f" converts nothing: the texts made
// only of a sign, digits, a point and an exponent, such as "", "-" or ".".
int ownFloat(const char* c, float* out) {
    double sign = 1.0;
    if (*c == '+' || *c == '-') sign = *c++ == '-' ? -1.0 : 1.0;
    double mant = 0.0;
    for (; isDigit(*c); ++c) mant = mant * 10.0 + (*c - '0');
    if (*c == '.') {
        ++c;
        double k = 0.1;
        for (; isDigit(*c); ++c, k *= 0.1) mant += (*c - '0') * k;
    }
    int exp = 0;
    if (*c == 'e' || *c == 'E') {
        ++c;
        int esign = 1;
        if (*c == '+' || *c == '-') esign = *c++ == '-' ? -1 : 1;
        for (; isDigit(*c); ++c)
            if (exp < 10000) exp = exp * 10 + (*c - '0');
        exp *= esign;
    }
    if (*c) return -1;
    // A zero mantissa stays zero whatever the exponent (no 0 * inf).
    *out = mant == 0.0 ? static_cast<float>(sign * 0.0) : static_cast<float>(sign * mant * std::pow(10.0, exp));
    return 0;
}

}  // namespace

int XmlGetFloat(const char* text, float* out) {
    if (!text) return -1;
    float f;
    if (std::sscanf(text, "%f", &f) == 1) {
        *out = f;
        return 0;
    }
    return ownFloat(text, out);
}

namespace {

template <class E>
struct Keyword {
    const char* text;
    E value;
};

template <class E, size_t N>
int lookup(const Keyword<E> (&table)[N], const char* text, E* out) {
    if (!text) return -1;
    for (const auto& k : table) {
        if (std::strcmp(k.text, text) == 0) {
            *out = k.value;
            return 0;
        }
    }
    return -1;
}

}  // namespace

int XmlStr2Style(const char* text, StyleType_t* out) {
    static const Keyword<StyleType_t> t[] = {{"none", STYLE_NONE},
                                             {"single_line", STYLE_SINGLE_LINE},
                                             {"double_line", STYLE_DOUBLE_LINE},
                                             {"single_top", STYLE_SINGLE_TOP},
                                             {"single_side", STYLE_SINGLE_SIDE}};
    return lookup(t, text, out);
}

int XmlStr2VisMode(const char* text, VisModeType_t* out) {
    static const Keyword<VisModeType_t> t[] = {
        {"always", VIS_ALWAYS}, {"limit", VIS_LIMIT}, {"limit_resetable", VIS_LIMIT_RESETABLE}};
    return lookup(t, text, out);
}

int XmlStr2Type(const char* text, uint16_t* out) {
    static const Keyword<uint16_t> t[] = {{"UINT8", TE_UINT8},   {"SINT8", TE_SINT8},   {"UINT16", TE_UINT16},
                                          {"SINT16", TE_SINT16}, {"UINT32", TE_UINT32}, {"SINT32", TE_SINT32},
                                          {"FLOAT", TE_FLOAT},   {"BOOL", TE_BOOL}};
    return lookup(t, text, out);
}

int XmlStr2FontSize(const char* text, FontSizeType_t* out) {
    static const Keyword<FontSizeType_t> t[] = {{"tiny", FONT_TINY},         {"small", FONT_SMALL},
                                                {"normal", FONT_NORMAL},     {"large", FONT_LARGE},
                                                {"extralarge", FONT_EXTRALARGE}, {"xxlarge", FONT_XXLARGE},
                                                {"xxxlarge", FONT_XXXLARGE}};
    return lookup(t, text, out);
}

int XmlStr2Align(const char* text, AlignType_t* out) {
    static const Keyword<AlignType_t> t[] = {{"TL", ALIGN_TL}, {"TM", ALIGN_TM}, {"TR", ALIGN_TR},
                                             {"ML", ALIGN_ML}, {"MM", ALIGN_MM}, {"MR", ALIGN_MR},
                                             {"BL", ALIGN_BL}, {"BM", ALIGN_BM}, {"BR", ALIGN_BR}};
    return lookup(t, text, out);
}

int XmlStr2DispOpt(const char* text, DispOptType_t* out) {
    static const Keyword<DispOptType_t> t[] = {{"normal", DISP_NORMAL},
                                               {"time_hh_mm_ss", DISP_TIME_HH_MM_SS},
                                               {"time_mm_ss_ms", DISP_TIME_MM_SS_MS},
                                               {"time_u_sss_ms", DISP_TIME_U_SSS_MS},
                                               {"time_s_sss_ms", DISP_TIME_S_SSS_MS},
                                               {"verbal", DISP_VERBAL},
                                               {"ascii", DISP_ASCII}};
    return lookup(t, text, out);
}

int XmlStr2BargrStyle(const char* text, BargrStyleType_t* out) {
    static const Keyword<BargrStyleType_t> t[] = {{"solid", BARGR_SOLID}, {"stacked", BARGR_STACKED}};
    return lookup(t, text, out);
}

int XmlStr2BargrBargrOrient(const char* text, BargrOrientType_t* out) {
    static const Keyword<BargrOrientType_t> t[] = {
        {"hori_lr", BARGR_HORI_LR}, {"hori_rl", BARGR_HORI_RL}, {"vert_bt", BARGR_VERT_BT}, {"vert_tb", BARGR_VERT_TB}};
    return lookup(t, text, out);
}

int XmlStr2BlinkType(const char* text, BlinkType_t* out) {
    static const Keyword<BlinkType_t> t[] = {{"off", BLINK_OFF}, {"slow", BLINK_SLOW}, {"fast", BLINK_FAST}};
    return lookup(t, text, out);
}
