#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/xml.h"

namespace {

// "kind:name[=value]" for every token up to the end of the document.
std::vector<std::string> tokens(const char* text) {
    XmlScan s(text);
    std::vector<std::string> out;
    for (;;) {
        const XmlTok_t& t = s.getTok();
        std::string e = std::to_string(t.kind) + ":" + t.name;
        if (!t.value.empty()) e += "=" + t.value;
        out.push_back(e);
        if (t.kind == XML_TOK_EOF) return out;
    }
}

std::string thrown(const char* text) {
    XmlScan s(text);
    try {
        while (!s.isEof()) s.getTok();
    } catch (const char* e) {
        return e;
    }
    return "";
}

}  // namespace

TEST(XmlScan, TokenStreamOfElementsAttributesAndText) {
    std::vector<std::string> expect = {
        "0:cfg", "2:cfg",                                    // <cfg>
        "1:chan", "5:name=rpm", "5:addr=0x10", "3:chan",     // <chan .../>
        "0:note", "2:note", "4:note=hello",                  // <note>hello</note>
        "0:e", "2:e", "4:e",                                 // <e></e> is not empty markup
        "4:cfg=\n \n \n", "6:"};   // character data is kept raw
    EXPECT_EQ(tokens("<?xml version=\"1.0\"?>\n<cfg>\n <chan name=\"rpm\" addr=\"0x10\"/>\n"
                     " <note>hello</note><e></e>\n</cfg>\n"),
              expect);
}

TEST(XmlScan, NestingPositionsAndEndRepeats) {
    XmlScan s("<a>\n  <b x=\"1\">\n    <c/>\n  </b>\n</a>");
    EXPECT_EQ(s.getTok().kind, XML_TOK_START);
    EXPECT_EQ(s.getNesting(), 1);
    EXPECT_EQ(s.line(), 1);
    EXPECT_EQ(s.column(), 1);
    s.getTok();   // end of a's attributes
    EXPECT_EQ(s.getTok().kind, XML_TOK_START_ATTR);
    EXPECT_EQ(s.line(), 2);
    EXPECT_EQ(s.column(), 3);
    EXPECT_EQ(s.getTok().kind, XML_TOK_ATTR);
    EXPECT_EQ(s.line(), 2);   // attributes report their start tag
    EXPECT_EQ(s.getTok().kind, XML_TOK_ATTR_END);
    EXPECT_EQ(s.getNesting(), 2);
    EXPECT_EQ(s.getTok().kind, XML_TOK_START);
    EXPECT_EQ(s.line(), 3);
    EXPECT_EQ(s.column(), 5);
    EXPECT_EQ(s.getTok().kind, XML_TOK_EMPTY_END);
    EXPECT_EQ(s.getNesting(), 2);
    EXPECT_EQ(s.getTok().kind, XML_TOK_END);
    EXPECT_EQ(s.getNesting(), 1);
    EXPECT_EQ(s.getTok().kind, XML_TOK_END);
    EXPECT_EQ(s.getNesting(), 0);
    EXPECT_FALSE(s.isEof());
    EXPECT_EQ(s.getTok().kind, XML_TOK_EOF);
    EXPECT_TRUE(s.isEof());
    EXPECT_EQ(s.getTok().kind, XML_TOK_EOF);   // stays at the end
}

TEST(XmlScan, ScanOverTagSkipsTheWholeElement) {
    XmlScan s("<r><skip a=\"1\"><x><y/></x>text</skip><next/></r>");
    s.getTok();
    s.getTok();
    EXPECT_EQ(s.getTok().name, "skip");
    s.scanOverTag();   // before its attributes were read
    EXPECT_EQ(s.getNesting(), 1);
    EXPECT_EQ(s.getTok().name, "next");
    s.scanOverTag();   // an empty element
    EXPECT_EQ(s.getNesting(), 1);
    EXPECT_EQ(s.getTok().kind, XML_TOK_END);
    EXPECT_EQ(s.getTok().kind, XML_TOK_EOF);
    s.scanOverTag();   // at the end: nothing happens
    EXPECT_TRUE(s.isEof());
}

TEST(XmlScan, BrokenDocumentsThrowWithLineAndColumn) {
    EXPECT_EQ(thrown("<a>\n<b>\n</a>"), "mismatched tag in line 3 column 3");
    EXPECT_EQ(thrown("<a x=\"1\" x=\"2\"/>"), "duplicate attribute in line 1 column 10");
    EXPECT_EQ(thrown("<a>\n  <b attr=1/></a>"), "not well-formed (invalid token) in line 2 column 11");
    EXPECT_EQ(thrown("<a></a><b/>"), "junk after document element in line 1 column 8");
    EXPECT_EQ(thrown("<a>"), "no element found in line 1 column 4");
    EXPECT_EQ(thrown(""), "no element found in line 1 column 1");
    EXPECT_EQ(thrown(nullptr), "no element found in line 1 column 1");
    EXPECT_EQ(thrown("<a>&undef;</a>"), "undefined entity in line 1 column 4");
}

TEST(XmlScan, TokensBeforeTheErrorAreDelivered) {
    XmlScan s("<a><b/>\n<c></a>");
    EXPECT_EQ(s.getTok().name, "a");
    s.getTok();
    EXPECT_EQ(s.getTok().name, "b");
    s.getTok();
    EXPECT_EQ(s.getTok().name, "c");
    s.getTok();
    EXPECT_THROW(s.getTok(), const char*);
    EXPECT_TRUE(s.isEof());
    EXPECT_EQ(s.curTok().kind, XML_TOK_ERROR);
    // a loader that calls again gets the same error, not a crash
    try {
        s.getTok();
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "mismatched tag in line 2 column 6");
    }
    EXPECT_THROW(s.scanOverTag(), const char*);
}
