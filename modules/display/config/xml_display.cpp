// The document: xml declaration, Display with its attributes, Brightness,
// the three inputs, the verbal tables, Pages and AllPages. The first pass
// reads everything but the pages and counts their elements; the second fills
// the pages from one block of elements.
#include <cstdlib>
#include <cstring>

#include "display/config/xml_attr.h"
#include "display/config/xml_reader.h"

namespace {

int failAt(const char* msg, xml_scan_s* s) {
    xml_error(msg, s);
    return -1;
}

int readDeclaration(xml_scan_s* s, display_s* d) {
    xml_token_s t;
    if (xml_expect(s, XML_TOK_DECL, "xml", "parse error: expecting special tag xml") != 0 ||
        xml_expect(s, XML_TOK_ATTRIBUTE, "version", "parse error:  expecting version of xml", &t) != 0)
        return -1;
    if (XmlGetFloat(t.value, &d->xml_version) != 0) return failAt("parse error: wrong value", s);
    for (;;) {
        int r = XmlGetTok(s, &t);
        if (r < 0) return -1;
        if (r == 0 && t.kind == XML_TOK_ATTRIBUTE) continue;
        if (r == 0 && t.kind == XML_TOK_DECL_END) return 0;
        return failAt("parse error: expecting special end tag of xml", s);
    }
}

int readDisplayTag(xml_scan_s* s, display_s* d) {
    if (xml_expect(s, XML_TOK_START_ATTR, "Display", "parse error: expecting opening tag of display") != 0) return -1;
    auto res = [](uint16_t* out) {
        return [out](const char* v) {
            uint32_t x;
            if (XmlGetUInt(v, &x, 0, 0xFFFF) != 0) return -1;
            *out = static_cast<uint16_t>(x);
            return 0;
        };
    };
    const xml_attr_spec specs[] = {
        {"version", "parse error: parameter version found twice", "parse error: wrong value",
         [d](const char* v) { return XmlGetFloat(v, &d->version); }},
        {"x_res", "parse error: res_x found twice", "parse error: wrong value", res(&d->x_res)},
        {"y_res", "parse error: res_y found twice", "parse error: wrong value", res(&d->y_res)},
    };
    const xml_attr_list list{XML_END_GT, "parse error: expecting paramters of display type", nullptr, false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 3, list, &found) != 0) return -1;
    if (found != xml_all(3)) return failAt("parse error: missing paramter", s);
    return 0;
}

// Where the first pass found the pages.
struct page_marks {
    bool brightness = false;
    bool pages = false;
    bool all_pages = false;
    xml_scan_s pages_body{};    // after the start tag Pages
    xml_scan_s all_pages_at{};  // before the start tag AllPages
    uint16_t count = 0;         // elements of Pages and AllPages
};

int checkPages(xml_scan_s* s, display_s* d, page_marks& m) {
    m.pages_body = *s;
    xml_scan_s after;
    xml_token_s t;
    for (;;) {
        int r = xml_peek_end(s, "Pages", &t, &after);
        if (r != 0) return r > 0 ? 0 : -1;
        if (XmlCheckPage(s, "Page", &m.count, d) != 0) return -1;
    }
}

// The record of a ResetInput, PageInput or BrightnessInput start tag.
awm_meas_in* inputOf(display_s* d, const xml_token_s& t) {
    if (t.kind != XML_TOK_START_ATTR) return nullptr;
    if (!std::strcmp(t.name, "ResetInput")) return &d->reset_in;
    if (!std::strcmp(t.name, "PageInput")) return &d->page_in;
    if (!std::strcmp(t.name, "BrightnessInput")) return &d->brightness_in;
    return nullptr;
}

int firstPass(xml_scan_s* s, display_s* d, page_marks& m) {
    xml_scan_s after;
    xml_token_s t;
    for (;;) {
        int r = xml_peek_end(s, "Display", &t, &after);
        if (r != 0) return r > 0 ? 0 : -1;
        if (xml_tok_is(t, XML_TOK_START, "Brightness")) {
            r = XmlParseBrightness_Tag(s, d->perc, &d->perc_count);
            m.brightness = true;
        } else if (awm_meas_in* in = inputOf(d, t)) {
            r = XmlParseChInput_Tag(s, t.name, in);
        } else if (xml_tok_is(t, XML_TOK_START, "VerbTabs")) {
            r = XmlParseVTab(s, d);
        } else if (xml_tok_is(t, XML_TOK_START, "Pages")) {
            *s = after;
            r = checkPages(s, d, m);
            m.pages = true;
        } else if (xml_tok_is(t, XML_TOK_START, "AllPages")) {
            m.all_pages_at = *s;
            m.all_pages = true;
            r = XmlCheckPage(s, "AllPages", &m.count, d);
        } else {
            *s = after;
            r = XmlIgnore_Tag(s, &t);
        }
        if (r != 0) return -1;
    }
}

int secondPass(xml_scan_s* s, display_s* d, const page_marks& m) {
    display_elem_s* next = d->elem_block;
    if (m.all_pages) {
        *s = m.all_pages_at;
        if (XmlParsePage(s, "AllPages", &d->all_pages, &next, d) != 0) return -1;
    }
    *s = m.pages_body;
    for (page_s& p : d->pages) p.used = 0;
    xml_scan_s after;
    xml_token_s t;
    for (;;) {
        int r = xml_peek_end(s, "Pages", &t, &after);
        if (r != 0) return r > 0 ? 0 : -1;
        if (d->page_count >= DISPLAY_MAX_PAGES) {
            xml_error("parse error: max page count reached", nullptr);
            return -1;
        }
        if (XmlParsePage(s, "Page", &d->pages[d->page_count], &next, d) != 0) return -1;
        ++d->page_count;
    }
}

}  // namespace

int XmlParseBrightness_Tag(xml_scan_s* s, uint16_t* perc, uint16_t* perc_count) {
    if (xml_expect(s, XML_TOK_START, "Brightness", "parse error: expecting open tag brightness") != 0) return -1;
    *perc_count = 0;
    xml_token_s t;
    for (;;) {
        int r = XmlGetTok(s, &t);
        if (r < 0) return -1;
        if (xml_tok_is(t, XML_TOK_END, "Brightness")) return 0;
        if (!xml_tok_is(t, XML_TOK_START_ATTR, "perc")) return failAt("parse error: expecting open tag perc", s);
        r = XmlGetTok(s, &t);
        if (r < 0) return -1;
        if (!xml_tok_is(t, XML_TOK_ATTRIBUTE, "value")) return failAt("parse error: expecting parameter value", s);
        if (*perc_count >= DISPLAY_MAX_PERC) return failAt("parse error: too many values", s);
        uint32_t v;
        if (XmlGetUInt(t.value, &v, 0, 100) != 0) return failAt("parse error: wrong value", s);
        perc[(*perc_count)++] = static_cast<uint16_t>(v);
        r = XmlGetTok(s, &t);
        if (r < 0) return -1;
        if (t.kind != XML_TOK_EMPTY_END) return failAt("parse error: expected direct close tag", s);
    }
}

int XmlParseDisplay(xml_scan_s* s, display_s** out) {
    display_s* d = static_cast<display_s*>(std::calloc(1, sizeof(display_s)));
    *out = d;
    if (!d) return -1;
    XmlInitDisplay(d);
    if (readDeclaration(s, d) != 0 || readDisplayTag(s, d) != 0) return -1;
    page_marks m;
    if (firstPass(s, d, m) != 0) return -1;
    if (!m.brightness || !m.pages) return failAt("parse error: not all tags found", s);
    d->elem_capacity = uint32_t(m.count) + 1;
    d->elem_block = static_cast<display_elem_s*>(std::calloc(d->elem_capacity, sizeof(display_elem_s)));
    if (!d->elem_block) {
        d->elem_capacity = 0;
        xml_error("could not get memory for display elements", nullptr);
        return -1;
    }
    return secondPass(s, d, m);
}

void XmlFreeDisplay(display_s* d) {
    if (!d) return;
    XmlFreeVTabs(d);
    std::free(d->elem_block);
    std::free(d);
}

int XmlLoadText(const char* text, int32_t len, display_s** out) {
    *out = nullptr;
    xml_scan_s s;
    xml_scan_init(&s, text, len);
    display_s* d = nullptr;
    if (XmlParseDisplay(&s, &d) != 0) {
        // A failed load leaves nothing behind.
        XmlFreeDisplay(d);
        return -1;
    }
    *out = d;
    return 0;
}
