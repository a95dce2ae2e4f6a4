// Channel elements of the XML configurations and their reading through the
// gateway.
#include "measurement/chandata.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/byteorder.h"
#include "measurement/comint.h"
#include "measurement/gateway.h"
#include "platform/syslogx.h"

namespace {
bool parseNumber(const std::string& s, double* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || std::isnan(v)) return false;
    *out = v;
    return true;
}

bool parseHex(const std::string& s, uint32_t* out) {
    const char* p = s.c_str();
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    if (!*p) return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, 16);
    if (*end != '\0' || v > 0xFFFFFFFFull) return false;
    *out = uint32_t(v);
    return true;
}

TypeEnum_t parseType(const std::string& s) {
    static const char* names[] = {"", "UINT8", "SINT8", "UINT16", "SINT16", "UINT32", "SINT32", "FLOAT", "BOOL"};
    for (int i = 1; i <= 8; ++i)
        if (s == names[i]) return TypeEnum_t(i);
    double v;
    if (parseNumber(s, &v) && v >= 1 && v <= 8 && v == std::floor(v)) return TypeEnum_t(int(v));
    return TE_NONE;
}

// One gateway connection serves every channel.
std::mutex gMx;
gw_conn_t gConn = nullptr;

int chanRead(unsigned long status, void* data, void* user) {
    auto* ch = static_cast<ChanData*>(user);
    if (!ch) return 0;
    if (status != 0 || !data) {
        ch->valid = false;
        return 1;
    }
    const uint8_t* v = static_cast<const uint8_t*>(data) + 4;
    switch (typeSize(ch->type)) {
    case 4: ch->raw = be_get32(v); break;
    case 2: ch->raw = be_get16(v); break;
    default: ch->raw = v[0]; break;
    }
    ch->valid = true;
    return 1;
}

int chanTimeout(unsigned long status, void*, void* user) {
    if (auto* ch = static_cast<ChanData*>(user); ch && status != 0) ch->valid = false;
    return 1;
}

gw_conn_t connection() {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gConn) {
        static const callback_list cb = {{{chanRead, 100}, {nullptr, 100}, {nullptr, 100}, {nullptr, 0},
                                          {chanTimeout, 0}, {nullptr, 0}}};
        gConn = gw_connect(&cb);
    }
    return gConn;
}
}  // namespace

ChanData::ChanData(const char* n, measaddr_t a, TypeEnum_t t, uint32_t m)
    : name(n ? n : ""), addr(a), mask(m), type(t) {}

ChanData::ChanData(XmlScan& scan, const XmlTok_t& tok) {
    std::string element = tok.name;
    int kind = tok.kind;
    if (kind == XML_TOK_START_ATTR) {
        for (;;) {
            const XmlTok_t& t = scan.getTok();
            if (t.kind == XML_TOK_ATTR_END || t.kind == XML_TOK_EMPTY_END) {
                kind = t.kind;
                break;
            }
            if (t.kind != XML_TOK_ATTR) throw XmlError("unexpected token in channel", element.c_str(), scan);
            double num;
            if (t.name == "name") name = t.value;
            else if (t.name == "addr" || t.name == "id") {
                if (!parseHex(t.value, &addr)) throw XmlError("attribute is no hex number", t.name.c_str(), scan);
            } else if (t.name == "mask") {
                if (!parseHex(t.value, &mask)) throw XmlError("attribute is no hex number", t.name.c_str(), scan);
            } else if (t.name == "type") {
                type = parseType(t.value);
                if (type == TE_NONE) throw XmlError("attribute has wrong value", "type", scan);
            } else if (parseNumber(t.value, &num)) {
                attributes.emplace_back(t.name, float(num));
            }
        }
    } else {
        kind = XML_TOK_ATTR_END;   // <chan> without attributes: content follows
    }
    if (kind == XML_TOK_EMPTY_END) return;
    // Content: <vtab value="n" text="word"/> rows; anything else is skipped.
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_END) return;
        if (t.kind == XML_TOK_EOF || t.kind == XML_TOK_ERROR) throw XmlError("unexpected end of channel", element.c_str(), scan);
        if (t.kind != XML_TOK_START && t.kind != XML_TOK_START_ATTR) continue;
        if (t.name != "vtab" || t.kind != XML_TOK_START_ATTR) {
            scan.scanOverTag();
            continue;
        }
        double value = 0;
        std::string text;
        bool haveValue = false;
        int end;
        for (;;) {
            const XmlTok_t& a = scan.getTok();
            if (a.kind == XML_TOK_ATTR_END || a.kind == XML_TOK_EMPTY_END) {
                end = a.kind;
                break;
            }
            if (a.kind != XML_TOK_ATTR) throw XmlError("unexpected token in vtab", scan);
            if (a.name == "value") haveValue = parseNumber(a.value, &value);
            else if (a.name == "text") text = a.value;
        }
        if (end == XML_TOK_ATTR_END) scan.scanOverTag();
        if (haveValue) vtab.emplace_back(int32_t(value), text);
    }
}

ChanData::~ChanData() { chan_meas_release(this); }

uint8_t ChanData::convDataType(TypeEnum_t t) {
    switch (t) {
    case TE_UINT8: return GW_UINT8;
    case TE_SINT8: return GW_INT8;
    case TE_UINT16: return GW_UINT16;
    case TE_SINT16: return GW_INT16;
    case TE_UINT32: return GW_UINT32;
    case TE_SINT32: return GW_INT32;
    case TE_FLOAT: return GW_FLOAT32;
    case TE_BOOL: return GW_BOOL8;
    default: return GW_TYPE_INVALID;
    }
}

float ChanData::attr(const char* key, float dflt) const {
    for (auto& [k, v] : attributes)
        if (k == key) return v;
    return dflt;
}

int chan_meas_setup(ChanData* ch, unsigned a, unsigned b) {
    if (!ch) return 0;
    chan_meas_release(ch);
    unsigned size = typeSize(ch->type);
    gw_conn_t conn = connection();
    if (!size || !conn) {
        syslogx(147, "chan_meas_setup(): channel %s has no usable type", ch->name.c_str());
        return 0;
    }
    unsigned pid = MEASADDR_PID(ch->addr);
    if (pid == comint_own_pid()) pid = 0;
    uint32_t desc[4] = {uint32_t(-int32_t(size)), ch->addr & (pid ? 0xFFFFFFFFu : 0x00FFFFFFu), 0, 0};
    ch->list = gw_setup_list(conn, desc, ch, sizeof desc, uint16_t(a), uint16_t(pid), 0, 0, 1, 4,
                             uint16_t(4 + size), uint16_t(b));
    if (!ch->list) return 0;
    return gw_start_list(ch->list);
}

int chan_meas_getValue(ChanData* ch, double* out, unsigned) {
    if (!ch || !out || !ch->valid) return 0;
    uint32_t r = ch->raw;
    switch (ch->type) {
    case TE_UINT8: case TE_BOOL: *out = double(uint8_t(r) & ch->mask); break;
    case TE_SINT8: *out = int8_t(uint8_t(r & ch->mask)); break;
    case TE_UINT16: *out = double(uint16_t(r) & ch->mask); break;
    case TE_SINT16: *out = int16_t(uint16_t(r & ch->mask)); break;
    case TE_UINT32: *out = double(r & ch->mask); break;
    case TE_SINT32: *out = int32_t(r & ch->mask); break;
    case TE_FLOAT: {
        float f;
        std::memcpy(&f, &r, 4);
        *out = f;
        break;
    }
    default: return 0;
    }
    return 1;
}

void chan_meas_release(ChanData* ch) {
    if (!ch || !ch->list) return;
    gw_kill_list(ch->list);
    ch->list = 0;
    ch->valid = false;
}
