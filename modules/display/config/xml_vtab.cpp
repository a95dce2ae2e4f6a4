// Reading, tree building and lookup of the verbal tables.
#include "display/config/xml_vtab.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/config/xml_attr.h"

namespace {

const char* const TAB_FAILED = "parse error: expecting vtab tag";

// Start tag of a VerbTab with its name and default (both required); copied
// into t when given.
int vtabStart(xml_scan_s* s, vtab_s* t) {
    if (xml_expect(s, XML_TOK_START_ATTR, "VerbTab", "parse error: expecting vtab open tag") != 0) return -1;
    vtab_s tmp;
    vtab_s* into = t ? t : &tmp;
    const xml_attr_spec specs[] = {
        {"name", "parse error: parameter name found twice", "",
         [into](const char* v) { return xml_copy_text(into->name, sizeof into->name, v); }},
        {"default", "parse error: parameter default found twice", "",
         [into](const char* v) { return xml_copy_text(into->default_text, sizeof into->default_text, v); }},
    };
    const xml_attr_list list{XML_END_GT, "parse error: expecting paramters of vtab type", nullptr, false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 2, list, &found) != 0) return -1;
    if (found != xml_all(2)) {
        xml_error("not all attributes found", s);
        return -1;
    }
    return 0;
}

// True (and the end tag consumed) when the next token ends the VerbTab; a
// scan error is left for the Tab to meet.
bool atVtabEnd(xml_scan_s* s) {
    xml_scan_s after;
    xml_token_s t;
    return xml_peek_end(s, "VerbTab", &t, &after) == 1;
}

}  // namespace

int XmlParseVTabTag(xml_scan_s* s, vtab_node_s* entry) {
    std::memset(entry->text, 0, sizeof entry->text);
    entry->num = 0;
    if (xml_expect(s, XML_TOK_START_ATTR, "Tab", "parse error: expecting open tag tab") != 0) return -1;
    const xml_attr_spec specs[] = {
        {"str", "parse error: str found twice", "",
         [entry](const char* v) { return xml_copy_text(entry->text, sizeof entry->text, v); }},
        {"num", "parse error: num found twice", "parse error: wrong value",
         [entry](const char* v) { return XmlGetInt(v, &entry->num, INT32_MIN, INT32_MAX); }},
    };
    const xml_attr_list list{XML_END_EMPTY, "parse error: expecting paramters of tab", "parse error: expecting paramters of tab",
                             true};
    uint32_t found;
    if (xml_read_attributes(s, specs, 2, list, &found) != 0) return -1;
    if (found != xml_all(2)) {
        xml_error("parse error: tab needs str and num", s);
        return -1;
    }
    return 0;
}

int XmlCheckVTabs(xml_scan_s* s, uint16_t* entries) {
    if (vtabStart(s, nullptr) != 0) return -1;
    bool first = true;
    uint32_t prev = 0;
    while (!atVtabEnd(s)) {
        vtab_node_s e;
        if (XmlParseVTabTag(s, &e) != 0) {
            xml_error(TAB_FAILED, s);
            return -1;
        }
        uint32_t num = static_cast<uint32_t>(e.num);
        if (!first && num <= prev) {
            xml_error("parse error: vtabs not sorted", s);
            return -1;
        }
        // The entry count is 16 bits wide: more entries are refused, never
        // counted short.
        if (*entries == 0xFFFF) {
            xml_error("parse error: too many verbal table entries", s);
            return -1;
        }
        ++*entries;
        first = false;
        prev = num;
    }
    return 0;
}

int XmlParseVTabs(xml_scan_s* s, vtab_s* t, vtab_node_s** next_free, vtab_node_s* end) {
    if (vtabStart(s, t) != 0) return -1;
    while (!atVtabEnd(s)) {
        vtab_node_s* n = *next_free;
        if (end && n >= end) {
            xml_error("parse error: too many verbal table entries", s);
            return -1;
        }
        if (XmlParseVTabTag(s, n) != 0) {
            xml_error(TAB_FAILED, s);
            return -1;
        }
        n->parent = n->left = n->right = nullptr;
        n->balance = 0;
        XmlAVLinsert(&t->root, n);
        ++*next_free;
    }
    return 0;
}

void XmlAVLinsert(vtab_node_s** root, vtab_node_s* node) {
    node->left = node->right = nullptr;
    node->balance = 0;
    if (!*root) {
        node->parent = nullptr;
        *root = node;
        return;
    }
    vtab_node_s* x = *root;
    while (x->right) x = x->right;
    x->right = node;
    node->parent = x;
    for (vtab_node_s* n = x; n;) {
        if (n->balance < 0) {
            n->balance = 0;
            return;
        }
        if (n->balance == 0) {
            n->balance = 1;
            n = n->parent;
            continue;
        }
        // Right-heavy and its right subtree grew: rotate left at n.
        vtab_node_s* r = n->right;
        vtab_node_s* up = n->parent;
        n->right = r->left;
        if (r->left) r->left->parent = n;
        r->left = n;
        n->parent = r;
        r->parent = up;
        if (!up) *root = r;
        else if (up->left == n) up->left = r;
        else up->right = r;
        n->balance = 0;
        r->balance = 0;
        return;
    }
}

vtab_s* XmlSearchVTab(vtab_s* first, const char* name) {
    if (!name) return nullptr;
    for (vtab_s* t = first; t; t = t->next)
        if (std::strcmp(t->name, name) == 0) return t;
    return nullptr;
}

int XmlVTabOutput(const vtab_s* t, uint32_t value, char* out) {
    if (!t || !out) return -1;
    const vtab_node_s* n = t->root;
    while (n) {
        uint32_t num = static_cast<uint32_t>(n->num);
        if (num == value) break;
        n = num > value ? n->left : n->right;
    }
    std::snprintf(out, DISPLAY_TEXT_LEN, "%s", n ? n->text : t->default_text);
    return 0;
}

void XmlFreeVTabs(display_s* d) {
    if (!d) return;
    std::free(d->vtab_block);
    std::free(d->vtab_node_block);
    d->vtab_block = nullptr;
    d->vtab_node_block = nullptr;
    d->vtabs = nullptr;
}

int XmlParseVTab(xml_scan_s* s, display_s* d) {
    // A repeated VerbTabs replaces the tables read before.
    XmlFreeVTabs(d);
    if (xml_expect(s, XML_TOK_START, "VerbTabs", "parse error: expecting vtabs open tag") != 0) return -1;
    const xml_scan_s body = *s;

    xml_token_s t;
    xml_scan_s after;
    uint16_t entries = 0;
    uint32_t tables = 0;
    for (;;) {
        int r = xml_peek_end(s, "VerbTabs", &t, &after);
        if (r < 0) return -1;
        if (r > 0) break;
        if (tables == 0xFFFF) {
            xml_error("parse error: too many verbal tables", s);
            return -1;
        }
        if (XmlCheckVTabs(s, &entries) != 0) return -1;
        ++tables;
    }

    d->vtab_node_block = static_cast<vtab_node_s*>(std::calloc(size_t(entries) + 1, sizeof(vtab_node_s)));
    d->vtab_block = static_cast<vtab_s*>(std::calloc(size_t(tables) + 1, sizeof(vtab_s)));
    if (!d->vtab_node_block || !d->vtab_block) {
        xml_error("could not get memory for display objects", nullptr);
        return -1;
    }

    *s = body;
    vtab_node_s* next = d->vtab_node_block;
    vtab_node_s* nodes_end = d->vtab_node_block + entries + 1;
    for (uint32_t i = 0;; ++i) {
        int r = xml_peek_end(s, "VerbTabs", &t, &after);
        if (r != 0) return r > 0 ? 0 : -1;
        if (i >= tables) {
            xml_error("parse error: too many verbal tables", s);
            return -1;
        }
        vtab_s* table = &d->vtab_block[i];
        XmlInitVTab(table);
        if (XmlParseVTabs(s, table, &next, nodes_end) != 0) return -1;
        table->next = d->vtabs;
        d->vtabs = table;
    }
}
