// Start and end tags of the value bands.
#include "display/config/xml_band.h"

const xml_band_texts XML_BAND_LOWER{"DecoLower", "parse error: expecting deco lower open tag",
                                    "parse error: expecting deco lower close tag"};
const xml_band_texts XML_BAND_UPPER{"DecoUpper", "parse error: expecting deco upper open tag",
                                    "parse error: expecting deco upper close tag"};
const xml_band_texts XML_BAND_MIDDLE{"DecoMiddle", "parse error: expecting deco middle open tag",
                                     "parse error: expecting deco middle close tag"};

int xml_band_open(xml_scan_s* s, const xml_band_texts& tx, float* limit, float* hyst, const char* missing_msg) {
    xml_token_s t;
    int r = XmlGetTok(s, &t);
    if (r < 0) return -1;
    const bool limited = limit != nullptr;
    bool ok = r == 0 && (xml_tok_is(t, XML_TOK_START_ATTR, tx.tag) || (!limited && xml_tok_is(t, XML_TOK_START, tx.tag)));
    if (!ok) {
        xml_error(tx.open_msg, s);
        return -1;
    }
    if (t.kind == XML_TOK_START) return 0;
    if (!limited) {
        const xml_attr_list list{XML_END_GT, "parse error: expecting attributes", "parse error: expecting attributes", false};
        uint32_t found;
        return xml_read_attributes(s, nullptr, 0, list, &found);
    }
    float l = 0.0f, h = 0.0f;
    const xml_attr_spec specs[] = {
        {"Limit", "parse error: parameter limit found twice", "parse error: wrong value",
         [&l](const char* v) { return XmlGetFloat(v, &l); }},
        {"hyst", "parse error: hysteresis found twice", "parse error: wrong value",
         [&h](const char* v) { return XmlGetFloat(v, &h); }},
    };
    const xml_attr_list list{XML_END_GT, "parse error: expecting attributes of deco type",
                             "parse error: expecting attributes of deco type", false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 2, list, &found) != 0) return -1;
    if (found != xml_all(2)) {
        xml_error(missing_msg, s);
        return -1;
    }
    *limit = l;
    *hyst = h;
    return 0;
}

int xml_band_close(xml_scan_s* s, const xml_band_texts& tx) { return xml_expect(s, XML_TOK_END, tx.tag, tx.close_msg); }
