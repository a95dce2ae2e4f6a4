// Tokenizer of "cfg:/display.xml" and the helpers every display.xml parser
// shares: the error text, value and keyword converters, peeking and the
// skipping of elements of other names.
//
// The text is held whole in memory without a terminator: every look-ahead is
// bounded by len, and a position at or past the end reads as a zero byte.
// Text content between tags is not part of the format. Functions return 0
// for success and -1 for failure with the text set by xml_error; nothing
// throws.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"

// Scanner context: a small value record, copied to peek at the next token.
struct xml_scan_s {
    const char* p;   // the current character
    int32_t len;     // length of the text in bytes
    int32_t pos;     // index of the current character
    int32_t line;    // from 1
    int32_t col;     // from 0
};

enum XmlTokenType_t : uint32_t {
    XML_TOK_START = 0,        // '<' name '>'
    XML_TOK_START_ATTR = 1,   // '<' name, attributes follow
    XML_TOK_ATTR_END = 2,     // '>'
    XML_TOK_EMPTY_END = 3,    // '/>'
    XML_TOK_END = 4,          // '</' name '>'
    XML_TOK_DECL = 5,         // '<?xml'
    XML_TOK_DECL_END = 6,     // '?>'
    XML_TOK_ATTRIBUTE = 7,    // name '=' "value"
    XML_TOK_EOF = 9,
    XML_TOK_NONE = 10,
};

constexpr int XML_NAME_LEN = 255;   // 254 characters and the terminator

struct xml_token_s {
    uint32_t kind;               // XmlTokenType_t
    char name[XML_NAME_LEN];
    char value[XML_NAME_LEN];    // attributes only
};

// Scanner over text (not copied: it must outlive the scanner).
void xml_scan_init(xml_scan_s* s, const char* text, int32_t len);

// The next token: 0, 1 at the end of the text (kind 9), -1 on a scan error.
int XmlGetTok(xml_scan_s* s, xml_token_s* tok);
// Reads the next token from a copy of s, leaving s where it is.
int XmlPeekTok(const xml_scan_s* s, xml_scan_s* after, xml_token_s* tok);
// Peeks at the next child of the element name: 1 at its end tag (consumed),
// 0 for anything else (token in *t, s untouched, the context past the
// token in *after), -1 on a scan error.
int xml_peek_end(xml_scan_s* s, const char* name, xml_token_s* t, xml_scan_s* after);

int skip_blank(xml_scan_s* s);   // 1 when the text is exhausted
int xml_scan_name(xml_scan_s* s, char* buf, int size);
int xml_scan_string(xml_scan_s* s, char* buf, int size);
int xml_scan_content(xml_scan_s* s, char* buf, int size);
int XmlScanContent(xml_scan_s* s, int size, char* buf);
int isLetter(int c);
int isDigit(int c);

// The last error text, as "%s in line %d column %d" or the bare text.
void xml_error(const char* msg, const xml_scan_s* s);
void xml_get_error_msg(char* dest, int n);

// Skips the element that the start token just read opens, nested elements
// of any depth included.
int XmlIgnore_Tag(xml_scan_s* s, const xml_token_s* tok);
// Skips the content of an element whose start tag (name) has been read up
// to and including its '>', through its end tag.
int XmlIgnore_Content(xml_scan_s* s, const char* name);

// True for a token of the kind and name.
bool xml_tok_is(const xml_token_s& t, uint32_t kind, const char* name);
// Reads the next token, which must be of the kind and name: 0, or -1 with
// msg (a scan error keeps its own text). The token in *t when t is given.
int xml_expect(xml_scan_s* s, uint32_t kind, const char* name, const char* msg, xml_token_s* t = nullptr);

// Value converters: 0 and *out set, or -1 with *out untouched.
int XmlGetBool(const char* text, uint8_t* out);
int XmlGetInt(const char* text, int32_t* out, int32_t min, int32_t max);
int XmlGetUInt(const char* text, uint32_t* out, uint32_t min, uint32_t max);
int XmlGetHex(const char* text, uint32_t* out, uint32_t min, uint32_t max);
int XmlGetFloat(const char* text, float* out);

// Keyword converters (exact, case-sensitive): 0 on a hit, else -1.
int XmlStr2Style(const char* text, StyleType_t* out);
int XmlStr2VisMode(const char* text, VisModeType_t* out);
int XmlStr2Type(const char* text, uint16_t* out);
int XmlStr2FontSize(const char* text, FontSizeType_t* out);
int XmlStr2Align(const char* text, AlignType_t* out);
int XmlStr2DispOpt(const char* text, DispOptType_t* out);
int XmlStr2BargrStyle(const char* text, BargrStyleType_t* out);
int XmlStr2BargrBargrOrient(const char* text, BargrOrientType_t* out);
int XmlStr2BlinkType(const char* text, BlinkType_t* out);
