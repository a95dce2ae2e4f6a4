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
    EXPECT_EQ(openError("cfg:/"), "File not found : cfg:/");   // a folder
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
