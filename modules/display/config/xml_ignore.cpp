// Skipping of elements the reader does not know, nested ones included. The
// open elements are kept on a heap stack, so that a deeply nested file
// cannot exhaust the GUI task's stack.
#include "display/config/xml_scan.h"

#include <string>
#include <vector>

namespace {

// Reads the attributes of a start tag up to '>' (1: content follows) or
// '/>' (0: the element is done).
int skipAttributes(xml_scan_s* s) {
    xml_token_s t;
    for (;;) {
        if (XmlGetTok(s, &t) != 0) break;
        if (t.kind == XML_TOK_ATTRIBUTE) continue;
        if (t.kind == XML_TOK_ATTR_END) return 1;
        if (t.kind == XML_TOK_EMPTY_END) return 0;
        break;
    }
    xml_error("parse error: expecting attributes", s);
    return -1;
}

// Skips the content of the open elements on the stack through the end tag
// of the first.
int skipOpen(xml_scan_s* s, std::vector<std::string>& open) {
    xml_token_s t;
    while (!open.empty()) {
        int r = XmlGetTok(s, &t);
        if (r < 0) {
            xml_error("parse error: error during unknown tag", s);
            return -1;
        }
        if (r == 0 && (t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR)) {
            int content = 1;
            if (t.kind == XML_TOK_START_ATTR && (content = skipAttributes(s)) < 0) return -1;
            if (content) open.emplace_back(t.name);
            continue;
        }
        if (r == 0 && t.kind == XML_TOK_END && open.back() == t.name) {
            open.pop_back();
            continue;
        }
        xml_error("parse error: unexpected token", s);
        return -1;
    }
    return 0;
}

}  // namespace

int XmlIgnore_Content(xml_scan_s* s, const char* name) {
    std::vector<std::string> open{name ? name : ""};
    return skipOpen(s, open);
}

int XmlIgnore_Tag(xml_scan_s* s, const xml_token_s* tok) {
    if (tok->kind == XML_TOK_START) return XmlIgnore_Content(s, tok->name);
    if (tok->kind == XML_TOK_START_ATTR) {
        int content = skipAttributes(s);
        if (content <= 0) return content;
        return XmlIgnore_Content(s, tok->name);
    }
    xml_error("parse error: unexpected token", s);
    return -1;
}
