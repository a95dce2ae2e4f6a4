// Feeds arbitrary bytes to the scanner and reads every start tag's attributes
// with a parser of every type, as a configuration loader would.
#include <cstddef>
#include <cstdint>

#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char name[16];
    uint32_t hex;
    uint64_t hex64;
    int16_t i16;
    uint8_t u8;
    float f;
    double d;
    int32_t vt;
    XmlVTabParser table(2);
    table.addPair("on", 1);
    table.addPair("off", 0);
    XmlTagParser p(8);
    p.addAttribute("name", name, sizeof name, XML_STRING, 1);
    p.addAttribute("addr", &hex, sizeof hex, XML_HEX, 1);
    p.addAttribute("big", &hex64, sizeof hex64, XML_HEX64, 1);
    p.addAttribute("i", &i16, sizeof i16, XML_INT, 1);
    p.addAttribute("u", &u8, sizeof u8, XML_UINT, 1);
    p.addAttribute("f", &f, sizeof f, XML_FLOAT, 1);
    p.addAttribute("d", &d, sizeof d, XML_FLOAT, 1);
    p.addAttributeVTab("mode", &table, &vt, sizeof vt, 0);
    try {
        XmlScan s(reinterpret_cast<const char*>(data), size);
        int n = 0;
        while (!s.isEof()) {
            const XmlTok_t& t = s.getTok();
            if (t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR) {
                try {
                    if ((n++ & 3) == 3) s.scanOverTag();
                    else p.parse(s);
                } catch (const char*) {
                    // a bad attribute: the loader logs it and goes on
                }
            }
        }
    } catch (const char*) {
    }
    return 0;
}
