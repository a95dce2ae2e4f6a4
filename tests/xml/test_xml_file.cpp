#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/kernel.h"
#include "xml/xml.h"

namespace {

class XmlFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xmlfileXXXXXX";
        dir_ = mkdtemp(tmpl);
        mkdir((dir_ + "/cfg").c_str(), 0755);
        host::setDeviceFolder(dir_);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    void write(const char* rel, const std::string& content) {
        FILE* f = fopen((dir_ + "/" + rel).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    std::string dir_;
};

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
    write("cfg/m01.xml", "<m a=\"1\"/>");
    XmlFile f("cfg:/m01.xml");
    EXPECT_EQ(f.getLength(), 10u);
    EXPECT_STREQ(f.getBuffer(), "<m a=\"1\"/>");
    XmlScan s(f.getBuffer(), f.getLength());
    EXPECT_EQ(s.getTok().name, "m");
}

TEST_F(XmlFileTest, FailuresThrowTheirTexts) {
    write("cfg/empty.xml", "");
    EXPECT_EQ(openError("cfg:/missing.xml"), "File not found : cfg:/missing.xml");
    EXPECT_EQ(openError("cfg:/empty.xml"), "File not found, len invalid : cfg:/empty.xml");
    EXPECT_EQ(openError("cfg:/"), "File not found : cfg:/");   // a folder
    EXPECT_EQ(openError("nodrive:/x.xml"), "File not found : nodrive:/x.xml");
    EXPECT_EQ(openError(nullptr), "File not found : ");
    if (geteuid() != 0) {   // root reads any file
        write("cfg/locked.xml", "<a/>");
        chmod((dir_ + "/cfg/locked.xml").c_str(), 0);
        EXPECT_EQ(openError("cfg:/locked.xml"), "File open error");
    }
}
