// The copy to a USB drive whose file system has neither a rename that
// refuses to replace nor hard links (FAT): this program stands in for both
// calls on the USB drive's folder and refuses them as such a drive does. The
// copy then never replaces what stands at its name, also a file the
// device's own USB writer makes there in the very moment before the move.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/kernel/kernel.h"
#include "log_capture.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/drives/meas_app_disks.h"
#include "logging/drives/meas_app_drives.h"
#include "logging/logging_fixture.h"

namespace {

std::atomic<bool> fatLike{false};
// Made at the destination of a plain rename on the USB drive just before it
// runs: another file that appears there after any look at the name.
std::atomic<bool> writerRacesTheRename{false};
std::atomic<bool> writerMadeItsFile{false};

bool onUsbDrive(const char* path) { return path && std::strstr(path, "/usb_meas/"); }

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int renameat2(int oldDir, const char* from, int newDir, const char* to, unsigned flags) noexcept {
    if (fatLike.load() && onUsbDrive(to)) {
        errno = EINVAL;
        return -1;
    }
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(oldDir, from, newDir, to, flags);
}

extern "C" int link(const char* from, const char* to) noexcept {
    if (fatLike.load() && onUsbDrive(to)) {
        errno = EPERM;
        return -1;
    }
    static auto real = next<int (*)(const char*, const char*)>("link");
    return real(from, to);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    if (writerRacesTheRename.load() && onUsbDrive(to)) {
        std::ofstream(to, std::ios::binary) << "the USB writer's file";
        writerMadeItsFile = true;
    }
    static auto real = next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

namespace {

class CopyWithoutRename : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        cfg_meas_applyTargetPartition(1);
        meas_app_setDriveDebounce(1, 0);
        meas_app_setCopyStartDelay(0);
        makeDrive("meas");
        makeDrive("usb_meas");
        fatLike = true;
    }
    void TearDown() override {
        fatLike = false;
        writerRacesTheRename = false;
        meas_app_setCopyStartDelay(5);
        LoggingTest::TearDown();
    }
    std::string read(const std::string& rel) {
        std::ifstream f(dir + "/" + rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    static std::string nameOf(uint16_t fragment) {
        char n[64];
        LapOutFra_genFilenameAbsLap(n, sizeof n, 0, 1, 2, fragment, 0x45);
        return n;
    }
    bool partsLeft() {
        for (const auto& e : std::filesystem::directory_iterator(dir + "/usb_meas"))
            if (e.path().extension() == ".part") return true;
        return false;
    }
};

}  // namespace

TEST_F(CopyWithoutRename, TheCopyLandsWholeUnderAFreeName) {
    std::string content;
    for (int i = 0; i < 200000; ++i) content += char(i * 5 + i / 253);
    writeFile("meas/" + nameOf(3), content);
    takeLogTexts();
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_EQ(read("usb_meas/" + nameOf(3)), content);
    EXPECT_FALSE(partsLeft());
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/usb_meas/" + nameOf(3)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_copyLastFile() copy success from 'meas:/" + nameOf(3) +
                                           "' to 'usb_meas:/" + nameOf(3) + "'"));
}

TEST_F(CopyWithoutRename, AFileMadeAtTheNameJustBeforeTheMoveStays) {
    writeFile("meas/" + nameOf(3), "the lap");
    writerRacesTheRename = true;
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
    writerRacesTheRename = false;
    if (writerMadeItsFile.load()) {
        // the writer's file came first: it keeps it, and the copy is whole elsewhere
        EXPECT_EQ(read("usb_meas/" + nameOf(3)), "the USB writer's file");
        EXPECT_EQ(read("usb_meas/" + nameOf(4)), "the lap");
    } else {
        EXPECT_EQ(read("usb_meas/" + nameOf(3)), "the lap");
    }
    EXPECT_FALSE(partsLeft());
}

TEST_F(CopyWithoutRename, AnotherRecordingsFileKeepsItsName) {
    writeFile("meas/" + nameOf(3), "the lap");
    writeFile("usb_meas/" + nameOf(3), "another car");
    meas_app_copyFileTask(1, 2, 0x45, 3, 0, const_cast<char*>("usb_meas:"), 0);
    EXPECT_EQ(read("usb_meas/" + nameOf(3)), "another car");
    EXPECT_EQ(read("usb_meas/" + nameOf(4)), "the lap");
    EXPECT_FALSE(partsLeft());
}
