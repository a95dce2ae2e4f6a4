// Reader of "cfg:/eventcfg.xml" for the event channels.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "logging/events/event_channels.h"
#include "logging/events/event_record.h"
#include "logging/events/event_signals.h"
#include "measurement/types.h"
#include "platform/syslogx.h"
#include "xml/xml.h"

namespace {

constexpr int kMaxDelayMs = 250;

bool isStart(const XmlTok_t& t) { return t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR; }

// Hold cycles of the flag after a firing: the firing cycle counts as the
// first 10 ms.
uint8_t holdCycles(int32_t delayMs) {
    if (delayMs > kMaxDelayMs) {
        syslogx(147, "eventchannels::eventchannels(): illegal delay time %d ms, using %d ms instead", int(delayMs),
                kMaxDelayMs);
        delayMs = kMaxDelayMs;
    }
    if (delayMs < 0) delayMs = 0;
    if (delayMs > 10) delayMs -= 10;
    return uint8_t(delayMs / 10);
}

uint8_t severityOf(const char* word, XmlScan& scan) {
    static const std::pair<const char*, uint8_t> kWords[] = {{"Info", 6}, {"Warning", 4}, {"Error", 3}, {"Alert", 1}};
    for (auto& [w, v] : kWords)
        if (std::strcmp(word, w) == 0) return v;
    throw XmlError("unsupported severity", "severity", scan);
}

uint8_t edgeOf(const char* word, XmlScan& scan) {
    static const std::pair<const char*, uint8_t> kWords[] = {
        {"rising", EVENT_EDGE_RISING}, {"falling", EVENT_EDGE_FALLING}, {"both", EVENT_EDGE_BOTH}};
    for (auto& [w, v] : kWords)
        if (std::strcmp(word, w) == 0) return v;
    throw XmlError("illegal trigger mode", "triggerEdge", scan);
}

// An unknown word is no type: its element type is 255 and the input has no
// size in a list.
TypeEnum_t typeOf(const char* word) {
    static const std::pair<const char*, TypeEnum_t> kWords[] = {
        {"UINT8", TE_UINT8},   {"SINT8", TE_SINT8},   {"UINT16", TE_UINT16}, {"SINT16", TE_SINT16},
        {"UINT32", TE_UINT32}, {"SINT32", TE_SINT32}, {"FLOAT", TE_FLOAT},   {"BOOL", TE_BOOL}};
    for (auto& [w, v] : kWords)
        if (std::strcmp(word, w) == 0) return v;
    return TE_NONE;
}

// "adr" and "mask" are 32-bit integers, written in decimal or with a "0x"
// prefix in hexadecimal; a negative value stands for its 32-bit pattern.
uint32_t word32(int64_t v, const char* attribute, XmlScan& scan) {
    if (v < INT32_MIN || v > int64_t(UINT32_MAX)) throw XmlError("attribute has wrong number", attribute, scan);
    return uint32_t(v);
}

}  // namespace

// One <triggerInput>: every attribute starts from its default, so nothing of
// a previous element carries over.
std::unique_ptr<EventChData> eventchannels::parseTriggerInput(XmlScan& scan, std::string& refusal) {
    char type[16] = {};
    int64_t adr = 0, mask = 0;
    float coeff[6] = {};
    char name[255] = {}, vtab[255] = {};
    static const char* const kCoeff[6] = {"a", "b", "c", "d", "e", "f"};
    XmlTagParser p(11);
    p.addAttribute("type", type, sizeof type, XML_STRING, 1);
    p.addAttribute("adr", &adr, sizeof adr, XML_INT, 1);
    p.addAttribute("mask", &mask, sizeof mask, XML_INT, 1);
    for (int i = 0; i < 6; ++i) p.addAttribute(kCoeff[i], &coeff[i], sizeof coeff[i], XML_FLOAT, 1);
    p.addAttribute("name", name, sizeof name, XML_STRING, 0);
    p.addAttribute("vtab", vtab, sizeof vtab, XML_STRING, 0);
    const int kind = p.parse(scan);
    const uint32_t address = word32(adr, "adr", scan);
    const uint32_t bits = word32(mask, "mask", scan);
    refusal.clear();
    // without a known type the value's size in the list is unknown
    const TypeEnum_t t = typeOf(type);
    if (EventChData::convDataType(t) == GW_TYPE_INVALID) refusal = XmlError("unsupported type", "type", scan);
    // the physical value divides by b
    else if (!p.found("b") || coeff[1] == 0) refusal = XmlError("divisor missing or 0", "b", scan);
    if (kind == XML_TOK_ATTR_END) scan.scanOverTag();
    if (!refusal.empty()) return nullptr;
    return std::make_unique<EventChData>(address, bits, t, name, vtab, coeff);
}

void eventchannels::parseList(XmlScan& scan) {
    XmlTagParser listAttrs(1);   // read and ignored
    if (listAttrs.parse(scan) == XML_TOK_EMPTY_END) return;
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_EOF) throw XmlError("unexpected end of file", scan);
        if (t.kind == XML_TOK_END) return;   // </EventList>
        if (!isStart(t)) continue;
        if (t.name != "Event") {
            scan.scanOverTag();
            continue;
        }
        // every attribute starts from its default for each event
        char name[21] = {}, text[61] = {}, severity[16] = "Info", edge[16] = "rising";
        int32_t delay = 0, eventId = 0, idx = 0;
        XmlTagParser p(7);
        p.addAttribute("name", name, sizeof name, XML_STRING, 1);
        p.addAttribute("text", text, sizeof text, XML_STRING, 1);
        p.addAttribute("evMeasChDelayTime", &delay, sizeof delay, XML_INT, 1);
        p.addAttribute("severity", severity, sizeof severity, XML_STRING, 1);
        p.addAttribute("triggerEdge", edge, sizeof edge, XML_STRING, 1);
        p.addAttribute("eventId", &eventId, sizeof eventId, XML_INT, 1);
        p.addAttribute("idx", &idx, sizeof idx, XML_INT, 1);
        if (p.parse(scan) == XML_TOK_EMPTY_END) continue;   // an empty <Event/> is skipped
        EventDef d;
        d.severity = severityOf(severity, scan);
        d.edge = edgeOf(edge, scan);
        if (idx < 0 || idx >= int32_t(EVENT_CHANNELS_MAX)) throw XmlError("illegal index", "idx", scan);
        d.index = uint8_t(idx);
        d.id = EVENT_ID_CHANNEL + (uint32_t(idx) & 0xFFFFFF);
        d.holdCycles = holdCycles(delay);
        std::memcpy(d.name, name, sizeof d.name);
        std::memcpy(d.text, text, sizeof d.text);
        // the last input read is the event's; an unusable one refuses the event
        std::unique_ptr<EventChData> input;
        std::string refusal;
        bool anyInput = false;
        for (;;) {
            const XmlTok_t& c = scan.getTok();
            if (c.kind == XML_TOK_EOF) throw XmlError("unexpected end of file", scan);
            if (c.kind == XML_TOK_END) break;   // </Event>
            if (!isStart(c)) continue;
            if (c.name == "triggerInput") {
                input = parseTriggerInput(scan, refusal);
                anyInput = true;
            } else {
                scan.scanOverTag();
            }
        }
        // an event needs its own input; it is never given another's
        if (!anyInput) refusal = XmlError("event without triggerInput", "idx", scan);
        if (!refusal.empty()) {
            // one broken event leaves the others working
            SYSLOGX_FLOOD(floodRefused_, 147, "eventChannelsInitTask(): %s", refusal.c_str());
            continue;
        }
        if (defs_.size() >= EVENT_CHANNELS_MAX) throw XmlError("events exceed supported number", scan);
        d.input = input.get();
        manager_->addData(std::move(input), EVENTCH_RASTER);
        d.startTime = eventChannels_now();
        defs_.insert(defs_.begin(), d);
    }
}

void eventchannels::parse(XmlScan& scan) {
    bool listFound = false;
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_EOF) break;
        if (t.kind == XML_TOK_END && scan.getNesting() < 0) throw XmlError("unexpected tag close", scan);
        if (!isStart(t)) continue;
        if (t.name == "EventList") {
            listFound = true;
            parseList(scan);
        } else {
            scan.scanOverTag();
        }
    }
    // well-formed, but not an event configuration: "0 events" alone would not say why
    if (!listFound)
        syslogx(148, "eventChannelsInitTask(): %s holds no EventList element, all of it ignored", scan.source().c_str());
}
