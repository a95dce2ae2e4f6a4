#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "host/device_fixture.h"
#include "xml/xml.h"

namespace {

using XmlFileTest = DeviceFolderTest;

std::string openError(const char* path) {
    try {
        XmlFile f(path);
    } catch (const char* e) {
        return e;
    }
    return "";
}

}  // namespace

TEST_F(XmlFileTest, ReadsDevicePathIntoTerminatedBuffer) {
    writeFile("cfg/m01.xml", "<m a=\"1\"/>");
    XmlFile f("cfg:/m01.xml");
    EXPECT_EQ(f.getLength(), 10u);
    EXPECT_STREQ(f.getBuffer(), "<m a=\"1\"/>");
    XmlScan s(f.getBuffer(), f.getLength());
    EXPECT_EQ(s.getTok().name, "m");
}

TEST_F(XmlFileTest, FailuresThrowTheirTexts) {
    writeFile("cfg/empty.xml", "");
    EXPECT_EQ(openError("cfg:/missing.xml"), "File not found : cfg:/missing.xml");
    EXPECT_EQ(openError("cfg:/empty.xml"), "File not found, len invalid : cfg:/empty.xml is empty");
    EXPECT_EQ(openError("cfg:/"), "File not found, len invalid : cfg:/ is a folder");
    EXPECT_EQ(openError("nodrive:/x.xml"), "File not found : nodrive:/x.xml");
    EXPECT_EQ(openError(nullptr), "File not found : ");
    if (geteuid() != 0) {   // root reads any file
        writeFile("cfg/locked.xml", "<a/>");
        chmod((dir + "/cfg/locked.xml").c_str(), 0);
        EXPECT_EQ(openError("cfg:/locked.xml"), "File open error");
    }
}

// A file that is there but cannot be taken says why, and every error of a
// scanner over a file names the file.
TEST_F(XmlFileTest, FileProblemsAndScanErrorsNameTheFile) {
    writeFile("cfg/huge.xml", "");
    ASSERT_EQ(truncate((dir + "/cfg/huge.xml").c_str(), 70000000), 0);   // sparse: nothing is written
    EXPECT_EQ(openError("cfg:/huge.xml"), "File not found, len invalid : cfg:/huge.xml is too large (70000000 bytes)");
    EXPECT_EQ(xmlFileProblem("cfg:/huge.xml", 100000000), "");
    EXPECT_EQ(xmlFileProblem("cfg:/huge.xml", 1000), "is too large (70000000 bytes)");
    EXPECT_EQ(xmlFileProblem("cfg:/", 1000), "is a folder");
    EXPECT_EQ(xmlFileProblem("cfg:/none.xml", 1000), "not found");

    writeFile("cfg/bad.xml", "<a>\n<b></a>");
    XmlFile f("cfg:/bad.xml");
    XmlScan s(f);
    std::string e;
    try {
        while (s.getTok().kind != XML_TOK_EOF) {}
    } catch (const char* t) {
        e = t;
    }
    EXPECT_EQ(e, "mismatched tag in line 2 column 6 of cfg:/bad.xml");
    // a text without a name keeps the bare position
    XmlScan bare("<a></b>");
    try {
        while (bare.getTok().kind != XML_TOK_EOF) {}
    } catch (const char* t) {
        e = t;
    }
    EXPECT_EQ(e.find(" of "), std::string::npos) << e;
}

// A link that leads nowhere (a loop, or a missing target) is named as what it
// is, never "not found"; every reader refuses a file above the one limit.
TEST_F(XmlFileTest, LinksThatLeadNowhereAndTheOneSizeLimit) {
    writeFile("cfg/m01.xml", "<m/>");
    ASSERT_EQ(symlink("loop.xml", (dir + "/cfg/loop.xml").c_str()), 0);
    ASSERT_EQ(symlink("gone.xml", (dir + "/cfg/dangling.xml").c_str()), 0);
    ASSERT_EQ(symlink("m01.xml", (dir + "/cfg/good.xml").c_str()), 0);
    EXPECT_EQ(xmlFileProblem("cfg:/loop.xml"), "is a link loop");
    EXPECT_EQ(xmlFileProblem("cfg:/dangling.xml"), "is a link that leads nowhere");
    EXPECT_EQ(xmlFileProblem("cfg:/good.xml"), "");
    EXPECT_EQ(openError("cfg:/loop.xml"), "File not found, len invalid : cfg:/loop.xml is a link loop");
    EXPECT_EQ(openError("cfg:/dangling.xml"), "File not found, len invalid : cfg:/dangling.xml is a link that leads "
                                              "nowhere");
    EXPECT_EQ(XmlFile("cfg:/good.xml").getLength(), 4u);

    // a FIFO is named and never waited on, as is a device
    makeFifo("cfg/pipe.xml");
    EXPECT_EQ(xmlFileProblem("cfg:/pipe.xml"), "is a FIFO");
    std::string e;
    EXPECT_TRUE(returnsBesideFifo("cfg/pipe.xml", [&] { e = openError("cfg:/pipe.xml"); }));
    EXPECT_EQ(e, "File not found, len invalid : cfg:/pipe.xml is a FIFO");
    ASSERT_EQ(symlink("/dev/zero", (dir + "/cfg/zero.xml").c_str()), 0);
    EXPECT_EQ(openError("cfg:/zero.xml"), "File not found, len invalid : cfg:/zero.xml is a device");

    writeFile("cfg/big.xml", "");
    ASSERT_EQ(truncate((dir + "/cfg/big.xml").c_str(), 21003030), 0);   // sparse
    EXPECT_EQ(xmlFileProblem("cfg:/big.xml"), "is too large (21003030 bytes)");
    EXPECT_EQ(openError("cfg:/big.xml"), "File not found, len invalid : cfg:/big.xml is too large (21003030 bytes)");
    ASSERT_EQ(truncate((dir + "/cfg/big.xml").c_str(), kXmlFileMaxBytes), 0);
    EXPECT_EQ(xmlFileProblem("cfg:/big.xml"), "");
}

// Where a NUL byte stands, counted as the XML classes count their positions.
TEST(XmlNulByte, NamesTheFirstNulByLineAndColumn) {
    EXPECT_EQ(xmlNulByte("<a/>", 4), "");
    EXPECT_EQ(xmlNulByte(std::string("\0", 1).data(), 1), "NUL byte in line 1 column 1");
    const std::string text("<a>\r\n  <b x=\"\xc3\xa4\0\"/>\n\0", 21);
    EXPECT_EQ(xmlNulByte(text.data(), text.size()), "NUL byte in line 2 column 10");
    // and as expat counts them
    XmlScan scan(text.data(), text.size());
    std::string e;
    try {
        while (scan.getTok().kind != XML_TOK_EOF) {}
    } catch (const char* t) {
        e = t;
    }
    EXPECT_EQ(e, "not well-formed (invalid token) in line 2 column 10");
}
