// Reader of "cfg:/CAN.xml": fills the CAN input and output tables.
//
// <Can> holds at most one <CanIn> and one <CanOut> section of empty
// elements; every index, start bit and length is checked against its table
// and the 64-byte frame before it is stored, so a bad value stops the parse
// with its attribute and position and never writes outside a table.
#include "can/can_xml.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "can/can_in.h"
#include "can/can_out.h"
#include "measurement/chandata.h"
#include "platform/can_front.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "xml/xml.h"

namespace {

struct ValueTables {
    XmlVTabParser boolean{4}, dataType{7}, kind{3}, raster{12}, edge{3}, adrType{3};
};

std::unique_ptr<ValueTables> initVTabParser() {
    auto t = std::make_unique<ValueTables>();
    for (auto [w, v] : {std::pair{"true", 1}, {"false", 0}, {"True", 1}, {"False", 0}}) t->boolean.addPair(w, v);
    for (auto [w, v] : {std::pair{"UINT8", 1}, {"SINT8", 0}, {"UINT16", 3}, {"SINT16", 2}, {"UINT32", 5},
                        {"SINT32", 4}, {"FLOAT", 6}})
        t->dataType.addPair(w, v);
    for (auto [w, v] : {std::pair{"SIG", 0}, {"MUX", 1}, {"MSIG", 2}}) t->kind.addPair(w, v);
    for (auto [w, v] : {std::pair{"R1ms", 0}, {"R2ms", 1}, {"R5ms", 2}, {"R10ms", 3}, {"R20ms", 4}, {"R50ms", 5},
                        {"R100ms", 6}, {"R200ms", 7}, {"R500ms", 8}, {"R1s", 9}, {"RLAP", 11}, {"EventBased", -1}})
        t->raster.addPair(w, v);
    for (auto [w, v] : {std::pair{"ris", 1}, {"fall", 2}, {"both", 3}}) t->edge.addPair(w, v);
    for (auto [w, v] : {std::pair{"meas_by_address", 0}, {"meas_by_name", 1}, {"None", -1}}) t->adrType.addPair(w, v);
    return t;
}

bool isStart(const XmlTok_t& t) { return t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR; }

// The bit field must lie inside a 64-byte frame.
void checkField(uint16_t sBit, uint8_t len, bool bigEndian, XmlScan& scan) {
    if (len == 0 || len > 64) throw XmlError("attribute out of range", "len", scan);
    unsigned last;
    if (!bigEndian) {
        last = (unsigned(sBit) + len - 1) >> 3;
    } else {
        const unsigned f = 8 - (sBit & 7u);
        last = (sBit >> 3) + (len <= f ? 0 : (len - f + 7) >> 3);
    }
    if (last >= CAN_MAX_PAYLOAD) throw XmlError("attribute out of range", "sBit", scan);
}

void readCanInMailbox(XmlScan& scan, const ValueTables& vt) {
    uint32_t idx = 0, canId = 0;
    uint8_t intf = 0, fdf = 0;
    XmlTagParser p(4);
    p.addAttribute("idx", &idx, sizeof idx, XML_UINT, 0);
    p.addAttribute("intf", &intf, sizeof intf, XML_UINT, 0);
    p.addAttribute("canId", &canId, sizeof canId, XML_HEX, 0);
    p.addAttributeVTab("fdf", &vt.boolean, &fdf, sizeof fdf, 0);
    p.parse(scan);
    if (idx >= CANIN_MAILBOXES) throw XmlError("index out of range", "idx", scan);
    if (CanInMailBoxConf[idx].intf != CANIN_INTF_UNUSED) throw XmlError("index found twice", "idx", scan);
    CanInMailBoxConf[idx] = {intf, canId, fdf};
}

void readCanInSignal(XmlScan& scan, const ValueTables& vt) {
    uint16_t chIdx = 0, msgIdx = 0, sBit = 0, timeout = 0xFFFF;
    uint8_t len = 0, bigEndian = 0, outType = 0, rcType = 0;
    uint32_t timeoutValue = 0, rcValue = 0;
    XmlTagParser p(10);
    p.addAttribute("chIdx", &chIdx, sizeof chIdx, XML_UINT, 0);
    p.addAttribute("msgIdx", &msgIdx, sizeof msgIdx, XML_UINT, 0);
    p.addAttribute("sBit", &sBit, sizeof sBit, XML_UINT, 0);
    p.addAttribute("len", &len, sizeof len, XML_UINT, 0);
    p.addAttributeVTab("bigEndian", &vt.boolean, &bigEndian, sizeof bigEndian, 0);
    p.addAttributeVTab("outType", &vt.dataType, &outType, sizeof outType, 0);
    p.addAttribute("timeout", &timeout, sizeof timeout, XML_UINT, 1);
    p.addAttribute("timeoutValue", &timeoutValue, sizeof timeoutValue, XML_UINT, 1);
    p.addAttributeVTab("RCType", &vt.kind, &rcType, sizeof rcType, 0);
    p.addAttribute("RCValue", &rcValue, sizeof rcValue, XML_UINT, 1);
    p.parse(scan);
    if (chIdx >= CANIN_SIGNALS) throw XmlError("index out of range", "chIdx", scan);
    if (msgIdx >= CANIN_MAILBOXES) throw XmlError("index out of range", "msgIdx", scan);
    checkField(sBit, len, bigEndian != 0, scan);
    CanInSignal& s = CanInSignalConf[chIdx];
    s.msgIdx = msgIdx;
    s.sBit = sBit;
    s.len = len;
    s.bigEndian = bigEndian;
    s.valueKind = outType == 6 ? CANIN_FLOAT : (outType & 1) ? CANIN_UNSIGNED : CANIN_SIGNED;
    s.timeout = timeout;
    s.timeoutValue = timeoutValue;
    s.RCType = rcType;
    s.RCValue = rcValue;
}

// Reads the elements of a section until the first end tag (of any name) or
// a token named "Can". read() is given the element name.
template <class ReadFn>
void readSection(XmlScan& scan, ReadFn read) {
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_END || t.kind == XML_TOK_EOF || t.name == "Can") return;
        if (t.kind == XML_TOK_START_ATTR) read(std::string(t.name), t);
    }
}

void parseCanIn(XmlScan& scan, const ValueTables& vt) {
    readSection(scan, [&](const std::string& name, const XmlTok_t&) {
        if (name == "CanMb") readCanInMailbox(scan, vt);
        else if (name == "CanSignal") readCanInSignal(scan, vt);
    });
}

void readIntf(XmlScan& scan) {
    uint32_t idx = 0;
    float rate = 0;
    uint16_t delay = 0;
    XmlTagParser p(3);
    p.addAttribute("idx", &idx, sizeof idx, XML_UINT, 0);
    p.addAttribute("rateLimt", &rate, sizeof rate, XML_FLOAT, 0);
    p.addAttribute("startDelay", &delay, sizeof delay, XML_UINT, 0);
    p.parse(scan);
    if (idx >= CANOUT_INTERFACES) throw XmlError("parseCanOut: index out of range", "idx", scan);
    CanOutIntfConf[idx] = {rate, delay};
}

void readCanOutMailbox(XmlScan& scan, const ValueTables& vt) {
    uint32_t idx = 0, canId = 0;
    uint8_t intf = 0, dlc = 0, fdf = 0, brs = 0;
    int16_t event = 0;
    XmlTagParser p(7);
    p.addAttribute("idx", &idx, sizeof idx, XML_UINT, 0);
    p.addAttribute("intf", &intf, sizeof intf, XML_UINT, 0);
    p.addAttribute("canDlc", &dlc, sizeof dlc, XML_UINT, 0);
    p.addAttribute("canId", &canId, sizeof canId, XML_HEX, 0);
    p.addAttributeVTab("event", &vt.raster, &event, sizeof event, 0);
    p.addAttributeVTab("fdf", &vt.boolean, &fdf, sizeof fdf, 0);
    p.addAttributeVTab("brs", &vt.boolean, &brs, sizeof brs, 0);
    const int kind = p.parse(scan);
    std::unique_ptr<ChanData> channel;
    if (kind == XML_TOK_ATTR_END) {
        // the event signal as a channel element, then the end of <CanMb>
        const XmlTok_t& t = scan.getTok();
        if (t.kind != XML_TOK_START_ATTR) throw XmlError("parseCanOut: unexpected token", "idx", scan);
        XmlTok_t tok = t;
        channel = std::make_unique<ChanData>(scan, tok);
        if (scan.getTok().kind != XML_TOK_END) throw XmlError("parseCanOut: unexpected token", "idx", scan);
    } else if (kind != XML_TOK_EMPTY_END) {
        throw XmlError("parseCanOut: unexpected token", "idx", scan);
    }
    if (idx >= CANOUT_MAILBOXES) throw XmlError("parseCanOut: index out of range", "idx", scan);
    if (dlc > 15) throw XmlError("attribute out of range", "canDlc", scan);
    CanOutMailBox& m = CanOutMailBoxConf[idx];
    m = {};
    m.intf = intf;
    m.canId = canId;
    m.canDlc = dlc;
    m.length = uint8_t(canDLC2length(dlc));
    m.fdf = fdf;
    m.brs = brs;
    m.event = event;
    if (channel) {
        m.evAddr = channel->addr;
        m.evMask = channel->mask;
        m.evType = ChanData::convDataType(channel->type);
        static const char* q[6] = {"quant_a", "quant_b", "quant_c", "quant_d", "quant_e", "quant_f"};
        for (int k = 0; k < 6; ++k) {
            const float v = channel->attr(q[k], 0);
            m.quant[k] = v > -2147483648.0f && v < 2147483648.0f ? int32_t(v) : 0;
        }
        m.edge = 0;
    }
}

// The attributes every CanOut entry has.
struct EntryCommon {
    uint16_t chIdx = 0, msgIdx = 0, sBit = 0;
    uint8_t len = 0, bigEndian = 0, rightShift = 0, rcType = 0;
    uint32_t rcValue = 0;
    void add(XmlTagParser& p, const ValueTables& vt, bool withRows) {
        p.addAttribute("chIdx", &chIdx, sizeof chIdx, XML_UINT, 0);
        p.addAttribute("msgIdx", &msgIdx, sizeof msgIdx, XML_UINT, 0);
        p.addAttribute("sBit", &sBit, sizeof sBit, XML_UINT, 0);
        p.addAttribute("len", &len, sizeof len, XML_UINT, 0);
        p.addAttributeVTab("bigEndian", &vt.boolean, &bigEndian, sizeof bigEndian, 0);
        if (!withRows) return;
        p.addAttribute("rightShift", &rightShift, sizeof rightShift, XML_UINT, 1);
        p.addAttributeVTab("RCType", &vt.kind, &rcType, sizeof rcType, 0);
        p.addAttribute("RCValue", &rcValue, sizeof rcValue, XML_UINT, 1);
    }
    // Checks the indexes and the field; returns the entry, reset.
    CanOutSignal& entry(XmlScan& scan) const {
        if (chIdx >= CANOUT_ENTRIES) throw XmlError("index out of range", "chIdx", scan);
        if (msgIdx >= CANOUT_MAILBOXES) throw XmlError("index out of range", "msgIdx", scan);
        checkField(sBit, len, bigEndian != 0, scan);
        CanOutSignal& s = CanOutSignalConf[chIdx];
        s = {};
        s.msgIdx = msgIdx;
        s.sBit = sBit;
        s.len = len;
        s.bigEndian = bigEndian;
        s.rightShift = rightShift;
        s.RCValue = rcValue;
        return s;
    }
};

void readCanOutSignal(XmlScan& scan, const ValueTables& vt) {
    EntryCommon c;
    int16_t adrType = 0;
    uint16_t pid = 0;
    uint32_t adr = 0, mask = 0;
    uint8_t dataType = 0, isSigned = 0, isFloat = 0;
    float fact = 1.0f, offs = 0.0f;
    XmlTagParser p(17);
    c.add(p, vt, true);
    p.addAttributeVTab("adrType", &vt.adrType, &adrType, sizeof adrType, 0);
    p.addAttribute("pid", &pid, sizeof pid, XML_UINT, 1);
    p.addAttribute("adr", &adr, sizeof adr, XML_HEX, 1);
    p.addAttribute("mask", &mask, sizeof mask, XML_HEX, 1);
    p.addAttributeVTab("data_type", &vt.dataType, &dataType, sizeof dataType, 0);
    p.addAttribute("fact", &fact, sizeof fact, XML_FLOAT, 1);
    p.addAttribute("offs", &offs, sizeof offs, XML_FLOAT, 1);
    p.addAttributeVTab("signed", &vt.boolean, &isSigned, sizeof isSigned, 0);
    p.addAttributeVTab("float", &vt.boolean, &isFloat, sizeof isFloat, 0);
    p.parse(scan);
    CanOutSignal& s = c.entry(scan);
    s.kind = c.rcType;
    s.addr = adr + (uint32_t(pid) << 24);
    s.mask = mask;
    s.dataType = dataType;
    s.fact = fact;
    s.offs = offs;
    s.isSigned = isSigned;
    s.isFloat = isFloat;
}

void readCanOutConstant(XmlScan& scan, const ValueTables& vt) {
    EntryCommon c;
    uint32_t value = 0;
    XmlTagParser p(9);
    c.add(p, vt, true);
    p.addAttribute("value", &value, sizeof value, XML_HEX, 0);
    p.parse(scan);
    CanOutSignal& s = c.entry(scan);
    s.kind = c.rcType == 0 ? CANOUT_CONSTANT : c.rcType == 2 ? CANOUT_MCONSTANT : CANOUT_MUX;
    s.dataType = 5;
    s.constant = value;
}

void readCanOutChecksum(XmlScan& scan, const ValueTables& vt) {
    EntryCommon c;
    uint8_t type = 0;
    uint64_t byteMask = 0;
    XmlTagParser p(7);
    c.add(p, vt, false);
    p.addAttribute("type", &type, sizeof type, XML_UINT, 0);
    p.addAttribute("chkSumByteMask", &byteMask, sizeof byteMask, XML_HEX64, 0);
    p.parse(scan);
    CanOutSignal& s = c.entry(scan);
    s.kind = CANOUT_CHECKSUM;
    s.chkType = type;
    s.chkSumByteMask = byteMask;
}

void readCanOutCounter(XmlScan& scan, const ValueTables& vt) {
    EntryCommon c;
    uint16_t start = 0, end = 0;
    XmlTagParser p(8);
    c.add(p, vt, false);
    p.addAttribute("rightShift", &c.rightShift, sizeof c.rightShift, XML_UINT, 1);
    p.addAttribute("start", &start, sizeof start, XML_UINT, 0);
    p.addAttribute("end", &end, sizeof end, XML_UINT, 0);
    p.parse(scan);
    CanOutSignal& s = c.entry(scan);
    s.kind = CANOUT_COUNTER;
    s.start = start;
    s.end = end;
}

void parseCanOut(XmlScan& scan, const ValueTables& vt) {
    readSection(scan, [&](const std::string& name, const XmlTok_t&) {
        if (name == "Intf") readIntf(scan);
        else if (name == "CanMb") readCanOutMailbox(scan, vt);
        else if (name == "CanSignal") readCanOutSignal(scan, vt);
        else if (name == "CanConstant") readCanOutConstant(scan, vt);
        else if (name == "CanChecksum") readCanOutChecksum(scan, vt);
        else if (name == "CanCounter") readCanOutCounter(scan, vt);
    });
}

}  // namespace

char* Can_Xml_Load(const char* path) {
    const std::string problem = xmlFileProblem(path);
    if (problem == "not found") {
        syslogx(151, "can configuration file '%s' not found", path);
        return nullptr;
    }
    if (!problem.empty()) {
        syslogx(147, "can configuration file '%s' %s", path, problem.c_str());
        return nullptr;
    }
    return fload(path, nullptr);
}

int XmlCanIOParse(const char* text, const char* source) {
    if (!text) return -1;
    try {
        auto vt = initVTabParser();
        XmlScan scan(text, std::strlen(text), source);
        for (;;) {
            const XmlTok_t& t = scan.getTok();
            if (t.kind == XML_TOK_EOF) throw XmlError("XmlCanIOParse(): unexpected EOF", scan);
            if (isStart(t) && t.name == "Can") break;
        }
        bool seenIn = false, seenOut = false;
        for (;;) {
            const XmlTok_t& t = scan.getTok();
            if (t.kind == XML_TOK_EOF) throw XmlError("XmlCanIOParse(): unexpected EOF", scan);
            if (t.kind == XML_TOK_END && t.name == "Can") break;
            if (!isStart(t)) continue;
            if (t.name == "CanIn") {
                if (seenIn) throw XmlError("XmlCanIOParse(): <CanIn> found twice", scan);
                seenIn = true;
                parseCanIn(scan, *vt);
            } else if (t.name == "CanOut") {
                if (seenOut) throw XmlError("XmlCanIOParse(): <CanOut> found twice", scan);
                seenOut = true;
                parseCanOut(scan, *vt);
            }
        }
    } catch (const char* e) {
        syslogx(147, "XmlCanIOParse(): xml config parse error: %s", e);
        return -1;
    }
    return 0;
}
