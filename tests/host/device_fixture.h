// A temporary device folder per test, with every host service reset around it.
#pragma once

#include "host/kernel/kernel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
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
    // Makes a FIFO at name (below the folder), replacing what is there.
    void makeFifo(const std::string& name) {
        const std::string p = dir + "/" + name;
        std::filesystem::remove(p);
        ASSERT_EQ(mkfifo(p.c_str(), 0644), 0);
    }
    // True when call returns within a generous deadline while the FIFO at
    // name has no writer. A call still waiting on it is released (its
    // writing end opened and closed until the call is back), so that the
    // thread always ends.
    bool returnsBesideFifo(const std::string& name, const std::function<void()>& call) {
        auto done = std::async(std::launch::async, call);
        const bool inTime = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        const std::string p = dir + "/" + name;
        while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
        done.get();
        return inTime;
    }
    std::string dir;
};
