#include "xml/xml_scan.h"

#include <cstring>

#include "xml/xml_error.h"
#include "xml/xml_file.h"

XmlScan::XmlScan(const char* text) : XmlScan(text, text ? strlen(text) : 0) {}

XmlScan::XmlScan(const char* text, size_t len) : parser_(text, len) {}

XmlScan::XmlScan(const char* text, size_t len, const char* source)
    : parser_(text, len), source_(source ? source : "") {}

XmlScan::XmlScan(const XmlFile& file) : XmlScan(file.getBuffer(), file.getLength(), file.getName()) {}

void XmlScan::setPos(const XmlPullEvent& ev) {
    line_ = ev.line;
    column_ = ev.column;
}

bool XmlScan::isEof() const { return eof_; }

const XmlTok_t& XmlScan::getTok() {
    tok_.value.clear();
    if (eof_) {
        if (tok_.kind == XML_TOK_ERROR) throw XmlError(tok_.name.c_str(), *this);
        tok_.kind = XML_TOK_EOF;
        tok_.name.clear();
        return tok_;
    }
    if (inAttrs_) {
        if (attr_ < start_.attrs.size()) {
            tok_.kind = XML_TOK_ATTR;
            tok_.name = start_.attrs[attr_].first;
            tok_.value = start_.attrs[attr_].second;
            ++attr_;
            return tok_;
        }
        inAttrs_ = false;
        tok_.name = start_.name;
        const XmlPullEvent& ahead = parser_.peek();
        if (ahead.type == XmlPullEvent::EndTag && ahead.empty) {
            // "<a/>": its end is part of this token
            parser_.next();
            tok_.kind = XML_TOK_EMPTY_END;
            --nesting_;
        } else {
            tok_.kind = XML_TOK_ATTR_END;
        }
        return tok_;
    }
    XmlPullEvent ev = parser_.next();
    setPos(ev);
    switch (ev.type) {
    case XmlPullEvent::StartTag:
        tok_.kind = ev.attrs.empty() ? XML_TOK_START : XML_TOK_START_ATTR;
        tok_.name = ev.name;
        start_ = std::move(ev);
        inAttrs_ = true;
        attr_ = 0;
        ++nesting_;
        break;
    case XmlPullEvent::EndTag:
        tok_.kind = XML_TOK_END;
        tok_.name = ev.name;
        tok_.value = std::move(ev.text);
        --nesting_;
        break;
    case XmlPullEvent::EndDocument:
        tok_.kind = XML_TOK_EOF;
        tok_.name.clear();
        eof_ = true;
        break;
    case XmlPullEvent::Error:
        tok_.kind = XML_TOK_ERROR;
        tok_.name = ev.name;
        eof_ = true;
        throw XmlError(ev.name.c_str(), *this);
    }
    return tok_;
}

void XmlScan::scanOverTag() {
    const int level = nesting_;   // depth inside the element to skip
    for (;;) {
        const XmlTok_t& t = getTok();   // rethrows a broken document
        if ((t.kind == XML_TOK_END || t.kind == XML_TOK_EMPTY_END) && nesting_ < level) return;
        if (t.kind == XML_TOK_EOF) return;
    }
}
