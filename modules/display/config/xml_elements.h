// Parsers of the display elements (AlphaNumeric, BarGraph, Picture) and of
// the small elements inside them and elsewhere in display.xml: colours,
// channel inputs, decos, value bands and tick lists. Each parser re-reads its
// own start tag: the caller hands over the context positioned before it.
// 0 for success, -1 with the error text set.
#pragma once

#include "display/config/display_config.h"
#include "display/config/xml_scan.h"

int XmlParseRGB_Tag(xml_scan_s* s, const char* name, rgb_s* col);
// name: "ChInput", "VisInput", "ResetInput", "PageInput" or "BrightnessInput".
int XmlParseChInput_Tag(xml_scan_s* s, const char* name, awm_meas_in* in);

int XmlParseAlphaNumDecoTag(xml_scan_s* s, alphanum_deco_s* deco);
int XmlParseBarGraphDecoTag(xml_scan_s* s, bargraph_deco_s* deco);
int XmlParsePictureDecoTag(xml_scan_s* s, picture_deco_s* deco);

int XmlParseTicks(xml_scan_s* s, tick_s* tick_list, uint16_t* tick_count);
int XmlParseTickTab(xml_scan_s* s, tick_s* tick);

// d->vtabs resolves the vtab attribute (d may be null: no tables).
int XmlParseAlphaNumDisplayElement(xml_scan_s* s, display_elem_s* e, const display_s* d);
int XmlParseBarGraphDisplayElement(xml_scan_s* s, display_elem_s* e);
int XmlParsePictureDisplayElement(xml_scan_s* s, display_elem_s* e);
