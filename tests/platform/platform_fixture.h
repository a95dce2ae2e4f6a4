// A temporary device folder per test with the host services reset, and access
// to the log records queued by syslogx.
#pragma once

#include "host/kernel.h"
#include "host/os.h"
#include "platform/syslog_reader.h"
#include "platform/syslogx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Takes every record queued so far (the reader must not run).
inline std::vector<SyslogRecord> takeLogRecords() {
    std::vector<SyslogRecord> out;
    SyslogRecord r;
    while (msgQReceive(syslogx_queue(), &r, sizeof r, NO_WAIT) == static_cast<long>(sizeof r)) out.push_back(r);
    return out;
}

inline std::string recordText(const SyslogRecord& r) { return std::string(r.msg, strnlen(r.msg, sizeof r.msg)); }

inline std::vector<std::string> takeLogTexts() {
    std::vector<std::string> out;
    for (const auto& r : takeLogRecords()) out.push_back(recordText(r));
    return out;
}

inline bool logContains(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& t : texts)
        if (t.find(part) != std::string::npos) return true;
    return false;
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tav9_platform_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        host::setDeviceFolder(dir);
        host::resetForTest();
        syslogx_setThreshold(7);
        // Ends any repeat folding left by an earlier test of this thread.
        static int boundary = 0;
        syslogx(7, "test boundary %d", ++boundary);
        takeLogRecords();
    }
    void TearDown() override {
        takeLogRecords();
        host::resetForTest();
        std::filesystem::remove_all(dir);
    }
    void writeFile(const std::string& name, const std::string& content) {
        std::filesystem::path p = std::filesystem::path(dir) / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    std::string readFile(const std::string& name) {
        std::ifstream in(std::filesystem::path(dir) / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string dir;
};
