// Deco elements: a frame style and a set of named colours, all required.
#include "display/config/xml_attr.h"
#include "display/config/xml_elements.h"

#include <cstring>

namespace {

struct colour_slot {
    const char* name;
    rgb_s* col;
};

struct deco_texts {
    const char* tag;
    const char* open_msg;
    const char* close_msg;
};

int parseDeco(xml_scan_s* s, const deco_texts& tx, StyleType_t* style, const colour_slot* slots, int n) {
    if (xml_expect(s, XML_TOK_START_ATTR, tx.tag, tx.open_msg) != 0) return -1;
    const xml_attr_spec specs[] = {
        {"style", "parse error: parameter style found twice", "parse error: wrong style parameter",
         [style](const char* v) { return XmlStr2Style(v, style); }},
    };
    const xml_attr_list list{XML_END_GT, "parse error: expecting attributes of deco type", nullptr, false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 1, list, &found) != 0) return -1;
    if (!found) {
        xml_error("attribute style not found", s);
        return -1;
    }
    uint32_t given = 0;
    xml_token_s t;
    for (;;) {
        xml_scan_s after;
        int r = XmlPeekTok(s, &after, &t);
        if (r < 0) return -1;
        if (r != 0 || t.kind != XML_TOK_START_ATTR) break;
        int i = 0;
        while (i < n && std::strcmp(slots[i].name, t.name) != 0) ++i;
        if (i < n) {
            if (XmlParseRGB_Tag(s, slots[i].name, slots[i].col) != 0) return -1;
            given |= 1u << i;
        } else {
            *s = after;
            if (XmlIgnore_Tag(s, &t) != 0) return -1;
        }
    }
    if (xml_expect(s, XML_TOK_END, tx.tag, tx.close_msg) != 0) return -1;
    if (given != xml_all(n)) {
        xml_error("parse error: not all colours found", s);
        return -1;
    }
    return 0;
}

}  // namespace

int XmlParseAlphaNumDecoTag(xml_scan_s* s, alphanum_deco_s* deco) {
    XmlInitAlphaNumDeco(deco);
    const colour_slot slots[] = {{"BGCol", &deco->BGCol},         {"TitleBGCol", &deco->TitleBGCol},
                                 {"TitleFGCol", &deco->TitleFGCol}, {"BorderBGCol", &deco->BorderBGCol},
                                 {"BorderFGCol", &deco->BorderFGCol}, {"TextBGCol", &deco->TextBGCol},
                                 {"TextFGCol", &deco->TextFGCol}};
    const deco_texts tx{"AlphaNumDeco", "parse error: expecting AlphaNumDeco open tag",
                        "parse error: expecting AlphaNumDeco close tag"};
    return parseDeco(s, tx, &deco->style, slots, 7);
}

int XmlParseBarGraphDecoTag(xml_scan_s* s, bargraph_deco_s* deco) {
    XmlInitBarGraphDeco(deco);
    const colour_slot slots[] = {{"BGCol", &deco->BGCol},           {"TitleBGCol", &deco->TitleBGCol},
                                 {"TitleFGCol", &deco->TitleFGCol},   {"BorderBGCol", &deco->BorderBGCol},
                                 {"BorderFGCol", &deco->BorderFGCol}, {"BarBGCol", &deco->BarBGCol},
                                 {"BarFGCol", &deco->BarFGCol},       {"TicksCol", &deco->TicksCol}};
    const deco_texts tx{"BarGraphDeco", "parse error: expecting BarGraphDeco open tag",
                        "parse error: expecting BarGraph close tag"};
    return parseDeco(s, tx, &deco->style, slots, 8);
}

int XmlParsePictureDecoTag(xml_scan_s* s, picture_deco_s* deco) {
    XmlInitPictureDeco(deco);
    const colour_slot slots[] = {{"BGCol", &deco->BGCol},
                                 {"TitleBGCol", &deco->TitleBGCol},
                                 {"TitleFGCol", &deco->TitleFGCol},
                                 {"BorderBGCol", &deco->BorderBGCol},
                                 {"BorderFGCol", &deco->BorderFGCol}};
    const deco_texts tx{"PictureDeco", "parse error: expecting PitureDeco open tag",
                        "parse error: expecting PictureDeco close tag"};
    return parseDeco(s, tx, &deco->style, slots, 5);
}
