// Value bands of an AlphaNumeric or a BarGraph: DecoLower and DecoUpper carry
// a limit with its hysteresis around one deco, DecoMiddle only the deco.
#pragma once

#include "display/config/xml_attr.h"
#include "display/config/xml_elements.h"

struct xml_band_texts {
    const char* tag;          // "DecoLower", "DecoUpper" or "DecoMiddle"
    const char* open_msg;
    const char* close_msg;
};

extern const xml_band_texts XML_BAND_LOWER;
extern const xml_band_texts XML_BAND_UPPER;
extern const xml_band_texts XML_BAND_MIDDLE;

// Start tag of a band with its attributes; limit and hyst are read when
// given (both required, missing_msg otherwise), else attributes are ignored
// and a start tag without attributes is allowed too.
int xml_band_open(xml_scan_s* s, const xml_band_texts& tx, float* limit, float* hyst, const char* missing_msg);
int xml_band_close(xml_scan_s* s, const xml_band_texts& tx);

template <class Deco>
int xml_parse_band(xml_scan_s* s, const xml_band_texts& tx, float* limit, float* hyst, Deco* deco,
                   int (*parse_deco)(xml_scan_s*, Deco*), const char* missing_msg) {
    if (xml_band_open(s, tx, limit, hyst, missing_msg) != 0) return -1;
    if (parse_deco(s, deco) != 0) return -1;
    return xml_band_close(s, tx);
}
