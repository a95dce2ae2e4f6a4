// Reading the attribute list of a start tag by a table: each known name has
// its "found twice" text, its converter and its "bad value" text; names not in
// the table are ignored.
#pragma once

#include <cstdint>
#include <functional>

#include "display/config/xml_scan.h"

struct xml_attr_spec {
    const char* name;
    const char* twice;                        // text for a repeated attribute
    const char* bad;                          // text for a value that does not convert
    // 0; -1 for a bad value; -2 for a failure whose text it wrote itself.
    std::function<int(const char* value)> set;
};

// How an attribute list ends and what its failures say.
struct xml_attr_list {
    uint32_t end_kinds;          // bit (1 << kind) of each token that ends the list
    const char* list_msg;        // text for any other token
    const char* scan_msg;        // text for a scan error; null: the scan error's own text
    bool unknown_fails;          // a name outside the table fails with list_msg
};

constexpr uint32_t XML_END_GT = 1u << XML_TOK_ATTR_END;
constexpr uint32_t XML_END_EMPTY = 1u << XML_TOK_EMPTY_END;

// Reads attributes up to a token of list.end_kinds (consumed; its kind in
// *end when end is given). Bit i of *found is set for each table entry read.
int xml_read_attributes(xml_scan_s* s, const xml_attr_spec* specs, int count, const xml_attr_list& list,
                        uint32_t* found, uint32_t* end = nullptr);

// Mask with the lowest n bits set: all of the first n table entries.
constexpr uint32_t xml_all(int n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u; }

// Copies an attribute value into a text field of size bytes (cut to fit).
int xml_copy_text(char* dst, int size, const char* value);
