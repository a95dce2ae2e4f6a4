// Pull scanner over an XML text in memory.
//
// getTok() delivers the document as a flat token stream:
//   <a>            XML_TOK_START a, XML_TOK_ATTR_END a, ... XML_TOK_END a
//   <a x="1"/>     XML_TOK_START_ATTR a, XML_TOK_ATTR x=1, XML_TOK_EMPTY_END a
// then XML_TOK_EOF (repeated on every further call). The end tag's value
// holds the element's character data. Every token carries the position of
// the markup it comes from; attribute tokens and the end of the attribute
// list carry the position of their start tag.
//
// Broken XML is thrown (see xml_error.h) when the scanner reaches the place
// of the error, with its line and column, and the file's name when the
// scanner reads a file.
#pragma once

#include <cstddef>
#include <string>

#include "xml/xml_pull.h"

class XmlFile;

enum XmlTokKind : int {
    XML_TOK_START = 0,        // start tag without attributes
    XML_TOK_START_ATTR = 1,   // start tag with attributes
    XML_TOK_ATTR_END = 2,     // end of the attribute list, content follows
    XML_TOK_EMPTY_END = 3,    // end of the attribute list of an empty element
    XML_TOK_END = 4,          // end tag
    XML_TOK_ATTR = 5,         // one attribute: name and value
    XML_TOK_EOF = 6,          // end of the document
    XML_TOK_NONE = 7,         // nothing
    XML_TOK_ERROR = 8,        // broken document
};

struct XmlTok_t {
    int kind = XML_TOK_NONE;
    std::string name;
    std::string value;
};

class XmlScan {
public:
    // The text must stay valid while the scanner is used.
    explicit XmlScan(const char* text);          // 0-terminated text
    XmlScan(const char* text, size_t len);
    // A text read from the file `source` (a path, for error texts; null or
    // "" for none).
    XmlScan(const char* text, size_t len, const char* source);
    // The text of a file, named by its path.
    explicit XmlScan(const XmlFile& file);
    virtual ~XmlScan() = default;
    XmlScan(const XmlScan&) = delete;
    XmlScan& operator=(const XmlScan&) = delete;

    // Next token; throws the error text when the document is broken here.
    virtual const XmlTok_t& getTok();
    // The token getTok() returned last.
    const XmlTok_t& curTok() const { return tok_; }
    // True once the end of the document (or its error) has been reached.
    bool isEof() const;
    // Skips the rest of the innermost open element with everything nested in
    // it, up to and including its end. Throws on broken XML.
    void scanOverTag();
    // Element depth: +1 at each start tag, -1 at each end (tag or empty).
    int getNesting() const { return nesting_; }
    int line() const { return line_; }
    int column() const { return column_; }
    // The file the text comes from, "" when not known.
    const std::string& source() const { return source_; }

private:
    void setPos(const XmlPullEvent& ev);

    XmlPullParser parser_;
    XmlPullEvent start_;     // the current start tag
    size_t attr_ = 0;        // next attribute of the current start tag
    bool inAttrs_ = false;   // between a start tag and the end of its attribute list
    bool eof_ = false;
    int nesting_ = 0;
    int line_ = 1;
    int column_ = 1;
    XmlTok_t tok_;
    std::string source_;
};
