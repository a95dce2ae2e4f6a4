#include "xml/xml_tag_parser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "xml/xml_error.h"
#include "xml/xml_scan.h"

XmlVTabParser::XmlVTabParser(size_t capacity) : capacity_(capacity) {}

bool XmlVTabParser::addPair(const char* word, long long value) {
    if (!word || pairs_.size() >= capacity_) return false;
    pairs_.emplace_back(word, value);
    return true;
}

bool XmlVTabParser::lookup(const char* word, long long* value) const {
    for (const auto& p : pairs_) {
        if (p.first == word) {
            *value = p.second;
            return true;
        }
    }
    return false;
}

XmlTagParser::XmlTagParser(size_t capacity) : capacity_(capacity) {}

void XmlTagParser::addRow(Row row) {
    if (rows_.size() >= capacity_) throw "parse: less tags used!";
    rows_.push_back(std::move(row));
}

void XmlTagParser::addAttribute(const char* name, void* target, size_t size, xmlType_t type,
                                int optional) {
    addRow(Row{name ? name : "", target, size, type, optional != 0, nullptr, false});
}

void XmlTagParser::addAttributeVTab(const char* name, const XmlVTabParser* vtab, void* target,
                                    size_t size, int optional) {
    addRow(Row{name ? name : "", target, size, XML_VTAB, optional != 0, vtab, false});
}

bool XmlTagParser::found(const char* name) const {
    for (const auto& r : rows_)
        if (r.name == name) return r.found;
    return false;
}

namespace {

// Hex digits with an optional "0x"/"0X" and surrounding blanks; false when
// anything else is in the text or the value needs more than maxBits.
bool parseHex(const char* s, unsigned maxBits, uint64_t* out) {
    while (*s == ' ' || *s == '\t') ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
    uint64_t v = 0;
    int digits = 0;
    bool overflow = false;
    for (; *s; ++s) {
        int d;
        if (*s >= '0' && *s <= '9') d = *s - '0';
        else if (*s >= 'a' && *s <= 'f') d = *s - 'a' + 10;
        else if (*s >= 'A' && *s <= 'F') d = *s - 'A' + 10;
        else break;
        if (v >> 60) overflow = true;
        v = (v << 4) | static_cast<uint64_t>(d);
        ++digits;
    }
    while (*s == ' ' || *s == '\t') ++s;
    if (*s || digits == 0 || overflow) return false;
    if (maxBits < 64 && (v >> maxBits)) return false;
    *out = v;
    return true;
}

// Decimal (or "0x" hexadecimal) integer, whole text, blanks allowed around.
bool parseSigned(const char* s, long long* out) {
    while (*s == ' ' || *s == '\t') ++s;
    const char* p = s;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = (*p++ == '-');
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        uint64_t u;
        if (!parseHex(p, 64, &u)) return false;
        if (neg ? u > 0x8000000000000000ull : u > 0x7fffffffffffffffull) return false;
        *out = neg ? static_cast<long long>(0 - u) : static_cast<long long>(u);
        return true;
    }
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end;
    long long v = strtoll(s, &end, 10);
    while (*end == ' ' || *end == '\t') ++end;
    if (errno == ERANGE || *end) return false;
    *out = v;
    return true;
}

bool parseUnsigned(const char* s, unsigned long long* out) {
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '+') ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        uint64_t u;
        if (!parseHex(s, 64, &u)) return false;
        *out = u;
        return true;
    }
    if (*s < '0' || *s > '9') return false;   // no sign: strtoull would wrap "-1"
    errno = 0;
    char* end;
    unsigned long long v = strtoull(s, &end, 10);
    while (*end == ' ' || *end == '\t') ++end;
    if (errno == ERANGE || *end) return false;
    *out = v;
    return true;
}

bool storeUnsigned(void* target, size_t size, uint64_t v) {
    switch (size) {
    case 1: if (v > 0xff) return false; *static_cast<uint8_t*>(target) = static_cast<uint8_t>(v); return true;
    case 2: if (v > 0xffff) return false; *static_cast<uint16_t*>(target) = static_cast<uint16_t>(v); return true;
    case 4: if (v > 0xffffffffu) return false; *static_cast<uint32_t*>(target) = static_cast<uint32_t>(v); return true;
    case 8: *static_cast<uint64_t*>(target) = v; return true;
    default: return false;
    }
}

bool storeSigned(void* target, size_t size, long long v) {
    switch (size) {
    case 1: if (v < INT8_MIN || v > INT8_MAX) return false; *static_cast<int8_t*>(target) = static_cast<int8_t>(v); return true;
    case 2: if (v < INT16_MIN || v > INT16_MAX) return false; *static_cast<int16_t*>(target) = static_cast<int16_t>(v); return true;
    case 4: if (v < INT32_MIN || v > INT32_MAX) return false; *static_cast<int32_t*>(target) = static_cast<int32_t>(v); return true;
    case 8: *static_cast<int64_t*>(target) = v; return true;
    default: return false;
    }
}

}  // namespace

void XmlTagParser::store(Row& row, const std::string& value, const XmlScan& scan) {
    const char* s = value.c_str();
    const char* n = row.name.c_str();
    if (!row.target) throw XmlError("attribute has wrong value", n, scan);
    switch (row.type) {
    case XML_STRING: {
        if (row.size == 0) throw XmlError("attribute has wrong value", n, scan);
        size_t len = value.size() < row.size - 1 ? value.size() : row.size - 1;
        memcpy(row.target, s, len);
        static_cast<char*>(row.target)[len] = 0;
        return;
    }
    case XML_HEX: {
        uint64_t v;
        if (!parseHex(s, 32, &v)) throw XmlError("attribute is no hex number", n, scan);
        if (!storeUnsigned(row.target, row.size, v)) throw XmlError("attribute has wrong number", n, scan);
        return;
    }
    case XML_HEX64: {
        uint64_t v;
        if (!parseHex(s, 64, &v)) throw XmlError("attribute is no hex64 number", n, scan);
        if (!storeUnsigned(row.target, row.size, v)) throw XmlError("attribute has wrong number", n, scan);
        return;
    }
    case XML_INT: {
        long long v;
        if (!parseSigned(s, &v) || !storeSigned(row.target, row.size, v))
            throw XmlError("attribute has wrong number", n, scan);
        return;
    }
    case XML_UINT: {
        unsigned long long v;
        if (!parseUnsigned(s, &v) || !storeUnsigned(row.target, row.size, v))
            throw XmlError("attribute has wrong number", n, scan);
        return;
    }
    case XML_FLOAT: {
        errno = 0;
        char* end;
        double d = strtod(s, &end);
        while (*end == ' ' || *end == '\t') ++end;
        if (end == s || *end || errno == ERANGE || !std::isfinite(d))
            throw XmlError("attribute has wrong number", n, scan);
        if (row.size == sizeof(float)) {
            if (std::fabs(d) > 3.4028234663852886e38) throw XmlError("attribute has wrong number", n, scan);
            *static_cast<float*>(row.target) = static_cast<float>(d);
        } else if (row.size == sizeof(double)) {
            *static_cast<double*>(row.target) = d;
        } else {
            throw XmlError("attribute has wrong number", n, scan);
        }
        return;
    }
    case XML_VTAB: {
        long long v;
        if (!row.vtab || !row.vtab->lookup(s, &v) || !storeSigned(row.target, row.size, v))
            throw XmlError("attribute has wrong value", n, scan);
        return;
    }
    }
    throw XmlError("attribute has wrong value", n, scan);
}

int XmlTagParser::parse(XmlScan& scan) {
    for (auto& r : rows_) r.found = false;
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_ATTR) {
            for (auto& r : rows_) {
                if (r.name == t.name) {
                    store(r, t.value, scan);
                    r.found = true;
                    break;
                }
            }
            continue;
        }
        if (t.kind != XML_TOK_ATTR_END && t.kind != XML_TOK_EMPTY_END)
            throw XmlError("unexpected token after parsing attributes", scan);
        for (const auto& r : rows_)
            if (!r.found && !r.optional) throw XmlError("mandatory attribute not found", r.name.c_str(), scan);
        return t.kind;
    }
}
