// The three display elements: AlphaNumeric, BarGraph and Picture. An element
// of a version other than 1.0 is read over and handed back at its defaults
// (version 0.0), for the page to drop.
#include <cstring>
#include <vector>

#include "display/config/xml_attr.h"
#include "display/config/xml_band.h"
#include "display/config/display_format.h"
#include "display/config/xml_elements.h"
#include "display/config/xml_vtab.h"

namespace {

struct element_texts {
    const char* tag;
    const char* open_msg;
    const char* scan_msg;   // a scan error in the attribute list
    const char* list_msg;   // any other token there
    const char* missing_msg;
};

const element_texts ALPHANUM{"AlphaNumeric", "parse error: expecting AlphaNumeric open tag",
                             "parse error: expecting paramters of alphanum type",
                             "parse error: expecting paramters of alphanum type", "parse error: missing attribute"};
const element_texts BARGRAPH{"BarGraph", "parse error: expecting barGraph open tag",
                             "parse error: expecting paramters of barpraph type",
                             "parse error: expecting paramters of bargraph type", "parse error: missing paramter"};
const element_texts PICTURE{"Picture", "parse error: expecting picture open tag",
                            "parse error: expecting paramters of picture type",
                            "parse error: expecting paramters of picture type", "parse error: missing parameter"};

const char* const WRONG = "parse error: wrong value";

std::function<int(const char*)> u16(uint32_t* out) {
    return [out](const char* v) { return XmlGetUInt(v, out, 0, 0xFFFF); };
}
std::function<int(const char*)> u32(uint32_t* out) {
    return [out](const char* v) { return XmlGetUInt(v, out, 0, 0xFFFFFFFFu); };
}
std::function<int(const char*)> text(char* dst) {
    return [dst](const char* v) { return xml_copy_text(dst, DISPLAY_TEXT_LEN, v); };
}

// The attributes every element has, in the table's first nine entries.
struct head_fields {
    float* version;
    char* title;
    VisModeType_t* vis_mode;
    uint8_t* always_on_top;
};

void addHead(std::vector<xml_attr_spec>& specs, display_elem_s* e, const head_fields& h) {
    specs.push_back({"version", "parse error: parameter version found twice", WRONG,
                     [v = h.version](const char* x) { return XmlGetFloat(x, v); }});
    specs.push_back({"title", "parse error: title found twice", "", text(h.title)});
    specs.push_back({"vis_mode", "parse error: parameter visual mode found twice", "parse error: wrong visual mode parameter",
                     [m = h.vis_mode](const char* x) { return XmlStr2VisMode(x, m); }});
    specs.push_back({"always_on_top", "parse error: always on top found twice", WRONG,
                     [a = h.always_on_top](const char* x) { return XmlGetBool(x, a); }});
    specs.push_back({"prio", "parse error: prio found twice", WRONG, u16(&e->prio)});
    specs.push_back({"pos_x", "parse error: pos_x found twice", WRONG, u16(&e->pos_x)});
    specs.push_back({"pos_y", "parse error: pos_y found twice", WRONG, u16(&e->pos_y)});
    specs.push_back({"size_x", "parse error: size_x found twice", WRONG, u16(&e->size_x)});
    specs.push_back({"size_y", "parse error: size_y found twice", WRONG, u16(&e->size_y)});
}

// The alarm attributes of AlphaNumeric and Picture, all optional.
struct alarm_fields {
    BlinkType_t* blink;
    uint32_t* min_disp_time;
    uint32_t* auto_reset_time;
    uint32_t* retrigger_time;
};

void addAlarm(std::vector<xml_attr_spec>& specs, const alarm_fields& a) {
    specs.push_back({"blink", "parse error: blink found twice", "parse error: wrong blink type",
                     [b = a.blink](const char* x) { return XmlStr2BlinkType(x, b); }});
    specs.push_back({"min_disp_time", "parse error: min_disp_time found twice", WRONG, u32(a.min_disp_time)});
    specs.push_back({"auto_reset_time", "parse error: auto_reset_time found twice", WRONG, u32(a.auto_reset_time)});
    specs.push_back({"retrigger_time", "parse error: retrigger_time found twice", WRONG, u32(a.retrigger_time)});
}

// Start tag and attribute list; *skip is set when the element's version is
// not 1.0 and its content has been read over.
int readStart(xml_scan_s* s, const element_texts& tx, const std::vector<xml_attr_spec>& specs, int required,
              const float* version, bool* skip) {
    *skip = false;
    if (xml_expect(s, XML_TOK_START_ATTR, tx.tag, tx.open_msg) != 0) return -1;
    const xml_attr_list list{XML_END_GT, tx.list_msg, tx.scan_msg, false};
    uint32_t found;
    if (xml_read_attributes(s, specs.data(), int(specs.size()), list, &found) != 0) return -1;
    const uint32_t need = xml_all(required);
    if ((found & need) != need) {
        xml_error(tx.missing_msg, s);
        return -1;
    }
    if (*version != 1.0f) {
        *skip = true;
        return XmlIgnore_Content(s, tx.tag);
    }
    return 0;
}

// What a child loop found.
enum : uint32_t {
    HAS_CHINPUT = 1,
    HAS_VISINPUT = 2,
    HAS_MIDDLE = 4,
    HAS_LOWER = 8,
    HAS_UPPER = 16,
    HAS_TRANSPARENT = 32,
};

// Skips the child whose first token t was peeked, ending at after.
int skipChild(xml_scan_s* s, const xml_scan_s& after, const xml_token_s& t) {
    *s = after;
    return XmlIgnore_Tag(s, &t);
}

bool isStartAttr(const xml_token_s& t, const char* name) { return xml_tok_is(t, XML_TOK_START_ATTR, name); }
bool isStartAny(const xml_token_s& t, const char* name) {
    return xml_tok_is(t, XML_TOK_START_ATTR, name) || xml_tok_is(t, XML_TOK_START, name);
}

int notAllTags(xml_scan_s* s) {
    xml_error("parse error: not all tags found", s);
    return -1;
}

// The children of an AlphaNumeric or a BarGraph (bodies alike in these
// fields): channel inputs, the three bands, and what extra() takes on (1
// when it read the child, 0 when not its child, -1 on failure). Required:
// DecoMiddle, ChInput when need_ch, VisInput unless always visible.
template <class Body, class Deco, class Extra>
int bandedChildren(xml_scan_s* s, const char* tag, Body& b, int (*parse_deco)(xml_scan_s*, Deco*), const char* band_missing,
                   bool need_ch, Extra extra) {
    uint32_t has = 0;
    xml_token_s t;
    xml_scan_s after;
    for (;;) {
        int r = xml_peek_end(s, tag, &t, &after);
        if (r < 0) return -1;
        if (r == 1) break;
        if (isStartAttr(t, "ChInput")) {
            r = XmlParseChInput_Tag(s, "ChInput", &b.ch_in);
            has |= HAS_CHINPUT;
        } else if (isStartAttr(t, "VisInput")) {
            r = XmlParseChInput_Tag(s, "VisInput", &b.vis_in);
            has |= HAS_VISINPUT;
        } else if (isStartAttr(t, "DecoLower")) {
            r = xml_parse_band(s, XML_BAND_LOWER, &b.limit_low, &b.hyst_low, &b.deco_lower, parse_deco, band_missing);
            has |= HAS_LOWER;
        } else if (isStartAttr(t, "DecoUpper")) {
            r = xml_parse_band(s, XML_BAND_UPPER, &b.limit_up, &b.hyst_up, &b.deco_upper, parse_deco, band_missing);
            has |= HAS_UPPER;
        } else if (isStartAny(t, "DecoMiddle")) {
            r = xml_parse_band<Deco>(s, XML_BAND_MIDDLE, nullptr, nullptr, &b.deco_middle, parse_deco, "");
            has |= HAS_MIDDLE;
        } else if ((r = extra(t)) == 0) {
            r = skipChild(s, after, t);
        } else if (r > 0) {
            r = 0;
        }
        if (r != 0) return -1;
    }
    if (!(has & HAS_MIDDLE) || (need_ch && !(has & HAS_CHINPUT)) || (b.vis_mode != VIS_ALWAYS && !(has & HAS_VISINPUT)))
        return notAllTags(s);
    b.has_lower = (has & HAS_LOWER) ? 1 : 0;
    b.has_upper = (has & HAS_UPPER) ? 1 : 0;
    return 0;
}

}  // namespace

int XmlParseAlphaNumDisplayElement(xml_scan_s* s, display_elem_s* e, const display_s* d) {
    XmlInitAlphaNumeric(e);
    alphanum_s& a = e->alphanum;
    std::vector<xml_attr_spec> specs;
    addHead(specs, e, {&e->version, a.title, &a.vis_mode, &a.always_on_top});
    specs.push_back({"font_size", "parse error: parameter font size found twice", "parse error: wrong font size parameter",
                     [&a](const char* x) { return XmlStr2FontSize(x, &a.font_size); }});
    specs.push_back({"align", "parse error: parameter alignment found twice", "parse error: wrong align parameter",
                     [&a](const char* x) { return XmlStr2Align(x, &a.align); }});
    specs.push_back({"dispmode", "parse error: parameter display mode found twice", "parse error: wrong display mode parameter",
                     [&a](const char* x) { return XmlStr2DispOpt(x, &a.dispmode); }});
    specs.push_back({"vtab", "parse error: vtab found twice", "parse error: vtab reference not found",
                     [&a, d](const char* x) {
                         if (!*x) {
                             a.vtab = nullptr;
                             return 0;
                         }
                         a.vtab = d ? XmlSearchVTab(d->vtabs, x) : nullptr;
                         return a.vtab ? 0 : -1;
                     }});
    specs.push_back({"format_str", "parse error: format_str found twice", "", text(a.format_str)});
    const int required = int(specs.size());
    addAlarm(specs, {&a.blink, &a.min_disp_time, &a.auto_reset_time, &a.retrigger_time});

    bool skip;
    if (readStart(s, ALPHANUM, specs, required, &e->version, &skip) != 0) return -1;
    if (skip) {
        XmlInitAlphaNumeric(e);
        return 0;
    }
    if (bandedChildren(s, "AlphaNumeric", a, XmlParseAlphaNumDecoTag, "attribute missing", false,
                       [](const xml_token_s&) { return 0; }) != 0)
        return -1;
    // A box with a channel hands its format text to printf with its value:
    // only conversions that fit the display mode pass. Without a channel the
    // text is shown as it is.
    if (a.ch_in.type != 0 && !display_format_ok(a.format_str, a.dispmode)) {
        xml_error("parse error: format_str does not fit the display mode", s);
        return -1;
    }
    return 0;
}

int XmlParseBarGraphDisplayElement(xml_scan_s* s, display_elem_s* e) {
    XmlInitBarGraph(e);
    bargraph_s& b = e->bargraph;
    std::vector<xml_attr_spec> specs;
    addHead(specs, e, {&e->version, b.title, &b.vis_mode, &b.always_on_top});
    specs.push_back({"style", "parse error: parameter bar graph style found twice",
                     "parse error: wrong bar graph style parameter",
                     [&b](const char* x) { return XmlStr2BargrStyle(x, &b.style); }});
    specs.push_back({"orientation", "parse error: parameter bar graph orientation found twice",
                     "parse error: wrong bar graph orientation parameter",
                     [&b](const char* x) { return XmlStr2BargrBargrOrient(x, &b.orientation); }});
    specs.push_back({"ticks", "parse error: ticks found twice", WRONG, [&b](const char* x) { return XmlGetBool(x, &b.ticks); }});
    specs.push_back({"min", "parse error: min found twice", WRONG, [&b](const char* x) { return XmlGetFloat(x, &b.min); }});
    specs.push_back({"max", "parse error: max found twice", WRONG, [&b](const char* x) { return XmlGetFloat(x, &b.max); }});

    bool skip;
    if (readStart(s, BARGRAPH, specs, int(specs.size()), &e->version, &skip) != 0) return -1;
    if (skip) {
        XmlInitBarGraph(e);
        return 0;
    }
    return bandedChildren(s, "BarGraph", b, XmlParseBarGraphDecoTag, "missing attribute", true, [&](const xml_token_s& t) {
        if (!xml_tok_is(t, XML_TOK_START, "TickList")) return 0;
        return XmlParseTicks(s, b.tick_list, &b.tick_count) == 0 ? 1 : -1;
    });
}

int XmlParsePictureDisplayElement(xml_scan_s* s, display_elem_s* e) {
    XmlInitPictureElement(e);
    picture_elem_s& p = e->picture;
    std::vector<xml_attr_spec> specs;
    addHead(specs, e, {&e->version, p.title, &p.vis_mode, &p.always_on_top});
    specs.push_back({"filename", "parse error: filename found twice", "", [&p](const char* x) {
                         return xml_copy_text(p.pic.filename, sizeof p.pic.filename, x);
                     }});
    specs.push_back({"ofs", "parse error: offset found twice", WRONG,
                     [&p](const char* x) { return XmlGetHex(x, &p.pic.ofs, 0, 0xFFFFFFFFu); }});
    // A length beyond any picture of the screen is refused before anything
    // is allocated for it.
    specs.push_back({"len", "parse error: length found twice", WRONG,
                     [&p, s](const char* x) {
                         uint32_t v;
                         if (XmlGetHex(x, &v, 0, 0xFFFFFFFFu) != 0) return -1;
                         if (v > DISPLAY_PICTURE_MAX_LEN) {
                             xml_error("parse error: picture length too large", s);
                             return -2;
                         }
                         p.pic.len = v;
                         return 0;
                     }});
    const int required = int(specs.size());
    addAlarm(specs, {&p.blink, &p.min_disp_time, &p.auto_reset_time, &p.retrigger_time});

    bool skip;
    if (readStart(s, PICTURE, specs, required, &e->version, &skip) != 0) return -1;
    if (skip) {
        XmlInitPictureElement(e);
        return 0;
    }
    uint32_t has = 0;
    xml_token_s t;
    xml_scan_s after;
    for (;;) {
        int r = xml_peek_end(s, "Picture", &t, &after);
        if (r < 0) return -1;
        if (r == 1) break;
        if (isStartAttr(t, "VisInput")) {
            if (XmlParseChInput_Tag(s, "VisInput", &p.vis_in) != 0) return -1;
            has |= HAS_VISINPUT;
        } else if (isStartAny(t, "DecoMiddle")) {
            if (xml_parse_band<picture_deco_s>(s, XML_BAND_MIDDLE, nullptr, nullptr, &p.deco_middle,
                                               XmlParsePictureDecoTag, "") != 0)
                return -1;
            has |= HAS_MIDDLE;
        } else if (std::strcmp(t.name, "TransparentCol") == 0) {
            // Any token of that name, so that a stray or attribute-less one
            // fails as a colour.
            if (XmlParseRGB_Tag(s, "TransparentCol", &p.pic.TransparentCol) != 0) return -1;
            has |= HAS_TRANSPARENT;
        } else if (skipChild(s, after, t) != 0) {
            return -1;
        }
    }
    if (!(has & HAS_MIDDLE) || !(has & HAS_TRANSPARENT) || (p.vis_mode != VIS_ALWAYS && !(has & HAS_VISINPUT)))
        return notAllTags(s);
    return 0;
}
