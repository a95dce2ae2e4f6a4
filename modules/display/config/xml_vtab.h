// Verbal tables of display.xml: integer values of a channel mapped to texts,
// each table an AVL tree over the entries' num in unsigned order.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "display/config/xml_scan.h"

// Reads VerbTabs in two passes (count, then fill one block of tables and
// one of entries) and sets d->vtabs, the last table of the file first.
int XmlParseVTab(xml_scan_s* s, display_s* d);
// First pass over one VerbTab: checks it and adds its entries to *entries.
int XmlCheckVTabs(xml_scan_s* s, uint16_t* entries);
// Second pass over one VerbTab into t; entries from *next_free on (never at
// or past end when end is given).
int XmlParseVTabs(xml_scan_s* s, vtab_s* t, vtab_node_s** next_free, vtab_node_s* end = nullptr);
// One Tab into the entry's text and num.
int XmlParseVTabTag(xml_scan_s* s, vtab_node_s* entry);
// Appends node after the greatest entry and rebalances.
void XmlAVLinsert(vtab_node_s** root, vtab_node_s* node);
// The first table of the list with that name, or null.
vtab_s* XmlSearchVTab(vtab_s* first, const char* name);
// Text of value (the entry's, else the table's default) into out (at least
// 256 bytes): 0, or -1 for a null table or buffer.
int XmlVTabOutput(const vtab_s* t, uint32_t value, char* out);

// Releases the blocks of the tables of d and clears d->vtabs.
void XmlFreeVTabs(display_s* d);
