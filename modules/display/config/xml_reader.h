// The reader of "cfg:/display.xml": the document above the display elements
// (declaration, Display, Brightness, inputs, Pages, Page, AllPages), read in
// two passes so that the elements of all pages share one allocation.
//
// Not reentrant: the error text is one shared buffer. Runs on the GUI task;
// the model it returns is read-only afterwards.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "display/config/xml_elements.h"
#include "display/config/xml_scan.h"
#include "display/config/xml_vtab.h"

// Reads and parses the file: 0 with *out set to the new model, or -1 with
// the error text (xml_get_error_msg) and *out null. The file passes the
// check every configuration reader makes (xmlFileProblem: its kind and the
// one size limit), and a file holding a NUL byte is refused with the place
// of the byte ("NUL byte in line L column C").
int XmlLoad(const char* path, display_s** out);
// Parses a whole document held in memory (as XmlLoad after reading the file).
int XmlLoadText(const char* text, int32_t len, display_s** out);
// Releases a model of XmlLoad with all its elements and tables (null: nothing).
void XmlFreeDisplay(display_s* d);

// The whole document; *out gets the model as soon as it is allocated.
int XmlParseDisplay(xml_scan_s* s, display_s** out);
// First pass over one Page or AllPages (name): checks it and adds its
// elements to *count.
int XmlCheckPage(xml_scan_s* s, const char* name, uint16_t* count, display_s* d);
// Second pass: fills page with elements from *next_free on.
int XmlParsePage(xml_scan_s* s, const char* name, page_s* page, display_elem_s** next_free, display_s* d);
int XmlParseBrightness_Tag(xml_scan_s* s, uint16_t* perc, uint16_t* perc_count);
