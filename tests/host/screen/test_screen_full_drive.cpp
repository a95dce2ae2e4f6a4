// screen.png on a drive that fills: the failure names the file and its
// cause, once a spell, and libpng prints nothing of its own.
#include "host/device_fixture.h"
#include "host/screen/screen_png.h"
#include "host/tmpfs_mount.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ScreenFullDriveTest = DeviceFolderTest;

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::vector<uint32_t> frameOf(uint32_t seed, int w, int h) {
    std::vector<uint32_t> fb(static_cast<size_t>(w) * h);
    for (size_t p = 0; p < fb.size(); ++p) fb[p] = uint32_t((p + seed) * 2654435761u) & 0xFFFFFF;
    return fb;
}

TEST_F(ScreenFullDriveTest, AFullDriveIsNamedOnceASpellWithItsCause) {
    TmpfsMount drive(dir, "64k");
    if (!drive.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    constexpr int kW = 64, kH = 48;
    const std::string png = dir + "/screen.png";
    const std::string noRoom = std::strerror(ENOSPC);
    drive.fill("filler");

    // the writer alone: false, with the file and the cause, nothing printed
    testing::internal::CaptureStderr();
    std::string problem;
    const std::vector<uint32_t> pixels = frameOf(0, kW, kH);
    EXPECT_FALSE(host::detail::writeScreenPng(png, pixels.data(), kW, kH, &problem));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(problem, png + " cannot be written (" + noRoom + ")");
    EXPECT_FALSE(std::filesystem::exists(png + ".tmp"));

    // the screen: three frames refused make one line, a frame written once
    // there is room another, and the next spell one more
    testing::internal::CaptureStderr();
    uint32_t seed = 1;
    auto show = [&] {
        const std::vector<uint32_t> fb = frameOf(seed++, kW, kH);
        ASSERT_EQ(host::screenFlush(fb.data(), kW, kH, kW), 0);
        host::screenStop();   // written (or refused) before it returns
    };
    for (int i = 0; i < 3; ++i) show();
    EXPECT_FALSE(std::filesystem::exists(png));
    drive.empty("filler");
    show();
    EXPECT_TRUE(std::filesystem::exists(png));
    drive.fill("filler");
    show();
    show();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(err, "screen: " + png + " cannot be written (" + noRoom + ")"), 2u) << err;
    EXPECT_EQ(countOf(err, "screen: " + png + " is written again"), 1u) << err;
    EXPECT_EQ(countOf(err, "libpng"), 0u) << err;
    EXPECT_EQ(countOf(err, "\n"), 3u) << err;
}

}  // namespace
