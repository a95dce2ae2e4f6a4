// Table-driven reading of attribute lists.
#include "display/config/xml_attr.h"

#include <cstdio>
#include <cstring>

int xml_read_attributes(xml_scan_s* s, const xml_attr_spec* specs, int count, const xml_attr_list& list,
                        uint32_t* found, uint32_t* end) {
    *found = 0;
    xml_token_s t;
    for (;;) {
        int r = XmlGetTok(s, &t);
        if (r < 0) {
            if (list.scan_msg) xml_error(list.scan_msg, s);
            return -1;
        }
        if (r == 0 && t.kind < 32 && (list.end_kinds & (1u << t.kind))) {
            if (end) *end = t.kind;
            return 0;
        }
        if (r != 0 || t.kind != XML_TOK_ATTRIBUTE) {
            xml_error(list.list_msg, s);
            return -1;
        }
        int i = 0;
        while (i < count && std::strcmp(specs[i].name, t.name) != 0) ++i;
        if (i == count) {
            if (list.unknown_fails) {
                xml_error(list.list_msg, s);
                return -1;
            }
            continue;
        }
        if (*found & (1u << i)) {
            xml_error(specs[i].twice, s);
            return -1;
        }
        int set = specs[i].set(t.value);
        if (set != 0) {
            if (set != -2) xml_error(specs[i].bad, s);
            return -1;
        }
        *found |= 1u << i;
    }
}

int xml_copy_text(char* dst, int size, const char* value) {
    if (size > 0) std::snprintf(dst, static_cast<size_t>(size), "%s", value ? value : "");
    return 0;
}
