// Files the device writes under a temporary name and renames: what stands at
// the temporary name is never opened, and the file is on the disk before it
// takes the place of the old one.
#include "host/device_fixture.h"
#include "host/kernel/kernel_internal.h"
#include "host/screen/screen_png.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <sstream>
#include <vector>

namespace {

using AtomicWriteTest = DeviceFolderTest;

bool isPlainFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file's bytes; "" for anything else (a FIFO would never answer)
std::string readText(const std::string& path) {
    if (!isPlainFile(path)) return "";
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// True when call returns within a generous limit while a FIFO without a
// reader stands at fifo. A call still waiting there is released: a reader
// is opened and held (so that no write into the pipe ends in SIGPIPE) until
// the call is back, so the thread always ends.
bool returnsBesideFifoWithoutReader(const std::string& fifo, const std::function<void()>& call) {
    auto done = std::async(std::launch::async, call);
    const bool inTime = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    std::vector<int> readers;
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) readers.push_back(fd);
        char buf[4096];
        for (int r : readers)
            while (::read(r, buf, sizeof buf) > 0) {
            }
    }
    done.get();
    for (int r : readers) ::close(r);
    return inTime;
}

TEST_F(AtomicWriteTest, ReplacesTheFileWhole) {
    writeFile("page.bin", "the old page");
    const std::string text = "the new page, longer than the old one";
    ASSERT_TRUE(host::detail::writeFileAtomic(dir + "/page.bin", text.data(), text.size()));
    EXPECT_EQ(readText(dir + "/page.bin"), text);
    EXPECT_FALSE(std::filesystem::exists(dir + "/page.bin.tmp"));
}

TEST_F(AtomicWriteTest, WhatStandsAtTheTemporaryNameIsNeverOpened) {
    const std::string path = dir + "/page.bin", tmp = path + ".tmp";
    const std::string text = "page";

    // a FIFO without a reader: removed, never waited on
    makeFifo("page.bin.tmp");
    bool ok = false;
    EXPECT_TRUE(returnsBesideFifoWithoutReader(
        tmp, [&] { ok = host::detail::writeFileAtomic(path, text.data(), text.size()); }));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(isPlainFile(path));
    EXPECT_EQ(readText(path), text);

    // a link to another file: the link goes, the file it leads to stays as it was
    const std::string outside = dir + "/outside.txt";
    writeFile("outside.txt", "not the device's");
    ASSERT_EQ(::symlink(outside.c_str(), tmp.c_str()), 0);
    ASSERT_TRUE(host::detail::writeFileAtomic(path, "next", 4));
    EXPECT_EQ(readText(outside), "not the device's");
    EXPECT_TRUE(isPlainFile(path));
    EXPECT_EQ(readText(path), "next");

    // a folder is nobody's file to remove: the write fails with its cause and
    // the file written before stays
    std::filesystem::create_directory(tmp);
    errno = 0;
    EXPECT_FALSE(host::detail::writeFileAtomic(path, "lost", 4));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(readText(path), "next");
    EXPECT_TRUE(std::filesystem::is_directory(tmp));
}

// The system calls of ReplacesTheFileWhole, traced by strace in a second run
// of this program: the temporary file is made exclusively and synced before
// the rename, and the folder is synced after it.
TEST_F(AtomicWriteTest, SyncsTheFileBeforeTheRenameAndTheFolderAfter) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace that can trace here";
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string trace = dir + "/trace.txt";
    const std::string cmd = "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -s 4096 -o " + trace +
                            " -e trace=open,openat,fsync,fdatasync,rename,renameat,renameat2 " + self +
                            " --gtest_filter=AtomicWriteTest.ReplacesTheFileWhole >/dev/null 2>&1";
    (void)std::system(cmd.c_str());
    std::istringstream lines(readText(trace));
    const std::regex openTmp(R"re(open(?:at)?\(.*/page\.bin\.tmp", ([^)]*)\) = (\d+))re");
    const std::regex renamed(R"re(rename(?:at2?)?\(.*/page\.bin\.tmp", .*/page\.bin"[^)]*\) = 0)re");
    const std::regex openDir(R"re(open(?:at)?\(.*"(/tmp/tav9_host_[^"/]+)", [^)]*O_DIRECTORY[^)]*\) = (\d+))re");
    std::string fileFd, dirFd, flags;
    enum { Opening, Syncing, Renaming, OpeningFolder, SyncingFolder, Done } step = Opening;
    std::string line;
    std::smatch m;
    while (step != Done && std::getline(lines, line)) {
        switch (step) {
        case Opening:
            if (std::regex_search(line, m, openTmp)) {
                flags = m[1];
                fileFd = m[2];
                step = Syncing;
            }
            break;
        case Syncing:
            ASSERT_FALSE(std::regex_search(line, renamed)) << "renamed before the file was synced";
            if (line.find("fsync(" + fileFd + ")") != std::string::npos ||
                line.find("fdatasync(" + fileFd + ")") != std::string::npos)
                step = Renaming;
            break;
        case Renaming:
            if (std::regex_search(line, renamed)) step = OpeningFolder;
            break;
        case OpeningFolder:
            if (std::regex_search(line, m, openDir)) {
                dirFd = m[2];
                step = SyncingFolder;
            }
            break;
        case SyncingFolder:
            if (std::regex_search(line, std::regex("fsync\\(" + dirFd + "\\) += 0"))) step = Done;
            break;
        case Done: break;
        }
    }
    EXPECT_EQ(step, Done) << "stopped at step " << step << " of the trace:\n" << readText(trace);
    for (const char* flag : {"O_CREAT", "O_EXCL", "O_NOFOLLOW"})
        EXPECT_NE(flags.find(flag), std::string::npos) << flags;
}

TEST_F(AtomicWriteTest, DriveFormatAndScreenFilesAreMadeAnew) {
    // drive_format.cfg beside a FIFO at its temporary name
    makeFifo("drive_format.cfg.tmp");
    bool ok = false;
    EXPECT_TRUE(returnsBesideFifoWithoutReader(dir + "/drive_format.cfg.tmp",
                                               [&] { ok = host::setDriveDirectorySize("meas:", 1000); }));
    EXPECT_TRUE(ok);
    EXPECT_EQ(host::driveDirectorySize("meas:"), 1000u);
    EXPECT_TRUE(isPlainFile(dir + "/drive_format.cfg"));

    // screen.png beside a FIFO, then beside a link to another file
    const std::vector<uint32_t> pixels(16 * 8, 0x00336699);
    const std::string png = dir + "/screen.png";
    makeFifo("screen.png.tmp");
    EXPECT_TRUE(returnsBesideFifoWithoutReader(
        png + ".tmp", [&] { ok = host::detail::writeScreenPng(png, pixels.data(), 16, 8); }));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(isPlainFile(png));
    EXPECT_EQ(readText(png).substr(1, 3), "PNG");
    writeFile("outside.txt", "not the device's");
    ASSERT_EQ(::symlink((dir + "/outside.txt").c_str(), (png + ".tmp").c_str()), 0);
    EXPECT_TRUE(host::detail::writeScreenPng(png, pixels.data(), 16, 8));
    EXPECT_EQ(readText(dir + "/outside.txt"), "not the device's");
    EXPECT_TRUE(isPlainFile(png));
}

}  // namespace
