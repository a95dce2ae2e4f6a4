// The display.xml tokenizer and converters: token kinds, positions, comments,
// entities and the quirks of the format that files may rely on.
#include "display/config/xml_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Tok {
    int r;
    uint32_t kind;
    std::string name, value;
};

std::vector<Tok> tokens(const std::string& text, int max = 20) {
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    std::vector<Tok> out;
    xml_token_s t;
    for (int i = 0; i < max; ++i) {
        int r = XmlGetTok(&s, &t);
        out.push_back({r, t.kind, t.name, t.value});
        if (r != 0) break;
    }
    return out;
}

std::string lastError() {
    char buf[300];
    xml_get_error_msg(buf, sizeof buf);
    return buf;
}

// The error of the first failing token.
std::string scanError(const std::string& text) {
    auto t = tokens(text);
    EXPECT_EQ(t.back().r, -1) << text;
    return lastError();
}

}  // namespace

TEST(DisplayXmlScan, TokenKindsOfADocument) {
    auto t = tokens("<?xml version=\"1.0\"?><Page >< Page2/><Tab a = \"x\"/></Page>");
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(t[0].kind, XML_TOK_DECL);
    EXPECT_EQ(t[1].kind, XML_TOK_ATTRIBUTE);
    EXPECT_EQ(t[1].name, "version");
    EXPECT_EQ(t[1].value, "1.0");
    EXPECT_EQ(t[2].kind, XML_TOK_DECL_END);
    EXPECT_EQ(t[3].kind, XML_TOK_START);
    EXPECT_EQ(t[3].name, "Page");
    // '<' followed by a blank is no tag.
    EXPECT_EQ(t[4].r, -1);
    EXPECT_EQ(lastError(), "scan error in line 1 column 29");

    t = tokens("<Tab a = \"x\" b=\"\"/></Page >");
    EXPECT_EQ(t[0].kind, XML_TOK_START_ATTR);
    EXPECT_EQ(t[1].kind, XML_TOK_ATTRIBUTE);
    EXPECT_EQ(t[1].value, "x");
    EXPECT_EQ(t[2].value, "");
    EXPECT_EQ(t[3].kind, XML_TOK_EMPTY_END);
    EXPECT_EQ(t[4].kind, XML_TOK_END);
    EXPECT_EQ(t[4].name, "Page");
    EXPECT_EQ(t[5].r, 1);
    EXPECT_EQ(t[5].kind, XML_TOK_EOF);
}

TEST(DisplayXmlScan, BlanksAndCommentsEndTheTextQuietly) {
    for (const char* text : {"", " \t\r\n\v", "  <!-- only a comment -->  ", "<!-- a - b -- c --->"}) {
        auto t = tokens(text);
        ASSERT_EQ(t.size(), 1u) << text;
        EXPECT_EQ(t[0].r, 1);
        EXPECT_EQ(t[0].kind, XML_TOK_EOF);
    }
    // Comments stand between attributes too.
    auto t = tokens("<Tab <!-- x --> a=\"1\" <!-- y -->/>");
    EXPECT_EQ(t[1].name, "a");
    EXPECT_EQ(t[2].kind, XML_TOK_EMPTY_END);
    EXPECT_EQ(scanError("<!-- never closed -"), "scan error: unexpected EOF during comment in line 1 column 19");
}

TEST(DisplayXmlScan, LineAndColumnCounting) {
    // Tab counts 8, CR restarts the column, LF alone keeps it growing.
    EXPECT_EQ(scanError("\t#"), "scan error in line 1 column 8");
    EXPECT_EQ(scanError("ab\r\n  #"), "scan error: '=' expected in line 2 column 2");
    EXPECT_EQ(scanError("<a>\r\n  #"), "scan error in line 2 column 2");
    EXPECT_EQ(scanError("<a>\n  #"), "scan error in line 2 column 5");
    EXPECT_EQ(scanError("<a>\v#"), "scan error in line 2 column 3");
    // A zero byte is a blank that moves nothing.
    EXPECT_EQ(scanError(std::string("<a>\0\0#", 6)), "scan error in line 1 column 3");
}

TEST(DisplayXmlScan, ScanErrorTexts) {
    EXPECT_EQ(scanError("<!DOCTYPE x>"), "scan error: '!' unexpected, only XML comments are supported... in line 1 column 1");
    EXPECT_EQ(scanError("<?php x ?>"), "scan error: xml expected in line 1 column 2");
    EXPECT_EQ(scanError("</>"), "scan error: tag name expected in line 1 column 2");
    EXPECT_EQ(scanError("</a"), "scan error: unexpected EOF in line 1 column 3");
    EXPECT_EQ(scanError("</a b>"), "scan error: '>' expected in line 1 column 4");
    EXPECT_EQ(scanError("<a  "), "scan error: unexpected EOF in line 1 column 4");
    EXPECT_EQ(scanError("/x"), "scan error: '>' expected in line 1 column 1");
    EXPECT_EQ(scanError("?x"), "scan error: '>' expected in line 1 column 1");
    EXPECT_EQ(scanError("a"), "scan error: unexpected EOF in line 1 column 1");
    EXPECT_EQ(scanError("a ="), "scan error: unexpected EOF in line 1 column 3");
    EXPECT_EQ(scanError("word more"), "scan error: '=' expected in line 1 column 5");
    EXPECT_EQ(scanError("a='x'"), "scan error: error scanning parameter value in line 1 column 2");
    EXPECT_EQ(scanError("a=\"x<y\""), "scan error: error scanning parameter value in line 1 column 4");
    EXPECT_EQ(scanError("a=\"x"), "scan error: error scanning parameter value in line 1 column 4");
    EXPECT_EQ(scanError("a=\"&nbsp;\""), "scan error: error scanning parameter value in line 1 column 3");
    EXPECT_EQ(scanError("a=\"&#65\""), "scan error: error scanning parameter value in line 1 column 7");
    EXPECT_EQ(scanError("5"), "scan error: unexpected digit in line 1 column 0");
    EXPECT_EQ(scanError("\xEF\xBB\xBF<?xml"), "scan error in line 1 column 0");
    // A digit ends a name: Page1 is the tag Page with attributes.
    auto t = tokens("<Page1>");
    EXPECT_EQ(t[0].kind, XML_TOK_START_ATTR);
    EXPECT_EQ(t[0].name, "Page");
    EXPECT_EQ(t[1].r, -1);
    EXPECT_EQ(lastError(), "scan error: unexpected digit in line 1 column 5");
}

TEST(DisplayXmlScan, EntitiesInValues) {
    auto t = tokens("a=\"&lt;&gt;&amp;&apos;&quot;&#65;&#321;&#;x\"");
    ASSERT_EQ(t[0].kind, XML_TOK_ATTRIBUTE);
    EXPECT_EQ(t[0].value, "<>&'\"AA");   // &#; gives a zero byte: the text ends there
    // A value of 254 characters fits; one more does not.
    std::string v(254, 'v');
    EXPECT_EQ(tokens("a=\"" + v + "\"")[0].value, v);
    EXPECT_EQ(tokens("a=\"" + v + "w\"")[0].r, -1);
}

TEST(DisplayXmlScan, LongNamesAreCut) {
    std::string name(300, 'n');
    auto t = tokens("<" + name + ">");
    EXPECT_EQ(t[0].kind, XML_TOK_START_ATTR);
    EXPECT_EQ(t[0].name, std::string(254, 'n'));
}

TEST(DisplayXmlScan, ErrorTextCopies) {
    xml_error("some failure", nullptr);
    char small[5] = "zzzz";
    xml_get_error_msg(small, sizeof small);
    EXPECT_STREQ(small, "some");
    xml_get_error_msg(small, 0);   // nothing to write into
    EXPECT_STREQ(small, "some");
    std::string huge(400, 'x');
    xml_error(huge.c_str(), nullptr);
    EXPECT_EQ(lastError().size(), 253u);
}

TEST(DisplayXmlConvert, Numbers) {
    float f = -1;
    EXPECT_EQ(XmlGetFloat("1.5e2", &f), 0);
    EXPECT_FLOAT_EQ(f, 150.0f);
    EXPECT_EQ(XmlGetFloat("12abc", &f), 0);
    EXPECT_FLOAT_EQ(f, 12.0f);
    for (const char* zero : {"", "-", "+", ".", "-.e", "e999"}) {
        f = -1;
        EXPECT_EQ(XmlGetFloat(zero, &f), 0) << zero;
        EXPECT_EQ(f, 0.0f) << zero;
    }
    f = 7;
    EXPECT_EQ(XmlGetFloat("abc", &f), -1);
    EXPECT_EQ(f, 7.0f);

    uint32_t u = 9;
    EXPECT_EQ(XmlGetHex("FF", &u, 0, 255), 0);
    EXPECT_EQ(u, 255u);
    EXPECT_EQ(XmlGetHex("ffffffff", &u, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    EXPECT_EQ(XmlGetHex("", &u, 0, 10), 0);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(XmlGetHex("100", &u, 0, 255), -1);
    EXPECT_EQ(XmlGetHex("123456789", &u, 0, 0xFFFFFFFFu), -1);
    EXPECT_EQ(XmlGetHex("0x10", &u, 0, 0xFFFFFFFFu), -1);

    EXPECT_EQ(XmlGetUInt("65535", &u, 0, 65535), 0);
    EXPECT_EQ(u, 65535u);
    EXPECT_EQ(XmlGetUInt("65536", &u, 0, 65535), -1);
    EXPECT_EQ(XmlGetUInt("+5", &u, 0, 65535), -1);
    EXPECT_EQ(XmlGetUInt("4294967295", &u, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    // More than 32 bits is refused, not wrapped around to a small number.
    EXPECT_EQ(XmlGetUInt("4294967296", &u, 0, 65535), -1);
    EXPECT_EQ(XmlGetUInt("99999999999999999999", &u, 0, 0xFFFFFFFFu), -1);

    int32_t i = 0;
    EXPECT_EQ(XmlGetInt("-2147483648", &i, INT32_MIN, INT32_MAX), 0);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(XmlGetInt("+7", &i, INT32_MIN, INT32_MAX), 0);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(XmlGetInt("4294967295", &i, INT32_MIN, INT32_MAX), 0);   // 32-bit wrap-around
    EXPECT_EQ(i, -1);
    EXPECT_EQ(XmlGetInt("1-", &i, INT32_MIN, INT32_MAX), -1);
    EXPECT_EQ(XmlGetInt("5", &i, 0, 4), -1);

    uint8_t b = 5;
    EXPECT_EQ(XmlGetBool("true", &b), 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(XmlGetBool("false", &b), 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(XmlGetBool("1", &b), -1);
    EXPECT_EQ(XmlGetBool("True", &b), -1);
}

TEST(DisplayXmlConvert, KeywordsAreExact) {
    uint16_t type = 0;
    EXPECT_EQ(XmlStr2Type("BOOL", &type), 0);
    EXPECT_EQ(type, TE_BOOL);
    EXPECT_EQ(XmlStr2Type("bool", &type), -1);
    AlignType_t a;
    EXPECT_EQ(XmlStr2Align("BR", &a), 0);
    EXPECT_EQ(a, ALIGN_BR);
    FontSizeType_t fs;
    EXPECT_EQ(XmlStr2FontSize("xxxlarge", &fs), 0);
    EXPECT_EQ(fs, FONT_XXXLARGE);
    DispOptType_t d;
    EXPECT_EQ(XmlStr2DispOpt("ascii", &d), 0);
    EXPECT_EQ(d, DISP_ASCII);
    EXPECT_EQ(XmlStr2DispOpt("", &d), -1);
    StyleType_t st;
    EXPECT_EQ(XmlStr2Style("single_side", &st), 0);
    EXPECT_EQ(st, STYLE_SINGLE_SIDE);
    VisModeType_t vm;
    EXPECT_EQ(XmlStr2VisMode("limit_resetable", &vm), 0);
    EXPECT_EQ(vm, VIS_LIMIT_RESETABLE);
    BargrOrientType_t o;
    EXPECT_EQ(XmlStr2BargrBargrOrient("vert_tb", &o), 0);
    EXPECT_EQ(o, BARGR_VERT_TB);
    BargrStyleType_t bs;
    EXPECT_EQ(XmlStr2BargrStyle("stacked", &bs), 0);
    EXPECT_EQ(bs, BARGR_STACKED);
    BlinkType_t bl;
    EXPECT_EQ(XmlStr2BlinkType("fast", &bl), 0);
    EXPECT_EQ(bl, BLINK_FAST);
    EXPECT_EQ(XmlStr2BlinkType(nullptr, &bl), -1);
}

TEST(DisplayXmlScan, SkipsUnknownElementsOfAnyDepth) {
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<x a=\"1\">";
    deep += "<y/>";
    for (int i = 0; i < 20000; ++i) deep += "</x>";
    std::string text = "<u>" + deep + "<v b=\"2\"/></u><next>";
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    xml_token_s t;
    ASSERT_EQ(XmlGetTok(&s, &t), 0);
    ASSERT_EQ(XmlIgnore_Tag(&s, &t), 0) << lastError();
    ASSERT_EQ(XmlGetTok(&s, &t), 0);
    EXPECT_EQ(std::string(t.name), "next");

    for (auto [bad, msg] : std::vector<std::pair<std::string, std::string>>{
             {"<u><x></y></u>", "parse error: unexpected token in line 1 column 10"},
             {"<u><x", "parse error: error during unknown tag in line 1 column 5"},
             {"<u a=\"1\" >", "parse error: unexpected token in line 1 column 10"},
             {"<u a=\"1\" <", "parse error: expecting attributes in line 1 column 10"},
             {"<u><x a=\"1\" </x>", "parse error: expecting attributes in line 1 column 16"},
         }) {
        xml_scan_init(&s, bad.data(), int32_t(bad.size()));
        ASSERT_EQ(XmlGetTok(&s, &t), 0);
        EXPECT_EQ(XmlIgnore_Tag(&s, &t), -1) << bad;
        EXPECT_EQ(lastError(), msg) << bad;
    }
    text = "</u>";
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    ASSERT_EQ(XmlGetTok(&s, &t), 0);
    EXPECT_EQ(XmlIgnore_Tag(&s, &t), -1);
    EXPECT_EQ(lastError(), "parse error: unexpected token in line 1 column 4");
}
