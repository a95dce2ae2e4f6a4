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
    EXPECT_EQ(openError("cfg:/empty.xml"), "File not found, len invalid : cfg:/empty.xml");
    EXPECT_EQ(openError("cfg:/"), "File not found : cfg:/");   // a folder
    EXPECT_EQ(openError("nodrive:/x.xml"), "File not found : nodrive:/x.xml");
    EXPECT_EQ(openError(nullptr), "File not found : ");
    if (geteuid() != 0) {   // root reads any file
        writeFile("cfg/locked.xml", "<a/>");
        chmod((dir + "/cfg/locked.xml").c_str(), 0);
        EXPECT_EQ(openError("cfg:/locked.xml"), "File open error");
    }
}
