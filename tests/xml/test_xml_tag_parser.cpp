#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "xml/xml.h"

namespace {

// Positions the scanner on the first start tag.
XmlScan& atFirstTag(XmlScan& s) {
    s.getTok();
    return s;
}

std::string parseError(const char* text, XmlTagParser& p) {
    XmlScan s(text);
    try {
        p.parse(atFirstTag(s));
    } catch (const char* e) {
        return e;
    }
    return "";
}

}  // namespace

TEST(XmlTagParser, ReadsEveryTypeIntoItsTarget) {
    char name[8] = {};
    uint32_t addr = 0;
    uint16_t mask = 0;
    uint64_t big = 0;
    int8_t off = 0;
    uint8_t count = 0;
    float scale = 0;
    double factor = 0;
    int32_t mode = -1;
    int32_t untouched = 42;
    XmlVTabParser modes(2);
    modes.addPair("off", 0);
    modes.addPair("on", 7);
    XmlTagParser p(10);
    p.addAttribute("name", name, sizeof name, XML_STRING, 0);
    p.addAttribute("addr", &addr, sizeof addr, XML_HEX, 0);
    p.addAttribute("mask", &mask, sizeof mask, XML_HEX, 0);
    p.addAttribute("big", &big, sizeof big, XML_HEX64, 0);
    p.addAttribute("off", &off, sizeof off, XML_INT, 0);
    p.addAttribute("count", &count, sizeof count, XML_UINT, 0);
    p.addAttribute("scale", &scale, sizeof scale, XML_FLOAT, 0);
    p.addAttribute("factor", &factor, sizeof factor, XML_FLOAT, 0);
    p.addAttributeVTab("mode", &modes, &mode, sizeof mode, 0);
    p.addAttribute("opt", &untouched, sizeof untouched, XML_INT, 1);
    XmlScan s("<chan name=\"engine_speed\" addr=\"FFFFFFFF\" mask=\"0x00ff\" big=\"0x123456789abcdef0\""
              " off=\"-128\" count=\"255\" scale=\"0.5\" factor=\"-1e3\" mode=\"on\" extra=\"ignored\">"
              "</chan>");
    EXPECT_EQ(p.parse(atFirstTag(s)), XML_TOK_ATTR_END);
    EXPECT_STREQ(name, "engine_");   // cut to the field, 0-terminated
    EXPECT_EQ(addr, 0xFFFFFFFFu);
    EXPECT_EQ(mask, 0xff);
    EXPECT_EQ(big, 0x123456789abcdef0ull);
    EXPECT_EQ(off, -128);
    EXPECT_EQ(count, 255);
    EXPECT_FLOAT_EQ(scale, 0.5f);
    EXPECT_DOUBLE_EQ(factor, -1000.0);
    EXPECT_EQ(mode, 7);
    EXPECT_EQ(untouched, 42);
    EXPECT_FALSE(p.found("opt"));
    EXPECT_TRUE(p.found("mode"));
    EXPECT_EQ(s.getTok().kind, XML_TOK_END);
}

TEST(XmlTagParser, EmptyElementAndReuseForSiblings) {
    uint32_t id = 0;
    XmlTagParser p(1);
    p.addAttribute("id", &id, sizeof id, XML_UINT, 0);
    XmlScan s("<r><c id=\"1\"/><c id=\"2\"/><c/></r>");
    s.getTok();
    s.getTok();
    s.getTok();
    EXPECT_EQ(p.parse(s), XML_TOK_EMPTY_END);
    EXPECT_EQ(id, 1u);
    s.getTok();
    EXPECT_EQ(p.parse(s), XML_TOK_EMPTY_END);
    EXPECT_EQ(id, 2u);
    s.getTok();
    // the third has no id: the row's found flag was reset
    try {
        p.parse(s);
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "mandatory attribute not found (id) in line 1 column 26");
    }
}

TEST(XmlTagParser, BadValuesThrowWithAttributeAndPosition) {
    uint8_t u8;
    int16_t i16;
    uint32_t u32;
    uint64_t u64;
    float f;
    int32_t v;
    XmlVTabParser vt(1);
    vt.addPair("yes", 1);
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"<a\n x=\"0xG1\"/>", "attribute is no hex number (x) in line 1 column 1"},
        {"<a x=\"\"/>", "attribute is no hex number (x) in line 1 column 1"},
        {"<a x=\"0x\"/>", "attribute is no hex number (x) in line 1 column 1"},
        {"<a x=\"100000000\"/>", "attribute is no hex number (x) in line 1 column 1"},
        {"<a y=\"0x10000000000000000\"/>", "attribute is no hex64 number (y) in line 1 column 1"},
        {"<a u=\"256\"/>", "attribute has wrong number (u) in line 1 column 1"},
        {"<a u=\"-1\"/>", "attribute has wrong number (u) in line 1 column 1"},
        {"<a i=\"32768\"/>", "attribute has wrong number (i) in line 1 column 1"},
        {"<a i=\"-32769\"/>", "attribute has wrong number (i) in line 1 column 1"},
        {"<a i=\"12abc\"/>", "attribute has wrong number (i) in line 1 column 1"},
        {"<a f=\"nan\"/>", "attribute has wrong number (f) in line 1 column 1"},
        {"<a f=\"1e39\"/>", "attribute has wrong number (f) in line 1 column 1"},
        {"<a f=\"\"/>", "attribute has wrong number (f) in line 1 column 1"},
        {"<a v=\"maybe\"/>", "attribute has wrong value (v) in line 1 column 1"},
    };
    for (const Case& c : cases) {
        XmlTagParser p(6);
        p.addAttribute("x", &u32, sizeof u32, XML_HEX, 1);
        p.addAttribute("y", &u64, sizeof u64, XML_HEX64, 1);
        p.addAttribute("u", &u8, sizeof u8, XML_UINT, 1);
        p.addAttribute("i", &i16, sizeof i16, XML_INT, 1);
        p.addAttribute("f", &f, sizeof f, XML_FLOAT, 1);
        p.addAttributeVTab("v", &vt, &v, sizeof v, 1);
        EXPECT_EQ(parseError(c.text, p), c.error) << c.text;
    }
}

TEST(XmlTagParser, NumberEdgesThatAreAccepted) {
    uint32_t x = 0;
    int32_t i = 0;
    uint16_t h = 0;
    XmlTagParser p(3);
    p.addAttribute("x", &x, sizeof x, XML_HEX, 0);
    p.addAttribute("i", &i, sizeof i, XML_INT, 0);
    p.addAttribute("h", &h, sizeof h, XML_UINT, 0);
    XmlScan s("<a x=\" 0Xab \" i=\"-2147483648\" h=\"0xffff\"/>");
    EXPECT_EQ(p.parse(atFirstTag(s)), XML_TOK_EMPTY_END);
    EXPECT_EQ(x, 0xabu);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(h, 0xffff);
}

TEST(XmlTagParser, MisuseIsThrownNotOverrun) {
    uint32_t a;
    XmlTagParser p(1);
    p.addAttribute("a", &a, sizeof a, XML_HEX, 0);
    try {
        p.addAttribute("b", &a, sizeof a, XML_HEX, 0);
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "parse: less tags used!");
    }
    // parse called on something that is not a start tag
    XmlScan s("<r>\n</r>");
    s.getTok();
    s.getTok();
    try {
        p.parse(s);
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "unexpected token after parsing attributes in line 2 column 1");
    }
    // an odd target width is refused
    uint8_t three[3];
    XmlTagParser q(1);
    q.addAttribute("a", three, sizeof three, XML_UINT, 0);
    EXPECT_EQ(parseError("<x a=\"1\"/>", q), "attribute has wrong number (a) in line 1 column 1");
    XmlVTabParser full(1);
    EXPECT_TRUE(full.addPair("a", 1));
    EXPECT_FALSE(full.addPair("b", 2));
}
