// Colour elements and channel-input elements: both empty elements whose
// attributes are all required.
#include "display/config/xml_attr.h"
#include "display/config/xml_elements.h"


namespace {

std::function<int(const char*)> hexByte(uint8_t* out) {
    return [out](const char* v) {
        uint32_t x;
        if (XmlGetHex(v, &x, 0, 255) != 0) return -1;
        *out = static_cast<uint8_t>(x);
        return 0;
    };
}

std::function<int(const char*)> hexWord(uint32_t* out) {
    return [out](const char* v) { return XmlGetHex(v, out, 0, 0xFFFFFFFFu); };
}

std::function<int(const char*)> toFloat(float* out) {
    return [out](const char* v) { return XmlGetFloat(v, out); };
}

}  // namespace

int XmlParseRGB_Tag(xml_scan_s* s, const char* name, rgb_s* col) {
    XmlInitRGB(col);
    rgb_s c{};
    if (xml_expect(s, XML_TOK_START_ATTR, name ? name : "", "parse error: expecting open tag for rgb type") != 0)
        return -1;
    const xml_attr_spec specs[] = {
        {"red", "parse error: parameter red found twice", "parse error: wrong value", hexByte(&c.red)},
        {"green", "parse error: parameter green found twice", "parse error: wrong value", hexByte(&c.green)},
        {"blue", "parse error: parameter bluee found twice", "parse error: wrong value", hexByte(&c.blue)},
    };
    const xml_attr_list list{XML_END_EMPTY, "parse error: expecting paramters of rgb type", "parse error: expecting paramters of rgb type", false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 3, list, &found) != 0) return -1;
    if (found != xml_all(3)) {
        xml_error("parse error: not all paramters found for rgb type", s);
        return -1;
    }
    *col = c;
    return 0;
}

int XmlParseChInput_Tag(xml_scan_s* s, const char* name, awm_meas_in* in) {
    XmlInitChInput(in);
    if (xml_expect(s, XML_TOK_START_ATTR, name ? name : "", "parse error: expecting open tag for channel input") != 0)
        return -1;
    awm_meas_in c;
    XmlInitChInput(&c);
    const xml_attr_spec specs[] = {
        {"adr", "parse error: parameter adr found twice", "parse error: wrong value", hexWord(&c.adr)},
        {"type", "parse error: parameter typ found twice", "parse error: wrong data type parameter",
         [&c](const char* v) { return XmlStr2Type(v, &c.type); }},
        {"mask", "parse error: mask found twice", "parse error: wrong value", hexWord(&c.mask)},
        {"quant_a", "parse error: quant. parameter a found twice", "parse error: wrong value", toFloat(&c.quant_a)},
        {"quant_b", "parse error: quant. parameter b found twice", "parse error: wrong value", toFloat(&c.quant_b)},
        {"quant_c", "parse error: quant. parameter c found twice", "parse error: wrong value", toFloat(&c.quant_c)},
        {"quant_d", "parse error: quant. parameter d found twice", "parse error: wrong value", toFloat(&c.quant_d)},
        {"quant_e", "parse error: quant. parameter e found twice", "parse error: wrong value", toFloat(&c.quant_e)},
        {"quant_f", "parse error: quant. parameter f found twice", "parse error: wrong value", toFloat(&c.quant_f)},
    };
    const xml_attr_list list{XML_END_EMPTY, "parse error: expecting paramters of ChannelIn type",
                             "parse error: expecting paramters of ChannelIn type", false};
    uint32_t found;
    if (xml_read_attributes(s, specs, 9, list, &found) != 0) return -1;
    // Every attribute but mask, which defaults to the whole word.
    const uint32_t required = xml_all(9) & ~(1u << 2);
    if ((found & required) != required) {
        xml_error("parse error: not all paramters found for channel input type", s);
        return -1;
    }
    *in = c;
    return 0;
}
