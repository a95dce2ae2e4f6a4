// A temporary device folder per test, with every host service reset around it.
#pragma once

#include "host/kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class DeviceFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tav9_host_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        host::setDeviceFolder(dir);
        host::resetForTest();
    }
    void TearDown() override {
        host::resetForTest();
        std::filesystem::remove_all(dir);
    }
    void writeFile(const std::string& name, const std::string& content) {
        std::filesystem::path p = std::filesystem::path(dir) / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    std::string dir;
};
