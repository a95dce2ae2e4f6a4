// The two passes over a Page or AllPages: the first checks the page and
// counts its elements, the second fills the page from the element block.
#include <cstring>

#include "display/config/xml_reader.h"

namespace {

// Element parser for a start tag name, or null for a child of another name.
int parseElement(xml_scan_s* s, const xml_token_s& t, display_elem_s* e, const display_s* d, bool* known) {
    *known = true;
    if (xml_tok_is(t, XML_TOK_START_ATTR, "AlphaNumeric")) return XmlParseAlphaNumDisplayElement(s, e, d);
    if (xml_tok_is(t, XML_TOK_START_ATTR, "BarGraph")) return XmlParseBarGraphDisplayElement(s, e);
    if (xml_tok_is(t, XML_TOK_START_ATTR, "Picture")) return XmlParsePictureDisplayElement(s, e);
    *known = false;
    return 0;
}

// What one pass does with the elements it reads.
struct page_pass {
    // first pass
    uint16_t* count = nullptr;
    bool have_ref = false;
    uint32_t ref = 0;
    // second pass
    page_s* page = nullptr;
    display_elem_s** next_free = nullptr;
    display_elem_s* tail = nullptr;
};

int checkedElement(xml_scan_s* s, const xml_token_s& t, display_s* d, page_pass& pp) {
    display_elem_s e;
    std::memset(&e, 0, sizeof e);
    bool known;
    if (parseElement(s, t, &e, d, &known) != 0) return -1;
    if (!known) return 1;
    // Dropped elements (version 0.0) take no part in the order, except the
    // first of the page, which sets where it starts.
    if (!pp.have_ref) {
        pp.have_ref = true;
        pp.ref = e.prio;
    } else if (e.version != 0.0f) {
        if (e.prio <= pp.ref) {
            xml_error("parse error: prio not sorted", s);
            return -1;
        }
        pp.ref = e.prio;
    }
    // The count is 16 bits wide: more elements are refused, never counted short.
    if (*pp.count == 0xFFFF) {
        xml_error("parse error: too many display elements", s);
        return -1;
    }
    ++*pp.count;
    return 0;
}

int filledElement(xml_scan_s* s, const xml_token_s& t, display_s* d, page_pass& pp) {
    display_elem_s* e = *pp.next_free;
    if (e < d->elem_block || e >= d->elem_block + d->elem_capacity || pp.page->count == 0xFFFF) {
        xml_error("parse error: too many display elements", s);
        return -1;
    }
    bool known;
    bool ok = parseElement(s, t, e, d, &known) == 0;
    if (!known) return 1;
    if (!ok) {
        xml_error("parse error: expecting display element tag", s);
        return -1;
    }
    e->next = nullptr;
    if (pp.tail) pp.tail->next = e;
    else pp.page->elements = e;
    pp.tail = e;
    ++*pp.next_free;
    ++pp.page->count;
    return 0;
}

// Skips the child that t, peeked from s into after, opens.
int skipPeeked(xml_scan_s* s, const xml_scan_s& after, const xml_token_s& t) {
    *s = after;
    return XmlIgnore_Tag(s, &t);
}

int displayElements(xml_scan_s* s, display_s* d, page_pass& pp) {
    xml_scan_s after;
    xml_token_s t;
    for (;;) {
        int r = xml_peek_end(s, "DisplayElements", &t, &after);
        if (r != 0) return r > 0 ? 0 : -1;
        r = pp.page ? filledElement(s, t, d, pp) : checkedElement(s, t, d, pp);
        if (r < 0) return -1;
        if (r == 1 && skipPeeked(s, after, t) != 0) return -1;
    }
}

int pagePass(xml_scan_s* s, const char* name, display_s* d, page_pass& pp) {
    if (xml_expect(s, XML_TOK_START, name, "parse error: expecting page tag") != 0) return -1;
    xml_token_s t;
    bool have_bg = false;
    for (;;) {
        xml_scan_s after;
        if (XmlPeekTok(s, &after, &t) < 0) return -1;
        if (t.kind == XML_TOK_EMPTY_END || xml_tok_is(t, XML_TOK_END, name)) {
            *s = after;
            break;
        }
        if (xml_tok_is(t, XML_TOK_START_ATTR, "BGCol")) {
            rgb_s scratch;
            if (XmlParseRGB_Tag(s, "BGCol", pp.page ? &pp.page->bg_col : &scratch) != 0) {
                xml_error("parse error: expecting backgr color tag", s);
                return -1;
            }
            have_bg = true;
        } else if (xml_tok_is(t, XML_TOK_START, "DisplayElements")) {
            *s = after;
            if (displayElements(s, d, pp) != 0) return -1;
        } else if (skipPeeked(s, after, t) != 0) {
            return -1;
        }
    }
    if (!have_bg && std::strcmp(name, "Page") == 0) {
        xml_error("parse error: missing paramter", s);
        return -1;
    }
    return 0;
}

}  // namespace

int XmlCheckPage(xml_scan_s* s, const char* name, uint16_t* count, display_s* d) {
    page_pass pp;
    pp.count = count;
    return pagePass(s, name ? name : "", d, pp);
}

int XmlParsePage(xml_scan_s* s, const char* name, page_s* page, display_elem_s** next_free, display_s* d) {
    if (!page || !next_free || !d) {
        xml_error("parse error: no page to fill", nullptr);
        return -1;
    }
    XmlInitPage(page);
    page_pass pp;
    pp.page = page;
    pp.next_free = next_free;
    if (pagePass(s, name ? name : "", d, pp) != 0) return -1;
    // Elements of another version were read only to be dropped here.
    display_elem_s** link = &page->elements;
    while (*link) {
        if ((*link)->version == 0.0f) {
            *link = (*link)->next;
            --page->count;
        } else {
            link = &(*link)->next;
        }
    }
    return 0;
}
