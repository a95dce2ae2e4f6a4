// The tick list of a bar graph: up to 20 Tab elements with a name and a value.
#include "display/config/xml_attr.h"
#include "display/config/xml_elements.h"

int XmlParseTickTab(xml_scan_s* s, tick_s* tick) {
    XmlInitTick(tick);
    if (xml_expect(s, XML_TOK_START_ATTR, "Tab", "parse error: expecting open tag tab") != 0) return -1;
    tick_s k;
    XmlInitTick(&k);
    const xml_attr_spec specs[] = {
        // Longer names keep their first 7 characters.
        {"name", "parse error: name found twice", "", [&k](const char* v) { return xml_copy_text(k.name, sizeof k.name, v); }},
        {"value", "parse error: value found twice", "parse error: wrong value",
         [&k](const char* v) { return XmlGetFloat(v, &k.value); }},
    };
    const xml_attr_list list{XML_END_EMPTY, "parse error: expecting paramters of tab", "parse error: expecting paramters of tab", false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 2, list, &found) != 0) return -1;
    if (found != xml_all(2)) {
        xml_error("parse error: tab needs name and value", s);
        return -1;
    }
    *tick = k;
    return 0;
}

int XmlParseTicks(xml_scan_s* s, tick_s* tick_list, uint16_t* tick_count) {
    *tick_count = 0;
    if (xml_expect(s, XML_TOK_START, "TickList", "parse error: expecting open tag ticklist") != 0) return -1;
    xml_token_s t;
    for (;;) {
        xml_scan_s after;
        int r = XmlPeekTok(s, &after, &t);
        if (r < 0) {
            xml_error("parse error: expecting paramters of ticks type", &after);
            return -1;
        }
        if (r == 0 && xml_tok_is(t, XML_TOK_END, "TickList")) {
            *s = after;
            return 0;
        }
        if (r == 0 && xml_tok_is(t, XML_TOK_START_ATTR, "Tab")) {
            if (*tick_count >= DISPLAY_MAX_TICKS) {
                xml_error("parse error: too many ticks", s);
                return -1;
            }
            if (XmlParseTickTab(s, &tick_list[*tick_count]) != 0) return -1;
            ++*tick_count;
            continue;
        }
        *s = after;
        if (XmlIgnore_Tag(s, &t) != 0) return -1;
    }
}
