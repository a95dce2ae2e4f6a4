// Screen output to screen.png and the base tick.
#include "host/device_fixture.h"
#include "host/os/os.h"

#include <png.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using ScreenTest = DeviceFolderTest;

// Reads a PNG back as 0x00RRGGBB words with libpng's simplified API.
bool readPng(const std::string& path, std::vector<uint32_t>* pixels, int* w, int* h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) return false;
    *w = static_cast<int>(img.width);
    *h = static_cast<int>(img.height);
    pixels->resize(static_cast<size_t>(*w) * *h);
    for (size_t i = 0; i < pixels->size(); ++i)
        (*pixels)[i] = static_cast<uint32_t>(rgb[3 * i]) << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
    return true;
}

TEST_F(ScreenTest, FlushWritesVisiblePartAsPng) {
    const int stride = 1024, width = 640, height = 480;
    std::vector<uint32_t> fb(static_cast<size_t>(stride) * height, 0x00FFFFFF);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) fb[static_cast<size_t>(y) * stride + x] = static_cast<uint32_t>(x << 12 | y);
    ASSERT_EQ(host::rtpSyscall(1, reinterpret_cast<intptr_t>(fb.data()), 0, 0, 0, 0, 0, 0, host::SC_SCREEN_FLUSH), 0);
    EXPECT_EQ(host::rtpSyscall(1, 0, 0, 0, 0, 0, 0, 0, host::SC_SCREEN_WAIT), 0);
    EXPECT_EQ(host::screenFrameNumber(), 1u);
    ASSERT_TRUE(host::waitScreenFrame(1, -1));

    std::vector<uint32_t> png;
    int w = 0, h = 0;
    ASSERT_TRUE(readPng(dir + "/screen.png", &png, &w, &h));
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            wrong += png[static_cast<size_t>(y) * width + x] != (fb[static_cast<size_t>(y) * stride + x] & 0xFFFFFF);
    EXPECT_EQ(wrong, 0);

    // a changed frame replaces the picture
    fb[0] = 0x00123456;
    ASSERT_EQ(host::screenFlush(fb.data(), width, height, stride), 0);
    ASSERT_TRUE(host::waitScreenFrame(2, -1));
    ASSERT_TRUE(readPng(dir + "/screen.png", &png, &w, &h));
    EXPECT_EQ(png[0], 0x123456u);
    host::screenStop();
    EXPECT_FALSE(std::filesystem::exists(dir + "/screen.png.tmp"));
}

TEST_F(ScreenTest, BadFlushArgumentsAreRefused) {
    uint32_t px[4] = {};
    EXPECT_EQ(host::screenFlush(nullptr, 640, 480, 1024), -1);
    EXPECT_EQ(host::screenFlush(px, 2, 2, 1), -1);   // stride below the width
    EXPECT_EQ(host::screenFlush(px, 0, 2, 2), -1);
    EXPECT_EQ(host::screenFlush(px, 100000, 1, 100000), -1);
    EXPECT_EQ(host::screenFrameNumber(), 0u);
    EXPECT_FALSE(host::waitScreenFrame(1, 0));
}

TEST_F(ScreenTest, StopWritesPendingFrame) {
    std::vector<uint32_t> fb(4 * 3, 0x00AA5500);
    for (int i = 1; i <= 5; ++i) {
        fb[0] = static_cast<uint32_t>(i);
        host::screenFlush(fb.data(), 4, 3, 4);
    }
    host::screenStop();
    EXPECT_EQ(host::screenWrittenFrame(), 5u);
    std::vector<uint32_t> png;
    int w = 0, h = 0;
    ASSERT_TRUE(readPng(dir + "/screen.png", &png, &w, &h));
    EXPECT_EQ(png[0], 5u);
    EXPECT_EQ(png[11], 0xAA5500u);
}

using BaseTickTest = DeviceFolderTest;

TEST_F(BaseTickTest, ManualTicksGiveTheSemaphore) {
    host::startBaseTick(true);
    SEM_ID s = semOpen("/BASETICK0", SEM_TYPE_COUNTING, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(semTake(s, NO_WAIT), ERROR);
    host::baseTick();
    host::baseTick();
    host::baseTick();
    EXPECT_EQ(host::baseTickCount(), 3u);
    EXPECT_EQ(semCount(s), 3);   // a late taker still sees each tick
    for (int i = 0; i < 2; ++i) EXPECT_EQ(semTake(s, NO_WAIT), OK);
    host::stopBaseTick();   // drops the tick not taken
    EXPECT_EQ(semTake(s, NO_WAIT), ERROR);
    EXPECT_EQ(host::baseTickCount(), 3u);
    semClose(s);
}

namespace {
std::vector<uint32_t>* gTaskStamps = nullptr;
std::atomic<int> gTaskTicks{0};
void recordTaskTick(uint32_t stamp) {
    if (gTaskStamps->size() < 300) gTaskStamps->push_back(stamp);
    ++gTaskTicks;
}
}  // namespace

// A task that runs the tick itself sees every tick stamped with its deadline:
// exactly 1 ms apart on whole milliseconds even when the task wakes late (here
// it stalls 5 ms), and a delete ends the loop.
TEST_F(BaseTickTest, TaskDrivenTickStampsLieOnAnExactGrid) {
    std::vector<uint32_t> stamps;
    gTaskStamps = &stamps;
    gTaskTicks = 0;
    TASK_ID t = taskSpawn("r_tickOwner", 21, 0, 65536, [] {
        host::runBaseTick([](uint32_t stamp) {
            recordTaskTick(stamp);
            if (gTaskTicks == 100) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }, false);
    });
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 20000 && gTaskTicks < 300; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(taskDelete(t), OK);
    ASSERT_EQ(stamps.size(), 300u);
    for (size_t i = 1; i < stamps.size(); ++i) ASSERT_EQ(uint32_t(stamps[i] - stamps[i - 1]), 10u) << i;
    EXPECT_EQ(stamps[0] % 10, 0u) << "not on a whole millisecond";   // so a tick falls on each gap
    EXPECT_EQ(host::baseTickStamp(), stamps.back() + 10u * uint32_t(gTaskTicks - 300));
}

}  // namespace
