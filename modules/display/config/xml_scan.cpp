// The display.xml tokenizer: tags, attributes with double-quoted values, the
// xml declaration, comments, five named entities and decimal character
// references, with the line and column of each error.
#include "display/config/xml_scan.h"

#include <cstring>

namespace {

// The current character; a zero byte at or past the end.
inline unsigned char cur(const xml_scan_s* s) {
    return s->pos < s->len ? static_cast<unsigned char>(*s->p) : 0;
}

// The character n places ahead, bounded by the text.
inline unsigned char ahead(const xml_scan_s* s, int n) {
    return s->pos + n < s->len ? static_cast<unsigned char>(s->p[n]) : 0;
}

inline bool atEnd(const xml_scan_s* s) { return s->pos >= s->len; }

// Consumes one character without touching line or column.
inline void step(xml_scan_s* s) {
    if (s->pos < s->len) {
        ++s->p;
        ++s->pos;
    }
}

// Consumes one character that counts as one column.
inline void advance(xml_scan_s* s) {
    if (s->pos < s->len) {
        step(s);
        ++s->col;
    }
}

bool startsWith(const xml_scan_s* s, const char* text) {
    for (int i = 0; text[i]; ++i)
        if (ahead(s, i) != static_cast<unsigned char>(text[i]) || s->pos + i >= s->len) return false;
    return true;
}

int fail(xml_scan_s* s, const char* msg) {
    xml_error(msg, s);
    return -1;
}

// One entity at '&'; the character it stands for in *out.
int scanEntity(xml_scan_s* s, char* out) {
    static const struct {
        const char* text;
        char c;
    } named[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
    for (const auto& e : named) {
        if (startsWith(s, e.text)) {
            for (size_t i = 0; e.text[i]; ++i) advance(s);
            *out = e.c;
            return 0;
        }
    }
    if (!startsWith(s, "&#")) return -1;
    advance(s);
    advance(s);
    unsigned code = 0;
    while (isDigit(cur(s)) && !atEnd(s)) {
        code = (code * 10 + (cur(s) - '0')) & 0xFFFFu;   // only the low byte is kept
        advance(s);
    }
    if (atEnd(s) || cur(s) != ';') return -1;
    advance(s);
    *out = static_cast<char>(code & 0xFF);
    return 0;
}

}  // namespace

int isLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
int isDigit(int c) { return c >= '0' && c <= '9'; }

void xml_scan_init(xml_scan_s* s, const char* text, int32_t len) {
    s->p = text;
    s->len = text ? len : 0;
    s->pos = 0;
    s->line = 1;
    s->col = 0;
}

int skip_blank(xml_scan_s* s) {
    while (!atEnd(s)) {
        switch (cur(s)) {
        case 0: step(s); break;
        case '\t': step(s); s->col += 8; break;
        case '\n':
        case 0x0B: step(s); ++s->line; break;
        case '\r': step(s); s->col = 0; break;
        case ' ': step(s); ++s->col; break;
        default: return 0;
        }
    }
    return 1;
}

int xml_scan_name(xml_scan_s* s, char* buf, int size) {
    int n = 0;
    while (!atEnd(s) && n < size - 1) {
        int c = cur(s);
        if (!(isLetter(c) || (n > 0 && c == ':'))) break;
        buf[n++] = static_cast<char>(c);
        advance(s);
    }
    if (size > 0) buf[n < size ? n : size - 1] = 0;
    return n > 0 ? 0 : -1;
}

int xml_scan_content(xml_scan_s* s, char* buf, int size) {
    int n = 0;
    while (!atEnd(s) && n < size - 1) {
        char c = static_cast<char>(cur(s));
        if (c == '<' || c == '>' || c == '"') break;
        if (c == '&') {
            if (scanEntity(s, &c) != 0) {
                if (size > 0) buf[n] = 0;
                return -1;
            }
        } else {
            advance(s);
        }
        buf[n++] = c;
    }
    if (size > 0) buf[n] = 0;
    return 0;
}

int XmlScanContent(xml_scan_s* s, int size, char* buf) { return xml_scan_content(s, buf, size); }

int xml_scan_string(xml_scan_s* s, char* buf, int size) {
    if (atEnd(s) || cur(s) != '"') return -1;
    advance(s);
    if (xml_scan_content(s, buf, size) != 0) return -1;
    if (atEnd(s) || cur(s) != '"') return -1;
    advance(s);
    return 0;
}

int XmlGetTok(xml_scan_s* s, xml_token_s* tok) {
    tok->kind = XML_TOK_NONE;
    tok->name[0] = 0;
    tok->value[0] = 0;
    for (;;) {
        if (skip_blank(s)) {
            tok->kind = XML_TOK_EOF;
            return 1;
        }
        int c = cur(s);
        if (c == '<') {
            advance(s);
            int n = cur(s);
            if (n == '!' && !atEnd(s)) {
                if (!startsWith(s, "!--")) return fail(s, "scan error: '!' unexpected, only XML comments are supported...");
                advance(s);
                advance(s);
                advance(s);
                for (;;) {
                    if (skip_blank(s)) return fail(s, "scan error: unexpected EOF during comment");
                    if (startsWith(s, "-->")) {
                        advance(s);
                        advance(s);
                        advance(s);
                        break;
                    }
                    advance(s);
                }
                continue;   // the token after the comment
            }
            if (n == '/' && !atEnd(s)) {
                advance(s);
                if (xml_scan_name(s, tok->name, XML_NAME_LEN) != 0) return fail(s, "scan error: tag name expected");
                if (skip_blank(s)) return fail(s, "scan error: unexpected EOF");
                if (cur(s) != '>') return fail(s, "scan error: '>' expected");
                advance(s);
                tok->kind = XML_TOK_END;
                return 0;
            }
            if (n == '?' && !atEnd(s)) {
                advance(s);
                if (!startsWith(s, "xml")) return fail(s, "scan error: xml expected");
                advance(s);
                advance(s);
                advance(s);
                std::strcpy(tok->name, "xml");
                tok->kind = XML_TOK_DECL;
                return 0;
            }
            if (isLetter(n) && !atEnd(s)) {
                if (xml_scan_name(s, tok->name, XML_NAME_LEN) != 0) return fail(s, "scan error: tag name expected");
                if (skip_blank(s)) return fail(s, "scan error: unexpected EOF");
                if (cur(s) == '>') {
                    advance(s);
                    tok->kind = XML_TOK_START;
                } else {
                    tok->kind = XML_TOK_START_ATTR;
                }
                return 0;
            }
            return fail(s, "scan error");
        }
        if (c == '>') {
            advance(s);
            tok->kind = XML_TOK_ATTR_END;
            return 0;
        }
        if (c == '/' || c == '?') {
            advance(s);
            if (atEnd(s) || cur(s) != '>') return fail(s, "scan error: '>' expected");
            advance(s);
            tok->kind = c == '/' ? XML_TOK_EMPTY_END : XML_TOK_DECL_END;
            return 0;
        }
        if (isLetter(c)) {
            if (xml_scan_name(s, tok->name, XML_NAME_LEN) != 0) return fail(s, "scan error: parameter name expected");
            if (skip_blank(s)) return fail(s, "scan error: unexpected EOF");
            if (cur(s) != '=') return fail(s, "scan error: '=' expected");
            advance(s);
            if (skip_blank(s)) return fail(s, "scan error: unexpected EOF");
            if (xml_scan_string(s, tok->value, XML_NAME_LEN) != 0)
                return fail(s, "scan error: error scanning parameter value");
            tok->kind = XML_TOK_ATTRIBUTE;
            return 0;
        }
        if (isDigit(c)) return fail(s, "scan error: unexpected digit");
        return fail(s, "scan error");
    }
}

int XmlPeekTok(const xml_scan_s* s, xml_scan_s* after, xml_token_s* tok) {
    *after = *s;
    return XmlGetTok(after, tok);
}

int xml_peek_end(xml_scan_s* s, const char* name, xml_token_s* t, xml_scan_s* after) {
    int r = XmlPeekTok(s, after, t);
    if (r < 0) return -1;
    if (r == 0 && xml_tok_is(*t, XML_TOK_END, name)) {
        *s = *after;
        return 1;
    }
    return 0;
}

bool xml_tok_is(const xml_token_s& t, uint32_t kind, const char* name) {
    return t.kind == kind && std::strcmp(t.name, name) == 0;
}

int xml_expect(xml_scan_s* s, uint32_t kind, const char* name, const char* msg, xml_token_s* t) {
    xml_token_s own;
    if (!t) t = &own;
    int r = XmlGetTok(s, t);
    if (r < 0) return -1;
    if (r != 0 || !xml_tok_is(*t, kind, name)) {
        xml_error(msg, s);
        return -1;
    }
    return 0;
}
