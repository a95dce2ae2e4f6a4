// Reading the attributes of a start tag into typed targets.
//
//   XmlTagParser p(3);
//   p.addAttribute("name", name, sizeof name, XML_STRING, 0);
//   p.addAttribute("addr", &addr, sizeof addr, XML_HEX, 0);
//   p.addAttribute("scale", &scale, sizeof scale, XML_FLOAT, 1);   // optional
//   int kind = p.parse(scan);   // after getTok() returned the start tag
//
// parse() returns XML_TOK_ATTR_END (content follows) or XML_TOK_EMPTY_END.
// Attributes without a row are ignored; targets of missing optional
// attributes are left as they were. Errors are thrown as texts (xml_error.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class XmlScan;

enum xmlType_t : int {
    XML_STRING = 0,   // text, cut to the target size (always 0-terminated)
    XML_HEX = 1,      // hexadecimal up to 32 bits, "0x" optional
    XML_HEX64 = 2,    // hexadecimal up to 64 bits, "0x" optional
    XML_INT = 3,      // signed integer in the range of the target width
    XML_UINT = 4,     // unsigned integer in the range of the target width
    XML_FLOAT = 5,    // float (target size 4) or double (8)
    XML_VTAB = 6,     // word of a value table, stored as an integer
};

// Table of (word, integer) pairs for attributes of type XML_VTAB.
class XmlVTabParser {
public:
    explicit XmlVTabParser(size_t capacity);
    // False (and nothing added) when the table is full.
    bool addPair(const char* word, long long value);
    // True with *value set when the word is in the table.
    bool lookup(const char* word, long long* value) const;

private:
    size_t capacity_;
    std::vector<std::pair<std::string, long long>> pairs_;
};

class XmlTagParser {
public:
    explicit XmlTagParser(size_t capacity);
    virtual ~XmlTagParser() = default;

    // Throws "parse: less tags used!" when more rows are added than the
    // capacity given to the constructor.
    void addAttribute(const char* name, void* target, size_t size, xmlType_t type, int optional);
    void addAttributeVTab(const char* name, const XmlVTabParser* vtab, void* target, size_t size,
                          int optional);
    // Reads the attributes of the start tag the scanner has just delivered.
    virtual int parse(XmlScan& scan);
    // After parse(): whether the attribute of that row was present.
    bool found(const char* name) const;

private:
    struct Row {
        std::string name;
        void* target;
        size_t size;
        xmlType_t type;
        bool optional;
        const XmlVTabParser* vtab;
        bool found;
    };
    void store(Row& row, const std::string& value, const XmlScan& scan);
    void addRow(Row row);

    size_t capacity_;
    std::vector<Row> rows_;
};
